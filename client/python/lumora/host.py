"""The synchronous client: `launch` starts a host and returns a `Host`.

A `Host` is driven by one thread at a time; it holds no lock of its own.
Events that arrive while a request waits for its reply are queued and handed
out later by `poll_event` and `events`, in arrival order.
"""

from __future__ import annotations

import select
import socket
import struct
import time
import weakref
from typing import Any, Callable, Dict, Iterator, Mapping, Optional, Sequence

from . import _process
from ._commands import Command, HostBase
from ._wire import Connection
from .errors import HostError, HostExited, LaunchError, LumoraError, ProtocolError, RequestTimeout

# Bound on one send, so that a host that stopped reading cannot hang the caller.
SEND_TIMEOUT_SECONDS = 30.0
DEFAULT_REQUEST_TIMEOUT = 30.0
# Received bytes land in one reused buffer; a reply of any size is assembled
# from reads of at most this much.
RECEIVE_CHUNK = 256 * 1024
# Waits for the host block in recv itself, bounded by the socket's receive
# time-out (one system call per read, as in the plainest loop). Long waits
# are cut into slices of this length so that the time-out, once set, rarely
# has to change; shorter ones set it exactly.
RECEIVE_SLICE_SECONDS = 1.0

_READABLE = select.POLLIN | select.POLLPRI | select.POLLERR | select.POLLHUP
_DONT_WAIT = socket.MSG_DONTWAIT


def _poll_milliseconds(seconds: Optional[float]) -> Optional[int]:
    if seconds is None:
        return None
    # Round up, so that a wait never ends just before its deadline.
    return max(0, int(seconds * 1000) + 1)


def _cleanup(connection: socket.socket, process: _process.HostProcess) -> None:
    """Last resort when a Host is dropped without close(): no orphaned host."""
    connection.close()
    process.kill()
    process.wait(1.0)
    process.release()


