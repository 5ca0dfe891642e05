"""Frames and connection bookkeeping, without a host."""

from __future__ import annotations

import struct
import unittest

import helpers  # noqa: F401  (puts the package on the path)
from lumora import BodyTooLarge, HostExited, ProtocolError
from lumora._wire import (FRAME_EVENT, FRAME_FINAL, FRAME_HELLO, FRAME_REPLY, MAX_BODY, Connection,
                          encode_command, encode_header)

TOKEN = "ab" * 32


def frame(frame_type: int, frame_id: int, body: bytes) -> bytes:
    return encode_header(frame_type, frame_id, len(body)) + body


def greeted() -> Connection:
    connection = Connection(TOKEN)
    connection.feed(frame(FRAME_HELLO, 0, TOKEN.encode()))
    return connection


class HeaderTest(unittest.TestCase):
    def test_header_is_magic_then_little_endian_fields(self):
        self.assertEqual(encode_header(9, 0x01020304, 5), b"RZV1" + struct.pack("<III", 9, 0x01020304, 5))

    def test_command_frames_carry_growing_ids_and_compact_utf8(self):
        connection = greeted()
        first, data = connection.command_frame({"op": "measure", "text": "é"})
        second, _ = connection.command_frame({"op": "stats"})
        self.assertEqual((first, second), (1, 2))
        body = '{"op":"measure","text":"é"}'.encode()
        self.assertEqual(data, encode_header(9, 1, len(body)) + body)

    def test_body_above_16_mib_is_refused_and_uses_no_id(self):
        connection = greeted()
        overhead = len(encode_command({"op": "measure", "text": ""}))
        exact = {"op": "measure", "text": "x" * (MAX_BODY - overhead)}
        self.assertEqual(len(encode_command(exact)), MAX_BODY)
        with self.assertRaises(BodyTooLarge):
            connection.command_frame({"op": "measure", "text": "x" * (MAX_BODY - overhead + 1)})
        self.assertEqual(connection.command_frame({"op": "stats"})[0], 1)

    def test_values_json_cannot_carry_are_refused_before_sending(self):
        connection = greeted()
        for value in (float("nan"), float("inf"), "\ud800"):
            with self.assertRaises(ValueError):
                connection.command_frame({"op": "measure", "text": value})
        self.assertEqual(connection.command_frame({"op": "stats"})[0], 1)


class FeedTest(unittest.TestCase):
    def stream(self):
        return (frame(FRAME_HELLO, 0, TOKEN.encode())
                + frame(FRAME_EVENT, 0, b'{"kind":"text","text":"a"}')
                + frame(FRAME_REPLY, 1, b'{"ok":true,"result":[1,2]}')
                + frame(FRAME_EVENT, 0, b'{"kind":"blur"}')
                + frame(FRAME_REPLY, 2, b'{"ok":false,"error":"Open the backend first"}')
                + frame(FRAME_FINAL, 0, b'{"reason":"closed","stats":{}}'))

    def check(self, connection: Connection):
        self.assertEqual(connection.take_reply(1), (True, [1, 2]))
        self.assertEqual(connection.take_reply(2), (False, "Open the backend first"))
        self.assertEqual(list(connection.events), [{"kind": "text", "text": "a"}, {"kind": "blur"}])
        self.assertEqual(connection.final_notice, {"reason": "closed", "stats": {}})

    def test_the_same_frames_wherever_the_stream_is_cut(self):
        stream = self.stream()
        for cut in range(len(stream) + 1):
            connection = Connection(TOKEN)
            connection.next_id = 3
            connection.pending = {1, 2}
            connection.feed(stream[:cut])
            connection.feed(stream[cut:])
            with self.subTest(cut=cut):
                self.check(connection)

    def test_byte_by_byte(self):
        connection = Connection(TOKEN)
        connection.next_id = 3
        connection.pending = {1, 2}
        for byte in self.stream():
            connection.feed(bytes([byte]))
        self.check(connection)

    def test_after_the_final_notice_an_unanswered_command_raises_host_exited(self):
        connection = greeted()
        frame_id, _ = connection.command_frame({"op": "stats"})
        connection.feed(frame(FRAME_FINAL, 0, b'{"reason":"native_error","error":"x","stats":{}}'))
        with self.assertRaises(HostExited) as raised:
            connection.take_reply(frame_id)
        self.assertEqual(raised.exception.notice["reason"], "native_error")
        with self.assertRaises(HostExited):
            connection.command_frame({"op": "stats"})

    def test_a_late_reply_to_an_abandoned_command_is_dropped(self):
        connection = greeted()
        first, _ = connection.command_frame({"op": "stats"})
        second, _ = connection.command_frame({"op": "stats"})
        connection.abandon(first)
        connection.feed(frame(FRAME_REPLY, first, b'{"ok":true,"result":1}')
                        + frame(FRAME_REPLY, second, b'{"ok":true,"result":2}'))
        self.assertIsNone(connection.take_reply(first))
        self.assertEqual(connection.take_reply(second), (True, 2))

    def test_text_that_is_not_utf8_is_kept_with_replacement_characters(self):
        connection = greeted()
        frame_id, _ = connection.command_frame({"op": "clipboard_read"})
        connection.feed(frame(FRAME_REPLY, frame_id, b'{"ok":true,"result":"a\xffb"}'))
        self.assertEqual(connection.take_reply(frame_id), (True, "a\ufffdb"))


class MalformedTest(unittest.TestCase):
    CASES = [
        ("bad magic", b"RZV2" + struct.pack("<III", FRAME_EVENT, 0, 2) + b"{}", "bad magic"),
        ("oversized body", encode_header(FRAME_EVENT, 0, MAX_BODY + 1), "above 16 MiB"),
        ("unknown type", frame(7, 0, b"{}"), "type 7"),
        ("event with an id", frame(FRAME_EVENT, 3, b"{}"), "with an id"),
        ("event not an object", frame(FRAME_EVENT, 0, b"[1]"), "Malformed event"),
        ("event not JSON", frame(FRAME_EVENT, 0, b"{"), "Malformed event"),
        ("reply to an id never sent", frame(FRAME_REPLY, 9, b'{"ok":true,"result":null}'), "unknown id 9"),
        ("reply without ok", frame(FRAME_REPLY, 1, b'{"result":null}'), "Malformed reply"),
        ("reply without result", frame(FRAME_REPLY, 1, b'{"ok":true}'), "no result"),
        ("error that is not text", frame(FRAME_REPLY, 1, b'{"ok":false,"error":3}'), "no error"),
    ]

    def test_each_unreadable_frame_ends_the_connection(self):
        for name, data, words in self.CASES:
            with self.subTest(name):
                connection = greeted()
                frame_id, _ = connection.command_frame({"op": "stats"})
                with self.assertRaises(ProtocolError) as raised:
                    connection.feed(data)
                self.assertIn(words, str(raised.exception))
                self.assertEqual(connection.final_notice["reason"], "protocol_error")
                with self.assertRaises(ProtocolError):
                    connection.take_reply(frame_id)
                with self.assertRaises(ProtocolError):
                    connection.command_frame({"op": "stats"})

    def test_the_hello_must_come_first_and_carry_the_token(self):
        for data, words in [(frame(FRAME_EVENT, 0, b"{}"), "not a hello"),
                            (frame(FRAME_HELLO, 0, ("cd" * 32).encode()), "wrong token")]:
            with self.subTest(words):
                with self.assertRaises(ProtocolError) as raised:
                    Connection(TOKEN).feed(data)
                self.assertIn(words, str(raised.exception))


if __name__ == "__main__":
    unittest.main()
