#include "names/dns_answer_reader.h"

#include <algorithm>
#include <array>
#include <optional>

#include "names/host_name.h"
#include "names/reverse_name.h"
#include "wire/byte_reader.h"

namespace {

constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kMaxNameBytes = 255;  // wire length, length bytes and root included
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypePtr = 12;
constexpr uint16_t kTypeAaaa = 28;
constexpr uint16_t kClassIn = 1;

uint8_t Lower(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

}  // namespace

EDnsReadResult CDnsAnswerReader::Read(std::span<const uint8_t> message) {
  answers_.clear();
  records_.clear();
  names_.clear();

  CByteReader reader(message);
  const uint16_t flags = reader.U16(2);
  const uint16_t questions = reader.U16(4);
  const uint16_t answerCount = reader.U16(6);
  if (!reader.Ok()) return EDnsReadResult::kTruncated;
  const bool response = (flags & 0x8000) != 0;
  const unsigned opcode = (flags >> 11) & 0x0F;
  const unsigned rcode = flags & 0x0F;
  if (!response || opcode != 0 || rcode != 0 || questions != 1) return EDnsReadResult::kIgnored;

  std::size_t offset = kHeaderBytes;
  CNameRef question;
  switch (ReadName(reader, offset, offset, question)) {
    case EStep::kOk:
      break;
    case EStep::kTruncated:
      return EDnsReadResult::kTruncated;
    case EStep::kMalformed:
      return EDnsReadResult::kMalformed;
  }
  const uint16_t questionClass = reader.U16(offset + 2);
  if (!reader.Ok()) return EDnsReadResult::kTruncated;
  if (questionClass != kClassIn) return EDnsReadResult::kIgnored;
  offset += 4;

  EDnsReadResult result = EDnsReadResult::kComplete;
  const std::size_t records = std::min<std::size_t>(answerCount, kMaxRecords);
  for (std::size_t i = 0; i < records; ++i) {
    const EStep step = ReadRecord(message, reader, offset);
    if (step == EStep::kTruncated) {
      result = EDnsReadResult::kTruncated;
      break;
    }
    // A record that lies about its data still has known bounds, so the
    // ones after it can be read; one that lies about its owner does not.
    if (step == EStep::kMalformed) {
      result = EDnsReadResult::kMalformed;
      if (offset == SIZE_MAX) break;
    }
  }
  Resolve(question);
  return result;
}

CDnsAnswerReader::EStep CDnsAnswerReader::ReadName(CByteReader& reader, std::size_t offset,
                                                   std::size_t& next, CNameRef& name) {
  const std::size_t start = names_.size();
  std::size_t at = offset;
  std::size_t stretchStart = offset;  // where the bytes being followed begin
  std::size_t wireBytes = 0;
  std::size_t after = SIZE_MAX;
  int jumps = 0;
  EStep step = EStep::kOk;
  for (;;) {
    const uint8_t length = reader.U8(at);
    if (!reader.Ok()) {
      step = EStep::kTruncated;
      break;
    }
    if ((length & 0xC0) == 0xC0) {
      const uint8_t low = reader.U8(at + 1);
      if (!reader.Ok()) {
        step = EStep::kTruncated;
        break;
      }
      const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | low;
      if (after == SIZE_MAX) after = at + 2;
      if (target >= stretchStart || ++jumps > kMaxJumps) {
        step = EStep::kMalformed;
        break;
      }
      stretchStart = at = target;
      continue;
    }
    // 0x40 and 0x80 are label types nobody may send any more.
    wireBytes += 1u + length;
    if ((length & 0xC0) != 0 || wireBytes > kMaxNameBytes) {
      step = EStep::kMalformed;
      break;
    }
    names_.push_back(length);
    if (length == 0) {
      if (after == SIZE_MAX) after = at + 1;
      break;
    }
    if (!reader.Has(at + 1, length)) {
      step = EStep::kTruncated;
      break;
    }
    for (uint8_t b : reader.Slice(at + 1, at + 1 + length)) names_.push_back(Lower(b));
    at += 1u + length;
  }
  if (step != EStep::kOk) {
    names_.resize(start);
    return step;
  }
  next = after;
  name.offset = static_cast<uint32_t>(start);
  name.length = static_cast<uint32_t>(names_.size() - start);
  return EStep::kOk;
}

CDnsAnswerReader::EStep CDnsAnswerReader::ReadRecord(std::span<const uint8_t> message,
                                                     CByteReader& reader, std::size_t& offset) {
  CRecord record;
  std::size_t fields = 0;
  const EStep ownerStep = ReadName(reader, offset, fields, record.owner);
  if (ownerStep != EStep::kOk) {
    offset = SIZE_MAX;
    return ownerStep;
  }
  record.type = reader.U16(fields);
  const uint16_t recordClass = reader.U16(fields + 2);
  record.ttl = reader.U32(fields + 4);
  const uint16_t dataLength = reader.U16(fields + 8);
  const std::size_t data = fields + 10;
  if (!reader.Ok() || !reader.Has(data, dataLength)) {
    offset = SIZE_MAX;
    return EStep::kTruncated;
  }
  offset = data + dataLength;
  // A TTL with the top bit set means zero.
  if (record.ttl & 0x80000000u) record.ttl = 0;
  if (recordClass != kClassIn) return EStep::kOk;

  switch (record.type) {
    case kTypeA:
      if (dataLength != 4) return EStep::kMalformed;
      record.address = CIpAddr::V4(message.subspan(data).first<4>());
      break;
    case kTypeAaaa:
      if (dataLength != 16) return EStep::kMalformed;
      record.address = CIpAddr::V6(message.subspan(data).first<16>());
      break;
    case kTypeCname:
    case kTypePtr: {
      // The target's own bytes must stay inside the record's data; its
      // pointers may reach back anywhere before it.
      CByteReader bounded(message.first(offset));
      std::size_t end = 0;
      if (ReadName(bounded, data, end, record.target) != EStep::kOk || end != offset)
        return EStep::kMalformed;
      break;
    }
    default:
      return EStep::kOk;
  }
  records_.push_back(record);
  return EStep::kOk;
}

void CDnsAnswerReader::Resolve(const CNameRef& question) {
  std::array<CNameRef, kMaxChain + 1> chain;
  std::size_t links = 0;
  chain[links++] = question;
  const auto inChain = [&](const CNameRef& name) {
    return std::any_of(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(links),
                       [&](const CNameRef& c) { return Same(c, name); });
  };
  while (links < chain.size()) {
    const auto link = std::find_if(records_.begin(), records_.end(), [&](const CRecord& r) {
      return r.type == kTypeCname && Same(r.owner, chain[links - 1]);
    });
    if (link == records_.end() || inChain(link->target)) break;
    chain[links++] = link->target;
  }

  const std::optional<std::string> asked = CHostName::FromWire(Wire(question));
  if (!asked) return;
  std::optional<std::optional<CIpAddr>> reversed;  // worked out at the first PTR record
  for (const CRecord& r : records_) {
    if (r.type == kTypeCname || !inChain(r.owner)) continue;
    CDnsAnswer answer;
    answer.ttlSeconds = r.ttl;
    if (r.type == kTypePtr) {
      if (!reversed) reversed = CReverseName::ToAddress(*asked);
      std::optional<std::string> target = CHostName::FromWire(Wire(r.target));
      if (!*reversed || !target) continue;
      answer.kind = EDnsAnswerKind::kPointer;
      answer.address = **reversed;
      answer.name = std::move(*target);
    } else {
      answer.address = r.address;
      answer.name = *asked;
    }
    answers_.push_back(std::move(answer));
  }
}

bool CDnsAnswerReader::Same(const CNameRef& a, const CNameRef& b) const {
  return std::ranges::equal(Wire(a), Wire(b));
}

std::span<const uint8_t> CDnsAnswerReader::Wire(const CNameRef& name) const {
  return std::span<const uint8_t>(names_).subspan(name.offset, name.length);
}
