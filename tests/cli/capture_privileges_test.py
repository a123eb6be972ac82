#!/usr/bin/env python3
"""A live trace by an unprivileged user holding only the file capabilities
cap_net_raw,cap_net_admin+p: it records frames on lo, and no thread of the
program has an effective capability while the trace runs. Root only (it sets
file capabilities and changes user); skipped otherwise.

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

from cli_support import SKIP, paths

PROGRAM, SOURCE = paths()
DURATION = 4
PORT = 47641
USER = "nobody"


def capability_sets(pid):
    """{thread id: (CapPrm, CapEff)} of every thread of the process."""
    sets = {}
    for status in glob.glob("/proc/%d/task/*/status" % pid):
        fields = {}
        try:
            with open(status) as f:
                for line in f:
                    key, _, value = line.partition(":")
                    fields[key] = value.strip()
        except FileNotFoundError:
            continue  # the thread ended meanwhile
        sets[status.split("/")[4]] = (int(fields["CapPrm"], 16), int(fields["CapEff"], 16))
    return sets


def send_udp(stop):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        while not stop.is_set():
            s.sendto(b"capability test payload", ("127.0.0.1", PORT))
            time.sleep(0.01)


class CapturePrivilegesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="trafalyn-caps-")
        os.chmod(cls.tmp, 0o755)
        cls.copy = os.path.join(cls.tmp, "trafalyn")
        shutil.copy2(PROGRAM, cls.copy)
        os.chmod(cls.copy, 0o755)
        setcap = subprocess.run(["setcap", "cap_net_raw,cap_net_admin+p", cls.copy],
                                capture_output=True)
        if setcap.returncode != 0:
            raise unittest.SkipTest("setcap failed here: %s" % setcap.stderr.decode().strip())
        cls.out = os.path.join(cls.tmp, "out")
        os.mkdir(cls.out)
        user = pwd.getpwnam(USER)
        os.chown(cls.out, user.pw_uid, user.pw_gid)

        stop = threading.Event()
        sender = threading.Thread(target=send_udp, args=(stop,))
        sender.start()
        try:
            trace = subprocess.Popen(
                ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid,
                 "--clear-groups", cls.copy, "--headless", "-i", "lo",
                 "--duration", str(DURATION),
                 "--hosts-export", os.path.join(cls.out, "hosts.csv")],
                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                env=dict(os.environ, TZ="UTC", HOME=cls.out), cwd=cls.out)
            time.sleep(DURATION / 2)
            cls.sets = capability_sets(trace.pid)
            cls.stdout, cls.stderr = trace.communicate(timeout=DURATION + 20)
            cls.status = trace.returncode
        finally:
            stop.set()
            sender.join()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_trace_records_frames(self):
        self.assertEqual(self.status, 0, self.stderr)
        recorded = [l for l in self.stdout.decode().splitlines()
                    if l.startswith("Frames recorded: ")]
        self.assertEqual(len(recorded), 1, self.stdout)
        self.assertGreater(int(recorded[0].split(": ")[1]), 0, self.stdout)

    def test_no_thread_holds_an_effective_capability(self):
        self.assertTrue(self.sets, "the trace ended before its threads could be read")
        raw_and_admin = (1 << 13) | (1 << 12)
        for tid, (permitted, effective) in self.sets.items():
            self.assertEqual(effective, 0, "thread %s CapEff %x" % (tid, effective))
            self.assertEqual(permitted, raw_and_admin, "thread %s CapPrm %x" % (tid, permitted))

    def test_no_root_warning(self):
        self.assertNotIn(b"running as root", self.stderr)


if __name__ == "__main__":
    if os.geteuid() != 0 or shutil.which("setcap") is None or shutil.which("setpriv") is None:
        print("skipped: needs root, setcap and setpriv")
        sys.exit(SKIP)
    try:
        pwd.getpwnam(USER)
    except KeyError:
        print("skipped: no user %s" % USER)
        sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0]], verbosity=2)
