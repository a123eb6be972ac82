#pragma once
#include <memory>
#include <vector>

#include "engine/interface_record.h"

class CNotificationSink;
struct pcap_if;

// Appends one record per device of the capture library's device chain, in
// chain order except that devices which cannot carry IP traffic come last:
// label "%d. %s" (position from 1 in that order, then the description or,
// without one, the name), device name, IPv4 and IPv6 addresses in the
// library's order each once, then 127.0.0.1 for a loopback device that does
// not list it. Records built before an error (out of memory) stay in `list`.
void BuildInterfaceList(const pcap_if* devices,
                        std::vector<std::unique_ptr<CInterfaceRecord>>& list);

// Asks the capture library for its devices and appends them to `list`. A
// library error posts "Error in pcap_findalldevs: %s\n" to `sink` and leaves
// the list as it was. The device chain is always freed.
void EnumerateInterfaces(CNotificationSink& sink,
                         std::vector<std::unique_ptr<CInterfaceRecord>>& list);
