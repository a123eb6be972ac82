#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "model/packet_record.h"

// Texts of one packet record: its decoded header block, its data as text or
// hex dump, and a one-line summary. Texts are 8-bit byte strings with CR LF
// line ends; payload bytes are copied unchanged except for the replacements
// each rendering names.
//
// The caller holds the traffic lock for the record. `quit` is the program's
// quit flag (CAppState::quit): the byte loops stop early once it is set and
// return what they built so far. Allocation failure propagates as
// std::bad_alloc; callers that must go on catch it.

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
// Flags line, the "=" line and one empty line.
std::string RenderHeaderBlock(const CPacketRecord& r);
void AppendHeaderBlock(std::string& out, const CPacketRecord& r);

// The data bytes kept, with NUL, BEL, BS, VT and FF shown as "."; a header-only
// record, or one that kept fewer bytes than its header claims, says so.
std::string RenderDataText(const CPacketRecord& r, const std::atomic<int>& quit);
void AppendDataText(std::string& out, const CPacketRecord& r, const std::atomic<int>& quit);

// 16 bytes a line: offset, hex bytes, characters; ends with an empty line.
std::string RenderHexDump(const CPacketRecord& r, const std::atomic<int>& quit);
void AppendHexDump(std::string& out, const CPacketRecord& r, const std::atomic<int>& quit);

// At most 80 bytes of the data up to the first NUL, CR or LF; "(Header Only)"
// for a header-only record.
std::string RenderDataSummary(const CPacketRecord& r, const std::atomic<int>& quit);
