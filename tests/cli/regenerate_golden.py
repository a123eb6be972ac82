#!/usr/bin/env python3
"""Rewrites tests/cli/golden/ from replays of resources/sample.pcap under
TZ=UTC: the summary, every export form, the hosts and services exports and both logs.
Read the diff before committing it.
Usage: regenerate_golden.py TRAFALYN SOURCE_DIR"""

import os
import shutil
import tempfile

import cli_support as cs

EXPORTS = {"csv": "export.csv", "text": "export.txt", "hex": "export.hex"}


def replay_all(program, sample, out):
    """Replays `sample` with every output into `out`, the files named as the
    golden ones without "sample_" (the logs as stats.txt and trace.txt).
    Returns the summary and the names the logs were given."""
    logs = os.path.join(out, "logs")
    os.mkdir(logs)
    r = cs.run(program, "-r", sample, "--export", os.path.join(out, EXPORTS["csv"]),
               "--hosts-export", os.path.join(out, "hosts.csv"),
               "--services", os.path.join(out, "services.csv"), "--log-dir", logs)
    assert r.returncode == 0 and not r.stderr, r.stderr
    for form in ("text", "hex"):
        export = os.path.join(out, EXPORTS[form])
        assert cs.run(program, "-r", sample, "--quiet", "--format", form,
                      "--export", export).returncode == 0
    names = sorted(os.listdir(logs))
    for name in names:
        os.rename(os.path.join(logs, name), os.path.join(out, name[:5] + ".txt"))
    os.rmdir(logs)
    return r.stdout, names


if __name__ == "__main__":
    program, source, _ = cs.paths()
    golden = os.path.join(source, "tests", "cli", "golden")
    tmp = tempfile.mkdtemp(prefix="trafalyn-golden-")
    try:
        summary, _ = replay_all(program, os.path.join(source, "resources", "sample.pcap"), tmp)
        with open(os.path.join(golden, "sample_summary.txt"), "wb") as f:
            f.write(summary)
        for name in os.listdir(tmp):
            shutil.copyfile(os.path.join(tmp, name), os.path.join(golden, "sample_" + name))
    finally:
        shutil.rmtree(tmp)
    print("rewrote", golden)
