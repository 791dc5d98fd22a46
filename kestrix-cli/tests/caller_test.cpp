#include "caller.h"

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrix/testing/ci.h"

namespace kestrix::cli {
namespace {

const std::string NS_DENIAL(NAMESPACE_DENIAL);

// A fake system: the uid, the namespace answers in the order asked, and
// the password database.
struct FakeSystem {
  unsigned uid = 1000;
  std::vector<bool> namespace_answers = {true, true};
  std::map<unsigned, std::string> passwd = {{0, "root"}, {1000, "alice"}, {1001, "unknown"}};
  int namespace_checks = 0;

  std::variant<Caller, Denial> identify(std::optional<std::string> for_reseller = std::nullopt) {
    Cli cli;
    cli.for_reseller = std::move(for_reseller);
    CallerProbe probe{
        uid,
        [this] {
          bool answer = namespace_answers.at(static_cast<std::size_t>(namespace_checks));
          ++namespace_checks;
          return answer;
        },
        [this](unsigned u) -> std::optional<std::string> {
          auto it = passwd.find(u);
          if (it == passwd.end()) return std::nullopt;
          return it->second;
        },
    };
    return identify_caller(cli, probe);
  }
};

std::string denial_of(const std::variant<Caller, Denial>& result) {
  if (auto* d = std::get_if<Denial>(&result)) return d->message;
  return "<no denial>";
}

Caller caller_of(const std::variant<Caller, Denial>& result) {
  if (auto* c = std::get_if<Caller>(&result)) return *c;
  ADD_FAILURE() << "denied: " << std::get<Denial>(result).message;
  return {};
}

TEST(ResellerDenial, QuotesTheValueUnchanged) {
  EXPECT_EQ(reseller_denial("bob"),
            "Permission denied. Reseller can view information only about himself. "
            "Option --for-reseller=bob is forbidden.");
  EXPECT_EQ(reseller_denial(""),
            "Permission denied. Reseller can view information only about himself. "
            "Option --for-reseller= is forbidden.");
}

TEST(IdentifyCaller, RootOnlyInTheInitialNamespace) {
  FakeSystem root{.uid = 0};
  Caller c = caller_of(root.identify("anyone"));
  EXPECT_EQ(c.name, "root");
  EXPECT_TRUE(c.is_root);
  EXPECT_EQ(root.namespace_checks, 1);

  FakeSystem contained{.uid = 0, .namespace_answers = {false, false}};
  EXPECT_EQ(denial_of(contained.identify()), NS_DENIAL);

  FakeSystem user_contained{.uid = 1000, .namespace_answers = {false}};
  EXPECT_EQ(denial_of(user_contained.identify()), NS_DENIAL);
  EXPECT_EQ(user_contained.namespace_checks, 1);
}

TEST(IdentifyCaller, UidZeroWhoseFirstCheckFailedIsAskedAgainButNeverRoot) {
  FakeSystem flaky{.uid = 0, .namespace_answers = {false, true}};
  Caller c = caller_of(flaky.identify());
  EXPECT_FALSE(c.is_root);
  EXPECT_EQ(c.name, "root");
  EXPECT_EQ(flaky.namespace_checks, 2);
  EXPECT_EQ(denial_of(FakeSystem{.uid = 0, .namespace_answers = {false, true}}.identify("bob")),
            reseller_denial("bob"));
}

TEST(IdentifyCaller, OrdinaryUsersMayNameOnlyThemselves) {
  FakeSystem alice{.uid = 1000};
  Caller c = caller_of(alice.identify());
  EXPECT_EQ(c.name, "alice");
  EXPECT_FALSE(c.is_root);
  EXPECT_TRUE(c.has_entry);
  EXPECT_EQ(caller_of(FakeSystem{.uid = 1000}.identify("alice")).name, "alice");
  for (const char* other : {"bob", "", "Alice", "alice ", "root"})
    EXPECT_EQ(denial_of(FakeSystem{.uid = 1000}.identify(other)), reseller_denial(other)) << other;
}

TEST(IdentifyCaller, WithoutAPasswordEntryNoResellerValueIsAccepted) {
  FakeSystem ghost{.uid = 4242};
  Caller c = caller_of(ghost.identify());
  EXPECT_EQ(c.name, "unknown");
  EXPECT_FALSE(c.has_entry);
  EXPECT_FALSE(c.is_root);
  for (const char* value : {"unknown", "", "alice"})
    EXPECT_EQ(denial_of(FakeSystem{.uid = 4242}.identify(value)), reseller_denial(value)) << value;
  // An account really called "unknown" is a name like any other.
  EXPECT_TRUE(caller_of(FakeSystem{.uid = 1001}.identify("unknown")).has_entry);
}

// The test machines and CI run as root in the initial user namespace.
TEST(IdentifyCaller, TheRealProbeRecognisesRootHere) {
  if (::getuid() != 0) KESTRIX_SKIP("needs root");
  Cli cli;
  cli.for_reseller = "someone";
  Caller c = caller_of(identify_caller(cli));
  EXPECT_TRUE(c.is_root);
  EXPECT_EQ(c.name, "root");
}

struct FakeReseller {
  Result<std::vector<std::string>> answer = std::vector<std::string>{};
  std::vector<std::string> asked = {};

