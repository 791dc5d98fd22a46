// The command line of nimbrel-top.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrix::cli {

struct Cli {
  bool json = false;
  bool hide_mysql = false;
  std::optional<std::string> username;
  std::optional<std::string> for_reseller;
  std::optional<std::string> domain;
  std::uint64_t max = 25;
  std::string order_by = "cpu";
};

// What parsing ended with when it did not produce a Cli: text for standard
// output (help, version; status 0) or standard error (usage error; status 2).
struct ParseExit {
  std::string out;
  std::string err;
  int status = 0;
};

// The strict unsigned syntax of --max: optional "+", decimal digits, at
// most 2^64-1. The error is the reason for the refusal.
std::expected<std::uint64_t, std::string> parse_max(std::string_view text);

std::variant<Cli, ParseExit> parse(const std::vector<std::string>& argv);

}  // namespace kestrix::cli
