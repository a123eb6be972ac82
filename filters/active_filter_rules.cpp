#include "filters/active_filter_rules.h"

#include <memory>
#include <thread>
#include <utility>

CActiveFilterRules::CActiveFilterRules() : current_(new CFilterRuleList()) {}

CActiveFilterRules::~CActiveFilterRules() { delete current_.load(); }

bool CActiveFilterRules::Passes(const CIpAddr& addr, uint16_t port) const noexcept {
  // All sequentially consistent: the writer's argument below needs the
  // counter increment ordered before the load of the list pointer.
  const unsigned slot = epoch_.load() & 1u;
  readers_[slot].fetch_add(1);
  const bool pass = current_.load()->Passes(addr, port);
  readers_[slot].fetch_sub(1);
  return pass;
}

void CActiveFilterRules::Replace(CFilterRuleList rules) {
  auto fresh = std::make_unique<const CFilterRuleList>(std::move(rules));
  std::lock_guard lock(writerLock_);
  const CFilterRuleList* old = current_.exchange(fresh.release());
  // A reader that loaded `old` counted itself in some slot before that load,
  // so before the exchange. Both slots are drained after the exchange, each
  // after moving new readers away from it, hence neither can hold such a
  // reader afterwards; readers that arrive later can only load the new list.
  const unsigned first = epoch_.fetch_add(1) & 1u;
  Drain(first);
  const unsigned second = epoch_.fetch_add(1) & 1u;
  Drain(second);
  delete old;
}

void CActiveFilterRules::Drain(unsigned slot) const {
  // Readers stay a few hundred nanoseconds at most; yielding keeps the
  // wait cheap on a machine with fewer cores than busy threads.
  while (readers_[slot].load() != 0) std::this_thread::yield();
}

CFilterRuleList CActiveFilterRules::Snapshot() const {
  // Only writers change the pointer, and they hold the same lock.
  std::lock_guard lock(writerLock_);
  return *current_.load();
}

std::string CActiveFilterRules::SummaryText() const { return Snapshot().SummaryText(); }
