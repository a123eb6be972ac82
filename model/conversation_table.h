#pragma once
#include <cstddef>
#include <deque>
#include <memory>
#include "model/conversation.h"
#include "model/conversation_index.h"
#include "model/packet_record.h"

class CAppState;

// Files every recorded packet into its conversation, numbers conversations,
// and holds IP fragments whose conversation has not shown up yet.
// Every operation requires the traffic lock.
class CConversationTable {
 public:
  static constexpr std::size_t kMaxConversations = 2000;
  static constexpr std::size_t kTrimmedConversations = 1600;
  static constexpr std::size_t kMaxPendingFragments = 12;
  static constexpr std::size_t kTrimmedPendingFragments = 10;

  // The state supplies the ConvId counter, the host role and the quit flag.
  explicit CConversationTable(CAppState& state) : state_(state) {}
  virtual ~CConversationTable() = default;

  CConversationTable(const CConversationTable&) = delete;
  CConversationTable& operator=(const CConversationTable&) = delete;

  void FilePacket(const CPacketRef& r);

  // Deletes every conversation; pending fragments and the ConvId counter stay.
  void Clear();

  // Creation order, oldest first. ConvIds ascend along the list.
  const std::deque<std::unique_ptr<CConversation>>& Conversations() const { return conversations_; }
  const std::deque<CPacketRef>& PendingFragments() const { return pending_; }
  std::size_t Size() const { return conversations_.size(); }

  // The conversation with this ConvId, or null once it was cleared or trimmed.
  CConversation* FindById(int convId) const;

 private:
  using Key = CConversationIndex::Key;
  static Key KeyOf(const CPacketRecord& r);
  static Key KeyOf(const CConversation& c);

  // Protocol and both addresses: what a fragment must share with its
  // conversation before its identification is looked at.
  struct AddressKey {
    CIpAddr remote, local;
    uint32_t protocol;
    friend bool operator==(const AddressKey&, const AddressKey&) = default;
  };
  static AddressKey AddressKeyOf(const CPacketRecord& r) { return {r.remote, r.local, r.protocol}; }

  CConversation* FindNewest(const CPacketRecord& r, int* result);
  void AttachPending(const CPacketRecord& r, CConversation& c);
  void TrimConversations();

  CAppState& state_;
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
};
