// The command line, the input split into arguments at NUL bytes. Every
// outcome is a Cli, help or version on standard output with status 0, or a
// usage error on standard error with status 2; an accepted Cli survives a
// round trip through its own options; and where no help or version flag
// decides the outcome (which of several faults wins is the option
// library's business), the outcome is what the option rules give.
#include <algorithm>
#include <variant>

#include "checks.h"
#include "cli.h"

namespace kestrix::fuzz {
namespace {

struct Option {
  char short_name;
  std::string_view long_name;
  bool value;
};

constexpr Option OPTIONS[] = {
    {'j', "json", false},     {'\0', "hide-mysql", false}, {'u', "username", true},
    {'r', "for-reseller", true}, {'d', "domain", true},    {'m', "max", true},
    {'o', "order-by", true},
};

const Option* by_long(std::string_view name) {
  for (const auto& o : OPTIONS)
    if (o.long_name == name) return &o;
  return nullptr;
}

const Option* by_short(char c) {
  for (const auto& o : OPTIONS)
    if (o.short_name != '\0' && o.short_name == c) return &o;
  return nullptr;
}

bool same(const cli::Cli& a, const cli::Cli& b) {
  return a.json == b.json && a.hide_mysql == b.hide_mysql && a.username == b.username &&
         a.for_reseller == b.for_reseller && a.domain == b.domain && a.max == b.max &&
         a.order_by == b.order_by;
}

// Whether an argument may ask for help or version, or is the separator:
// then the model keeps out.
bool wild(std::string_view arg) {
  if (arg == "--" || arg.starts_with("--help") || arg.starts_with("--version")) return true;
  return arg.size() > 1 && arg[0] == '-' && arg[1] != '-' &&
         arg.find_first_of("hV") != std::string_view::npos;
}

// The Cli the rules give, or nothing for a usage error.
std::optional<cli::Cli> model(const std::vector<std::string>& args) {
  cli::Cli c;
  std::vector<const Option*> seen;
  auto set = [&](const Option* o, std::optional<std::string> value) {
    if (std::find(seen.begin(), seen.end(), o) != seen.end()) return false;  // given twice
    seen.push_back(o);
    const std::string_view n = o->long_name;
    if (n == "json") c.json = true;
    else if (n == "hide-mysql") c.hide_mysql = true;
    else if (n == "username") c.username = value;
    else if (n == "for-reseller") c.for_reseller = value;
    else if (n == "domain") c.domain = value;
    else if (n == "order-by") c.order_by = *value;
    else if (n == "max") {
      auto m = cli::parse_max(*value);
      if (!m) return false;
      c.max = *m;
    }
    return true;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a.starts_with("--")) {
      const std::string_view body = a.substr(2);
      const std::size_t eq = body.find('=');
      const Option* o = by_long(body.substr(0, eq));
      if (!o) return std::nullopt;
      std::optional<std::string> value;
      if (eq != std::string_view::npos) {
        if (!o->value) return std::nullopt;  // a flag takes no value
        value = std::string(body.substr(eq + 1));
      } else if (o->value) {
        if (++i == args.size()) return std::nullopt;  // missing value
        value = args[i];
      }
      if (!set(o, value)) return std::nullopt;
    } else if (a.size() > 1 && a[0] == '-') {
      for (std::size_t k = 1; k < a.size(); ++k) {
        const Option* o = by_short(a[k]);
        if (!o) return std::nullopt;
        if (!o->value) {
          if (!set(o, std::nullopt)) return std::nullopt;
          continue;
        }
        std::string value(a.substr(k + 1));
        if (value.empty()) {
          if (++i == args.size()) return std::nullopt;
          value = args[i];
        }
        if (!set(o, value)) return std::nullopt;
        break;
      }
    } else {
      return std::nullopt;  // no positional arguments
    }
  }
  return c;
}

// The options that give `c`, long form with "=" or short form apart.
std::vector<std::string> options_for(const cli::Cli& c, bool long_form) {
  std::vector<std::string> out{"nimbrel-top"};
  if (c.json) out.push_back(long_form ? "--json" : "-j");
  if (c.hide_mysql) out.push_back("--hide-mysql");
  auto add = [&](std::string_view name, char short_name, const std::string& value) {
    if (long_form) {
      out.push_back("--" + std::string(name) + "=" + value);
    } else {
      out.push_back(std::string{'-', short_name});
      out.push_back(value);
    }
  };
  if (c.username) add("username", 'u', *c.username);
  if (c.for_reseller) add("for-reseller", 'r', *c.for_reseller);
  if (c.domain) add("domain", 'd', *c.domain);
  add("max", 'm', std::to_string(c.max));
  add("order-by", 'o', c.order_by);
  return out;
}

}  // namespace

const char* check_command_line(std::string_view input) {
  std::vector<std::string> args{"/usr/bin/nimbrel-top"};
  for (std::size_t start = 0; start <= input.size() && !input.empty();) {
    const std::size_t nul = std::min(input.find('\0', start), input.size());
    args.emplace_back(input.substr(start, nul - start));
    start = nul + 1;
  }
  const auto result = cli::parse(args);
  if (const auto* exit = std::get_if<cli::ParseExit>(&result)) {
    if (exit->status == 0 && (exit->out.empty() || !exit->err.empty()))
      return "status 0 without help or version text alone";
    if (exit->status == 2 && (exit->err.empty() || !exit->out.empty()))
      return "status 2 without a usage error alone";
    if (exit->status != 0 && exit->status != 2) return "status other than 0 or 2";
  } else {
    const auto& c = std::get<cli::Cli>(result);
    const bool dash_dash = c.username == "--" || c.for_reseller == "--" || c.domain == "--" ||
                           c.order_by == "--";
    for (bool long_form : {true, false}) {
      if (!long_form && dash_dash) continue;  // "-u --" ends the options
      const auto again = cli::parse(options_for(c, long_form));
      if (!std::holds_alternative<cli::Cli>(again) || !same(std::get<cli::Cli>(again), c))
        return "the options of an accepted command line give another result";
    }
  }
  if (std::any_of(args.begin() + 1, args.end(), [](const std::string& a) { return wild(a); }))
    return nullptr;
  const auto expected = model(args);
  const auto* got = std::get_if<cli::Cli>(&result);
  if (!expected) return got ? "accepted a command line the rules refuse" : nullptr;
  if (!got) return "refused a command line the rules accept";
  return same(*got, *expected) ? nullptr : "parsed other values than the rules give";
}

}  // namespace kestrix::fuzz
