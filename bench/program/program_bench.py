"""Times the real program as a person starts and closes it, under Xvfb with
openbox: from starting the executable to its window being mapped, from the
request to close the window (what Alt+F4 or the close box sends) to the
process having ended (idle, and while a flood of datagrams arrives),
and how often an idle program wakes up (context switches of all its threads
over ten seconds).

The program binds UDP port 15251: run this in a network namespace of its own
(tools/bench.sh does). Writes each figure as a JSON line on standard output
(bench/support/figures.py).

With --wine the executable is the Windows program, started with `wine` in a
Wine session of the harness (tests/support/desktop.py) in the prefix given,
which is prepared if need be: start-up and close are timed as above, after
one untimed start that loads Wine's own libraries, and every figure's platform
is "under Wine". Wine shows a window of its own for the program's taskbar entry, of one
pixel; the start-up counts to the chat window. Under Wine the start-up is also
counted in Wine server requests, which do not depend on the machine's load as
times do: every request of the program's threads from its first to the one
that shows its window, in a session whose server writes them all down (and
runs slower for it). With --yardstick, the same
start-up and close are timed for a bare Win32 window program
(bench/program/bare_window.cpp), which shows what Wine itself costs: while
the flood runs it binds the chat port and reads it on a thread, as the
program does.

Usage: python3 program_bench.py [--wine PREFIX [--yardstick BARE_WINDOW_EXE]]
                                KVELMAR_EXECUTABLE [runs]
"""

import ctypes
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "bench", "support"))
import desktop  # noqa: E402
import figures  # noqa: E402
from figures import LOWER  # noqa: E402

CHAT_PORT = 15251


# Set by --wine: the command that starts the program and its environment (the
# Wine session's).
LAUNCHER = []
ENVIRONMENT = None


