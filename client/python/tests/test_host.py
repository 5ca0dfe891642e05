"""The synchronous client against the real lumora-host."""

from __future__ import annotations

import os
import signal
import tempfile
import time
import unittest
from pathlib import Path

import helpers
import lumora
from lumora import MAX_BODY, scene


class LaunchTest(unittest.TestCase):
    def test_launch_greets_and_close_reports_the_final_notice(self):
        host = helpers.launch()
        self.assertGreater(host.pid, 0)
        self.assertIsNone(host.final_notice)
        info = host.open("terminal", **helpers.HEADLESS)
        self.assertEqual((info["backend"], info["columns"], info["rows"]), ("terminal", 40, 6))
        notice = host.close()
        self.assertEqual(notice["reason"], "closed")
        self.assertNotIn("error", notice)
        # "close" itself counts: open and close.
        self.assertEqual(notice["stats"]["requests"], 2)
        self.assertEqual(host.exit_code, 0)
        self.assertIs(host.close(), notice)  # again: nothing more happens

    def test_context_manager_closes_the_host(self):
        with helpers.launch() as host:
            host.open("terminal", **helpers.HEADLESS)
        self.assertEqual(host.final_notice["reason"], "closed")
        self.assertEqual(host.exit_code, 0)

    def test_the_host_is_found_through_the_environment(self):
        saved = os.environ.get("LUMORA_HOST")
        os.environ["LUMORA_HOST"] = helpers.HOST
        try:
            with lumora.launch(timeout=helpers.LAUNCH_TIMEOUT) as host:
                self.assertIsNone(host.final_notice)
        finally:
            if saved is None:
                del os.environ["LUMORA_HOST"]
            else:
                os.environ["LUMORA_HOST"] = saved

    def test_a_missing_host_names_every_place_looked_at(self):
        saved = os.environ.pop("LUMORA_HOST", None)
        saved_path = os.environ.get("PATH", "")
        os.environ["PATH"] = tempfile.gettempdir()
        from lumora import _process
        real_candidates = _process._build_tree_candidates
        candidates = [Path("/nonexistent/one/lumora-host"), Path("/nonexistent/two/lumora-host")]
        _process._build_tree_candidates = lambda: candidates
        try:
            with self.assertRaises(lumora.LaunchError) as raised:
                lumora.launch()
            message = str(raised.exception)
            for place in ("host_path", "LUMORA_HOST", "PATH", *(str(c) for c in candidates)):
                self.assertIn(place, message)
        finally:
            _process._build_tree_candidates = real_candidates
            os.environ["PATH"] = saved_path
            if saved is not None:
                os.environ["LUMORA_HOST"] = saved

    def test_a_named_host_that_is_not_there_is_an_error(self):
        with self.assertRaises(lumora.LaunchError) as raised:
            lumora.launch(host_path="/nonexistent/lumora-host")
        self.assertIn("/nonexistent/lumora-host", str(raised.exception))

    def test_a_host_that_exits_at_once_is_reported_with_its_code(self):
        # The host refuses extra arguments: exit code 2 before connecting.
        started = time.monotonic()
        with self.assertRaises(lumora.LaunchError) as raised:
            helpers.launch(args=["--bogus", "1"])
        self.assertIn("exited with code 2 before connecting", str(raised.exception))
        self.assertLess(time.monotonic() - started, helpers.LAUNCH_TIMEOUT)


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.host = helpers.launch_terminal()
        self.addCleanup(self.host.close)

    def test_every_convenience_method(self):
        host = self.host
        self.assertIsNone(host.frame([scene.begin("#102030"), scene.text("Hello", 8, 16, "#ffffff", 16)],
                                     transition_seconds=0.1))
        snapshot = host.snapshot()
        self.assertEqual(snapshot["rows_text"][1], " Hello" + " " * 34)
        self.assertEqual(len(snapshot["cells"]), 40 * 6)
        self.assertIsNone(host.present())
        self.assertIsNone(host.present(scheduled=True))
        self.assertIsNone(host.patch(upsert=[scene.segment("a", [scene.text("seg", 0, 0, "#fff", 16)])],
                                     background="#000"))
        self.assertIsNone(host.patch(upsert=[scene.segment("b", [scene.text("two", 0, 16, "#fff", 16)])],
                                     order=["b", "a"]))
        self.assertIsNone(host.patch(remove=["b"]))
        rows = host.snapshot()["rows_text"]
        self.assertTrue(rows[0].startswith("seg"))
        self.assertFalse(rows[1].startswith("two"))
        info = host.info()
        self.assertEqual((info["segment_count"], info["renderer"]), (1, "native-cells"))
        self.assertEqual(host.measure("ab\ncde"), [24, 32])
        self.assertEqual(host.measure_many(["", "\tx"]), [[0, 16], [40, 16]])
        self.assertIsNone(host.configure(columns=20, rows=3, color="256"))
        self.assertEqual(host.info()["columns"], 20)
        self.assertEqual(host.set_size()["rows"], 3)
        self.assertIsNone(host.set_title("t"))
        self.assertEqual(host.reload_image("never-loaded.png")["resource_revision"], 1)
        self.assertIsInstance(host.ansi(diff=False), str)
        self.assertIsNone(host.text_input())
        self.assertIsNone(host.feed_input("x"))
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "frame.ans"
            self.assertIsNone(host.capture(str(path)))
            self.assertEqual(path.read_text(), host.ansi(diff=False))
        stats = host.stats(reset=True)
        self.assertGreaterEqual(stats["scene_updates"], 4)
        self.assertEqual(host.stats()["requests"], 1)

    def test_errors_carry_the_hosts_exact_message_and_the_command(self):
        cases = [
            ({"op": "open", "backend": "terminal", "headless": True}, "Host already open"),
            ({"op": "feed_input", "hex": "abc"}, "Input hex must have complete bytes"),
            ({"op": "feed_input", "hex": "zz"}, "Invalid input hex"),
            ({"op": "measure_many", "texts": [1]}, "Invalid terminal text batch"),
            ({"op": "clipboard_get"}, "Native terminal clipboard service is unavailable; use terminal paste"),
            ({"op": "resize"}, "Unsupported native terminal operation"),
            ({"op": "measure", "text": "a\u0000"}, "Embedded NUL is not representable in a native C string"),
        ]
        for command, message in cases:
            with self.subTest(message):
                with self.assertRaises(lumora.HostError) as raised:
                    self.host.request(command)
                self.assertEqual(raised.exception.message, message)
                self.assertEqual(str(raised.exception), message)
                self.assertIs(raised.exception.command, command)
        with self.assertRaises(lumora.HostError) as raised:
            self.host.patch(upsert=[scene.segment("a", [scene.begin("#000")])])
        self.assertEqual(raised.exception.message, "Invalid retained terminal segment patch")
        self.assertEqual(self.host.measure("ok"), [16, 16])  # the connection goes on

    def test_events_from_feed_input_arrive_in_order_while_requests_are_answered(self):
        host = self.host
        typed = "abcdefghij"
        for letter in typed:
            host.feed_input(letter)
            self.assertEqual(host.measure(letter), [8, 16])  # replies keep coming meanwhile
        host.feed_input(b"\x1b", flush=True)
        texts, keys = [], []
        deadline = time.monotonic() + helpers.REQUEST_TIMEOUT
        while len(keys) < len(typed) * 2 + 2 and time.monotonic() < deadline:
            event = host.poll_event(1.0)
            if event is None:
                continue
            if event["kind"] == "text":
                texts.append(event["text"])
            else:
                keys.append((event["kind"], event["key"]))
        self.assertEqual("".join(texts), typed)
        expected = [(kind, letter) for letter in typed for kind in ("key_down", "key_up")]
        self.assertEqual(keys, expected + [("key_down", "Escape"), ("key_up", "Escape")])
        self.assertIsNone(host.poll_event(0.05))

    def test_a_body_above_16_mib_is_refused_before_sending(self):
        overhead = len('{"op":"measure","text":""}')
        with self.assertRaises(lumora.BodyTooLarge):
            self.host.measure("x" * (MAX_BODY - overhead + 1))
        # Nothing reached the host: the stream is intact, and a body of
        # exactly 16 MiB goes through (to be refused by the operation table).
        padding = MAX_BODY - len('{"op":"unknown","padding":""}')
        with self.assertRaises(lumora.HostError) as raised:
            self.host.request({"op": "unknown", "padding": "x" * padding})
        self.assertEqual(raised.exception.message, "Unsupported native terminal operation")
        self.assertEqual(self.host.measure("ab"), [16, 16])

    def test_a_request_that_times_out_leaves_the_connection_usable(self):
        # A snapshot of a large grid takes the host a moment: abandon it.
        self.host.configure(columns=2000, rows=500)
        self.host.frame([scene.begin("#000"), scene.text("x" * 100, 0, 0, "#fff", 16)])
        with self.assertRaises(lumora.RequestTimeout):
            self.host.request({"op": "snapshot"}, timeout=0.0)
        self.assertEqual(self.host.measure("abc"), [24, 16])


