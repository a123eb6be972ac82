#!/usr/bin/env python3
"""tshark as an independent decoder of the sample capture: from its
per-packet fields this script works out which packets the recording rules
keep and what the host and conversation tables must then hold, and checks
the replay's --hosts-export and --export CSV against that.

The rules: Ethernet IPv4 frames, TCP or UDP, at least one payload byte by
the IPv4 total length, sent or received by the local host; a TCP payload
starts after IHL + TCP header length, a UDP one after IHL + 8. Ports are read
from the first bytes after the IPv4 header even in a later fragment (as the
decoder does), and a first TCP fragment has ports 0. Conversations are cut
by the client role. Bytes are IPv4 total lengths.

Usage: tshark_oracle_test.py TRAFALYN SOURCE_DIR   (skipped without tshark)"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import cli_support as cs

PROGRAM, SOURCE, _ = cs.paths()
SAMPLE = os.path.join(SOURCE, "resources", "sample.pcap")
LOCAL = "192.0.2.10"
FIELDS = ["frame.time_epoch", "ip.src", "ip.dst", "ip.proto", "ip.len", "ip.hdr_len", "ip.id",
          "ip.flags.mf", "ip.frag_offset", "tcp.srcport", "tcp.dstport", "tcp.hdr_len",
          "udp.srcport", "udp.dstport", "data.data"]


def tshark_packets(path):
    command = ["tshark", "-r", path, "-n", "-o", "ip.defragment:FALSE", "-T", "fields",
               "-E", "separator=\t", "-E", "occurrence=f"]
    for field in FIELDS:
        command += ["-e", field]
    out = subprocess.run(command, capture_output=True, check=True, timeout=60).stdout.decode()
    return [dict(zip(FIELDS, line.split("\t"))) for line in out.splitlines()]


def clock_time(sec, usec):
    return "%02d:%02d:%02d.%06d" % ((sec // 3600) % 24, (sec // 60) % 60, sec % 60, usec)


def elapsed(later, earlier):
    """A signed span: a fragment attached after its conversation began can
    make the last time precede the first."""
    micros = (later[0] - earlier[0]) * 1000000 + later[1] - earlier[1]
    return "%s%d.%06d" % ("-" if micros < 0 else "", abs(micros) // 1000000, abs(micros) % 1000000)


def recorded(packets):
    """The records the decoder makes, in capture order."""
    out = []
    for p in packets:
        if not p["ip.src"] or p["ip.proto"] not in ("6", "17"):
            continue
        total, ihl = int(p["ip.len"]), int(p["ip.hdr_len"])
        fragment = p["ip.flags.mf"] in ("1", "True")
        later_fragment = int(p["ip.frag_offset"] or 0) > 0
        if p["ip.proto"] == "6":
            assert not later_fragment, "the sample holds no later TCP fragment"
            header = ihl + int(p["tcp.hdr_len"])
            ports = (0, 0) if fragment else (int(p["tcp.srcport"]), int(p["tcp.dstport"]))
        else:
            header = ihl + 8
            if later_fragment:
                data = bytes.fromhex(p["data.data"])
                ports = (int.from_bytes(data[0:2], "big"), int.from_bytes(data[2:4], "big"))
            else:
                ports = (int(p["udp.srcport"]), int(p["udp.dstport"]))
        if total <= header or LOCAL not in (p["ip.src"], p["ip.dst"]):
            continue
        sent = p["ip.src"] == LOCAL
        sec, _, frac = p["frame.time_epoch"].partition(".")
        out.append({"proto": int(p["ip.proto"]), "remote": p["ip.dst"] if sent else p["ip.src"],
                    "lport": ports[0 if sent else 1], "rport": ports[1 if sent else 0],
                    "sent": sent, "len": total, "id": int(p["ip.id"], 16), "frag": fragment,
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
        if r["frag"] and any(k["id"] == r["id"] for k in self.received):
            return 0
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
        for p in [p for p in pending if p["id"] == r["id"]]:
            pending.remove(p)
            conv.add(p)

    for r in records:
        found = None
        for conv in reversed(table):
            result = conv.match(r)
            found = conv if result == 0 else None
            if result >= 0:
                break
        if found is None and r["frag"]:
            pending.append(r)
            continue
        if found is None:
            table.append(Conversation(len(table) + 1, r))
            found = table[-1]
        file(r, found)
    return table


class TsharkOracle(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="trafalyn-oracle-")
        cls.export, cls.hosts = os.path.join(cls.tmp, "export.csv"), os.path.join(cls.tmp, "h.csv")
        cls.result = cs.run(PROGRAM, "-r", SAMPLE, "--export", cls.export,
                            "--hosts-export", cls.hosts)
        cls.packets = tshark_packets(SAMPLE)
        cls.records = recorded(cls.packets)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_hosts(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertIn(b"Frames recorded: %d\n" % len(self.records), self.result.stdout)
        got, want = cs.host_rows(self.hosts), expected_hosts(self.records)
        self.assertEqual(list(got), sorted(want, key=lambda a: tuple(map(int, a.split(".")))))
        for address, h in want.items():
            with self.subTest(host=address):
                row = got[address]
                for field in ("Sent", "Rcvd", "Pk. Sent", "Pk. Rcvd"):
                    self.assertEqual(int(row[field]), h[field], field)
                self.assertEqual(int(row["Ports"]), len(h["ports"]))
                self.assertEqual(row["Last Time"], clock_time(*h["time"]))

    def test_conversations(self):
        got, want = cs.export_rows(self.export), expected_conversations(self.records)
        self.assertEqual(len(got), len(want))
        for row, conv in zip(got, want):
            with self.subTest(conv=conv.id):
                self.assertEqual(int(row["ConvId"]), conv.id)
                self.assertEqual(int(row["Bytes Sent"]), sum(r["len"] for r in conv.sent))
                self.assertEqual(int(row["Bytes Rcvd"]), sum(r["len"] for r in conv.received))
                self.assertEqual(int(row["Pkts Sent"]), len(conv.sent))
                self.assertEqual(int(row["Pkts Rcvd"]), len(conv.received))
                self.assertEqual(row["Time"], clock_time(*conv.first))
                self.assertEqual(row["Resp. Time"], elapsed(conv.last, conv.first))
        # Guard against a sample that no longer holds what the rules are
        # about: dropped bare segments, several exchanges on one connection.
        self.assertGreater(len(self.packets), len(self.records) + 100)
        self.assertLess(len(set(c.key for c in want)), len(want))


if __name__ == "__main__":
    if shutil.which("tshark") is None:
        print("SKIP: tshark is not installed")
        sys.exit(cs.SKIP)
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
