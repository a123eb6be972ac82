#!/usr/bin/env python3
"""Writes resources/sample.pcap: a short, made-up capture of one workstation.

The traffic is our own invention, seeded so that every run writes the same
bytes. Addresses come from the documentation ranges only:

  192.0.2.10      the workstation (the local host)
  192.0.2.20      another machine on the same segment (seen, never recorded)
  192.0.2.1       the gateway (ARP only)
  198.51.100.20   web server, port 80
  198.51.100.1    answers a ping
  198.51.100.50   a UDP service that receives one fragmented datagram
  203.0.113.53    DNS resolver
  203.0.113.80    API server, port 8080
  203.0.113.123   time server (NTP)

What it holds: ARP request and reply, DNS over UDP, HTTP over TCP with
handshakes, bare acknowledgements, keep-alive requests and FIN exchanges, a
request whose first line holds a double quote, an ICMP echo pair, NTP, one UDP
datagram sent as an IPv4 fragment pair, and a TCP exchange between two other
hosts. Short frames carry Ethernet padding, so the IPv4 total length and the
captured length differ.

Usage: make_sample_capture.py [OUTPUT]   (default: sample.pcap beside this file)
"""

import os
import random
import struct
import sys

SEED = 20260314
START = 1773480600  # 2026-03-14 09:30:00 UTC

MAC = {
    "192.0.2.10": bytes.fromhex("02000000000a"),
    "192.0.2.20": bytes.fromhex("020000000014"),
    "gw": bytes.fromhex("020000000001"),
}
LOCAL = "192.0.2.10"
OTHER = "192.0.2.20"


def ip_bytes(text):
    return bytes(int(x) for x in text.split("."))


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


