#!/usr/bin/env python3
"""Kelvane.dll under Wine, end to end.

1. Registers the DLL with regsvr32 and checks every registry entry it writes.
2. Runs the session cases of the command line's end-to-end tests (tests/cli/cases)
   twice: with the native kelvane, and with kelvane.exe --com, which loads the
   registered DLL through COM. Both must print the same lines (an "error:" line up to
   the call it names), exit alike, and leave the same files; the first line of
   Kelvane.log (its date) and the add-in's folder, where it shows, are normalised.
   Cases with --addin-dir or --verbose are not compared (through COM the add-in's
   folder is the DLL's, and the causes --verbose prints stay inside the DLL).
3. Checks examples/Kelvane.ini with kelvane.exe check, named by its Linux path ("/..."),
   as the native program does.
4. Unregisters the DLL and checks that every entry is gone.

Exit status 0 when all holds, 1 otherwise, 77 (skipped) when the native program is
missing.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

from wine_keeper import WineKeeper, windows_path

ADDIN_CLSID = "{90E8E61D-D054-4485-ABB8-868C61B1F7B3}"
HANDLER_CLSID = "{60F84C37-8D30-4B43-A364-8F83D27189E5}"
LIBID = "{8736BE99-8493-43A1-9B94-C5E922E46750}"
ADDIN_IID = "{EFA6E686-FB2A-4590-9FB9-A1841A547918}"
HANDLER_IID = "{A8C72AFD-D1A2-4F66-BD14-AB26F940F06A}"
ADDINS_KEY = "HKLM\\SOFTWARE\\SolidWorks\\Addins\\" + ADDIN_CLSID

LOG_DATE = re.compile(rb"^(# File written by Kelvane 1\.1 on ).*?(\r?\n)", re.M)
ERROR_LINE = re.compile(r"^(error: [^:]*):")


class Wine:
    def __init__(self, wine_run):
        self.wine_run = wine_run
        self.keeper = WineKeeper(wine_run, os.environ, 900)

    def __enter__(self):
        self.keeper.__enter__()
        return self

    def __exit__(self, *exc):
        self.keeper.__exit__(*exc)

    def run(self, args, cwd=None, stdin=subprocess.DEVNULL):
        return subprocess.run([self.wine_run] + args, cwd=cwd, stdin=stdin, capture_output=True, timeout=180)

    def values(self, key):
        """The values of a registry key as {name: (type, data)}, or None when it is missing."""
        result = self.run(["reg", "query", key])
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values


def expected_registry(dll):
    text = lambda value: ("REG_SZ", value)
    entries = {}
    for clsid, progid, name in ((ADDIN_CLSID, "Kelvane.swAddIn", "Kelvane add-in"),
                                (HANDLER_CLSID, "Kelvane.swPropMgrHdlr", "Kelvane page handler")):
        key = "HKCR\\CLSID\\" + clsid
        entries[key] = {"(Default)": text(name)}
        entries[key + "\\InprocServer32"] = {"(Default)": text(dll), "ThreadingModel": text("Apartment")}
        entries[key + "\\ProgID"] = {"(Default)": text(progid)}
        entries[key + "\\TypeLib"] = {"(Default)": text(LIBID)}
        entries[key + "\\Version"] = {"(Default)": text("1.1")}
        entries["HKCR\\" + progid] = {"(Default)": text(name)}
        entries["HKCR\\" + progid + "\\CLSID"] = {"(Default)": text(clsid)}
    entries["HKCR\\TypeLib\\" + LIBID + "\\1.1"] = {"(Default)": text("Kelvane")}
    entries["HKCR\\TypeLib\\" + LIBID + "\\1.1\\0\\win64"] = {"(Default)": text(dll)}
    for iid, name in ((ADDIN_IID, "_swAddIn"), (HANDLER_IID, "_swPropMgrHdlr")):
        entries["HKCR\\Interface\\" + iid] = {"(Default)": text(name)}
    entries[ADDINS_KEY] = {
        "(Default)": ("REG_DWORD", "0x1"),
        "Title": text("Kelvane 1.1"),
        "Description": text("Edits the active document's custom properties on a property page declared in "
                            "Kelvane.ini"),
    }
    return entries


def check_registered(wine, dll):
    problems = []
    for key, values in expected_registry(dll).items():
        actual = wine.values(key)
        if actual is None:
            problems.append("missing key " + key)
            continue
        for name, (kind, data) in values.items():
            got = actual.get(name)
            # Paths compare without regard to case, as Windows compares them.
            if got is None or got[0] != kind or got[1].lower() != data.lower():
                problems.append("%s: %s is %r, expected %r" % (key, name, got, (kind, data)))
    return problems


def check_unregistered(wine):
    keys = ["HKCR\\CLSID\\" + ADDIN_CLSID, "HKCR\\CLSID\\" + HANDLER_CLSID, "HKCR\\Kelvane.swAddIn",
            "HKCR\\Kelvane.swPropMgrHdlr", "HKCR\\TypeLib\\" + LIBID, "HKCR\\Interface\\" + ADDIN_IID,
            "HKCR\\Interface\\" + HANDLER_IID, ADDINS_KEY]
    return ["still present after unregistration: " + key for key in keys if wine.values(key) is not None]


def prepare(case, source_dir, work, keep=()):
    """Empties `work` (but for the names in `keep`) and puts the case's files in it."""
    for name in os.listdir(work):
        if name in keep:
            continue
        path = os.path.join(work, name)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    copy_list = os.path.join(case, "copy")
    if os.path.exists(copy_list):
        with open(copy_list, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if parts:
                    target = os.path.join(work, parts[1] if len(parts) > 1 else os.path.basename(parts[0]))
                    os.makedirs(os.path.dirname(target), exist_ok=True)
                    shutil.copyfile(os.path.join(source_dir, parts[0]), target)
    files = os.path.join(case, "files")
    if os.path.isdir(files):
        shutil.copytree(files, work, dirs_exist_ok=True)


def session_runs(case):
    with open(os.path.join(case, "cmd"), encoding="utf-8") as f:
        runs = [shlex.split(line) for line in f.read().splitlines()]
    return [args for args in runs if args and args[0] == "session"]


def run_all(runs, work, start):
    """Runs each session with `start(args, stdin)`; answers (transcript, exit codes)."""
    transcript, codes = [], []
    for args in runs:
        stdin = subprocess.DEVNULL
        if len(args) >= 2 and args[-2] == "<":
            stdin = open(os.path.join(work, args[-1]), "rb")
            args = args[:-2]
        result = start(args, stdin)
        if stdin is not subprocess.DEVNULL:
            stdin.close()
        transcript.append("$ kelvane " + " ".join(args))
        transcript.extend(result.stdout.decode("utf-8", "replace").splitlines())
        codes.append((result.returncode, result.stderr.decode("utf-8", "replace")))
    return transcript, codes


def comparable(line):
    """A transcript line as both programs must print it."""
    match = ERROR_LINE.match(line)
    return match.group(1) if match else line


def tree(folder, skip=()):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, folder)
            if rel in skip:
                continue
            with open(path, "rb") as f:
                files[rel] = LOG_DATE.sub(rb"\1<date>\2", f.read(), count=1)
    return files


