// run_helper for an answer that is read as it arrives instead of kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/plugins/helper_runner.h"
#include "kestrix/utf8.h"
#include "stream_readers.h"

namespace kestrix::plugins {

// What the reader of an answer found of its bytes as a whole.
struct OutputVerdict {
  bool too_large = false;
  std::optional<utf8::Fault> utf8_fault;
};

// run_helper, with standard output handed to `read_out` on a thread of its
// own as it arrives; `read_out` must read to the end. Its verdict counts as
// run_helper's checks of the output would: a run that failed, or exited
// other than 0, fails the same way whatever the output held. The argument
// list is let go once the helper has started.
HelperResult<void> run_helper_reading(const std::string& program, ArgList args,
                                      std::uint64_t limit_secs,
                                      const std::function<OutputVerdict(ByteSource&)>& read_out);

}  // namespace kestrix::plugins
