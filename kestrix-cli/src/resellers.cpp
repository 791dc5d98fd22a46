#include "resellers.h"

#include <limits>

namespace kestrix::cli {
namespace {

// Reseller ids may carry the panel's offset on top of the uid.
constexpr std::uint64_t RESELLER_ID_OFFSET = 1000000000;

// The uid an entry's "id" stands for; empty when "id" is not a
// non-negative integer. May exceed the 32-bit uid range.
std::optional<std::uint64_t> uid_of(const nlohmann::json& entry) {
  auto it = entry.find("id");
  if (it == entry.end()) return std::nullopt;
  std::uint64_t id;
  if (it->is_number_unsigned()) {
    id = it->get<std::uint64_t>();
  } else if (it->is_number_integer() && it->get<std::int64_t>() >= 0) {
    id = static_cast<std::uint64_t>(it->get<std::int64_t>());
  } else {
    return std::nullopt;
  }
  return id >= RESELLER_ID_OFFSET ? id - RESELLER_ID_OFFSET : id;
}

}  // namespace

std::vector<nlohmann::json> shape_resellers(std::vector<nlohmann::json> resellers, bool is_root,
                                            const std::optional<std::string>& for_reseller,
                                            const NamesByUid& names_by_uid) {
  if (!is_root) return {};
  for (nlohmann::json& entry : resellers) {
    if (!entry.is_object()) continue;
    auto uid = uid_of(entry);
    if (!uid) continue;
    // An id too large for a uid must not wrap onto some real user's name.
    const auto name = *uid <= std::numeric_limits<std::uint32_t>::max()
                          ? names_by_uid.find(static_cast<std::uint32_t>(*uid))
                          : std::nullopt;
    entry["name"] = std::string(name.value_or(NOT_AVAILABLE));
  }
  if (for_reseller) {
    std::erase_if(resellers, [&](const nlohmann::json& entry) {
      if (!entry.is_object()) return true;
      auto name = entry.find("name");
      return name == entry.end() || !name->is_string() ||
             name->get_ref<const std::string&>() != *for_reseller;
    });
  }
  return resellers;
}

}  // namespace kestrix::cli
