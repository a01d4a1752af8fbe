#!/usr/bin/env python3
"""Runs one end-to-end case of the kelvane command line and compares it with its
golden files.

A case is a folder:
  cmd        one run of kelvane per line (an empty line: no arguments): its arguments,
             shell-quoted; "< FILE" at the end feeds FILE from the work folder to
             standard input
  copy       optional; lines "SOURCE [TARGET]": files of the source tree to copy into
             the work folder first
  files/     optional; more files to put into the work folder first
  expected.out   the transcript: per run "$ kelvane ARGS", its standard output, its
             standard error with each line prefixed "stderr: ", and "exit: N". A line
             "..." stands for any number of lines.
  unchanged  optional; one path a line (relative to the work folder): files put there
             by copy or files/ that the runs must leave as they were, byte for byte.
             It stands for a copy of each in expected/, which then must not hold them.
  expected/  every other file in the work folder after the last run, and nothing else

The date and time in the first line of Kelvane.log are replaced by <date>.
The golden files are written by hand from the rules of the add-in and the host, and
checked here; there is no way to write them from what the runs give.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

LOG_DATE = re.compile(rb"^(# File written by Kelvane 1\.1 on ).*?(\r?\n)", re.M)


def normalise(data: bytes) -> bytes:
    return LOG_DATE.sub(rb"\1<date>\2", data, count=1)


def run_all(kelvane, case, work):
    transcript = []
    with open(os.path.join(case, "cmd"), encoding="utf-8") as f:
        runs = f.read().splitlines()
    env = {k: v for k, v in os.environ.items() if k != "WINDIR"}
    for line in runs:
        args = shlex.split(line)
        stdin = subprocess.DEVNULL
        if len(args) >= 2 and args[-2] == "<":
            stdin = open(os.path.join(work, args[-1]), "rb")
            args = args[:-2]
        result = subprocess.run([kelvane] + args, cwd=work, stdin=stdin, capture_output=True, env=env,
                                timeout=60)
        if stdin is not subprocess.DEVNULL:
            stdin.close()
        transcript.append(("$ kelvane " + line).rstrip())
        out = result.stdout.decode("utf-8", "replace")
        transcript.extend(out.splitlines())
        err = result.stderr.decode("utf-8", "replace")
        transcript.extend("stderr: " + l for l in err.splitlines())
        transcript.append("exit: %d" % result.returncode)
    return transcript


def matches(expected, actual):
    """Line-by-line comparison where an expected "..." skips any number of lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(matches(expected[1:], actual[i:]) for i in range(len(actual) + 1))
    return bool(actual) and expected[0] == actual[0] and matches(expected[1:], actual[1:])


def tree(folder):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


def expected_tree(case, inputs):
    """What the work folder must hold after the runs: expected/, compared normalised,
    and the unchanged inputs as they were put there, compared as they are."""
    expected_dir = os.path.join(case, "expected")
    files = {name: normalise(data) for name, data in tree(expected_dir).items()} if os.path.isdir(expected_dir) else {}
    exact = set()
    unchanged = os.path.join(case, "unchanged")
    if os.path.exists(unchanged):
        with open(unchanged, encoding="utf-8") as f:
            for name in f.read().split():
                if name not in inputs:
                    raise SystemExit("unchanged: %s is no file the case puts into the work folder" % name)
                if name in files:
                    raise SystemExit("unchanged: %s is in expected/ as well" % name)
                files[name] = inputs[name]
                exact.add(name)
    return files, exact


def prepare(case, source_dir, work):
    copy_list = os.path.join(case, "copy")
    if os.path.exists(copy_list):
        with open(copy_list, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if not parts:
                    continue
                target = os.path.join(work, parts[1] if len(parts) > 1 else os.path.basename(parts[0]))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.join(source_dir, parts[0]), target)
    files = os.path.join(case, "files")
    if os.path.isdir(files):
        shutil.copytree(files, work, dirs_exist_ok=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelvane", required=True)
    parser.add_argument("--case", required=True)
    parser.add_argument("--source-dir", required=True)
    options = parser.parse_args()

    case = options.case
    with tempfile.TemporaryDirectory() as work:
        prepare(case, options.source_dir, work)
        expected_files, exact = expected_tree(case, tree(work))
        transcript = run_all(os.path.abspath(options.kelvane), case, work)
        actual_files = tree(work)

        expected_out = os.path.join(case, "expected.out")
        failed = False
        with open(expected_out, encoding="utf-8") as f:
            expected = f.read().splitlines()
        if not matches(expected, transcript):
            failed = True
            print("transcript differs; expected:\n" + "\n".join(expected))
            print("\nactual:\n" + "\n".join(transcript))
        for name in sorted(set(expected_files) | set(actual_files)):
            if name not in actual_files:
                failed = True
                print("missing file: " + name)
            elif name not in expected_files:
                failed = True
                print("unexpected file: " + name)
            elif expected_files[name] != (actual_files[name] if name in exact else normalise(actual_files[name])):
                failed = True
                print("file %s differs; expected:\n%s\nactual:\n%s" % (
                    name, expected_files[name].decode("utf-8", "replace"),
                    actual_files[name].decode("utf-8", "replace")))
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
