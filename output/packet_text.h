#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "model/cancel_token.h"
#include "model/conversation_snapshot.h"
#include "model/packet_record.h"

// Texts of one packet record: its decoded header block, its data as text or
// hex dump, and a one-line summary. Texts are 8-bit byte strings with CR LF
// line ends; payload bytes are copied unchanged except for the replacements
// each rendering names.
//
// A record may be rendered without the traffic lock once it is filed into a
// conversation (records change no more then), or when it is a copy of the
// caller's own. `cancel` ends the byte loops early: they return what they
// built so far. Allocation failure propagates as std::bad_alloc; callers
// that must go on catch it.

// "SEND" for direction 1, "RECIEVE" otherwise.
std::string DirectionName(const CPacketRecord& r);

// "SYN", "FIN", "RST", "PUSH", "CWR", "ECE" for the bits set, in that order,
// separated by blanks. ACK and URG are never named.
std::string TcpFlagNames(uint8_t flags);

// The sender's and receiver's endpoints as "a.b.c.d:port".
std::string PacketSource(const CPacketRecord& r);
std::string PacketDestination(const CPacketRecord& r);

// The decoded header block: two empty lines, a 77-character "=" line, the
// endpoint line, the direction line, the TTL/ID (and Seq/Ack) line, for TCP a
// Flags line, the "=" line and one empty line. With a `remoteName` (a screen
// shows it; files never do), the line "Remote: a.b.c.d (name)" follows the
// endpoint line.
std::string RenderHeaderBlock(const CPacketRecord& r);
void AppendHeaderBlock(std::string& out, const CPacketRecord& r, std::string_view remoteName = {});

// The data bytes kept, with the control bytes other than TAB, CR and LF (and
// DEL) shown as "."; a header-only record, one whose data was released to
// stay within the memory limit, or one that kept fewer bytes than its header
// claims, says so.
std::string RenderDataText(const CPacketRecord& r, const CCancelToken& cancel);
void AppendDataText(std::string& out, const CPacketRecord& r, const CCancelToken& cancel);

// 16 bytes a line: offset, hex bytes, characters (control bytes and DEL as
// blanks); ends with an empty line.
std::string RenderHexDump(const CPacketRecord& r, const CCancelToken& cancel);
void AppendHexDump(std::string& out, const CPacketRecord& r, const CCancelToken& cancel);

// At most 80 bytes of the data up to the first NUL, CR or LF, the other
// control bytes but TAB (and DEL) shown as "."; "(Header Only)" for a
// header-only record; empty when the direction has no record.
std::string RenderDataSummary(const CDataStart& start);
