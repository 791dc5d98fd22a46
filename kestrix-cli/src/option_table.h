// Every option of the command line, declared once. The CLI11 declarations,
// the help text and the argument rewrite that decides whether "--x=" or "-xV"
// consumes a value are all derived from this table, so they cannot drift.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::cli {

enum class OptionId { Json, HideMysql, Username, ForReseller, Domain, Max, OrderBy, Help, Version };

struct OptionSpec {
  OptionId id;
  char short_name;              // '\0' when there is none
  std::string_view long_name;   // without the leading "--"
  std::string_view value_name;  // empty for a flag, which never takes a value
  std::string_view help;
  std::string_view default_value;  // empty when the help shows none

  bool takes_value() const { return !value_name.empty(); }

  // The name list CLI11 expects: "-m,--max" or "--hide-mysql".
  std::string cli11_names() const {
    std::string names;
    if (short_name != '\0') names = std::string{'-', short_name, ','};
    return names + "--" + std::string(long_name);
  }
};

// In the order --help lists them.
inline constexpr std::array<OptionSpec, 9> OPTION_TABLE{{
    {OptionId::Json, 'j', "json", "", "Return data in JSON format (required)", ""},
    {OptionId::HideMysql, '\0', "hide-mysql", "", "Don't show MySQL related info", ""},
    {OptionId::Username, 'u', "username", "USERNAME", "Filter: show users matching username pattern",
     ""},
    {OptionId::ForReseller, 'r', "for-reseller", "FOR_RESELLER",
     "Get information only about specified reseller and his users", ""},
    {OptionId::Domain, 'd', "domain", "DOMAIN", "Filter: show users with domain matching pattern", ""},
    {OptionId::Max, 'm', "max", "MAX", "Show up to N records (default top 25)", "25"},
    {OptionId::OrderBy, 'o', "order-by", "ORDER_BY",
     "Sort order: cpu, mysql_cpu, io, mysql_io, iops, ep, nproc, pmem", "cpu"},
    {OptionId::Help, 'h', "help", "", "Print help", ""},
    {OptionId::Version, 'V', "version", "", "Print version", ""},
}};

// Entries sit at the index of their id, so a lookup is an array access.
constexpr bool table_indexed_by_id() {
  for (std::size_t i = 0; i < OPTION_TABLE.size(); ++i)
    if (static_cast<std::size_t>(OPTION_TABLE[i].id) != i) return false;
  return true;
}
static_assert(table_indexed_by_id());

constexpr const OptionSpec& option(OptionId id) {
  return OPTION_TABLE[static_cast<std::size_t>(id)];
}

}  // namespace kestrix::cli
