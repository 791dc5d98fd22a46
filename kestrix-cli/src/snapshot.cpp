#include "snapshot.h"

#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "kestrix/log.h"
#include "snapshot_rows.h"

namespace kestrix::cli {

namespace kj = kestrix::json;
using kj::field;
using kj::Need;

constexpr std::string_view TARGET = "kestrix_cli::snapshot";

namespace {

// One table per record, read and written alike: a field added here is
// read from the snapshot and printed in the report.

// CPU and I/O share their fields too: the whole figure and the database's part.
template <class Pair>
constexpr kj::RecordType<Pair, 2> pair_type(std::string_view name) {
  return {name,
          {{field<&Pair::all>("all", Need::Required),
            field<&Pair::mysql>("mysql", Need::Defaulted)}}};
}

constexpr auto CPU_USAGE = pair_type<CpuUsage>("CpuUsage");
constexpr auto IO_USAGE = pair_type<IoUsage>("IoUsage");

// Usage and limits share their fields; only the record name differs.
template <class Figures>
constexpr kj::RecordType<Figures, 6> figures_type(std::string_view name) {
  return {name,
          {{field<&Figures::cpu>("cpu", Need::Required), field<&Figures::io>("io", Need::Required),
            field<&Figures::iops>("iops", Need::Required),
            field<&Figures::ep>("ep", Need::Required), field<&Figures::mem>("mem", Need::Required),
            field<&Figures::pno>("pno", Need::Required)}}};
}

constexpr auto TOP_USAGE = figures_type<TopUsage>("TopUsage");
constexpr auto TOP_LIMITS = figures_type<TopLimits>("TopLimits");

constexpr kj::RecordType<Restriction, 2> RESTRICTION{
    "Restriction",
    {{field<&Restriction::time>("time", Need::Required),
      field<&Restriction::reason>("reason", Need::Required)}}};

constexpr kj::RecordType<TopUser, 8> TOP_USER{
    "TopUser",
    {{field<&TopUser::id>("id", Need::Required),
      field<&TopUser::username>("username", Need::Defaulted),
      field<&TopUser::domain>("domain", Need::Defaulted),
      field<&TopUser::reseller>("reseller", Need::Defaulted),
      field<&TopUser::usage>("usage", Need::Required),
      field<&TopUser::limit>("limit", Need::Required),
      field<&TopUser::restricted>("restricted", Need::Defaulted),
      field<&TopUser::restriction>("restriction", Need::Defaulted)}}};

constexpr kj::RecordType<SavedTopData, 3> SAVED_TOP_DATA{
    "SavedTopData",
    {{field<&SavedTopData::timestamp>("timestamp", Need::Defaulted),
      kj::Field<SavedTopData>{"users", Need::Defaulted, read_entries},
      field<&SavedTopData::resellers>("resellers", Need::Defaulted)}}};

static_assert(kj::writes_all(CPU_USAGE) && kj::writes_all(IO_USAGE) &&
              kj::writes_all(TOP_USAGE) && kj::writes_all(TOP_LIMITS) &&
              kj::writes_all(RESTRICTION) && kj::writes_all(TOP_USER));

}  // namespace

bool read(kj::Reader& r, CpuUsage& v) { return kj::read_record(r, CPU_USAGE, v); }
bool read(kj::Reader& r, IoUsage& v) { return kj::read_record(r, IO_USAGE, v); }
bool read(kj::Reader& r, TopUsage& v) { return kj::read_record(r, TOP_USAGE, v); }
bool read(kj::Reader& r, TopLimits& v) { return kj::read_record(r, TOP_LIMITS, v); }
bool read(kj::Reader& r, Restriction& v) { return kj::read_record(r, RESTRICTION, v); }
bool read(kj::Reader& r, TopUser& v) { return kj::read_record(r, TOP_USER, v); }

void write(kj::Writer& w, const CpuUsage& v) { kj::write_record(w, CPU_USAGE, v); }
void write(kj::Writer& w, const IoUsage& v) { kj::write_record(w, IO_USAGE, v); }
void write(kj::Writer& w, const TopUsage& v) { kj::write_record(w, TOP_USAGE, v); }
void write(kj::Writer& w, const TopLimits& v) { kj::write_record(w, TOP_LIMITS, v); }
void write(kj::Writer& w, const Restriction& v) { kj::write_record(w, RESTRICTION, v); }
void write(kj::Writer& w, const TopUser& v) { kj::write_record(w, TOP_USER, v); }

std::expected<SavedTopData, std::string> decode_snapshot(std::string_view text, UsageKey key,
                                                         RowDecoding decoding,
                                                         std::size_t halves_from) {
  return kj::decode<SavedTopData>(text, [=](kj::Reader& r, SavedTopData& data) {
    data.key = key;
    data.decoding = decoding;
    data.halves_from = halves_from;
    return kj::read_record(r, SAVED_TOP_DATA, data);
  });
}

std::expected<TopUser, std::string> decode_row(std::string_view text) {
  return kj::decode<TopUser>(text);
}

Error decode_failure(std::string message, const std::string& path) {
  // The file may be sound: only memory failed, and that is what to say.
  if (message == kj::OUT_OF_MEMORY) return Error(std::move(message));
  return Error("Failed to parse " + path, Error(std::move(message)));
}

InPlaceReading read_in_place(UsageKey key, const std::string& path) {
  // At scale, copying the file costs as much as decoding it: its own pages
  // are decoded where they can be mapped. Anything short of a clean decode
  // of a file nobody wrote meanwhile is left to the copy, which then gives
  // the outcome and its messages.
  InPlaceReading reading;
  auto mapped = MappedFile::map(path, DATA_FILE_LIMIT);
  if (!mapped) return reading;
  // Text that is not UTF-8 is decoded only to be dropped. The check comes
  // after the decode, which has found the bulk of the text to be ASCII.
  const std::string_view bytes = mapped->bytes();
  auto data = decode_snapshot(bytes, key);
  reading.written = mapped->changed();
  if (data && !reading.written && is_utf8(bytes.substr(0, data->ascii_begin)) &&
      is_utf8(bytes.substr(data->ascii_end))) {
    data->text = std::move(*mapped);
    reading.data = std::move(*data);
  }
  return reading;
}

Result<SavedTopData> read_saved_top_data(double now, UsageKey key, const std::string& path,
                                         Reading reading) {
  return read_saved_top_data(reading == Reading::InPlace ? read_in_place(key, path)
                                                         : InPlaceReading{},
                             now, key, path);
}

Result<SavedTopData> read_saved_top_data(InPlaceReading in_place, double now, UsageKey key,
                                         const std::string& path) {
  if (in_place.data) return std::move(*in_place.data);
  if (in_place.written)
    log::event(log::Level::Info, TARGET,
               [&] { return path + " was written while it was decoded; reading a copy"; });
  auto loaded = load_text_file(path, DATA_FILE_LIMIT);
  if (!loaded) {
    log::event(log::Level::Warn, TARGET, [&] {
      return "cannot read " + path + ": " + loaded.error().message + "; the snapshot is empty";
    });
    SavedTopData empty;
    empty.timestamp = now;
    empty.key = key;
    return empty;
  }
  auto text = std::make_unique<const std::string>(std::move(*loaded));
  auto data = decode_snapshot(*text, key);
  if (!data) return std::unexpected(decode_failure(std::move(data.error()), path));
  data->text = std::move(text);
  return std::move(*data);
}

bool text_changed(const SavedTopData& data) {
  const auto* mapped = std::get_if<MappedFile>(&data.text);
  return mapped != nullptr && mapped->changed();
}

}  // namespace kestrix::cli
