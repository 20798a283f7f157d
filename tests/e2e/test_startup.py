"""Starting and closing the program, as a person sees it."""

import os
import unittest

import kvharness as k


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
        screen_w, screen_h = self.display.screen_size()

        def centred():
            # The frame may shift the client area by its border; the window
            # manager frames the window just after it appears.
            x, y, width, height = self.display.window_geometry(program.window)
            return ((width, height) == (595, 486) and abs(x + width // 2 - screen_w // 2) <= 10
                    and abs(y + height // 2 - screen_h // 2) <= 30)
        try:
            k.wait_for(centred, timeout=3.0, what="the window centred")
        except TimeoutError:
            self.fail("not centred: %r on %dx%d" % (
                self.display.window_geometry(program.window), screen_w, screen_h))
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
