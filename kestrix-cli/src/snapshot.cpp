#include "snapshot.h"

#include "kestrix/io.h"
#include "kestrix/json/record.h"

namespace kestrix::cli {

namespace kj = kestrix::json;
using kj::field;
using kj::Need;

bool read(kj::Reader& r, CpuUsage& v) {
  static constexpr kj::RecordType<CpuUsage, 2> type{
      "CpuUsage",
      {{field<&CpuUsage::all>("all", Need::Required),
        field<&CpuUsage::mysql>("mysql", Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, IoUsage& v) {
  static constexpr kj::RecordType<IoUsage, 2> type{
      "IoUsage",
      {{field<&IoUsage::all>("all", Need::Required),
        field<&IoUsage::mysql>("mysql", Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

namespace {
// Usage and limits share their fields; only the record name differs.
template <class Figures>
constexpr kj::RecordType<Figures, 6> figures_type(std::string_view name) {
  return {name,
          {{field<&Figures::cpu>("cpu", Need::Required), field<&Figures::io>("io", Need::Required),
            field<&Figures::iops>("iops", Need::Required),
            field<&Figures::ep>("ep", Need::Required), field<&Figures::mem>("mem", Need::Required),
            field<&Figures::pno>("pno", Need::Required)}}};
}
}  // namespace

bool read(kj::Reader& r, TopUsage& v) {
  static constexpr auto type = figures_type<TopUsage>("TopUsage");
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, TopLimits& v) {
  static constexpr auto type = figures_type<TopLimits>("TopLimits");
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, Restriction& v) {
  static constexpr kj::RecordType<Restriction, 2> type{
      "Restriction",
      {{field<&Restriction::time>("time", Need::Required),
        field<&Restriction::reason>("reason", Need::Required)}}};
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, TopUser& v) {
  static constexpr kj::RecordType<TopUser, 8> type{
      "TopUser",
      {{field<&TopUser::id>("id", Need::Required),
        field<&TopUser::username>("username", Need::Defaulted),
        field<&TopUser::domain>("domain", Need::Defaulted),
        field<&TopUser::reseller>("reseller", Need::Defaulted),
        field<&TopUser::usage>("usage", Need::Required),
        field<&TopUser::limit>("limit", Need::Required),
        field<&TopUser::restricted>("restricted", Need::Defaulted),
        field<&TopUser::restriction>("restriction", Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, SavedTopData& v) {
  static constexpr kj::RecordType<SavedTopData, 3> type{
      "SavedTopData",
      {{field<&SavedTopData::timestamp>("timestamp", Need::Defaulted),
        field<&SavedTopData::users>("users", Need::Defaulted),
        field<&SavedTopData::resellers>("resellers", Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

std::expected<SavedTopData, std::string> decode_snapshot(std::string_view text) {
  return kj::decode<SavedTopData>(text);
}

Result<SavedTopData> read_saved_top_data(double now, const std::string& path) {
  auto text = read_text_file(path, kDataFileLimit);
  if (!text) {
    SavedTopData empty;
    empty.timestamp = now;
    return empty;
  }
  auto data = decode_snapshot(*text);
  // The file may be sound: only memory failed, and that is what to say.
  if (!data && data.error() == kj::kOutOfMemory) return std::unexpected(Error(data.error()));
  if (!data) return std::unexpected(Error("Failed to parse " + path, Error(data.error())));
  return std::move(*data);
}

}  // namespace kestrix::cli
