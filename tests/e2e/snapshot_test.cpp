// What the report looks like for each state of the snapshot file, and how
// the fatal-error report and a failed write end the run.
#include <algorithm>
#include <csignal>
#include <regex>

#include "fixtures.h"

namespace e2e {
namespace {

constexpr std::string_view PARSE_ERROR = "Error: Failed to parse /var/kro/nimbrel_top.json\n\nCaused by:\n    ";

std::string empty_report(double ts) {
  return "{\n"
         "  \"mySqlWard\": \"disabled\",\n"
         "  \"mySqlWardMode\": \"all\",\n"
         "  \"resellers\": [],\n"
         "  \"result\": \"success\",\n"
         "  \"timestamp\": " + std::to_string(static_cast<long long>(ts)) + ".0,\n"
         "  \"users\": []\n"
         "}\n";
}

using SnapshotFile = E2E;

TEST_F(SnapshotFile, MissingFileGivesAnEmptyReportStampedNow) {
  const double before = now_seconds();
  const RunResult r = sb().run({"--json"});
  const double after = now_seconds();
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  json doc = report(r);
  EXPECT_CURRENT_SECOND(doc, before, after);
  EXPECT_EQ(r.out, empty_report(doc["timestamp"].get<double>()));
}

TEST_F(SnapshotFile, UndecodableTextIsReadLikeAMissingFile) {
  sb().write(SNAPSHOT, "{\"timestamp\": 5, \"users\": [], \"x\": \"\xff\xfe\"}");
  const double before = now_seconds();
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_CURRENT_SECOND(doc, before, now_seconds());
  EXPECT_EQ(doc["users"], json::array());
}

TEST_F(SnapshotFile, UnreadableByTheCallerIsReadLikeAMissingFile) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}), 0600);
  const RunResult r = sb().run({"--json"}, {.uid = ALICE});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["users"], json::array());
}

TEST_F(SnapshotFile, EmptyFileIsAFatalErrorAtLine1Column0) {
  sb().write(SNAPSHOT, "");
  const RunResult r = sb().run({"--json"});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Error: Failed to parse /var/kro/nimbrel_top.json\n\nCaused by:\n"
            "    EOF while parsing a value at line 1 column 0\n");
}

TEST_F(SnapshotFile, DecodingErrorsNameTheFaultAndItsPosition) {
  const struct {
    std::string text;
    std::string message;  // the cause, without its position
  } cases[] = {
      {R"({"users": [{}]})", "missing field `id`"},
      {R"({"users": [{"id": 1}]})", "missing field `usage`"},
      {R"({"users": [{"id": 1, "usage": {}}]})", "missing field `cpu`"},
      {R"({"users": [], "users": []})", "duplicate field `users`"},
      {R"({"users": [{"id": "x"}]})", "invalid type: string \"x\", expected u32"},
      {R"({"users": [[1001]]})", "invalid length 1, expected struct TopUser with 8 elements"},
      {R"({"users": {}})", "invalid type: map, expected a sequence"},
      {R"({} x)", "trailing characters"},
      {R"({"timestamp": 1,})", "trailing comma"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sb().write(SNAPSHOT, c.text);
    const RunResult r = sb().run({"--json"});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.out, "");
    const std::string want = std::string(PARSE_ERROR) + c.message + " at line ";
    EXPECT_EQ(r.err.substr(0, want.size()), want) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(" at line [0-9]+ column [0-9]+\n$"))) << r.err;
  }
}

