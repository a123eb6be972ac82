#!/usr/bin/env python3
"""`trafalyn --headless` from the outside: the sample capture's summary and
every file it writes against golden copies, the switches, the exit codes,
and a capture damaged part-way.
Usage: headless_cli_test.py TRAFALYN SOURCE_DIR [TRAFALYN_CLI]"""

import itertools
import json
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

import cli_support as cs
from regenerate_golden import replay_all

PROGRAM, SOURCE, CLI = cs.paths()
SAMPLE = os.path.join(SOURCE, "resources", "sample.pcap")
GOLDEN = os.path.join(SOURCE, "tests", "cli", "golden")
REGENERATE = ("if the change is intended, run tests/cli/regenerate_golden.py TRAFALYN SOURCE_DIR "
              "and review the diff")
HOSTS = ["198.51.100.20", "198.51.100.50", "203.0.113.53", "203.0.113.80", "203.0.113.123"]


def golden(name):
    return cs.read_bytes(os.path.join(GOLDEN, "sample_" + name))


def pcap_prefix(out, records, cut_into_next=0):
    """The sample's first `records` records into `out`; with `cut_into_next`,
    that many bytes of the next record follow."""
    data = cs.read_bytes(SAMPLE)
    offset = 24
    for _ in range(records):
        offset += 16 + struct.unpack_from("<I", data, offset + 8)[0]
    with open(out, "wb") as f:
        f.write(data[:offset + cut_into_next])


