#include "kestrix/core/kro_check.h"

#include "kestrix/text.h"

namespace kestrix::core {

bool kro_supported(const std::string& helper) {
  // Any failure of the helper means the feature cannot be vouched for.
  const auto answer = plugins::run_pnx_helper({"panel-feature", "KRO"}, helper);
  return answer && text::trim(*answer) == "true";
}

}  // namespace kestrix::core
