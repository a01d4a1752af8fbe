#!/usr/bin/env python3
"""kelvane's own document files under failure: the document or its folder vanishes,
or becomes unwritable, between load and save; the disk is full (a file size limit);
the write is interrupted (a signal while the new document is written). Whatever
happens, the document is never half-written: it keeps its old bytes, or it holds
the complete new document. And its inputs and output: a FIFO or an oversized file
given as document, script or definition is refused at once; a reader that goes away
or a full disk behind standard output still gets the document saved, with exit
status 1.

Each run edits a document and saves it. To act between load and save, the script
ends with many `dump` commands whose output fills the pipe: kelvane blocks on it
after loading the document and before saving it until this driver reads on.

Permissions do not bind root, so as root kelvane runs as an unprivileged user.
Usage: document_files_sweep.py --kelvane PATH
"""

import argparse
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

DEFINITION = "[Groups]\nG\n[G]\nPart Number;Part_No\n"
EDIT = "menu\ntext 0 A-100\nclose 1\n"
FILLS_THE_PIPE = "dump\n" * 40  # each dump prints the document with its 64 KiB blob
NOBODY = 65534
NOBODY_PREFIX = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "--"]


class Work:
    """A folder with the add-in's definition and one document, docs/bracket.json."""

    def __init__(self, blob_size=65536):
        self.root = tempfile.mkdtemp(prefix="kelvane-sweep-")
        self.addin = os.path.join(self.root, "addin")
        self.docs = os.path.join(self.root, "docs")
        self.doc = os.path.join(self.docs, "bracket.json")
        os.mkdir(self.addin)
        os.mkdir(self.docs)
        with open(os.path.join(self.addin, "Kelvane.ini"), "w") as f:
            f.write(DEFINITION)
        self.blob = "x" * blob_size
        with open(self.doc, "w") as f:
            json.dump({"title": "Bracket", "configurations": ["Default"], "properties": {"Blob": self.blob}}, f)
        with open(self.doc, "rb") as f:
            self.original = f.read()
        for folder, _, files in os.walk(self.root):
            os.chmod(folder, 0o777)
            for name in files:
                os.chmod(os.path.join(folder, name), 0o666)

    def remove(self):
        for folder, _, _ in os.walk(self.root):
            os.chmod(folder, 0o777)
        shutil.rmtree(self.root, ignore_errors=True)

    def document(self):
        try:
            with open(self.doc, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def is_new_document(self, data):
        try:
            properties = json.loads(data).get("properties", {})
        except ValueError:
            return False
        return properties.get("Part_No") == "A-100" and properties.get("Blob") == self.blob

    def leftovers(self):
        return sorted(set(os.listdir(self.docs)) - {"bracket.json"}) if os.path.isdir(self.docs) else []


class Sweep:
    def __init__(self, kelvane):
        self.kelvane = kelvane
        self.as_nobody = os.geteuid() == 0 and self.runs_as_nobody()
        self.permissions_bind = os.geteuid() != 0 or self.as_nobody
        self.problems = []
        self.notes = []
        # The sanitizers reserve far more address space than a limit on it allows.
        with open(kelvane, "rb") as f:
            self.sanitized = b"__asan_init" in f.read()

    def runs_as_nobody(self):
        """Whether kelvane can be run as an unprivileged user here (setpriv present, the
        binary reachable for that user)."""
        if shutil.which("setpriv") is None:
            return False
        probe = subprocess.run(NOBODY_PREFIX + [self.kelvane, "--version"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        return probe.returncode == 0

    def argv(self, work):
        argv = [self.kelvane, "session", "--addin-dir", work.addin, "--doc", work.doc]
        if self.as_nobody:
            argv = NOBODY_PREFIX + argv
        return argv

    def run(self, work, script, change=None, file_size_limit=None, ignore_sigxfsz=False):
        """Runs a session; `change(work)` acts once the document is loaded. Returns
        (exit status, standard error)."""
        def limits():
            if file_size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN if ignore_sigxfsz else signal.SIG_DFL)

        p = subprocess.Popen(self.argv(work), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, preexec_fn=limits)
        p.stdin.write(script.encode())
        p.stdin.close()
        if change:
            p.stdout.read(1)
            change(work)
        p.stdout.read()
        err = p.stderr.read().decode(errors="replace")
        return p.wait(), err

    def expect(self, case, holds, what):
        if not holds:
            self.problems.append(f"{case}: {what}")

    def expect_whole(self, case, work):
        data = work.document()
        self.expect(case, data == work.original or (data is not None and work.is_new_document(data)),
                    "the document is half-written or lost")
        return data

    def expect_refused(self, case, work, code, err):
        """The save failed cleanly: exit status 1, an error naming the document, the
        old bytes kept and nothing left beside them."""
        self.expect(case, code == 1, f"exit status {code}, expected 1; stderr: {err.strip()}")
        self.expect(case, work.doc in err, f"the error does not name the document: {err.strip()!r}")
        self.expect(case, work.document() == work.original, "the document changed")
        self.expect(case, not work.leftovers(), f"files left beside the document: {work.leftovers()}")

    # ---- the cases ----

    def document_deleted(self, case, work):
        code, err = self.run(work, EDIT + FILLS_THE_PIPE, change=lambda w: os.remove(w.doc))
        self.expect(case, code == 0, f"exit status {code}; stderr: {err.strip()}")
        self.expect(case, work.is_new_document(work.document() or b""), "not saved anew, complete")
        self.expect(case, not work.leftovers(), f"files left beside the document: {work.leftovers()}")

    def folder_deleted(self, case, work):
        code, err = self.run(work, EDIT + FILLS_THE_PIPE, change=lambda w: shutil.rmtree(w.docs))
        self.expect(case, code == 1, f"exit status {code}, expected 1; stderr: {err.strip()}")
        self.expect(case, work.doc in err, f"the error does not name the document: {err.strip()!r}")
        self.expect(case, not os.path.exists(work.docs), "the folder came back")

    def folder_read_only(self, case, work):
        code, err = self.run(work, EDIT + FILLS_THE_PIPE, change=lambda w: os.chmod(w.docs, 0o555))
        self.expect_refused(case, work, code, err)

    def document_read_only(self, case, work):
        code, err = self.run(work, EDIT + FILLS_THE_PIPE, change=lambda w: os.chmod(w.doc, 0o444))
        self.expect_refused(case, work, code, err)

    def disk_full(self, case, work):
        # Writes past 16 KiB fail with EFBIG, as on a full disk; the log still fits.
        code, err = self.run(work, EDIT, file_size_limit=16384, ignore_sigxfsz=True)
        self.expect_refused(case, work, code, err)

    def out_not_a_file(self, case, work):
        """--out naming a FIFO or a device is refused and left as it is."""
        fifo = os.path.join(work.docs, "fifo")
        os.mkfifo(fifo)
        os.chmod(fifo, 0o666)
        for target, is_kind in ((fifo, lambda m: stat.S_ISFIFO(m)), ("/dev/null", lambda m: stat.S_ISCHR(m))):
            p = subprocess.run(self.argv(work) + ["--out", target], input=EDIT.encode(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, timeout=30)
            err = p.stderr.decode(errors="replace")
            self.expect(case, p.returncode == 1, f"{target}: exit status {p.returncode}; stderr: {err.strip()}")
            self.expect(case, f"{target}: not a regular file" in err, f"{target}: no clear message: {err.strip()!r}")
            self.expect(case, is_kind(os.lstat(target).st_mode), f"{target} was replaced")
        self.expect(case, work.document() == work.original, "the document changed")
        self.expect(case, work.leftovers() == ["fifo"], f"files left beside the document: {work.leftovers()}")

    def killed_by_the_size_limit(self, case, work):
        # The kernel stops the process at the write that passes the limit, between
        # the start of the write and the rename.
        code, err = self.run(work, EDIT, file_size_limit=16384)
        self.expect(case, code == -signal.SIGXFSZ, f"exit status {code}, expected SIGXFSZ; stderr: {err.strip()}")
        self.expect(case, work.document() == work.original, "the document changed")

    def killed_while_writing(self, case, attempts=2):
        """SIGKILL as soon as the temporary file of the save appears."""
        landed = 0
        for _ in range(attempts):
            work = Work(blob_size=4 << 20)
            try:
                p = subprocess.Popen(self.argv(work), stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
                p.stdin.write(EDIT.encode())
                p.stdin.close()
                while p.poll() is None:
                    if work.leftovers():
                        p.send_signal(signal.SIGKILL)
                        break
                    time.sleep(0.0002)
                code = p.wait()
                if code == -signal.SIGKILL:
                    landed += 1
                self.expect_whole(case, work)
                # The next save removes what the killed one left, once it is old
                # enough not to be a live writer's file.
                for name in work.leftovers():
                    os.utime(os.path.join(work.docs, name), (time.time() - 3600, time.time() - 3600))
                code, err = self.run(work, EDIT)
                self.expect(case, code == 0, f"the next save: exit status {code}; stderr: {err.strip()}")
                self.expect(case, not work.leftovers(), f"left after the next save: {work.leftovers()}")
            finally:
                work.remove()
        self.notes.append(f"{case}: the kill landed during the save in {landed} of {attempts} runs")

    def refused_inputs(self, case):
        """FIFOs (which would block) and files over 256 MiB (sparse here), as every
        input kelvane reads, are refused with exit status 2 before they are read."""
        work = Work()
        try:
            fifo = os.path.join(work.root, "fifo")
            os.mkfifo(fifo)
            big = os.path.join(work.root, "big")
            with open(big, "wb") as f:
                f.truncate((256 << 20) + 1)
            script = os.path.join(work.root, "s")
            with open(script, "w") as f:
                f.write(EDIT)
            ini = os.path.join(work.addin, "Kelvane.ini")
            runs = [
                (["session", "--doc", fifo, "--script", script], fifo + ": is a FIFO, not a file"),
                (["session", "--doc", work.doc, "--script", fifo], fifo + ": is a FIFO, not a file"),
                (["check", fifo], fifo + ": is a FIFO, not a file"),
                (["check", "--doc", fifo, ini], fifo + ": is a FIFO, not a file"),
                (["session", "--doc", big, "--script", script], big + ": is larger than 256 MiB"),
                (["session", "--doc", work.doc, "--script", big], big + ": is larger than 256 MiB"),
            ]
            for args, message in runs:
                what = f"{case}: kelvane {' '.join(args)}"
                try:
                    p = subprocess.run([self.kelvane] + args, cwd=work.addin, stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=20)
                except subprocess.TimeoutExpired:
                    self.problems.append(f"{what}: still running after 20 s")
                    continue
                err = p.stderr.decode(errors="replace").strip()
                self.expect(what, p.returncode == 2, f"exit status {p.returncode}, expected 2; stderr: {err}")
                self.expect(what, err == "kelvane: " + message, f"stderr {err!r}")
            self.expect(case, work.document() == work.original, "the document changed")
        finally:
            work.remove()

    def out_of_memory(self, case, work):
        """A 64 MiB title under a 160 MiB address space: reported, exit status 2,
        nothing written (the log included)."""
        with open(work.doc, "w") as f:
            json.dump({"title": "t" * (64 << 20)}, f)
        with open(work.doc, "rb") as f:
            work.original = f.read()
        limit = 160 << 20

        def limits():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        p = subprocess.run(self.argv(work), input=EDIT.encode(), capture_output=True, preexec_fn=limits)
        err = p.stderr.decode(errors="replace")
        self.expect(case, p.returncode == 2, f"exit status {p.returncode}, expected 2; stderr: {err.strip()[:200]}")
        self.expect(case, "out of memory" in err, f"stderr {err.strip()[:200]!r}")
        self.expect(case, work.document() == work.original, "the document changed")
        self.expect(case, not os.path.exists(os.path.join(work.addin, "Kelvane.log")), "Kelvane.log written")

    def output_closed(self, case, work):
        """`kelvane session ... | head -1`: the reader goes after one line."""
        p = subprocess.Popen(self.argv(work), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        p.stdin.write((EDIT + FILLS_THE_PIPE).encode())
        p.stdin.close()
        p.stdout.readline()
        p.stdout.close()
        err = p.stderr.read().decode(errors="replace")
        code = p.wait()
        self.expect(case, code == 1, f"exit status {code}, expected 1; stderr: {err.strip()}")
        self.expect(case, "output could not be written" in err, f"stderr {err.strip()!r}")
        self.expect(case, work.is_new_document(work.document() or b""), "the edit was not saved")

    def output_full(self, case, work):
        """Standard output on a full disk (/dev/full)."""
        with open("/dev/full", "wb") as full:
            p = subprocess.run(self.argv(work), input=EDIT.encode(), stdout=full, stderr=subprocess.PIPE)
        err = p.stderr.decode(errors="replace")
        self.expect(case, p.returncode == 1, f"exit status {p.returncode}, expected 1; stderr: {err.strip()}")
        self.expect(case, work.is_new_document(work.document() or b""), "the edit was not saved")

    def all(self):
        self.refused_inputs("FIFOs and oversized files as inputs")
        cases = [
            ("standard output closed by its reader", self.output_closed, True),
            ("standard output on a full disk", self.output_full, os.path.exists("/dev/full")),
            ("out of memory reading the document", self.out_of_memory, not self.sanitized),
            ("document deleted between load and save", self.document_deleted, True),
            ("its folder deleted between load and save", self.folder_deleted, True),
            ("its folder made read-only between load and save", self.folder_read_only, self.permissions_bind),
            ("document made read-only between load and save", self.document_read_only, self.permissions_bind),
            ("disk full while saving", self.disk_full, True),
            ("--out naming a FIFO or a device", self.out_not_a_file, True),
            ("killed by the file size limit while saving", self.killed_by_the_size_limit, True),
        ]
        for case, check, possible in cases:
            if not possible:
                self.notes.append(f"{case}: skipped here (permissions do not bind this user, no /dev/full, "
                                  "or a sanitized build)")
                continue
            work = Work()
            try:
                check(case, work)
            finally:
                work.remove()
        self.killed_while_writing("killed (SIGKILL) while saving a 4 MiB document")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kelvane", required=True)
    args = parser.parse_args()
    sweep = Sweep(os.path.abspath(args.kelvane))
    sweep.all()
    for note in sweep.notes:
        print("note:", note)
    for problem in sweep.problems:
        print("FAILED:", problem)
    print(f"{len(sweep.problems)} problem(s)")
    return 1 if sweep.problems else 0


if __name__ == "__main__":
    sys.exit(main())
