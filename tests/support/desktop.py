#!/usr/bin/env python3
"""One desktop for every script that drives Kvelmar's windows: the end-to-end
tests, the Windows suite, the program benchmark, the packaging checks and the
smoke runs on a clean root.

It holds an X server of its own (Xvfb, on a display number that no server on
the machine holds), a window manager (openbox, waited for until it manages the
screen; it can start late or be paused, to frame windows late, or frame them
slowly), a Wine session (a prefix prepared once in the Russian locale with the
windows' fonts and written to disk, and a Wine server started with the
display), network namespaces joined by veth pairs, finding a program's main
window once the window manager has framed it, screenshots and the clipboard.

Everything it starts is ended by pid: by each object's close(), and on every
way out of the process (a normal end, an exception, SIGINT, SIGTERM, SIGHUP)
by the hooks that the first object installs. The process becomes a child
subreaper, so that what Wine or a program leaves running (Wine's services, a
detached server) stays its descendant and is ended with the rest; nothing of
other processes on the machine is touched. An X server that dies while
something waits on its display ends the wait at once, saying so.

Every wait polls a condition against a deadline; nothing sleeps blindly.

As a program, for the shell scripts:

  desktop.py run [--netns] [--no-display] [--no-wm] [--wine PREFIX] -- COMMAND...
      Runs COMMAND on a fresh desktop (DISPLAY set; with --wine, WINEPREFIX
      and the rest of the Wine session's environment, its server running) and
      ends everything afterwards. Exits with COMMAND's exit code.
  desktop.py smoke [--netns] [--wine PREFIX] [--window REGEX] [--timeout S]
                   [--screenshot FILE] [--check COMMAND] -- COMMAND...
      Starts COMMAND on a fresh desktop, waits for its main window, runs the
      check (KV_WINDOW names the window), closes the window as a person does
      (Alt+F4) and expects exit code 0.
  desktop.py prepare-wine PREFIX
      Prepares the Wine prefix (once; later calls find it ready).

--netns runs it all in a network namespace of its own with only loopback up
(tests/support/isolated.sh), where root may make one.
"""

import argparse
import atexit
import contextlib
import ctypes
import fcntl
import os
import random
import re
import select
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_TIMEOUT = 15.0


# ---- waiting ---------------------------------------------------------------

class DisplayLost(RuntimeError):
    """The X server of a display ended while the display was in use."""


def wait_for(condition, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls condition() until it returns a true value; returns that value.
    An open display whose X server has ended fails the wait at once."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        for display in list(_open_displays):
            display.check("waiting for " + what)
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
    fail by name, not skip a test or fail it halfway through."""
    for program in programs:
        if not shutil.which(program):
            raise MissingProgram(program)


# ---- ending what was started -------------------------------------------------

# What this process has started and not yet ended, last started last: objects
# with an end() method.
_owned = []
_open_displays = []
_hooks_installed = False
_ending = False


def _own(thing):
    _install_exit_hooks()
    _owned.append(thing)
    return thing


def _disown(thing):
    if thing in _owned:
        _owned.remove(thing)


_libc = ctypes.CDLL(None, use_errno=True)


def _end_with_parent():
    """In a server's child process before it runs: SIGTERM once this process
    is gone, however it went (PR_SET_PDEATHSIG), as when it is killed with
    SIGKILL, which no hook sees; a server so ended still removes its files."""
    _libc.prctl(1, signal.SIGTERM, 0, 0, 0)


def _install_exit_hooks():
    global _hooks_installed
    if _hooks_installed:
        return
    _hooks_installed = True
    # PR_SET_CHILD_SUBREAPER: orphans among the descendants stay ours.
    _libc.prctl(36, 1, 0, 0, 0)
    atexit.register(end_everything)
    if threading.current_thread() is threading.main_thread():
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, _on_signal)


def _say(text):
    """A line on standard error, which may be gone by now."""
    with contextlib.suppress(OSError, ValueError):
        print("desktop: " + text, file=sys.stderr, flush=True)


def _on_signal(number, frame):
    for other in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(other, signal.SIG_IGN)
    _say("%s: ending what was started" % signal.Signals(number).name)
    end_everything()
    # The process ends as the signal would have ended it.
    signal.signal(number, signal.SIG_DFL)
    os.kill(os.getpid(), number)


def end_everything():
    """Ends everything this process started: the owned objects last first,
    then every descendant that is left."""
    global _ending
    if _ending:
        return
    _ending = True
    try:
        while _owned:
            thing = _owned.pop()
            try:
                thing.end()
            except Exception as error:  # the rest must still end
                _say("ending %r: %s" % (thing, error))
        end_processes(descendants(), "left behind")
        _reap_children()
    finally:
        _ending = False


def _stat(pid):
    """(state, parent pid) of a process, or None once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rpartition(")")[2].split()
        return fields[0], int(fields[1])
    except (OSError, IndexError, ValueError):
        return None


def _ended(pid):
    stat = _stat(pid)
    return stat is None or stat[0] in ("Z", "X")


def descendants(pid=None):
    """The live descendants of a process (by default this one), parents
    before children."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = _stat(int(entry))
            if stat is not None and stat[0] not in ("Z", "X"):
                children.setdefault(stat[1], []).append(int(entry))
    found, todo = [], [pid or os.getpid()]
    while todo:
        for pid in children.get(todo.pop(0), []):
            found.append(pid)
            todo.append(pid)
    return found


def end_processes(pids, why="", grace=5.0):
    """Ends the processes by pid: SIGTERM, and SIGKILL for what is left after
    grace seconds. Safe inside a signal handler (it never waits on a lock)."""
    pids = [pid for pid in pids if not _ended(pid)]
    if not pids:
        return
    for pid in pids:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline and not all(_ended(pid) for pid in pids):
        time.sleep(0.02)
    for pid in pids:
        if not _ended(pid):
            if why:
                _say("killing %d (%s)" % (pid, why))
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline and not all(_ended(pid) for pid in pids):
        time.sleep(0.02)


def _reap_children():
    with contextlib.suppress(ChildProcessError):
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass


class _Started:
    """A process that a test or script started through spawn()."""

    def __init__(self, popen, grace):
        self.popen = popen
        self.grace = grace

    def end(self):
        _end_popen(self.popen, self.grace)

    def __repr__(self):
        return "process %d (%s)" % (self.popen.pid, " ".join(map(str, self.popen.args))[:80])


def spawn(argv, grace=5.0, own=True, **popen_arguments):
    """Starts a process that is ended by pid on every way out (and by stop()
    before that); returns its Popen. own=False leaves the ending to an object
    that owns the process."""
    _install_exit_hooks()
    try:
        popen = subprocess.Popen(argv, **popen_arguments)
    except FileNotFoundError:
        raise MissingProgram(argv[0]) from None
    if own:
        _own(_Started(popen, grace))
    return popen


def _end_popen(popen, grace):
    # Once Popen has reaped the process its pid may belong to another one.
    if popen.poll() is None:
        end_processes([popen.pid], grace=grace)
        # A process whose main thread has ended reads as a zombie while its
        # other threads still end (a sanitizer's do at exit), and only then
        # can it be reaped: a bounded wait, so that its Popen does.
        with contextlib.suppress(subprocess.TimeoutExpired):
            popen.wait(timeout=10)


def stop(popen, grace=5.0):
    """Ends a process that spawn() started, now."""
    for thing in list(_owned):
        if isinstance(thing, _Started) and thing.popen is popen:
            _disown(thing)
    _end_popen(popen, grace)


def read_available(stream, timeout=1.0):
    """What a process's output pipe holds, as text, without waiting for an
    end that a process holding the pipe's other end may never give."""
    data = b""
    fd = stream.fileno()
    while select.select([fd], [], [], timeout)[0]:
        chunk = os.read(fd, 65536)
        if not chunk:
            break
        data += chunk
    return data.decode(errors="replace")


def _run_checked(argv, timeout=60, **kwargs):
    """Runs a set-up command; its failure says what it printed."""
    try:
        result = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kwargs)
    except FileNotFoundError:
        raise MissingProgram(argv[0]) from None
    if result.returncode != 0:
        raise RuntimeError("%s ended with code %d: %s" % (
            " ".join(argv), result.returncode, (result.stderr or result.stdout).strip()))
    return result


