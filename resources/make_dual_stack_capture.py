#!/usr/bin/env python3
"""Writes resources/dual_stack.pcap: a short, made-up capture of a dual-stack
workstation, seeded so that every run writes the same bytes. It reuses the
building blocks of make_sample_capture.py. Documentation addresses only:

  192.0.2.10          the workstation's IPv4 address (the local host)
  2001:db8:10::10     its global IPv6 address; fe80::10 its link-local one
  fe80::1             the router (neighbour discovery only)
  198.51.100.20       an IPv4 web server behind two VLAN tags (802.1ad + 802.1Q)
  2001:db8:20::80     an IPv6 web server, the second connection on VLAN 20
  2001:db8:53::53     an IPv6 DNS resolver (a query with a Hop-by-Hop and one
                      with a Destination Options header)
  2001:db8:30::7      a UDP service sent one datagram in two IPv6 fragments,
                      the later one first; a TCP segment in two fragments too
  2001:db8:40::4      answers with a Routing header
  2001:db8:99::1/2    two other hosts (seen, never recorded)

Also: ICMPv6 echo and neighbour discovery, an ESP packet, a No Next Header
packet and a jumbogram claim, none of which is recorded.

Usage: make_dual_stack_capture.py [--loopback] [OUTPUT]
  (default: dual_stack.pcap beside this file). With --loopback, an HTTP
  exchange over ::1 follows: the capture the IPv6 pictures of the README
  are made from.
"""

import ipaddress
import os
import random
import struct
import sys

import make_sample_capture as sample
from make_sample_capture import ACK, FIN, PSH, SYN, TcpConnection, checksum

SEED = 20260601
START = 1780300800  # 2026-06-01 08:00:00 UTC

LOCAL4 = "192.0.2.10"
LOCAL6 = "2001:db8:10::10"
LINK_LOCAL = "fe80::10"
ROUTER = "fe80::1"
WEB4, WEB6 = "198.51.100.20", "2001:db8:20::80"
DNS6, UDP6, ROUTED6 = "2001:db8:53::53", "2001:db8:30::7", "2001:db8:40::4"
OTHER_A, OTHER_B = "2001:db8:99::1", "2001:db8:99::2"

HOP_BY_HOP, ROUTING, FRAGMENT, DESTINATION, ICMP6, ESP, NO_NEXT = 0, 43, 44, 60, 58, 50, 59
LOCAL_MAC = bytes.fromhex("02000000000a")
ROUTER_MAC = bytes.fromhex("020000000001")


def is6(address):
    return ":" in address


def addr(address):
    return ipaddress.ip_address(address).packed


def padded_options(next_header, extra=b""):
    """An 8-byte Hop-by-Hop or Destination Options header: `extra` options
    and PadN up to 8 bytes."""
    body = extra
    room = 6 - len(body)
    if room == 1:
        body += b"\x00"
    elif room > 1:
        body += bytes([1, room - 2]) + b"\x00" * (room - 2)
    return bytes([next_header, 0]) + body


class DualCapture(sample.Capture):
    def __init__(self, rng):
        super().__init__(rng)
        self.now = START * 1_000_000
        self.tags = []  # (TPID, VLAN id), outermost first, for the frames being built

    def ether(self, src_ip, dst_ip, ethertype, body):
        mine = src_ip in (LOCAL4, LOCAL6, LINK_LOCAL)
        src = LOCAL_MAC if mine else ROUTER_MAC
        dst = ROUTER_MAC if mine else LOCAL_MAC
        tags = b"".join(struct.pack("!HH", tpid, vid) for tpid, vid in self.tags)
        return dst + src + tags + struct.pack("!H", ethertype) + body

    def ipv6(self, src, dst, nxt, payload, ext=(), hlim=None, plen=None):
        """An IPv6 packet; `ext` holds (type, bytes without the next-header
        byte) pairs, in order, the last of them followed by `nxt`."""
        chain = b""
        types = [t for t, _ in ext] + [nxt]
        for i, (_, body) in enumerate(ext):
            chain += bytes([types[i + 1]]) + body
        first = types[0]
        if hlim is None:
            hlim = 64 if src in (LOCAL6, LINK_LOCAL) else 57
        length = len(chain) + len(payload) if plen is None else plen
        return struct.pack("!IHBB", 0x60000000, length, first, hlim) + addr(src) + addr(dst) + chain + payload

    def transport_checksum(self, src, dst, proto, segment):
        if not is6(src):
            return super().transport_checksum(src, dst, proto, segment)
        pseudo = addr(src) + addr(dst) + struct.pack("!IxxxB", len(segment), proto)
        return checksum(pseudo + segment)

    def ip_frame(self, src, dst, proto, segment, ext=()):
        if is6(src):
            return self.ether(src, dst, 0x86DD, self.ipv6(src, dst, proto, segment, ext))
        return self.ether(src, dst, 0x0800, self.ipv4(src, dst, proto, segment))

    def udp(self, src, sport, dst, dport, payload, ext=()):
        segment = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
        csum = self.transport_checksum(src, dst, 17, segment) or 0xFFFF
        segment = segment[:6] + struct.pack("!H", csum) + segment[8:]
        self.emit(self.ip_frame(src, dst, 17, segment, ext))

    def tcp(self, src, sport, dst, dport, seq, ack, flags, payload=b"", window=64240):
        segment = struct.pack("!HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF,
                              5 << 4, flags, window, 0, 0) + payload
        csum = self.transport_checksum(src, dst, 6, segment)
        segment = segment[:16] + struct.pack("!H", csum) + segment[18:]
        self.emit(self.ip_frame(src, dst, 6, segment))

    def icmp6(self, src, dst, kind, body):
        message = bytes([kind, 0, 0, 0]) + body
        csum = self.transport_checksum(src, dst, ICMP6, message)
        message = message[:2] + struct.pack("!H", csum) + message[4:]
        self.emit(self.ether(src, dst, 0x86DD, self.ipv6(src, dst, ICMP6, message, hlim=255)))


