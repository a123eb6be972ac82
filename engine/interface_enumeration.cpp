#include "engine/interface_enumeration.h"

#include <pcap/pcap.h>
#include <sys/socket.h>
#include <netinet/in.h>

#include <algorithm>
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

// Linux names the capture devices that see no IP traffic after their kind;
// they would only bury the network devices in a long list.
bool CarriesIp(const std::string& name) {
  for (const char* prefix : {"bluetooth", "dbus", "nflog", "nfqueue", "usbmon"}) {
    if (name.rfind(prefix, 0) == 0) return false;
  }
  return true;
}

// One record per device, in chain order, labelled with the bare text.
void AppendDevices(const pcap_if_t* devices, std::vector<std::unique_ptr<CInterfaceRecord>>& list) {
  for (const pcap_if_t* d = devices; d != nullptr; d = d->next) {
    const char* name = d->name != nullptr ? d->name : "";
    auto record = std::make_unique<CInterfaceRecord>();
    record->label = d->description != nullptr ? d->description : name;
    record->deviceName = name;
    record->carriesIp = CarriesIp(record->deviceName);
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
        record->AddAddress(CIpAddr::V6(bytes));
      }
    }
    if ((d->flags & PCAP_IF_LOOPBACK) != 0) record->AddAddress(127, 0, 0, 1);
    list.push_back(std::move(record));
  }
}

}  // namespace

void BuildInterfaceList(const pcap_if_t* devices,
                        std::vector<std::unique_ptr<CInterfaceRecord>>& list) {
  const std::size_t first = list.size();
  // Devices without IP go last and the positions follow the new order; done
  // also when memory runs out part way, so that the records kept are whole.
  const auto arrange = [&list, first] {
    const auto begin = list.begin() + static_cast<std::ptrdiff_t>(first);
    std::stable_partition(begin, list.end(), [](const auto& r) { return r->carriesIp; });
    int position = 1;
    for (auto it = begin; it != list.end(); ++it, ++position) {
      (*it)->label = Label(position, (*it)->label.c_str());
    }
  };
  try {
    AppendDevices(devices, list);
  } catch (...) {
    arrange();
    throw;
  }
  arrange();
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
