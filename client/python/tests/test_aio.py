"""The asyncio client against the real lumora-host."""

from __future__ import annotations

import asyncio
import os
import signal
import tempfile
import unittest

import helpers
import lumora
import lumora.aio
from lumora import MAX_BODY, scene


async def launch_terminal(**members) -> lumora.aio.AsyncHost:
    host = await lumora.aio.launch(host_path=helpers.HOST, timeout=helpers.LAUNCH_TIMEOUT,
                                   request_timeout=helpers.REQUEST_TIMEOUT)
    await host.open("terminal", **{**helpers.HEADLESS, **members})
    return host


class AsyncHostTest(unittest.IsolatedAsyncioTestCase):
    async def test_requests_and_events_run_concurrently(self):
        async with await launch_terminal() as host:
            typed = "the quick brown fox"

            async def read_text() -> str:
                text = ""
                async for event in host.events(timeout=helpers.REQUEST_TIMEOUT):
                    if event["kind"] == "text":
                        text += event["text"]
                    if len(text) == len(typed):
                        return text
                return text

            async def type_and_draw() -> list:
                widths = []
                for index, letter in enumerate(typed):
                    await host.feed_input(letter)
                    await host.frame([scene.begin("#000"), scene.text(typed[:index + 1], 0, 0, "#fff", 16)])
                    widths.append((await host.measure(typed[:index + 1]))[0])
                return widths

            reader = asyncio.ensure_future(read_text())
            widths = await type_and_draw()
            self.assertEqual(await asyncio.wait_for(reader, helpers.REQUEST_TIMEOUT), typed)
            self.assertEqual(widths, [8 * (n + 1) for n in range(len(typed))])
            self.assertEqual((await host.snapshot())["rows_text"][0].rstrip(), typed)

    async def test_requests_in_flight_together_get_their_own_replies(self):
        async with await launch_terminal() as host:
            texts = ["x" * n for n in range(1, 30)]
            replies = await asyncio.gather(*(host.measure(text) for text in texts))
            self.assertEqual(replies, [[8 * len(text), 16] for text in texts])
            outcomes = await asyncio.gather(host.measure("ab"), host.request({"op": "nope"}), host.info(),
                                            return_exceptions=True)
            self.assertEqual(outcomes[0], [16, 16])
            self.assertIsInstance(outcomes[1], lumora.HostError)
            self.assertEqual(outcomes[1].message, "Unsupported native terminal operation")
            self.assertEqual(outcomes[2]["backend"], "terminal")

    async def test_close_and_requests_after_it(self):
        host = await launch_terminal()
        with self.assertRaises(lumora.BodyTooLarge):
            await host.measure("x" * MAX_BODY)
        self.assertEqual(await host.measure("ok"), [16, 16])
        notice = await host.close()
        self.assertEqual(notice["reason"], "closed")
        self.assertEqual(notice["stats"]["requests"], 3)  # open, measure, close
        self.assertEqual(host.exit_code, 0)
        with self.assertRaises(lumora.HostExited) as raised:
            await host.stats()
        self.assertIs(raised.exception.notice, notice)

    async def test_a_killed_host_ends_the_event_stream_and_fails_waiting_requests(self):
        host = await launch_terminal()
        await host.feed_input("k")
        first = await host.poll_event(helpers.REQUEST_TIMEOUT)
        self.assertEqual(first["kind"], "key_down")
        os.kill(host.pid, signal.SIGKILL)
        rest = [event["kind"] async for event in host.events(timeout=helpers.REQUEST_TIMEOUT)]
        self.assertEqual(rest, ["key_up", "text"])
        self.assertEqual(host.final_notice["reason"], "disconnected")
        with self.assertRaises(lumora.HostExited):
            await host.info()
        await host.close()
        self.assertEqual(host.exit_code, -signal.SIGKILL)

    async def test_a_pending_request_learns_of_the_end(self):
        host = await launch_terminal()
        os.kill(host.pid, signal.SIGSTOP)
        waiting = asyncio.ensure_future(host.info())
        await asyncio.sleep(0.1)
        self.assertFalse(waiting.done())
        os.kill(host.pid, signal.SIGKILL)
        with self.assertRaises(lumora.HostExited):
            await asyncio.wait_for(waiting, helpers.REQUEST_TIMEOUT)
        await host.close()

    async def test_an_unreadable_reply_fails_the_request_with_a_protocol_error(self):
        with tempfile.TemporaryDirectory() as folder:
            host = await lumora.aio.launch(host_path=helpers.fake_host(folder), timeout=helpers.LAUNCH_TIMEOUT)
            with self.assertRaises(lumora.ProtocolError) as raised:
                await host.stats()
            self.assertEqual(str(raised.exception), "Malformed reply from the host")
            self.assertEqual(await host.poll_event(), {"kind": "blur"})
            notice = await host.close()
            self.assertEqual(notice["reason"], "protocol_error")
            self.assertEqual(host.exit_code, 0)


if __name__ == "__main__":
    unittest.main()