def fetch(cap, rng, client, cport, server, pages, port=80):
    conn = TcpConnection(cap, client, cport, server, port)
    rtt = rng.randint(15000, 35000)
    conn.handshake(rtt)
    for path, size in pages:
        body = sample.body_text(rng, size, "html")
        conn.request(sample.http_request("GET", path, server if not is6(server) else "[%s]" % server),
                     rtt, rng.randint(2000, 9000), sample.http_response(body, "text/html"))
        cap.jitter(100000, 400000)
    conn.close(rtt)


def neighbour_discovery(cap):
    target = addr(ROUTER)
    cap.icmp6(LINK_LOCAL, "ff02::1:ff00:1", 135, b"\0" * 4 + target + bytes([1, 1]) + LOCAL_MAC)
    cap.jitter(200, 800)
    cap.icmp6(ROUTER, LINK_LOCAL, 136, bytes([0x60, 0, 0, 0]) + target + bytes([2, 1]) + ROUTER_MAC)


def dns6(cap, rng, name, answer, port, ext):
    ident = rng.randint(0, 0xFFFF)
    question = sample.dns_name(name) + struct.pack("!HH", 28, 1)
    cap.udp(LOCAL6, port, DNS6, 53, struct.pack("!HHHHHH", ident, 0x0100, 1, 0, 0, 0) + question,
            ext)
    cap.jitter(5000, 15000)
    record = struct.pack("!HHHIH", 0xC00C, 28, 1, 300, 16) + addr(answer)
    cap.udp(DNS6, 53, LOCAL6, port,
            struct.pack("!HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + record)


def fragmented_udp6(cap, rng):
    """A 3000-byte datagram in two fragments, the later sent first (as a
    sender may), then the service's reply."""
    data = bytes((i * 11 + 5) & 0xFF for i in range(3000))
    segment = struct.pack("!HHHH", 50100, 7001, 8 + len(data), 0) + data
    csum = cap.transport_checksum(LOCAL6, UDP6, 17, segment) or 0xFFFF
    segment = segment[:6] + struct.pack("!H", csum) + segment[8:]
    ident = rng.getrandbits(32)
    cut = 1448
    later = struct.pack("!xHI", (cut // 8) << 3, ident)
    first = struct.pack("!xHI", 1, ident)
    cap.emit(cap.ether(LOCAL6, UDP6, 0x86DD,
                       cap.ipv6(LOCAL6, UDP6, 17, segment[cut:], ((FRAGMENT, later),))))
    cap.advance(40)
    cap.emit(cap.ether(LOCAL6, UDP6, 0x86DD,
                       cap.ipv6(LOCAL6, UDP6, 17, segment[:cut], ((FRAGMENT, first),))))
    cap.jitter(3000, 7000)
    cap.udp(UDP6, 7001, LOCAL6, 50100, b"GOT 3000 BYTES\n")


def fragmented_tcp6(cap, rng):
    """One connection whose request goes out as two fragments."""
    conn = TcpConnection(cap, LOCAL6, 50200, UDP6, 8000)
    conn.handshake(20000)
    request = sample.http_request("POST", "/upload", "[%s]:8000" % UDP6,
                                  sample.body_text(rng, 1800, "json"))
    segment = struct.pack("!HHIIBBHHH", 50200, 8000, conn.cseq, conn.sseq, 5 << 4, PSH | ACK,
                          64240, 0, 0) + request
    csum = cap.transport_checksum(LOCAL6, UDP6, 6, segment)
    segment = segment[:16] + struct.pack("!H", csum) + segment[18:]
    conn.cseq += len(request)
    ident = rng.getrandbits(32)
    cut = 1232
    cap.emit(cap.ether(LOCAL6, UDP6, 0x86DD,
                       cap.ipv6(LOCAL6, UDP6, 6, segment[:cut],
                                ((FRAGMENT, struct.pack("!xHI", 1, ident)),))))
    cap.advance(30)
    cap.emit(cap.ether(LOCAL6, UDP6, 0x86DD,
                       cap.ipv6(LOCAL6, UDP6, 6, segment[cut:],
                                ((FRAGMENT, struct.pack("!xHI", (cut // 8) << 3, ident)),))))
    cap.advance(20000)
    conn.s2c(ACK)
    cap.jitter(2000, 5000)
    conn.s2c(PSH | ACK, sample.http_response(b"stored\n", "text/plain"))
    cap.jitter(200, 900)
    conn.c2s(ACK)
    conn.close(20000)


def routed_reply(cap, rng):
    """A UDP exchange whose answer carries a Routing header (type 4, no
    segments left)."""
    cap.udp(LOCAL6, 50300, ROUTED6, 4433, b"PING over a routed path")
    cap.jitter(8000, 12000)
    # Length 2 (24 bytes), type 4, no segments left, one segment.
    routing = bytes([2, 4, 0, 0, 0, 0, 0]) + b"\0" * 16
    cap.udp(ROUTED6, 4433, LOCAL6, 50300, b"PONG", ((ROUTING, routing),))


def not_recorded(cap):
    """IPv6 packets the decoder must drop."""
    cap.icmp6(LOCAL6, WEB6, 128, struct.pack("!HH", 0x77, 1) + b"ping6 data")
    cap.jitter(10000, 20000)
    cap.icmp6(WEB6, LOCAL6, 129, struct.pack("!HH", 0x77, 1) + b"ping6 data")
    cap.jitter(1000, 3000)
    cap.emit(cap.ether(LOCAL6, WEB6, 0x86DD,
                       cap.ipv6(LOCAL6, WEB6, ESP, struct.pack("!II", 0x1001, 1) + b"\x5a" * 40)))
    cap.jitter(1000, 3000)
    cap.emit(cap.ether(LOCAL6, WEB6, 0x86DD, cap.ipv6(LOCAL6, WEB6, NO_NEXT, b"")))
    cap.jitter(1000, 3000)
    # A jumbogram claim: payload length 0 behind a Hop-by-Hop header.
    jumbo = padded_options(17, bytes([0xC2, 4]) + struct.pack("!I", 70000))[1:]
    udp = struct.pack("!HHHH", 50400, 9, 0, 0) + b"jumbo"
    cap.emit(cap.ether(LOCAL6, WEB6, 0x86DD,
                       cap.ipv6(LOCAL6, WEB6, 17, udp, ((HOP_BY_HOP, jumbo),), plen=0)))
    cap.jitter(1000, 3000)
    conn = TcpConnection(cap, OTHER_A, 51000, OTHER_B, 80)
    conn.handshake(10000)
    conn.c2s(PSH | ACK, b"GET /between-others HTTP/1.1\r\n\r\n")


def build(loopback=False):
    rng = random.Random(SEED)
    cap = DualCapture(rng)
    neighbour_discovery(cap)
    cap.jitter(2000, 6000)
    sample.dns_exchange(cap, "www.example.com", WEB4, 40200)  # IPv4 DNS from the sample's resolver
    cap.jitter(1000, 3000)
    dns6(cap, rng, "www6.example.com", WEB6, 40201, ((HOP_BY_HOP, padded_options(0)[1:]),))
    cap.jitter(1000, 3000)
    fetch(cap, rng, LOCAL6, 49900, WEB6, [("/", 2600), ("/v6.css", 900)])
    cap.jitter(500000, 900000)
    cap.tags = [(0x88A8, 100), (0x8100, 10)]
    fetch(cap, rng, LOCAL4, 49901, WEB4, [("/tagged", 1700)])
    cap.tags = [(0x8100, 20)]
    fetch(cap, rng, LOCAL6, 49902, WEB6, [("/vlan20", 1200)])
    cap.tags = []
    cap.jitter(300000, 600000)
    dns6(cap, rng, "api6.example.net", UDP6, 40202, ((DESTINATION, padded_options(0)[1:]),))
    cap.jitter(100000, 300000)
    fragmented_udp6(cap, rng)
    cap.jitter(100000, 300000)
    fragmented_tcp6(cap, rng)
    cap.jitter(100000, 300000)
    routed_reply(cap, rng)
    cap.jitter(100000, 300000)
    not_recorded(cap)
    cap.jitter(1_000_000, 2_000_000)
    fetch(cap, rng, LOCAL6, 49903, WEB6, [("/again", 400)])
    if loopback:
        # A web server under test on this host, asked over ::1 (as a Linux
        # loopback capture holds it: Ethernet frames).
        cap.jitter(200000, 400000)
        fetch(cap, rng, "::1", 49904, "::1", [("/health", 300), ("/status", 700)], port=8080)
    return cap.frames


def main():
    args = sys.argv[1:]
    loopback = "--loopback" in args
    args = [a for a in args if a != "--loopback"]
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "dual_stack.pcap")
    path = args[0] if args else default
    frames = build(loopback)
    sample.write_pcap(path, frames)
    print("%s: %d frames" % (path, len(frames)))


if __name__ == "__main__":
    main()
