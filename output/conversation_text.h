#pragma once
#include <cstddef>
#include <deque>
#include <span>
#include <string>
#include <string_view>

#include "model/cancel_token.h"
#include "model/conversation_snapshot.h"
#include "model/packet_record.h"

// Texts of a conversation direction and of the recent-packet list, built from
// the per-packet texts of packet_text.h. The records are the caller's copies
// of filed records (see packet_text.h); `cancel` ends the packet walks early.

// Past this many characters a conversation text stops after the packet that
// crossed it and ends with kMoreDataNotShown.
inline constexpr std::size_t kConversationTextLimit = 2000000;
inline constexpr const char* kMoreDataNotShown = "\r\n(more data not shown)\r\n";
// The live text keeps packets up to the one that takes it past this many.
inline constexpr std::size_t kRecentTextLimit = 1000000;

// What a packet text shows of each packet.
struct CTextOptions {
  bool headers = true;
  bool data = true;
  bool hex = false;  // the data as a hex dump instead of text
};

// Every record of one direction in list order, as `options` say. A screen
// passes the remote end's name for the header blocks (see
// AppendHeaderBlock); files keep their bytes and pass none.
std::string RenderConversationText(std::span<const CPacketRef> records,
                                   const CTextOptions& options, const CCancelToken& cancel,
                                   std::string_view remoteName = {});

// Header block and data text of the newest recent packets, oldest of them
// first, as many as fit kRecentTextLimit plus the one that crosses it. An
// allocation failure ends the walk with what was built so far.
std::string RenderRecentPackets(std::span<const CPacketRef> recent, const CCancelToken& cancel);
