#include <string_view>
#include <vector>

#include "cli/headless_run.h"
#include "engine/capture_privileges.h"

// trafalyn-cli: the headless program alone, for machines without a display.
// It takes the options of `trafalyn --headless`; "--headless" itself may be
// given or left out.
int main(int argc, char** argv) {
  // Before any thread exists, so that none inherits capture privileges.
  CCapturePrivileges::DropEffective();
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunHeadlessProgram(args);
}
