// Who is calling, and which accounts he may see.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli.h"
#include "kestrix/error.h"

namespace kestrix::cli {

inline constexpr std::string_view NAMESPACE_DENIAL =
    "Permission denied. Caller identity cannot be verified outside the initial user namespace.";

struct Caller {
  std::string name;     // "root", the password-database name, or "unknown"
  bool is_root = false;
  bool has_entry = true;  // false: the uid has no password entry
};

// A refusal: the "result" text of the denial document.
struct Denial {
  std::string message;
};

std::string reseller_denial(std::string_view for_reseller);

// The system calls identify_caller relies on, so tests can stand in for them.
struct CallerProbe {
  unsigned uid;
  std::function<bool()> in_initial_namespace;
  std::function<std::optional<std::string>(unsigned)> name_of;
};

std::variant<Caller, Denial> identify_caller(const Cli& cli, const CallerProbe& probe);
std::variant<Caller, Denial> identify_caller(const Cli& cli);

using ResellerUsersFn = std::function<Result<std::vector<std::string>>(const std::string&)>;

// Absent: every name may be seen.
std::optional<std::vector<std::string>> allowed_names_for(const Caller& caller, const Cli& cli,
                                                          const ResellerUsersFn& reseller_users);

}  // namespace kestrix::cli
