"""The asyncio client: `await lumora.aio.launch()` returns an `AsyncHost`.

    async with await lumora.aio.launch() as host:
        await host.open("terminal", headless=True, columns=40, rows=10)
        await host.frame([scene.begin("#000"), scene.text("Hi", 0, 0, "#fff", 16)])
        async for event in host.events():
            ...

Every method of `lumora.Host` is here too and returns an awaitable. A task
reads the connection all the time, so replies and events are taken in while
other tasks await either; several requests may be in flight at once (ids are
given in the order the requests are made, and the host answers in that
order). An `AsyncHost` belongs to the event loop that launched it.
"""

from __future__ import annotations

import asyncio
import socket
import time
from typing import Any, AsyncIterator, Awaitable, Dict, Mapping, Optional, Sequence

from . import _process
from ._commands import Command, HostBase
from ._wire import Connection, Reply
from .errors import HostError, HostExited, LaunchError, LumoraError, ProtocolError, RequestTimeout
from .host import DEFAULT_REQUEST_TIMEOUT, RECEIVE_CHUNK


class AsyncHost(HostBase[Awaitable[Any]]):
    """One running host and its connection, for asyncio. Use `launch`."""

    def __init__(self, process: _process.HostProcess, reader: asyncio.StreamReader,
                 writer: asyncio.StreamWriter, wire: Connection, request_timeout: Optional[float]) -> None:
        self._process = process
        self._reader = reader
        self._writer = writer
        self._wire = wire
        self._waiters: Dict[int, "asyncio.Future[Reply]"] = {}
        self._changed = asyncio.Event()  # set whenever events arrive or the connection ends
        self._exit_code = None
        self._closed = False
        self.request_timeout = request_timeout
        self._reading = asyncio.ensure_future(self._read_loop())

    # Requests.

    async def request(self, command: Command, timeout: Optional[float] = None) -> Any:
        """As `Host.request`."""
        frame_id, frame = self._wire.command_frame(command)
        future = asyncio.get_running_loop().create_future()
        self._waiters[frame_id] = future
        try:
            self._writer.write(frame)
            await self._writer.drain()
            if timeout is None:
                timeout = self.request_timeout
            try:
                ok, value = await asyncio.wait_for(asyncio.shield(future), timeout)
            except asyncio.TimeoutError:
                raise RequestTimeout(f"No reply from the host within {timeout} seconds", command) from None
        except (ConnectionError, OSError):
            self._lost()
            self._wire.check_open()
            raise
        finally:
            if self._waiters.pop(frame_id, None) is not None and not future.done():
                future.cancel()
                self._wire.abandon(frame_id)
        if ok:
            return value
        raise HostError(value, command)

    # Events.

    async def poll_event(self, timeout: Optional[float] = 0.0) -> Optional[Dict[str, Any]]:
        """As `Host.poll_event`."""
        events = self._wire.events
        deadline = None if timeout is None else time.monotonic() + timeout
        while not events and not self._wire.ended:
            self._changed.clear()
            remaining = None if deadline is None else deadline - time.monotonic()
            if remaining is not None and remaining <= 0:
                return None
            try:
                await asyncio.wait_for(self._changed.wait(), remaining)
            except asyncio.TimeoutError:
                return None
        return events.popleft() if events else None

    async def events(self, timeout: Optional[float] = None) -> AsyncIterator[Dict[str, Any]]:
        """As `Host.events`: `async for event in host.events(): ...`."""
        while True:
            event = await self.poll_event(timeout)
            if event is None:
                return
            yield event

    # Ending.

    async def close(self, timeout: float = 10.0, grace: float = _process.DEFAULT_GRACE_SECONDS) -> Dict[str, Any]:
        """As `Host.close`."""
        if not self._closed:
            try:
                if not self._wire.ended:
                    try:
                        await self.request({"op": "close"}, timeout)
                        await asyncio.wait_for(self._wait_end(), timeout)
                    except (LumoraError, asyncio.TimeoutError, OSError):
                        pass
            finally:
                await self._finish(grace)
        notice = self._wire.final_notice
        assert notice is not None
        return notice

    async def __aenter__(self) -> "AsyncHost":
        return self

    async def __aexit__(self, exc_type: Any, exc: Any, traceback: Any) -> None:
        try:
            await self.close()
        except LumoraError:
            if exc_type is None:
                raise

    async def _wait_end(self) -> None:
        while not self._wire.ended:
            self._changed.clear()
            await self._changed.wait()

    async def _finish(self, grace: float) -> None:
        self._closed = True
        self._wire.lose()
        self._reading.cancel()
        await asyncio.wait([self._reading])  # let it end without raising here
        self._writer.close()
        try:
            await self._writer.wait_closed()
        except (OSError, asyncio.CancelledError):
            pass
        # The process is a plain child: poll for its exit without blocking the loop.
        deadline = time.monotonic() + grace
        while self._process.poll() is None and time.monotonic() < deadline:
            await asyncio.sleep(0.01)
        self._exit_code = self._process.reap(0)
        self._process.release()
        self._settle()

    # The connection.

    async def _read_loop(self) -> None:
        wire = self._wire
        try:
            while not wire.ended:
                data = await self._reader.read(RECEIVE_CHUNK)
                if not data:
                    break
                wire.feed(data)
                self._settle()
        except ProtocolError:
            self._writer.close()
        except (ConnectionError, OSError):
            pass
        self._lost()

    def _lost(self) -> None:
        self._wire.lose()
        self._settle()

    def _settle(self) -> None:
        """Hands replies to their waiters and wakes those waiting for events."""
        wire = self._wire
        for frame_id, future in list(self._waiters.items()):
            if future.done():
                continue
            try:
                reply = wire.take_reply(frame_id)
            except LumoraError as error:
                future.set_exception(error)
                continue
            if reply is not None:
                future.set_result(reply)
        if wire.events or wire.ended:
            self._changed.set()