class SampleReplay(unittest.TestCase):
    def test_summary_and_every_file_match_golden(self):
        with tempfile.TemporaryDirectory() as tmp:
            summary, logs = replay_all(PROGRAM, SAMPLE, tmp)
            self.assertEqual(summary.decode("latin-1"), golden("summary.txt").decode("latin-1"),
                             REGENERATE)
            # The sample was captured on 14 March 2026 from 09:30; the logs
            # are stamped by its clock, not by today's.
            self.assertRegex(" ".join(logs), r"^stats260314_0930\d\d\.txt trace260314_0930\d\d\.txt$")
            names = sorted(os.listdir(tmp))
            self.assertEqual(names, ["export.csv", "export.hex", "export.txt", "hosts.csv",
                                     "services.csv", "stats.txt", "trace.txt"])
            # Every exchange reaches its service exactly once.
            services = cs.read_csv(os.path.join(tmp, "services.csv"))
            exchanges = sum(int(r[services[0].index("exchanges")]) for r in services[1:])
            conversations = {r["ConvId"] for r in cs.export_rows(os.path.join(tmp, "export.csv"))}
            self.assertEqual(exchanges, len(conversations))
            for name in names:
                with self.subTest(name=name):
                    path = os.path.join(tmp, name)
                    self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
                    got, want = cs.read_bytes(path), golden(name)
                    if name == "stats.txt":  # rows come as conversations finish
                        got, want = sorted(got.split(b"\r\n")), sorted(want.split(b"\r\n"))
                    self.assertEqual(got, want, REGENERATE)

    def test_trafalyn_cli_gives_the_same_summary(self):
        if CLI is None:
            self.skipTest("no trafalyn-cli given")
        self.assertEqual(cs.run(CLI, "-r", SAMPLE).stdout, golden("summary.txt"))

    def test_json_lines_pass_jq_with_the_names_the_file_carries_and_the_services_csv_figures(self):
        if shutil.which("jq") is None:
            self.skipTest("jq is not installed")
        with tempfile.TemporaryDirectory() as tmp:
            path, csv_path = os.path.join(tmp, "run.jsonl"), os.path.join(tmp, "s.csv")
            r = cs.run(PROGRAM, "-r", SAMPLE, "--quiet", "--json", path, "--services", csv_path)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
            with open(path, "rb") as f:
                lines = subprocess.run(["jq", "-c", "."], stdin=f, capture_output=True,
                                       check=True).stdout.splitlines()
            table = cs.read_csv(csv_path)
        records = [json.loads(line) for line in lines]
        # One service record per CSV row, the same fields in the same order
        # and the same figures; an empty cell is a null.
        services = [{k: v for k, v in j.items() if k != "type"}
                    for j in records if j["type"] == "service"]
        as_csv = [{k: "" if v is None else (f"{v:.6f}" if isinstance(v, float) else str(v))
                   for k, v in j.items()} for j in services]
        self.assertEqual([list(j) for j in as_csv], [table[0]] * (len(table) - 1))
        self.assertEqual([list(j.values()) for j in as_csv], table[1:])
        records = [j for j in records if j["type"] != "service"]
        conversations = [j for j in records if j["type"] == "conversation"]
        hosts = {j["address"]: j for j in records if j["type"] == "host"}
        self.assertEqual((len(conversations), sorted(hosts), len(records)),
                         (36, sorted(HOSTS), 36 + len(HOSTS)))
        # The file's DNS answer and its requests' Host headers name the web
        # server; the conversation carries the name, the host the counters.
        self.assertEqual(conversations[1], {
            "type": "conversation", "conv_id": 2, "proto": "TCP", "local": "192.0.2.10",
            "local_port": 49812, "remote": "198.51.100.20", "remote_port": 80, "role": "client",
            "first": 1773480600.071298, "last": 1773480600.097362, "bytes_sent": 125,
            "bytes_rcvd": 3767, "pkts_sent": 1, "pkts_rcvd": 3, "response_time": 0.026064,
            "process": None, "pid": None, "remote_name": "www.example.com"})
        self.assertEqual(hosts["198.51.100.20"], {
            "type": "host", "address": "198.51.100.20", "name": "www.example.com",
            "bytes_sent": 3680, "bytes_rcvd": 43972, "pkts_sent": 27, "pkts_rcvd": 41,
            "last": 1773480667.085148, "ports": 1, "top_process": None})
        self.assertEqual({a: h["name"] for a, h in hosts.items() if h["name"]},
                         {"198.51.100.20": "www.example.com", "203.0.113.80": "api.example.net"})

    def test_pcapng_copy_gives_the_same_export(self):
        if shutil.which("editcap") is None:
            self.skipTest("editcap (with tshark) is not installed")
        with tempfile.TemporaryDirectory() as tmp:
            ng, export = os.path.join(tmp, "sample.pcapng"), os.path.join(tmp, "e.csv")
            subprocess.run(["editcap", "-F", "pcapng", SAMPLE, ng], check=True, timeout=30)
            r = cs.run(PROGRAM, "-r", ng, "--quiet", "--export", export)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(cs.read_bytes(export), golden("export.csv"))

    def test_switches_choose_the_hosts(self):
        cases = [(["--filter", "203.0.113.*:*"], HOSTS[2:]),
                 (["--filter", "203.0.113.*:*", "--exclude"], HOSTS[:2]),
                 (["--filter", "*.*.*.*:53", "--filter", "*.*.*.*:123", "--include"],
                  ["203.0.113.53", "203.0.113.123"]),
                 (["--no-udp"], ["198.51.100.20", "203.0.113.80"]),
                 (["--no-tcp"], ["198.51.100.50", "203.0.113.53", "203.0.113.123"]),
                 (["--local", "198.51.100.20"], ["192.0.2.10", "192.0.2.20"]),
                 (["--role", "server", "--header-only"], HOSTS)]
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "h.csv")
            for options, hosts in cases:
                with self.subTest(options=options):
                    r = cs.run(PROGRAM, "-r", SAMPLE, "--hosts-export", path, *options)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(sorted(cs.host_rows(path)), sorted(hosts))
                    header_only = b"(Header Only)" in r.stdout and b"GET /" not in r.stdout
                    if "--include" in options:  # what passes is what the rules matched
                        recorded = re.search(rb"Frames recorded: (\d+)", r.stdout).group(1)
                        self.assertIn(b"Include (2 rules, " + recorded + b" packets matched)",
                                      r.stdout)
                    self.assertEqual(header_only, "--header-only" in options)


