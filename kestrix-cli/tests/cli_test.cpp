#include "cli.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

std::variant<Cli, ParseExit> run(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/nimbrel-top");
  return parse(args);
}

Cli parsed(std::vector<std::string> args) {
  auto result = run(args);
  if (auto* exit = std::get_if<ParseExit>(&result)) {
    ADD_FAILURE() << "parse exited " << exit->status << ": " << exit->err;
    return {};
  }
  return std::get<Cli>(result);
}

ParseExit exited(std::vector<std::string> args) {
  auto result = run(args);
  if (auto* exit = std::get_if<ParseExit>(&result)) return *exit;
  ADD_FAILURE() << "parse succeeded";
  return {};
}

bool same(const Cli& a, const Cli& b) {
  return a.json == b.json && a.hide_mysql == b.hide_mysql && a.username == b.username &&
         a.for_reseller == b.for_reseller && a.domain == b.domain && a.max == b.max &&
         a.order_by == b.order_by;
}

TEST(Parse, NothingGivenTakesTheDefaults) {
  Cli cli = parsed({});
  EXPECT_TRUE(same(cli, Cli{}));
  EXPECT_FALSE(cli.json);
  EXPECT_EQ(cli.max, 25u);
  EXPECT_EQ(cli.order_by, "cpu");
}

TEST(Parse, ShortLongAndAttachedFormsAgree) {
  Cli expected;
  expected.json = true;
  expected.hide_mysql = true;
  expected.username = "al";
  expected.for_reseller = "res";
  expected.domain = "ex.com";
  expected.max = 5;
  expected.order_by = "pmem";
  const std::vector<std::vector<std::string>> forms = {
      {"-j", "--hide-mysql", "-u", "al", "-r", "res", "-d", "ex.com", "-m", "5", "-o", "pmem"},
      {"--json", "--hide-mysql", "--username=al", "--for-reseller=res", "--domain=ex.com",
       "--max=5", "--order-by=pmem"},
      {"--hide-mysql", "-jual", "-rres", "-dex.com", "-m5", "-opmem"},
      {"--order-by", "pmem", "--max", "+5", "--domain", "ex.com", "--for-reseller", "res",
       "--username", "al", "--hide-mysql", "--json"},
  };
  for (const auto& form : forms) EXPECT_TRUE(same(parsed(form), expected)) << form[0];
}

TEST(Parse, TextValuesAreTakenAsGiven) {
  EXPECT_EQ(parsed({"-o", "CPU"}).order_by, "CPU");
  EXPECT_EQ(parsed({"-o", "foo"}).order_by, "foo");
  EXPECT_EQ(parsed({"-u", ""}).username, "");
  // The short form's attached value starts right after the letter.
  EXPECT_EQ(parsed({"-u=x"}).username, "=x");
  EXPECT_EQ(parsed({"-ju-x"}).username, "-x");
  // A value position takes the next argument even when it looks like an option.
  EXPECT_EQ(parsed({"-u", "-j"}).username, "-j");
  EXPECT_EQ(parsed({"--domain", "--username="}).domain, "--username=");
}

TEST(Parse, EqualsWithNothingAfterItIsTheEmptyText) {
  Cli cli = parsed({"--username=", "-j", "--domain=", "--for-reseller="});
  EXPECT_EQ(cli.username, "");
  EXPECT_EQ(cli.domain, "");
  EXPECT_EQ(cli.for_reseller, "");
  EXPECT_TRUE(cli.json);
  EXPECT_EQ(parsed({"--order-by="}).order_by, "");
  EXPECT_EQ(parsed({"--username="}).username, "");
}

TEST(Parse, MaxAcceptsTheFullUnsignedRange) {
  EXPECT_EQ(parsed({"-m", "0"}).max, 0u);
  EXPECT_EQ(parsed({"-m", "007"}).max, 7u);
  EXPECT_EQ(parsed({"-m", "18446744073709551615"}).max, 18446744073709551615u);
}

