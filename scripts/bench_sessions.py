#!/usr/bin/env python3
"""Time per session: `examples/one-edit.session` on `examples/bracket.json` against an
empty script on the same document, so that the difference is the session's own work.
Wall-clock mean and fastest of N runs of each, alternating, after one round not counted, every
run on a fresh copy of the examples in a temporary folder (nothing in the tree is
written). Natively always;
under Wine (kelvane.exe with the add-in linked in, and kelvane.exe session --com with
the registered Kelvane.dll) when --kelvane-exe and --dll are given.
Writes JSON: {"date", "runs", "wine", "programs": [{"program", "empty_ms", "session_ms",
"empty_fastest_ms", "session_fastest_ms"}]}.
"""

import argparse
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The Wine helpers of the COM tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "com"))
from wine_keeper import WineKeeper, windows_path  # noqa: E402

# The options of `kelvane session`, after the program's own (such as --com).
SESSION = ["--doc", "bracket.json", "--script", "one-edit.session"]
EMPTY = ["--doc", "bracket.json", "--script", "empty.session"]


def reset(examples, work, keep=()):
    """Empties `work` but for the names in `keep`, then copies the examples in."""
    for name in os.listdir(work):
        if name not in keep:
            path = os.path.join(work, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    shutil.copytree(examples, work, dirs_exist_ok=True)
    with open(os.path.join(work, "empty.session"), "w"):
        pass


def timed(argv, work, env=None):
    started = time.perf_counter()
    run = subprocess.run(argv, cwd=work, stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=300)
    elapsed = time.perf_counter() - started
    if run.returncode != 0:
        sys.exit(f"bench_sessions: {' '.join(argv)} failed ({run.returncode}): {run.stderr.decode()}")
    return elapsed * 1000


def read(path):
    with open(path, "rb") as f:
        return f.read()


def measure(label, prefix, runs, examples, work, keep=(), env=None):
    """Mean wall-clock times of the empty script and of the session, alternating."""
    empty, session = [], []
    original = read(os.path.join(examples, "bracket.json"))
    # The first round is not counted: it pays for the cold caches (under Wine, the
    # prefix's DLLs) that every later run finds warm.
    for round in range(runs + 1):
        for args, times, edits in ((EMPTY, empty, False), (SESSION, session, True)):
            reset(examples, work, keep)
            elapsed = timed(prefix + args, work, env)
            # A session that exits well but never reached the add-in would be timed as fast.
            if (read(os.path.join(work, "bracket.json")) != original) != edits:
                sys.exit(f"bench_sessions: {label}: the document was {'not ' if edits else ''}written")
            if round > 0:
                times.append(elapsed)
    # The fastest run is the one least slowed by the neighbours.
    result = {"program": label, "empty_ms": statistics.mean(empty), "session_ms": statistics.mean(session),
              "empty_fastest_ms": min(empty), "session_fastest_ms": min(session)}
    print(f"{label}: empty script {result['empty_ms']:.1f} ms, one-edit session {result['session_ms']:.1f} ms "
          f"(mean; fastest {min(empty):.1f} ms, {min(session):.1f} ms)")
    return result


class Wine:
    """A Wine prefix of our own, kept up by a waiting program while the runs last:
    without one the prefix's services stop after every program and start again with
    the next, which would be timed as the session's."""

    def __init__(self, wine_run, prefix):
        self.wine_run = wine_run
        self.env = dict(os.environ, KELVANE_WINEPREFIX=prefix)
        self.keeper = WineKeeper(wine_run, self.env, 3600)

    def __enter__(self):
        fresh = subprocess.run([self.wine_run, "--fresh-prefix"], env=self.env, capture_output=True)
        if fresh.returncode != 0:
            sys.exit(f"bench_sessions: no Wine prefix ({fresh.returncode}): {fresh.stderr.decode()}")
        self.keeper.__enter__()
        return self

    def __exit__(self, *exc):
        self.keeper.__exit__(*exc)
        # The prefix is removed next: its server must be gone first.
        wineserver = shutil.which("wineserver")
        if wineserver:
            env = dict(self.env, WINEPREFIX=self.env["KELVANE_WINEPREFIX"])
            subprocess.run([wineserver, "-w"], env=env, timeout=60, check=False)

    def run(self, args, work):
        result = subprocess.run([self.wine_run] + args, cwd=work, stdin=subprocess.DEVNULL, capture_output=True,
                                env=self.env, timeout=300)
        if result.returncode != 0:
            sys.exit(f"bench_sessions: wine {' '.join(args)} failed ({result.returncode}): {result.stderr.decode()}")


def measure_wine(options, examples, folder):
    results = []
    with Wine(options.wine_run, os.path.join(folder, "wineprefix")) as wine:
        work = os.path.join(folder, "wine")
        os.makedirs(work)
        results.append(measure("`kelvane.exe` under Wine, add-in linked in",
                               [options.wine_run, options.kelvane_exe, "session"], options.runs, examples, work,
                               env=wine.env))
        # Through COM the add-in's folder is the DLL's: Kelvane.ini lies beside it.
        com = os.path.join(folder, "com")
        os.makedirs(com)
        dll = os.path.join(com, "Kelvane.dll")
        shutil.copyfile(options.dll, dll)
        wine.run(["regsvr32", "/s", windows_path(dll)], com)
        try:
            results.append(measure("`kelvane.exe session --com` under Wine, the registered DLL",
                                   [options.wine_run, options.kelvane_exe, "session", "--com"], options.runs,
                                   examples, com, keep=("Kelvane.dll",), env=wine.env))
        finally:
            wine.run(["regsvr32", "/s", "/u", windows_path(dll)], com)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kelvane", required=True, help="the native kelvane")
    parser.add_argument("--examples", required=True, help="the folder of one-edit.session and bracket.json")
    parser.add_argument("--runs", type=int, default=20, help="of each script with each program")
    parser.add_argument("--wine-run", help="tests/com/wine-run")
    parser.add_argument("--kelvane-exe")
    parser.add_argument("--dll")
    parser.add_argument("--out", required=True)
    options = parser.parse_args()
    # The runs start in folders of their own.
    for name in ("kelvane", "wine_run", "kelvane_exe", "dll", "examples"):
        if getattr(options, name):
            setattr(options, name, os.path.abspath(getattr(options, name)))
    wine = bool(options.kelvane_exe)
    if wine and not (options.wine_run and options.dll):
        parser.error("--kelvane-exe needs --wine-run and --dll")

    date = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0).isoformat()
    with tempfile.TemporaryDirectory(prefix="kelvane-sessions-") as folder:
        examples = os.path.join(folder, "examples")
        shutil.copytree(options.examples, examples)
        work = os.path.join(folder, "native")
        os.makedirs(work)
        programs = [measure("`kelvane` (Linux, add-in linked in)", [options.kelvane, "session"], options.runs,
                            examples, work)]
        if wine:
            programs += measure_wine(options, examples, folder)
    with open(options.out, "w") as f:
        json.dump({"date": date, "runs": options.runs, "wine": wine, "programs": programs}, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