TEST_F(SnapshotFile, OutOfRangeAndNonIntegralNumbersAreRejected) {
  const std::string usage = R"("usage": {"cpu": {"all": 1}, "io": {"all": 1}, "iops": 1, "ep": 1, "mem": 1, "pno": 1})";
  const std::string limit = R"("limit": {"cpu": {"all": 1}, "io": {"all": 1}, "iops": 1, "ep": 1, "mem": 1, "pno": 1})";
  for (const std::string id : {"4294967296", "-1", "1.5", "1e3"}) {
    SCOPED_TRACE(id);
    sb().write(SNAPSHOT, "{\"users\": [{\"id\": " + id + ", " + usage + ", " + limit + "}]}");
    const RunResult r = sb().run({"--json"});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.err.substr(0, PARSE_ERROR.size()), PARSE_ERROR);
  }
  // The largest uid decodes.
  sb().write(SNAPSHOT, "{\"users\": [{\"id\": 4294967295, " + usage + ", " + limit + "}]}");
  sb().write(CONFIG, "hide_kro_more_than_maxuid = no\n");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["users"][0]["id"], 4294967295u);
}

// The file is read in place. A daemon that rewrites it while the run goes
// on, shorter than it was, takes pages from under the run: the run must
// neither die of it nor print rows of two files, but report the file as
// it now is, each row with the lookups of its own version.
TEST_F(SnapshotFile, AFileRewrittenDuringTheRunIsReportedAsItNowIs) {
  std::vector<Row> before;
  for (unsigned i = 0; i < 200; ++i) before.push_back(row(2000 + i, "old" + std::to_string(i), i));
  before.push_back(row(ALICE, "alice", 500));
  sb().write(SNAPSHOT, snapshot(before, 1700000000.0));
  const std::string after =
      snapshot({row(CAROL, "carol", 9), row(BOB, "bob", 3), row(ALICE, "alice", 1)}, 1700000100.0);
  ASSERT_LT(after.size() * 4, snapshot(before).size());
  sb().install_dbadm();
  sb().answer(WARD, "warden-mode", "abusers\n");
  sb().data("users.tsv", "1001\talice\talice.test\trita\n1004\tcarol\tcarol.test\t\n");
  sb().data("limits.tsv", "alice\t10\t20\ncarol\t11\t21\nbob\t12\t22\n");
  sb().data("new-snapshot.json", after);
  // After the snapshot is decoded, beside the panel's and the warden's lookups.
  sb().data("kestrix-pnx-helper.admins.before",
            "cat /usr/share/kestrix3/standin/new-snapshot.json >/var/kro/nimbrel_top.json\n");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.signal, 0);
  const auto asked = sb().calls();

  sb().remove("/usr/share/kestrix3/standin/kestrix-pnx-helper.admins.before");
  const RunResult fresh = sb().run({"--json"});
  ASSERT_EQ(fresh.status, 0) << fresh;
  EXPECT_EQ(r.out, fresh.out);
  EXPECT_EQ(usernames(report(r)), (std::vector<std::string>{"carol", "bob", "alice"}));
  // What the first answers left out is asked again, once. (The names of the
  // first request may already be read from the new file's bytes.)
  const auto count = [&asked](std::string_view prefix) {
    return std::count_if(asked.begin(), asked.end(), [prefix](const std::string& c) { return c.starts_with(prefix); });
  };
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "kestrix-pnx-helper|user-info-sys|1004|1002"), 1);
  EXPECT_EQ(count("kestrix-pnx-helper|user-info-sys|"), 2);
  EXPECT_EQ(count("kestrix-ward-helper|limits|carol|bob"), 1);
  EXPECT_LE(count("kestrix-ward-helper|limits|"), 2);
}

TEST_F(SnapshotFile, DeepNestingIsAnErrorNotACrash) {
  sb().write(SNAPSHOT, "{\"resellers\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
  RunResult r = sb().run({"--json"});
  EXPECT_EQ(r.signal, 0) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.err.substr(0, PARSE_ERROR.size()), PARSE_ERROR);

  sb().write(SNAPSHOT, "{\"resellers\": " + std::string(100, '[') + std::string(100, ']') + "}");
  r = sb().run({"--json"});
  EXPECT_EQ(r.status, 0) << r;
}

