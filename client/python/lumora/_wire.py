"""Frames on the wire and the bookkeeping of one connection, shared by the
synchronous and the asyncio clients. Nothing here touches a socket: bytes go
in through `Connection.feed`, frames to send come out of
`Connection.command_frame`.
"""

from __future__ import annotations

import json
import struct
from collections import deque
from typing import Any, Deque, Dict, Optional, Set, Tuple

from .errors import BodyTooLarge, HostExited, LumoraError, ProtocolError

MAGIC = b"RZV1"
FRAME_HELLO = 1
FRAME_COMMAND = 9
FRAME_EVENT = 101
FRAME_FINAL = 102
FRAME_REPLY = 200
HEADER_SIZE = 16
MAX_BODY = 16 * 1024 * 1024
MAX_ID = 0xFFFFFFFF

_HEADER = struct.Struct("<4sIII")
# Compact and strict: NaN and infinities are not JSON, so they are refused
# here rather than by the host's parser.
_ENCODER = json.JSONEncoder(ensure_ascii=False, separators=(",", ":"), allow_nan=False)

# What `Connection.replies` holds per id: (ok, result or error text).
Reply = Tuple[bool, Any]


def encode_header(frame_type: int, frame_id: int, length: int) -> bytes:
    """The 16-byte header: "RZV1", type, id and body length, little-endian."""
    return _HEADER.pack(MAGIC, frame_type, frame_id, length)


def encode_command(command: Any) -> bytes:
    """A command's body: compact UTF-8 JSON. Raises `BodyTooLarge` above 16 MiB
    and ValueError for what JSON cannot carry."""
    body = _ENCODER.encode(command).encode("utf-8")
    if len(body) > MAX_BODY:
        raise BodyTooLarge(f"Command body of {len(body)} bytes exceeds the 16 MiB frame limit")
    return body


_scan = json.JSONDecoder().scan_once  # type: ignore[attr-defined]


def _decode_object(body: Any) -> Any:
    """One JSON object from a frame body (bytes-like). ValueError otherwise."""
    try:
        text = str(body, "utf-8")
    except UnicodeDecodeError:
        # A string the host copied from elsewhere (a clipboard, say) may not
        # be UTF-8: keep the frame, with U+FFFD for the bad bytes.
        text = str(body, "utf-8", "replace")
    # The host prints without whitespace: scan the value directly, and only
    # fall back to the full reader (which allows surrounding blanks) when
    # that does not consume the whole body.
    try:
        value, end = _scan(text, 0)
    except (StopIteration, ValueError):
        end = -1
    if end != len(text):
        value = json.loads(text)
    if not isinstance(value, dict):
        raise ValueError("not an object")
    return value


