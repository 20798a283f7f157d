"""The one desktop harness (tests/support/desktop.py) itself: however a script
on it ends, nothing that it started is left running, and an X server that
dies under a waiting script ends the script at once, saying why."""

import os
import signal
import subprocess
import sys
import unittest

import kvharness as k
from kvharness import desktop

SUPPORT = os.path.dirname(os.path.abspath(desktop.__file__))

# A script on the harness: a display with openbox, a Wine session where a
# prepared prefix is at hand, two network namespaces where they can be made,
# and a program of its own. It says what it started, then reads a line: "pass"
# ends it normally, "fail" with an exception, "wait" waits on the display for
# what never comes.
SCRIPT = r"""
import subprocess, sys
sys.path.insert(0, sys.argv[1])
import desktop
display = desktop.Display()
if sys.argv[2]:
    display.wine(sys.argv[2])
names = desktop.NetworkPair(subnet="10.253").ns if desktop.network_namespaces_available() else []
desktop.spawn(["cat"], stdin=subprocess.PIPE)
print("ready", *names, flush=True)
line = sys.stdin.readline().strip()
if line == "fail":
    raise RuntimeError("a failing script")
if line == "wait":
    desktop.wait_for(lambda: False, timeout=600, what="a window that never comes")
"""


def proc_file(pid, name):
    try:
        with open("/proc/%d/%s" % (pid, name), "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def start_time(pid):
    """When the process started, which tells it from a later one of the same pid."""
    fields = proc_file(pid, "stat").rpartition(")")[2].split()
    return fields[19] if len(fields) > 19 else None


class DesktopHarnessTest(unittest.TestCase):
    def start(self, argv):
        """Starts a script on the harness; returns it, once it has set up, with
        what it printed and the processes it has started."""
        proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        for stream in (proc.stdin, proc.stdout, proc.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(proc.kill)
        said = proc.stdout.readline().split()
        if said[:1] != ["ready"]:
            self.fail("the script did not start:\n" + proc.stderr.read())
        started = [(pid, start_time(pid)) for pid in desktop.descendants(proc.pid)]
        return proc, said[1:], started

    def assert_nothing_left(self, started, namespaces):
        left = []
        for pid, started_at in started:
            state = desktop._stat(pid)
            if state is not None and state[0] != "Z" and start_time(pid) == started_at:
                left.append("%d %s" % (pid, proc_file(pid, "cmdline")))
        self.assertEqual(left, [])
        listed = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
        self.assertEqual([ns for ns in namespaces if ns in listed], [])

    def test_nothing_is_left_however_a_script_ends(self):
        def say(line):
            return lambda proc: (proc.stdin.write(line + "\n"), proc.stdin.flush())
        endings = [("it passes", say("pass"), 0),
                   ("it fails", say("fail"), 1),
                   ("SIGINT", lambda proc: proc.send_signal(signal.SIGINT), -signal.SIGINT),
                   ("SIGTERM", lambda proc: proc.send_signal(signal.SIGTERM), -signal.SIGTERM)]
        for name, end, code in endings:
            with self.subTest(name):
                proc, said, started = self.start(
                    [sys.executable, "-c", SCRIPT, SUPPORT, k.WINE_PREFIX or ""])
                commands = " | ".join(proc_file(pid, "cmdline") for pid, _ in started)
                for program in ["Xvfb", "openbox", "cat"] + (["wineserver"] if k.WINE else []):
                    self.assertIn(program, commands)
                end(proc)
                self.assertEqual(proc.wait(120), code, proc.stderr.read())
                self.assert_nothing_left(started, said)

    def test_an_x_server_that_dies_ends_the_waiting_script_saying_why(self):
        scripts = [("a test waiting for a window",
                    [sys.executable, "-c", SCRIPT, SUPPORT, ""], "waiting for"),
                   ("a command run on the desktop",
                    [sys.executable, os.path.join(SUPPORT, "desktop.py"), "run", "--",
                     "sh", "-c", "echo ready; exec cat"], ".* ran")]
        for name, argv, doing in scripts:
            with self.subTest(name):
                proc, said, started = self.start(argv)
                if argv[2] == SCRIPT:
                    proc.stdin.write("wait\n")
                    proc.stdin.flush()
                xvfb = [pid for pid, _ in started if proc_file(pid, "comm") == "Xvfb"]
                os.kill(xvfb[0], signal.SIGKILL)
                self.assertEqual(proc.wait(60), 1)
                self.assertRegex(proc.stderr.read(), r"the X server of display :\d+ was killed by "
                                 r"SIGKILL while %s" % doing)
                self.assert_nothing_left(started, said)


if __name__ == "__main__":
    unittest.main()
