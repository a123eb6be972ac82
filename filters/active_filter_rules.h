#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "filters/filter_rule_list.h"
#include "filters/filter_rule_report.h"
#include "wire/ip_address.h"

// The filter rule list in force, shared between the capture thread, which
// asks Admit (or Passes) for every packet, and the user-interface thread,
// which replaces the whole list when the filter dialog closes with OK.
//
// The list in force is immutable. Replace builds the new list, publishes it
// with one atomic store and frees the old one only after every reader that
// could have picked it up has finished. Passes and Admit take no lock,
// allocate nothing and never wait for a writer; Replace may wait for
// readers.
//
// Each rule counts the packets and bytes it matched (it was the first rule
// to match). The counts belong to the rule, not to one list: a replacement
// list takes over the counts of every rule it keeps (same address pattern
// and port, the mode aside), so editing one rule does not zero the others.
// ResetCounters starts them all again, as a new trace should.
class CActiveFilterRules {
 public:
  // Empty, Include mode: every packet passes.
  CActiveFilterRules();
  // No reader may still be inside Passes or Admit (the capture thread has
  // stopped).
  ~CActiveFilterRules();

  CActiveFilterRules(const CActiveFilterRules&) = delete;
  CActiveFilterRules& operator=(const CActiveFilterRules&) = delete;

  // CFilterRuleList::Passes on the list in force; counts nothing. Any
  // thread, any number of threads at once; wait-free.
  bool Passes(const CIpAddr& addr, uint16_t port) const noexcept;

  // Passes, and adds the packet and its `bytes` (the IP length the header
  // claims) to the counts of the rule that matched first. The capture
  // path's call. Any thread, any number at once; wait-free (two relaxed
  // atomic additions when a rule matches).
  bool Admit(const CIpAddr& addr, uint16_t port, uint64_t bytes) const noexcept;

  // Makes `rules` the list in force. Readers see the old list or the new
  // one, never a mixture; no count is lost across the change. Returns once
  // the old list is freed. Must not be called from inside Passes or Admit;
  // writers are serialised among themselves.
  void Replace(CFilterRuleList rules);

  // A copy of the list in force and its mode, for display and saving.
  CFilterRuleList Snapshot() const;

  // The list in force with its counts, read together. A packet being
  // counted at that moment may show in its packets and not yet its bytes.
  CFilterRuleReport Report() const;

  // Zeroes the counts of every rule. Meant for the start of a trace; a
  // packet counted during the call may or may not stay counted.
  void ResetCounters();

  // SummaryText of the list in force: "None", "Include" or "Exclude".
  std::string SummaryText() const;

 private:
  struct CCounter {
    std::atomic<uint64_t> packets{0};
    std::atomic<uint64_t> bytes{0};
  };
  // A published list with one counter per rule.
  struct CInForce {
    explicit CInForce(CFilterRuleList l)
        : list(std::move(l)), counters(std::make_unique<CCounter[]>(list.Count())) {}
    const CFilterRuleList list;
    const std::unique_ptr<CCounter[]> counters;
  };

  // Waits until no reader is counted in `slot`.
  void Drain(unsigned slot) const;
  // Adds the counts of every rule of `old` that `fresh` keeps to `fresh`.
  static void CarryCounts(const CInForce& old, CInForce& fresh);

  std::atomic<CInForce*> current_;
  // Readers count themselves in the slot the epoch's low bit names. The
  // writer flips the epoch so that new readers move to the other slot,
  // which lets the slot it waits for drain even under constant traffic.
  std::atomic<unsigned> epoch_{0};
  mutable std::atomic<uint32_t> readers_[2] = {0, 0};
  mutable std::mutex writerLock_;
};
