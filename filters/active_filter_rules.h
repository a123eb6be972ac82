#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "filters/filter_rule_list.h"
#include "wire/ip_address.h"

// The filter rule list in force, shared between the capture thread, which
// asks Passes for every packet, and the user-interface thread, which
// replaces the whole list when the filter dialog closes with OK.
//
// The list in force is immutable. Replace builds the new list, publishes it
// with one atomic store and frees the old one only after every reader that
// could have picked it up has finished. Passes takes no lock, allocates
// nothing and never waits for a writer; Replace may wait for readers.
class CActiveFilterRules {
 public:
  // Empty, Include mode: every packet passes.
  CActiveFilterRules();
  // No reader may still be inside Passes (the capture thread has stopped).
  ~CActiveFilterRules();

  CActiveFilterRules(const CActiveFilterRules&) = delete;
  CActiveFilterRules& operator=(const CActiveFilterRules&) = delete;

  // CFilterRuleList::Passes on the list in force. Any thread, any number
  // of threads at once; wait-free.
  bool Passes(const CIpAddr& addr, uint16_t port) const noexcept;

  // Makes `rules` the list in force. Readers see the old list or the new
  // one, never a mixture. Returns once the old list is freed. Must not be
  // called from inside Passes; writers are serialised among themselves.
  void Replace(CFilterRuleList rules);

  // A copy of the list in force and its mode, for display and saving.
  CFilterRuleList Snapshot() const;

  // SummaryText of the list in force: "None", "Include" or "Exclude".
  std::string SummaryText() const;

 private:
  // Waits until no reader is counted in `slot`.
  void Drain(unsigned slot) const;

  std::atomic<const CFilterRuleList*> current_;
  // Readers count themselves in the slot the epoch's low bit names. The
  // writer flips the epoch so that new readers move to the other slot,
  // which lets the slot it waits for drain even under constant traffic.
  std::atomic<unsigned> epoch_{0};
  mutable std::atomic<uint32_t> readers_[2] = {0, 0};
  mutable std::mutex writerLock_;
};
