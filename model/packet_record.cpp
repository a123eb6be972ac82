#include "model/packet_record.h"

#include <algorithm>
#include <cstring>
#include <new>

CPacketRecord::CPacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                             std::span<const uint8_t> available)
    : CPacketFields(fields), headerOnly(headerOnlyMode ? 1 : 0) {
  if (headerOnly) return;
  const int claimed = PayloadLength();
  if (claimed <= 0) return;
  const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(claimed),
                                                 available.size());
  if (want == 0) return;
  // Out of memory keeps the record without payload; the text views then
  // report the missing bytes, as they do for a frame captured short.
  payload_.reset(new (std::nothrow) uint8_t[want]);
  if (!payload_) return;
  std::memcpy(payload_.get(), available.data(), want);
  payloadSize_ = want;
}

CPacketRef MakePacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                            std::span<const uint8_t> available) {
  return std::make_shared<CPacketRecord>(fields, headerOnlyMode, available);
}
