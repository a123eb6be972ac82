#include "engine/interface_enumeration.h"

#include <pcap/pcap.h>
#include <sys/socket.h>
#include <netinet/in.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/notification_sink.h"

namespace {

struct DeviceChainFree {
  void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};

std::string Label(int position, const char* text) {
  const int n = std::snprintf(nullptr, 0, "%d. %s", position, text);
  std::string label(static_cast<std::size_t>(n), '\0');
  std::snprintf(label.data(), label.size() + 1, "%d. %s", position, text);
  return label;
}

}  // namespace

void BuildInterfaceList(const pcap_if_t* devices,
                        std::vector<std::unique_ptr<CInterfaceRecord>>& list) {
  int position = 1;
  for (const pcap_if_t* d = devices; d != nullptr; d = d->next, ++position) {
    const char* name = d->name != nullptr ? d->name : "";
    auto record = std::make_unique<CInterfaceRecord>();
    record->label = Label(position, d->description != nullptr ? d->description : name);
    record->deviceName = name;
    for (const pcap_addr_t* a = d->addresses; a != nullptr; a = a->next) {
      if (a->addr == nullptr) continue;
      if (a->addr->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, a->addr, sizeof in);
        uint8_t bytes[4];
        std::memcpy(bytes, &in.sin_addr.s_addr, 4);
        record->AddAddress(bytes[0], bytes[1], bytes[2], bytes[3]);
      } else if (a->addr->sa_family == AF_INET6) {
        // Link-local addresses too: traffic on the link uses them.
        sockaddr_in6 in6;
        std::memcpy(&in6, a->addr, sizeof in6);
        std::array<uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &in6.sin6_addr, 16);
        record->addresses.push_back(CIpAddr::V6(bytes));
      }
    }
    if ((d->flags & PCAP_IF_LOOPBACK) != 0) record->AddAddress(127, 0, 0, 1);
    list.push_back(std::move(record));
  }
}

void EnumerateInterfaces(CNotificationSink& sink,
                         std::vector<std::unique_ptr<CInterfaceRecord>>& list) {
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* raw = nullptr;
  const int status = pcap_findalldevs(&raw, errbuf);
  // Owned at once, so the chain is freed on every path, errors included.
  std::unique_ptr<pcap_if_t, DeviceChainFree> devices(raw);
  if (status == PCAP_ERROR) {
    char message[PCAP_ERRBUF_SIZE + 64];
    std::snprintf(message, sizeof message, "Error in pcap_findalldevs: %s\n", errbuf);
    sink.Post(message);
    return;
  }
  BuildInterfaceList(devices.get(), list);
}
