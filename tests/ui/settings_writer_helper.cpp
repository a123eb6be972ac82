// Writes settings through CSettingsStore in an endless loop, as fast as it
// can, for the test that kills it mid-write. Every value written is one the
// test can recognise as whole: numbers, and texts of a known shape.
//
// Usage: settings_writer_helper FILE
#include <cstdio>
#include <string>

#include "app/settings_store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  CSettingsStore store(QString::fromLocal8Bit(argv[1]));
  for (unsigned i = 0;; ++i) {
    const int n = static_cast<int>(i % 1000);
    store.WriteInterfaceKey(n);
    store.WriteLogDir("/var/log/trafalyn/run-" + std::to_string(n) + std::string(n % 150, 'x'));
    store.WriteFilter("10.0." + std::to_string(n % 250) + ".1:" + std::to_string(n), n % 100);
    store.WriteFilterCount(n % 101);
    store.WriteHeaderOnly(i % 2 != 0 ? "1" : "0");
  }
}
