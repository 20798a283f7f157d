"""The Windows installer under Wine, as a person without questions uses it:
installed silently, the installed program started from its place and closed,
then uninstalled silently; over a running copy, which it must leave alone;
and in the language of the Windows it runs on.

Wine has no firewall and its netsh does nothing, so the tests put a stand-in
that logs its command line (command_log.cpp) in netsh's place where they
look at the firewall rule."""

import os
import shutil
import subprocess
import time
import unittest

import kvharness as k

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kvelmar"
FOLDER = r"C:\Program Files\Kvelmar"
NETSH = r'"C:\windows\system32\netsh.exe" advfirewall firewall '
RULE = r'name="Kvelmar" dir=in program="C:\Program Files\Kvelmar\kvelmar.exe"'
# NSIS's exit code for an installation that its script ended.
ABORTED = 2


@unittest.skipUnless(k.WINE, "the Windows installer runs under Wine")
class InstallerTest(unittest.TestCase):
    def setUp(self):
        self.display = k.Display()
        self.addCleanup(self.display.close)
        # A fresh copy of the prepared prefix: nothing of Kvelmar in it yet.
        self.prefix = self.display.wine_prefix(())
        drive = os.path.join(self.prefix.path, "drive_c")
        self.folder = os.path.join(drive, "Program Files", "Kvelmar")
        self.installed = {
            "program": os.path.join(self.folder, "kvelmar.exe"),
            "uninstaller": os.path.join(self.folder, "uninstall.exe"),
            "Start-menu entry": os.path.join(drive, "ProgramData", "Microsoft", "Windows",
                                             "Start Menu", "Programs", "Kvelmar.lnk"),
        }
        with open(k.executable(), "rb") as built:
            self.built = built.read()

    def wine(self, argv, env=None, check=True):
        """Runs a Windows program in the test's prefix and returns its exit code."""
        result = subprocess.run(self.prefix.netns_prefix + ["wine"] + argv,
                                env=dict(self.prefix.env, **(env or {})), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=120)
        if check:
            self.assertEqual(result.returncode, 0, "%s ended with code %d" % (argv, result.returncode))
        return result.returncode

    def install(self, env=None, check=True):
        return self.wine([os.environ["KV_E2E_INSTALLER"], "/S"], env, check)

    def uninstall_in_place(self):
        """The uninstaller run in its folder, waited for: its exit code is its own
        (plain /S hands over to a copy of itself and returns at once). NSIS takes
        the text after "_?=" to the line's end, so it goes unquoted, in pieces."""
        return self.wine([self.installed["uninstaller"], "/S"] + ("_?=" + FOLDER).split(" "),
                         check=False)

    def netsh_logged(self, exit_code):
        """Puts the command logger in the place of netsh, answering exit_code;
        returns the environment for the installer and a function giving the
        commands logged so far."""
        system = os.path.join(self.prefix.path, "drive_c", "windows", "system32")
        # The prefix's copy shares Wine's own programs through hard links:
        # the link goes, and the logger comes in its place.
        os.remove(os.path.join(system, "netsh.exe"))
        shutil.copy(os.environ["KV_E2E_COMMAND_LOG"], os.path.join(system, "netsh.exe"))
        log = os.path.join(self.prefix.path, "netsh.log")
        env = {"KV_COMMAND_LOG": "Z:" + log.replace("/", "\\"),
               "KV_COMMAND_EXIT": str(exit_code),
               "WINEDLLOVERRIDES": self.prefix.env["WINEDLLOVERRIDES"] + ";netsh.exe=n"}

        def logged():
            if not os.path.exists(log):
                return []
            with open(log, encoding="utf-8") as f:
                return f.read().splitlines()
        return env, logged

    def registry_value(self, name):
        out = subprocess.run(self.prefix.netns_prefix + ["wine", "reg", "query", UNINSTALL_KEY,
                                                         "/v", name],
                             env=self.prefix.env, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=120).stdout.decode("utf-8", "replace")
        for line in out.splitlines():
            fields = line.split()
            if fields[:1] == [name]:
                return fields[2]
        self.fail("no %s in the uninstall entry:\n%s" % (name, out))

    def installed_program(self, old=None):
        """Which program is installed: "built", "old", or what else is there."""
        with open(self.installed["program"], "rb") as f:
            data = f.read()
        known = {self.built: "built", old: "old"}
        return known.get(data, "a program of %d bytes that was never built" % len(data))

    def folder_state(self):
        try:
            return {entry.name: (entry.stat().st_size, entry.stat().st_mtime_ns)
                    for entry in os.scandir(self.folder)}
        except FileNotFoundError:  # a file went while it was looked at
            return None

    def test_silent_install_start_close_and_silent_uninstall(self):
        for path in self.installed.values():
            self.assertFalse(os.path.exists(path), path)
        # The firewall refuses: the installation goes on without the rule.
        netsh_env, netsh_commands = self.netsh_logged(exit_code=1)

        self.install(netsh_env)
        for what, path in self.installed.items():
            self.assertTrue(os.path.isfile(path), "no %s at %s" % (what, path))
        self.assertEqual(self.installed_program(), "built")
        # A rule of an earlier installation goes before the new one comes.
        self.assertEqual(netsh_commands(), [
            NETSH + "delete rule " + RULE,
            NETSH + "add rule " + RULE
            + " action=allow protocol=UDP localport=15251 profile=domain,private enable=yes"])
        installed_size = sum(os.path.getsize(os.path.join(self.folder, name))
                             for name in os.listdir(self.folder))
        self.assertEqual(int(self.registry_value("EstimatedSize"), 16), installed_size // 1024)

        program = k.Program(self.display, path=self.installed["program"])
        self.addCleanup(program.kill)
        program.wait_window()
        self.display.screenshot(os.path.join(k.scratch_dir(), "installed.png"))
        program.close_window()
        self.assertEqual(program.wait_exit(), 0)

        # The uninstaller runs from a copy of itself in the temporary folder
        # and returns at once: its work is done when the files are gone, and
        # the program's folder after them.
        self.wine([self.installed["uninstaller"], "/S"], netsh_env)
        left = list(self.installed.values()) + [self.folder]
        k.wait_for(lambda: not any(os.path.exists(path) for path in left),
                   what="the uninstaller to remove " + ", ".join(self.installed) + " and the folder")
        self.assertEqual(netsh_commands()[2:], [NETSH + "delete rule " + RULE])

    def test_a_running_program_is_neither_replaced_nor_removed(self):
        self.install()
        # An older program, installed: the built one with bytes of its own at
        # its end, which Windows does not load.
        old = self.built + b"an older Kvelmar"
        with open(self.installed["program"], "wb") as f:
            f.write(old)
        program = k.Program(self.display, path=self.installed["program"])
        self.addCleanup(program.kill)
        program.wait_window()

        self.assertEqual(self.install(check=False), ABORTED, "installed over the running program")
        self.assertEqual(self.installed_program(old), "old")
        self.assertEqual(self.uninstall_in_place(), ABORTED, "uninstalled the running program")
        for what, path in self.installed.items():
            self.assertTrue(os.path.isfile(path), "the refused uninstaller removed the %s" % what)
        self.assertEqual(self.installed_program(old), "old")
        self.assertIsNone(program.proc.poll(), "the program ended")
        program.close_window()
        self.assertEqual(program.wait_exit(), 0)

        # Interrupted at the first change it makes in the folder, the
        # installer leaves a whole program: the old one or the new one.
        before = self.folder_state()
        installer = subprocess.Popen(self.prefix.netns_prefix + ["wine", os.environ["KV_E2E_INSTALLER"],
                                                                 "/S"],
                                     env=self.prefix.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(installer.wait)
        self.addCleanup(installer.kill)
        deadline = time.monotonic() + k.DEFAULT_TIMEOUT
        while installer.poll() is None and self.folder_state() == before:
            self.assertLess(time.monotonic(), deadline, "the installer changed nothing")
            time.sleep(0.001)
        installer.kill()
        installer.wait()
        self.assertIn(self.installed_program(old), ("old", "built"),
                      "an interrupted installation left a broken program")

        self.install()
        self.assertEqual(self.installed_program(old), "built")

    def test_texts_follow_the_language_of_windows(self):
        # NSIS takes the user interface language of Windows; a language it
        # has no texts for gets English.
        for locale, caption in (("ru_RU.UTF-8", "Установка Kvelmar"), ("C.UTF-8", "Kvelmar Setup")):
            with self.subTest(locale=locale):
                installer = subprocess.Popen(
                    self.prefix.netns_prefix + ["wine", os.environ["KV_E2E_INSTALLER"]],
                    env=dict(self.prefix.env, LC_ALL=locale), stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    # Wine gives the title NSIS's space at its end.
                    self.display.wait_window("^%s ?$" % caption)
                finally:
                    installer.kill()
                    installer.wait()


if __name__ == "__main__":
    unittest.main()