def run_started(wine, args, cwd, stdin):
    """kelvane.exe never fails without a word on stderr; a run that ends non-zero with
    no output at all never got to start (seen once under Wine on a loaded machine,
    right after the prefix was made), so it is run once more and said so."""
    result = wine.run(args, cwd=cwd, stdin=stdin)
    if result.returncode != 0 and not result.stdout and not result.stderr:
        print("%s: exited %d without a word; run again" % (" ".join(args[1:]), result.returncode))
        if hasattr(stdin, "seek"):
            stdin.seek(0)
        result = wine.run(args, cwd=cwd, stdin=stdin)
    return result


def compare_case(name, case, options, wine, windir):
    runs = session_runs(case)
    if any("--addin-dir" in args for args in runs):
        print("%s: not compared: it names another add-in folder, and through COM the folder is the DLL's" % name)
        return []
    if any("--verbose" in args for args in runs):
        print("%s: not compared: the causes that --verbose prints stay inside the DLL" % name)
        return []

    native_work = os.path.join(options.work, "native")
    os.makedirs(native_work, exist_ok=True)
    prepare(case, options.source_dir, native_work)
    env = dict(os.environ, WINDIR=windir)
    native, native_codes = run_all(runs, native_work, lambda args, stdin: subprocess.run(
        [options.native_kelvane] + args, cwd=native_work, stdin=stdin, capture_output=True, env=env, timeout=60))

    com_work = os.path.join(options.work, "com")
    prepare(case, options.source_dir, com_work, keep=("Kelvane.dll",))
    com, com_codes = run_all(runs, com_work, lambda args, stdin: run_started(
        wine, [options.kelvane_exe, "session", "--com"] + args[1:], com_work, stdin))
    # Where the add-in's folder shows (the editor's command line), it is the DLL's
    # folder through COM and "." natively.
    folder = windows_path(com_work)
    com = [line.replace(folder.replace("\\", "\\\\"), ".").replace(folder, ".") for line in com]

    problems = []
    if [comparable(l) for l in native] != [comparable(l) for l in com]:
        problems.append("%s: the transcripts differ\n--- native\n%s\n--- through COM\n%s" % (
            name, "\n".join(native), "\n".join(com)))
    for i, ((native_code, native_err), (com_code, com_err)) in enumerate(zip(native_codes, com_codes)):
        if native_code != com_code:
            problems.append("%s: run %d exits %d natively, %d through COM\n%s\n%s" % (
                name, i + 1, native_code, com_code, native_err, com_err))
    native_files = tree(native_work)
    com_files = tree(com_work, skip=("Kelvane.dll",))
    for file in sorted(set(native_files) | set(com_files)):
        if native_files.get(file) != com_files.get(file):
            problems.append("%s: %s differs\n--- native\n%s\n--- through COM\n%s" % (
                name, file, native_files.get(file, b"<missing>").decode("utf-8", "replace"),
                com_files.get(file, b"<missing>").decode("utf-8", "replace")))
    print("%s: %d runs %s" % (name, len(runs), "differ" if problems else "agree"))
    return problems


