#!/usr/bin/env python3
"""A live trace of real traffic: two network namespaces made by this test,
joined by a veth pair (198.51.100.1/24 here, 198.51.100.2/24 on the peer), an
HTTP download with curl and one UDP exchange, captured with
`trafalyn --headless -i VETH --duration N`; the exported conversations and
hosts must account for exactly the bytes that were sent. Traffic goes only
to the namespace addresses. Everything the test creates is removed at the
end, also on failure. Root only; skipped otherwise.

Usage: live_veth_test.py TRAFALYN SOURCE_DIR"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import cli_support as cs

PROGRAM, SOURCE = cs.paths()
TAG = "tfl%d" % (os.getpid() % 100000)
NS_LOCAL, NS_PEER = TAG + "-local", TAG + "-peer"
VETH_LOCAL, VETH_PEER = TAG + "a", TAG + "b"
LOCAL_IP, PEER_IP = "198.51.100.1", "198.51.100.2"
HTTP_PORT, UDP_PORT, UDP_LOCAL_PORT = 8080, 9999, 40000
BLOB_SIZE = 50000
UDP_MESSAGE = b"hello from the trafalyn test"
DURATION = 6

UDP_ECHO = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
s.settimeout(30)
data, peer = s.recvfrom(2048)
s.sendto(data.upper() + b"!", peer)
"""