# ---- the X server and the window manager -------------------------------------

def _free_display_numbers(count=20):
    """Display numbers that no X server on this machine holds: no lock file,
    no socket file, no abstract socket in this network namespace. An X server
    that picks its own number (-displayfd) locks nothing and sees only the
    abstract sockets of its own network namespace, so servers in two
    namespaces (as tests run) take the same low number and the second one's
    socket file replaces the first one's; the search starts at a random place
    far above those numbers, and the server locks the number it takes."""
    with open("/proc/net/unix") as f:
        bound = f.read()
    start = random.randrange(1000, 30000)
    found = 0
    for number in range(start, start + 5000):
        if (os.path.exists("/tmp/.X%d-lock" % number) or
                os.path.exists("/tmp/.X11-unix/X%d" % number) or
                "/tmp/.X11-unix/X%d\n" % number in bound):
            continue
        yield number
        found += 1
        if found == count:
            return


class RootRequests:
    """The requests that clients send the window manager as client messages to
    the root window, as a client that listens there for changes of the root's
    children sees them (xev). A window manager that listens for redirection
    only gets none that is sent for notification only, as Wine sends its
    _NET_WM_STATE changes."""

    def __init__(self, display):
        self._xev = spawn(["xev", "-root", "-event", "substructure"], env=display.env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._seen = ""

    def _read(self):
        self._seen += read_available(self._xev.stdout, timeout=0.1)
        return self._seen

    def listening_for(self, window):
        """Whether the watch has seen the window made, and so hears its
        requests."""
        return ("window 0x%x," % window) in self._read()

    def count(self, window, message_type):
        """The client messages of that type (an atom's name) about the window."""
        pattern = r"ClientMessage event, serial \d+, synthetic \w+, window 0x%x,\s+" \
                  r"message_type 0x[0-9a-f]+ \(%s\)" % (window, re.escape(message_type))
        return len(re.findall(pattern, self._read()))


class FramingRelay:
    """The window manager's connection to the X server, relayed so that it
    frames windows in slow motion: a window manager reparents a new window
    into a frame window, sizes the frame, and only then moves the window into
    place inside it and states the frame's extents. The relay holds the
    window manager's requests for a moment right after the frame is sized,
    and meanwhile tells the window where it stands, so that its program looks
    at a frame sized around a window still at the frame's corner. On a loaded
    machine the X server switches between clients there by chance; here
    every time. The window manager connects to the relay's display number."""

    # X11 requests: opcode; ReparentWindow's window and parent, and
    # ConfigureWindow's window and value mask, follow the 4-byte header.
    _REPARENT_WINDOW = 7
    _CONFIGURE_WINDOW = 12
    _SIZE_MASK = 0x4 | 0x8  # width, height

    def __init__(self, display, hold=1.0):
        self._display = display
        self._hold = hold
        self._sockets = []
        self._listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        for number in _free_display_numbers():
            path = "/tmp/.X11-unix/X%d" % number
            with contextlib.suppress(OSError):
                self._listener.bind(path)
                break
        else:
            raise RuntimeError("no free X display number for the relay")
        self.path, self.name = path, ":%d" % number
        self._listener.listen(4)
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self):
        for sock in [self._listener] + self._sockets:
            with contextlib.suppress(OSError):
                sock.shutdown(socket.SHUT_RDWR)
            sock.close()
        with contextlib.suppress(OSError):
            os.unlink(self.path)

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.connect("/tmp/.X11-unix/X%d" % self._display.number)
            self._sockets += [client, server]
            threading.Thread(target=self._copy, args=(server, client), daemon=True).start()
            threading.Thread(target=self._requests, args=(client, server), daemon=True).start()

    @staticmethod
    def _copy(source, sink):
        with contextlib.suppress(OSError):
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        with contextlib.suppress(OSError):
            sink.shutdown(socket.SHUT_WR)

    @staticmethod
    def _read(sock, count):
        data = b""
        while len(data) < count:
            chunk = sock.recv(count - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def _requests(self, client, server):
        """Passes the client's requests on one by one, holding them after a
        frame is sized."""
        pad = lambda n: (n + 3) & ~3  # noqa: E731
        with contextlib.suppress(OSError, EOFError):
            setup = self._read(client, 12)
            order = "<" if setup[:1] == b"l" else ">"
            name_length, data_length = struct.unpack(order + "HH", setup[6:10])
            server.sendall(setup + self._read(client, pad(name_length) + pad(data_length)))
            framing = {}  # frame -> the window reparented into it
            while True:
                header = self._read(client, 4)
                opcode, length = header[0], struct.unpack(order + "H", header[2:4])[0]
                if length == 0:  # BIG-REQUESTS: the length follows
                    extra = self._read(client, 4)
                    header, length = header + extra, struct.unpack(order + "I", extra)[0] - 1
                request = header + self._read(client, 4 * length - 4)
                server.sendall(request)
                if opcode == self._REPARENT_WINDOW:
                    window, parent = struct.unpack(order + "II", request[4:12])
                    framing[parent] = window
                elif opcode == self._CONFIGURE_WINDOW:
                    frame, mask = struct.unpack(order + "IH", request[4:10])
                    if frame in framing and mask & self._SIZE_MASK:
                        try:
                            self._nudge(framing.pop(frame), frame)
                        except (TimeoutError, RuntimeError, OSError, EOFError) as error:
                            # The window manager goes on as ever.
                            _say("the framing relay could not tell the window: %s" % error)
                        time.sleep(self._hold)

    def _nudge(self, window, frame):
        def geometry(of):
            out = self._display.run(["xwininfo", "-id", str(of)], check=False).stdout
            found = re.findall(r"(?:Absolute upper-left [XY]|Width|Height): +(-?\d+)", out)
            return [int(number) for number in found] if len(found) == 4 else None
        # Once the server has sized the frame (a new frame is 1x1), the
        # window hears where it stands, at the frame's corner, as a window
        # manager tells a window that it moved (a synthetic ConfigureNotify).
        wait_for(lambda: (geometry(frame) or [0, 0, 2])[2] > 1, timeout=5.0,
                 what="the frame sized")
        place = geometry(window)
        if place is None:
            return  # gone meanwhile
        event = struct.pack("<BxxxIIIhhHHHxxxxxx", 22, window, window, 0, *place, 0)
        structure_notify = 1 << 17
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as x:
            x.connect("/tmp/.X11-unix/X%d" % self._display.number)
            x.sendall(b"l\0" + struct.pack("<HHHHxx", 11, 0, 0, 0))
            reply = self._read(x, 8)
            self._read(x, 4 * struct.unpack("<H", reply[6:8])[0])
            if reply[0] != 1:
                raise RuntimeError("the X server refused the relay's connection")
            # SendEvent, then GetInputFocus for a reply once both are handled.
            x.sendall(struct.pack("<BBHII", 25, 0, 11, window, structure_notify) + event
                      + struct.pack("<BxH", 43, 1))
            self._read(x, 32)


class Display:
    """An X server of its own (Xvfb) with openbox, or with no window manager
    at all, for as long as the object is open. Wine's programs on it see
    dpi pixels per inch (Wine's LogPixels); the X server itself is not told."""

    def __init__(self, width=1280, height=1024, window_manager=True, xvfb_args=(), dpi=96):
        require("Xvfb")
        self.dpi = dpi
        self._dir = tempfile.mkdtemp(prefix="kv-desktop-")
        self._wm = None
        self._wm_runs = 0
        self._relay = None
        self._wine = {}
        self._closing = False
        _own(self)
        try:
            self._xvfb, self.number = self._start_xvfb(width, height, list(xvfb_args))
            self.name = ":%d" % self.number
            self.env = dict(os.environ, DISPLAY=self.name)
            for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"):
                self.env.pop(name, None)
            _open_displays.append(self)
            if window_manager:
                self.start_window_manager()
            # xdotool types Cyrillic through the Russian layout.
            self.run(["setxkbmap", "-layout", "us,ru"], check=False)
        except BaseException:
            self.close()
            raise

    def _start_xvfb(self, width, height, extra):
        """Starts Xvfb on a free display number; returns it and the number."""
        for number in _free_display_numbers():
            with open(os.path.join(self._dir, "xvfb.log"), "w") as log:
                xvfb = spawn(["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % (width, height),
                              "-nolisten", "tcp", "-noreset"] + extra,
                             own=False, preexec_fn=_end_with_parent, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=log)

            def accepting():
                if xvfb.poll() is not None:
                    return "ended"
                with contextlib.suppress(OSError), socket.socket(socket.AF_UNIX) as client:
                    client.connect("/tmp/.X11-unix/X%d" % number)
                    return "accepting"
                return None
            if wait_for(accepting, what="Xvfb on :%d" % number) == "accepting":
                return xvfb, number
            if "already active" not in self._log_tail("xvfb.log"):
                raise DisplayLost("Xvfb ended with code %s on :%d: %s"
                                  % (xvfb.returncode, number, self._log_tail("xvfb.log")))
            # Another server took the number meanwhile: the next one.
        raise RuntimeError("no free X display number")

    def _log_tail(self, name):
        with contextlib.suppress(OSError), open(os.path.join(self._dir, name)) as f:
            return f.read()[-2000:].strip()
        return ""

    @property
    def server_pid(self):
        """The X server's process."""
        return self._xvfb.pid

    def check(self, doing="using it"):
        """Raises DisplayLost if the X server has ended while the display is
        open."""
        if self._closing or self._xvfb.poll() is None:
            return
        code = self._xvfb.returncode
        how = ("was killed by %s" % signal.Signals(-code).name if code < 0
               else "ended with code %d" % code)
        raise DisplayLost("the X server of display %s %s while %s" % (self.name, how, doing))

    def start_window_manager(self, frames_slowly=False):
        """Starts openbox and waits until it manages the screen: its start-up
        command runs once it has taken the screen and the windows on it. One
        that frames slowly talks to the X server through a FramingRelay."""
        require("openbox")
        self._wm_runs += 1
        ready = os.path.join(self._dir, "openbox-ready-%d" % self._wm_runs)
        env = self.env
        if frames_slowly:
            require("xwininfo")
            self._relay = self._relay or FramingRelay(self)
            env = dict(self.env, DISPLAY=self._relay.name)
        with open(os.path.join(self._dir, "openbox.log"), "a") as log:
            startup = "touch " + shlex.quote(ready)
            self._wm = spawn(["openbox", "--sm-disable", "--startup", startup], own=False,
                             preexec_fn=_end_with_parent, env=env,
                             stdin=subprocess.DEVNULL, stdout=log, stderr=log)

        def managing():
            if self._wm.poll() is not None:
                raise RuntimeError("openbox ended with code %s: %s" % (
                    self._wm.returncode, self._log_tail("openbox.log")))
            return os.path.exists(ready)
        wait_for(managing, what="openbox to manage the screen on " + self.name)

    @contextlib.contextmanager
    def window_manager_paused(self):
        """Stops the window manager for the duration of the block, so that
        what a program asks of it (mapping, framing) waits until the end."""
        os.kill(self._wm.pid, signal.SIGSTOP)
        try:
            yield
        finally:
            os.kill(self._wm.pid, signal.SIGCONT)

    def window_manager_running(self):
        return self._wm is not None and self._wm.poll() is None

    # ---- X clients

    def run(self, argv, check=True, input=None, timeout=60):
        try:
            result = subprocess.run(argv, env=self.env, capture_output=True, text=True,
                                    input=input, timeout=timeout)
        except FileNotFoundError:
            raise MissingProgram(argv[0]) from None
        if check and result.returncode != 0:
            self.check("running " + argv[0])
            raise RuntimeError("%s ended with code %d: %s" % (
                " ".join(argv), result.returncode, (result.stderr or result.stdout).strip()))
        return result

    def xdotool(self, *args):
        return self.run(["xdotool"] + [str(a) for a in args]).stdout.strip()

    def find_windows(self, name, visible=True):
        """The windows whose name matches the regular expression name. A
        window of one pixel (Wine's hidden application window, which carries
        the program's title too) or one that is gone meanwhile is none."""
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", name]
        found = []
        for window in (int(w) for w in self.run(args, check=False).stdout.split()):
            info = self.run(["xwininfo", "-id", str(window)], check=False).stdout
            if "Width:" in info and not ("Width: 1\n" in info and "Height: 1\n" in info):
                found.append(window)
        return found

    def wait_window(self, name, timeout=DEFAULT_TIMEOUT):
        return wait_for(lambda: self.find_windows(name), timeout=timeout,
                        what="a window named %r" % name)[0]

    def frame_extents(self, window):
        """The frame that the window manager put around the window (left,
        right, top, bottom), or None while it has put none."""
        out = self.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"], check=False).stdout
        match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
        return tuple(int(v) for v in match.groups()) if match else None

    def demands_attention(self, window):
        """Whether the window asks for the user's attention, as the window
        manager shows it (_NET_WM_STATE_DEMANDS_ATTENTION) or the client set
        it (the urgency bit of WM_HINTS)."""
        out = self.run(["xprop", "-id", str(window), "_NET_WM_STATE", "WM_HINTS"],
                       check=False).stdout
        return "_NET_WM_STATE_DEMANDS_ATTENTION" in out or "urgency hint bit is set" in out

    def watch_root_requests(self):
        """Starts listening to what clients send through the root window
        (RootRequests); before the windows of interest are made."""
        return RootRequests(self)

    def other_window(self, title="Other"):
        """Opens a window of another program (xmessage, which ends with the
        display); returns it once the window manager has framed it."""
        spawn(["xmessage", "-title", title, title], env=self.env, stderr=subprocess.DEVNULL)
        return self.main_window("^%s$" % title)

    def main_window(self, name, pid=None, timeout=DEFAULT_TIMEOUT, alive=None):
        """The program's main window named name (a regular expression), once
        the window manager, where one runs, has framed it. pid, when given,
        rules out another program's window (a window that names no pid is
        taken); alive, when given, is asked on every poll and may raise, as
        when the program has ended."""
        def find():
            if alive is not None:
                alive()
            for window in self.find_windows(name):
                if pid is not None:
                    owner = self.run(["xdotool", "getwindowpid", str(window)], check=False)
                    if owner.stdout.strip() not in ("", str(pid)):
                        continue
                if self.window_manager_running() and self.frame_extents(window) is None:
                    continue
                return window
            return None
        return wait_for(find, timeout=timeout, what="the window named %r" % name)

    def window_geometry(self, window):
        """The window's own area on the screen (without the frame): (x, y, w, h)."""
        out = self.run(["xwininfo", "-id", str(window)]).stdout
        fields = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            fields[key.strip()] = value.strip()
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))

    def frame_geometry(self, window):
        """The window with its frame on the screen: (x, y, w, h)."""
        x, y, width, height = self.window_geometry(window)
        left, right, top, bottom = self.frame_extents(window) or (0, 0, 0, 0)
        return x - left, y - top, width + left + right, height + top + bottom

    def screen_size(self):
        out = self.run(["xdpyinfo"]).stdout
        match = re.search(r"dimensions:\s+(\d+)x(\d+)", out)
        if not match:
            raise RuntimeError("no screen size in xdpyinfo's answer")
        return int(match.group(1)), int(match.group(2))

    def active_window(self):
        return self.run(["xdotool", "getactivewindow"], check=False).stdout.strip()

    def window_properties(self, window):
        """The window's X properties as xprop prints them, one per line."""
        return self.run(["xprop", "-id", str(window)], check=False).stdout

    def minimise_and_restore(self, window):
        """Minimises a window through the window manager, then activates it as
        its taskbar entry does; returns once it is shown and active again."""
        self.xdotool("windowminimize", "--sync", window)
        wait_for(lambda: "_NET_WM_STATE_HIDDEN" in self.window_properties(window),
                 what="the window minimised")
        self.xdotool("windowactivate", window)
        wait_for(lambda: "_NET_WM_STATE_HIDDEN" not in self.window_properties(window)
                 and window in self.find_windows(".*"), what="the window restored")

    def click(self, window, control_rect, button=1):
        """Clicks the middle of a rectangle (left, top, width, height) of the
        window's own area."""
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
        # xclip stays behind as the selection's owner: it must not hold our
        # pipes. It ends with the display's X server.
        subprocess.run(["xclip", "-i", "-selection", "clipboard"], env=self.env,
                       input=text.encode(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=True)
        # xclip takes the selection in a child of its own after it returns:
        # until then the clipboard still reads as its last owner left it.
        # (The read back has its line breaks as LF.)
        read_back = text.replace("\r\n", "\n").replace("\r", "\n")
        wait_for(lambda: self.clipboard() == read_back, timeout=10.0,
                 what="the clipboard to be set")

    def clipboard(self):
        return self.run(["xclip", "-o", "-selection", "clipboard"], check=False).stdout

    def copy_selection(self, *keys, timeout=2.0):
        """Presses the copy keys and returns what they put on the clipboard
        (as the history is read: select all, copy). Polls for the change, since
        a copy reaches the clipboard asynchronously; an empty selection copies
        nothing, which reads as the empty text once timeout has passed."""
        sentinel = "\x01kv-clipboard-sentinel\x01"
        self.set_clipboard(sentinel)
        self.key(*keys)
        try:
            return wait_for(lambda: (lambda t: t if t != sentinel else None)(self.clipboard()),
                            timeout=timeout, what="the copy")
        except TimeoutError:
            return ""

    def screenshot(self, path):
        self.run(["import", "-window", "root", path])

    def close_window(self, window, attempts=3, ended=None, timeout=10.0):
        """Closes the window as a person does: clicks into it, waits for it to
        be active, presses Alt+F4. A key pressed while the window manager
        still hands the focus over can go elsewhere, so it is pressed again
        (up to attempts times) until ended() says the program has ended."""
        for attempt in range(attempts):
            self.run(["xdotool", "mousemove", "--window", str(window), "20", "20", "click", "1"],
                     check=False)
            with contextlib.suppress(TimeoutError):
                wait_for(lambda: self.active_window() == str(window), timeout=timeout,
                         what="the window to become active")
            self.key("alt+F4")
            if ended is None:
                return
            with contextlib.suppress(TimeoutError):
                wait_for(ended, timeout=timeout, what="the program to end")
                return
            _say("window %d still open after Alt+F4 (try %d)" % (window, attempt + 1))
        raise TimeoutError("the window did not close after Alt+F4, %d times" % attempts)

    # ---- Wine

    def wine(self, template, netns_prefix=()):
        """The Wine session on this display in the network namespace that
        netns_prefix enters, in a copy of the prepared prefix template: made on
        first use, ended with the display."""
        key = (template, tuple(netns_prefix))
        if key not in self._wine:
            self._wine[key] = WineSession(self, template, netns_prefix, copy=True)
        return self._wine[key]

    def close(self):
        if self._closing:
            return
        self._closing = True
        for session in self._wine.values():
            session.close()
        self._wine.clear()
        wm, xvfb = self._wm, getattr(self, "_xvfb", None)
        # The window manager first; then the X server, which removes its lock
        # and socket files when ended with SIGTERM.
        for popen in (wm, xvfb):
            if popen is not None:
                stop(popen)
            if popen is wm and self._relay is not None:
                self._relay.close()
        if self in _open_displays:
            _open_displays.remove(self)
        shutil.rmtree(self._dir, ignore_errors=True)
        _disown(self)

    end = close

    def __repr__(self):
        return "display %s" % getattr(self, "name", "(starting)")


# ---- Wine --------------------------------------------------------------------

# Wine as the program's users have Windows: Russian (its own texts and the
# ANSI code page 1251 come from the locale, which tools/deps.sh makes), quiet,
# and without the Mono or Gecko installers' prompts.
WINE_ENVIRONMENT = {"LC_ALL": "ru_RU.UTF-8", "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml="}
# What the preparation does; a prefix prepared by other steps is prepared again.
_WINE_PREPARED = "kvelmar wine prefix 1: wineboot, Tahoma, Times New Roman as Liberation Serif\n"


def wine_environment(prefix, base=None):
    env = dict(os.environ if base is None else base, WINEPREFIX=os.path.abspath(prefix),
               **WINE_ENVIRONMENT)
    return env


def prepare_wine_prefix(prefix):
    """Makes prefix a Wine prefix for the Windows program, once: created by
    wineboot, with the windows' fonts (Tahoma from Wine's own fonts, which this
    Wine finds only in the prefix; Times New Roman drawn by its metric twin
    Liberation Serif), and on disk before it returns: the Wine server keeps
    the registry in memory and writes it when it ends, and copies of the
    prefix are taken from the disk."""
    require("wine", "wineserver", "wineboot")
    locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    if not any(name.lower() in ("ru_ru.utf8", "ru_ru.utf-8") for name in locales):
        raise RuntimeError("missing locale: ru_RU.UTF-8 (tools/deps.sh makes it)")
    prefix = os.path.abspath(prefix)
    stamp = os.path.join(prefix, ".kv-prepared")
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with contextlib.suppress(OSError), open(stamp) as f:
            if f.read() == _WINE_PREPARED:
                return prefix
        env = wine_environment(prefix)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        # A server of this prefix left by a run that was killed outright.
        subprocess.run(["wineserver", "--kill"], timeout=60, **quiet)
        subprocess.run(["wineserver", "--wait"], timeout=60, **quiet)
        if subprocess.run(["wineboot", "--init"], timeout=300, **quiet).returncode != 0:
            raise RuntimeError("wineboot --init failed for " + prefix)
        fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for face in ("tahoma.ttf", "tahomabd.ttf"):
            shutil.copy2(os.path.join("/usr/share/wine/fonts", face), fonts)
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v",
                        "Times New Roman", "/d", "Liberation Serif", "/f"], timeout=120, **quiet)
        if subprocess.run(["wineserver", "--wait"], timeout=120, **quiet).returncode != 0:
            raise RuntimeError("the Wine server of %s did not end" % prefix)
        if not os.path.isfile(os.path.join(prefix, "system.reg")):
            raise RuntimeError("the Wine prefix %s was not prepared" % prefix)
        with open(stamp, "w") as f:
            f.write(_WINE_PREPARED)
    return prefix


