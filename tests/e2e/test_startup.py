"""Starting and closing the program, as a person sees it."""

import os
import struct
import subprocess
import tempfile
import unittest

import kvharness as k

# The client areas at each density: the chat window's, the new-address dialog's.
CLIENT_AREAS = [
    (96, (595, 486), (202, 111)),
    (120, (744, 608), (253, 139)),
    (144, (893, 729), (303, 167)),
]

# The labels of the chat window, which size themselves to their text: where
# they start, and the height of one line of Tahoma at 8 points (in 96-DPI pixels).
CHAT_LABELS = {"Список IP собеседников:": (416 + 8, 24, 13), "ваш ник:": (416 + 8, 408, 13)}
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

    def test_chat_window_is_the_taskbar_entry_and_comes_back_with_the_focus_where_it_was(self):
        program = self.start()
        # Alt+Tab and the taskbar show the chat window itself, with its
        # caption and icon: a window of its own, not one owned by another.
        properties = self.display.window_properties(program.window)
        self.assertIn('_NET_WM_NAME(UTF8_STRING) = "Kvelmar"', properties)
        self.assertIn("_NET_WM_ICON(CARDINAL)", properties)
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", properties)
        self.assertNotIn("WM_TRANSIENT_FOR(WINDOW)", properties)
        program.click("nik")
        self.display.type_text("ab")
        self.display.minimise_and_restore(program.window)
        k.wait_for(lambda: self.display.active_window() == str(program.window),
                   what="the chat window active again")
        self.display.type_text("cd")
        program.click("nik")
        self.assertEqual(self.display.copy_selection("ctrl+a", "ctrl+c"), "abcd")

    def assert_controls_placed(self, controls, expected, dpi):
        """Each expected control (in 96-DPI pixels) is among the controls, at
        its place scaled to dpi, give or take a pixel of rounding."""
        places = [place for _, place, _ in controls]
        for name, rect in expected.items():
            want = k.scaled(rect, dpi)
            self.assertTrue(any(all(abs(a - b) <= 1 for a, b in zip(place, want)) for place in places),
                            "%s not at %r among %r" % (name, want, places))

    def test_windows_controls_and_fonts_follow_the_display_dpi(self):
        for dpi, chat_area, dialog_area in CLIENT_AREAS:
            with self.subTest(dpi=dpi):
                display = k.Display(dpi=dpi)
                program = None
                try:
                    program = k.Program(display)
                    self.check_scaled_windows(program, dpi, chat_area, dialog_area)
                finally:
                    if program is not None:
                        program.kill()
                    display.close()

    def check_scaled_windows(self, program, dpi, chat_area, dialog_area):
        display = program.display
        window = program.wait_window()
        k.wait_for(lambda: display.window_geometry(window)[2:] == chat_area, timeout=3.0,
                   what="the chat window's client area of %r" % (chat_area,))
        # The captions read the same at every density, once they are painted.
        for name, caption in (("BitBtn1", "Добавить"), ("BitBtn2", "Удалить"),
                              ("BitBtn3", "Отправить"), ("BitBtn4", "Шрифт")):
            read = []
            try:
                k.wait_for(lambda: read.append(display.read_text(window, k.CHAT_CONTROLS[name]))
                           or read[-1] == caption, timeout=10.0, interval=0.2)
            except TimeoutError:
                self.fail("%s reads %r, not %r" % (name, read[-1], caption))
        controls = k.PLATFORM.controls(program, "KvForm", program.name)
        if controls is not None:
            self.assert_controls_placed(controls, k.CHAT_CONTROLS, dpi)
            # The labels' text, and with it their height, follows the DPI.
            for caption, (left, top, height) in CHAT_LABELS.items():
                place = [place for _, place, text in controls if text == caption][0]
                self.assertEqual(place[:2], k.scaled((left, top, 0, 0), dpi)[:2], caption)
                self.assertAlmostEqual(place[3], height * dpi / 96, delta=2, msg=caption)

        program.click("BitBtn1")
        dialog = display.wait_window("^%s$" % k.DIALOG_CAPTION)
        k.wait_for(lambda: display.window_geometry(dialog)[2:] == dialog_area, timeout=3.0,
                   what="the dialog's client area of %r" % (dialog_area,))
        controls = k.PLATFORM.controls(program, "KvForm", k.DIALOG_CAPTION)
        if controls is not None:
            self.assert_controls_placed(controls, k.DIALOG_CONTROLS, dpi)
        display.screenshot(os.path.join(k.scratch_dir(), "dialog-%d.png" % dpi))
        display.xdotool("windowactivate", "--sync", dialog)
        display.key("alt+F4")
        k.wait_for(lambda: not display.find_windows("^%s$" % k.DIALOG_CAPTION),
                   what="the dialog to close")

        # The font dialog's first opening shows the font's 8 points.
        if k.WINE:
            program.click("BitBtn4")
            box = display.wait_window("^Шрифт$")
            texts = [text for control, _, text in k.PLATFORM.controls(program, "#32770", "Шрифт")
                     if control.lower() == "combobox"]
            self.assertIn("8", texts)
            display.xdotool("windowactivate", "--sync", box)
            display.key("Escape")
            k.wait_for(lambda: not display.find_windows("^Шрифт$"), what="the font dialog to close")
        program.close_window()
        self.assertEqual(program.wait_exit(), 0)
    def test_first_position_is_centred_however_late_the_window_manager_frames_it(self):
        # Where the window manager frames the window only after it was shown
        # (one that starts late), only after a delay (a busy one), or sizes
        # the frame a while before it moves the window into it, the window is
        # placed again by its frame once the frame is there.
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

        def slowly(display, start):
            display.start_window_manager(frames_slowly=True)
            return start()

        for name, frame_late in (("a window manager that starts late", late),
                                 ("a window manager that frames late", paused),
                                 ("a window manager that frames slowly", slowly)):
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