UDP_CLIENT = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
s.settimeout(5)
s.sendto(sys.argv[5].encode(), (sys.argv[3], int(sys.argv[4])))
print(len(s.recvfrom(2048)[0]))
"""


def ip(*args, check=True):
    return subprocess.run(["ip", *args], capture_output=True, check=check, timeout=20)


def in_ns(ns, *command):
    return ["ip", "netns", "exec", ns, *command]


def setup_network():
    ip("netns", "add", NS_LOCAL)
    ip("netns", "add", NS_PEER)
    ip("link", "add", VETH_LOCAL, "netns", NS_LOCAL, "type", "veth",
       "peer", "name", VETH_PEER, "netns", NS_PEER)
    for ns, dev, address in ((NS_LOCAL, VETH_LOCAL, LOCAL_IP), (NS_PEER, VETH_PEER, PEER_IP)):
        ip("-n", ns, "addr", "add", address + "/24", "dev", dev)
        ip("-n", ns, "link", "set", dev, "up")
        ip("-n", ns, "link", "set", "lo", "up")


def teardown_network():
    for ns in (NS_LOCAL, NS_PEER):
        ip("netns", "del", ns, check=False)


def tcp_header_bytes():
    """Every data segment carries the timestamp option when it is on."""
    r = subprocess.run(in_ns(NS_LOCAL, "cat", "/proc/sys/net/ipv4/tcp_timestamps"),
                       capture_output=True, timeout=10)
    return 32 if r.stdout.strip() != b"0" else 20


class LiveVeth(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="trafalyn-live-")
        cls.processes = []
        try:
            cls.run_scenario()
        except BaseException:
            shutil.rmtree(cls.tmp)
            raise
        finally:
            for p in cls.processes:
                if p.poll() is None:
                    p.kill()
                p.wait(timeout=10)
            teardown_network()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    @classmethod
    def start(cls, command, **kwargs):
        p = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             **kwargs)
        cls.processes.append(p)
        return p

    @classmethod
    def run_scenario(cls):
        setup_network()
        site = os.path.join(cls.tmp, "site")
        os.mkdir(site)
        with open(os.path.join(site, "blob.bin"), "wb") as f:
            f.write(random.Random(7).randbytes(BLOB_SIZE))
        with open(os.path.join(site, "ready.txt"), "w") as f:
            f.write("ok\n")
        cls.start(in_ns(NS_PEER, sys.executable, "-m", "http.server", str(HTTP_PORT),
                        "--bind", PEER_IP, "--directory", site))
        curl = ["curl", "-s", "-o", "/dev/null", "--max-time", "10"]
        url = "http://%s:%d/" % (PEER_IP, HTTP_PORT)
        deadline = time.monotonic() + 15
        while subprocess.run(in_ns(NS_LOCAL, *curl, url + "ready.txt"),
                             timeout=15).returncode != 0:
            if time.monotonic() > deadline:
                raise AssertionError("the HTTP server in the peer namespace did not come up")
            time.sleep(0.2)
        cls.start(in_ns(NS_PEER, sys.executable, "-c", UDP_ECHO, PEER_IP, str(UDP_PORT)))

        cls.export = os.path.join(cls.tmp, "export.csv")
        cls.hosts = os.path.join(cls.tmp, "hosts.csv")
        trace = subprocess.Popen(
            in_ns(NS_LOCAL, PROGRAM, "--headless", "-i", VETH_LOCAL, "--duration", str(DURATION),
                  "--export", cls.export, "--hosts-export", cls.hosts),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=dict(os.environ, TZ="UTC"))
        cls.processes.append(trace)
        time.sleep(2)  # the device opens well within this

        download = subprocess.run(
            in_ns(NS_LOCAL, *curl, "-w", "%{size_request} %{size_header} %{size_download}",
                  url + "blob.bin"), capture_output=True, timeout=15, check=True)
        cls.request_bytes, cls.header_bytes, cls.body_bytes = map(int, download.stdout.split())
        answer = subprocess.run(
            in_ns(NS_LOCAL, sys.executable, "-c", UDP_CLIENT, LOCAL_IP, str(UDP_LOCAL_PORT),
                  PEER_IP, str(UDP_PORT), UDP_MESSAGE.decode()),
            capture_output=True, timeout=15, check=True)
        cls.reply_bytes = int(answer.stdout)
        cls.tcp_header = tcp_header_bytes()
        cls.stdout, cls.stderr = trace.communicate(timeout=DURATION + 20)
        cls.status = trace.returncode

        # A trace without --duration ends on SIGTERM, with its final log pass.
        cls.logs = os.path.join(cls.tmp, "logs")
        os.mkdir(cls.logs)
        trace = subprocess.Popen(
            in_ns(NS_LOCAL, PROGRAM, "--headless", "-i", VETH_LOCAL, "--log-dir", cls.logs),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        cls.processes.append(trace)
        time.sleep(2)
        subprocess.run(in_ns(NS_LOCAL, *curl, url + "ready.txt"), timeout=15, check=True)
        time.sleep(0.5)
        started = time.monotonic()
        trace.terminate()
        cls.term_stdout, cls.term_stderr = trace.communicate(timeout=20)
        cls.term_seconds = time.monotonic() - started
        cls.term_status = trace.returncode

    def test_trace_ended_by_itself(self):
        self.assertEqual(self.status, 0, self.stderr)
        out = self.stdout.decode("latin-1")
        self.assertIn("Local host: %s\n" % LOCAL_IP, out)
        self.assertIn("\nKernel drops: 0\n", out)

    def test_sigterm_ends_the_trace_cleanly(self):
        self.assertEqual(self.term_status, 0, self.term_stderr)
        self.assertLess(self.term_seconds, 5)
        self.assertIn(b"\nConversations (1, 2 rows)\n", self.term_stdout)
        logs = sorted(os.listdir(self.logs))
        self.assertEqual([n[:5] for n in logs], ["stats", "trace"])
        stats = cs.read_csv(os.path.join(self.logs, logs[0]))
        self.assertEqual(len(stats), 2, stats)
        self.assertEqual(stats[1][8], "GET /ready.txt HTTP/1.1")

    def test_udp_exchange(self):
        rows = cs.export_rows(self.export)
        self.assertEqual(len(rows), 2, rows)
        udp = rows[1]
        self.assertEqual(int(udp["Bytes Sent"]), 28 + len(UDP_MESSAGE))
        self.assertEqual(int(udp["Bytes Rcvd"]), 28 + self.reply_bytes)
        self.assertEqual((int(udp["Pkts Sent"]), int(udp["Pkts Rcvd"])), (1, 1))
        self.assertEqual(udp["Send"], UDP_MESSAGE.decode())
        self.assertEqual(udp["Recieve"], UDP_MESSAGE.decode().upper() + "!")

    def test_http_download(self):
        self.assertEqual(self.body_bytes, BLOB_SIZE)
        tcp = cs.export_rows(self.export)[0]
        per_packet = 20 + self.tcp_header
        sent, received = int(tcp["Pkts Sent"]), int(tcp["Pkts Rcvd"])
        self.assertGreaterEqual(sent, 1)
        self.assertGreaterEqual(received, 2)
        # Bytes are IPv4 total lengths: the payload plus each packet's headers.
        self.assertEqual(int(tcp["Bytes Sent"]) - sent * per_packet, self.request_bytes)
        self.assertEqual(int(tcp["Bytes Rcvd"]) - received * per_packet,
                         self.header_bytes + self.body_bytes)
        self.assertTrue(tcp["Send"].startswith("GET /blob.bin HTTP/1.1"), tcp["Send"])
        self.assertTrue(tcp["Recieve"].startswith("HTTP/1.0 200 OK"), tcp["Recieve"])

    def test_hosts(self):
        hosts = cs.host_rows(self.hosts)
        self.assertEqual(list(hosts), [PEER_IP])
        peer = hosts[PEER_IP]
        rows = cs.export_rows(self.export)
        self.assertEqual(int(peer["Sent"]), sum(int(r["Bytes Sent"]) for r in rows))
        self.assertEqual(int(peer["Rcvd"]), sum(int(r["Bytes Rcvd"]) for r in rows))
        self.assertEqual(int(peer["Pk. Sent"]), sum(int(r["Pkts Sent"]) for r in rows))
        self.assertEqual(int(peer["Pk. Rcvd"]), sum(int(r["Pkts Rcvd"]) for r in rows))
        self.assertEqual(int(peer["Ports"]), 2)


def can_run():
    if os.geteuid() != 0:
        return "not root"
    for tool in ("ip", "curl"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    probe = TAG + "-probe"
    if ip("netns", "add", probe, check=False).returncode != 0:
        return "network namespaces cannot be created here"
    ip("netns", "del", probe, check=False)
    return None


if __name__ == "__main__":
    reason = can_run()
    if reason:
        print("SKIP: live veth test needs root, ip and curl (%s)" % reason)
        sys.exit(cs.SKIP)
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