class WineSession:
    """A Wine server for one prefix, started with the display (Wine's desktop
    process keeps the display it first finds) in one network namespace (Wine
    creates every socket in its server, so programs in two namespaces need
    two servers, and a server belongs to one prefix), and ended by pid.

    With copy, the session works in a copy of the prepared prefix beside it,
    made for the session and removed with it; Wine's programs and libraries,
    which nothing writes to, are linked rather than copied.

    With trace, the Wine server writes every request of every program, with
    its reply, to the file of that name (wineserver -d1): what the benchmarks
    count, as a measure of a program's work that does not depend on the
    machine's load. It slows every program down."""

    _counter = 0
    _SHARED = (".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".ds", ".tlb",
               ".ttf", ".fon", ".nls", ".msstyles", ".vxd", ".com", ".mui")

    def __init__(self, display, prefix, netns_prefix=(), copy=False, trace=None):
        require("wine", "wineserver")
        template = os.path.abspath(prefix)
        if not os.path.isfile(os.path.join(template, ".kv-prepared")):
            raise RuntimeError("%s is no prepared Wine prefix (desktop.py prepare-wine makes one)"
                               % template)
        self.netns_prefix = list(netns_prefix)
        self._copied = copy
        self._trace = trace
        self._server = None
        self.path = template
        _own(self)
        try:
            if copy:
                WineSession._counter += 1
                self.path = os.path.join(os.path.dirname(template), "wine-copies",
                                         "%d-%d" % (os.getpid(), WineSession._counter))
                shutil.rmtree(self.path, ignore_errors=True)
                shutil.copytree(template, self.path, symlinks=True,
                                copy_function=self._link_or_copy)
            self.env = wine_environment(self.path, display.env if display else None)
            if display is None:
                self.env.pop("DISPLAY", None)
            self._start_server()
            if display is not None and display.dpi != 96:
                self.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                          "/t", "REG_DWORD", "/d", str(display.dpi), "/f"])
        except BaseException:
            self.close()
            raise

    @classmethod
    def _link_or_copy(cls, source, target):
        if source.lower().endswith(cls._SHARED):
            with contextlib.suppress(OSError):
                os.link(source, target)
                return
        shutil.copy2(source, target)

    def _start_server(self):
        if not self._copied:
            # A server of this prefix left by a run that was killed outright.
            self.run(["wineserver", "--kill"], check=False)
            self.run(["wineserver", "--wait"], check=False)
        argv = ["wineserver", "--foreground", "--persistent"]
        log = subprocess.DEVNULL
        if self._trace is not None:
            argv.append("-d1")
            log = open(self._trace, "w")
        try:
            self._server = spawn(self.netns_prefix + argv, own=False, preexec_fn=_end_with_parent,
                                 env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=log)
        finally:
            if self._trace is not None:
                log.close()
        # The server works in a folder of its own and listens there once ready.
        server_socket = "/proc/%d/cwd/socket" % self._server.pid

        def listening():
            if self._server.poll() is not None:
                raise RuntimeError("the Wine server of %s ended with code %s"
                                   % (self.path, self._server.returncode))
            return os.path.exists(server_socket)
        wait_for(listening, timeout=60, what="the Wine server of " + self.path)
        # Wine's background programs start with the first program of a
        # server; started here, detached from every pipe, they cannot hold a
        # caller's output pipe open.
        self.run(["wine", "cmd.exe", "/c", "exit"])

    def run(self, argv, timeout=120, check=True):
        """Runs a Wine program (or wineserver) of the session in its
        namespace; what it leaves running holds no pipe of ours."""
        code = subprocess.run(self.netns_prefix + argv, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
        if check and code != 0:
            raise RuntimeError("%s ended with code %d" % (" ".join(argv), code))
        return code

    def close(self):
        if self._server is not None:
            # The server ends its programs (Wine's services among them), then
            # itself.
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "--kill"], env=self.env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=30)
            stop(self._server, grace=30.0)
            self._server = None
        if self._copied:
            shutil.rmtree(self.path, ignore_errors=True)
        _disown(self)

    end = close

    def __repr__(self):
        return "Wine session in " + self.path


