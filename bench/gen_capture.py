#!/usr/bin/env python3
"""Writes a seeded, synthetic pcap file for the benchmarks.

Two mixes:

realistic  one local host (192.0.2.10) talking to 800 remote hosts over 5,000
           TCP connections cut into request/response exchanges: 85% TCP data
           (small requests, mostly full-size responses), 5% bare ACKs, 8% UDP
           (DNS, NTP, QUIC-sized datagrams), and a little ICMP, ARP and IPv6.
scan       95% of the frames open a new conversation with a new remote host
           (20,000 hosts in 198.18.0.0/15, each probe carrying a few payload
           bytes so that it is recorded); the other 5% is the realistic mix.
bulk       64,000-byte TCP segments, as loopback and GRO deliver them: 64
           connections at once, each a run of exchanges of a small request
           and a reply of 4 to 40 segments, so that every exchange is a
           conversation of its own.

Every address comes from the documentation and benchmarking ranges
(192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24, 198.18.0.0/15). The same
seed gives the same file byte for byte. Frames are packed with struct into a
buffer and written in large blocks, so two million frames take seconds.
"""

import argparse
import random
import struct
import sys

LOCAL = bytes([192, 0, 2, 10])
LOCAL_MAC = bytes([0x02, 0x00, 0x00, 0x00, 0x00, 0x0A])
GATEWAY_MAC = bytes([0x02, 0x00, 0x00, 0x00, 0x00, 0x01])
START_SEC = 1_700_000_000
FRAMES_PER_SECOND = 3000

REC = struct.Struct("<IIII")
# Ethernet + IPv4 (no options); the checksum is left 0, as offloading
# network cards hand it to the capture library.
ETH_IP = struct.Struct("!6s6sHBBHHHBBH4s4s")
TCP = struct.Struct("!HHIIBBHHH")
UDP = struct.Struct("!HHHH")
ICMP = struct.Struct("!BBHHH")
ETH = struct.Struct("!6s6sH")
ARP = struct.Struct("!HHBBH6s4s6s4s")
IP6 = struct.Struct("!IHBB16s16s")

TCP_ACK = 0x10
TCP_PSH_ACK = 0x18


def addr(a, b, c, d):
    return bytes([a, b, c, d])


