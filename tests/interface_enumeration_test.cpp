#include "engine/interface_enumeration.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/notification_queue.h"

namespace {

// A device chain laid out as pcap_findalldevs returns it, owned by the test.
class FakeDevices {
 public:
  pcap_if_t* Add(const char* name, const char* description, bpf_u_int32 flags = 0) {
    devices_.push_back(pcap_if_t{});
    pcap_if_t& d = devices_.back();
    d.name = const_cast<char*>(name);
    d.description = const_cast<char*>(description);
    d.flags = flags;
    if (devices_.size() > 1) devices_[devices_.size() - 2].next = &d;
    return &d;
  }

  // text nullptr: an entry without an address, as some platforms report.
  void AddAddress(pcap_if_t* device, const char* text) {
    sockaddr* address = nullptr;
    if (text != nullptr) {
      auto& storage = storage_.emplace_back(std::make_unique<sockaddr_in6>());
      const bool v6 = std::strchr(text, ':') != nullptr;
      if (v6) {
        storage->sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &storage->sin6_addr);
      } else {
        auto* in = reinterpret_cast<sockaddr_in*>(storage.get());
        in->sin_family = AF_INET;
        inet_pton(AF_INET, text, &in->sin_addr);
      }
      address = reinterpret_cast<sockaddr*>(storage.get());
    }
    pcap_addr_t& a = addresses_.emplace_back(pcap_addr_t{});
    a.addr = address;
    pcap_addr_t** tail = &device->addresses;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = &a;
  }

  const pcap_if_t* Chain() const { return devices_.empty() ? nullptr : &devices_.front(); }

 private:
  std::deque<pcap_if_t> devices_;
  std::deque<pcap_addr_t> addresses_;
  std::vector<std::unique_ptr<sockaddr_in6>> storage_;
};

using CList = std::vector<std::unique_ptr<CInterfaceRecord>>;

TEST(InterfaceEnumeration, LabelsUseTheNameWhenThereIsNoDescription) {
  FakeDevices fake;
  fake.Add("eth0", nullptr);
  fake.Add("wlan0", "Wireless adapter");
  CList list;
  BuildInterfaceList(nullptr, list);
  EXPECT_TRUE(list.empty());
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->label, "1. eth0");
  EXPECT_EQ(list[0]->deviceName, "eth0");
  EXPECT_EQ(list[1]->label, "2. Wireless adapter");
  EXPECT_EQ(list[1]->deviceName, "wlan0");
}

TEST(InterfaceEnumeration, KeepsAddressesOfBothFamiliesInTheLibrarysOrder) {
  FakeDevices fake;
  pcap_if_t* d = fake.Add("eth0", "Ethernet");
  for (const char* a : {"fe80::1", "192.0.2.10", static_cast<const char*>(nullptr), "10.1.2.3"})
    fake.AddAddress(d, a);
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 1u);
  const CIpAddr linkLocal = CIpAddr::V6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_EQ(list[0]->addresses,
            (std::vector<CIpAddr>{linkLocal, CIpAddr(192, 0, 2, 10), CIpAddr(10, 1, 2, 3)}));
  EXPECT_EQ(list[0]->AddressListing(), "fe80::1  192.0.2.10  10.1.2.3  ");
}

TEST(InterfaceEnumeration, LoopbackListsLocalhostOnce) {
  FakeDevices fake;
  pcap_if_t* lo = fake.Add("lo", nullptr, PCAP_IF_LOOPBACK | PCAP_IF_UP);
  fake.AddAddress(lo, "127.0.0.1");
  fake.AddAddress(lo, "::1");
  fake.Add("any", "Pseudo-device that captures on all interfaces");
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->AddressListing(), "127.0.0.1  ::1  ");
  EXPECT_EQ(list[1]->AddressListing(), "");
}

TEST(InterfaceEnumeration, DevicesWithoutIpComeLast) {
  FakeDevices fake;
  for (const char* name : {"bluetooth0", "eth0", "dbus-system", "nflog", "any", "nfqueue", "usbmon1", "wlan0"})
    fake.Add(name, nullptr);
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  std::vector<std::string> labels;
  for (const auto& r : list) labels.push_back(r->label + (r->carriesIp ? "" : " (no IP)"));
  EXPECT_EQ(labels, (std::vector<std::string>{"1. eth0", "2. any", "3. wlan0", "4. bluetooth0 (no IP)",
                                              "5. dbus-system (no IP)", "6. nflog (no IP)",
                                              "7. nfqueue (no IP)", "8. usbmon1 (no IP)"}));
}

// The real library: the loopback device carries 127.0.0.1 once, nothing is posted.
TEST(InterfaceEnumeration, RealLibraryListsLoopback) {
  CNotificationQueue notifications;
  std::vector<std::unique_ptr<CInterfaceRecord>> interfaces;
  EnumerateInterfaces(notifications, interfaces);
  EXPECT_TRUE(notifications.TakeAll().empty());
  bool sawLoopback = false;
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    const CInterfaceRecord& r = *interfaces[i];
    EXPECT_EQ(r.label.rfind(std::to_string(i + 1) + ". ", 0), 0u) << r.label;
    if (r.deviceName == "lo") {
      sawLoopback = true;
      EXPECT_EQ(std::count(r.addresses.begin(), r.addresses.end(), kLoopbackAddr), 1);
    }
  }
  if (!sawLoopback) GTEST_SKIP() << "no loopback device visible to the capture library";
}

}  // namespace
