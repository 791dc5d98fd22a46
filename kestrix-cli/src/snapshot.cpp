#include "snapshot.h"

#include <algorithm>
#include <cstring>

#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "kestrix/json/skim.h"
#include "kestrix/log.h"

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

double usage_figure(const TopUsage& usage, UsageKey key) {
  switch (key) {
    case UsageKey::Io: return usage.io.all;
    case UsageKey::Ep: return usage.ep;
    case UsageKey::Iops: return usage.iops;
    case UsageKey::Mem: return usage.mem;
    case UsageKey::Pno: return usage.pno;
    case UsageKey::None: return 0.0;
    case UsageKey::Cpu: break;
  }
  return usage.cpu.all;
}

// A name as bytes of its row's text. Names hold no escapes in practice,
// and then the decoded name stands in the text as it is; memmem takes time
// linear in the row whatever the bytes.
std::string_view name_in(std::string&& name, std::string_view text,
                         std::deque<std::string>& spelled) {
  if (name.empty()) return {};
  if (const void* at = ::memmem(text.data(), text.size(), name.data(), name.size()))
    return {static_cast<const char*>(at), name.size()};
  return spelled.emplace_back(std::move(name));
}

// The daemon's own layout of a row, checked and taken in one pass: the
// tables' members in their order, "mysql" figures that are scalars,
// strings without escapes. Any other row is left to the full decoder.
bool skim_pair(kj::Skim& s, double* figure) {
  return s.open() && s.key("all") && s.f64(figure) && (!s.key("mysql") || s.scalar()) &&
         s.close();
}

bool skim_figures(kj::Skim& s, UsageKey key, double& figure) {
  auto want = [&](UsageKey k) { return key == k ? &figure : nullptr; };
  return s.open() && s.key("cpu") && skim_pair(s, want(UsageKey::Cpu)) && s.key("io") &&
         skim_pair(s, want(UsageKey::Io)) && s.key("iops") && s.f64(want(UsageKey::Iops)) &&
         s.key("ep") && s.f64(want(UsageKey::Ep)) && s.key("mem") &&
         s.f64(want(UsageKey::Mem)) && s.key("pno") && s.f64(want(UsageKey::Pno)) && s.close();
}

bool skim_restriction(kj::Skim& s) {
  return s.null() ||
         (s.open() && s.key("time") && s.i64() && s.key("reason") && s.string() && s.close());
}

bool skim_entry(kj::Skim& s, RowEntry& entry, UsageKey key) {
  double limit = 0.0;
  return s.open() && s.key("id") && s.u32(entry.id) &&
         (!s.key("username") || s.string(entry.username)) &&
         (!s.key("domain") || s.string()) && (!s.key("reseller") || s.string()) &&
         s.key("usage") && skim_figures(s, key, entry.key) && s.key("limit") &&
         skim_figures(s, UsageKey::None, limit) && (!s.key("restricted") || s.boolean()) &&
         (!s.key("restriction") || skim_restriction(s)) && s.close();
}

// Each row is decoded whole, so that its faults are found where they lie,
// and then dropped but for what the entry keeps.
bool read_entry(kj::Reader& r, RowEntry& entry, SavedTopData& data) {
  const std::size_t start = r.offset();
  if (data.decoding == RowDecoding::Fast) {
    kj::Skim s(r.text(), start);
    entry = RowEntry{};
    if (skim_entry(s, entry, data.key)) {
      entry.text = r.text().substr(start, s.offset() - start);
      r.step_over(s.offset());
      return true;
    }
  }
  TopUser row;
  if (!read(r, row)) return false;
  std::string_view text = r.text().substr(start, r.offset() - start);
  text.remove_prefix(std::min(text.find_first_not_of(" \t\n\r"), text.size()));
  entry = RowEntry{text, row.id, name_in(std::move(row.username), text, data.spelled_names),
                   usage_figure(row.usage, data.key)};
  return true;
}

bool read_entries(kj::Reader& r, SavedTopData& data) {
  return kj::read_vector(r, data.users, [&data](kj::Reader& rr, RowEntry& entry) {
    return read_entry(rr, entry, data);
  });
}

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
                                                         RowDecoding decoding) {
  return kj::decode<SavedTopData>(text, [key, decoding](kj::Reader& r, SavedTopData& data) {
    data.key = key;
    data.decoding = decoding;
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

Result<SavedTopData> read_saved_top_data(double now, UsageKey key, const std::string& path,
                                         Reading reading) {
  // At scale, copying the file costs as much as decoding it: its own pages
  // are decoded where they can be mapped. Anything short of a clean decode
  // of a file nobody wrote meanwhile is left to the copy, which then gives
  // the outcome and its messages.
  if (reading == Reading::InPlace) {
    if (auto mapped = MappedFile::map(path, DATA_FILE_LIMIT); mapped && is_utf8(mapped->bytes())) {
      auto data = decode_snapshot(mapped->bytes(), key);
      const bool changed = mapped->changed();
      if (data && !changed) {
        data->text = std::move(*mapped);
        return std::move(*data);
      }
      if (changed)
        log::event(log::Level::Info, TARGET,
                   [&] { return path + " was written while it was decoded; reading a copy"; });
    }
  }
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
