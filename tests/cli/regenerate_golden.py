#!/usr/bin/env python3
"""Rewrites tests/cli/golden/ from a replay of resources/sample.pcap, under
TZ=UTC. Read the diff before committing it.
Usage: regenerate_golden.py TRAFALYN SOURCE_DIR"""

import os
import shutil
import tempfile

import cli_support as cs


def main():
    program, source = cs.paths()
    sample = os.path.join(source, "resources", "sample.pcap")
    golden = os.path.join(source, "tests", "cli", "golden")
    os.makedirs(golden, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="trafalyn-golden-")
    try:
        files = {name: os.path.join(tmp, name) for name in
                 ("export.csv", "hosts.csv", "export.txt")}
        r = cs.run(program, "-r", sample, "--export", files["export.csv"],
                   "--hosts-export", files["hosts.csv"])
        assert r.returncode == 0, r.stderr
        with open(os.path.join(golden, "sample_summary.txt"), "wb") as f:
            f.write(r.stdout)
        r = cs.run(program, "-r", sample, "--quiet", "--format", "text", "--export",
                   files["export.txt"])
        assert r.returncode == 0, r.stderr
        for name, path in files.items():
            shutil.copyfile(path, os.path.join(golden, "sample_" + name))
    finally:
        shutil.rmtree(tmp)
    print("rewrote", golden)


if __name__ == "__main__":
    main()
