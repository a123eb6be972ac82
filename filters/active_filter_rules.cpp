#include "filters/active_filter_rules.h"

#include <memory>
#include <thread>
#include <utility>
#include <vector>

CActiveFilterRules::CActiveFilterRules() : current_(new CInForce(CFilterRuleList())) {}

CActiveFilterRules::~CActiveFilterRules() { delete current_.load(); }

bool CActiveFilterRules::Passes(const CIpAddr& addr, uint16_t port) const noexcept {
  // All sequentially consistent: the writer's argument below needs the
  // counter increment ordered before the load of the list pointer.
  const unsigned slot = epoch_.load() & 1u;
  readers_[slot].fetch_add(1);
  const bool pass = current_.load()->list.Passes(addr, port);
  readers_[slot].fetch_sub(1);
  return pass;
}

bool CActiveFilterRules::Admit(const CIpAddr& addr, uint16_t port, uint64_t bytes) const noexcept {
  const unsigned slot = epoch_.load() & 1u;
  readers_[slot].fetch_add(1);
  CInForce& in = *current_.load();
  const std::optional<std::size_t> match = in.list.FirstMatch(addr, port);
  if (match) {
    // Relaxed: the counts order nothing; the reader slot's decrement below
    // publishes them to a writer that carries them over.
    in.counters[*match].packets.fetch_add(1, std::memory_order_relaxed);
    in.counters[*match].bytes.fetch_add(bytes, std::memory_order_relaxed);
  }
  const bool pass = in.list.PassesWith(match);
  readers_[slot].fetch_sub(1);
  return pass;
}

void CActiveFilterRules::Replace(CFilterRuleList rules) {
  auto fresh = std::make_unique<CInForce>(std::move(rules));
  std::lock_guard lock(writerLock_);
  CInForce* fresher = fresh.get();
  const std::unique_ptr<CInForce> old(current_.exchange(fresh.release()));
  // A reader that loaded `old` counted itself in some slot before that load,
  // so before the exchange. Both slots are drained after the exchange, each
  // after moving new readers away from it, hence neither can hold such a
  // reader afterwards; readers that arrive later can only load the new list.
  const unsigned first = epoch_.fetch_add(1) & 1u;
  Drain(first);
  const unsigned second = epoch_.fetch_add(1) & 1u;
  Drain(second);
  // Only now are the old counts final; the new list is already counting, so
  // they are added to it rather than copied.
  CarryCounts(*old, *fresher);
}

void CActiveFilterRules::CarryCounts(const CInForce& old, CInForce& fresh) {
  const auto oldRules = old.list.Rules();
  const auto freshRules = fresh.list.Rules();
  // A rule listed twice matches only at its first place; each old rule
  // hands its counts to one new rule at most.
  std::vector<bool> taken(oldRules.size(), false);
  for (std::size_t i = 0; i < freshRules.size(); ++i) {
    for (std::size_t j = 0; j < oldRules.size(); ++j) {
      if (taken[j] || !(oldRules[j] == freshRules[i])) continue;
      taken[j] = true;
      fresh.counters[i].packets.fetch_add(old.counters[j].packets.load(std::memory_order_relaxed),
                                          std::memory_order_relaxed);
      fresh.counters[i].bytes.fetch_add(old.counters[j].bytes.load(std::memory_order_relaxed),
                                        std::memory_order_relaxed);
      break;
    }
  }
}

void CActiveFilterRules::Drain(unsigned slot) const {
  // Readers stay a few hundred nanoseconds at most; yielding keeps the
  // wait cheap on a machine with fewer cores than busy threads.
  while (readers_[slot].load() != 0) std::this_thread::yield();
}

CFilterRuleList CActiveFilterRules::Snapshot() const {
  // Only writers change the pointer, and they hold the same lock.
  std::lock_guard lock(writerLock_);
  return current_.load()->list;
}

CFilterRuleReport CActiveFilterRules::Report() const {
  std::lock_guard lock(writerLock_);
  const CInForce& in = *current_.load();
  CFilterRuleReport report{in.list, {}};
  report.hits.resize(in.list.Count());
  for (std::size_t i = 0; i < report.hits.size(); ++i) {
    report.hits[i] = {in.counters[i].packets.load(std::memory_order_relaxed),
                      in.counters[i].bytes.load(std::memory_order_relaxed)};
  }
  return report;
}

void CActiveFilterRules::ResetCounters() {
  std::lock_guard lock(writerLock_);
  const CInForce& in = *current_.load();
  for (std::size_t i = 0; i < in.list.Count(); ++i) {
    in.counters[i].packets.store(0, std::memory_order_relaxed);
    in.counters[i].bytes.store(0, std::memory_order_relaxed);
  }
}

std::string CActiveFilterRules::SummaryText() const { return Snapshot().SummaryText(); }
