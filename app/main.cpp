#include <string_view>

#include "app/desktop_main.h"
#include "app/headless_main.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--headless") return RunHeadless(argc, argv);
  }
  return RunDesktop(argc, argv);
}
