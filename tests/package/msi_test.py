#!/usr/bin/env python3
"""The installer: its tables, then under Wine in a fresh prefix, `wineserver -w` after
each step and any non-zero exit a failure (Wine's arrive modulo 256). regsvr32 and the
MSI write the same keys; one-edit.session through the installed DLL matches the native
program; an upgrade, a repair and the uninstall keep a changed Kelvane.ini; a downgrade
is refused; uninstalling leaves no key and no program file. Exit status 0 when all holds.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "com"))
from wine_keeper import windows_path  # noqa: E402
from wine_sessions import ADDIN_CLSID, HANDLER_CLSID, LIBID, ADDIN_IID, HANDLER_IID, LOG_DATE  # noqa: E402

UPGRADE_CODE = "{66872C82-019E-4BE3-8285-18C043341A78}"
INSTALLED = "C:\\Program Files\\Kelvane"
KEYS = ["HKCR\\CLSID\\" + ADDIN_CLSID, "HKCR\\CLSID\\" + HANDLER_CLSID, "HKCR\\Kelvane.swAddIn",
        "HKCR\\Kelvane.swPropMgrHdlr", "HKCR\\TypeLib\\" + LIBID, "HKCR\\Interface\\" + ADDIN_IID,
        "HKCR\\Interface\\" + HANDLER_IID, "HKLM\\SOFTWARE\\SolidWorks\\Addins\\" + ADDIN_CLSID]
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
PROGRAM_FILES = ["Kelvane.dll", "kelvane.exe", "README.md", "LICENSE.txt"]

problems = []


def expect(condition, what):
    if not condition:
        problems.append(what)


def table(msi, name):
    """An MSI table as a list of {column: value}."""
    lines = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def check_tables(msi):
    info = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    expect("Template: x64;1033" in info, "summary: not x64;1033\n" + info)
    words = int(re.search(r"^Source: (\d+)", info, re.M).group(1))
    expect(not words & 8, "summary: the package asks for no elevation, as a per-user one does")
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    expect(properties.get("ALLUSERS") == "1", "ALLUSERS is %r, not 1" % properties.get("ALLUSERS"))
    expect(properties.get("UpgradeCode") == UPGRADE_CODE, "UpgradeCode %r" % properties.get("UpgradeCode"))
    expect({row["Root"] for row in table(msi, "Registry")} == {"0", "2"}, "registry roots other than HKCR, HKLM")
    for row in table(msi, "Component"):
        expect(int(row["Attributes"]) & 256, "component %s is not 64-bit" % row["Component"])
    ini = next(row for row in table(msi, "Component") if row["Component"] == "PageDefinition")
    expect(int(ini["Attributes"]) & (16 | 128) == 16 | 128, "Kelvane.ini is not Permanent and NeverOverwrite")
    expect(table(msi, "CustomAction") == [], "custom actions")
    print("tables: checked")


class Prefix:
    def __init__(self, wine_run, work):
        self.wine_run = wine_run
        self.work = work
        self.drive_c = os.path.join(os.environ["KELVANE_WINEPREFIX"], "drive_c")

    def run(self, *args, cwd=None):
        """Runs a Windows program and waits for the prefix to settle; answers its result."""
        result = subprocess.run([self.wine_run] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=300)
        subprocess.run(["wineserver", "-w"], env=dict(os.environ, WINEPREFIX=os.environ["KELVANE_WINEPREFIX"]),
                       timeout=120)
        return result

    def step(self, what, *args):
        result = self.run(*args)
        expect(result.returncode == 0, "%s: exit %d\n%s" % (what, result.returncode, result.stderr.decode()))
        print("%s: exit %d" % (what, result.returncode))

    def export(self, keys):
        """{key: sorted value lines} of the keys and everything below them, one Wine start."""
        folder = os.path.join(self.work, "export")
        batch = os.path.join(folder, "export.cmd")
        done = os.path.join(folder, "done")
        # A Wine start that dies before the batch ends reads as "no keys": the batch's last
        # line proves it ran through, and a start that did not is tried again.
        for attempt in range(3):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            with open(batch, "w", newline="\r\n") as f:
                for i, key in enumerate(keys):
                    f.write('reg export "%s" "%s" /y\n' % (key, windows_path(os.path.join(folder, "%d.reg" % i))))
                f.write('echo done> "%s"\n' % windows_path(done))
            result = self.run("cmd", "/c", windows_path(batch))
            if os.path.exists(done):
                break
            print("reg export: Wine did not run the batch through (exit %d), again\n%s" % (
                result.returncode, result.stderr.decode(errors="replace")))
        else:
            raise RuntimeError("reg export: Wine did not run the batch through three times")
        blocks = {}
        for i in range(len(keys)):
            path = os.path.join(folder, "%d.reg" % i)
            if not os.path.exists(path):
                continue
            with open(path, encoding="utf-16") as f:
                key = None
                for line in f.read().splitlines():
                    if line.startswith("["):
                        key = line
                        blocks[key] = []
                    elif line and key:
                        blocks[key].append(line)
        return {key: sorted(values) for key, values in blocks.items()}

    def products(self):
        """(DisplayName, DisplayVersion) of every Kelvane in the uninstall list."""
        found = []
        for values in self.export([UNINSTALL]).values():
            fields = dict(line.split("=", 1) for line in values if "=" in line)
            if fields.get('"DisplayName"') == '"Kelvane"':
                found.append(fields.get('"DisplayVersion"', "").strip('"'))
        return found

    def installed(self, name):
        return os.path.join(self.drive_c, "Program Files", "Kelvane", name)

    def content(self, name):
        """The installed file's bytes, None when it is missing."""
        try:
            with open(self.installed(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None


def expect_products(prefix, versions, when):
    """The uninstall list holds these versions of Kelvane; a second reading goes with a failure."""
    found = prefix.products()
    if found != versions:
        expect(False, "%s: the uninstall list holds %s, and read again %s" % (when, found, prefix.products()))


def without(blocks, path):
    escaped = path.replace("\\", "\\\\")
    return {key: [line.replace(escaped, "<DLL>") for line in values] for key, values in blocks.items()}


def compare_session(prefix, options):
    """examples/one-edit.session natively and through COM on the installed DLL."""
    runs = {}
    for how in ("native", "com"):
        work = os.path.join(options.work, how)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        for name in ("bracket.json", "one-edit.session") + (("Kelvane.ini",) if how == "native" else ()):
            shutil.copyfile(os.path.join(options.source_dir, "examples", name), os.path.join(work, name))
        args = ["session", "--doc", "bracket.json", "--script", "one-edit.session"]
        if how == "native":
            result = subprocess.run([options.native_kelvane] + args, cwd=work, capture_output=True, timeout=60)
            log = os.path.join(work, "Kelvane.log")
        else:
            result = prefix.run(INSTALLED + "\\kelvane.exe", "session", "--com", "--addin-dir", INSTALLED,
                                *args[1:], cwd=work)
            log = prefix.installed("Kelvane.log")
        with open(os.path.join(work, "bracket.json"), "rb") as f, open(log, "rb") as g:
            runs[how] = (result.returncode, result.stdout.splitlines(), f.read(), LOG_DATE.sub(rb"\1<date>\2", g.read()))
    for i, what in enumerate(("exit status", "transcript", "saved document", "Kelvane.log")):
        expect(runs["native"][i] == runs["com"][i], "one-edit.session: the %s differs\n--- native\n%r\n--- com\n%r" % (
            what, runs["native"][i], runs["com"][i]))
    print("one-edit.session through the installed DLL: %s" % ("agrees" if runs["native"] == runs["com"] else "differs"))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--msi", "--newer-msi", "--dll", "--wine-run", "--native-kelvane", "--source-dir", "--work"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    options.native_kelvane = os.path.abspath(options.native_kelvane)
    options.wine_run = os.path.abspath(options.wine_run)
    check_tables(options.msi)

    prefix = Prefix(options.wine_run, options.work)
    subprocess.run([options.wine_run, "--fresh-prefix"], check=True, timeout=400)

    # regsvr32 on a copy elsewhere, for what the MSI must write the same.
    copy = os.path.join(prefix.drive_c, "regsvr32", "Kelvane.dll")
    os.makedirs(os.path.dirname(copy))
    shutil.copyfile(options.dll, copy)
    prefix.step("regsvr32", "regsvr32", "/s", "C:\\regsvr32\\Kelvane.dll")
    registered = without(prefix.export(KEYS), "C:\\regsvr32\\Kelvane.dll")
    expect(len(registered) > len(KEYS), "regsvr32 wrote only %d keys" % len(registered))
    prefix.step("regsvr32 /u", "regsvr32", "/s", "/u", "C:\\regsvr32\\Kelvane.dll")
    expect(prefix.export(KEYS) == {}, "regsvr32 /u left keys")

    prefix.step("msiexec /i 1.1.0", "msiexec", "/i", windows_path(options.msi), "/qn")
    installed = without(prefix.export(KEYS), INSTALLED + "\\Kelvane.dll")
    expect(installed == registered, "the MSI's keys differ from regsvr32's\n--- regsvr32\n%s\n--- msi\n%s" % (
        registered, installed))
    print("registry: %d keys from regsvr32, %s from the MSI" % (len(registered), "the same" if installed == registered
                                                                 else "others"))
    for name in PROGRAM_FILES + ["Kelvane.ini"]:
        expect(os.path.isfile(prefix.installed(name)), "not installed: " + name)
    expect_products(prefix, ["1.1.0"], "after installing")
    compare_session(prefix, options)

    # The site's own Kelvane.ini outlives upgrades, repairs and the uninstall.
    site_ini = prefix.content("Kelvane.ini") + b"# the site's own line\r\n"
    with open(prefix.installed("Kelvane.ini"), "wb") as f:
        f.write(site_ini)
    prefix.step("msiexec /i 1.1.1 (upgrade)", "msiexec", "/i", windows_path(options.newer_msi), "/qn")
    expect_products(prefix, ["1.1.1"], "after the upgrade")
    expect(prefix.content("Kelvane.ini") == site_ini, "the upgrade replaced the changed Kelvane.ini")
    expect(without(prefix.export(KEYS), INSTALLED + "\\Kelvane.dll") == registered, "keys after the upgrade")
    os.remove(prefix.installed("kelvane.exe"))
    prefix.step("msiexec /i 1.1.1 REINSTALL=ALL (repair)", "msiexec", "/i", windows_path(options.newer_msi),
                "REINSTALL=ALL", "REINSTALLMODE=omus", "/qn")
    expect(os.path.isfile(prefix.installed("kelvane.exe")), "the repair did not bring kelvane.exe back")
    expect(prefix.content("Kelvane.ini") == site_ini, "the repair replaced the changed Kelvane.ini")

    result = prefix.run("msiexec", "/i", windows_path(options.msi), "/qn")
    print("msiexec /i 1.1.0 over 1.1.1 (downgrade): exit %d" % result.returncode)
    expect(result.returncode != 0, "the downgrade was not refused")
    expect_products(prefix, ["1.1.1"], "after the refused downgrade")

    prefix.step("msiexec /x", "msiexec", "/x", windows_path(options.newer_msi), "/qn")
    left = prefix.export(KEYS)
    expect(left == {}, "keys left after uninstalling: %s" % sorted(left))
    expect_products(prefix, [], "after uninstalling")
    for name in PROGRAM_FILES:
        expect(not os.path.exists(prefix.installed(name)), "left after uninstalling: " + name)
    expect(prefix.content("Kelvane.ini") == site_ini, "uninstalling did not leave the changed Kelvane.ini")
    expect(os.path.isfile(prefix.installed("Kelvane.log")), "Kelvane.log did not stay")

    for problem in problems:
        print("\n" + problem)
    print("\ninstaller under Wine: %s" % ("FAILED" if problems else "all holds"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
