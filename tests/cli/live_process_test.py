#!/usr/bin/env python3
"""A live trace on the loopback of a network namespace this test makes: a
short-lived client (curl) fetches a page from an HTTP server (python3), and
the JSON output names both programs, the client as the conversation's own
and the server as the other end's, each with a process record. Root only.

Usage: live_process_test.py TRAFALYN SOURCE_DIR"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import cli_support as cs

PROGRAM, SOURCE, _ = cs.paths()
NS = "tfl%d-proc" % (os.getpid() % 100000)
PORT = 8080


def in_ns(*command):
    return ["ip", "netns", "exec", NS, *command]


def ip(*args, check=True):
    return subprocess.run(["ip", *args], capture_output=True, check=check, timeout=20)


class LiveProcesses(unittest.TestCase):
    def test_client_and_server_are_named_in_the_json(self):
        tmp = tempfile.mkdtemp(prefix="trafalyn-proc-")
        self.addCleanup(shutil.rmtree, tmp)
        self.addCleanup(ip, "netns", "del", NS, check=False)
        ip("netns", "add", NS)
        ip("netns", "exec", NS, "ip", "link", "set", "lo", "up")
        server = subprocess.Popen(in_ns(sys.executable, "-m", "http.server", str(PORT), "--bind", "127.0.0.1"),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=tmp)
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.kill)
        path = os.path.join(tmp, "run.jsonl")
        trace = subprocess.Popen(in_ns(PROGRAM, "--headless", "-i", "lo", "--duration", "4", "--quiet",
                                       "--json", path), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(1.5)  # the trace and the server are up
        fetched = subprocess.run(in_ns("curl", "-s", "-o", "/dev/null", "--max-time", "5",
                                       "http://127.0.0.1:%d/" % PORT), timeout=15)
        self.assertEqual(fetched.returncode, 0)
        _, err = trace.communicate(timeout=30)
        self.assertEqual(trace.returncode, 0, err)
        records = [json.loads(line) for line in open(path, encoding="utf-8")]
        conversations = [r for r in records if r["type"] == "conversation" and r["remote_port"] == PORT]
        self.assertEqual(len(conversations), 1, records)
        c = conversations[0]
        self.assertEqual(c["process"], "curl")
        self.assertIsInstance(c["pid"], int)
        self.assertTrue(c["peer_process"].startswith("python"), c)
        programs = {r["process"]: r for r in records if r["type"] == "process"}
        self.assertEqual(programs["curl"]["pids"], [c["pid"]])
        self.assertEqual(programs[c["peer_process"]]["bytes_sent"], c["bytes_rcvd"])


if __name__ == "__main__":
    if (os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("curl")
            or ip("netns", "add", NS + "-probe", check=False).returncode != 0):
        print("SKIP: live process test needs root, ip, curl and network namespaces")
        sys.exit(cs.SKIP)
    ip("netns", "del", NS + "-probe", check=False)
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
