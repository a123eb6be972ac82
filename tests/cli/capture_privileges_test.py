#!/usr/bin/env python3
"""A live trace by an unprivileged user holding only the file capabilities
cap_net_raw,cap_net_admin+p: it records frames on lo, says nothing about
root, and no thread of the program has an effective capability while the
trace runs. Root only (it sets file capabilities and changes user).

Usage: capture_privileges_test.py TRAFALYN SOURCE_DIR"""

import glob
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import cli_support as cs

PROGRAM, SOURCE, _ = cs.paths()
DURATION = 4


def capability_sets(pid):
    """{thread id: (CapPrm, CapEff)} of every thread of the process."""
    sets = {}
    for status in glob.glob("/proc/%d/task/*/status" % pid):
        try:
            with open(status) as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
        except FileNotFoundError:
            continue  # the thread ended meanwhile
        sets[status.split("/")[4]] = (int(fields["CapPrm"], 16), int(fields["CapEff"], 16))
    return sets


def send_udp(stop):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        while not stop.wait(0.01):
            s.sendto(b"capability test payload", ("127.0.0.1", 47641))


class CapturePrivilegesTest(unittest.TestCase):
    def test_trace_without_effective_capabilities(self):
        user = pwd.getpwnam("nobody")
        with tempfile.TemporaryDirectory() as tmp:
            os.chmod(tmp, 0o755)
            copy = os.path.join(tmp, "trafalyn")
            shutil.copy2(PROGRAM, copy)
            os.chmod(copy, 0o755)
            setcap = subprocess.run(["setcap", "cap_net_raw,cap_net_admin+p", copy],
                                    capture_output=True)
            if setcap.returncode != 0:
                self.skipTest("setcap failed here: %s" % setcap.stderr.decode().strip())
            stop = threading.Event()
            sender = threading.Thread(target=send_udp, args=(stop,))
            sender.start()
            try:
                trace = subprocess.Popen(
                    ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid,
                     "--clear-groups", copy, "--headless", "-i", "lo", "--no-resolve",
                     "--duration", str(DURATION)],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    env=dict(os.environ, TZ="UTC", HOME=tmp), cwd=tmp)
                time.sleep(DURATION / 2)
                sets = capability_sets(trace.pid)
                stdout, stderr = trace.communicate(timeout=DURATION + 20)
            finally:
                stop.set()
                sender.join()
        self.assertEqual(trace.returncode, 0, stderr)
        self.assertNotIn(b"running as root", stderr)
        self.assertRegex(stdout.decode(), r"\nFrames recorded: [1-9]\d*\n")
        self.assertTrue(sets, "the trace ended before its threads could be read")
        for tid, (permitted, effective) in sets.items():
            self.assertEqual((permitted, effective), ((1 << 13) | (1 << 12), 0), "thread " + tid)


if __name__ == "__main__":
    if os.geteuid() != 0 or not shutil.which("setcap") or not shutil.which("setpriv"):
        print("SKIP: needs root, setcap and setpriv")
        sys.exit(cs.SKIP)
    unittest.main(argv=[sys.argv[0]], verbosity=2)