class MapWatch:
    """Reads the X server's map events on the root window with their times."""

    def __init__(self, display):
        self.maps = []  # (time, window)
        self._env = display.env
        self._xev = desktop.spawn(
            ["stdbuf", "-o0", "xev", "-root", "-event", "substructure", "-event", "property"],
            env=display.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        # A property change on the root window shows that xev is listening.
        desktop.wait_for(self._poke_until_ready, what="xev")

    def _poke_until_ready(self):
        subprocess.run(["xprop", "-root", "-f", "KV_BENCH", "8s", "-set", "KV_BENCH", "ready"],
                       env=self._env, check=False)
        return self._ready.wait(0.05)

    def _read(self):
        for line in self._xev.stdout:
            now = time.monotonic()
            if line.startswith("PropertyNotify"):
                self._ready.set()
            elif line.startswith("MapNotify"):
                match = re.search(r" window (0x[0-9a-f]+)", line)
                self.maps.append((now, int(match.group(1), 16) if match else 0))

    def close(self):
        desktop.stop(self._xev)


class Flood:
    """Sends 64-byte datagrams to the chat port as fast as one socket can."""

    def __init__(self):
        self._stop = threading.Event()
        self.sent = 0
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        payload = b"flood " + b"." * 58
        target = ("127.0.0.1", CHAT_PORT)
        while not self._stop.is_set():
            for _ in range(1000):
                try:
                    s.sendto(payload, target)
                except OSError:
                    pass
            self.sent += 1000
        s.close()

    def stop(self):
        self._stop.set()
        self._thread.join()


class Subject:
    """A program to time: its executable, the caption of its window, the
    arguments it takes when a flood comes, and the name its rows carry."""

    def __init__(self, exe, caption, flood_args=(), name=""):
        self.exe = exe
        self.caption = caption
        self.flood_args = list(flood_args)
        self.name = name


def is_large(display, window):
    out = display.run(["xwininfo", "-id", str(window)], check=False).stdout
    sizes = re.findall(r"(?:Width|Height): (\d+)", out)
    return len(sizes) == 2 and min(int(v) for v in sizes) >= 100


def start(display, subject, watch, args=()):
    before = len(watch.maps)
    t0 = time.monotonic()
    proc = desktop.spawn(LAUNCHER + [subject.exe] + list(args), env=ENVIRONMENT or display.env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not LAUNCHER:
        desktop.wait_for(lambda: len(watch.maps) > before, interval=0.001,
                         what="the window to be mapped")
        shown_ms = (watch.maps[before][0] - t0) * 1000
        return proc, display.wait_window(subject.caption), shown_ms
    # Wine's one-pixel window of the taskbar entry has the same name; the
    # harness passes it over.
    window = display.wait_window(subject.caption, timeout=45.0)
    # The first window mapped that has the chat window's size: its frame.
    shown = desktop.wait_for(
        lambda: next((t for t, w in watch.maps[before:] if is_large(display, w)), None),
        what="the chat window's map")
    return proc, window, (shown - t0) * 1000


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class WindowCloser:
    """Asks a window to close as the window manager does for Alt+F4 or the
    close box (WM_DELETE_WINDOW), straight from this process, so that the time
    measured is the program's and not that of starting xdotool."""

    def __init__(self, display):
        self._x = ctypes.CDLL("libX11.so.6")
        self._x.XOpenDisplay.restype = ctypes.c_void_p
        self._x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x.XInternAtom.restype = ctypes.c_ulong
        self._x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self._x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_long, ctypes.POINTER(XEvent)]
        self._x.XFlush.argtypes = [ctypes.c_void_p]
        self._x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._display = self._x.XOpenDisplay(display.name.encode())
        if not self._display:
            raise RuntimeError("cannot open display " + display.name)
        self._protocols = self._x.XInternAtom(self._display, b"WM_PROTOCOLS", 0)
        self._delete = self._x.XInternAtom(self._display, b"WM_DELETE_WINDOW", 0)

    def close(self, window):
        event = XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = self._protocols
        event.xclient.format = 32
        event.xclient.l[0] = self._delete
        event.xclient.l[1] = 0  # CurrentTime
        self._x.XSendEvent(self._display, window, 0, 0, ctypes.byref(event))
        self._x.XFlush(self._display)

    def shut(self):
        self._x.XCloseDisplay(self._display)


def close(closer, proc, window):
    t0 = time.monotonic()
    closer.close(window)
    code = proc.wait(30)
    return (time.monotonic() - t0) * 1000, code


def wakeups(pid, seconds):
    """Context switches per second of each thread of pid over seconds."""
    def sample():
        counts = {}
        task_dir = "/proc/%d/task" % pid
        for tid in os.listdir(task_dir):
            try:
                with open(os.path.join(task_dir, tid, "status")) as f:
                    status = f.read()
                with open(os.path.join(task_dir, tid, "comm")) as f:
                    name = f.read().strip()
            except OSError:
                continue
            # Each voluntary switch is one sleep, so one wake-up after it.
            switches = int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", status, re.M).group(1))
            counts[tid] = (name, switches)
        return counts

    first = sample()
    time.sleep(seconds)
    last = sample()
    rates = {}
    for tid, (name, switches) in last.items():
        rates[tid] = (name, (switches - first.get(tid, (name, 0))[1]) / seconds)
    return rates


REQUEST = re.compile(rb"^([0-9a-f]{4,}): (\w+)\( (.*)$")
SWP_SHOWWINDOW = 0x0040


def shows_large_window(arguments):
    """Whether a set_window_pos request shows a window at least 100 pixels
    wide and high: the main window, not Wine's one-pixel taskbar window."""
    flags = re.search(rb"swp_flags=([0-9a-f]+)", arguments)
    place = re.search(rb"window=\{(-?\d+),(-?\d+);(-?\d+),(-?\d+)\}", arguments)
    if not flags or not place or not int(flags.group(1), 16) & SWP_SHOWWINDOW:
        return False
    left, top, right, bottom = (int(v) for v in place.groups())
    return right - left >= 100 and bottom - top >= 100


def requests_until_shown(trace, offset):
    """The Wine server requests in the trace, from offset on, of the first
    program that starts there: of all its threads, up to and with the one that
    shows its window."""
    unix_pid = None
    threads = set()
    count = 0
    with open(trace, "rb") as f:
        f.seek(offset)
        for line in f:
            match = REQUEST.match(line)
            if not match:
                continue
            thread, name, arguments = match.groups()
            if name in (b"init_first_thread", b"init_thread"):
                pid = re.search(rb"unix_pid=(\d+)", arguments)
                if unix_pid is None and name == b"init_first_thread" and pid:
                    unix_pid = pid.group(1)
                if pid and pid.group(1) == unix_pid:
                    threads.add(thread)
            if thread not in threads:
                continue
            count += 1
            if name == b"set_window_pos" and shows_large_window(arguments):
                return count
    raise RuntimeError("the trace shows no window of the program being shown")


def count_requests(display, watch, closer, prefix, subjects):
    """Writes each subject's Wine server requests until its window is shown,
    in a session of its own whose server traces them."""
    global ENVIRONMENT
    folder = tempfile.mkdtemp(prefix="kv-bench-trace-")
    trace = os.path.join(folder, "wineserver.log")
    wine = desktop.WineSession(display, prefix, trace=trace)
    try:
        ENVIRONMENT = wine.env
        for subject in subjects:
            # The first start of a program in a session loads what later ones
            # find ready.
            close(closer, *start(display, subject, watch)[:2])
            offset = os.path.getsize(trace)
            close(closer, *start(display, subject, watch)[:2])
            figures.write(subject.name + "start-up: Wine server requests until the window is shown",
                          requests_until_shown(trace, offset), "requests", better=LOWER)
    finally:
        wine.close()
        shutil.rmtree(folder, ignore_errors=True)


def time_start_and_close(display, watch, closer, subjects, runs):
    """Prints the start-up and close figures of each subject over runs. The
    subjects take turns, run by run, so that a machine whose load changes
    meanwhile weighs on all of them alike."""
    shown = {subject: [] for subject in subjects}
    closed = {subject: [] for subject in subjects}
    flooded = {subject: [] for subject in subjects}
    if LAUNCHER:
        for subject in subjects:
            proc, window, _ = start(display, subject, watch)
            close(closer, proc, window)
    for _ in range(runs):
        for subject in subjects:
            proc, window, shown_ms = start(display, subject, watch)
            shown[subject].append(shown_ms)
            closed_ms, code = close(closer, proc, window)
            if code != 0:
                raise RuntimeError("%s ended with exit code %d" % (subject.exe, code))
            closed[subject].append(closed_ms)
    for _ in range(runs):
        for subject in subjects:
            proc, window, _ = start(display, subject, watch, subject.flood_args)
            flood = Flood()
            desktop.wait_for(lambda: flood.sent >= 100000, what="the flood to get going")
            try:
                closed_ms, code = close(closer, proc, window)
            finally:
                flood.stop()
            if code != 0:
                raise RuntimeError("%s ended with exit code %d under a flood" % (subject.exe, code))
            flooded[subject].append(closed_ms)
    for subject in subjects:
        # The targets are the program's; the yardstick's figures show what
        # Wine itself costs of them.
        target = (lambda text: "" if subject.name else text)
        name = subject.name
        figures.write(name + "start-up to the window shown, median of %d" % runs,
                      statistics.median(shown[subject]), "ms", target("< 300 ms"), LOWER)
        figures.write(name + "start-up to the window shown, slowest", max(shown[subject]), "ms",
                      better=LOWER)
        figures.write(name + "closing the window to process exit, idle, median",
                      statistics.median(closed[subject]), "ms", target("< 100 ms"), LOWER)
        figures.write(name + "closing the window to process exit, during a flood, median",
                      statistics.median(flooded[subject]), "ms", target("< 100 ms"), LOWER)
        figures.write(name + "closing the window to process exit, during a flood, slowest",
                      max(flooded[subject]), "ms", target("< 300 ms") if LAUNCHER else "", LOWER)


def main():
    global LAUNCHER, ENVIRONMENT
    args = sys.argv[1:]
    wine_prefix = None
    yardstick = None
    if args and args[0] == "--wine":
        wine_prefix = desktop.prepare_wine_prefix(args[1])
        LAUNCHER = ["wine"]
        figures.platform = "under Wine"
        args = args[2:]
        if args and args[0] == "--yardstick":
            yardstick = Subject(os.path.abspath(args[1]), "^Bare Win32 window$", ["drain"],
                                "bare Win32 window (yardstick): ")
            args = args[2:]
    program = Subject(os.path.abspath(args[0]), "^Kvelmar$")
    runs = int(args[1]) if len(args) > 1 else 5
    desktop.require("stdbuf", "xev", "xprop", "xdotool", "xwininfo")
    display = desktop.Display()
    watch = None
    closer = None
    wine = None
    try:
        if wine_prefix:
            wine = desktop.WineSession(display, wine_prefix)
            ENVIRONMENT = wine.env
        watch = MapWatch(display)
        closer = WindowCloser(display)
        subjects = [program, yardstick] if yardstick else [program]
        time_start_and_close(display, watch, closer, subjects, runs)

        if LAUNCHER:
            wine.close()
            wine = None
            count_requests(display, watch, closer, wine_prefix, subjects)
            # Wine's own threads and services would be counted with the program's.
            return
        proc, window, _ = start(display, program, watch)
        # Idle: start-up's own work is over, and the caret, which blinks
        # for 10 s after the last input, has stopped.
        time.sleep(12)
        rates = wakeups(proc.pid, 10)
        close(closer, proc, window)
        total = sum(rate for _, rate in rates.values())
        figures.write("idle program: wake-ups per second, all threads", total, "/s", "about 1",
                      LOWER)
        for tid, (name, rate) in sorted(rates.items(), key=lambda item: -item[1][1]):
            if rate > 0:
                print("idle program: thread %s (%s): %.1f wake-ups per second" % (tid, name, rate),
                      file=sys.stderr, flush=True)
    finally:
        if closer is not None:
            closer.shut()
        if watch is not None:
            watch.close()
        if wine is not None:
            wine.close()
        display.close()


if __name__ == "__main__":
    main()
