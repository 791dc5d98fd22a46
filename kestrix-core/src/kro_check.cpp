#include "kestrix/core/kro_check.h"

#include "kestrix/log.h"
#include "kestrix/plugins/helper_runner.h"
#include "kestrix/text.h"
#include "kestrix/utf8.h"

namespace kestrix::core {

Result<bool> kro_supported(const std::string& helper) {
  constexpr std::string_view target = "kestrix_core::kro_check";
  const auto answer =
      plugins::run_helper(helper, {"panel-feature", "KRO"}, plugins::PNX_HELPER_TIMEOUT_SECS);
  if (!answer && answer.error().short_of_resources()) return fail(answer.error().message());
  // Any other failure of the helper means the feature cannot be vouched for.
  if (!answer) {
    log::event(log::Level::Warn, target, [&] {
      return "KRO counted as unsupported: the helper could not be run: " + answer.error().message();
    });
    return false;
  }
  if (text::trim(*answer) != "true") {
    log::event(log::Level::Info, target, [&] {
      return "KRO counted as unsupported: the helper answered '" +
             std::string(utf8::excerpt(text::trim(*answer), 200)) + "'";
    });
    return false;
  }
  return true;
}

}  // namespace kestrix::core
