// Whether this process verifiably runs in the initial user namespace.
#pragma once

#include <string_view>

namespace kestrix::core {

// Reads /proc/self/uid_map through descriptors proven to be procfs and the
// directory procfs itself lists for this process. Any doubt gives false.
bool check_initial_user_namespace();

// True when `uid_map` holds exactly one non-blank line "0 0 4294967295".
bool uid_map_is_initial(std::string_view uid_map);

}  // namespace kestrix::core