# ---- network namespaces ------------------------------------------------------

def network_namespaces_available():
    if os.geteuid() != 0:
        return False
    require("ip")
    probe = "kvprobe%d" % os.getpid()
    ok = subprocess.run(["ip", "netns", "add", probe], capture_output=True).returncode == 0
    subprocess.run(["ip", "netns", "del", probe], capture_output=True)
    return ok


class NetworkPair:
    """Two network namespaces joined by a veth pair, each with a 10.x
    address. Ended with the processes in them."""

    _counter = 0

    def __init__(self, subnet="10.251"):
        require("ip")
        NetworkPair._counter += 1
        tag = "%d%d" % (os.getpid() % 10000, NetworkPair._counter)
        self.ns = ["kva" + tag, "kvb" + tag]
        self.addresses = ["%s.%d.1" % (subnet, NetworkPair._counter),
                          "%s.%d.2" % (subnet, NetworkPair._counter)]
        self.broadcast = "%s.%d.255" % (subnet, NetworkPair._counter)
        self._made = []
        _own(self)
        try:
            veth = ["va" + tag, "vb" + tag]
            for ns in self.ns:
                _run_checked(["ip", "netns", "add", ns])
                self._made.append(ns)
            _run_checked(["ip", "link", "add", veth[0], "type", "veth", "peer", "name", veth[1]])
            for i in (0, 1):
                _run_checked(["ip", "link", "set", veth[i], "netns", self.ns[i]])
                self.exec(i, ["ip", "addr", "add", self.addresses[i] + "/24", "dev", veth[i]])
                self.exec(i, ["ip", "link", "set", veth[i], "up"])
                self.exec(i, ["ip", "link", "set", "lo", "up"])
        except BaseException:
            self.close()
            raise

    def prefix(self, side):
        """The command prefix that runs a program in side's namespace."""
        return ["ip", "netns", "exec", self.ns[side]]

    def exec(self, side, argv, **kwargs):
        return _run_checked(self.prefix(side) + argv, **kwargs)

    def start_counting_peer(self, port, add_cleanup=None, side=1):
        """Starts a peer on side that keeps every datagram it receives on
        port; returns a function giving the datagrams so far. add_cleanup (a
        test's addCleanup), when given, gets the peer's end."""
        code = ("import socket\n"
                "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                "s.bind(('%s',%d))\n"
                "print('ready',flush=True)\n"
                "while True:\n"
                "  d,_=s.recvfrom(65536)\n"
                "  print(d.hex(),flush=True)\n") % (self.addresses[side], port)
        proc = spawn(self.prefix(side) + ["python3", "-c", code], stdout=subprocess.PIPE,
                     text=True)
        if add_cleanup is not None:
            # Cleanups run last first: end, then close the pipe.
            add_cleanup(proc.stdout.close)
            add_cleanup(stop, proc)
        if proc.stdout.readline().strip() != "ready":
            raise RuntimeError("the counting peer did not start")
        received = []

        def pump():
            for line in proc.stdout:
                received.append(bytes.fromhex(line.strip()))
        threading.Thread(target=pump, daemon=True).start()
        return lambda: list(received)

    def close(self):
        for ns in self._made:
            pids = subprocess.run(["ip", "netns", "pids", ns], capture_output=True,
                                  text=True).stdout.split()
            end_processes([int(pid) for pid in pids])
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)
        self._made = []
        _disown(self)

    end = close

    def __repr__(self):
        return "network namespaces " + " ".join(self.ns)


