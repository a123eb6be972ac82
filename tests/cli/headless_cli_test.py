#!/usr/bin/env python3
"""`trafalyn --headless` from the outside: options and exit codes, the sample
capture's summary and files against golden copies, and a capture damaged
part-way. Usage: headless_cli_test.py TRAFALYN SOURCE_DIR"""

import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

import cli_support as cs

PROGRAM, SOURCE = cs.paths()
SAMPLE = os.path.join(SOURCE, "resources", "sample.pcap")
GOLDEN = os.path.join(SOURCE, "tests", "cli", "golden")


REGENERATE = ("if the change is intended, run tests/cli/regenerate_golden.py TRAFALYN SOURCE_DIR "
              "and review the diff")


def golden(name):
    return cs.read_bytes(os.path.join(GOLDEN, name))


def pcap_prefix(path, out, records, cut_into_next=0):
    """Writes the first `records` records of a classic pcap file to `out`;
    with `cut_into_next`, that many bytes of the next record follow."""
    data = cs.read_bytes(path)
    offset = 24
    for _ in range(records):
        incl = struct.unpack_from("<I", data, offset + 8)[0]
        offset += 16 + incl
    with open(out, "wb") as f:
        f.write(data[:offset + cut_into_next])


class Options(unittest.TestCase):
    def test_help(self):
        r = cs.run(PROGRAM, "--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Usage: trafalyn --headless", r.stdout)
        self.assertIn(b"Exit status", r.stdout)

    def test_usage_errors_exit_2_with_one_line(self):
        cases = [
            [],
            ["-r", SAMPLE, "-i", "lo"],
            ["-r", SAMPLE, "--no-tcp", "--no-udp"],
            ["-r", SAMPLE, "--role", "peer"],
            ["-r", SAMPLE, "--filter", "1.2.3.4"],
            ["-r", SAMPLE, "--local", "300.1.1.1"],
            ["-r", SAMPLE, "--format", "csv"],
            ["-r", SAMPLE, "--duration", "3"],
            ["-r", SAMPLE, "--hex"],
            ["-r", SAMPLE, "--what"],
            ["-r"],
        ]
        for args in cases:
            with self.subTest(args=args):
                r = cs.run(PROGRAM, *args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertEqual(r.stdout, b"")
                self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)
                self.assertTrue(r.stderr.startswith(b"trafalyn: "), r.stderr)

    def test_missing_file_exits_1_with_the_reason(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "absent.pcap")
            export = os.path.join(tmp, "e.csv")
            r = cs.run(PROGRAM, "-r", missing, "--export", export)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"absent.pcap", r.stderr)
            self.assertIn(b"No such file or directory", r.stderr)
            self.assertEqual(r.stdout, b"")
            self.assertFalse(os.path.exists(export))

    def test_not_a_capture_file_exits_1(self):
        r = cs.run(PROGRAM, "-r", os.path.join(SOURCE, "resources", "make_sample_capture.py"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cannot read", r.stderr)

    def test_unknown_device_exits_1(self):
        r = cs.run(PROGRAM, "-i", "nosuchdev0", "--duration", "2", timeout=30)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"nosuchdev0", r.stderr)
        self.assertEqual(r.stdout, b"")

    def test_missing_log_directory_exits_1(self):
        r = cs.run(PROGRAM, "-r", SAMPLE, "--log-dir", "/nonexistent/trafalyn-logs")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"/nonexistent/trafalyn-logs", r.stderr)


