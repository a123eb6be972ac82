#include "app/desktop_main.h"

#include <cstdio>

int RunDesktop(int, char**) {
  std::fprintf(stderr, "trafalyn: the desktop window is not built yet; use --headless\n");
  return 1;
}
