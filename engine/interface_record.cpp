#include "engine/interface_record.h"

#include <cstdio>

int CInterfaceRecord::Direction(const CIpAddr& source, const CIpAddr& destination) const {
  for (const CIpAddr& a : addresses) {
    if (a == source) return 1;
    if (a == destination) return 2;
  }
  if (source == kLoopbackAddr) return 1;
  if (destination == kLoopbackAddr) return 2;
  return 0;
}

std::string CInterfaceRecord::AddressListing() const {
  std::string text;
  for (const CIpAddr& a : addresses) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d  ", a[0], a[1], a[2], a[3]);
    text += buf;
  }
  return text;
}
