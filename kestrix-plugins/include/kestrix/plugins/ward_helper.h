// The warden helper: MySQL limits of a list of accounts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/plugins/arg_list.h"

namespace kestrix::plugins {

inline constexpr const char* WARD_HELPER_PATH =
    "/usr/share/kestrix3/scripts/kestrix-ward-helper";
inline constexpr std::uint64_t WARD_HELPER_TIMEOUT_SECS = 15;

struct WardLimits {
  std::optional<double> cpu;
  std::optional<double> io;
  std::optional<std::string> error;
  bool absent = false;
};

using WardLimitsMap = std::unordered_map<std::string, WardLimits>;

// Asks the helper for the limits of `names` ("limits", then every name).
// An empty list runs nothing.
Result<WardLimitsMap> ward_limits(ArgList names,
                                  const std::string& program = WARD_HELPER_PATH);

// Decodes the helper's answer.
Result<WardLimitsMap> parse_ward_limits(std::string_view answer);

}  // namespace kestrix::plugins
