#pragma once
#include <optional>
#include <span>
#include <string>

#include "model/packet_record.h"
#include "names/dns_answer_reader.h"

class CHostNameService;

// The recording thread's look at names in packets, before the packet is
// recorded and outside the traffic lock:
// - the payload of a UDP datagram from port 53 is read as a DNS response,
//   and its A, AAAA (and PTR) answers name their addresses;
// - the payload of a TCP segment the local host sent is read for a TLS
//   server name or an HTTP Host header, which names the remote host and is
//   returned for its conversation. A received one would name the local
//   host (a server here), not the remote end, and is not read.
//
// Each reader keeps the DNS reader's buffers: one per recording thread.
// Without a name service it reads nothing.
class CPacketNameReader {
 public:
  explicit CPacketNameReader(CHostNameService* names) : names_(names) {}

  // The connection name `payload` carries for its conversation, if any.
  std::optional<std::string> Read(const CPacketFields& fields, std::span<const uint8_t> payload);

 private:
  CHostNameService* const names_;
  CDnsAnswerReader dns_;
};
