"""Drives the real kvelmar executable as a person would.

An X server (Xvfb) with a light window manager (openbox), the program started
as a plain process (optionally inside a network namespace), xdotool for the
mouse and the keyboard, and the X clipboard to read what the history shows.
Every wait polls a condition against a deadline; nothing sleeps blindly.

The same tests drive the Windows program under Wine, whose windows are X11
windows too: with KV_E2E_WINEPREFIX naming a prepared Wine prefix (fonts in
place, as tools/test-windows.sh makes it), KVELMAR_EXE is kvelmar.exe and runs
under Wine, and KV_E2E_WINDOW_TEXT names the reader of the controls that Wine
gives no copy of (window_text.cpp). What differs between the two lives in the
class Platform below.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

WINE_PREFIX = os.environ.get("KV_E2E_WINEPREFIX")
WINE = bool(WINE_PREFIX)

# Wine starts a program, and above all its first one, in seconds, not in
# fractions of one.
DEFAULT_TIMEOUT = 45.0 if WINE else 15.0

# Positions of the chat window's controls in its client area: (left, top, width, height).
CHAT_CONTROLS = {
    "mesag": (8, 448 + 8, 409, 23),
    "BitBtn3": (424, 448 + 8, 169, 22),
    "Memo1": (0, 0, 416, 448),
    "ListBox1": (416 + 8, 40, 161, 185),
    "BitBtn1": (416 + 8, 232, 75, 25),
    "BitBtn2": (416 + 96, 232, 75, 25),
    "BitBtn4": (416 + 8, 264, 161, 25),
    "nik": (416 + 8, 424, 169, 21),
}

DIALOG_CAPTION = "Новый IP"

# The new-address dialog's controls in its client area.
DIALOG_CONTROLS = {
    "Edit1": (24, 32, 33, 21),
    "Edit2": (64, 32, 33, 21),
    "Edit3": (104, 32, 33, 21),
    "Edit4": (144, 32, 33, 21),
    "BitBtn1": (24, 72, 75, 25),
    "BitBtn2": (104, 72, 75, 25),
}


def wait_for(condition, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls condition() until it returns a true value; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(interval)


class MissingProgram(RuntimeError):
    """A program that a test starts is not installed."""

    def __init__(self, program):
        super().__init__("missing program: %s (add its package to tools/deps.sh)" % program)


def require(*programs):
    """Fails naming the first of the programs that is not installed: each
    comes from a package that tools/deps.sh installs, and an absent one must
    fail a test by name, not skip it or fail it halfway through."""
    for program in programs:
        if not shutil.which(program):
            raise MissingProgram(program)


def executable():
    path = os.environ.get("KVELMAR_EXE")
    if not path:
        raise RuntimeError("KVELMAR_EXE is not set")
    return path


class Display:
    """An Xvfb server with openbox (or with no window manager at all), for the
    duration of a test."""

    def __init__(self, width=1280, height=1024, window_manager=True):
        require("Xvfb", "xdpyinfo", "openbox", "xprop", "setxkbmap", "xdotool", "xwininfo", "xclip",
                "import")
        self.number = self._free_number()
        self.name = ":%d" % self.number
        self.env = dict(os.environ, DISPLAY=self.name)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("QT_QPA_PLATFORM", None)
        self._wine_prefixes = {}
        # xdotool types Cyrillic through the Russian layout (setxkbmap us,ru).
        self._xvfb = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp",
             "-noreset"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: self._xvfb.poll() is None and self.run(["xdpyinfo"], check=False).returncode == 0,
                 what="Xvfb on " + self.name)
        self._wm = None
        if window_manager:
            self._wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False).stdout,
                what="openbox")
        self.run(["setxkbmap", "-layout", "us,ru"], check=False)

    @staticmethod
    def _free_number():
        for n in range(90, 400):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                return n
        raise RuntimeError("no free X display number")

    def run(self, argv, check=True, input=None):
        try:
            return subprocess.run(argv, env=self.env, check=check, capture_output=True, text=True,
                                  input=input, timeout=60)
        except FileNotFoundError:
            raise MissingProgram(argv[0]) from None

    def xdotool(self, *args):
        return self.run(["xdotool"] + [str(a) for a in args]).stdout.strip()

    def find_windows(self, name, visible=True):
        args = ["xdotool", "search"]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", name]
        out = self.run(args, check=False).stdout.split()
        return [int(w) for w in out if not PLATFORM.is_application_window(self, int(w))]

    def wait_window(self, name, timeout=DEFAULT_TIMEOUT):
        return wait_for(lambda: self.find_windows(name), timeout=timeout,
                        what="a window named %r" % name)[0]

    def window_geometry(self, window):
        """The client area's position on the screen and its size: (x, y, w, h)."""
        out = self.run(["xwininfo", "-id", str(window)]).stdout
        fields = {}
        for line in out.splitlines():
            line = line.strip()
            if ":" in line:
                key, _, value = line.partition(":")
                fields[key.strip()] = value.strip()
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))

    def screen_size(self):
        out = self.run(["xdpyinfo"]).stdout
        for line in out.splitlines():
            if "dimensions:" in line:
                w, h = line.split()[1].split("x")
                return int(w), int(h)
        raise RuntimeError("no screen size")

    def click(self, window, control_rect, button=1):
        x, y, _, _ = self.window_geometry(window)
        left, top, width, height = control_rect
        self.xdotool("mousemove", x + left + width // 2, y + top + height // 2)
        self.xdotool("click", button)

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", "--delay", 30, *keys)

    def type_text(self, text):
        if text:
            self.xdotool("type", "--delay", 30, "--", text)

    def set_clipboard(self, text):
        # xclip stays behind as the selection's owner: it must not hold our pipes.
        subprocess.run(["xclip", "-i", "-selection", "clipboard"], env=self.env, input=text.encode(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=True)

    def copy_selection(self, *keys, timeout=2.0):
        """Presses the copy keys and returns what they put on the clipboard: polls
        for the change, since the copy reaches the clipboard asynchronously. An
        empty selection copies nothing; that reads as the empty text once
        timeout has passed."""
        sentinel = "\x01kv-clipboard-sentinel\x01"
        self.set_clipboard(sentinel)
        self.key(*keys)
        try:
            return wait_for(lambda: (lambda t: t if t != sentinel else None)(self.clipboard()),
                            timeout=timeout, what="the copy")
        except TimeoutError:
            return ""

    def clipboard(self):
        return self.run(["xclip", "-o", "-selection", "clipboard"], check=False).stdout

    def screenshot(self, path):
        self.run(["import", "-window", "root", path])

    def wine_prefix(self, netns_prefix):
        """The Wine prefix of the programs started on this display in the
        network namespace that netns_prefix enters: made on first use, with its
        Wine server running in that namespace until the display closes."""
        key = tuple(netns_prefix)
        if key not in self._wine_prefixes:
            self._wine_prefixes[key] = WinePrefix(self, netns_prefix)
        return self._wine_prefixes[key]

    def close(self):
        for prefix in self._wine_prefixes.values():
            prefix.close()
        self._wine_prefixes.clear()
        for proc in (self._wm, self._xvfb):
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()


class NetworkPair:
    """Two network namespaces joined by a veth pair, each with a 10.x address."""

    _counter = 0

    def __init__(self, subnet="10.251"):
        require("ip")
        NetworkPair._counter += 1
        tag = "%d%d" % (os.getpid() % 10000, NetworkPair._counter)
        self.ns = ["kva" + tag, "kvb" + tag]
        self.addresses = ["%s.%d.1" % (subnet, NetworkPair._counter),
                          "%s.%d.2" % (subnet, NetworkPair._counter)]
        self.broadcast = "%s.%d.255" % (subnet, NetworkPair._counter)
        veth = ["va" + tag, "vb" + tag]
        for ns in self.ns:
            _ip("netns", "add", ns)
        _ip("link", "add", veth[0], "type", "veth", "peer", "name", veth[1])
        for i in (0, 1):
            _ip("link", "set", veth[i], "netns", self.ns[i])
            self.exec(i, ["ip", "addr", "add", self.addresses[i] + "/24", "dev", veth[i]])
            self.exec(i, ["ip", "link", "set", veth[i], "up"])
            self.exec(i, ["ip", "link", "set", "lo", "up"])

    def prefix(self, side):
        return ["ip", "netns", "exec", self.ns[side]]

    def exec(self, side, argv, **kwargs):
        return _run_checked(self.prefix(side) + argv, **kwargs)

    def start_counting_peer(self, port, add_cleanup, side=1):
        """Starts a peer on `side` that keeps every datagram it receives on
        `port`; returns a function giving the datagrams so far. add_cleanup
        (a test's addCleanup) gets the peer's ending."""
        code = ("import socket\n"
                "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                "s.bind(('%s',%d))\n"
                "print('ready',flush=True)\n"
                "while True:\n"
                "  d,_=s.recvfrom(65536)\n"
                "  print(d.hex(),flush=True)\n") % (self.addresses[side], port)
        proc = subprocess.Popen(self.prefix(side) + ["python3", "-c", code],
                                stdout=subprocess.PIPE, text=True)
        # Cleanups run last first: kill, reap, close the pipe.
        add_cleanup(proc.stdout.close)
        add_cleanup(proc.wait)
        add_cleanup(proc.kill)
        if proc.stdout.readline().strip() != "ready":
            raise RuntimeError("the counting peer did not start")
        received = []

        def pump():
            for line in proc.stdout:
                received.append(bytes.fromhex(line.strip()))
        threading.Thread(target=pump, daemon=True).start()
        return lambda: list(received)

    def close(self):
        for ns in self.ns:
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)


def _ip(*args):
    _run_checked(["ip"] + list(args))


def _run_checked(argv, timeout=30, **kwargs):
    """Runs a set-up command; its failure says what it printed."""
    result = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kwargs)
    if result.returncode != 0:
        raise RuntimeError("%s ended with code %d: %s" % (
            " ".join(argv), result.returncode, (result.stderr or result.stdout).strip()))
    return result


