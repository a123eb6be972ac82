#include "names/name_cache.h"

CNameCache::CNameCache(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {
  byAddress_.reserve(capacity_);
}

void CNameCache::Store(const CIpAddr& address, ENameSource source, std::string name,
                       Clock::time_point now, std::chrono::seconds ttl) {
  if (name.empty()) return;
  const Clock::time_point expiry =
      source == ENameSource::kConnection || ttl == kForever ? Clock::time_point::max() : now + ttl;
  std::lock_guard lock(mutex_);
  auto found = byAddress_.find(address);
  if (found != byAddress_.end()) {
    byUse_.splice(byUse_.begin(), byUse_, found->second);
  } else {
    if (byAddress_.size() >= capacity_) {
      byAddress_.erase(byUse_.back().address);
      byUse_.pop_back();
    }
    byUse_.push_front(CEntry{address, {}});
    byAddress_.emplace(address, byUse_.begin());
  }
  CSlot& slot = byUse_.front().bySource[static_cast<std::size_t>(source)];
  slot.name = std::move(name);
  slot.expiry = expiry;
}

std::optional<CCachedName> CNameCache::Lookup(const CIpAddr& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto found = byAddress_.find(address);
  if (found == byAddress_.end()) return std::nullopt;
  ENameSource source{};
  const CSlot* slot = Best(*found->second, now, &source);
  if (!slot) return std::nullopt;
  byUse_.splice(byUse_.begin(), byUse_, found->second);
  return CCachedName{slot->name, source};
}

bool CNameCache::HasName(const CIpAddr& address, Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  const auto found = byAddress_.find(address);
  ENameSource source{};
  return found != byAddress_.end() && Best(*found->second, now, &source);
}

std::size_t CNameCache::Size() const {
  std::lock_guard lock(mutex_);
  return byAddress_.size();
}

void CNameCache::Clear() {
  std::lock_guard lock(mutex_);
  byAddress_.clear();
  byUse_.clear();
}

const CNameCache::CSlot* CNameCache::Best(const CEntry& entry, Clock::time_point now,
                                          ENameSource* source) {
  for (std::size_t i = entry.bySource.size(); i-- > 0;) {
    const CSlot& slot = entry.bySource[i];
    if (!slot.name.empty() && now < slot.expiry) {
      *source = static_cast<ENameSource>(i);
      return &slot;
    }
  }
  return nullptr;
}
