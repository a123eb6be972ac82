// Writes settings through CSettingsStore in an endless loop, as fast as it
// can, for the test that kills it mid-write. Every value written is one the
// test can recognise as whole: numbers, and texts of a known shape. After
// the first round of writes it says "w" on standard output, so that the
// test kills it among writes rather than while it starts.
//
// Usage: settings_writer_helper FILE [FIRST]
// FIRST (default 0) is the number the values start from.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/app/settings_store.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s FILE [FIRST]\n", argv[0]);
    return 2;
  }
  CSettingsStore store(QString::fromLocal8Bit(argv[1]));
  const unsigned first = argc == 3 ? static_cast<unsigned>(std::atoi(argv[2])) : 0;
  for (unsigned i = 0;; ++i) {
    const int n = static_cast<int>((first + i) % 1000);
    store.WriteInterfaceKey(n);
    store.WriteLogDir("/var/log/trafalyn/run-" + std::to_string(n) + std::string(n % 150, 'x'));
    store.WriteFilter("10.0." + std::to_string(n % 250) + ".1:" + std::to_string(n), n % 100);
    store.WriteFilterCount(n % 101);
    store.WriteHeaderOnly(i % 2 != 0 ? "1" : "0");
    if (i == 0) (void)write(STDOUT_FILENO, "w", 1);
  }
}
