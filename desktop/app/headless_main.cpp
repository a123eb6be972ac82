#include "desktop/app/headless_main.h"

#include <string_view>
#include <vector>

#include "cli/headless_run.h"

int RunHeadless(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunHeadlessProgram(args);
}
