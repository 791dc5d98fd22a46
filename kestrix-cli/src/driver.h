// One run of nimbrel-top, from the first check to the printed document.
#pragma once

#include <string>
#include <vector>

namespace kestrix::cli {

// Returns the process exit status.
int run(const std::vector<std::string>& argv);

}  // namespace kestrix::cli
