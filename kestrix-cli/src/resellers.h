// The reseller list of the report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "selection.h"

namespace kestrix::cli {

// Emptied for anyone but root; for root every entry with a non-negative
// integer "id" gets its "name", and --for-reseller keeps only that entry.
std::vector<nlohmann::json> shape_resellers(std::vector<nlohmann::json> resellers, bool is_root,
                                            const std::optional<std::string>& for_reseller,
                                            const NamesByUid& names_by_uid);

}  // namespace kestrix::cli
