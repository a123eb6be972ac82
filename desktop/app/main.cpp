#include <string_view>

#include "desktop/app/desktop_main.h"
#include "desktop/app/headless_main.h"
#include "engine/capture_privileges.h"

int main(int argc, char** argv) {
  // Before any thread exists, so that none inherits capture privileges.
  CCapturePrivileges::DropEffective();
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--headless") return RunHeadless(argc, argv);
  }
  return RunDesktop(argc, argv);
}
