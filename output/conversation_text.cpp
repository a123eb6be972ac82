#include "output/conversation_text.h"

#include <new>
#include <vector>

#include "output/packet_text.h"

std::string RenderConversationText(std::span<const CPacketRef> records,
                                   const CTextOptions& options, const CCancelToken& cancel,
                                   std::string_view remoteName) {
  std::string out;
  for (const CPacketRef& r : records) {
    if (cancel.Cancelled()) break;
    if (options.headers) AppendHeaderBlock(out, *r, remoteName);
    if (options.data) {
      if (options.hex) {
        AppendHexDump(out, *r, cancel);
      } else {
        AppendDataText(out, *r, cancel);
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

std::string RenderRecentPackets(std::span<const CPacketRef> recent, const CCancelToken& cancel) {
  // Walked newest first so the limit drops the oldest packets; the pieces
  // are joined once at the end, oldest first, instead of prepending each.
  std::vector<std::string> pieces;
  std::size_t total = 0;
  try {
    for (auto it = recent.rbegin(); it != recent.rend(); ++it) {
      if (cancel.Cancelled()) break;
      std::string piece;
      AppendHeaderBlock(piece, **it);
      AppendDataText(piece, **it, cancel);
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
