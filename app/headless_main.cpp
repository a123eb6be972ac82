#include "app/headless_main.h"

#include <cstdio>

int RunHeadless(int, char**) {
  std::fprintf(stderr, "trafalyn: headless mode is not built yet\n");
  return 1;
}