class Capture:
    def __init__(self, rng):
        self.rng = rng
        self.frames = []  # (sec, usec, bytes)
        self.now = START * 1_000_000  # microseconds
        self.ip_id = {}

    def advance(self, micros):
        self.now += int(micros)

    def jitter(self, low, high):
        self.advance(self.rng.randint(low, high))

    def emit(self, frame):
        if len(frame) < 60:
            frame += b"\0" * (60 - len(frame))
        self.frames.append((self.now // 1_000_000, self.now % 1_000_000, frame))

    def ether(self, src_ip, dst_ip, ethertype, body):
        src = MAC.get(src_ip, MAC["gw"])
        dst = MAC.get(dst_ip, MAC["gw"])
        return dst + src + struct.pack("!H", ethertype) + body

    def next_id(self, src):
        value = self.ip_id.get(src, self.rng.randint(0x1000, 0xEFFF))
        self.ip_id[src] = (value + 1) & 0xFFFF
        return value

    def ipv4(self, src, dst, proto, payload, ident=None, flags_offset=0, ttl=None,
             total_length=None):
        if ident is None:
            ident = self.next_id(src)
        if ttl is None:
            ttl = 64 if src.startswith("192.0.2.") else 52
        length = total_length if total_length is not None else 20 + len(payload)
        header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, length, ident, flags_offset, ttl,
                             proto, 0, ip_bytes(src), ip_bytes(dst))
        header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
        return header + payload

    def transport_checksum(self, src, dst, proto, segment):
        pseudo = ip_bytes(src) + ip_bytes(dst) + struct.pack("!BBH", 0, proto, len(segment))
        return checksum(pseudo + segment)

    def udp(self, src, sport, dst, dport, payload):
        segment = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
        csum = self.transport_checksum(src, dst, 17, segment) or 0xFFFF
        segment = segment[:6] + struct.pack("!H", csum) + segment[8:]
        self.emit(self.ether(src, dst, 0x0800, self.ipv4(src, dst, 17, segment)))

    def tcp(self, src, sport, dst, dport, seq, ack, flags, payload=b"", window=64240):
        segment = struct.pack("!HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF,
                              5 << 4, flags, window, 0, 0) + payload
        csum = self.transport_checksum(src, dst, 6, segment)
        segment = segment[:16] + struct.pack("!H", csum) + segment[18:]
        self.emit(self.ether(src, dst, 0x0800, self.ipv4(src, dst, 6, segment)))


FIN, SYN, RST, PSH, ACK = 0x01, 0x02, 0x04, 0x08, 0x10


class TcpConnection:
    """One TCP connection between a client and a server, tracking sequences."""

    def __init__(self, cap, client, cport, server, sport):
        self.cap, self.client, self.cport, self.server, self.sport = cap, client, cport, server, sport
        self.cseq = cap.rng.randint(1, 0x7FFFFFFF)
        self.sseq = cap.rng.randint(1, 0x7FFFFFFF)

    def c2s(self, flags, payload=b""):
        self.cap.tcp(self.client, self.cport, self.server, self.sport, self.cseq,
                     self.sseq if flags & ACK else 0, flags, payload)
        self.cseq += len(payload) + (1 if flags & (SYN | FIN) else 0)

    def s2c(self, flags, payload=b""):
        self.cap.tcp(self.server, self.sport, self.client, self.cport, self.sseq, self.cseq,
                     flags, payload, window=65160)
        self.sseq += len(payload) + (1 if flags & (SYN | FIN) else 0)

    def handshake(self, rtt):
        self.c2s(SYN)
        self.cap.advance(rtt)
        self.s2c(SYN | ACK)
        self.cap.jitter(80, 200)
        self.c2s(ACK)

    def request(self, text, rtt, server_time, response, mss=1460):
        self.cap.jitter(100, 400)
        self.c2s(PSH | ACK, text)
        self.cap.advance(rtt // 2)
        self.s2c(ACK)
        self.cap.advance(server_time)
        offset = 0
        sent_since_ack = 0
        while offset < len(response):
            piece = response[offset:offset + mss]
            offset += len(piece)
            last = offset >= len(response)
            self.s2c((PSH | ACK) if last else ACK, piece)
            sent_since_ack += 1
            if sent_since_ack == 2 or last:
                self.cap.jitter(150, 500)
                self.c2s(ACK)
                sent_since_ack = 0
            self.cap.jitter(40, 180)

    def close(self, rtt):
        self.cap.jitter(1000, 5000)
        self.c2s(FIN | ACK)
        self.cap.advance(rtt // 2)
        self.s2c(FIN | ACK)
        self.cap.advance(rtt // 2)
        self.c2s(ACK)


def body_text(rng, size, kind):
    words = ["network", "traffic", "monitor", "sample", "packet", "capture", "host",
             "port", "request", "response", "local", "remote", "exchange", "table"]
    out = []
    length = 0
    while length < size:
        word = rng.choice(words)
        out.append(word)
        length += len(word) + 1
    text = " ".join(out)[:size]
    if kind == "html":
        return ("<html><body><p>" + text + "</p></body></html>\n").encode()
    if kind == "css":
        return ("body { font-family: sans-serif; } /* " + text + " */\n").encode()
    return ('{"items": ["' + text.replace(" ", '", "') + '"]}\n').encode()


def http_response(body, ctype):
    head = ("HTTP/1.1 200 OK\r\nServer: example-httpd\r\nContent-Type: %s\r\n"
            "Content-Length: %d\r\nConnection: keep-alive\r\n\r\n" % (ctype, len(body)))
    return head.encode() + body


def http_request(method, path, host, body=b""):
    text = ("%s %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: sample-client/1.0\r\n"
            "Accept: */*\r\n" % (method, path, host))
    if body:
        text += "Content-Type: application/json\r\nContent-Length: %d\r\n" % len(body)
    return (text + "\r\n").encode() + body


def dns_name(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"


def dns_exchange(cap, name, answer, port):
    ident = cap.rng.randint(0, 0xFFFF)
    question = dns_name(name) + struct.pack("!HH", 1, 1)
    query = struct.pack("!HHHHHH", ident, 0x0100, 1, 0, 0, 0) + question
    cap.udp(LOCAL, port, "203.0.113.53", 53, query)
    cap.jitter(8000, 25000)
    record = struct.pack("!HHHIH", 0xC00C, 1, 1, 300, 4) + ip_bytes(answer)
    reply = struct.pack("!HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + record
    cap.udp("203.0.113.53", 53, LOCAL, port, reply)


def arp(cap):
    def packet(op, smac, sip, tmac, tip):
        return struct.pack("!HHBBH6s4s6s4s", 1, 0x0800, 6, 4, op, smac, ip_bytes(sip),
                           tmac, ip_bytes(tip))
    request = packet(1, MAC[LOCAL], LOCAL, b"\0" * 6, "192.0.2.1")
    cap.emit(b"\xff" * 6 + MAC[LOCAL] + struct.pack("!H", 0x0806) + request)
    cap.jitter(300, 900)
    reply = packet(2, MAC["gw"], "192.0.2.1", MAC[LOCAL], LOCAL)
    cap.emit(MAC[LOCAL] + MAC["gw"] + struct.pack("!H", 0x0806) + reply)


def ping(cap, dst):
    ident, seq = 0x1F2E, 1
    data = bytes(range(0x10, 0x40))
    for kind, src, to in ((8, LOCAL, dst), (0, dst, LOCAL)):
        icmp = struct.pack("!BBHHH", kind, 0, 0, ident, seq) + data
        icmp = icmp[:2] + struct.pack("!H", checksum(icmp)) + icmp[4:]
        cap.emit(cap.ether(src, to, 0x0800, cap.ipv4(src, to, 1, icmp)))
        cap.jitter(20000, 30000)


def ntp(cap):
    request = bytes([0x23]) + b"\0" * 39 + struct.pack("!II", START + 2208988800, 0)
    cap.udp(LOCAL, 123, "203.0.113.123", 123, request)
    cap.jitter(15000, 30000)
    reply = bytes([0x24, 2, 0, 0xE9]) + b"\0" * 44
    cap.udp("203.0.113.123", 123, LOCAL, 123, reply)


def fragmented_datagram(cap, dst, sport, dport):
    """One 2000-byte UDP datagram sent as two IPv4 fragments, then a reply."""
    data = bytes((i * 7 + 3) & 0xFF for i in range(2000))
    segment = struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data
    csum = cap.transport_checksum(LOCAL, dst, 17, segment) or 0xFFFF
    segment = segment[:6] + struct.pack("!H", csum) + segment[8:]
    ident = cap.next_id(LOCAL)
    first, second = segment[:1480], segment[1480:]
    cap.emit(cap.ether(LOCAL, dst, 0x0800,
                       cap.ipv4(LOCAL, dst, 17, first, ident=ident, flags_offset=0x2000)))
    cap.advance(35)
    cap.emit(cap.ether(LOCAL, dst, 0x0800,
                       cap.ipv4(LOCAL, dst, 17, second, ident=ident,
                                flags_offset=1480 // 8)))
    cap.jitter(2000, 6000)
    cap.udp(dst, dport, LOCAL, sport, b"ACK 2000 bytes\n")


def browse(cap, rng, server, host, port, pages, cport):
    conn = TcpConnection(cap, LOCAL, cport, server, port)
    rtt = rng.randint(18000, 40000)
    conn.handshake(rtt)
    for path, kind, size in pages:
        ctype = {"html": "text/html", "css": "text/css", "json": "application/json"}[kind]
        conn.request(http_request("GET", path, host), rtt, rng.randint(2000, 15000),
                     http_response(body_text(rng, size, kind), ctype))
        cap.jitter(200000, 900000)
    conn.close(rtt)


def other_hosts(cap, rng):
    """Traffic between two machines that are not the local host."""
    conn = TcpConnection(cap, OTHER, 51515, "198.51.100.20", 80)
    conn.handshake(25000)
    conn.request(http_request("GET", "/other", "www.example.com"), 25000, 3000,
                 http_response(body_text(rng, 900, "html"), "text/html"))
    conn.close(25000)


def build():
    rng = random.Random(SEED)
    cap = Capture(rng)
    arp(cap)
    cap.jitter(5000, 20000)
    dns_exchange(cap, "www.example.com", "198.51.100.20", 40121)
    cap.jitter(1000, 3000)
    browse(cap, rng, "198.51.100.20", "www.example.com", 80,
           [("/", "html", 3500), ("/style.css", "css", 1200), ("/news", "html", 5200)], 49812)
    cap.jitter(2_000_000, 4_000_000)
    ping(cap, "198.51.100.1")
    cap.jitter(1_000_000, 2_000_000)
    dns_exchange(cap, "api.example.net", "203.0.113.80", 40122)
    conn = TcpConnection(cap, LOCAL, 49813, "203.0.113.80", 8080)
    conn.handshake(30000)
    # A first line with a double quote in it: the CSV columns carry it raw.
    conn.request(http_request("GET", '/search?q="net+monitor"', "api.example.net"), 30000,
                 9000, http_response(body_text(rng, 700, "json"), "application/json"))
    cap.jitter(300000, 600000)
    payload = body_text(rng, 400, "json")
    conn.request(http_request("POST", "/api/v1/items", "api.example.net", payload), 30000,
                 12000, http_response(body_text(rng, 120, "json"), "application/json"))
    conn.close(30000)
    cap.jitter(5_000_000, 8_000_000)
    ntp(cap)
    cap.jitter(1_000_000, 3_000_000)
    other_hosts(cap, rng)
    cap.jitter(2_000_000, 4_000_000)
    fragmented_datagram(cap, "198.51.100.50", 50007, 7001)
    # Quiet for a while, then more browsing: the capture spans over a minute,
    # so a replay with logging on sees several log passes.
    cap.jitter(20_000_000, 25_000_000)
    dns_exchange(cap, "www.example.com", "198.51.100.20", 40123)
    for n in range(12):
        browse(cap, rng, "198.51.100.20", "www.example.com", 80,
               [("/img/%d.png" % n, "css", rng.randint(300, 4000)),
                ("/img/%d-small.png" % n, "css", rng.randint(200, 900))], 49820 + n)
        cap.jitter(400000, 1_500_000)
    cap.jitter(10_000_000, 14_000_000)
    ntp(cap)
    conn = TcpConnection(cap, LOCAL, 49850, "203.0.113.80", 8080)
    conn.handshake(30000)
    conn.request(http_request("GET", "/api/v1/items", "api.example.net"), 30000, 8000,
                 http_response(body_text(rng, 2600, "json"), "application/json"))
    conn.close(30000)
    return cap.frames


def write_pcap(path, frames):
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65536, 1))
        for sec, usec, frame in frames:
            out.write(struct.pack("<IIII", sec, usec, len(frame), len(frame)))
            out.write(frame)


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.pcap")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    frames = build()
    write_pcap(path, frames)
    print("%s: %d frames" % (path, len(frames)))


if __name__ == "__main__":
    main()
