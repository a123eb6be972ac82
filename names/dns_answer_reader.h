#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/ip_address.h"

class CByteReader;

// How far a DNS message could be read. Answers found before a cut or a lie
// are kept in every case but kIgnored.
enum class EDnsReadResult : uint8_t {
  kComplete,   // every record looked at was read
  kTruncated,  // the captured bytes end inside the message
  kMalformed,  // the message lies: a bad label, a pointer loop, a record that overruns
  kIgnored,    // not a NOERROR response to a standard query with one question of class IN
};

enum class EDnsAnswerKind : uint8_t {
  kAddress,  // an A or AAAA record: `address` is known as `name`
  kPointer,  // a PTR record: the reverse name asked for `address` points to `name`
};

// One address and its name as a DNS response gave it.
struct CDnsAnswer {
  EDnsAnswerKind kind = EDnsAnswerKind::kAddress;
  CIpAddr address;
  // kAddress: the name the program asked for (the question, not a CNAME
  // target); kPointer: the PTR record's target. Always a CHostName text.
  std::string name;
  uint32_t ttlSeconds = 0;  // the A, AAAA or PTR record's own TTL
};

// Reads the answers of a DNS response (the payload of a UDP datagram from
// port 53, or an answer buffer from the resolver library).
//
// Only the answer section counts, and only records that belong to the
// question: the question name itself or a name reached from it through a
// CNAME chain (at most kMaxChain links, loops cut). For an A or AAAA record
// the name returned is the question name, so a chain example.com ->
// cdn.example.net -> A 1.2.3.4 names 1.2.3.4 "example.com". A PTR record
// counts when the question is a reverse name (CReverseName).
//
// Names may be compressed; a pointer must lead strictly before the start of
// the stretch of name it continues, which rules out loops, and a name
// takes at most kMaxJumps pointers, 63 bytes a label and 255 bytes in all.
// Every read goes through CByteReader. Names that break the CHostName rule
// are dropped with their records.
//
// Over TCP a message follows a two-byte length; pass what follows it, and
// only when the whole message was captured.
//
// Cost: no allocation once the reader's buffers have grown to the largest
// message seen, apart from the answer texts; about 0.6 us of CPU for a
// response with a CNAME and two A records (about a third of the decoder's
// ProcessPacket for one segment, measured in the same run).
//
// Not thread-safe: one reader per thread (it keeps its buffers between
// calls).
class CDnsAnswerReader {
 public:
  static constexpr std::size_t kMaxRecords = 64;  // answer records looked at; the rest ignored
  static constexpr std::size_t kMaxChain = 8;     // CNAME links followed from the question
  static constexpr int kMaxJumps = 16;            // compression pointers in one name

  // Reads `message`, a DNS message starting at its header; the answers are
  // then in Answers(), in record order.
  EDnsReadResult Read(std::span<const uint8_t> message);

  // The answers of the last Read; valid until the next Read.
  std::span<const CDnsAnswer> Answers() const { return answers_; }

 private:
  enum class EStep : uint8_t { kOk, kTruncated, kMalformed };

  // A name in canonical form (lower-case wire labels, root label included)
  // stored in names_.
  struct CNameRef {
    uint32_t offset = 0;
    uint32_t length = 0;
  };

  struct CRecord {
    uint16_t type = 0;
    uint32_t ttl = 0;
    CNameRef owner;
    CNameRef target;  // CNAME and PTR
    CIpAddr address;  // A and AAAA
  };

  // Reads the name at `offset` into names_. `next` receives the offset just
  // past the name's bytes at `offset` (a pointer counts two bytes).
  EStep ReadName(CByteReader& reader, std::size_t offset, std::size_t& next, CNameRef& name);
  // Reads one answer record at `offset` (moved past it) into records_.
  EStep ReadRecord(std::span<const uint8_t> message, CByteReader& reader, std::size_t& offset);
  // Fills answers_ from records_ for the question `question`.
  void Resolve(const CNameRef& question);
  bool Same(const CNameRef& a, const CNameRef& b) const;
  std::span<const uint8_t> Wire(const CNameRef& name) const;

  std::vector<CDnsAnswer> answers_;
  std::vector<CRecord> records_;
  std::vector<uint8_t> names_;
};
