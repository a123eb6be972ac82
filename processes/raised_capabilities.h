#pragma once
#include <sys/capability.h>

#include <initializer_list>
#include <vector>

// Raises capabilities from the permitted set into the calling thread's
// effective set for the lifetime of the object, and lowers them again
// afterwards. An installation grants them as file capabilities in the
// permitted set only ("+p"), so they are in force only around the work that
// needs them, and only on the thread doing it (capabilities are per
// thread). Root already holds them; its sets are left alone.
//
// Construct and destroy on the same thread.
class CRaisedCapabilities {
 public:
  // Raises all of `caps`, or none when one of them is not permitted.
  explicit CRaisedCapabilities(std::initializer_list<cap_value_t> caps);
  ~CRaisedCapabilities();

  CRaisedCapabilities(const CRaisedCapabilities&) = delete;
  CRaisedCapabilities& operator=(const CRaisedCapabilities&) = delete;

  // True when the capabilities are in force: raised now, or root.
  bool InForce() const { return inForce_; }

  // Whether the calling thread could raise all of `caps` (root: true).
  static bool Permitted(std::initializer_list<cap_value_t> caps);

 private:
  std::vector<cap_value_t> raised_;  // what the destructor lowers
  bool inForce_ = false;
};
