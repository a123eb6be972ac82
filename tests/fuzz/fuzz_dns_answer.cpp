// Arbitrary bytes as a DNS response payload through CDnsAnswerReader.
//
// Every answer must carry a name the host-name rule accepts unchanged, the
// answers must stay within the record bound, and a pointer answer's address
// must survive the trip through its reverse name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "names/dns_answer_reader.h"
#include "names/host_name.h"
#include "names/reverse_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static CDnsAnswerReader reader;
  const EDnsReadResult result = reader.Read(std::span<const uint8_t>(data, size));
  const auto answers = reader.Answers();
  if (result == EDnsReadResult::kIgnored && !answers.empty()) std::abort();
  if (answers.size() > CDnsAnswerReader::kMaxRecords) std::abort();
  for (const CDnsAnswer& a : answers) {
    const auto same = CHostName::FromText(a.name);
    if (!same || *same != a.name) std::abort();
    if (a.kind == EDnsAnswerKind::kPointer &&
        CReverseName::ToAddress(CReverseName::ForAddress(a.address)) != a.address)
      std::abort();
  }
  return 0;
}
