#include "wire/transport_header.h"

#include "wire/byte_reader.h"

namespace {

constexpr int kMinimumTcpHeader = 20;
constexpr int kUdpHeader = 8;

}  // namespace

EReadResult ReadTcpHeader(const CIpPacket& ip, CTransportHeader& out) {
  CByteReader r(ip.bytes);
  const std::size_t at = static_cast<std::size_t>(ip.headerLength);
  out.sourcePort = r.U16(at);
  out.destinationPort = r.U16(at + 2);
  out.seq = r.U32(at + 4);
  out.ack = r.U32(at + 8);
  out.headerLength = (r.U8(at + 12) >> 4) * 4;
  out.tcpFlags = r.U8(at + 13);
  if (!r.Ok()) return EReadResult::kTruncated;
  if (out.headerLength < kMinimumTcpHeader) return EReadResult::kMalformed;
  return EReadResult::kOk;
}

EReadResult ReadUdpHeader(const CIpPacket& ip, CTransportHeader& out) {
  CByteReader r(ip.bytes);
  const std::size_t at = static_cast<std::size_t>(ip.headerLength);
  out.sourcePort = r.U16(at);
  out.destinationPort = r.U16(at + 2);
  out.headerLength = kUdpHeader;
  return r.Ok() ? EReadResult::kOk : EReadResult::kTruncated;
}
