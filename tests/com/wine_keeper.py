"""What the Wine scripts share: Windows paths of Linux files, and a waiting program
that keeps a Wine prefix's services up. Without one they stop after every program
and start again with the next, some seconds each time."""

import os
import subprocess
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineKeeper:
    def __init__(self, wine_run, env, seconds):
        self.command = [wine_run, "ping", "-n", str(seconds), "127.0.0.1"]
        self.env = dict(env, KELVANE_WINE_TIMEOUT=str(seconds))
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen(self.command, env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(3)
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
