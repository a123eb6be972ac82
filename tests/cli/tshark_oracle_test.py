#!/usr/bin/env python3
"""tshark as an independent decoder of the sample captures: from its
per-packet fields this script works out which packets the recording rules
keep (TCP or UDP of a local address with payload by the claimed length,
later fragments without ports) and what the host and conversation tables
must then hold, and checks each replay's --hosts-export and --export CSV.

Usage: tshark_oracle_test.py TRAFALYN SOURCE_DIR   (skipped without tshark)"""

import ipaddress
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import cli_support as cs

PROGRAM, SOURCE, _ = cs.paths()
FIELDS = ["frame.time_epoch", "ip.src", "ip.dst", "ip.proto", "ip.len", "ip.hdr_len", "ip.id",
          "ip.frag_offset", "ipv6.src", "ipv6.dst", "ipv6.plen", "ipv6.nxt", "ipv6.hopopts.len_oct",
          "ipv6.hopopts.nxt", "ipv6.routing.len_oct", "ipv6.routing.nxt", "ipv6.dstopts.len_oct",
          "ipv6.dstopts.nxt", "ipv6.fraghdr.nxt", "ipv6.fraghdr.offset", "ipv6.fraghdr.ident",
          "tcp.srcport", "tcp.dstport", "tcp.hdr_len", "udp.srcport", "udp.dstport"]


def tshark_packets(path):
    command = ["tshark", "-r", path, "-n", "-o", "ip.defragment:FALSE", "-o", "ipv6.defragment:FALSE",
               "-T", "fields", "-E", "separator=\t", "-E", "occurrence=f"]
    command += [a for field in FIELDS for a in ("-e", field)]
    out = subprocess.run(command, capture_output=True, check=True, timeout=60).stdout.decode()
    return [dict(zip(FIELDS, line.split("\t"))) for line in out.splitlines()]


