"""Starting and closing the program, as a person sees it."""

import os
import struct
import subprocess
import tempfile
import unittest

import kvharness as k

CLIENT_SIZE = (595, 486)


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.display = k.Display()
        self.addCleanup(self.display.close)

    def start(self, args=()):
        program = k.Program(self.display, args=args)
        self.addCleanup(program.kill)
        program.wait_window()
        return program

    def test_window_is_centred_with_the_message_edit_focused_and_closes_with_code_0(self):
        # The program reads no argument: the toolkit's own options change nothing.
        program = self.start(args=["-qwindowtitle", "X", "-qwindowgeometry", "200x100+0+0"])
        k.wait_centred(self, self.display, program.window, CLIENT_SIZE)
        # Typing at once lands in the message edit: what a person types first
        # goes there, once the window shows as the active one (Wine's windows
        # take the focus a moment after they appear).
        k.wait_for(lambda: self.display.run(["xdotool", "getactivewindow"], check=False)
                   .stdout.strip() == str(program.window), what="the window to become active")
        self.display.type_text("hello")
        self.display.screenshot(os.path.join(k.scratch_dir(), "startup.png"))
        program.click("nik")
        self.display.type_text("nick")
        program.click("mesag")
        self.display.key("End")
        self.assertEqual(self.display.copy_selection("ctrl+a", "ctrl+c"), "hello")
        program.close_window()
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(program.proc.stdout.read(), b"")

    def test_first_position_is_centred_however_late_the_window_manager_frames_it(self):
        # Where the window manager frames the window only after it was shown
        # (one that starts late), or only after a delay (a busy one), the
        # window is placed again by its frame once the frame is there.
        def late(display, start):
            program = start()
            k.wait_for(lambda: display.find_windows("^Kvelmar$"), what="the bare window")
            display.start_window_manager()
            return program

        def paused(display, start):
            with display.window_manager_paused():
                program = start()
                k.wait_for(lambda: display.find_windows("^Kvelmar$", visible=False),
                           what="the window to be made")
            return program

        for name, frame_late in (("a window manager that starts late", late),
                                 ("a window manager that frames late", paused)):
            with self.subTest(name):
                display = k.Display(window_manager=frame_late is paused)
                self.addCleanup(display.close)
                programs = []

                def start():
                    programs.append(k.Program(display))
                    return programs[-1]
                try:
                    program = frame_late(display, start)
                    program.wait_window()
                    k.wait_centred(self, display, program.window, CLIENT_SIZE)
                finally:
                    # The next copy needs the chat port.
                    for program in programs:
                        program.kill()
                    display.close()

    @k.linux_only("the Windows program always has a desktop")
    def test_without_a_graphical_session_says_so_in_one_line_and_exits_with_1(self):
        # A display that exists and refuses the program: X's access control
        # asks for a cookie that the program does not have.
        with tempfile.NamedTemporaryFile(prefix="kv-cookie-") as cookie:
            field = lambda data: struct.pack(">H", len(data)) + data  # noqa: E731
            cookie.write(struct.pack(">H", 0xFFFF) + field(b"") + field(b"")
                         + field(b"MIT-MAGIC-COOKIE-1") + field(os.urandom(16)))
            cookie.flush()
            refusing = k.Display(window_manager=False, xvfb_args=["-auth", cookie.name])
            self.addCleanup(refusing.close)
        rows = [({}, "DISPLAY and WAYLAND_DISPLAY are not set"),
                ({"DISPLAY": refusing.name}, "cannot connect to DISPLAY=" + refusing.name)]
        for session, reason in rows:
            with self.subTest(reason):
                env = {name: value for name, value in os.environ.items()
                       if name not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                       "XDG_SESSION_TYPE")}
                env.update(session, XAUTHORITY=os.devnull)
                result = subprocess.run([k.executable()], env=env, capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(
                    (result.returncode, result.stderr),
                    (1, "kvelmar: no graphical session (%s); start it from a desktop\n" % reason))

    @k.linux_only("under Wine the X server's end is met by Wine's X11 driver, which ends the "
                  "process itself with code 1; Windows has no such event for the program")
    def test_the_x_server_going_away_ends_the_program_with_code_0(self):
        # The display's end, as when a desktop session is torn down: the
        # program takes its exit steps rather than being cut off.
        program = self.start()
        self.display.close()
        self.assertEqual(program.wait_exit(), 0, program.proc.stderr.read().decode(errors="replace"))

    def test_alt_f4_that_no_window_manager_takes_still_closes_the_window_with_code_0(self):
        # A window manager normally takes Alt+F4 itself; where none does (or
        # one misses it), the key reaches the window, which must close all the same.
        bare = k.Display(window_manager=False)
        self.addCleanup(bare.close)
        program = k.Program(bare)
        self.addCleanup(program.kill)
        program.wait_window()
        bare.xdotool("windowfocus", "--sync", program.window)
        bare.key("alt+F4")
        self.assertEqual(program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
