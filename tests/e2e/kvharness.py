"""Drives the real kvelmar executable as a person would.

The desktop comes from the one harness, tests/support/desktop.py: an X server
(Xvfb) with a light window manager (openbox), network namespaces, the Wine
session. This module adds what is Kvelmar's own: the program started as a
plain process (optionally inside a network namespace), the places of its
controls for xdotool's mouse and keyboard, and the X clipboard to read what
the history shows. Every wait polls a condition against a deadline; nothing
sleeps blindly.

The same tests drive the Windows program under Wine, whose windows are X11
windows too: with KV_E2E_WINEPREFIX naming a prepared Wine prefix (desktop.py
prepare-wine makes one, as tools/test-windows.sh does), KVELMAR_EXE is
kvelmar.exe and runs under Wine, and KV_E2E_WINDOW_TEXT names the reader of
the controls that Wine gives no copy of (window_text.cpp). What differs
between the two lives in the class Platform below.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from desktop import MissingProgram, NetworkPair, network_namespaces_available, require  # noqa: E402,F401

WINE_PREFIX = os.environ.get("KV_E2E_WINEPREFIX")
WINE = bool(WINE_PREFIX)

# Wine starts a program, and above all its first one, in seconds, not in
# fractions of one.
DEFAULT_TIMEOUT = 45.0 if WINE else 15.0

# Positions of the chat window's controls in its client area: (left, top, width, height),
# in pixels at 96 DPI (scaled() gives them at another).
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


def scaled(rect, dpi):
    """A rectangle of 96-DPI pixels at dpi: its edges scaled and rounded to the
    nearest, halves away from zero, so that neighbours still meet."""
    def px(units):
        return (units * dpi + 48) // 96
    left, top, width, height = rect
    return (px(left), px(top), px(left + width) - px(left), px(top + height) - px(top))


def wait_for(condition, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls condition() until it returns a true value; returns that value."""
    return desktop.wait_for(condition, timeout=timeout, interval=interval, what=what)


def executable():
    path = os.environ.get("KVELMAR_EXE")
    if not path:
        raise RuntimeError("KVELMAR_EXE is not set")
    return path


