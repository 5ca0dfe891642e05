"""The host's commands as methods, written once for both clients.

Each method builds one command object and hands it to `request`. The
synchronous `Host` returns the reply's result; `AsyncHost.request` is a
coroutine function, so there the same methods return awaitables.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Dict, Generic, Iterable, List, Optional, Sequence, TypeVar, Union

if TYPE_CHECKING:  # pragma: no cover
    from ._process import HostProcess
    from ._wire import Connection

R = TypeVar("R")

Command = Dict[str, Any]


def _with(command: Command, **members: Any) -> Command:
    """`command` plus the members that were given (None means: leave it out)."""
    for name, value in members.items():
        if value is not None:
            command[name] = value
    return command


class Commands(Generic[R]):
    """Thin wrappers over `request`, one per host command and operation."""

    def request(self, command: Command) -> R:  # pragma: no cover - provided by the clients
        raise NotImplementedError

    # Host commands.

    def open(self, backend: str = "window", **members: Any) -> R:
        """Opens the backend: "terminal" or "window" (the host's default).
        Members as in the command reference, e.g. headless=True, columns=80,
        rows=24 for a terminal kept in memory, or hidden=True, width=320,
        height=200, scale=1 for a window. Returns the backend's info object."""
        return self.request({"op": "open", "backend": backend, **members})

    def frame(self, commands: Sequence[Any], transition_seconds: Optional[float] = None) -> R:
        """Commits a draw-command list (see `lumora.scene`) as the whole scene."""
        return self.request(_with({"op": "frame", "commands": commands}, transition_seconds=transition_seconds))

    def patch(self, upsert: Optional[Iterable[Any]] = None, remove: Optional[Iterable[str]] = None,
              order: Optional[Iterable[str]] = None, background: Optional[str] = None,
              transition_seconds: Optional[float] = None) -> R:
        """Changes a segmented scene: `upsert` entries from `lumora.scene.segment`,
        ids to `remove`, the complete new `order`, the `background` colour."""
        return self.request(_with({"op": "patch"}, upsert=_list(upsert), remove=_list(remove), order=_list(order),
                                  background=background, transition_seconds=transition_seconds))

    def present(self, scheduled: bool = False) -> R:
        """Draws and shows the retained scene now, or with scheduled=True in
        the host's next due loop turn. Commits present on their own."""
        return self.request({"op": "present", "scheduled": True} if scheduled else {"op": "present"})

    def stats(self, reset: bool = False) -> R:
        """The statistics object; with reset=True the counters start again
        (the values returned are those from before the reset)."""
        return self.request({"op": "stats", "reset": True} if reset else {"op": "stats"})

    # Operations of both backends.

    def info(self) -> R:
        """The backend's info object."""
        return self.request({"op": "info"})

    def measure(self, text: str, size: float = 16, mono: bool = False) -> R:
        """[width, height] of `text` in logical units (the terminal ignores size and mono)."""
        return self.request({"op": "measure", "text": text, "size": size, "mono": mono})

    def measure_many(self, texts: Iterable[str], size: float = 16, mono: bool = False) -> R:
        """One [width, height] per text, in order."""
        return self.request({"op": "measure_many", "texts": list(texts), "size": size, "mono": mono})

    def capture(self, path: str) -> R:
        """Writes the current frame to `path`: ANSI text from the terminal
        (result None), PNG (a path ending in .png) or BMP from the window
        (result {"path", "width", "height"})."""
        return self.request({"op": "capture", "path": path})

    def configure(self, **members: Any) -> R:
        """Changes settings: the terminal's color, columns and rows; the
        window's vsync, scale, reduce_motion, cache_scene, transition_ms; the
        host's continuous, redraw_interval and fps_limit."""
        return self.request({"op": "configure", **members})

    def set_size(self, width: Optional[float] = None, height: Optional[float] = None) -> R:
        """Resizes the window to width x height logical units; for a terminal,
        takes the console's current size (a headless grid is sized with
        configure(columns=..., rows=...)). Returns the info object."""
        return self.request(_with({"op": "set_size"}, width=width, height=height))

    def set_title(self, title: str) -> R:
        return self.request({"op": "set_title", "title": title})

    def reload_image(self, source: str) -> R:
        """Forgets a cached image so that the next present loads it again."""
        return self.request({"op": "reload_image", "source": source})

    # Terminal operations.

    def snapshot(self) -> R:
        """The terminal's current frame: "columns", "rows", "cells", "rows_text"."""
        return self.request({"op": "snapshot"})

    def ansi(self, diff: bool = True) -> R:
        """The current frame as ANSI text, against the frame last written
        (diff=True) or in full."""
        return self.request({"op": "ansi", "diff": diff})

    def feed_input(self, data: Union[str, bytes], flush: bool = False) -> R:
        """Hands input to the terminal's decoder as if typed: text as it is,
        bytes as hexadecimal. flush=True ends a pending escape sequence."""
        if isinstance(data, (bytes, bytearray, memoryview)):
            command: Command = {"op": "feed_input", "hex": bytes(data).hex()}
        else:
            command = {"op": "feed_input", "data": data}
        if flush:
            command["flush"] = True
        return self.request(command)

    # Window operations.

    def text_input(self, rect: Optional[Sequence[float]] = None) -> R:
        """Starts text input near `rect` ([x, y, width, height]), or stops it."""
        return self.request({"op": "text_input", "rect": None if rect is None else list(rect)})

    def clipboard_read(self) -> R:
        return self.request({"op": "clipboard_read"})

    def clipboard_write(self, text: str) -> R:
        return self.request({"op": "clipboard_write", "text": text})


class HostBase(Commands[R]):
    """What both clients tell about the host process and its connection."""

    _process: "HostProcess"
    _wire: "Connection"
    _exit_code: Optional[int] = None

    #: Seconds a request waits for its reply when given no timeout; None waits for ever.
    request_timeout: Optional[float]

    @property
    def pid(self) -> int:
        """The host's process id."""
        return self._process.pid

    @property
    def final_notice(self) -> Optional[Dict[str, Any]]:
        """None while the host runs; then its final notice ("reason", "error",
        "stats"), or the package's own ({"reason": "disconnected"} or
        {"reason": "protocol_error"}, with "error") when the connection ended
        without one."""
        return self._wire.final_notice

    @property
    def ended(self) -> bool:
        """True once the final notice arrived or the connection ended."""
        return self._wire.ended

    @property
    def exit_code(self) -> Optional[int]:
        """The host's exit code once it exited (negative: the signal), else None."""
        if self._exit_code is None:
            self._exit_code = self._process.poll()
        return self._exit_code

    def standard_error(self) -> str:
        """What the host wrote to standard error (complete once it exited)."""
        return self._process.standard_error()

    def kill(self) -> None:
        """Ends the host at once (SIGKILL); its end shows up as a lost connection."""
        self._process.kill()


def _list(values: Optional[Iterable[Any]]) -> Optional[List[Any]]:
    return None if values is None else list(values)