def network_namespaces_available():
    if os.geteuid() != 0:
        return False
    require("ip")
    probe = "kvprobe%d" % os.getpid()
    ok = subprocess.run(["ip", "netns", "add", probe], capture_output=True).returncode == 0
    subprocess.run(["ip", "netns", "del", probe], capture_output=True)
    return ok


class WinePrefix:
    """A copy of the prepared Wine prefix whose Wine server runs in one network
    namespace: Wine creates every socket in its server, so programs in two
    namespaces need two servers, and a server belongs to one prefix."""

    _counter = 0
    # Wine's own programs and libraries, which nothing writes to: the copy links
    # them instead of copying several hundred megabytes.
    _SHARED = (".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".ds", ".tlb",
               ".ttf", ".fon", ".nls", ".msstyles", ".vxd", ".com", ".mui")

    def __init__(self, display, netns_prefix):
        require("wine", "wineserver", "wineboot")
        if not os.path.isfile(os.path.join(WINE_PREFIX, "system.reg")):
            raise RuntimeError("KV_E2E_WINEPREFIX=%s is no prepared Wine prefix "
                               "(tools/test-windows.sh prepares one)" % WINE_PREFIX)
        WinePrefix._counter += 1
        self.path = os.path.join(scratch_dir(), "wine-prefix-%d-%d" % (os.getpid(),
                                                                       WinePrefix._counter))
        shutil.rmtree(self.path, ignore_errors=True)
        shutil.copytree(WINE_PREFIX, self.path, symlinks=True, copy_function=self._link_or_copy,
                        ignore=shutil.ignore_patterns("wineserver"))
        self.netns_prefix = list(netns_prefix)
        self.env = dict(display.env, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        # The server, then Wine's background programs (started by the first
        # program of a server), detached from every pipe: a program's own
        # output pipes must end with it, not with them.
        try:
            self.run(["wineserver", "--persistent"])
            self.run(["wine", "cmd.exe", "/c", "exit"])
        except BaseException:
            self.close()  # a server that started must not outlive the test
            raise

    @classmethod
    def _link_or_copy(cls, source, target):
        if source.lower().endswith(cls._SHARED):
            try:
                os.link(source, target)
                return
            except OSError:
                pass  # another file system: copied below
        shutil.copy2(source, target)

    def run(self, argv, timeout=120):
        """Runs a Wine program (or the server) in the prefix's namespace. What
        it leaves running holds no pipe of ours."""
        code = subprocess.run(self.netns_prefix + argv, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
        if code != 0:
            raise RuntimeError("%s ended with code %d" % (" ".join(argv), code))

    def close(self):
        for argv in (["wineserver", "--kill"], ["wineserver", "--wait"]):
            subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=60)
        shutil.rmtree(self.path, ignore_errors=True)


class Platform:
    """The Linux program: what the Windows program under Wine does otherwise
    is in WinePlatform, and nowhere else."""

    def command(self, path, args):
        return [path] + list(args)

    def environment(self, display, netns_prefix):
        return display.env

    def is_application_window(self, display, window):
        return False

    def box_text(self, program, title):
        """The text of the active message box, copied as a person can (Ctrl+C)."""
        return program.display.copy_selection("ctrl+c")

    def selected_entry(self, program):
        """The selected entry of the program's address list, copied (Ctrl+C)."""
        return program.display.copy_selection("ctrl+c")

    def request_end(self, program):
        """Tells the program to end as the system does at the session's end, or
        as a service manager does."""
        program.proc.send_signal(signal.SIGTERM)


class WinePlatform(Platform):
    def command(self, path, args):
        return ["wine", path] + list(args)

    def environment(self, display, netns_prefix):
        return display.wine_prefix(netns_prefix).env

    def is_application_window(self, display, window):
        # The hidden application window, which owns the taskbar entry, carries
        # the program's title too; it has no size, which X shows as 1x1. A
        # window that is gone is no candidate either.
        out = display.run(["xwininfo", "-id", str(window)], check=False).stdout
        return "Width:" not in out or ("Width: 1\n" in out and "Height: 1\n" in out)

    # Wine's message boxes copy nothing on Ctrl+C and a Windows list box has no
    # copy at all: a small Windows program reads the controls' texts out
    # (window_text.cpp), through the program's own Wine server.
    def _controls(self, program, window_class, title):
        prefix = program.display.wine_prefix(program.netns_prefix)
        result = subprocess.run(
            program.netns_prefix + ["wine", os.environ["KV_E2E_WINDOW_TEXT"], window_class, title],
            env=prefix.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        records = result.stdout.decode("utf-8").split("\0")[:-1]
        return [tuple(record.split("\t", 1)) for record in records]

    def box_text(self, program, title):
        # The message, then the buttons, as a box on Windows copies them.
        controls = self._controls(program, "#32770", title)
        return "\r\n".join([text for control, text in controls if control.lower() == "static" and text]
                           + [text for control, text in controls if control.lower() == "button"])

    def selected_entry(self, program):
        return "".join(text for control, text in self._controls(program, "KvForm", program.name)
                       if control.lower() == "listbox")

    def request_end(self, program):
        # The session's end: wineboot sends WM_QUERYENDSESSION and WM_ENDSESSION
        # to every top-level window of the program's Wine server.
        program.display.wine_prefix(program.netns_prefix).run(["wineboot", "--end-session"])


NATIVE = Platform()
PLATFORM = WinePlatform() if WINE else NATIVE
# Under Wine, a Linux build's program for kvelmar.exe to chat with, where one
# is at hand (tools/test-windows.sh names it).
LINUX_PEER = os.environ.get("KV_E2E_LINUX_KVELMAR") if WINE else None


def linux_only(reason):
    """Skips a test of something the Windows program has no counterpart of."""
    return unittest.skipIf(WINE, "Linux only: " + reason)


class Program:
    """A running kvelmar (the one built, unless path names another, of the
    platform given), optionally inside a network namespace."""

    def __init__(self, display, prefix=(), name="Kvelmar", args=(), path=None, platform=None):
        self.display = display
        self.netns_prefix = list(prefix)
        self.platform = platform or PLATFORM
        self.proc = subprocess.Popen(list(prefix) + self.platform.command(path or executable(), args),
                                     env=self.platform.environment(display, prefix),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = None
        self.name = name

    def wait_window(self, timeout=DEFAULT_TIMEOUT):
        def find():
            if self.proc.poll() is not None:
                raise RuntimeError("kvelmar ended with code %s" % self.proc.returncode)
            for w in self.display.find_windows("^%s$" % self.name):
                pid = self.display.run(["xdotool", "getwindowpid", str(w)], check=False).stdout.strip()
                if pid == str(self.proc.pid) or not pid:
                    return w
            return None
        self.window = wait_for(find, timeout=timeout, what="the chat window")
        return self.window

    def click(self, control):
        # Two copies open at the same place: bring this one to the front first.
        self.display.xdotool("windowactivate", "--sync", self.window)
        self.display.click(self.window, CHAT_CONTROLS[control])

    def focus_and_type(self, control, text):
        self.click(control)
        self.display.key("ctrl+a")
        self.display.type_text(text)

    def add_address(self, address):
        """Adds an address through the new-address dialog, typing it as a person would:
        each number in its field, Tab where a field does not move on by itself,
        Enter in the last one. A text that is not four dot-separated numbers is
        pasted into the first field and confirmed with OK."""
        self.click("BitBtn1")
        dialog = self.display.wait_window("^%s$" % DIALOG_CAPTION)
        parts = address.split(".")
        if len(parts) == 4 and all(p.isdigit() for p in parts):
            for i, part in enumerate(parts):
                self.display.type_text(part)
                if i < 3 and len(part) < 3:
                    self.display.key("Tab")
            self.display.key("Return")
        else:
            self.display.set_clipboard(address)
            self.display.key("ctrl+v")
            self.display.click(dialog, DIALOG_CONTROLS["BitBtn1"])
        wait_for(lambda: not self.display.find_windows("^%s$" % DIALOG_CAPTION),
                 what="the dialog to close")

    def message_box_text(self, title, timeout=DEFAULT_TIMEOUT):
        """The text of a message box, copied the way a person can (Ctrl+C in the box)."""
        # Error boxes carry the program's title, as the chat window does.
        box = wait_for(lambda: [w for w in self.display.find_windows("^%s$" % title)
                                if w != self.window],
                       timeout=timeout, what="a box titled %r" % title)[0]
        self.display.xdotool("windowactivate", "--sync", box)
        return box, self.platform.box_text(self, title)

    def first_address(self):
        """The address list's first entry, read as a person can: select it, copy it."""
        left, top, _, _ = CHAT_CONTROLS["ListBox1"]
        self.display.click(self.window, (left + 4, top + 3, 60, 8))
        return self.platform.selected_entry(self)

    def history(self):
        """What the history shows, read as a person would: select all, copy, paste."""
        self.click("Memo1")
        return self.display.copy_selection("ctrl+a", "ctrl+c")

    def request_end(self):
        self.platform.request_end(self)

    def close_window(self):
        self.display.xdotool("windowactivate", "--sync", self.window)
        self.display.key("alt+F4")

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("kvelmar did not end\n" + self.report())

    def report(self):
        """What a program that does not end is doing: whether its window is
        still shown and has the focus, and what each of its threads waits in
        (with their stacks where gdb is installed)."""
        lines = []
        shown = self.window is not None and self.window in self.display.find_windows(
            "^%s$" % self.name)
        active = self.display.run(["xdotool", "getactivewindow"], check=False).stdout.strip()
        lines.append("window %s: %s; the active window is %s" % (
            self.window, "still shown" if shown else "gone", active or "none"))
        task_dir = "/proc/%d/task" % self.proc.pid
        for task in sorted(os.listdir(task_dir)) if os.path.isdir(task_dir) else []:
            def read(name):
                try:
                    with open(os.path.join(task_dir, task, name)) as f:
                        return f.read().strip()
                except OSError:
                    return "?"
            state = read("stat").rpartition(")")[2].split()[:1]
            lines.append("thread %s %s: state %s, waiting in %s" % (
                task, read("comm"), state[0] if state else "?", read("wchan")))
        if shutil.which("gdb"):
            stacks = subprocess.run(
                ["gdb", "-p", str(self.proc.pid), "-batch", "-ex", "thread apply all bt 30"],
                capture_output=True, text=True, timeout=120)
            lines.append(stacks.stdout[-20000:])
        return "\n".join(lines)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
        for stream in (self.proc.stdout, self.proc.stderr):
            if stream:
                stream.close()


def renamed_copy(stem, add_cleanup):
    """A copy of the program under another file name (stem, with ".exe"
    under Wine) in a folder of its own; returns its path."""
    folder = tempfile.mkdtemp(dir=scratch_dir())
    add_cleanup(shutil.rmtree, folder, ignore_errors=True)
    path = os.path.join(folder, stem + (".exe" if WINE else ""))
    shutil.copy2(executable(), path)
    return path


def scratch_dir():
    base = os.environ.get("KV_E2E_OUT") or tempfile.gettempdir()
    os.makedirs(base, exist_ok=True)
    return base
