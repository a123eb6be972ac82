#pragma once
#include <atomic>
#include <cstddef>
#include <deque>
#include <string>

#include "model/conversation.h"
#include "model/packet_record.h"

// Texts of a conversation direction and of the recent-packet list, built from
// the per-packet texts of packet_text.h. The caller holds the traffic lock for
// the whole rendering; `quit` is CAppState::quit and ends the packet walks
// early.

// Past this many characters a conversation text stops after the packet that
// crossed it and ends with kMoreDataNotShown.
inline constexpr std::size_t kConversationTextLimit = 2000000;
inline constexpr const char* kMoreDataNotShown = "\r\n(more data not shown)\r\n";
// The live text keeps packets up to the one that takes it past this many.
inline constexpr std::size_t kRecentTextLimit = 1000000;

// RenderDataSummary of the first kept packet of direction 1 (sent) or 2
// (received); empty when there is none or the direction is neither.
std::string RenderConversationSummary(const CConversation& c, int direction,
                                      const std::atomic<int>& quit);

// Every kept packet of one direction in list order: its header block when
// `withHeaders`, its data (hex dump when `asHex`, else text) when `withData`.
// Empty for a direction other than 1 or 2.
std::string RenderConversationText(const CConversation& c, int direction, int withHeaders,
                                   int withData, int asHex, const std::atomic<int>& quit);

// Header block and data text of the newest recent packets, oldest of them
// first, as many as fit kRecentTextLimit plus the one that crosses it. An
// allocation failure ends the walk with what was built so far.
std::string RenderRecentPackets(const std::deque<CPacketRef>& recent,
                                const std::atomic<int>& quit);
