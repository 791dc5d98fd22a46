// Whether the control panel offers the KRO feature.
#pragma once

#include <string>
#include <string_view>

#include "kestrix/error.h"
#include "kestrix/plugins/pnx.h"

namespace kestrix::core {

inline constexpr std::string_view KRO_NOTICE =
    "Command is skipped as KRO feature is not supported in current environment\n"
    "Refer to https://docs.nimbrel.dev/editions for more info\n";

// Asks the panel helper "panel-feature" "KRO"; true only for a trimmed "true".
// Fails, with the helper's message, only when the helper could not be
// started because our own process lacked descriptors, processes or memory:
// that answers nothing about the server, and must not pass for "false".
Result<bool> kro_supported(const std::string& helper = plugins::PNX_HELPER_PATH);

}  // namespace kestrix::core
