#include "output/conversation_text.h"

#include <new>
#include <vector>

#include "output/packet_text.h"

namespace {

const std::vector<CPacketRef>* DirectionList(const CConversation& c, int direction) {
  if (direction == kDirSent) return &c.sent;
  if (direction == kDirReceived) return &c.received;
  return nullptr;
}

bool Quitting(const std::atomic<int>& quit) { return quit.load(std::memory_order_relaxed) != 0; }

}  // namespace

std::string RenderConversationSummary(const CConversation& c, int direction,
                                      const std::atomic<int>& quit) {
  const std::vector<CPacketRef>* list = DirectionList(c, direction);
  if (list == nullptr || list->empty()) return {};
  return RenderDataSummary(*list->front(), quit);
}

std::string RenderConversationText(const CConversation& c, int direction, int withHeaders,
                                   int withData, int asHex, const std::atomic<int>& quit) {
  std::string out;
  const std::vector<CPacketRef>* list = DirectionList(c, direction);
  if (list == nullptr) return out;
  for (const CPacketRef& r : *list) {
    if (Quitting(quit)) break;
    if (withHeaders) AppendHeaderBlock(out, *r);
    if (withData) {
      if (asHex) {
        AppendHexDump(out, *r, quit);
      } else {
        AppendDataText(out, *r, quit);
      }
    }
    // Tested once per packet: the text may pass the limit by one packet.
    if (out.size() > kConversationTextLimit) {
      out += kMoreDataNotShown;
      break;
    }
  }
  return out;
}

std::string RenderRecentPackets(const std::deque<CPacketRef>& recent,
                                const std::atomic<int>& quit) {
  // Walked newest first so the limit drops the oldest packets; the pieces
  // are joined once at the end, oldest first, instead of prepending each.
  std::vector<std::string> pieces;
  std::size_t total = 0;
  try {
    for (auto it = recent.rbegin(); it != recent.rend(); ++it) {
      if (Quitting(quit)) break;
      std::string piece;
      AppendHeaderBlock(piece, **it);
      AppendDataText(piece, **it, quit);
      total += piece.size();
      pieces.push_back(std::move(piece));
      if (total > kRecentTextLimit) break;
    }
  } catch (const std::bad_alloc&) {
    // What was built so far is shown.
  }
  std::string out;
  out.reserve(total);
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) out += *it;
  return out;
}