def clock_time(sec, usec):
    return "%02d:%02d:%02d.%06d" % ((sec // 3600) % 24, (sec // 60) % 60, sec % 60, usec)


def elapsed(later, earlier):
    """Signed: a fragment filed late can make the last time precede the first."""
    micros = (later[0] - earlier[0]) * 1000000 + later[1] - earlier[1]
    return "%s%d.%06d" % ("-" if micros < 0 else "", abs(micros) // 1000000, abs(micros) % 1000000)


def network_layer(p):
    """(source, destination, protocol, claimed length, IP header bytes,
    identification, later fragment) or None when the packet is not to be
    recorded whatever its transport."""
    if p["ip.src"]:
        return (p["ip.src"], p["ip.dst"], int(p["ip.proto"]), int(p["ip.len"]), int(p["ip.hdr_len"]),
                int(p["ip.id"], 16), int(p["ip.frag_offset"] or 0) > 0)
    if not p["ipv6.src"]:
        return None
    nxt, header, ident, later = int(p["ipv6.nxt"]), 40, 0, False
    if int(p["ipv6.plen"]) == 0 and nxt == 0:
        return None  # a jumbogram claim
    walked = {0: "hopopts", 43: "routing", 60: "dstopts"}
    while True:
        if nxt in walked:
            header += int(p["ipv6.%s.len_oct" % walked[nxt]])
            nxt = int(p["ipv6.%s.nxt" % walked.pop(nxt)])
        elif nxt == 44:
            header += 8
            ident = int(p["ipv6.fraghdr.ident"], 16)
            later = int(p["ipv6.fraghdr.offset"]) > 0
            nxt = int(p["ipv6.fraghdr.nxt"])
            if later:
                break
        else:
            break
    return (p["ipv6.src"], p["ipv6.dst"], nxt, 40 + int(p["ipv6.plen"]), header, ident, later)


def recorded(packets, local):
    """The records the decoder makes, in capture order."""
    out = []
    for p in packets:
        ip = network_layer(p)
        if ip is None or ip[2] not in (6, 17):
            continue
        src, dst, proto, total, header, ident, later = ip
        if later:
            ports = (0, 0)
        elif proto == 6:
            header += int(p["tcp.hdr_len"])
            ports = (int(p["tcp.srcport"]), int(p["tcp.dstport"]))
        else:
            header += 8
            ports = (int(p["udp.srcport"]), int(p["udp.dstport"]))
        if total <= header or (src not in local and dst not in local):
            continue
        sent = src in local
        sec, _, frac = p["frame.time_epoch"].partition(".")
        out.append({"proto": proto, "remote": dst if sent else src,
                    "lport": ports[0 if sent else 1], "rport": ports[1 if sent else 0],
                    "sent": sent, "len": total, "id": ident, "later": later,
                    "time": (int(sec), int((frac + "000000")[:6]))})
    return out


def expected_hosts(records):
    hosts = {}
    for r in records:
        h = hosts.setdefault(r["remote"], {"Sent": 0, "Rcvd": 0, "Pk. Sent": 0, "Pk. Rcvd": 0,
                                           "ports": set()})
        h["Sent" if r["sent"] else "Rcvd"] += r["len"]
        h["Pk. Sent" if r["sent"] else "Pk. Rcvd"] += 1
        h["ports"].add(r["rport"])
        h["time"] = r["time"]
    return hosts


class Conversation:
    def __init__(self, conv_id, r):
        self.id = conv_id
        self.key = (r["proto"], r["remote"], r["lport"], r["rport"])
        self.closed = False
        self.sent, self.received = [], []
        self.first = self.last = r["time"]

    def match(self, r):
        """-1: another conversation's; 0: this one's; 1: ends the search."""
        if (r["proto"], r["remote"]) != self.key[:2]:
            return -1
        if r["later"]:
            own = self.sent if r["sent"] else self.received
            return 0 if any(k["id"] == r["id"] for k in own) else -1
        if (r["lport"], r["rport"]) != self.key[2:]:
            return -1
        if self.closed or (r["sent"] and self.received):
            self.closed = True
            return 1
        return 0

    def add(self, r):
        (self.sent if r["sent"] else self.received).append(r)
        self.last = r["time"]


def expected_conversations(records):
    """The client-role conversation table after filing every record."""
    table, pending = [], []

    def file(r, conv):
        conv.add(r)
        same = lambda p: (p["id"], p["proto"], p["remote"], p["sent"]) == (r["id"], r["proto"], r["remote"], r["sent"])
        for p in [p for p in pending if same(p)]:
            pending.remove(p)
            conv.add(p)

    for r in records:
        found = None
        for conv in reversed(table):
            result = conv.match(r)
            found = conv if result == 0 else None
            if result >= 0:
                break
        if found is None and r["later"]:
            pending.append(r)
            continue
        if found is None:
            table.append(Conversation(len(table) + 1, r))
            found = table[-1]
        file(r, found)
    return table


class Oracle:
    """The checks, for a capture and the local addresses its replay must
    choose by itself."""
    CAPTURE, LOCAL = None, ()

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="trafalyn-oracle-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp)
        cls.export, cls.hosts = os.path.join(cls.tmp, "export.csv"), os.path.join(cls.tmp, "h.csv")
        capture = os.path.join(SOURCE, "resources", cls.CAPTURE)
        cls.result = cs.run(PROGRAM, "-r", capture, "--export", cls.export, "--hosts-export", cls.hosts)
        cls.packets = tshark_packets(capture)
        cls.records = recorded(cls.packets, cls.LOCAL)
        cls.conversations = expected_conversations(cls.records)

    def test_hosts(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertIn(b"Local host: %s\n" % ",".join(self.LOCAL).encode(), self.result.stdout)
        self.assertIn(b"Frames recorded: %d\n" % len(self.records), self.result.stdout)
        got, want = cs.host_rows(self.hosts), expected_hosts(self.records)
        # IPv4 before IPv6, numeric within a family.
        order = lambda a: (ipaddress.ip_address(a).version, int(ipaddress.ip_address(a)))
        self.assertEqual(list(got), sorted(want, key=order))
        for address, h in want.items():
            with self.subTest(host=address):
                row = got[address]
                self.assertEqual([int(row[f]) for f in ("Sent", "Rcvd", "Pk. Sent", "Pk. Rcvd", "Ports")],
                                 [h["Sent"], h["Rcvd"], h["Pk. Sent"], h["Pk. Rcvd"], len(h["ports"])])
                self.assertEqual(row["Last Time"], clock_time(*h["time"]))

    def test_conversations(self):
        got, want = cs.export_rows(self.export), self.conversations
        self.assertEqual(len(got), len(want))
        for row, conv in zip(got, want):
            with self.subTest(conv=conv.id):
                self.assertEqual([int(row[k]) for k in ("ConvId", "Bytes Sent", "Bytes Rcvd", "Pkts Sent", "Pkts Rcvd")],
                                 [conv.id, sum(r["len"] for r in conv.sent), sum(r["len"] for r in conv.received),
                                  len(conv.sent), len(conv.received)])
                self.assertEqual((row["Time"], row["Resp. Time"]),
                                 (clock_time(*conv.first), elapsed(conv.last, conv.first)))
        self.check_capture_still_covers_the_rules()


class SampleCapture(Oracle, unittest.TestCase):
    CAPTURE, LOCAL = "sample.pcap", ("192.0.2.10",)

    def check_capture_still_covers_the_rules(self):
        # Dropped bare segments, several exchanges on one connection, a
        # later fragment filed into its datagram's conversation.
        self.assertGreater(len(self.packets), len(self.records) + 100)
        self.assertLess(len(set(c.key for c in self.conversations)), len(self.conversations))
        self.assertTrue(any(r["later"] for c in self.conversations for r in c.sent))


class DualStackCapture(Oracle, unittest.TestCase):
    CAPTURE, LOCAL = "dual_stack.pcap", ("192.0.2.10", "2001:db8:10::10")

    def check_capture_still_covers_the_rules(self):
        # Both families, IPv6 frames dropped by the walk, later fragments of
        # sent IPv6 datagrams placed (one of them sent before its first).
        keys = [c.key for c in self.conversations]
        self.assertTrue(any(":" in k[1] for k in keys) and any(":" not in k[1] for k in keys))
        v6 = [p for p in self.packets if p["ipv6.src"] and network_layer(p)]
        self.assertGreater(len(v6), len([r for r in self.records if ":" in r["remote"]]) + 20)
        placed = [r for c in self.conversations for r in c.sent if r["later"]]
        self.assertEqual([r["id"] != 0 for r in placed], [True, True])


if __name__ == "__main__":
    if shutil.which("tshark") is None:
        print("SKIP: tshark is not installed")
        sys.exit(cs.SKIP)
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
