#include "model/payload_ledger.h"

void CPayloadLedger::Forget(std::size_t bytes, std::size_t records) {
  held_ -= bytes;
  live_ -= records;
}

void CPayloadLedger::Compact(int firstLiveConvId) {
  std::size_t kept = 0;
  for (std::size_t i = head_; i < entries_.size(); ++i) {
    if (entries_[i].convId >= firstLiveConvId) entries_[kept++] = entries_[i];
  }
  entries_.resize(kept);
  head_ = 0;
}
