// The usage snapshot the statistics daemon saves, and its loader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kestrix/error.h"
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

struct SavedTopData {
  double timestamp = 0.0;
  std::vector<TopUser> users;
  std::vector<nlohmann::json> resellers;
};

// Reading and writing by the records' field tables (found by
// argument-dependent lookup). Rows are written as the report prints them.
bool read(json::Reader& r, CpuUsage& v);
bool read(json::Reader& r, IoUsage& v);
bool read(json::Reader& r, TopUsage& v);
bool read(json::Reader& r, TopLimits& v);
bool read(json::Reader& r, Restriction& v);
bool read(json::Reader& r, TopUser& v);
bool read(json::Reader& r, SavedTopData& v);

void write(json::Writer& w, const CpuUsage& v);
void write(json::Writer& w, const IoUsage& v);
void write(json::Writer& w, const TopUsage& v);
void write(json::Writer& w, const TopLimits& v);
void write(json::Writer& w, const Restriction& v);
void write(json::Writer& w, const TopUser& v);

// Decodes a snapshot text; the error is the reader's message with position.
std::expected<SavedTopData, std::string> decode_snapshot(std::string_view text);

// Reads the snapshot file. Unreadable or non-UTF-8: an empty snapshot
// stamped `now`. Undecodable: "Failed to parse <path>" caused by the
// reader's message.
Result<SavedTopData> read_saved_top_data(double now,
                                         const std::string& path = SNAPSHOT_PATH);

}  // namespace kestrix::cli
