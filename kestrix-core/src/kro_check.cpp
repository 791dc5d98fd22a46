#include "kestrix/core/kro_check.h"

#include "utf8_text.h"

namespace kestrix::core {

bool kro_supported(const std::string& helper) {
  // Any failure of the helper means the feature cannot be vouched for.
  const auto answer = plugins::run_pnx_helper({"panel-feature", "KRO"}, helper);
  return answer && trim_space(*answer) == "true";
}

}  // namespace kestrix::core
