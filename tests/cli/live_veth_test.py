#!/usr/bin/env python3
"""A live trace of real traffic: two network namespaces made by this test,
joined by a veth pair (198.51.100.1/24 and 2001:db8::1/64 here,
198.51.100.2/24 and 2001:db8::2/64 on the peer), an HTTP download with curl
and one UDP exchange over each family, captured with
`trafalyn --headless -i VETH --duration N`; the exported conversations and
hosts must account for exactly the bytes that were sent. A second trace,
ended by SIGTERM, must still write its logs. Traffic goes only to the
namespace addresses; everything the test creates is removed at the end, also
on failure. Root only; skipped otherwise.

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

PROGRAM, SOURCE, _ = cs.paths()
TAG = "tfl%d" % (os.getpid() % 100000)
NS_LOCAL, NS_PEER = TAG + "-local", TAG + "-peer"
VETH_LOCAL, VETH_PEER = TAG + "a", TAG + "b"
LOCAL_IP, PEER_IP = "198.51.100.1", "198.51.100.2"
LOCAL_IP6, PEER_IP6 = "2001:db8::1", "2001:db8::2"
URL = "http://%s:8080/" % PEER_IP
# Local address, peer address, the peer's URL, IP header bytes.
FAMILIES = ((LOCAL_IP, PEER_IP, URL, 20), (LOCAL_IP6, PEER_IP6, "http://[%s]:8080/" % PEER_IP6, 40))
UDP_PORT, BLOB_SIZE, DURATION = 9999, 50000, 7
UDP_MESSAGE = "hello from the trafalyn test"
CURL = ["curl", "-s", "-o", "/dev/null", "--max-time", "10"]

UDP_ECHO = """import socket, sys
s = socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
s.settimeout(30)
data, peer = s.recvfrom(2048)
s.sendto(data.upper() + b"!", peer)"""

UDP_CLIENT = """import socket, sys
s = socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], 40000))
s.settimeout(5)
s.sendto(sys.argv[4].encode(), (sys.argv[2], int(sys.argv[3])))
print(len(s.recvfrom(2048)[0]))"""


def ip(*args, check=True):
    return subprocess.run(["ip", *args], capture_output=True, check=check, timeout=20)


def in_ns(ns, *command):
    return ["ip", "netns", "exec", ns, *command]


def local(*command, **kwargs):
    return subprocess.run(in_ns(NS_LOCAL, *command), capture_output=True, timeout=15, **kwargs)


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
            for ns in (NS_LOCAL, NS_PEER):
                ip("netns", "del", ns, check=False)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    @classmethod
    def start(cls, command, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        cls.processes.append(subprocess.Popen(command, **kwargs))
        return cls.processes[-1]

    @classmethod
    def trace(cls, *options):
        return cls.start(in_ns(NS_LOCAL, PROGRAM, "--headless", "-i", VETH_LOCAL, *options),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         env=dict(os.environ, TZ="UTC"))

    @classmethod
    def run_scenario(cls):
        ip("netns", "add", NS_LOCAL)
        ip("netns", "add", NS_PEER)
        ip("link", "add", VETH_LOCAL, "netns", NS_LOCAL, "type", "veth",
           "peer", "name", VETH_PEER, "netns", NS_PEER)
        for ns, dev, address, address6 in ((NS_LOCAL, VETH_LOCAL, LOCAL_IP, LOCAL_IP6),
                                           (NS_PEER, VETH_PEER, PEER_IP, PEER_IP6)):
            ip("-n", ns, "addr", "add", address + "/24", "dev", dev)
            ip("-n", ns, "addr", "add", address6 + "/64", "dev", dev, "nodad")
            ip("-n", ns, "link", "set", dev, "up")
        site = os.path.join(cls.tmp, "site")
        os.mkdir(site)
        with open(os.path.join(site, "blob.bin"), "wb") as f:
            f.write(random.Random(7).randbytes(BLOB_SIZE))
        with open(os.path.join(site, "ready.txt"), "w") as f:
            f.write("ok\n")
        deadline = time.monotonic() + 15
        for _, peer, url, _ in FAMILIES:
            cls.start(in_ns(NS_PEER, sys.executable, "-m", "http.server", "8080", "--bind", peer,
                            "--directory", site))
            while local(*CURL, url + "ready.txt").returncode != 0:
                if time.monotonic() > deadline:
                    raise AssertionError("the HTTP server at %s did not come up" % peer)
                time.sleep(0.2)
            cls.start(in_ns(NS_PEER, sys.executable, "-c", UDP_ECHO, peer, str(UDP_PORT)))

        cls.export, cls.hosts = os.path.join(cls.tmp, "export.csv"), os.path.join(cls.tmp, "h.csv")
        cls.saved = os.path.join(cls.tmp, "saved.pcap")
        trace = cls.trace("--duration", str(DURATION), "--export", cls.export,
                          "--hosts-export", cls.hosts, "--write", cls.saved)
        time.sleep(2)  # the device opens well within this
        cls.sizes = []  # per family: request, header, body and UDP reply bytes
        for address, peer, url, _ in FAMILIES:
            download = local(*CURL, "-w", "%{size_request} %{size_header} %{size_download}",
                             url + "blob.bin", check=True)
            answer = local(sys.executable, "-c", UDP_CLIENT, address, peer, str(UDP_PORT),
                           UDP_MESSAGE, check=True)
            cls.sizes.append([*map(int, download.stdout.split()), int(answer.stdout)])
        # Every data segment carries the timestamp option when it is on.
        timestamps = local("cat", "/proc/sys/net/ipv4/tcp_timestamps").stdout.strip() != b"0"
        cls.tcp_header = 32 if timestamps else 20
        cls.stdout, cls.stderr = trace.communicate(timeout=DURATION + 20)
        cls.status = trace.returncode

        cls.logs = os.path.join(cls.tmp, "logs")
        os.mkdir(cls.logs)
        trace = cls.trace("--log-dir", cls.logs)
        time.sleep(2)
        local(*CURL, URL + "ready.txt", check=True)
        time.sleep(0.5)
        started = time.monotonic()
        trace.terminate()
        cls.term_stdout, cls.term_stderr = trace.communicate(timeout=20)
        cls.term_seconds = time.monotonic() - started
        cls.term_status = trace.returncode

    def test_trace_ended_by_itself_with_every_byte(self):
        self.assertEqual(self.status, 0, self.stderr)
        # The device's addresses of both families, link-local ones included.
        first_line = self.stdout.decode("latin-1").split("\n")[0]
        self.assertLessEqual({LOCAL_IP, LOCAL_IP6}, set(first_line.removeprefix("Local host: ").split(",")))
        self.assertIn(b"\nKernel drops: 0\n", self.stdout)
        rows = cs.export_rows(self.export)
        self.assertEqual(len(rows), 4)
        hosts = cs.host_rows(self.hosts)
        self.assertEqual(list(hosts), [PEER_IP, PEER_IP6])  # IPv4 first
        for (_, peer, _, ip_header), (tcp, udp), sizes in zip(FAMILIES, (rows[:2], rows[2:]), self.sizes):
            with self.subTest(peer=peer):
                request_bytes, header_bytes, body_bytes, reply_bytes = sizes
                self.assertEqual(body_bytes, BLOB_SIZE)
                per_packet = ip_header + self.tcp_header
                sent, received = int(tcp["Pkts Sent"]), int(tcp["Pkts Rcvd"])
                self.assertGreaterEqual((sent, received), (1, 2))
                # Bytes are claimed IP lengths: the payload plus each packet's headers.
                self.assertEqual(int(tcp["Bytes Sent"]) - sent * per_packet, request_bytes)
                self.assertEqual(int(tcp["Bytes Rcvd"]) - received * per_packet,
                                 header_bytes + body_bytes)
                self.assertTrue(tcp["Send"].startswith("GET /blob.bin HTTP/1.1"), tcp["Send"])
                self.assertTrue(tcp["Recieve"].startswith("HTTP/1.0 200 OK"), tcp["Recieve"])
                self.assertEqual([udp[k] for k in ("Bytes Sent", "Bytes Rcvd", "Pkts Sent",
                                                   "Pkts Rcvd", "Send", "Recieve")],
                                 [str(ip_header + 8 + len(UDP_MESSAGE)),
                                  str(ip_header + 8 + reply_bytes), "1", "1",
                                  UDP_MESSAGE, UDP_MESSAGE.upper() + "!"])
                for host_field, field in (("Sent", "Bytes Sent"), ("Rcvd", "Bytes Rcvd"),
                                          ("Pk. Sent", "Pkts Sent"), ("Pk. Rcvd", "Pkts Rcvd")):
                    self.assertEqual(int(hosts[peer][host_field]), int(tcp[field]) + int(udp[field]))
                self.assertEqual(hosts[peer]["Ports"], "2")

    def test_saved_frames_replay_to_the_same_conversations(self):
        self.assertEqual(os.stat(self.saved).st_mode & 0o777, 0o600)
        replayed = os.path.join(self.tmp, "replayed.csv")
        result = cs.run(PROGRAM, "-r", self.saved, "--local", LOCAL_IP + "," + LOCAL_IP6, "--export", replayed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(cs.read_bytes(replayed), cs.read_bytes(self.export))

    def test_sigterm_ends_the_trace_with_its_logs(self):
        self.assertEqual(self.term_status, 0, self.term_stderr)
        self.assertLess(self.term_seconds, 5)
        self.assertIn(b"\nConversations (1, 2 rows)\n", self.term_stdout)
        logs = sorted(os.listdir(self.logs))
        self.assertEqual([n[:5] for n in logs], ["stats", "trace"])
        stats = cs.read_csv(os.path.join(self.logs, logs[0]))
        self.assertEqual(len(stats), 2, stats)
        self.assertEqual(stats[1][8], "GET /ready.txt HTTP/1.1")


def reason_to_skip():
    if os.geteuid() != 0:
        return "not root"
    for tool in ("ip", "curl"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    if ip("netns", "add", TAG + "-probe", check=False).returncode != 0:
        return "network namespaces cannot be created here"
    ip("netns", "del", TAG + "-probe", check=False)
    return None


if __name__ == "__main__":
    reason = reason_to_skip()
    if reason:
        print("SKIP: live veth test needs root, ip and curl (%s)" % reason)
        sys.exit(cs.SKIP)
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
