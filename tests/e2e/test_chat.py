"""Chatting with the real program: through the window, between two copies on a
network, and with third-party peers on the wire."""

import os
import subprocess
import time
import unittest

import kvharness as k

CHAT_PORT = 15251


def cp1251(text):
    return text.encode("cp1251")


@unittest.skipUnless(k.network_namespaces_available(), "needs root and network namespaces")
class ChatTest(unittest.TestCase):
    def setUp(self):
        k.require("socat", "ss")
        self.display = k.Display()
        self.addCleanup(self.display.close)
        self.net = k.NetworkPair()
        self.addCleanup(self.net.close)

    def start(self, side=0):
        program = k.Program(self.display, prefix=self.net.prefix(side))
        self.addCleanup(program.kill)
        program.wait_window()
        return program

    def shot(self, name):
        self.display.screenshot(os.path.join(k.scratch_dir(), name + ".png"))

    def history_lines(self, program, count):
        """Waits until the history shows at least count lines; returns them."""
        def read():
            lines = program.history().split("\n")
            if lines and lines[-1] == "":
                lines.pop()
            return lines if len(lines) >= count else None
        return k.wait_for(read, what="%d history lines" % count)

    def send_from_peer(self, payload, side=1):
        """A third-party peer: socat sends the bytes as one datagram."""
        target = "UDP-SENDTO:%s:%d" % (self.net.addresses[0], CHAT_PORT)
        subprocess.run(self.net.prefix(side) + ["socat", "-u", "STDIN", target], input=payload,
                       check=True, timeout=30)

    def test_typed_cyrillic_line_shows_as_echo_then_as_received_copy(self):
        program = self.start()
        program.add_address("127.0.0.1")
        program.focus_and_type("nik", "Вася")
        program.focus_and_type("mesag", "Привет, мир")
        program.click("BitBtn3")
        lines = self.history_lines(program, 2)
        self.shot("chat-self")
        self.assertEqual(lines, ["Вася> Привет, мир", "Вася> Привет, мир"])
        program.click("mesag")
        self.assertEqual(self.display.copy_selection("ctrl+a", "ctrl+c"), "")
        # The history takes the user's own typing, and the next lines go after it.
        program.click("Memo1")
        self.display.key("ctrl+End")
        self.display.type_text("typed")
        program.focus_and_type("mesag", "again")
        program.click("BitBtn3")
        self.assertEqual(self.history_lines(program, 5)[2:],
                         ["typed", "Вася> again", "Вася> again"])

    def test_two_copies_on_a_network_chat_both_ways(self):
        self.chat_both_ways(self.start(0), self.start(1))
        self.shot("chat-two-copies")

    @unittest.skipUnless(k.LINUX_PEER, "kvelmar.exe under Wine with a Linux build's program "
                                       "(KV_E2E_LINUX_KVELMAR)")
    def test_the_windows_program_and_the_linux_program_chat_both_ways(self):
        linux = k.Program(self.display, prefix=self.net.prefix(1), path=k.LINUX_PEER,
                          platform=k.NATIVE)
        self.addCleanup(linux.kill)
        linux.wait_window()
        self.chat_both_ways(self.start(0), linux)
        self.shot("chat-windows-linux")

    def chat_both_ways(self, first, second):
        """first on side 0 and second on side 1 add each other and exchange a
        line each way."""
        first.add_address(self.net.addresses[1])
        second.add_address(self.net.addresses[0])
        first.focus_and_type("nik", "Аня")
        first.focus_and_type("mesag", "кто здесь?")
        first.click("BitBtn3")
        self.assertEqual(self.history_lines(second, 1), ["Аня> кто здесь?"])
        second.focus_and_type("nik", "Борис")
        second.focus_and_type("mesag", "я")
        second.click("BitBtn3")
        self.assertEqual(self.history_lines(first, 2), ["Аня> кто здесь?", "Борис> я"])
        self.assertEqual(self.history_lines(second, 2), ["Аня> кто здесь?", "Борис> я"])

    def test_third_party_peers(self):
        program = self.start()
        # What the program sends arrives as exactly these bytes.
        out = os.path.join(k.scratch_dir(), "peer-%d.bin" % os.getpid())
        if os.path.exists(out):
            os.unlink(out)
        receiver = subprocess.Popen(
            self.net.prefix(1) + ["socat", "-u", "UDP-RECV:%d" % CHAT_PORT,
                                  "OPEN:%s,creat,trunc" % out])
        self.addCleanup(receiver.kill)
        k.wait_for(lambda: "%d" % CHAT_PORT in self.net.exec(1, ["ss", "-uln"]).stdout,
                   what="the peer's socket")
        program.add_address(self.net.addresses[1])
        program.focus_and_type("nik", "Ёж")
        program.focus_and_type("mesag", "№1 ок")
        program.click("BitBtn3")
        k.wait_for(lambda: os.path.exists(out) and os.path.getsize(out) > 0, what="the datagram")
        with open(out, "rb") as f:
            self.assertEqual(f.read(), cp1251("Ёж> №1 ок"))

        self.send_from_peer(cp1251("Петя> добрый вечер"))
        self.send_from_peer(b"line one\r\nline two")
        self.send_from_peer(b"<b>not bold</b> &amp;")
        # A zero-byte datagram: socat sends nothing for empty input, so a socket does.
        self.net.exec(1, ["python3", "-c",
                          "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM)"
                          ".sendto(b'', ('%s', %d))" % (self.net.addresses[0], CHAT_PORT)])
        self.send_from_peer(b"after the empty one")
        lines = self.history_lines(program, 7)
        self.shot("chat-peers")
        self.assertEqual(lines, ["Ёж> №1 ок", "Петя> добрый вечер", "line one", "line two",
                                 "<b>not bold</b> &amp;", "", "after the empty one"])

    def test_a_line_from_a_peer_asks_for_attention_while_another_window_is_active(self):
        # What shows the request: on Linux the window manager's state of the
        # window; under Wine the requests themselves, counted, since Wine sends
        # them to the root window for notification only, which openbox does
        # not take (nor does Wine end one: that is left to the window manager).
        requests = self.display.watch_root_requests()
        program = self.start()
        k.wait_for(lambda: requests.listening_for(program.window), what="the watch on requests")
        if k.WINE:
            # Counted from here: Wine sends the state it maps the window with too.
            before = requests.count(program.window, "_NET_WM_STATE")
            shown = lambda: requests.count(program.window, "_NET_WM_STATE") - before
            steps = {"active": 0, "away": 1, "back": 1, "away again": 2}
        else:
            shown = lambda: self.display.demands_attention(program.window)
            steps = {"active": False, "away": True, "back": False, "away again": True}

        def expect(step):
            k.wait_for(lambda: shown() == steps[step], what="the request %s" % step)

        sent = []

        def send_away(step):
            # Qt learns that its window lost the focus a moment after the
            # window manager says so (it waits for a focus that may come
            # back), and a line in that moment still finds the window active:
            # lines go until one finds it inactive, and they stay one request.
            def send():
                sent.append(b"away %d" % len(sent))
                self.send_from_peer(sent[-1])
                return shown() == steps[step]
            k.wait_for(send, interval=0.2, what="the request %s" % step)

        self.send_from_peer(b"while active")
        self.assertEqual(self.history_lines(program, 1), ["while active"])
        expect("active")
        other = self.display.other_window()
        self.display.xdotool("windowactivate", "--sync", other)
        send_away("away")
        self.send_from_peer(b"and more")
        sent.append(b"and more")
        expect("away")
        self.shot("chat-attention")
        self.display.xdotool("windowactivate", "--sync", program.window)
        expect("back")
        self.display.xdotool("windowactivate", "--sync", other)
        send_away("away again")
        expect("away again")
        self.assertEqual(self.history_lines(program, 1 + len(sent))[1:],
                         [line.decode() for line in sent])
        if k.WINE:
            self.assertEqual(shown(), steps["away again"])

    def test_broadcast_address_stops_the_send_with_access_denied(self):
        program = self.start()
        receiver = self.net.start_counting_peer(CHAT_PORT, self.addCleanup)
        program.add_address(self.net.broadcast)
        program.add_address(self.net.addresses[1])
        program.focus_and_type("mesag", "to everyone")
        program.click("BitBtn3")
        box, text = program.message_box_text("Kvelmar")
        self.shot("chat-broadcast")
        self.assertIn("Socket Error # 10013", text)
        self.assertIn("Access denied.", text)
        self.assertIn("ОК", text)  # the system's button, in Russian as on a Russian desktop
        self.display.key("Return")
        k.wait_for(lambda: box not in self.display.find_windows("^Kvelmar$"), what="the box to close")
        time.sleep(0.5)  # a datagram that was wrongly sent would have arrived by now
        self.assertEqual(receiver(), [])
        self.assertEqual(program.history(), "")

    def test_unresolvable_second_entry_stops_the_send_there(self):
        program = self.start()
        receiver = self.net.start_counting_peer(CHAT_PORT, self.addCleanup)
        program.add_address(self.net.addresses[1])
        program.add_address("no such host")
        program.add_address(self.net.addresses[1])
        program.focus_and_type("mesag", "three entries")
        program.click("BitBtn3")
        box, text = program.message_box_text("Kvelmar")
        self.assertIn("Socket Error # 11001", text)
        self.assertIn("Host not found.", text)
        self.display.key("Return")
        k.wait_for(lambda: box not in self.display.find_windows("^Kvelmar$"), what="the box to close")
        k.wait_for(lambda: receiver() == [b"> three entries"], what="the first datagram")
        time.sleep(0.5)
        self.assertEqual(receiver(), [b"> three entries"])  # the third entry got nothing
        self.assertEqual(program.history(), "")              # no echo
        program.click("mesag")
        self.assertEqual(self.display.copy_selection("ctrl+a", "ctrl+c"), "three entries")

    def test_second_copy_on_the_same_machine_fails_with_the_bind_message(self):
        first = self.start(0)
        # The second copy's file has a Cyrillic name, which the box gives as
        # the file system does, whatever the system's ANSI code page.
        path = k.renamed_copy("чат", self.addCleanup)
        second = k.Program(self.display, prefix=self.net.prefix(0), path=path)
        self.addCleanup(second.kill)
        _, text = second.message_box_text("Application Error")
        self.shot("chat-second-copy")
        self.assertIn("Could not bind socket. Address and port are already in use.", text)
        self.assertIn("Exception EIdCouldNotBindSocket in module %s at " % os.path.basename(path),
                      text)
        self.display.key("Return")
        self.assertEqual(second.wait_exit(), 1)
        # The first copy still receives.
        self.send_from_peer(b"still here")
        self.assertEqual(self.history_lines(first, 1), ["still here"])

    def test_closing_during_a_flood_exits_promptly_with_code_0(self):
        program = self.start()
        flood = subprocess.Popen(self.net.prefix(1) + [
            "python3", "-c",
            "import socket,time\n"
            "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
            "end=time.time()+30\n"
            "n=0\n"
            "while time.time()<end:\n"
            "  s.sendto(b'x'*64,('%s',%d))\n"
            "  n+=1\n"
            "  if n==1000: print('flooding',flush=True)\n" % (self.net.addresses[0], CHAT_PORT)],
            stdout=subprocess.PIPE, text=True)
        self.addCleanup(flood.kill)
        self.assertEqual(flood.stdout.readline().strip(), "flooding")
        started = time.monotonic()
        program.close_window()
        self.assertEqual(program.wait_exit(timeout=10), 0)
        self.assertLess(time.monotonic() - started, 5.0)


if __name__ == "__main__":
    unittest.main()
