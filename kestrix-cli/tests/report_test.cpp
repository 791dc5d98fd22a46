#include "report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "output.h"

namespace kestrix::cli {
namespace {

// Whatever these tests render is checked for keys in ascending byte order.
class KeyOrderChecks : public ::testing::Environment {
 public:
  void SetUp() override {
    json::check_key_order([](std::string_view previous, std::string_view key) {
      ADD_FAILURE() << "key \"" << key << "\" written after \"" << previous << '"';
    });
  }
  void TearDown() override { json::check_key_order(nullptr); }
};
[[maybe_unused]] const auto* const KEY_ORDER_CHECKS =
    ::testing::AddGlobalTestEnvironment(new KeyOrderChecks);

TEST(Report, LaysOutAnEmptyReport) {
  ReportDocument doc;
  doc.timestamp = 0.0;
  doc.warden.state = "disabled";
  doc.warden_mode = "none";
  EXPECT_EQ(render_report(doc), R"({
  "mySqlWard": "disabled",
  "mySqlWardMode": "none",
  "resellers": [],
  "result": "success",
  "timestamp": 0.0,
  "users": []
}
)");
}

TEST(Report, RowsPrintSortedKeysAndLeaveOutNullMysql) {
  ReportDocument doc;
  doc.timestamp = std::numeric_limits<double>::quiet_NaN();
  doc.warden.state = "error";
  doc.warden.message = "dbadm error: %(output)s";
  doc.warden.context = nlohmann::json{{"output", "x"}};
  doc.warden_mode = "all";
  TopUser u;
  u.id = 7;
  u.username = "tab\there";
  u.domain = "d\x01";
  u.usage.cpu.all = 12.5;
  u.usage.cpu.mysql = nullptr;
  u.usage.io.all = std::numeric_limits<double>::infinity();
  u.usage.io.mysql = "-";
  u.limit.ep = 1e16;
  u.restricted = true;
  u.restriction = Restriction{-3, "Violated the io limit"};
  doc.users.push_back(u);
  doc.resellers.push_back(nlohmann::json{{"name", "r"}, {"id", 5u}});
  EXPECT_EQ(render_report(doc), R"({
  "context": {
    "output": "x"
  },
  "mySqlWard": "error",
  "mySqlWardMode": "all",
  "resellers": [
    {
      "id": 5,
      "name": "r"
    }
  ],
  "result": "success",
  "timestamp": null,
  "users": [
    {
      "domain": "d\u0001",
      "id": 7,
      "limit": {
        "cpu": {
          "all": 0.0,
          "mysql": 0.0
        },
        "ep": 1e16,
        "io": {
          "all": 0.0,
          "mysql": 0.0
        },
        "iops": 0.0,
        "mem": 0.0,
        "pno": 0.0
      },
      "reseller": "",
      "restricted": true,
      "restriction": {
        "reason": "Violated the io limit",
        "time": -3
      },
      "usage": {
        "cpu": {
          "all": 12.5
        },
        "ep": 0.0,
        "io": {
          "all": null,
          "mysql": "-"
        },
        "iops": 0.0,
        "mem": 0.0,
        "pno": 0.0
      },
      "username": "tab\there"
    }
  ],
  "warning": "dbadm error: %(output)s"
}
)");
}

TEST(Report, WarningAndContextOnlyForTheErrorState) {
  ReportDocument doc;
  doc.warden.state = "enabled";
  doc.warden.message = "m";
  doc.warden.context = nlohmann::json::object();
  std::string text = render_report(doc);
  EXPECT_EQ(text.find("warning"), std::string::npos);
  EXPECT_EQ(text.find("context"), std::string::npos);
}

TEST(Report, RefusalAndDaemonDocuments) {
  EXPECT_EQ(render_denial("no", 1700000000.0), R"({
  "context": {},
  "result": "no",
  "timestamp": 1700000000.0
}
)");
  EXPECT_EQ(render_daemon_document("Kestrix is stopped", 5.0), R"({
  "result": "Kestrix is stopped",
  "timestamp": 5.0
}
)");
}

TEST(Report, ErrorReportCarriesItsCause) {
  EXPECT_EQ(error_report(Error("Failed to parse /x", Error("EOF while parsing a value at line 1 column 0"))),
            "Error: Failed to parse /x\n\nCaused by:\n    EOF while parsing a value at line 1 column 0\n");
  EXPECT_EQ(error_report(Error("plain")), "Error: plain\n");
}

}  // namespace
}  // namespace kestrix::cli
