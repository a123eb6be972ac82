#!/usr/bin/env python3
"""A replay with --ipfix into Debian's nfcapd: the collector's byte and packet
totals equal what the program recorded (the host table's sums, which count
every recorded packet once)."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import cli_support as cs

PROGRAM, SOURCE, _ = cs.paths()
SAMPLE = os.path.join(SOURCE, "resources", "sample.pcap")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class FlowExport(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.port = free_udp_port()
        self.nfcapd = subprocess.Popen(
            ["nfcapd", "-w", self.tmp, "-b", "127.0.0.1", "-p", str(self.port), "-t", "3600"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not any(n.startswith("nfcapd.current") for n in os.listdir(self.tmp)):
            self.assertLess(time.monotonic(), deadline, "nfcapd did not start")
            time.sleep(0.05)

    def tearDown(self):
        if self.nfcapd.poll() is None:
            self.nfcapd.kill()
        self.nfcapd.wait()
        shutil.rmtree(self.tmp)

    def collected(self):
        """(bytes, packets) over every flow, both directions, once nfcapd has
        closed its file."""
        time.sleep(0.5)  # the last datagrams reach its socket
        self.nfcapd.send_signal(signal.SIGTERM)
        self.nfcapd.wait(timeout=20)
        files = [n for n in os.listdir(self.tmp) if n.startswith("nfcapd.2")]
        self.assertEqual(len(files), 1, os.listdir(self.tmp))
        out = subprocess.run(["nfdump", "-q", "-N", "-r", os.path.join(self.tmp, files[0]),
                              "-o", "fmt:%ibyt,%ipkt,%obyt,%opkt"],
                             capture_output=True, check=True, text=True).stdout
        octets = packets = flows = 0
        for line in out.splitlines():
            ibyt, ipkt, obyt, opkt = (int(f) for f in line.split(","))
            octets, packets, flows = octets + ibyt + obyt, packets + ipkt + opkt, flows + 1
        return octets, packets, flows

    def test_collector_totals_equal_the_recorded_traffic(self):
        hosts = os.path.join(self.tmp, "hosts.csv")
        result = cs.run(PROGRAM, "-r", SAMPLE, "--ipfix", "127.0.0.1:%d" % self.port,
                        "--hosts-export", hosts)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout.decode(), r"\nFlow records sent: [1-9]\d*, lost: 0\n")
        rows = cs.host_rows(hosts).values()
        recorded = (sum(int(r["Sent"]) + int(r["Rcvd"]) for r in rows),
                    sum(int(r["Pk. Sent"]) + int(r["Pk. Rcvd"]) for r in rows))
        octets, packets, flows = self.collected()
        self.assertGreater(flows, 0)
        self.assertEqual((octets, packets), recorded)


if __name__ == "__main__":
    if shutil.which("nfcapd") is None or shutil.which("nfdump") is None:
        raise SystemExit(cs.SKIP)
    unittest.main(argv=[sys.argv[0]], verbosity=2)