class Host(HostBase[Any]):
    """One running host and its connection. Use `launch` to make one."""

    def __init__(self, process: _process.HostProcess, connection: socket.socket, wire: Connection,
                 request_timeout: Optional[float]) -> None:
        self._process = process
        self._socket = connection
        self._wire = wire
        self._receive_buffer = bytearray(RECEIVE_CHUNK)
        self._receive_view = memoryview(self._receive_buffer)
        self._receive_timeout = -1.0  # what SO_RCVTIMEO is set to; -1: not yet set
        self._exit_code = None
        self._closed = False
        self.request_timeout = request_timeout
        self._finalizer = weakref.finalize(self, _cleanup, connection, process)

    # Requests.

    def request(self, command: Command, timeout: Optional[float] = None) -> Any:
        """Sends `command`, waits for its reply and returns its "result".

        Raises HostError (with the host's message) on {"ok":false},
        HostExited once the host has ended, RequestTimeout when no reply came
        within `timeout` (default: `request_timeout`), BodyTooLarge for a
        command above 16 MiB (nothing is sent), ProtocolError when the host
        sent something unreadable."""
        frame_id = self.send(command)
        return self.wait_reply(frame_id, command, timeout)

    def send(self, command: Command) -> int:
        """Sends `command` without waiting; returns its id for `wait_reply`."""
        frame_id, frame = self._wire.command_frame(command)
        try:
            self._send_all(frame)
        except BaseException:
            self._wire.abandon(frame_id)
            raise
        return frame_id

    def wait_reply(self, frame_id: int, command: Any = None, timeout: Optional[float] = None) -> Any:
        """Waits for the reply to the command sent as `frame_id`; as `request`."""
        wire = self._wire
        reply = wire.replies.pop(frame_id, None)
        if reply is None:
            if timeout is None:
                timeout = self.request_timeout
            deadline = None if timeout is None else time.monotonic() + timeout
            try:
                while True:
                    reply = wire.take_reply(frame_id)
                    if reply is not None:
                        break
                    remaining = None if deadline is None else deadline - time.monotonic()
                    if remaining is not None and remaining <= 0:
                        wire.abandon(frame_id)
                        raise RequestTimeout(f"No reply from the host within {timeout} seconds", command)
                    self._receive(remaining)
            except (HostExited, ProtocolError):
                wire.abandon(frame_id)
                raise
        if reply[0]:
            return reply[1]
        raise HostError(reply[1], command)

    # Events.

    def poll_event(self, timeout: Optional[float] = 0.0) -> Optional[Dict[str, Any]]:
        """The next event, waiting up to `timeout` seconds for one (None: until
        one comes or the host ends). None on time-out and once the host ended
        and every event was handed out."""
        events = self._wire.events
        if events:
            return events.popleft()
        if self._wire.ended:
            return None
        deadline = None if timeout is None else time.monotonic() + timeout
        self._pump(deadline, lambda: bool(events))
        return events.popleft() if events else None

    def events(self, timeout: Optional[float] = None) -> Iterator[Dict[str, Any]]:
        """Events in arrival order, until the host ends; with `timeout`, also
        ends once no event came for that many seconds."""
        while True:
            event = self.poll_event(timeout)
            if event is None:
                return
            yield event

    # Ending.

    def close(self, timeout: float = 10.0, grace: float = _process.DEFAULT_GRACE_SECONDS) -> Dict[str, Any]:
        """Sends "close", waits for the final notice, then for the exit (the
        host is killed when it has not exited `grace` seconds later). Returns
        the final notice. Safe to call again."""
        if not self._closed:
            try:
                if not self._wire.ended:
                    deadline = time.monotonic() + timeout
                    try:
                        self.request({"op": "close"}, timeout)
                        self._pump(deadline, lambda: self._wire.ended)
                    except LumoraError:
                        pass
            finally:
                self._finish(grace)
        notice = self._wire.final_notice
        assert notice is not None
        return notice

    def __enter__(self) -> "Host":
        return self

    def __exit__(self, exc_type: Any, exc: Any, traceback: Any) -> None:
        try:
            self.close()
        except LumoraError:
            if exc_type is None:
                raise

    def _finish(self, grace: float) -> None:
        self._closed = True
        self._wire.lose()
        self._finalizer.detach()
        self._socket.close()
        self._exit_code = self._process.reap(grace)
        self._process.release()

    # The socket.

    def _pump(self, deadline: Optional[float], done: Callable[[], bool]) -> bool:
        """Reads until `done()` holds, the deadline passes or the connection ends."""
        wire = self._wire
        while True:
            if done():
                return True
            if wire.ended:
                return False
            remaining = None
            if deadline is not None:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
            self._receive(remaining)

    def _receive(self, remaining: Optional[float]) -> bool:
        """One read, waiting up to `remaining` seconds (None: a slice of an
        endless wait; 0 or less: not at all), filed by the connection. True
        when bytes arrived."""
        sock = self._socket
        flags = 0
        if remaining is not None and remaining <= 0:
            flags = _DONT_WAIT
        else:
            wanted = RECEIVE_SLICE_SECONDS if remaining is None or remaining > RECEIVE_SLICE_SECONDS else remaining
            if wanted != self._receive_timeout:
                self._set_receive_timeout(wanted)
        try:
            count = sock.recv_into(self._receive_buffer, RECEIVE_CHUNK, flags)
        except (BlockingIOError, InterruptedError, socket.timeout):
            return False
        except OSError:
            count = 0
        if count == 0:
            self._lose()
            return False
        try:
            self._wire.feed(self._receive_view[:count])
        except ProtocolError:
            self._hang_up()
            raise
        return True

    def _set_receive_timeout(self, seconds: float) -> None:
        whole = int(seconds)
        # Zero would mean no time-out at all: wait at least a microsecond.
        micro = max(1, int((seconds - whole) * 1e6)) if whole == 0 else int((seconds - whole) * 1e6)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, struct.pack("@ll", whole, micro))
        self._receive_timeout = seconds

    def _send_all(self, frame: bytes) -> None:
        sock = self._socket
        try:
            sent = sock.send(frame, _DONT_WAIT)
        except (BlockingIOError, InterruptedError):
            sent = 0
        except OSError:
            self._lose_while_sending()
        if sent == len(frame):
            return
        # The host reads at most 256 KiB per loop turn and may be sending
        # events meanwhile: keep reading while the rest goes out.
        view = memoryview(frame)
        deadline = time.monotonic() + SEND_TIMEOUT_SECONDS
        writer = select.poll()
        writer.register(sock.fileno(), _READABLE | select.POLLOUT)
        while sent < len(frame):
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                self._broken_frame(sent)
                raise RequestTimeout("The host did not take the command within "
                                     f"{SEND_TIMEOUT_SECONDS} seconds")
            ready = 0
            for _, flags in writer.poll(_poll_milliseconds(remaining)):
                ready |= flags
            if ready & _READABLE:
                self._receive(0)
                self._wire.check_open()
            if ready & (select.POLLOUT | select.POLLERR | select.POLLHUP):
                try:
                    sent += sock.send(view[sent:], _DONT_WAIT)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    self._lose_while_sending()

    def _broken_frame(self, sent: int) -> None:
        # Half a frame on the wire leaves the stream unusable.
        if sent:
            self._wire.fail(LumoraError("Could not send a whole frame; the connection is closed"))
            self._hang_up()

    def _lose_while_sending(self) -> None:
        """The host is gone: read what it sent before going (perhaps its final
        notice), then report the end."""
        try:
            while not self._wire.ended and self._receive(0):
                pass
        except ProtocolError:
            pass
        self._lose()
        self._wire.check_open()

    def _lose(self) -> None:
        self._wire.lose()

    def _hang_up(self) -> None:
        try:
            self._socket.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def launch(host_path: Optional[str] = None, env: Optional[Mapping[str, Optional[str]]] = None,
           args: Sequence[str] = (), timeout: float = 10.0,
           request_timeout: Optional[float] = DEFAULT_REQUEST_TIMEOUT) -> Host:
    """Starts lumora-host and returns the connected `Host`.

    The binary is `host_path`, else $LUMORA_HOST, else lumora-host on PATH,
    else build/lumora-host of the source tree. `env` adds variables to the
    host's environment (None removes one), `args` are appended to its command
    line. The host must connect and greet within `timeout` seconds. Raises
    LaunchError.
    """
    process, listener, token = _process.start(host_path, env, args)
    deadline = time.monotonic() + timeout
    host: Optional[Host] = None
    try:
        connection = _accept(process, listener, deadline)
        _process.tune_connection(connection)
        connection.setblocking(True)
        wire = Connection(token)
        host = Host(process, connection, wire, request_timeout)
        try:
            greeted = host._pump(deadline, lambda: wire.hello_seen)
        except ProtocolError as error:
            raise LaunchError(str(error)) from None
        if not greeted:
            if wire.ended:
                raise LaunchError("The host hung up before its hello")
            raise LaunchError("Timed out waiting for the host's hello")
        return host
    except BaseException:
        if host is not None:
            host._finalizer.detach()
            host._socket.close()
        process.abandon()
        raise
    finally:
        listener.close()


def _accept(process: _process.HostProcess, listener: socket.socket, deadline: float) -> socket.socket:
    while True:
        listener.settimeout(process.accept_slice(deadline))
        try:
            connection, _ = listener.accept()
            return connection
        except socket.timeout:
            continue
