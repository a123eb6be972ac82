#pragma once
#include <string>
#include <string_view>

#include "model/conversation_snapshot.h"

// The one CSV row of a conversation, shared by the statistics log and the
// export. Every field is enclosed in double quotes and a double quote inside
// a field is doubled, so the raw data bytes of the summary columns (commas,
// quotes, 8-bit bytes) read back as they were. Pure; any thread.

// Appends `field` enclosed in double quotes, doubling any quote inside.
void AppendCsvField(std::string& out, std::string_view field);

// Date, Time, ConvId, bytes sent, bytes received, packets sent, packets
// received, response time, sent summary, received summary; ends in CR LF.
std::string ConversationCsvRow(const CConversationSnapshot& c);
