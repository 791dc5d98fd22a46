// The usage snapshot the statistics daemon saves, and its loader.
#pragma once

#include <cstdint>
#include <expected>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "kestrix/error.h"
#include "kestrix/mapped_file.h"
#include "kestrix/json/reader.h"
#include "kestrix/json/writer.h"

namespace kestrix::cli {

inline constexpr const char* SNAPSHOT_PATH = "/var/kro/nimbrel_top.json";

struct CpuUsage {
  double all = 0.0;
  nlohmann::json mysql = 0.0;
};

struct IoUsage {
  double all = 0.0;
  nlohmann::json mysql = 0.0;
};

// TopUsage (current usage) and TopLimits (limits in force) share one shape.
struct TopUsage {
  CpuUsage cpu;
  IoUsage io;
  double iops = 0.0;
  double ep = 0.0;
  double mem = 0.0;
  double pno = 0.0;
};

struct TopLimits {
  CpuUsage cpu;
  IoUsage io;
  double iops = 0.0;
  double ep = 0.0;
  double mem = 0.0;
  double pno = 0.0;
};

struct Restriction {
  std::int64_t time = 0;
  std::string reason;
};

struct TopUser {
  std::uint32_t id = 0;
  std::string username;
  std::string domain;
  std::string reseller;
  TopUsage usage;
  TopLimits limit;
  bool restricted = false;
  std::optional<Restriction> restriction;
};

// The usage figure the report is ordered by, which every entry keeps;
// None for an order by the database's figures, which the snapshot lacks.
enum class UsageKey { Cpu, Io, Ep, Iops, Mem, Pno, None };

// A snapshot row as the run holds every one of them: what ordering and
// choosing the report's rows read, and the row's text. Only the rows the
// report prints are decoded whole, from that text, a second time; at scale
// the rows are the snapshot's bulk, and most are never printed.
struct RowEntry {
  std::string_view text;  // the row's JSON, within the snapshot's text
  std::uint32_t id = 0;
  // Where the name's bytes stand in the row's text, or, for a name spelled
  // with escapes there, in SavedTopData::spelled_names.
  std::string_view username;
  double key = 0.0;  // the row's figure of the snapshot's UsageKey
};

// How rows are taken: by the fast path for the daemon's own layout, with
// the full decoder for any other row (Fast), or all by the full decoder.
// Both give the same entries and the same messages.
enum class RowDecoding { Fast, Full };

// A row array this long (about 13,000 rows) is decoded in two halves at
// once; below it, a thread would cost more than it saves.
inline constexpr std::size_t HALVES_FROM = std::size_t{4} << 20;

struct SavedTopData {
  double timestamp = 0.0;
  std::vector<RowEntry> users;
  std::vector<nlohmann::json> resellers;
  UsageKey key = UsageKey::Cpu;  // the figure the entries keep
  RowDecoding decoding = RowDecoding::Fast;
  // A second half of the rows is decoded meanwhile on a thread of its own
  // from this many bytes of text after the first row.
  std::size_t halves_from = HALVES_FROM;
  std::list<std::string> spelled_names;
  // Where the row array stands in the text when the skim took every row
  // (then each of its bytes is ASCII, skim.h); empty when any row needed
  // the full decoder. A UTF-8 check of the text may pass over it.
  std::size_t ascii_begin = 0;
  std::size_t ascii_end = 0;
  bool all_skimmed = true;  // so far
  // The text the entries point into, when the data owns it: the file's own
  // pages, or a copy of the file.
  std::variant<std::monostate, MappedFile, std::unique_ptr<const std::string>> text;
};

// Reading and writing by the records' field tables (found by
// argument-dependent lookup). Rows are written as the report prints them.
bool read(json::Reader& r, CpuUsage& v);
bool read(json::Reader& r, IoUsage& v);
bool read(json::Reader& r, TopUsage& v);
bool read(json::Reader& r, TopLimits& v);
bool read(json::Reader& r, Restriction& v);
bool read(json::Reader& r, TopUser& v);

void write(json::Writer& w, const CpuUsage& v);
void write(json::Writer& w, const IoUsage& v);
void write(json::Writer& w, const TopUsage& v);
void write(json::Writer& w, const TopLimits& v);
void write(json::Writer& w, const Restriction& v);
void write(json::Writer& w, const TopUser& v);

// Decodes a snapshot text, every row validated whole; the entries point
// into `text`, which must outlive them. The error is the reader's message
// with its position.
std::expected<SavedTopData, std::string> decode_snapshot(
    std::string_view text, UsageKey key = UsageKey::Cpu,
    RowDecoding decoding = RowDecoding::Fast, std::size_t halves_from = HALVES_FROM);
// A temporary text would leave the entries pointing nowhere.
std::expected<SavedTopData, std::string> decode_snapshot(
    std::string&& text, UsageKey key = UsageKey::Cpu, RowDecoding decoding = RowDecoding::Fast,
    std::size_t halves_from = HALVES_FROM) = delete;

// Decodes one row from an entry's text.
std::expected<TopUser, std::string> decode_row(std::string_view text);

// What a decoder's message means for the run: "Failed to parse <path>"
// caused by it, or running out of memory.
Error decode_failure(std::string message, const std::string& path = SNAPSHOT_PATH);

// Where the data's text comes from: the file's pages, mapped where the
// file allows (InPlace), or a copy read into memory of our own.
enum class Reading { InPlace, Copy };

// Reads the snapshot file, which the data then owns. Unreadable or
// non-UTF-8: an empty snapshot stamped `now`. Undecodable: "Failed to parse
// <path>" caused by the reader's message. A file mapped in place that is
// written while it is decoded is read again as a copy.
Result<SavedTopData> read_saved_top_data(double now, UsageKey key,
                                         const std::string& path = SNAPSHOT_PATH,
                                         Reading reading = Reading::InPlace);

// The same read in two steps, so that the long one can run ahead of the
// run's other steps on a thread of its own. The first decodes the file's
// own pages and neither logs nor fails: it yields data only from a clean
// decode of a file nobody wrote meanwhile.
struct InPlaceReading {
  std::optional<SavedTopData> data;
  bool written = false;  // the file changed while it was decoded
};
InPlaceReading read_in_place(UsageKey key, const std::string& path = SNAPSHOT_PATH);
// The second gives that data, or else the outcome of reading a copy, as
// read_saved_top_data does.
Result<SavedTopData> read_saved_top_data(InPlaceReading in_place, double now, UsageKey key,
                                         const std::string& path = SNAPSHOT_PATH);

// Whether the file the data reads in place has been written since: the
// entries may no longer hold what was decoded.
bool text_changed(const SavedTopData& data);

}  // namespace kestrix::cli
