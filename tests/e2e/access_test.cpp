// Who sees which rows: root, administrators, resellers, ordinary users,
// callers without a password entry, and callers whose identity cannot be
// trusted (user namespaces, a counterfeit /proc).
#include "fixtures.h"

namespace e2e {
namespace {

constexpr std::string_view NAMESPACE_DENIAL =
    "Permission denied. Caller identity cannot be verified outside the initial user namespace.";

std::string reseller_denial(std::string_view value) {
  return "Permission denied. Reseller can view information only about himself. Option --for-reseller=" +
         std::string(value) + " is forbidden.";
}

void expect_denial(const RunResult& r, std::string_view message, double before) {
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.err, "");
  json doc = report(r);
  if (doc.is_discarded()) return;
  EXPECT_CURRENT_SECOND(doc, before, now_seconds());
  const auto ts = static_cast<long long>(doc.value("timestamp", 0.0));
  EXPECT_EQ(r.out, "{\n  \"context\": {},\n  \"result\": " + json(message).dump() +
                       ",\n  \"timestamp\": " + std::to_string(ts) + ".0\n}\n");
}

class Access : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Every account, plus an account literally called "unknown" and a uid
    // without a password entry (shown as "N/A").
    sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 6), row(BOB, "bob", 5), row(RITA, "rita", 4),
                                    row(CAROL, "carol", 3), row(ADMIN, "admin", 2),
                                    row(NO_ENTRY + 1, "unknown", 1), row(NO_ENTRY, "", 0.5)},
                                   1700000000.0,
                                   json::array({json{{"id", RITA}}, json{{"id", 1000000000u + CAROL}},
                                                json{{"id", 4000}}, "legacy"})));
    sb().data("resellers.tsv", "rita\talice\nrita\tbob\n");
    sb().answer(PNX, "admins", "[\"admin\"]\n");
  }
};

TEST_F(Access, RootSeesEveryRowButTheAdministrators) {
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(usernames(doc), (std::vector<std::string>{"alice", "bob", "rita", "carol", "unknown", "N/A"}));
  EXPECT_EQ(doc["resellers"], json::parse(R"([{"id": 1003, "name": "rita"}, {"id": 1000001004, "name": "carol"},
                                              {"id": 4000, "name": "N/A"}, "legacy"])"));
  EXPECT_EQ(sb().calls(PNX).size(), 3u);  // panel-feature, user-info-sys, admins
}

TEST_F(Access, RootNamingAResellerSeesHisUsersAndHim) {
  const RunResult r = sb().run({"--json", "--for-reseller", "rita"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(usernames(doc), (std::vector<std::string>{"alice", "bob", "rita"}));
  EXPECT_EQ(doc["resellers"], json::parse(R"([{"id": 1003, "name": "rita"}])"));
  const auto calls = sb().calls(PNX);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "kestrix-pnx-helper|reseller-users|rita"), calls.end());
}

TEST_F(Access, RootNamingAnUnknownResellerSeesOnlyThatName) {
  const RunResult r = sb().run({"--json", "--for-reseller", "carol"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), std::vector<std::string>{"carol"});
}

TEST_F(Access, OrdinaryUserSeesOnlyHisOwnRowAndNoResellers) {
  const RunResult r = sb().run({"--json"}, {.uid = CAROL});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(usernames(doc), std::vector<std::string>{"carol"});
  EXPECT_EQ(doc["resellers"], json::array());
  // Administrators are hidden from root only, so nobody else asks for them.
  for (const auto& call : sb().calls(PNX)) EXPECT_NE(call, "kestrix-pnx-helper|admins");
}

TEST_F(Access, ResellerNamingHimselfSeesHisUsersAndHimself) {
  const RunResult r = sb().run({"--json", "-r", "rita"}, {.uid = RITA});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(usernames(doc), (std::vector<std::string>{"alice", "bob", "rita"}));
  EXPECT_EQ(doc["resellers"], json::array());
}

TEST_F(Access, ResellerWithoutTheOptionSeesOnlyHimself) {
  const RunResult r = sb().run({"--json"}, {.uid = RITA});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), std::vector<std::string>{"rita"});
}

TEST_F(Access, ResellerWhosePanelCallFailsStillSeesHimself) {
  sb().answer(PNX, "reseller-users", "oops", 1, "panel down\n");
  const RunResult r = sb().run({"--json", "-r", "rita"}, {.uid = RITA});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), std::vector<std::string>{"rita"});
}

TEST_F(Access, NamingSomeoneElseIsDenied) {
  for (const std::string value : {"alice", "", "RITA", "rita "}) {
    SCOPED_TRACE("[" + value + "]");
    const double before = now_seconds();
    expect_denial(sb().run({"--json", "--for-reseller", value}, {.uid = RITA}), reseller_denial(value), before);
  }
  EXPECT_FALSE(sb().exists(WARDEN_TS));
}

TEST_F(Access, CallerWithoutPasswordEntrySeesNothing) {
  const RunResult r = sb().run({"--json"}, {.uid = NO_ENTRY});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(doc["users"], json::array()) << "a placeholder name must not grant the rows of \"unknown\"";
  EXPECT_EQ(doc["resellers"], json::array());
}

TEST_F(Access, CallerWithoutPasswordEntryMayNameNoReseller) {
  for (const std::string value : {"unknown", "N/A", ""}) {
    SCOPED_TRACE(value);
    const double before = now_seconds();
    expect_denial(sb().run({"--json", "--for-reseller", value}, {.uid = NO_ENTRY}), reseller_denial(value), before);
  }
}

TEST_F(Access, UserNamespacesAreNotTrusted) {
  const struct {
    const char* name;
    RunOptions opts;
  } cases[] = {
      {"root mapped to root", {.userns = true}},
      {"alice mapped to root", {.uid = ALICE, .userns = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double before = now_seconds();
    expect_denial(sb().run({"--json"}, c.opts), NAMESPACE_DENIAL, before);
    expect_denial(sb().run({"--json", "--for-reseller", "rita"}, c.opts), NAMESPACE_DENIAL, before);
  }
  EXPECT_FALSE(sb().exists(WARDEN_TS));
}

TEST_F(Access, CounterfeitProcIsNotTrusted) {
  const struct {
    const char* name;
    RunOptions opts;
  } cases[] = {
      {"tmpfs over /proc", {.proc = Proc::Tmpfs}},
      {"plain directory over /proc", {.proc = Proc::PlainDir}},
      {"/proc/self showing another process", {.proc = Proc::Foreign}},
      {"alice with /proc/self of another process", {.uid = ALICE, .proc = Proc::Foreign}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double before = now_seconds();
    expect_denial(sb().run({"--json"}, c.opts), NAMESPACE_DENIAL, before);
  }
}

}  // namespace
}  // namespace e2e
