#include "driver.h"

namespace kestrix::cli {

int run(const std::vector<std::string>&) { return 0; }

}  // namespace kestrix::cli