TEST_F(SnapshotFile, SmallDocumentsDecodeWithTheirDefaults) {
  const struct {
    std::string text;
    std::string timestamp;
  } cases[] = {
      {"{}", "0.0"},
      {" [5, [], []] \n", "5.0"},
      {R"({"timestamp": 1.5, "unknown": {"deep": [1, "x", null]}})", "1.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sb().write(SNAPSHOT, c.text);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("\n  \"timestamp\": " + c.timestamp + ",\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  \"users\": []\n"), std::string::npos) << r.out;
  }
}

TEST_F(SnapshotFile, FullReportIsPrintedByteForByte) {
  sb().write(SNAPSHOT, R"({"timestamp": 1700000000.5, "extra": {"x": [1, 2]},
 "users": [
  {"id": 1001, "username": "alice", "domain": "a\"b\\c\u0001\t\u00e9.test", "reseller": "rita",
   "usage": {"cpu": {"all": 12.5, "mysql": null}, "io": {"all": 1e16, "mysql": "n/a"},
             "iops": 3, "ep": -0.0, "mem": 1.5e-7, "pno": 0},
   "limit": {"cpu": {"all": 100}, "io": {"all": 0.1}, "iops": 1024, "ep": 20, "mem": 1073741824, "pno": 1e-5},
   "restricted": true, "restriction": {"time": -5, "reason": "cpu"}, "unknown": [null]},
  [1002, "", "", "", {"cpu": [0.25], "io": [7, [1]], "iops": 0, "ep": 0, "mem": 0, "pno": 0},
   [[1], [2], 3, 4, 5, 6], false, null]
 ],
 "resellers": [{"id": 1003, "limits": {"cpu": 1}}, "plain"]})");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, R"({
  "mySqlWard": "disabled",
  "mySqlWardMode": "all",
  "resellers": [
    {
      "id": 1003,
      "limits": {
        "cpu": 1
      },
      "name": "rita"
    },
    "plain"
  ],
  "result": "success",
  "timestamp": 1700000000.5,
  "users": [
    {
      "domain": "a\"b\\c\u0001\té.test",
      "id": 1001,
      "limit": {
        "cpu": {
          "all": 100.0,
          "mysql": 0.0
        },
        "ep": 20.0,
        "io": {
          "all": 0.1,
          "mysql": 0.0
        },
        "iops": 1024.0,
        "mem": 1073741824.0,
        "pno": 0.00001
      },
      "reseller": "rita",
      "restricted": true,
      "restriction": {
        "reason": "cpu",
        "time": -5
      },
      "usage": {
        "cpu": {
          "all": 12.5
        },
        "ep": -0.0,
        "io": {
          "all": 1e16,
          "mysql": "n/a"
        },
        "iops": 3.0,
        "mem": 1.5e-7,
        "pno": 0.0
      },
      "username": "alice"
    },
    {
      "domain": "N/A",
      "id": 1002,
      "limit": {
        "cpu": {
          "all": 1.0,
          "mysql": 0.0
        },
        "ep": 4.0,
        "io": {
          "all": 2.0,
          "mysql": 0.0
        },
        "iops": 3.0,
        "mem": 5.0,
        "pno": 6.0
      },
      "reseller": "N/A",
      "restricted": false,
      "usage": {
        "cpu": {
          "all": 0.25,
          "mysql": 0.0
        },
        "ep": 0.0,
        "io": {
          "all": 7.0,
          "mysql": [
            1
          ]
        },
        "iops": 0.0,
        "mem": 0.0,
        "pno": 0.0
      },
      "username": "bob"
    }
  ]
}
)");
}

TEST_F(SnapshotFile, FailedWriteIsNotReportedAsSuccess) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const RunResult r = sb().run({"--json"}, {.stdout_path = "/dev/full"});
  EXPECT_EQ(r.signal, 0) << r;
  EXPECT_NE(r.status, 0) << r;
  EXPECT_NE(r.err, "") << r;
}

TEST_F(SnapshotFile, ReaderThatWentAwayEndsTheRunQuietly) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const RunResult r = sb().run({"--json"}, {.stdout_closed_pipe = true});
  EXPECT_EQ(r.signal, SIGPIPE) << r;
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace e2e
