// The documents nimbrel-top prints: the report, the refusals and the
// daemon status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kestrix/core/warden.h"
#include "kestrix/json/writer.h"
#include "snapshot.h"

namespace kestrix::cli {

struct ReportDocument {
  double timestamp = 0.0;
  std::vector<TopUser> users;
  std::vector<nlohmann::json> resellers;
  core::WardenStatus warden;
  std::string warden_mode;
};

void render_report(const ReportDocument& doc, json::Sink& sink);
std::string render_report(const ReportDocument& doc);

// {"context": {}, "result": message, "timestamp": now}
std::string render_denial(std::string_view message, double now);
// {"result": message, "timestamp": now}
std::string render_daemon_document(std::string_view message, double now);

}  // namespace kestrix::cli
