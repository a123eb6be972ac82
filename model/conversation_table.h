#pragma once
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "model/cancel_token.h"
#include "model/conversation.h"
#include "model/conversation_index.h"
#include "model/packet_record.h"
#include "model/payload_ledger.h"

// Files every recorded packet into its conversation, numbers conversations
// (from 1; the numbers run on across Clear), and holds IP fragments whose
// conversation has not shown up yet.
//
// A first fragment carries its transport header and is filed like a whole
// packet. A later fragment (offset above 0, no ports) joins the newest
// conversation of its protocol and addresses whose records of its own
// direction hold its identification; otherwise it waits among the pending
// fragments until a packet of the same identification, protocol, addresses
// and direction is filed.
//
// A conversation becomes final once: when the next exchange closes it, when
// trimming drops it, at Clear, and at FinishAll (the end of a trace or a
// replay). Each time, the final listener receives its snapshot. A late
// fragment that joins a final conversation updates it without a second
// announcement.
//
// Every operation requires the traffic lock; the listener runs with it held
// and must only copy what it needs.
class CConversationTable {
 public:
  static constexpr std::size_t kMaxConversations = 2000;
  static constexpr std::size_t kTrimmedConversations = 1600;
  static constexpr std::size_t kMaxPendingFragments = 12;
  static constexpr std::size_t kTrimmedPendingFragments = 10;

  using FinalListener = std::function<void(const CConversationSnapshot&)>;
  // Asked before each snapshot is made; false spares making one nobody reads.
  using FinalWanted = std::function<bool()>;

  // `cancel` ends a fragment's search and trimming early; it must outlive
  // the table.
  explicit CConversationTable(const CCancelToken& cancel) : cancel_(cancel) {}

  CConversationTable(const CConversationTable&) = delete;
  CConversationTable& operator=(const CConversationTable&) = delete;

  void SetFinalListener(FinalListener listener, FinalWanted wanted = {}) {
    onFinal_ = std::move(listener);
    finalWanted_ = std::move(wanted);
  }

  // The lookup of a packet's conversation, started before its record is
  // made (see Prefetch).
  class CLookAhead {
   private:
    friend class CConversationTable;
    CConversationIndex::Key key_{};
    CConversation* newest_ = nullptr;
    bool found_ = false;
  };

  // Files the record with `role`, the host role in force.
  void FilePacket(const CPacketRef& r, EHostRole role) { FilePacket(r, role, nullptr); }
  // The same with the lookup that Prefetch and Find made for the record's
  // fields; the table must not have changed since.
  void FilePacket(const CPacketRef& r, EHostRole role, const CLookAhead& ahead) {
    FilePacket(r, role, &ahead);
  }

  // The index slot and the conversation of a packet are mostly out of the
  // cache. Their reads start here, so that they overlap the work before the
  // packet is filed: Prefetch asks for the slot, Find (a little later) reads
  // it and asks for the conversation it leads to. Only reads.
  CLookAhead Prefetch(const CPacketFields& f) const;
  void Find(CLookAhead& ahead) const;

  // Deletes every conversation; pending fragments and the ConvId counter stay.
  void Clear();

  // Makes every conversation final (closed).
  void FinishAll();

  // Releases the payload of the oldest kept records, oldest first, until
  // the kept records hold at most `limit` bytes of payload (see
  // CPayloadLedger). Their headers, counters and times stay, and so do the
  // conversations' summaries.
  void ReleasePayload(std::size_t limit) {
    if (ledger_.HeldBytes() > limit) ReleaseOldest(limit);
  }
  // Payload bytes the kept records hold, and bytes released so far.
  uint64_t PayloadHeld() const { return ledger_.HeldBytes(); }
  uint64_t PayloadReleased() const { return ledger_.ReleasedBytes(); }

  // Creation order, oldest first. ConvIds ascend along the list.
  const std::deque<std::unique_ptr<CConversation>>& Conversations() const { return conversations_; }
  const std::deque<CPacketRef>& PendingFragments() const { return pending_; }
  std::size_t Size() const { return conversations_.size(); }

  // The conversation with this ConvId, or null once it was cleared or trimmed.
  CConversation* FindById(int convId) const;
  // The conversation the last record was filed into, or null: what the
  // recording thread asks about right after filing, without a search.
  CConversation* LastFiled() const { return lastFiled_; }

 private:
  using Key = CConversationIndex::Key;
  static Key KeyOf(const CPacketFields& r);
  static Key KeyOf(const CConversation& c);

  // Protocol and both addresses: what a fragment must share with its
  // conversation before its identification is looked at.
  struct AddressKey {
    CIpAddr remote, local;
    uint32_t protocol;
    friend bool operator==(const AddressKey&, const AddressKey&) = default;
  };
  static AddressKey AddressKeyOf(const CPacketRecord& r) { return {r.remote, r.local, r.protocol}; }

  // The conversation the record belongs to, or the one it closes; null when
  // none matched or the search was cancelled (`cancelled` set).
  CConversation* FindNewest(const CPacketRecord& r, const CLookAhead* ahead,
                            CConversation::EMatch& match, bool& cancelled);
  void FilePacket(const CPacketRef& r, EHostRole role, const CLookAhead* ahead);
  void AttachPending(const CPacketRecord& r, CConversation& c, EHostRole role);
  void TrimConversations();
  void ReleaseOldest(std::size_t limit);
  // c.Add(r, role), with the payload of a kept record entered in the ledger.
  void AddTo(CConversation& c, const CPacketRef& r, EHostRole role);
  // Takes the conversation's payload off the ledger before it goes away.
  void Forget(const CConversation& c) { ledger_.Forget(c.payloadHeld, c.recordsHoldingPayload); }
  int FirstLiveConvId() const;
  void Announce(const CConversation& c);
  // c.Match(r), announcing `c` when the record closes it.
  void MatchAndAnnounce(CConversation& c, const CPacketRecord& r, CConversation::EMatch& match);

  const CCancelToken& cancel_;
  FinalListener onFinal_;
  FinalWanted finalWanted_;
  int lastConvId_ = 0;
  std::deque<std::unique_ptr<CConversation>> conversations_;
  // The address key of each conversation, in the same order: a fragment's
  // newest-first search walks this compact copy and reads a conversation
  // only when its addresses are the fragment's.
  std::deque<AddressKey> addressKeys_;
  std::deque<CPacketRef> pending_;
  // The newest conversation of each endpoint key. A non-fragment matches only
  // conversations of its own key, and the newest of them answers first, so
  // this gives the same answer as searching the whole list newest first.
  CConversationIndex newestByKey_;
  CConversation* lastFiled_ = nullptr;  // null again whenever conversations go
  CPayloadLedger ledger_;
};