def compare_check(options, wine):
    """kelvane.exe check takes a path that starts with "/" for a file name, as the native
    program does; under Wine "/..." is a folder of the current drive, Z:."""
    ini = os.path.abspath(os.path.join(options.source_dir, "examples", "Kelvane.ini"))
    native = subprocess.run([options.native_kelvane, "check", ini], capture_output=True, timeout=60)
    exe = run_started(wine, [options.kelvane_exe, "check", ini], options.work, subprocess.DEVNULL)
    agree = (exe.returncode, exe.stdout.replace(b"\r\n", b"\n")) == (native.returncode, native.stdout)
    print("check %s: %s" % (ini, "agrees" if agree else "differs"))
    if agree:
        return []
    return ["kelvane.exe check %s exits %d\n%s%s\nnatively %d\n%s" % (
        ini, exe.returncode, exe.stdout.decode("utf-8", "replace"), exe.stderr.decode("utf-8", "replace"),
        native.returncode, native.stdout.decode("utf-8", "replace"))]


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine-run", "--dll", "--kelvane-exe", "--native-kelvane", "--cases", "--source-dir", "--work"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()

    if not os.access(options.native_kelvane, os.X_OK):
        print("SKIPPED: the native kelvane is missing at %s; build the default preset first "
              "(cmake --preset default && cmake --build --preset default)" % options.native_kelvane)
        return 77

    started = time.monotonic()
    with Wine(options.wine_run) as wine:
        return run(options, wine, started)


def run(options, wine, started):
    com_work = os.path.join(options.work, "com")
    shutil.rmtree(options.work, ignore_errors=True)
    os.makedirs(com_work)
    dll = os.path.join(com_work, "Kelvane.dll")
    shutil.copyfile(options.dll, dll)

    problems = []
    result = wine.run(["regsvr32", "/s", windows_path(dll)])
    if result.returncode != 0:
        print("regsvr32 refused Kelvane.dll (exit %d)\n%s" % (result.returncode, result.stderr.decode()))
        return 1
    problems += check_registered(wine, windows_path(dll))
    print("registration: %s" % ("wrong" if problems else "every entry present"))

    windir = wine.run(["cmd", "/c", "echo %WINDIR%"]).stdout.decode().strip()
    cases = sorted(c for c in os.listdir(options.cases) if c.startswith("session-"))
    try:
        for name in cases:
            problems += compare_case(name, os.path.join(options.cases, name), options, wine, windir)
        problems += compare_check(options, wine)
    finally:
        result = wine.run(["regsvr32", "/s", "/u", windows_path(dll)])
        if result.returncode != 0:
            problems.append("regsvr32 /u refused Kelvane.dll (exit %d)" % result.returncode)
        gone = check_unregistered(wine)
        problems += gone
        print("unregistration: %s" % ("incomplete" if gone else "every entry gone"))

    for problem in problems:
        print("\n" + problem)
    print("\n%d session cases through COM in %.0f s: %s" % (
        len(cases), time.monotonic() - started, "FAILED" if problems else "all agree"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