class ExitCodes(unittest.TestCase):
    def test_help(self):
        r = cs.run(PROGRAM, "--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Usage: trafalyn --headless", r.stdout)

    def test_refusals_say_why(self):
        """Usage errors and outputs that cannot be written exit 2 with one line,
        before any work; failures exit 1 naming the cause."""
        usage = [[], ["-r", SAMPLE, "-i", "lo"], ["-r", SAMPLE, "--no-tcp", "--no-udp"],
                 ["-r", SAMPLE, "--role", "peer"], ["-r", SAMPLE, "--filter", "1.2.3.4"],
                 ["-r", SAMPLE, "--local", "300.1.1.1"], ["-r", SAMPLE, "--format", "csv"],
                 ["-r", SAMPLE, "--duration", "3"], ["-r", SAMPLE, "--hex"],
                 ["-r", SAMPLE, "--what"], ["-r"]]
        unwritable = [(["--log-dir", "/nonexistent/logs"], b"logs: No such file or directory"),
                      (["--export", "link"], b"Could not open file: link: a symbolic link"),
                      (["--hosts-export", "no/h"], b"file: no/h: No such file or directory"),
                      (["--export", "e.csv", "--hosts-export", "./e.csv"],
                       b"--export and --hosts-export name the same file: ./e.csv"),
                      (["--hosts-export", "h.csv", "--services", "./h.csv"],
                       b"--hosts-export and --services name the same file: ./h.csv"),
                      (["--export", "./short.pcap"], b"-r and --export name the same file")]
        failures = [(["-r", "absent.pcap", "--export", "e.csv"], b"No such file or directory"),
                    (["-r", os.path.join(SOURCE, "resources", "make_sample_capture.py")],
                     b"cannot read"),
                    (["-r", "short.pcap"], b"short.pcap"),
                    (["-i", "nosuchdev0", "--duration", "2"], b"nosuchdev0")]
        with tempfile.TemporaryDirectory() as tmp:
            here = lambda name: os.path.join(tmp, name)
            pcap_prefix(here("short.pcap"), 0)
            os.truncate(here("short.pcap"), 10)
            with open(here("target"), "w") as f:
                f.write("keep")
            os.symlink("target", here("link"))
            for options, status, text in ([(o, 2, b"trafalyn: ") for o in usage] +
                                          [(["-r", "short.pcap"] + o, 2, t) for o, t in unwritable] +
                                          [(o, 1, t) for o, t in failures]):
                with self.subTest(options=options):
                    r = cs.run(PROGRAM, *options, cwd=tmp)
                    self.assertEqual((r.returncode, r.stdout), (status, b""), r.stderr)
                    self.assertIn(text, r.stderr)
                    if status == 2:
                        self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)
            self.assertEqual(sorted(os.listdir(tmp)), ["link", "short.pcap", "target"])
            self.assertEqual(cs.read_bytes(here("target")), b"keep")

    def test_damage_mid_record_keeps_what_came_before(self):
        with tempfile.TemporaryDirectory() as tmp:
            runs = []
            for name, cut in (("damaged", 30), ("intact", 0)):
                path = os.path.join(tmp, name)
                pcap_prefix(path + ".pcap", 120, cut)
                r = cs.run(PROGRAM, "-r", path + ".pcap", "--export", path + ".csv",
                           "--hosts-export", path + ".hosts")
                runs.append((r.returncode, r.stderr, r.stdout, cs.read_bytes(path + ".csv"),
                             cs.read_bytes(path + ".hosts")))
            damaged, intact = runs
            self.assertEqual((damaged[0], intact[0], intact[1]), (1, 0, b""))
            self.assertRegex(damaged[1].decode(), r"damaged\.pcap is damaged after frame 120: ")
            self.assertIn(b"Frames read: 120\n", damaged[2])
            # Up to the damage, the replay is the replay of the intact part.
            self.assertEqual(damaged[2:], intact[2:])
            self.assertGreater(len(cs.export_rows(os.path.join(tmp, "damaged.csv"))), 5)