async def launch(host_path: Optional[str] = None, env: Optional[Mapping[str, Optional[str]]] = None,
                 args: Sequence[str] = (), timeout: float = 10.0,
                 request_timeout: Optional[float] = DEFAULT_REQUEST_TIMEOUT) -> AsyncHost:
    """As `lumora.launch`, for asyncio."""
    loop = asyncio.get_running_loop()
    process, listener, token = _process.start(host_path, env, args)
    deadline = time.monotonic() + timeout
    writer: Optional[asyncio.StreamWriter] = None
    try:
        listener.setblocking(False)
        connection = await _accept(loop, process, listener, deadline)
        _process.tune_connection(connection)
        reader, writer = await asyncio.open_connection(sock=connection, limit=RECEIVE_CHUNK)
        wire = Connection(token)
        while not wire.hello_seen:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise LaunchError("Timed out waiting for the host's hello")
            try:
                data = await asyncio.wait_for(reader.read(RECEIVE_CHUNK), remaining)
            except asyncio.TimeoutError:
                continue
            if not data:
                raise LaunchError("The host hung up before its hello")
            try:
                wire.feed(data)
            except ProtocolError as error:
                raise LaunchError(str(error)) from None
        return AsyncHost(process, reader, writer, wire, request_timeout)
    except BaseException:
        if writer is not None:
            writer.close()
        process.abandon()
        raise
    finally:
        listener.close()


async def _accept(loop: asyncio.AbstractEventLoop, process: _process.HostProcess, listener: socket.socket,
                  deadline: float) -> socket.socket:
    while True:
        try:
            connection, _ = await asyncio.wait_for(loop.sock_accept(listener), process.accept_slice(deadline))
            return connection
        except asyncio.TimeoutError:
            continue


__all__ = ["AsyncHost", "HostExited", "launch"]
