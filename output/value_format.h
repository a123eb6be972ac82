#pragma once
#include <cstdint>
#include <string>

#include "wire/ip_address.h"
#include "wire/time_stamp.h"

// The formatters through which every list, packet text, log file and export
// writes protocol names, addresses, times and traffic amounts. All are pure
// functions of their arguments (the clock ones read the process's local time
// zone) and may be called from any thread.

// "IGMP", "IP", "TCP" or "UDP" for 2, 4, 6 and 17; empty for anything else.
std::string ProtocolName(uint16_t protocol);

// "a.b.c.d" for IPv4, first octet first; the RFC 5952 text (inet_ntop) for
// IPv6.
std::string FormatAddress(const CIpAddr& address);

// "a.b.c.d:port" for IPv4, "[addr]:port" for IPv6.
std::string FormatEndpoint(const CIpAddr& address, uint16_t port);

// Local "HH:MM:SS.uuuuuu"; empty when the seconds are before 1970.
std::string FormatClockTime(CTimeStamp time);

// Local "YYYY-MM-DD"; empty when the seconds are before 1970.
std::string FormatDate(int64_t seconds);

// later - earlier as "s.uuuuuu".
std::string FormatElapsed(CTimeStamp later, CTimeStamp earlier);

// Bytes scaled at powers of ten, divided by powers of two: "n", "n KB",
// "n MB", "n GB".
std::string FormatByteCount(int64_t count);

// Like FormatByteCount with the units "K", "M" and "G".
std::string FormatShortCount(int64_t count);

// The local time `seconds` as "yymmdd_HHMMSS", for log file names.
std::string FormatFileStamp(int64_t seconds);
// The same for the current wall-clock time.
std::string FormatFileStamp();