class EndsOfTheWork(unittest.TestCase):
    def test_full_disk_is_told_once_per_file_and_leaves_no_partial_export(self):
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            self.skipTest("needs root and unshare to mount a small disk privately")
        # The disk exists only in the program's own mount namespace, so it is
        # looked at from in there too.
        script = ('mount -t tmpfs -o size=64k none "$0" || exit 77; mkdir "$0/logs"; "$@"; '
                  'echo "status $?"; ls -A "$0" "$0/logs"')
        with tempfile.TemporaryDirectory() as disk:
            r = subprocess.run(["unshare", "-m", "sh", "-c", script, disk, PROGRAM, "--headless",
                                "-r", SAMPLE, "--quiet", "--log-dir", disk + "/logs",
                                "--format", "hex", "--export", disk + "/e.hex"],
                               capture_output=True, timeout=60, env=dict(os.environ, TZ="UTC"))
            if r.returncode == 77:
                self.skipTest("cannot mount a tmpfs here")
            lines = r.stderr.decode().splitlines()
            self.assertEqual(len(lines), 2, r.stderr)
            self.assertRegex(lines[0], r"^trafalyn: Could not write file: .*/logs/(stats|trace)"
                                       r"\d{6}_\d{6}\.txt: No space left on device$")
            self.assertEqual(lines[1], "trafalyn: Error writing out file: %s/e.hex: No space left "
                                       "on device" % disk)
            status, listing = r.stdout.decode().split("\n", 1)
            self.assertEqual(status, "status 1")
            # The logs keep what they had room for; of the export nothing.
            self.assertRegex(listing, r"^%s:\nlogs\n\n%s/logs:\nstats\S+\ntrace\S+\n$" % (disk, disk))

    def test_interrupted_replay_exits_130(self):
        data = cs.read_bytes(SAMPLE)
        for signo in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signo), tempfile.TemporaryDirectory() as tmp:
                feed = os.path.join(tmp, "feed")
                os.mkfifo(feed)
                trace = subprocess.Popen([PROGRAM, "--headless", "-r", feed, "--local", "192.0.2.10",
                                          "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                # A file without end, so only the signal ends the replay; it
                # comes once the replay is well under way.
                try:
                    with open(feed, "wb") as f:
                        f.write(data[:24])
                        for n in itertools.count():
                            f.write(data[24:])
                            if n == 20:
                                trace.send_signal(signo)
                except BrokenPipeError:
                    pass
                stdout, stderr = trace.communicate(timeout=30)
                self.assertEqual((trace.returncode, stdout), (130, b""), stderr)
                self.assertIn(b"replay stopped after frame", stderr)
class StreamInput(unittest.TestCase):
    def test_standard_input_and_a_fifo_replay_like_the_file(self):
        """Read once: the local-address guess reads ahead from the same
        stream, so a pipe or a FIFO neither fails nor blocks."""
        want = golden("summary.txt")
        with open(SAMPLE, "rb") as f:
            r = cs.run(PROGRAM, "-r", "-", stdin=f)
        self.assertEqual((r.returncode, r.stdout), (0, want), r.stderr)
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "capture")
            os.mkfifo(fifo)

            def feed():
                with open(fifo, "wb") as w:
                    w.write(cs.read_bytes(SAMPLE))
            writer = threading.Thread(target=feed, daemon=True)
            writer.start()
            r = cs.run(PROGRAM, "-r", fifo, timeout=30)
            writer.join(5)
        self.assertEqual((r.returncode, r.stdout), (0, want), r.stderr)


if __name__ == "__main__":
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
