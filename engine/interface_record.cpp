#include "engine/interface_record.h"

#include "output/value_format.h"

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
  for (const CIpAddr& a : addresses) text += FormatAddress(a) + "  ";
  return text;
}