# ---- as a program ------------------------------------------------------------

def _isolate(argv):
    """Runs this program again in a network namespace of its own, once."""
    if os.environ.pop("KV_DESKTOP_ISOLATED", None):
        return
    os.environ["KV_DESKTOP_ISOLATED"] = "1"
    isolated = os.path.join(HERE, "isolated.sh")
    os.execv("/bin/sh", ["sh", isolated, sys.executable, os.path.abspath(__file__)] + argv)


def _session(args):
    """The display and the Wine session that the options ask for: (display,
    environment)."""
    display = None
    env = dict(os.environ)
    if not args.no_display:
        display = Display(window_manager=not args.no_wm)
        env = display.env
    if args.wine:
        prepare_wine_prefix(args.wine)
        env = WineSession(display, args.wine).env
    return display, env


def _exit_code(code):
    return 128 - code if code < 0 else code


def _wait_watching(proc, display):
    """Waits for proc; an X server that ends meanwhile ends it too."""
    while True:
        try:
            return proc.wait(0.2)
        except subprocess.TimeoutExpired:
            pass
        if display is not None:
            try:
                display.check("%s ran" % " ".join(proc.args)[:200])
            except DisplayLost as error:
                stop(proc)
                raise error


def _run(args):
    display, env = _session(args)
    proc = spawn(args.command, env=env)
    return _exit_code(_wait_watching(proc, display))


