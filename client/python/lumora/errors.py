"""The exceptions the package raises; every one derives from `LumoraError`."""

from __future__ import annotations

from typing import Any, Dict, Optional


class LumoraError(Exception):
    """Base class of every error raised by this package."""


class LaunchError(LumoraError):
    """The host could not be found, started, or did not connect and greet in time."""


class HostError(LumoraError):
    """The host answered a command with {"ok":false}.

    `message` is the host's error text, byte for byte; `command` the command
    that was refused.
    """

    def __init__(self, message: str, command: Any) -> None:
        super().__init__(message)
        self.message = message
        self.command = command


class HostExited(LumoraError):
    """The host has ended: no command can be answered any more.

    `notice` is the final notice ("reason", "error" where the host gave one,
    "stats"), or the one this package wrote when the connection ended without
    one (reason "disconnected" or "protocol_error", no "stats").
    """

    def __init__(self, notice: Dict[str, Any]) -> None:
        reason = notice.get("reason", "")
        error = notice.get("error")
        super().__init__(f"The host has ended ({reason}{': ' + error if error else ''})")
        self.notice = notice


class ProtocolError(LumoraError):
    """The host sent a frame this package cannot read; the connection is closed."""


class BodyTooLarge(LumoraError, ValueError):
    """A command encodes to more than 16 MiB; it was refused before sending."""


class RequestTimeout(LumoraError, TimeoutError):
    """No reply arrived in time. A late reply to the same command is discarded."""

    def __init__(self, message: str, command: Optional[Any] = None) -> None:
        super().__init__(message)
        self.command = command