TEST(ParseMax, RefusesAnythingButPlainDecimal) {
  const std::string empty = "cannot parse integer from empty string";
  const std::string digit = "invalid digit found in string";
  const std::string large = "number too large to fit in target type";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", empty},        {"+", digit},       {"-1", digit},
      {"-0", digit},      {"0x10", digit},    {" 7", digit},
      {"7 ", digit},      {"1e3", digit},     {"++1", digit},
      {"1_000", digit},   {"٣", digit},       {"18446744073709551616", large},
      {"99999999999999999999x", large},       {"1x99999999999999999999", digit},
  };
  for (const auto& [text, reason] : cases) {
    auto result = parse_max(text);
    ASSERT_FALSE(result) << text;
    EXPECT_EQ(result.error(), reason) << text;
  }
}

TEST(Parse, UsageErrorsGoToStandardErrorWithStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"-x"},
      {"extra"},
      {"-j", "--", "-u"},
      {"-u"},
      {"--max"},
      {"-m", "-1"},
      {"--max="},
      {"-m", "0x10"},
      {"-m", "18446744073709551616"},
      {"-j", "-j"},
      {"-jj"},
      {"-"},
      {"--json", "-j"},
      {"--hide-mysql", "--hide-mysql"},
      {"-u", "a", "--username", "b"},
      {"-m", "1", "-m", "1"},
      {"-o", "cpu", "-o", "io"},
      {"--json=true"},
      {"--json=false"},
      {"--hide-mysql="},
      {"--user", "x"},
      // A dash inside a bundle must not turn the rest into a long option.
      {"-j-"},
      {"-j-max=5"},
  };
  for (const auto& args : cases) {
    ParseExit exit = exited(args);
    EXPECT_EQ(exit.status, 2) << args[0];
    EXPECT_EQ(exit.out, "") << args[0];
    EXPECT_NE(exit.err, "") << args[0];
  }
}

TEST(Parse, BadMaxNamesTheReasonAndTheValue) {
  EXPECT_NE(exited({"-m", "abc"}).err.find("--max: invalid value 'abc': invalid digit found in string"),
            std::string::npos);
  EXPECT_NE(exited({"--max="}).err.find("cannot parse integer from empty string"), std::string::npos);
  EXPECT_NE(exited({"-m", "99999999999999999999"}).err.find("number too large to fit in target type"),
            std::string::npos);
}

TEST(Parse, VersionPrintsOnStandardOutput) {
  for (const char* flag : {"-V", "--version"}) {
    ParseExit exit = exited({"-j", flag});
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.out, "nimbrel-top 3.0.0\n");
    EXPECT_EQ(exit.err, "");
  }
}

TEST(Parse, HelpListsEveryOptionInOrderWithHelpAndVersionLast) {
  ParseExit exit = exited({"--help"});
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
  EXPECT_TRUE(exit.out.starts_with("Show current KRO resource usage\nUsage: nimbrel-top [OPTIONS]"))
      << exit.out;
  const std::vector<std::string> in_order = {
      "-j,--json",
      "Return data in JSON format (required)",
      "--hide-mysql",
      "Don't show MySQL related info",
      "-u,--username USERNAME",
      "Filter: show users matching username pattern",
      "-r,--for-reseller FOR_RESELLER",
      "Get information only about specified reseller and his users",
      "-d,--domain DOMAIN",
      "Filter: show users with domain matching pattern",
      "-m,--max MAX=25",
      "Show up to N records (default top 25)",
      "-o,--order-by ORDER_BY=cpu",
      "Sort order: cpu, mysql_cpu, io, mysql_io, iops, ep, nproc, pmem",
      "-h,--help",
      "Print help",
      "-V,--version",
      "Print version",
  };
  std::size_t pos = 0;
  for (const auto& piece : in_order) {
    std::size_t found = exit.out.find(piece, pos);
    ASSERT_NE(found, std::string::npos) << piece << "\n" << exit.out;
    pos = found + piece.size();
  }
  EXPECT_EQ(exit.out.find("--json JSON"), std::string::npos);
  EXPECT_EQ(exit.out.find("HIDE_MYSQL"), std::string::npos);
  EXPECT_EQ(exited({"-h"}).out, exit.out);
}

TEST(Parse, UsageShowsTheProgramAsInvoked) {
  auto result = parse({"./build/bin/nt", "--help"});
  ASSERT_TRUE(std::holds_alternative<ParseExit>(result));
  EXPECT_NE(std::get<ParseExit>(result).out.find("Usage: nt [OPTIONS]"), std::string::npos);
  auto bare = parse({});
  ASSERT_TRUE(std::holds_alternative<Cli>(bare));
}

}  // namespace
}  // namespace kestrix::cli
