#!/usr/bin/env python3
"""Peak resident size of `kelvane session` opening and closing the page, for the
generated definitions and documents of the page benchmarks (fields x configurations).
Writes JSON: {"date", "runs": [{"fields", "configs", "peak_rss_kib", "document_bytes"}]}.
"""

import argparse
import datetime
import json
import os
import subprocess
import sys
import tempfile

SHAPES = [(10, 1), (100, 10), (1000, 10), (1000, 100)]
SCRIPT = "menu\nok\n"  # opening and saving: the document is written back
TIME = "/usr/bin/time"  # Debian's package "time"


def peak_rss_kib(argv, stdin_text, folder):
    # GNU time forks from a small process; a child forked from this interpreter would
    # count the interpreter's pages as its own.
    report = os.path.join(folder, "time.txt")
    run = subprocess.run([TIME, "-f", "%M", "-o", report] + argv, input=stdin_text.encode(),
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if run.returncode != 0:
        sys.exit(f"bench_memory: {' '.join(argv)} failed ({run.returncode}): {run.stderr.decode()}")
    with open(report) as f:
        return int(f.read().split()[-1])  # KiB


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kelvane", required=True)
    parser.add_argument("--make-inputs", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if not os.access(TIME, os.X_OK):
        sys.exit(f"bench_memory: {TIME} is missing (scripts/setup installs the package time)")

    # The date tells the report which run of scripts/bench this belongs to.
    date = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0).isoformat()
    results = []
    for fields, configs in SHAPES:
        with tempfile.TemporaryDirectory(prefix="kelvane-memory-") as folder:
            subprocess.run([args.make_inputs, folder, str(fields), str(configs)], check=True)
            document = os.path.join(folder, "document.json")
            argv = [args.kelvane, "session", "--addin-dir", folder, "--doc", document]
            size = os.path.getsize(document)  # as read; the save writes it anew
            rss = peak_rss_kib(argv, SCRIPT, folder)
            results.append({"fields": fields, "configs": configs, "peak_rss_kib": rss,
                            "document_bytes": size})
            print(f"{fields:>5} fields x {configs:>3} configurations: peak {rss / 1024:.1f} MiB")
    with open(args.out, "w") as f:
        json.dump({"date": date, "runs": results}, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
