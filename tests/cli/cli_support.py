"""Shared pieces of the end-to-end scripts: running the program, reading its
CSV files. Standard library only."""

import csv
import io
import os
import subprocess
import sys

SKIP = 77  # ctest's SKIP_RETURN_CODE for these scripts

EXPORT_HEADER = ["Date", "Time", "ConvId", "Bytes Sent", "Bytes Rcvd", "Pkts Sent",
                 "Pkts Rcvd", "Resp. Time", "Send", "Recieve"]
HOSTS_HEADER = ["IP", "Sent", "Rcvd", "Pk. Sent", "Pk. Rcvd", "Last Time", "Ports"]


def paths():
    """(program, source directory) from the command line."""
    if len(sys.argv) < 3:
        sys.exit("usage: %s TRAFALYN SOURCE_DIR" % sys.argv[0])
    return os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


def run(program, *args, timeout=60, env_extra=None):
    env = dict(os.environ, TZ="UTC")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    if env_extra:
        env.update(env_extra)
    return subprocess.run([program, "--headless", *args], capture_output=True, timeout=timeout,
                          env=env)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_csv(path):
    """Rows of a CSV file the program wrote (8-bit bytes read as Latin-1)."""
    text = read_bytes(path).decode("latin-1")
    return list(csv.reader(io.StringIO(text, newline="")))


def export_rows(path):
    """The export's rows as dicts, after checking its header."""
    rows = read_csv(path)
    if rows[0] != EXPORT_HEADER:
        raise AssertionError("export header: %r" % rows[0])
    return [dict(zip(EXPORT_HEADER, r)) for r in rows[1:]]


def host_rows(path):
    rows = read_csv(path)
    if rows[0] != HOSTS_HEADER:
        raise AssertionError("hosts header: %r" % rows[0])
    return {r[0]: dict(zip(HOSTS_HEADER, r)) for r in rows[1:]}
