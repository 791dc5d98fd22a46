#pragma once
// Builders for snapshot rows and readers for the printed report.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sandbox.h"

namespace e2e {

using nlohmann::json;

struct Row {
  unsigned id = 0;
  std::string username, domain, reseller;
  double cpu = 0, io = 0, iops = 0, ep = 0, mem = 0, pno = 0;
  json cpu_mysql = nullptr;  // null: member left out of the snapshot
  json io_mysql = nullptr;
  json limit_cpu_mysql = nullptr;
  json limit_io_mysql = nullptr;
  bool restricted = false;
  std::optional<std::pair<std::int64_t, std::string>> restriction;
};

inline json resource(double all, const json& mysql) {
  json r = {{"all", all}};
  if (!mysql.is_null()) r["mysql"] = mysql;
  return r;
}

inline json to_json(const Row& r) {
  json u = {{"id", r.id},
            {"usage", {{"cpu", resource(r.cpu, r.cpu_mysql)}, {"io", resource(r.io, r.io_mysql)},
                       {"iops", r.iops}, {"ep", r.ep}, {"mem", r.mem}, {"pno", r.pno}}},
            {"limit", {{"cpu", resource(100, r.limit_cpu_mysql)}, {"io", resource(1048576, r.limit_io_mysql)},
                       {"iops", 1024}, {"ep", 20}, {"mem", 1073741824}, {"pno", 100}}}};
  if (!r.username.empty()) u["username"] = r.username;
  if (!r.domain.empty()) u["domain"] = r.domain;
  if (!r.reseller.empty()) u["reseller"] = r.reseller;
  if (r.restricted) u["restricted"] = true;
  if (r.restriction) u["restriction"] = {{"time", r.restriction->first}, {"reason", r.restriction->second}};
  return u;
}

inline std::string snapshot(const std::vector<Row>& rows, double timestamp = 1700000000.0,
                            const json& resellers = json::array()) {
  json users = json::array();
  for (const auto& r : rows) users.push_back(to_json(r));
  return json{{"timestamp", timestamp}, {"users", users}, {"resellers", resellers}}.dump(1);
}

inline Row row(unsigned id, std::string username, double cpu = 0, double io = 0) {
  Row r;
  r.id = id;
  r.username = std::move(username);
  r.cpu = cpu;
  r.io = io;
  return r;
}

// The report must be one JSON document; a parse failure shows the raw output.
inline json report(const RunResult& r) {
  json doc = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << "not a JSON document:\n" << r;
  return doc;
}

inline std::vector<std::string> usernames(const json& doc) {
  std::vector<std::string> names;
  if (doc.contains("users"))
    for (const auto& u : doc["users"]) names.push_back(u.value("username", "?"));
  return names;
}

// The row of `name`; a missing row fails the test and reads as an empty object.
inline json user(json doc, std::string_view name) {
  if (doc.contains("users"))
    for (const auto& u : doc["users"])
      if (u.value("username", "") == name) return u;
  ADD_FAILURE() << "no row for " << name;
  return json::object();
}

// "timestamp" of a document made at run time: a whole second within the run.
#define EXPECT_CURRENT_SECOND(doc, before, after)                                  \
  do {                                                                             \
    ASSERT_TRUE((doc)["timestamp"].is_number_float()) << (doc)["timestamp"];       \
    const double ts_ = (doc)["timestamp"].get<double>();                           \
    EXPECT_GE(ts_, (before));                                                      \
    EXPECT_LE(ts_, (after));                                                       \
    EXPECT_EQ(ts_, static_cast<double>(static_cast<long long>(ts_)));              \
  } while (0)

}  // namespace e2e
