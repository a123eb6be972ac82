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


class FlowExport(unittest.TestCase):
    def test_collector_totals_equal_the_recorded_traffic(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        nfcapd = subprocess.Popen(["nfcapd", "-w", tmp, "-b", "127.0.0.1", "-p", str(port), "-t", "3600"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(nfcapd.wait)
        self.addCleanup(nfcapd.kill)
        deadline = time.monotonic() + 10
        while not any(n.startswith("nfcapd.current") for n in os.listdir(tmp)):
            self.assertLess(time.monotonic(), deadline, "nfcapd did not start")
            time.sleep(0.05)

        hosts = os.path.join(tmp, "hosts.csv")
        result = cs.run(PROGRAM, "-r", os.path.join(SOURCE, "resources", "sample.pcap"),
                        "--ipfix", "127.0.0.1:%d" % port, "--hosts-export", hosts)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout.decode(), r"\nFlow records sent: [1-9]\d*, lost: 0\n")
        rows = cs.host_rows(hosts).values()
        recorded = (sum(int(r["Sent"]) + int(r["Rcvd"]) for r in rows),
                    sum(int(r["Pk. Sent"]) + int(r["Pk. Rcvd"]) for r in rows))

        # On SIGTERM nfcapd closes its file under the name of its time slot.
        time.sleep(0.5)  # the last datagrams reach its socket
        nfcapd.send_signal(signal.SIGTERM)
        nfcapd.wait(timeout=20)
        files = [n for n in os.listdir(tmp) if n.startswith("nfcapd.2")]
        self.assertEqual(len(files), 1, os.listdir(tmp))
        out = subprocess.run(["nfdump", "-q", "-N", "-r", os.path.join(tmp, files[0]),
                              "-o", "fmt:%ibyt,%ipkt,%obyt,%opkt"],
                             capture_output=True, check=True, text=True).stdout
        flows = [[int(f) for f in line.split(",")] for line in out.splitlines()]
        self.assertGreater(len(flows), 0)
        self.assertEqual((sum(f[0] + f[2] for f in flows), sum(f[1] + f[3] for f in flows)), recorded)


if __name__ == "__main__":
    if shutil.which("nfcapd") is None or shutil.which("nfdump") is None:
        raise SystemExit(cs.SKIP)
    unittest.main(argv=[sys.argv[0]], verbosity=2)