class SampleReplay(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="trafalyn-cli-")
        cls.files = {k: os.path.join(cls.tmp, k) for k in
                     ("export.csv", "export.txt", "export.hex", "hosts.csv")}
        os.mkdir(os.path.join(cls.tmp, "logs"))
        cls.result = cs.run(PROGRAM, "-r", SAMPLE, "--export", cls.files["export.csv"],
                            "--hosts-export", cls.files["hosts.csv"],
                            "--log-dir", os.path.join(cls.tmp, "logs"))
        for form, name in (("text", "export.txt"), ("hex", "export.hex")):
            r = cs.run(PROGRAM, "-r", SAMPLE, "--quiet", "--format", form,
                       "--export", cls.files[name])
            assert r.returncode == 0, r.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_exit_and_no_messages(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.result.stderr, b"")

    def test_summary_matches_golden(self):
        self.assertEqual(self.result.stdout.decode("latin-1"),
                         golden("sample_summary.txt").decode("latin-1"), REGENERATE)

    def test_summary_counts_and_tables(self):
        out = self.result.stdout.decode("latin-1")
        self.assertIn("Local host: 192.0.2.10\n", out)
        self.assertIn("Frames read: 257\n", out)
        self.assertNotIn("Kernel drops", out)
        self.assertRegex(out, r"\nRemote IP/Port +Port +ID +Prot +Bytes +Pkts +Rsp\. Tm +Start +End +Text\n")
        self.assertRegex(out, r"\nIP +Sent +Rcvd +Pk\. Sent +Pk\. Rcvd +Last Time\n")
        # Another machine's traffic and the ping leave no trace.
        self.assertNotIn("192.0.2.20", out)
        self.assertNotIn("198.51.100.1 ", out)

    def test_files_match_golden(self):
        for name in ("export.csv", "hosts.csv", "export.txt"):
            with self.subTest(name=name):
                self.assertEqual(cs.read_bytes(self.files[name]), golden("sample_" + name),
                                 REGENERATE)

    def test_hex_export_has_the_text_exports_header_blocks(self):
        text = cs.read_bytes(self.files["export.txt"])
        dump = cs.read_bytes(self.files["export.hex"])
        header = re.compile(rb"\r\n\r\n={77}\r\n.*?={77}\r\n", re.S)
        self.assertTrue(dump.startswith(b"\r\n\r\n" + b"=" * 77))
        self.assertEqual(header.findall(dump), header.findall(text))
        self.assertGreater(len(header.findall(text)), 80)

    def test_export_csv_reads_back(self):
        rows = cs.export_rows(self.files["export.csv"])
        self.assertEqual([int(r["ConvId"]) for r in rows], list(range(1, len(rows) + 1)))
        quoted = [r for r in rows if r["Send"].startswith("GET /search")]
        self.assertEqual(len(quoted), 1)
        self.assertEqual(quoted[0]["Send"], 'GET /search?q="net+monitor" HTTP/1.1')
        self.assertEqual(quoted[0]["Recieve"], "HTTP/1.1 200 OK")
        data = cs.read_bytes(self.files["export.csv"])
        header, _, body = data.partition(b"\n")
        self.assertFalse(header.endswith(b"\r"))
        self.assertTrue(body.endswith(b"\r\n"))
        self.assertEqual(body.count(b"\n"), body.count(b"\r\n"))

    def test_hosts_csv_agrees_with_the_export(self):
        hosts = cs.host_rows(self.files["hosts.csv"])
        self.assertEqual(sorted(hosts), sorted(["198.51.100.20", "198.51.100.50", "203.0.113.53",
                                                "203.0.113.80", "203.0.113.123"]))
        rows = cs.export_rows(self.files["export.csv"])
        # Nothing is left among the pending fragments of the sample, so the
        # two tables count the same packets.
        for host_field, conv_field in (("Sent", "Bytes Sent"), ("Rcvd", "Bytes Rcvd"),
                                       ("Pk. Sent", "Pkts Sent"), ("Pk. Rcvd", "Pkts Rcvd")):
            self.assertEqual(sum(int(h[host_field]) for h in hosts.values()),
                             sum(int(r[conv_field]) for r in rows))
        data = cs.read_bytes(self.files["hosts.csv"])
        for line in data.split(b"\r\n")[:-1]:
            self.assertRegex(line.decode(), r'^"[^"]*"(,"[^"]*"){6}$')
        self.assertTrue(data.endswith(b"\r\n"))

    def test_output_files_are_private(self):
        for name in ("export.csv", "hosts.csv"):
            mode = stat.S_IMODE(os.stat(self.files[name]).st_mode)
            self.assertEqual(mode, 0o600, name)

    def test_logs_run_on_the_capture_clock(self):
        logs = sorted(os.listdir(os.path.join(self.tmp, "logs")))
        self.assertEqual(len(logs), 2, logs)
        # The sample was captured on 14 March 2026 from 09:30; a replay on
        # the wall clock would stamp its files with today.
        for name in logs:
            self.assertRegex(name, r"^(stats|trace)260314_0930\d\d\.txt$")
        stats = [n for n in logs if n.startswith("stats")][0]
        rows = cs.read_csv(os.path.join(self.tmp, "logs", stats))
        self.assertEqual(rows[0][:3], ["Date", "Time", "ConvId"])
        export = cs.export_rows(self.files["export.csv"])
        self.assertEqual(sorted(int(r[2]) for r in rows[1:]), [int(r["ConvId"]) for r in export])


