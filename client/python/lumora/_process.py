"""Finding, starting and reaping the host process; shared by both clients."""

from __future__ import annotations

import os
import secrets
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path
from typing import IO, List, Mapping, Optional, Sequence, Tuple

from .errors import LaunchError

HOST_NAME = "lumora-host"
# The host ends within 2 s after a final notice or a hang-up; past this a
# closing controller stops waiting and kills it.
DEFAULT_GRACE_SECONDS = 5.0
# How often the accept wait looks whether the host already died.
ACCEPT_SLICE_SECONDS = 0.05
# The host writes one line of its own; a window system may add a few. Only
# this much of it is read back into messages.
MAX_STANDARD_ERROR = 1024 * 1024


def _build_tree_candidates() -> List[Path]:
    # client/python/lumora/_process.py -> the source tree's root, when the
    # package is used from a checkout rather than installed.
    package_root = Path(__file__).resolve().parent
    candidates = []
    if len(package_root.parents) >= 3:
        candidates.append(package_root.parents[2] / "build" / HOST_NAME)
    candidates.append(Path.cwd() / "build" / HOST_NAME)
    unique: List[Path] = []
    for candidate in candidates:
        if candidate not in unique:
            unique.append(candidate)
    return unique


def _runnable(path: Path) -> bool:
    return path.is_file() and os.access(path, os.X_OK)


def find_host(host_path: Optional[str] = None) -> str:
    """The host binary: `host_path`, else $LUMORA_HOST, else lumora-host on
    PATH, else the build tree. A path that was named but is not there is an
    error rather than a reason to look elsewhere."""
    if host_path is not None:
        if _runnable(Path(host_path)):
            return str(host_path)
        raise LaunchError(f"lumora-host not found: host_path {host_path!r} is not an executable file")
    from_environment = os.environ.get("LUMORA_HOST")
    if from_environment:
        if _runnable(Path(from_environment)):
            return from_environment
        raise LaunchError(f"lumora-host not found: LUMORA_HOST={from_environment!r} is not an executable file")
    on_path = shutil.which(HOST_NAME)
    if on_path:
        return on_path
    candidates = _build_tree_candidates()
    for candidate in candidates:
        if _runnable(candidate):
            return str(candidate)
    looked = ", ".join(str(candidate) for candidate in candidates)
    raise LaunchError(
        "lumora-host not found; looked at: the host_path argument (not given), "
        f"LUMORA_HOST (not set), {HOST_NAME} on PATH (none), the build tree ({looked})"
    )


def make_token() -> str:
    """A fresh 64-digit lower-case hexadecimal token."""
    return secrets.token_hex(32)


def listen_loopback() -> socket.socket:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
    except OSError as error:
        listener.close()
        raise LaunchError(f"Could not listen on 127.0.0.1: {error}") from None
    return listener


def tune_connection(connection: socket.socket) -> None:
    # Commands are small and each waits for its reply: send them at once.
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


class HostProcess:
    """The started host: reaped on close, killed after a grace period."""

    def __init__(self, path: str, port: int, token: str, args: Sequence[str],
                 env: Optional[Mapping[str, Optional[str]]]) -> None:
        environment = dict(os.environ)
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = str(value)
        self._stderr: IO[bytes] = tempfile.TemporaryFile()
        command = [path, "--port", str(port), "--token", token, *[str(arg) for arg in args]]
        try:
            self.popen = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                                          stderr=self._stderr, close_fds=True)
        except OSError as error:
            self._stderr.close()
            raise LaunchError(f"Could not start {path}: {error}") from None

    @property
    def pid(self) -> int:
        return self.popen.pid

    def poll(self) -> Optional[int]:
        return self.popen.poll()

    def wait(self, timeout: float) -> Optional[int]:
        try:
            return self.popen.wait(timeout=max(0.0, timeout))
        except subprocess.TimeoutExpired:
            return None

    def kill(self) -> None:
        if self.popen.poll() is None:
            try:
                self.popen.send_signal(signal.SIGKILL)
            except OSError:
                pass

    def reap(self, grace_seconds: float) -> int:
        """Waits up to `grace_seconds` for the exit, then kills; the exit code
        (negative: the signal that ended it)."""
        code = self.wait(grace_seconds)
        if code is None:
            self.kill()
            code = self.popen.wait()
        return code

    def standard_error(self) -> str:
        """What the host wrote to standard error so far."""
        if self._stderr.closed:
            return ""
        self._stderr.seek(0)
        return self._stderr.read(MAX_STANDARD_ERROR).decode("utf-8", "replace")

    def exit_message(self, code: int) -> str:
        message = f"The host exited with code {code} before connecting"
        # Standard error may trail the exit by a moment.
        deadline = time.monotonic() + 0.2
        text = self.standard_error().strip()
        while not text and time.monotonic() < deadline:
            time.sleep(0.02)
            text = self.standard_error().strip()
        return f"{message}: {text}" if text else message

    def release(self) -> None:
        self._stderr.close()

    def abandon(self) -> None:
        """Ends a host that failed to start properly, at once."""
        self.kill()
        self.wait(DEFAULT_GRACE_SECONDS)
        self.release()

    def accept_slice(self, deadline: float) -> float:
        """How long the next wait for the host's connection may last. Short
        slices, so that a host that died at start-up is reported at once
        rather than after the whole time-out."""
        code = self.poll()
        if code is not None:
            raise LaunchError(self.exit_message(code))
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise LaunchError("Timed out waiting for the host to connect")
        return min(remaining, ACCEPT_SLICE_SECONDS)


def start(host_path: Optional[str], env: Optional[Mapping[str, Optional[str]]],
          args: Sequence[str]) -> Tuple[HostProcess, socket.socket, str]:
    """Finds the host, listens, and starts it: (process, listener, token)."""
    path = find_host(host_path)
    token = make_token()
    listener = listen_loopback()
    try:
        process = HostProcess(path, listener.getsockname()[1], token, args, env)
    except BaseException:
        listener.close()
        raise
    return process, listener, token