class Connection:
    """The state of one connection: ids, the hello, replies waiting to be
    claimed, queued events and the final notice."""

    def __init__(self, token: str) -> None:
        self.token = token.encode("ascii")
        self.hello_seen = False
        self.next_id = 1
        self.buffer = bytearray()
        # Ids sent and not yet answered; ids whose caller gave up waiting.
        self.pending: Set[int] = set()
        self.abandoned: Set[int] = set()
        self.replies: Dict[int, Reply] = {}
        self.events: Deque[Dict[str, Any]] = deque()
        self.final_notice: Optional[Dict[str, Any]] = None
        self.error: Optional[LumoraError] = None  # why nothing more is read

    @property
    def ended(self) -> bool:
        return self.final_notice is not None

    def command_frame(self, command: Any) -> Tuple[int, bytes]:
        """Header and body of `command` under the next id. Nothing is used up
        when the command is refused."""
        self.check_open()
        body = encode_command(command)
        frame_id = self.next_id
        if frame_id > MAX_ID:
            raise LumoraError("The 32-bit request ids are used up")
        self.next_id = frame_id + 1
        self.pending.add(frame_id)
        return frame_id, encode_header(FRAME_COMMAND, frame_id, len(body)) + body

    def check_open(self) -> None:
        if self.error is not None:
            raise self.error
        if self.final_notice is not None:
            raise HostExited(self.final_notice)

    def abandon(self, frame_id: int) -> None:
        """The caller stopped waiting for `frame_id`: its reply, when it comes, is dropped."""
        if frame_id in self.pending:
            self.pending.discard(frame_id)
            self.abandoned.add(frame_id)
        self.replies.pop(frame_id, None)

    def take_reply(self, frame_id: int) -> Optional[Reply]:
        reply = self.replies.pop(frame_id, None)
        if reply is not None:
            return reply
        # Replies come before the final notice: once it is here, an
        # unanswered command will never be answered.
        if self.final_notice is not None or self.error is not None:
            self.pending.discard(frame_id)
            self.check_open()
        return None

    def feed(self, data: "bytes | bytearray | memoryview") -> None:
        """Takes received bytes and files every complete frame. A frame that
        cannot be read raises ProtocolError and ends the connection."""
        if self.error is not None or self.final_notice is not None:
            return
        buffer = self.buffer
        # Usually whole frames arrive: read them straight from `data` and
        # keep only an incomplete tail (copied, as `data` may be reused).
        source: "bytes | bytearray | memoryview"
        if buffer:
            buffer += data
            source = buffer
        else:
            source = data
        start = 0
        end = len(source)
        try:
            while end - start >= HEADER_SIZE:
                magic, frame_type, frame_id, length = _HEADER.unpack_from(source, start)
                if magic != MAGIC:
                    raise ProtocolError("Malformed frame from the host: bad magic")
                if length > MAX_BODY:
                    raise ProtocolError("Malformed frame from the host: body above 16 MiB")
                if end - start - HEADER_SIZE < length:
                    break
                body = source[start + HEADER_SIZE:start + HEADER_SIZE + length]
                start += HEADER_SIZE + length
                self._accept(frame_type, frame_id, body)
                if self.final_notice is not None:
                    break
        except ProtocolError as error:
            self.fail(error)
            raise
        finally:
            if source is buffer:
                if start:
                    del buffer[:start]
            elif start < end and self.error is None and self.final_notice is None:
                buffer += source[start:]

    def fail(self, error: LumoraError) -> None:
        if self.error is None:
            self.error = error
        if self.final_notice is None:
            reason = "protocol_error" if isinstance(error, ProtocolError) else "disconnected"
            self.final_notice = {"reason": reason, "error": str(error)}
        self.buffer.clear()

    def lose(self) -> None:
        """The connection ended (the host hung up, or we did)."""
        self.buffer.clear()
        if self.final_notice is None:
            self.final_notice = {
                "reason": "disconnected",
                "error": "The host closed the connection without a final notice",
            }

    def _accept(self, frame_type: int, frame_id: int, body: Any) -> None:
        if not self.hello_seen:
            if frame_type != FRAME_HELLO or frame_id != 0:
                raise ProtocolError("The host's first frame is not a hello")
            if bytes(body) != self.token:
                raise ProtocolError("The host's hello carries the wrong token")
            self.hello_seen = True
            return
        if frame_type == FRAME_REPLY:
            self._accept_reply(frame_id, body)
            return
        if frame_type == FRAME_EVENT or frame_type == FRAME_FINAL:
            if frame_id != 0:
                raise ProtocolError("Malformed frame from the host: message with an id")
            try:
                message = _decode_object(body)
            except ValueError:
                raise ProtocolError("Malformed event from the host") from None
            if frame_type == FRAME_EVENT:
                self.events.append(message)
            else:
                self.final_notice = message
            return
        raise ProtocolError(f"Malformed frame from the host: type {frame_type}")

    def _accept_reply(self, frame_id: int, body: Any) -> None:
        if frame_id in self.pending:
            self.pending.discard(frame_id)
        elif frame_id in self.abandoned:
            self.abandoned.discard(frame_id)
            return
        else:
            raise ProtocolError(f"Malformed frame from the host: reply to unknown id {frame_id}")
        try:
            reply = _decode_object(body)
        except ValueError:
            raise ProtocolError("Malformed reply from the host") from None
        ok = reply.get("ok")
        if ok is True:
            if "result" not in reply:
                raise ProtocolError("Malformed reply from the host: no result")
            self.replies[frame_id] = (True, reply["result"])
        elif ok is False:
            error = reply.get("error")
            if not isinstance(error, str):
                raise ProtocolError("Malformed reply from the host: no error")
            self.replies[frame_id] = (False, error)
        else:
            raise ProtocolError("Malformed reply from the host")
