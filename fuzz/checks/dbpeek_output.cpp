// The usage tool's text: parse_size agrees with strtod on plain numbers and
// applies only the K, M and G units; parse_restriction finds the cause in
// its fixed order and the time after the last slash; merging the lines
// gives the table a model of the merge rule gives.
#include <cmath>
#include <limits>

#include "checks.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/io.h"
#include "oracle.h"

namespace kestrix::fuzz {
namespace {

double model_size(std::string_view s) {
  if (auto v = ref_float(s)) return *v;
  if (s.empty()) return 0.0;
  std::size_t last = s.size() - 1;
  while (last > 0 && (static_cast<unsigned char>(s[last]) & 0xC0) == 0x80) --last;
  const std::string_view unit = s.substr(last);
  double factor = 0.0;
  if (unit == "K" || unit == "k") factor = 1024.0;
  else if (unit == "M" || unit == "m") factor = 1048576.0;
  else if (unit == "G" || unit == "g") factor = 1073741824.0;
  else return 0.0;
  return ref_float(s.substr(0, last)).value_or(0.0) * factor;
}

std::pair<std::string, std::int64_t> model_restriction(std::string_view s) {
  if (s.empty() || s == "-") return {"-", 0};
  std::string cause = s.find("cpu") != std::string_view::npos     ? "cpu"
                      : s.find("read") != std::string_view::npos  ? "read"
                      : s.find("write") != std::string_view::npos ? "write"
                                                                  : "unknown";
  const auto slash = s.rfind('/');
  const std::string_view time = slash == std::string_view::npos ? s : s.substr(slash + 1);
  return {cause, ref_signed(time, std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max())
                     .value_or(0)};
}

// "a/b/...": the first value when above 0, else the second (0 when absent).
template <class Read>
double pair_value(std::string_view field, Read&& read) {
  const auto slash = field.find('/');
  const double a = read(field.substr(0, slash));
  if (a > 0) return a;
  if (slash == std::string_view::npos) return read(std::string_view("0"));
  const std::string_view rest = field.substr(slash + 1);
  return read(rest.substr(0, rest.find('/')));
}

// The table the merge rule gives. A user met for the first time takes his
// line as it is; after that a line wins on CPU, else on I/O.
core::DbUsageTable model_merge(core::DbUsageTable table, std::string_view output) {
  const auto lines = ref_lines(output);
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const auto f = ref_fields(lines[n]);
    if (f.size() < 5) continue;
    core::DbWardStats line;
    line.cpu = pair_value(f[1], [](std::string_view s) { return ref_float(s).value_or(0.0); });
    line.io = pair_value(f[2], model_size) + pair_value(f[3], model_size);
    std::tie(line.cause_of_restrict, line.time_of_restrict) = model_restriction(f[4]);
    auto it = table.find(std::string(f[0]));
    if (it == table.end()) table.emplace(std::string(f[0]), line);
    else if (line.cpu > it->second.cpu || line.io > it->second.io) it->second = line;
  }
  return table;
}

bool same_table(const core::DbUsageTable& a, const core::DbUsageTable& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, x] : a) {
    auto it = b.find(name);
    if (it == b.end()) return false;
    const auto& y = it->second;
    if (!same_double(x.cpu, y.cpu) || !same_double(x.io, y.io) ||
        x.cause_of_restrict != y.cause_of_restrict || x.time_of_restrict != y.time_of_restrict)
      return false;
  }
  return true;
}

// A table as the usage file could have left it.
core::DbUsageTable starting_table() {
  core::DbUsageTable t;
  t["bob"] = core::DbWardStats{30.0, 100.0, "cpu", 900};
  t["eve"] = core::DbWardStats{};
  return t;
}

}  // namespace

const char* check_dbpeek_output(std::string_view text) {
  // Each line's fields are sizes and restrictions in their own right.
  if (is_utf8(text)) {
    for (std::string_view line : ref_lines(text)) {
      for (std::string_view field : ref_fields(line)) {
        if (!same_double(core::parse_size(field), model_size(field)))
          return "parse_size differs from strtod and the unit rule";
        if (core::parse_restriction(field) != model_restriction(field))
          return "parse_restriction differs from the rule";
      }
    }
  }
  core::DbUsageTable table = starting_table();
  core::merge_dbpeek_output(table, text);
  for (const auto& [name, stats] : table)
    if (!is_utf8(name) || !is_utf8(stats.cause_of_restrict)) return "merged text is not UTF-8";
  if (!is_utf8(text)) return nullptr;  // replaced bytes: only what holds for any text
  return same_table(table, model_merge(starting_table(), text)) ? nullptr
                                                                : "merged table differs";
}

}  // namespace kestrix::fuzz
