"""The new-address dialog of the real program, typed into with real keys."""

import os
import time
import unittest

import kvharness as k


class DialogTest(unittest.TestCase):
    def setUp(self):
        self.display = k.Display()
        self.addCleanup(self.display.close)
        self.program = k.Program(self.display)
        self.addCleanup(self.program.kill)
        self.program.wait_window()

    def open_dialog(self):
        """Presses "Добавить"; returns the dialog's window once it has the keyboard."""
        self.program.click("BitBtn1")
        dialog = self.display.wait_window("^%s$" % k.DIALOG_CAPTION)
        k.wait_for(lambda: self.display.xdotool("getactivewindow") == str(dialog),
                   what="the dialog to become active")
        return dialog

    def wait_dialog_closed(self):
        k.wait_for(lambda: not self.display.find_windows("^%s$" % k.DIALOG_CAPTION),
                   what="the dialog to close")

    def test_address_typed_into_the_four_fields_appears_in_the_list(self):
        dialog = self.open_dialog()
        k.wait_centred(self, self.display, dialog, (202, 111))
        # Each full field hands the focus on by itself; the short ones take a Tab.
        self.display.type_text("127")
        self.display.type_text("0")
        self.display.key("Tab")
        self.display.type_text("0")
        self.display.key("Tab")
        self.display.type_text("1")
        self.display.screenshot(os.path.join(k.scratch_dir(), "dialog.png"))
        self.display.key("Return")
        self.wait_dialog_closed()
        self.assertEqual(self.program.first_address(), "127.0.0.1")

    def test_held_key_fills_one_field_and_moves_on_only_when_let_go(self):
        # A short repeat delay, so that a held key repeats many times.
        self.display.run(["xset", "r", "rate", "150", "40"])
        self.open_dialog()
        self.display.xdotool("keydown", "1")
        # A person holding the key for a second: the stimulus, not a wait.
        time.sleep(1.0)
        self.display.xdotool("keyup", "1")
        self.display.type_text("2")
        self.display.key("Tab")
        self.display.type_text("3")
        self.display.key("Tab")
        self.display.type_text("4")
        self.display.key("Return")
        self.wait_dialog_closed()
        entry = self.program.first_address()
        self.assertRegex(entry, r"^1{4,}\.2\.3\.4$")

    def test_escape_does_nothing_and_alt_f4_closes_without_adding_where_it_reopens(self):
        dialog = self.open_dialog()
        self.display.type_text("10")
        self.display.key("Escape")
        # The user drags the dialog aside once it stands where it was placed:
        # a slow program (a sanitizer's) centres it again only when the window
        # manager states its frame, which can come after a quick drag.
        k.wait_centred(self, self.display, dialog, (202, 111))
        centred = self.display.window_geometry(dialog)
        self.display.xdotool("windowmove", "--sync", dialog, 100, 120)
        moved = self.display.window_geometry(dialog)
        self.assertNotEqual(moved, centred)
        # Had Escape closed the dialog, Alt+F4 would close the chat window and end the program.
        self.display.key("alt+F4")
        self.wait_dialog_closed()
        self.assertIsNone(self.program.proc.poll())
        self.assertTrue(self.display.find_windows("^Kvelmar$"))
        # Reopened where it was left, with empty fields; nothing was added, so the
        # next entry is the first one.
        dialog = self.open_dialog()
        try:
            k.wait_for(lambda: self.display.window_geometry(dialog) == moved, timeout=3.0,
                       what="the dialog at its last place")
        except TimeoutError:
            self.assertEqual(self.display.window_geometry(dialog), moved)
        self.display.type_text("192168")
        self.display.type_text("1")
        self.display.key("Tab")
        self.display.type_text("2")
        self.display.key("Return")
        self.wait_dialog_closed()
        self.assertEqual(self.program.first_address(), "192.168.1.2")

    def test_taskbar_entry_of_the_minimised_program_brings_back_the_open_dialog(self):
        dialog = self.open_dialog()
        self.display.type_text("12")
        self.display.minimise_and_restore(self.program.window)
        k.wait_for(lambda: self.display.active_window() == str(dialog),
                   what="the dialog active again")
        # The keys go on into the first field, which moves on once full.
        self.display.type_text("3")
        self.display.type_text("4")
        self.display.key("Tab")
        self.display.type_text("5")
        self.display.key("Tab")
        self.display.type_text("6")
        self.display.key("Return")
        self.wait_dialog_closed()
        self.assertEqual(self.program.first_address(), "123.4.5.6")

    def test_told_to_end_with_the_dialog_open_ends_the_dialog_and_exits_with_0(self):
        # The session's end (a termination signal on Linux) while the modal
        # loop runs: the dialog ends and the program takes its exit steps.
        self.open_dialog()
        self.program.request_end()
        self.assertEqual(self.program.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
