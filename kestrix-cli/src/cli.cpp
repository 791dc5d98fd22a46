#include "cli.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include <CLI/CLI.hpp>

#include "kestrix/text.h"
#include "option_table.h"

namespace kestrix::cli {
namespace {

constexpr std::string_view PROGRAM_NAME = "nimbrel-top";
constexpr std::string_view VERSION_TEXT = "nimbrel-top 3.0.0";

const OptionSpec* find_long(std::string_view name) {
  for (const auto& o : OPTION_TABLE)
    if (o.long_name == name) return &o;
  return nullptr;
}

const OptionSpec* find_short(char c) {
  for (const auto& o : OPTION_TABLE)
    if (o.short_name != '\0' && o.short_name == c) return &o;
  return nullptr;
}

// The two textual rewrites CLI11 needs to follow the option syntax we promise:
// "--username=" means the empty text (CLI11 would take the next argument),
// and a flag never takes a value (CLI11 would accept "--json=true").
// A "-" inside a bundle is refused here: CLI11 would read the rest of the
// bundle as a long option ("-j-max=5" as "-j --max=5", "-j-" as "-j --").
struct Refused {
  std::string arg;
  bool flag_with_value;  // else an argument nobody declared
};

// Returns the rewritten arguments, or the argument it refuses.
std::variant<std::vector<std::string>, Refused> rewrite_args(
    const std::vector<std::string>& args) {
  std::vector<std::string> out;
  out.reserve(args.size() + 1);
  bool value_pending = false;
  bool after_separator = false;
  for (const std::string& arg : args) {
    if (after_separator || value_pending) {
      out.push_back(arg);
      value_pending = false;
      continue;
    }
    if (arg == "--") {
      after_separator = true;
    } else if (arg.starts_with("--")) {
      std::string_view body = std::string_view(arg).substr(2);
      std::size_t eq = body.find('=');
      const OptionSpec* opt = find_long(body.substr(0, eq));
      if (opt != nullptr && eq == std::string_view::npos) {
        value_pending = opt->takes_value();
      } else if (opt != nullptr && !opt->takes_value()) {
        return Refused{"--" + std::string(opt->long_name), true};
      } else if (opt != nullptr && eq + 1 == body.size()) {
        out.push_back("--" + std::string(opt->long_name));
        out.emplace_back();
        continue;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      // Bundled short options: flags run on, a value option takes the rest.
      for (std::size_t i = 1; i < arg.size(); ++i) {
        if (arg[i] == '-') return Refused{arg, false};
        const OptionSpec* opt = find_short(arg[i]);
        if (opt == nullptr) break;
        if (opt->takes_value()) {
          value_pending = i + 1 == arg.size();
          break;
        }
      }
    }
    out.push_back(arg);
  }
  return out;
}

std::string display_name(const std::vector<std::string>& argv) {
  if (argv.empty()) return std::string(PROGRAM_NAME);
  std::string_view path = argv.front();
  std::size_t slash = path.rfind('/');
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last.empty() ? std::string(PROGRAM_NAME) : std::string(last);
}

ParseExit exit_for(const CLI::App& app, const CLI::Error& e) {
  std::ostringstream out;
  std::ostringstream err;
  int code = app.exit(e, out, err);
  return ParseExit{out.str(), err.str(), code == 0 ? 0 : 2};
}

}  // namespace

std::expected<std::uint64_t, std::string> parse_max(std::string_view text) {
  auto value = text::parse_decimal<std::uint64_t>(text);
  if (!value) return std::unexpected(std::string(text::reason(value.error())));
  return *value;
}

namespace {

std::variant<Cli, ParseExit> parse_with_cli11(const std::vector<std::string>& argv) {
  Cli cli;
  std::string max_text;

  CLI::App app{"Show current KRO resource usage", display_name(argv)};
  // Recreated after the options so that help lists it last, as users expect.
  app.set_help_flag();
  const auto flag = [&](OptionId id, bool& target) {
    const OptionSpec& o = option(id);
    app.add_flag(o.cli11_names(), target, std::string(o.help))
        ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  };
  const auto value = [&](OptionId id, auto& target) {
    const OptionSpec& o = option(id);
    CLI::Option* added = app.add_option(o.cli11_names(), target, std::string(o.help))
                             ->type_name(std::string(o.value_name));
    if (!o.default_value.empty()) added->default_val(std::string(o.default_value));
    return added;
  };
  flag(OptionId::Json, cli.json);
  flag(OptionId::HideMysql, cli.hide_mysql);
  value(OptionId::Username, cli.username);
  value(OptionId::ForReseller, cli.for_reseller);
  value(OptionId::Domain, cli.domain);
  // Taken as text: CLI11's own unsigned conversion wraps "-1", saturates
  // overflow and accepts hex and blanks.
  value(OptionId::Max, max_text)
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            auto parsed = parse_max(text);
            return parsed ? std::string() : "invalid value '" + text + "': " + parsed.error();
          },
          ""));
  value(OptionId::OrderBy, cli.order_by);
  const OptionSpec& help = option(OptionId::Help);
  app.set_help_flag(help.cli11_names(), std::string(help.help));
  const OptionSpec& version = option(OptionId::Version);
  app.set_version_flag(version.cli11_names(), std::string(VERSION_TEXT),
                       std::string(version.help));

  std::vector<std::string> args(argv.begin() + (argv.empty() ? 0 : 1), argv.end());
  auto rewritten = rewrite_args(args);
  if (auto* refused = std::get_if<Refused>(&rewritten)) {
    if (refused->flag_with_value)
      return exit_for(app, CLI::ArgumentMismatch::FlagOverride(refused->arg));
    return exit_for(app, CLI::ExtrasError({refused->arg}));
  }
  args = std::move(std::get<std::vector<std::string>>(rewritten));

  try {
    // CLI11 consumes the vector from the back.
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    return exit_for(app, e);
  }

  auto max = parse_max(max_text);
  if (!max) return exit_for(app, CLI::ValidationError("--max", max.error()));
  cli.max = *max;
  return cli;
}

}  // namespace

std::variant<Cli, ParseExit> parse(const std::vector<std::string>& argv) {
  try {
    return parse_with_cli11(argv);
  } catch (const std::exception& e) {
    // Nothing but a broken declaration or exhausted memory gets here.
    return ParseExit{"", std::string(e.what()) + "\n", 2};
  }
}

}  // namespace kestrix::cli
