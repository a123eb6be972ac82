"""Shared pieces of the end-to-end scripts: the programs under test, running
them, reading the CSV files they write. Standard library only."""

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
    """(trafalyn, source directory, trafalyn-cli or None) from the command line."""
    if len(sys.argv) < 3:
        sys.exit("usage: %s TRAFALYN SOURCE_DIR [TRAFALYN_CLI]" % sys.argv[0])
    cli = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
    return os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), cli


def run(program, *args, timeout=60, cwd=None, stdin=None):
    """`program --headless ARGS` under TZ=UTC without a display."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["TZ"] = "UTC"
    return subprocess.run([program, "--headless", *args], capture_output=True, timeout=timeout,
                          env=env, cwd=cwd, stdin=stdin)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_csv(path, header=None):
    """The rows of a CSV file the program wrote (Latin-1); with `header`,
    checked against the first row, the others as dicts."""
    rows = list(csv.reader(io.StringIO(read_bytes(path).decode("latin-1"), newline="")))
    if header is None:
        return rows
    if rows[0] != header:
        raise AssertionError("%s: header %r" % (path, rows[0]))
    return [dict(zip(header, r)) for r in rows[1:]]


def export_rows(path):
    return read_csv(path, EXPORT_HEADER)


def host_rows(path):
    """The hosts export's rows by address, in file order."""
    return {r["IP"]: r for r in read_csv(path, HOSTS_HEADER)}
