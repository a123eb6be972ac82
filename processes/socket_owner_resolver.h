#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "processes/process_owner.h"
#include "processes/socket_key.h"
#include "processes/socket_owner_news.h"
#include "processes/socket_table_reader.h"

class CProcSocketScanner;
class CRecentSocketOwners;

// Answers "which process owns the socket of these conversations" for a batch
// of keys, with one read of the socket table and at most one /proc scan, and
// watches the sockets it answered for so that it can tell when they close.
//
// Synchronous and single-threaded: the cache's look-up thread owns it. The
// parts it is given must outlive it.
class CSocketOwnerResolver {
 public:
  // `recent` may be null (no kernel tracer). `ourUid`: the effective UID of
  // this program, whose own processes can always be read.
  CSocketOwnerResolver(CSocketTableReader& table, const CProcSocketScanner& scanner,
                       CRecentSocketOwners* recent, uint32_t ourUid);

  // Appends one answer per distinct key. `nowMicros`: taken before the look-up.
  void Resolve(std::span<const CSocketKey> keys, int64_t nowMicros, std::vector<CSocketOwnerNews>& out);

  // Reads the table again; appends closing news for every watched socket
  // that has gone since, and stops watching it.
  void Refresh(int64_t nowMicros, std::vector<CSocketOwnerNews>& out);

  // True while some answered socket is still watched.
  bool Watching() const { return !watched_.empty(); }

  // What one look-up found about one key.
  struct CEvidence {
    bool tableRead = true;                  // false: the socket table could not be read
    const CSocketRecord* record = nullptr;  // the socket in the table, if any
    std::shared_ptr<const CProcessIdentity> heldBy;  // found in /proc holding it
    std::shared_ptr<const CProcessIdentity> recent;  // recorded by the tracer
    bool ownerUnreadable = false;  // some process of the socket's UID could not be read
  };
  // The answer the evidence supports; never a name that was not seen.
  static CProcessOwner Judge(const CEvidence& evidence, uint32_t ourUid);

  static constexpr std::size_t kMaxWatched = 65536;
  static constexpr std::size_t kMaxFirstPids = 32;

 private:
  struct CWatched {
    uint64_t inode = 0;
    int64_t lastSeenMicros = 0;  // start of the last table read that held it
  };
  // Remembers a PID that held a socket, to be read first next time.
  void NoteOwnerPid(int32_t pid);

  CSocketTableReader& table_;
  const CProcSocketScanner& scanner_;
  CRecentSocketOwners* recent_;
  uint32_t ourUid_;
  std::unordered_map<CSocketKey, CWatched, CSocketKeyHash> watched_;
  std::vector<int32_t> firstPids_;  // most recent first
  std::vector<CSocketRecord> records_;
  std::vector<CSocketKey> watchedKeys_;
};