def centred(display, window, client_size):
    """Whether the window shows its own area of client_size and stands, with
    its frame, where a centred window stands: at left = (screen width - frame
    width) / 2 and top = (screen height - frame height) / 2, in whole pixels."""
    screen_width, screen_height = display.screen_size()
    x, y, width, height = display.frame_geometry(window)
    return (display.window_geometry(window)[2:] == client_size
            and (x, y) == ((screen_width - width) // 2, (screen_height - height) // 2))


def wait_centred(test, display, window, client_size):
    """Fails test unless the window is centred (see centred) within a few
    seconds: the window manager frames a window just after it appears, and
    the window is placed again by its frame."""
    try:
        wait_for(lambda: centred(display, window, client_size), timeout=5.0,
                 what="the window centred")
    except TimeoutError:
        test.fail("not centred: %r with its frame, %r without, on %r" % (
            display.frame_geometry(window), display.window_geometry(window)[:2],
            display.screen_size()))


class Display(desktop.Display):
    """The harness's display with the tools the tests drive it with. The
    programs started on it see a display of dpi pixels per inch: the Windows
    program through Wine's LogPixels, the Linux program through Qt's scale
    factor; the tests give the places of controls in 96-DPI pixels."""

    def __init__(self, width=1280, height=1024, window_manager=True, xvfb_args=(), dpi=96):
        require("Xvfb", "xdpyinfo", "openbox", "xprop", "setxkbmap", "xdotool", "xwininfo", "xclip",
                "import")
        super().__init__(width, height, window_manager, xvfb_args, dpi=dpi)

    def wait_window(self, name, timeout=DEFAULT_TIMEOUT):
        return super().wait_window(name, timeout)

    def click(self, window, control_rect, button=1):
        """Clicks the middle of a control, given in 96-DPI pixels."""
        super().click(window, scaled(control_rect, self.dpi), button)

    def read_text(self, window, control_rect):
        """What a person reads in a control of the window (given in 96-DPI
        pixels): the inside of its part of the screen, without its edges, grey
        and enlarged to the size of 96-DPI text four times over, read by OCR as
        one line."""
        require("tesseract")
        x, y, _, _ = self.window_geometry(window)
        left, top, width, height = scaled(control_rect, self.dpi)
        edge = 3 * self.dpi // 96
        left, top, width, height = left + edge, top + edge, width - 2 * edge, height - 2 * edge
        image = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (
            width, height, x + left, y + top), "+repage", "-colorspace", "Gray", "-resize",
            "%d%%" % (400 * 96 // self.dpi), "png:-"], env=self.env, check=True,
            capture_output=True, timeout=60).stdout
        return subprocess.run(["tesseract", "-", "-", "-l", "rus", "--psm", "7"], input=image,
                              capture_output=True, timeout=60, check=True).stdout.decode().strip()

    def wine_prefix(self, netns_prefix):
        """The Wine session of the programs started on this display in the
        network namespace that netns_prefix enters, in a copy of the prepared
        prefix: made on first use, ended with the display."""
        return self.wine(WINE_PREFIX, netns_prefix)


class Platform:
    """The Linux program: what the Windows program under Wine does otherwise
    is in WinePlatform, and nowhere else."""

    def command(self, path, args):
        return [path] + list(args)

    def environment(self, display, netns_prefix):
        if display.dpi == 96:
            return display.env
        return dict(display.env, QT_SCALE_FACTOR=str(display.dpi / 96))

    def controls(self, program, window_class, title):
        """The visible controls of the program's windows of that class and
        title: (class, (left, top, width, height) in the client area, text).
        None where the platform gives no way to read them."""
        return None

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

    # Wine's message boxes copy nothing on Ctrl+C and a Windows list box has no
    # copy at all: a small Windows program reads the controls' texts out
    # (window_text.cpp), through the program's own Wine server.
    def controls(self, program, window_class, title):
        prefix = program.display.wine_prefix(program.netns_prefix)
        result = subprocess.run(
            program.netns_prefix + ["wine", os.environ["KV_E2E_WINDOW_TEXT"], window_class, title],
            env=prefix.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        controls = []
        for record in result.stdout.decode("utf-8").split("\0")[:-1]:
            control, place, text = record.split("\t", 2)
            controls.append((control, tuple(int(n) for n in place.split()), text))
        return controls

    def box_text(self, program, title):
        # The message, then the buttons, as a box on Windows copies them.
        controls = self.controls(program, "#32770", title)
        return "\r\n".join([text for control, _, text in controls if control.lower() == "static" and text]
                           + [text for control, _, text in controls if control.lower() == "button"])

    def selected_entry(self, program):
        return "".join(text for control, _, text in self.controls(program, "KvForm", program.name)
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
        self.proc = desktop.spawn(list(prefix) + self.platform.command(path or executable(), args),
                                  env=self.platform.environment(display, prefix),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = None
        self.name = name

    def wait_window(self, timeout=DEFAULT_TIMEOUT):
        """The chat window, once shown and framed."""
        def running():
            if self.proc.poll() is not None:
                raise RuntimeError("kvelmar ended with code %s: %s" % (
                    self.proc.returncode, desktop.read_available(self.proc.stderr)[-4000:]))
        self.window = self.display.main_window("^%s$" % self.name, pid=self.proc.pid,
                                               timeout=timeout, alive=running)
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
        desktop.stop(self.proc, grace=0.5)
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
    """Where tests keep their screenshots and files."""
    base = os.environ.get("KV_E2E_OUT") or tempfile.gettempdir()
    os.makedirs(base, exist_ok=True)
    return base