  ResellerUsersFn fn() {
    return [this](const std::string& name) {
      asked.push_back(name);
      return answer;
    };
  }
};

std::optional<std::vector<std::string>> allowed(const Caller& caller,
                                                std::optional<std::string> for_reseller,
                                                FakeReseller& panel) {
  Cli cli;
  cli.for_reseller = std::move(for_reseller);
  return allowed_names_for(caller, cli, panel.fn());
}

using Names = std::vector<std::string>;
const Caller ROOT{"root", true, true};
const Caller ALICE{"alice", false, true};
const Caller GHOST{"unknown", false, false};

TEST(AllowedNames, DependOnRankAndResellerView) {
  FakeReseller panel;
  EXPECT_EQ(allowed(ROOT, std::nullopt, panel), std::nullopt);
  EXPECT_EQ(allowed(ALICE, std::nullopt, panel), Names{"alice"});
  EXPECT_EQ(allowed(GHOST, std::nullopt, panel), Names{});
  EXPECT_TRUE(panel.asked.empty());
}

TEST(AllowedNames, AResellerSeesHisUsersAndHimselfOnce) {
  FakeReseller panel{.answer = Names{"u1", "u2"}};
  EXPECT_EQ(allowed(ALICE, "alice", panel), (Names{"u1", "u2", "alice"}));
  EXPECT_EQ(panel.asked, Names{"alice"});

  FakeReseller listed{.answer = Names{"alice", "u1"}};
  EXPECT_EQ(allowed(ALICE, "alice", listed), (Names{"alice", "u1"}));

  FakeReseller failing{.answer = std::unexpected(Error("helper failed"))};
  EXPECT_EQ(allowed(ALICE, "alice", failing), Names{"alice"});

  FakeReseller empty_panel;
  EXPECT_EQ(allowed(ROOT, "nobody", empty_panel), Names{"nobody"});
  FakeReseller root_panel{.answer = Names{"u1"}};
  EXPECT_EQ(allowed(ROOT, "res", root_panel), (Names{"u1", "res"}));
}

TEST(AllowedNames, AResellerViewThatSlippedPastTheCheckGrantsNothing) {
  FakeReseller panel{.answer = Names{"u1"}};
  EXPECT_EQ(allowed(ALICE, "bob", panel), Names{});
  EXPECT_EQ(allowed(GHOST, "unknown", panel), Names{});
  EXPECT_TRUE(panel.asked.empty());
}

}  // namespace
}  // namespace kestrix::cli
