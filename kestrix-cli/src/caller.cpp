#include "caller.h"

#include <unistd.h>

#include <algorithm>

#include "kestrix/core/system_users.h"
#include "kestrix/core/user_namespace.h"
#include "kestrix/log.h"

namespace kestrix::cli {
namespace {

constexpr std::string_view UNKNOWN_NAME = "unknown";

// A non-root caller may only name himself, and only when he has a name:
// the placeholder for a missing password entry never counts as one.
bool may_name_reseller(const Caller& caller, const std::string& reseller) {
  return caller.is_root || (caller.has_entry && reseller == caller.name);
}

}  // namespace

std::string reseller_denial(std::string_view for_reseller) {
  std::string message =
      "Permission denied. Reseller can view information only about himself. Option --for-reseller=";
  message += for_reseller;
  message += " is forbidden.";
  return message;
}

std::variant<Caller, Denial> identify_caller(const Cli& cli, const CallerProbe& probe) {
  if (probe.uid == 0 && probe.in_initial_namespace()) return Caller{"root", true, true};
  // Asked again for uid 0: the first answer may have been a transient failure.
  if (!probe.in_initial_namespace()) return Denial{std::string(NAMESPACE_DENIAL)};

  std::optional<std::string> name = probe.name_of(probe.uid);
  Caller caller{name.value_or(std::string(UNKNOWN_NAME)), false, name.has_value()};
  if (cli.for_reseller && !may_name_reseller(caller, *cli.for_reseller))
    return Denial{reseller_denial(*cli.for_reseller)};
  return caller;
}

std::variant<Caller, Denial> identify_caller(const Cli& cli) {
  CallerProbe probe{
      ::getuid(),
      [] { return core::check_initial_user_namespace(); },
      [](unsigned uid) { return core::user_name_by_uid(uid); },
  };
  return identify_caller(cli, probe);
}

std::optional<std::vector<std::string>> allowed_names_for(const Caller& caller, const Cli& cli,
                                                          const ResellerUsersFn& reseller_users) {
  if (cli.for_reseller) {
    const std::string& reseller = *cli.for_reseller;
    // identify_caller refuses this already; a second guard costs nothing here.
    if (!may_name_reseller(caller, reseller)) return std::vector<std::string>{};
    std::vector<std::string> names;
    if (auto users = reseller_users(reseller)) {
      names = std::move(*users);
    } else {
      log::event(log::Level::Warn, "kestrix_cli::caller", [&] {
        return "reseller-users failed, only the reseller's own row is visible: " +
               users.error().message;
      });
    }
    if (std::find(names.begin(), names.end(), reseller) == names.end()) names.push_back(reseller);
    return names;
  }
  if (caller.is_root) return std::nullopt;
  if (!caller.has_entry) return std::vector<std::string>{};
  return std::vector<std::string>{caller.name};
}

}  // namespace kestrix::cli
