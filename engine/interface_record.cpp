#include "engine/interface_record.h"

#include "output/value_format.h"

EDirection CInterfaceRecord::Direction(const CIpAddr& source, const CIpAddr& destination) const {
  for (const CIpAddr& a : addresses) {
    if (a == source) return EDirection::kSent;
    if (a == destination) return EDirection::kReceived;
  }
  if (source == kLoopbackAddr || source == kLoopbackAddr6) return EDirection::kSent;
  if (destination == kLoopbackAddr || destination == kLoopbackAddr6) return EDirection::kReceived;
  return EDirection::kNone;
}

std::string CInterfaceRecord::AddressListing() const {
  std::string text;
  for (const CIpAddr& a : addresses) text += FormatAddress(a) + "  ";
  return text;
}
