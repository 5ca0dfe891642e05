"""Drive the Lumora render host from Python.

    import lumora
    from lumora import scene

    with lumora.launch() as host:
        host.open("terminal", headless=True, columns=40, rows=10)
        host.frame([scene.begin("#102030"), scene.text("Hello", 8, 16, "#ffffff", 16)])
        print(host.snapshot()["rows_text"][1])

`lumora.aio` has the same client for asyncio. Standard library only.
"""

from . import scene
from ._wire import MAX_BODY
from .errors import (BodyTooLarge, HostError, HostExited, LaunchError, LumoraError, ProtocolError,
                     RequestTimeout)
from .host import Host, launch

__all__ = [
    "BodyTooLarge",
    "Host",
    "HostError",
    "HostExited",
    "LaunchError",
    "LumoraError",
    "MAX_BODY",
    "ProtocolError",
    "RequestTimeout",
    "launch",
    "scene",
]

__version__ = "0.1.0"
