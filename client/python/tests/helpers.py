"""What the test modules share: where the host is, and launches with
time-outs generous enough for a host built with sanitizers."""

from __future__ import annotations

import os
import sys
import textwrap
from pathlib import Path

HERE = Path(__file__).resolve().parent
PACKAGE_ROOT = HERE.parent
if str(PACKAGE_ROOT) not in sys.path:
    sys.path.insert(0, str(PACKAGE_ROOT))

import lumora  # noqa: E402

SOURCE_ROOT = PACKAGE_ROOT.parent.parent
HOST = os.environ.get("LUMORA_HOST") or str(SOURCE_ROOT / "build" / "lumora-host")
# The offscreen video driver and the deterministic software renderer: windows
# open without a display.
WINDOW_ENV = {"SDL_VIDEODRIVER": "offscreen", "SDL_RENDER_DRIVER": "software"}
LAUNCH_TIMEOUT = 30.0
REQUEST_TIMEOUT = 60.0

HEADLESS = {"headless": True, "columns": 40, "rows": 6}


def launch(**options) -> "lumora.Host":
    options.setdefault("host_path", HOST)
    options.setdefault("timeout", LAUNCH_TIMEOUT)
    options.setdefault("request_timeout", REQUEST_TIMEOUT)
    return lumora.launch(**options)


def launch_terminal(**members) -> "lumora.Host":
    host = launch()
    host.open("terminal", **{**HEADLESS, **members})
    return host


def launch_window(**members) -> "lumora.Host":
    host = launch(env=WINDOW_ENV)
    host.open("window", **{"hidden": True, "width": 160, "height": 100, "scale": 1, "vsync": False, **members})
    return host


def pixel(png: bytes, x: int, y: int) -> tuple:
    """The RGBA of one pixel of an 8-bit RGBA or RGB, non-interlaced PNG."""
    import struct
    import zlib

    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    offset, chunks, header = 8, [], None
    while offset < len(png):
        length, kind = struct.unpack(">I4s", png[offset:offset + 8])
        data = png[offset + 8:offset + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", data)
        elif kind == b"IDAT":
            chunks.append(data)
        offset += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and interlace == 0 and colour in (2, 6), header
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(b"".join(chunks))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for row in range(height):
        kind = raw[row * (stride + 1)]
        line = bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                estimate = left + up - corner
                pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    values = tuple(rows[y][x * channels:(x + 1) * channels])
    return values if channels == 4 else values + (255,)


def png_data_uri(width: int, height: int, rgba: tuple) -> str:
    """A data URI of a PNG of one colour, for image commands."""
    import base64
    import struct
    import zlib

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\x00" + bytes(rgba) * width for _ in range(height))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return "data:image/png;base64," + base64.b64encode(png).decode("ascii")


# A stand-in host that greets, takes one command, sends an event and then a
# reply that is not a reply ("ok" is not a boolean), and waits for the hang-up.
FAKE_HOST = textwrap.dedent("""\
    import socket, struct, sys
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
    connection = socket.create_connection(("127.0.0.1", int(args["--port"])))
    def send(kind, frame_id, body):
        connection.sendall(b"RZV1" + struct.pack("<III", kind, frame_id, len(body)) + body)
    send(1, 0, args["--token"].encode())
    header = connection.recv(16, socket.MSG_WAITALL)
    frame_id, length = struct.unpack("<II", header[8:16])
    connection.recv(length, socket.MSG_WAITALL)
    send(101, 0, b'{"kind":"blur"}')
    send(200, frame_id, b'{"ok":"yes"}')
    connection.recv(1)  # until the controller hangs up
""")


def fake_host(folder: str) -> str:
    """An executable in `folder` that runs FAKE_HOST."""
    import stat

    script = Path(folder) / "fake_host.py"
    script.write_text(FAKE_HOST)
    launcher = Path(folder) / "fake-host"
    launcher.write_text(f'#!/bin/sh\nexec "{sys.executable}" "{script}" "$@"\n')
    launcher.chmod(launcher.stat().st_mode | stat.S_IXUSR)
    return str(launcher)