class EndTest(unittest.TestCase):
    def test_a_killed_host_ends_events_and_requests(self):
        host = helpers.launch_terminal()
        host.feed_input("q")
        self.assertEqual(host.poll_event(helpers.REQUEST_TIMEOUT)["kind"], "key_down")
        os.kill(host.pid, signal.SIGKILL)
        remaining = list(host.events(timeout=helpers.REQUEST_TIMEOUT))
        self.assertEqual([event["kind"] for event in remaining], ["key_up", "text"])
        self.assertTrue(host.ended)
        self.assertEqual(host.final_notice["reason"], "disconnected")
        with self.assertRaises(lumora.HostExited) as raised:
            host.stats()
        self.assertIs(raised.exception.notice, host.final_notice)
        host.close()
        self.assertEqual(host.exit_code, -signal.SIGKILL)

    def test_a_request_after_close_raises_host_exited_with_the_notice(self):
        host = helpers.launch_terminal()
        self.assertIsNone(host.request({"op": "close"}))
        with self.assertRaises(lumora.HostExited) as raised:
            host.info()
        self.assertEqual(raised.exception.notice["reason"], "closed")
        self.assertIn("stats", raised.exception.notice)
        self.assertEqual(list(host.events()), [])
        self.assertEqual(host.close()["reason"], "closed")
        self.assertEqual(host.exit_code, 0)

    def test_closing_a_host_that_ignores_close_kills_it_after_the_grace(self):
        host = helpers.launch_terminal()
        os.kill(host.pid, signal.SIGSTOP)
        started = time.monotonic()
        notice = host.close(timeout=0.2, grace=0.2)
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(notice["reason"], "disconnected")
        self.assertEqual(host.exit_code, -signal.SIGKILL)


class UnreadableFrameTest(unittest.TestCase):
    def test_an_unreadable_reply_ends_the_connection_with_a_protocol_error(self):
        with tempfile.TemporaryDirectory() as folder:
            host = helpers.launch(host_path=helpers.fake_host(folder))
            with self.assertRaises(lumora.ProtocolError) as raised:
                host.stats()
            self.assertEqual(str(raised.exception), "Malformed reply from the host")
            self.assertEqual(host.poll_event(), {"kind": "blur"})  # what came before is kept
            with self.assertRaises(lumora.ProtocolError):
                host.info()
            notice = host.close()
            self.assertEqual(notice, {"reason": "protocol_error", "error": "Malformed reply from the host"})
            self.assertEqual(host.exit_code, 0)  # it saw the hang-up and ended


if __name__ == "__main__":
    unittest.main()