class Switches(unittest.TestCase):
    def hosts_with(self, *args):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "h.csv")
            r = cs.run(PROGRAM, "-r", SAMPLE, "--quiet", "--hosts-export", path, *args)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, b"")
            return cs.host_rows(path)

    def test_filters(self):
        self.assertEqual(sorted(self.hosts_with("--filter", "203.0.113.*:*")),
                         ["203.0.113.123", "203.0.113.53", "203.0.113.80"])
        self.assertEqual(sorted(self.hosts_with("--filter", "203.0.113.*:*", "--exclude")),
                         ["198.51.100.20", "198.51.100.50"])
        self.assertEqual(sorted(self.hosts_with("--filter", "*.*.*.*:53", "--filter",
                                                "*.*.*.*:123", "--include")),
                         ["203.0.113.123", "203.0.113.53"])

    def test_protocol_switches(self):
        self.assertEqual(sorted(self.hosts_with("--no-udp")), ["198.51.100.20", "203.0.113.80"])
        self.assertEqual(sorted(self.hosts_with("--no-tcp")),
                         ["198.51.100.50", "203.0.113.123", "203.0.113.53"])

    def test_local_address_changes_the_point_of_view(self):
        hosts = self.hosts_with("--local", "198.51.100.20")
        self.assertEqual(sorted(hosts), ["192.0.2.10", "192.0.2.20"])
        mine = self.hosts_with()["198.51.100.20"]
        # What the workstation sent, the server received, and the other way.
        self.assertEqual(hosts["192.0.2.10"]["Rcvd"], mine["Sent"])
        self.assertEqual(hosts["192.0.2.10"]["Sent"], mine["Rcvd"])

    def test_role_and_header_only(self):
        r = cs.run(PROGRAM, "-r", SAMPLE, "--role", "server", "--header-only")
        self.assertEqual(r.returncode, 0, r.stderr)
        out = r.stdout.decode("latin-1")
        self.assertIn("(Header Only)", out)
        self.assertNotIn("GET /", out)
        # The host table does not depend on the role.
        self.assertEqual(self.hosts_with("--role", "server"), self.hosts_with())

    def test_export_refuses_a_symbolic_link(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "target")
            with open(target, "w") as f:
                f.write("keep")
            for option in ("--export", "--hosts-export"):
                link = os.path.join(tmp, option.strip("-") + ".csv")
                os.symlink(target, link)
                r = cs.run(PROGRAM, "-r", SAMPLE, "--quiet", option, link)
                self.assertEqual(r.returncode, 1, option)
                self.assertIn(b"Error opening file: " + link.encode(), r.stderr)
            with open(target) as f:
                self.assertEqual(f.read(), "keep")


class Pcapng(unittest.TestCase):
    def test_pcapng_copy_gives_the_same_export(self):
        if shutil.which("editcap") is None:
            self.skipTest("editcap (with tshark) is not installed")
        with tempfile.TemporaryDirectory() as tmp:
            ng = os.path.join(tmp, "sample.pcapng")
            subprocess.run(["editcap", "-F", "pcapng", SAMPLE, ng], check=True, timeout=30)
            export = os.path.join(tmp, "e.csv")
            r = cs.run(PROGRAM, "-r", ng, "--quiet", "--export", export)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(cs.read_bytes(export), golden("sample_export.csv"))


class DamagedFile(unittest.TestCase):
    def test_truncated_mid_record_keeps_what_came_before(self):
        with tempfile.TemporaryDirectory() as tmp:
            damaged = os.path.join(tmp, "damaged.pcap")
            intact = os.path.join(tmp, "intact.pcap")
            pcap_prefix(SAMPLE, damaged, 120, cut_into_next=30)
            pcap_prefix(SAMPLE, intact, 120)
            outputs = {}
            for name, path in (("damaged", damaged), ("intact", intact)):
                files = [os.path.join(tmp, name + s) for s in (".csv", ".hosts.csv")]
                r = cs.run(PROGRAM, "-r", path, "--export", files[0], "--hosts-export", files[1])
                outputs[name] = (r, [cs.read_bytes(f) for f in files])
            r, files = outputs["damaged"]
            self.assertEqual(r.returncode, 1)
            self.assertRegex(r.stderr.decode(), r"damaged\.pcap is damaged after frame 120: ")
            self.assertIn(b"Frames read: 120\n", r.stdout)
            self.assertGreater(len(cs.export_rows(os.path.join(tmp, "damaged.csv"))), 5)
            ok, ok_files = outputs["intact"]
            self.assertEqual(ok.returncode, 0, ok.stderr)
            # Up to the damage, the replay is the replay of the intact part.
            self.assertEqual(files, ok_files)
            self.assertEqual(r.stdout, ok.stdout)

    def test_damage_in_the_file_header(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "short.pcap")
            pcap_prefix(SAMPLE, path, 0)
            with open(path, "r+b") as f:
                f.truncate(10)
            r = cs.run(PROGRAM, "-r", path, "--export", os.path.join(tmp, "e.csv"))
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"short.pcap", r.stderr)
            self.assertEqual(r.stdout, b"")


if __name__ == "__main__":
    os.chdir(tempfile.gettempdir())
    unittest.main(argv=[sys.argv[0]], verbosity=2)
