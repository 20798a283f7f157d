"""The Windows installer under Wine, as a person without questions uses it:
installed silently, the installed program started from its place and closed,
then uninstalled silently."""

import os
import unittest

import kvharness as k


@unittest.skipUnless(k.WINE, "the Windows installer runs under Wine")
class InstallerTest(unittest.TestCase):
    def test_silent_install_start_close_and_silent_uninstall(self):
        display = k.Display()
        self.addCleanup(display.close)
        # A fresh copy of the prepared prefix: nothing of Kvelmar in it yet.
        prefix = display.wine_prefix(())
        drive = os.path.join(prefix.path, "drive_c")
        folder = os.path.join(drive, "Program Files", "Kvelmar")
        installed = {
            "program": os.path.join(folder, "kvelmar.exe"),
            "uninstaller": os.path.join(folder, "uninstall.exe"),
            "Start-menu entry": os.path.join(drive, "ProgramData", "Microsoft", "Windows",
                                             "Start Menu", "Programs", "Kvelmar.lnk"),
        }
        for path in installed.values():
            self.assertFalse(os.path.exists(path), path)

        prefix.run(["wine", os.environ["KV_E2E_INSTALLER"], "/S"])
        for what, path in installed.items():
            self.assertTrue(os.path.isfile(path), "no %s at %s" % (what, path))
        with open(installed["program"], "rb") as copy, open(k.executable(), "rb") as built:
            self.assertEqual(copy.read(), built.read(), "the installed program is not the built one")

        program = k.Program(display, path=installed["program"])
        self.addCleanup(program.kill)
        program.wait_window()
        display.screenshot(os.path.join(k.scratch_dir(), "installed.png"))
        program.close_window()
        self.assertEqual(program.wait_exit(), 0)

        # The uninstaller runs from a copy of itself in the temporary folder
        # and returns at once: its work is done when the files are gone, and
        # the program's folder after them.
        prefix.run(["wine", installed["uninstaller"], "/S"])
        left = list(installed.values()) + [folder]
        k.wait_for(lambda: not any(os.path.exists(path) for path in left),
                   what="the uninstaller to remove " + ", ".join(installed) + " and the folder")


if __name__ == "__main__":
    unittest.main()