def _smoke(args):
    display, env = _session(args)
    proc = spawn(args.command, env=env)

    def running():
        if proc.poll() is not None:
            raise RuntimeError("%s ended with code %s before its window appeared"
                               % (" ".join(args.command), proc.returncode))
        if display.find_windows("^Application Error$"):
            raise RuntimeError("the program shows an error box instead of its window")
    window = display.main_window(args.window, timeout=args.timeout, alive=running)
    x, y, width, height = display.frame_geometry(window)
    print("desktop: window %d, %dx%d at %d,%d with its frame" % (window, width, height, x, y),
          flush=True)
    if args.screenshot:
        display.screenshot(args.screenshot)
    if args.check:
        check = subprocess.run(args.check, shell=True, env=dict(env, KV_WINDOW=str(window)))
        if check.returncode != 0:
            raise RuntimeError("the check %r failed with code %d" % (args.check, check.returncode))
    display.close_window(window, ended=lambda: proc.poll() is not None)
    code = proc.wait(60)
    print("desktop: %s ended with code %d after Alt+F4" % (" ".join(args.command), code),
          flush=True)
    return 0 if code == 0 else 1


def main(argv):
    parser = argparse.ArgumentParser(prog="desktop.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="what", required=True)

    def session_options(command):
        command.add_argument("--netns", action="store_true",
                             help="in a network namespace of its own (where root may make one)")
        command.add_argument("--wine", metavar="PREFIX",
                             help="with a Wine session in PREFIX (prepared if need be)")
        command.add_argument("command", nargs="+", help="the command, after --")

    run = commands.add_parser("run", help="runs a command on a fresh desktop")
    run.add_argument("--no-display", action="store_true", help="no X server")
    run.add_argument("--no-wm", action="store_true", help="no window manager")
    session_options(run)
    smoke = commands.add_parser("smoke", help="starts a program, closes its window, expects 0")
    smoke.add_argument("--window", default="^Kvelmar$", help="the main window's name (regex)")
    smoke.add_argument("--timeout", type=float, default=60.0, help="for the window, in seconds")
    smoke.add_argument("--screenshot", metavar="FILE", help="saves the screen with the window")
    smoke.add_argument("--check", metavar="COMMAND",
                       help="a shell command run once the window is up (KV_WINDOW: its id)")
    session_options(smoke)
    prepare = commands.add_parser("prepare-wine", help="prepares a Wine prefix")
    prepare.add_argument("prefix")
    args = parser.parse_args(argv)

    if args.what == "prepare-wine":
        prepare_wine_prefix(args.prefix)
        return 0
    if args.netns:
        _isolate(argv)
    args.no_wm = getattr(args, "no_wm", False)
    args.no_display = getattr(args, "no_display", False)
    try:
        return _run(args) if args.what == "run" else _smoke(args)
    except (DisplayLost, MissingProgram, RuntimeError, TimeoutError) as error:
        print("desktop: %s" % error, file=sys.stderr, flush=True)
        return 1
    finally:
        end_everything()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
