#include <string>
#include <vector>

#include "driver.h"

int main(int argc, char** argv) {
  return kestrix::cli::run(std::vector<std::string>(argv, argv + argc));
}
