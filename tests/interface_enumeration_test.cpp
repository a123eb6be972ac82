#include "capture/interface_enumeration.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "app/core/app_state.h"

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

  void AddIpv4(pcap_if_t* device, const char* text) {
    auto in = std::make_unique<sockaddr_in>();
    in->sin_family = AF_INET;
    inet_pton(AF_INET, text, &in->sin_addr);
    Append(device, reinterpret_cast<sockaddr*>(in.get()));
    v4_.push_back(std::move(in));
  }

  void AddIpv6(pcap_if_t* device, const char* text) {
    auto in6 = std::make_unique<sockaddr_in6>();
    in6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &in6->sin6_addr);
    Append(device, reinterpret_cast<sockaddr*>(in6.get()));
    v6_.push_back(std::move(in6));
  }

  // An entry without an address, as some platforms report.
  void AddEmpty(pcap_if_t* device) { Append(device, nullptr); }

  const pcap_if_t* Chain() const { return devices_.empty() ? nullptr : &devices_.front(); }

 private:
  void Append(pcap_if_t* device, sockaddr* address) {
    addresses_.push_back(pcap_addr_t{});
    pcap_addr_t& a = addresses_.back();
    a.addr = address;
    pcap_addr_t** tail = &device->addresses;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = &a;
  }

  std::deque<pcap_if_t> devices_;
  std::deque<pcap_addr_t> addresses_;
  std::vector<std::unique_ptr<sockaddr_in>> v4_;
  std::vector<std::unique_ptr<sockaddr_in6>> v6_;
};

using CList = std::vector<std::unique_ptr<CInterfaceRecord>>;

TEST(InterfaceEnumeration, LabelsUseTheNameWhenThereIsNoDescription) {
  FakeDevices fake;
  fake.Add("eth0", nullptr);
  fake.Add("wlan0", "Wireless adapter");
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->label, "1. eth0");
  EXPECT_EQ(list[0]->deviceName, "eth0");
  EXPECT_EQ(list[1]->label, "2. Wireless adapter");
  EXPECT_EQ(list[1]->deviceName, "wlan0");
}

TEST(InterfaceEnumeration, KeepsIpv4AddressesInTheLibrarysOrder) {
  FakeDevices fake;
  pcap_if_t* d = fake.Add("eth0", "Ethernet");
  fake.AddIpv6(d, "fe80::1");
  fake.AddIpv4(d, "192.0.2.10");
  fake.AddEmpty(d);
  fake.AddIpv4(d, "10.1.2.3");
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->addresses,
            (std::vector<CIpAddr>{MakeIpAddr(192, 0, 2, 10), MakeIpAddr(10, 1, 2, 3)}));
  EXPECT_EQ(list[0]->AddressListing(), "192.0.2.10  10.1.2.3  ");
}

TEST(InterfaceEnumeration, LoopbackGetsLocalhostAppendedEvenWhenListed) {
  FakeDevices fake;
  pcap_if_t* lo = fake.Add("lo", nullptr, PCAP_IF_LOOPBACK | PCAP_IF_UP);
  fake.AddIpv4(lo, "127.0.0.1");
  fake.AddIpv6(lo, "::1");
  fake.Add("any", "Pseudo-device that captures on all interfaces");
  CList list;
  BuildInterfaceList(fake.Chain(), list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->addresses, (std::vector<CIpAddr>{kLoopbackAddr, kLoopbackAddr}));
  EXPECT_TRUE(list[1]->addresses.empty());
  EXPECT_EQ(list[1]->AddressListing(), "");
  EXPECT_EQ(list[1]->label, "2. Pseudo-device that captures on all interfaces");
}

TEST(InterfaceEnumeration, NoDevicesGiveAnEmptyList) {
  CList list;
  BuildInterfaceList(nullptr, list);
  EXPECT_TRUE(list.empty());
}

// The real library on this machine: whatever it lists, the loopback device
// carries 127.0.0.1 last, and nothing is posted.
TEST(InterfaceEnumeration, RealLibraryListsLoopback) {
  CAppState state;
  EnumerateInterfaces(state);
  EXPECT_TRUE(state.notifications.TakeAll().empty());
  bool sawLoopback = false;
  for (std::size_t i = 0; i < state.interfaces.size(); ++i) {
    const CInterfaceRecord& r = *state.interfaces[i];
    EXPECT_EQ(r.label.rfind(std::to_string(i + 1) + ". ", 0), 0u) << r.label;
    if (r.deviceName == "lo") {
      sawLoopback = true;
      ASSERT_FALSE(r.addresses.empty());
      EXPECT_EQ(r.addresses.back(), kLoopbackAddr);
    }
  }
  if (!sawLoopback) GTEST_SKIP() << "no loopback device visible to the capture library";
}

}  // namespace
