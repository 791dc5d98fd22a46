// How a helper ended, in the words of the failure messages.
#pragma once

#include <string>

namespace kestrix::plugins {

// "exit status: 3" or "signal: 9 (SIGKILL)" (+ " (core dumped)").
std::string status_text(int wait_status);

}  // namespace kestrix::plugins
