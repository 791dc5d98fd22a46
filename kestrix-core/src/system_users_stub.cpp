// Temporary: stands in for the password-database lookup until it lands.
#include "kestrix/core/system_users.h"

namespace kestrix::core {

std::optional<std::string> user_name_by_uid(std::uint32_t uid) {
  if (uid == 0) return "root";
  return std::nullopt;
}

}  // namespace kestrix::core