def remote_hosts(count):
    """The realistic mix's peers: the three documentation ranges, then
    198.18.0.0/15 for the rest."""
    hosts = []
    for net in ((192, 0, 2), (198, 51, 100), (203, 0, 113)):
        for last in range(1, 255):
            a = addr(net[0], net[1], net[2], last)
            if a != LOCAL:
                hosts.append(a)
    i = 0
    while len(hosts) < count:
        hosts.append(addr(198, 18, 1 + i // 254, 1 + i % 254))
        i += 1
    return hosts[:count]


class Writer:
    def __init__(self, out, blob):
        self.out = out
        self.blob = blob
        self.parts = []
        self.sec = START_SEC
        self.usec = 0
        self.ident = 0
        self.frames = 0
        self.gap = 1_000_000 // FRAMES_PER_SECOND

    def tick(self, rnd):
        self.usec += 1 + int(rnd * 2 * self.gap)
        if self.usec >= 1_000_000:
            self.sec += self.usec // 1_000_000
            self.usec %= 1_000_000

    def payload(self, n, off):
        off %= len(self.blob) - n
        return self.blob[off:off + n]

    def emit(self, frame):
        n = len(frame)
        self.parts.append(REC.pack(self.sec, self.usec, n, n))
        self.parts.append(frame)
        self.frames += 1
        if len(self.parts) >= 8192:
            self.flush()

    def ipv4(self, proto, src, dst, transport, payload):
        self.ident = (self.ident + 1) & 0xFFFF
        total = 20 + len(transport) + len(payload)
        src_mac, dst_mac = (LOCAL_MAC, GATEWAY_MAC) if src == LOCAL else (GATEWAY_MAC, LOCAL_MAC)
        head = ETH_IP.pack(dst_mac, src_mac, 0x0800, 0x45, 0, total, self.ident, 0x4000,
                           64, proto, 0, src, dst)
        self.emit(head + transport + payload)

    def tcp(self, src, dst, sport, dport, seq, ack, flags, payload):
        self.ipv4(6, src, dst, TCP.pack(sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF,
                                        0x50, flags, 65535, 0, 0), payload)

    def udp(self, src, dst, sport, dport, payload):
        self.ipv4(17, src, dst, UDP.pack(sport, dport, 8 + len(payload), 0), payload)

    def icmp(self, src, dst, seq, payload):
        self.ipv4(1, src, dst, ICMP.pack(8, 0, 0, 0x1234, seq & 0xFFFF), payload)

    def arp(self, target):
        frame = ETH.pack(b"\xff" * 6, LOCAL_MAC, 0x0806) + ARP.pack(
            1, 0x0800, 6, 4, 1, LOCAL_MAC, LOCAL, b"\x00" * 6, target)
        self.emit(frame)

    def ipv6_udp(self, payload):
        src = bytes.fromhex("20010db8000000000000000000000010")
        dst = bytes.fromhex("20010db8000000000000000000000053")
        udp = UDP.pack(40000, 53, 8 + len(payload), 0)
        frame = ETH.pack(GATEWAY_MAC, LOCAL_MAC, 0x86DD) + IP6.pack(
            0x60000000, len(udp) + len(payload), 17, 64, src, dst) + udp + payload
        self.emit(frame)

    def flush(self):
        self.out.write(b"".join(self.parts))
        self.parts = []


class Connection:
    """One TCP connection of the realistic mix; it emits request/response
    exchanges while it is active."""

    __slots__ = ("remote", "lport", "rport", "local_is_client", "seq_local", "seq_remote",
                 "phase", "left", "exchanges")

    def __init__(self, remote, lport, rport, local_is_client, rng):
        self.remote = remote
        self.lport = lport
        self.rport = rport
        self.local_is_client = local_is_client
        self.seq_local = rng.getrandbits(32)
        self.seq_remote = rng.getrandbits(32)
        self.phase = 0
        self.left = 0
        self.exchanges = 0


class Realistic:
    def __init__(self, w, rng, hosts=800, connections=5000, active=48):
        self.w = w
        self.rng = rng
        self.hosts = remote_hosts(hosts)
        ports = [443] * 10 + [80] * 4 + [8080, 993, 5223, 22]
        self.conns = []
        for i in range(connections):
            # A few popular hosts carry most connections.
            h = self.hosts[min(int(rng.paretovariate(1.2)) - 1, hosts - 1)] if rng.random() < 0.5 \
                else self.hosts[rng.randrange(hosts)]
            if rng.random() < 0.9:
                c = Connection(h, 32768 + i, rng.choice(ports), True, rng)
            else:
                c = Connection(h, rng.choice((22, 80)), 40000 + i, False, rng)
            self.conns.append(c)
        self.active = [self.activate(self.conns[i]) for i in range(active)]
        self.next_conn = active
        self.resolvers = self.hosts[:4]
        self.dns_pending = []
        self.icmp_seq = 0

    def activate(self, c):
        c.exchanges = 1 + int(self.rng.random() * 4)
        self.start_exchange(c)
        return c

    def start_exchange(self, c):
        r = self.rng.random()
        c.phase = 0
        c.left = 1 if r < 0.7 else (2 if r < 0.9 else 3)

    def data_size(self, request, last):
        r = self.rng.random()
        if request:
            return 40 + int(r * 360) if r < 0.85 else 1000 + int(r * 460)
        if last or r < 0.25:
            return 20 + int(r * 480)
        return 1460

    def sender_is_local(self, c):
        # Requests go from the client to the server.
        return (c.phase == 0) == c.local_is_client

    def tcp_data(self, slot):
        c = self.active[slot]
        request = c.phase == 0
        n = self.data_size(request, c.left == 1)
        body = self.w.payload(n, self.w.frames * 131)
        if self.sender_is_local(c):
            self.w.tcp(LOCAL, c.remote, c.lport, c.rport, c.seq_local, c.seq_remote, TCP_PSH_ACK, body)
            c.seq_local += n
        else:
            self.w.tcp(c.remote, LOCAL, c.rport, c.lport, c.seq_remote, c.seq_local, TCP_PSH_ACK, body)
            c.seq_remote += n
        c.left -= 1
        if c.left > 0:
            return
        if c.phase == 0:
            c.phase = 1
            r = self.rng.random()
            c.left = 1 + int(r * r * 60)
            return
        c.exchanges -= 1
        if c.exchanges > 0:
            self.start_exchange(c)
            return
        # The burst is over: another connection takes the slot.
        self.active[slot] = self.activate(self.conns[self.next_conn % len(self.conns)])
        self.next_conn += 1

    def bare_ack(self, slot):
        c = self.active[slot]
        if self.sender_is_local(c):
            self.w.tcp(c.remote, LOCAL, c.rport, c.lport, c.seq_remote, c.seq_local, TCP_ACK, b"")
        else:
            self.w.tcp(LOCAL, c.remote, c.lport, c.rport, c.seq_local, c.seq_remote, TCP_ACK, b"")

    def udp(self):
        rng = self.rng
        if self.dns_pending and rng.random() < 0.5:
            resolver, port = self.dns_pending.pop()
            self.w.udp(resolver, LOCAL, 53, port, self.w.payload(80 + int(rng.random() * 300), port))
            return
        r = rng.random()
        if r < 0.6:
            resolver = self.resolvers[int(r * 6)]
            port = 49152 + int(rng.random() * 16000)
            self.w.udp(LOCAL, resolver, port, 53, self.w.payload(30 + int(r * 50), port))
            if len(self.dns_pending) < 64:
                self.dns_pending.append((resolver, port))
        elif r < 0.7:
            self.w.udp(LOCAL, self.hosts[5], 123, 123, self.w.payload(48, 7))
        else:
            h = self.hosts[8 + int(r * 40)]
            if rng.random() < 0.5:
                self.w.udp(LOCAL, h, 51000 + int(r * 10), 443, self.w.payload(1200 + int(r * 150), 11))
            else:
                self.w.udp(h, LOCAL, 443, 51000 + int(r * 10), self.w.payload(1200 + int(r * 150), 13))

    def other(self, r):
        if r < 0.4:
            self.icmp_seq += 1
            src, dst = (LOCAL, self.hosts[3]) if self.icmp_seq % 2 else (self.hosts[3], LOCAL)
            self.w.icmp(src, dst, self.icmp_seq, self.w.payload(56, 3))
        elif r < 0.7:
            self.w.arp(self.hosts[int(r * 100)])
        else:
            self.w.ipv6_udp(self.w.payload(40, 5))

    def frame(self):
        rng = self.rng
        r = rng.random()
        self.w.tick(rng.random())
        if r < 0.85:
            self.tcp_data(int((r / 0.85) * len(self.active)))
        elif r < 0.90:
            self.bare_ack(int(((r - 0.85) / 0.05) * len(self.active)))
        elif r < 0.98:
            self.udp()
        else:
            self.other((r - 0.98) / 0.02)


class Scan:
    """Probes that each open a conversation with a host not seen lately."""

    def __init__(self, w, rng, hosts=20000):
        self.w = w
        self.rng = rng
        self.hosts = [addr(198, 18 + (i >> 16), (i >> 8) & 0xFF, i & 0xFF) for i in range(1, hosts + 1)]
        rng.shuffle(self.hosts)
        self.base = Realistic(w, rng)
        self.n = 0

    def frame(self):
        r = self.rng.random()
        if r >= 0.95:
            self.base.frame()
            return
        self.w.tick(r)
        h = self.hosts[self.n % len(self.hosts)]
        lport = 32768 + self.n % 28000
        dport = (80, 443, 22, 25, 3389, 8080, 53, 161)[self.n % 8]
        self.n += 1
        body = self.w.payload(16 + int(r * 40), self.n)
        if r < 0.65:
            self.w.tcp(LOCAL, h, lport, dport, self.n * 7919, 0, TCP_PSH_ACK, body)
        else:
            self.w.udp(LOCAL, h, lport, dport, body)


class Bulk:
    """Large replies over many connections: payload that outgrows any fixed
    count of records."""

    SEGMENT = 64000

    def __init__(self, w, rng, connections=64):
        self.w = w
        self.rng = rng
        hosts = remote_hosts(connections)
        self.conns = [Connection(hosts[i], 33000 + i, 8000, True, rng) for i in range(connections)]
        self.left = [0] * connections

    def frame(self):
        rng = self.rng
        self.w.tick(rng.random())
        i = rng.randrange(len(self.conns))
        c = self.conns[i]
        if self.left[i] == 0:
            body = self.w.payload(60 + int(rng.random() * 100), self.w.frames)
            self.w.tcp(LOCAL, c.remote, c.lport, c.rport, c.seq_local, c.seq_remote, TCP_PSH_ACK, body)
            c.seq_local += len(body)
            self.left[i] = 4 + int(rng.random() * 37)
            return
        body = self.w.payload(self.SEGMENT, self.w.frames * 7)
        self.w.tcp(c.remote, LOCAL, c.rport, c.lport, c.seq_remote, c.seq_local, TCP_ACK, body)
        c.seq_remote += self.SEGMENT
        self.left[i] -= 1


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--mix", choices=("realistic", "scan", "bulk"), default="realistic")
    p.add_argument("--frames", type=int, default=1_000_000)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("-o", "--output", required=True)
    a = p.parse_args()

    rng = random.Random(a.seed)
    # Payload bytes: mostly text with some binary, like HTTP and TLS.
    text = b"GET /index.html HTTP/1.1\r\nHost: www.example.com\r\nAccept: */*\r\n\r\n"
    blob = bytearray((text * (65536 // len(text) + 1))[:65536])
    blob += rng.randbytes(65536)
    blob = bytes(blob)

    with open(a.output, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        w = Writer(out, blob)
        mix = {"realistic": Realistic, "scan": Scan, "bulk": Bulk}[a.mix](w, rng)
        frame = mix.frame
        for _ in range(a.frames):
            frame()
        w.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
