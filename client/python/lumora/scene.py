"""Builders for the scene language: one function per draw-command kind.

Each returns the plain JSON list the host reads (kind first, then the items
in the protocol's order), so lists built here and lists written by hand mix
freely:

    from lumora import scene
    commands = [
        scene.begin("#101820"),
        scene.rect([8, 8, 200, 40], fill="#2a3a4a", radius=6),
        scene.text("Hello", 16, 16, "#ffffff", 16),
    ]

Colours are strings: "#rgb", "#rgba", "#rrggbb" or "#rrggbbaa" (the "#" is
optional). Positions and sizes are logical units; a terminal cell is 8 x 16.
Which kinds each backend accepts: "sprite" and "animated_rect" only the
window, "icon" only the terminal; every other kind both.
"""

from __future__ import annotations

from typing import Any, Dict, List, Literal, Optional, Sequence, TypedDict, cast

Rect = Sequence[float]
Point = Sequence[float]
Command = List[Any]

# Bounds that cover every drawable position; the host only checks a
# segment's bounds today, and the window derives the area from the commands.
WHOLE_SCENE: List[float] = [0, 0, 1000000, 1000000]


class Style(TypedDict, total=False):
    """The style object of "styled_rect" and "marker". Every member is
    optional; colours may be "" for none."""

    fill: str
    fill_end: str
    foreground: str
    border: str
    border_end: str
    radius: float
    border_width: float
    gradient_axis: Literal["vertical", "horizontal"]
    bevel: Literal["none", "raised", "sunken"]
    bevel_width: float
    bevel_light: str
    bevel_dark: str
    highlight: str
    inner_border: str
    glow: str
    glow_width: float
    pattern: Literal["none", "scanlines", "grid"]
    pattern_color: str
    pattern_spacing: float
    shadow: str
    shadow_blur: float
    shadow_x: float
    shadow_y: float
    font_family: Literal["ui", "mono"]
    font_size: float
    padding: float


STYLE_MEMBERS = frozenset(Style.__annotations__)


def style(**members: Any) -> Style:
    """A style from keyword members, refusing names the host does not know
    (which would reject the whole list). None leaves a member out."""
    unknown = sorted(set(members) - STYLE_MEMBERS)
    if unknown:
        raise TypeError(f"Unknown style member: {', '.join(unknown)}")
    given = {name: value for name, value in members.items() if value is not None}
    return cast(Style, given)


# The animation object of "animated_rect" ("from" is a Python keyword, hence
# the functional form).
Animation = TypedDict("Animation", {
    "property": Literal["x", "y", "opacity"],
    "from": float,
    "to": float,
    "duration": float,
    "loop": bool,
    "yoyo": bool,
}, total=False)


def animation(property: Literal["x", "y", "opacity"], start: float, end: float, duration: float,
              loop: Optional[bool] = None, yoyo: Optional[bool] = None) -> Animation:
    """Animates "x", "y" (offsets in logical units) or "opacity" (0 to 1)
    from `start` to `end` over `duration` seconds."""
    value: Animation = {"property": property, "from": start, "to": end, "duration": duration}
    if loop is not None:
        value["loop"] = loop
    if yoyo is not None:
        value["yoyo"] = yoyo
    return value


def _rect(rect: Rect) -> List[float]:
    return list(rect)


def _optional_rect(rect: Optional[Rect]) -> Optional[List[float]]:
    return None if rect is None else list(rect)


def _points(points: Sequence[Point]) -> List[List[float]]:
    return [list(point) for point in points]


def begin(background: str) -> Command:
    """Clears the surface to `background` and removes any clip; committed lists only."""
    return ["begin", background]


def clip(rect: Optional[Rect] = None) -> Command:
    """Clips what follows to `rect`; None removes the clip."""
    return ["clip", _optional_rect(rect)]


def rect(rect: Rect, fill: Optional[str] = None, radius: float = 0, border: Optional[str] = None,
         border_width: float = 0) -> Command:
    """A rectangle, filled and/or bordered (the border drawn inside). No
    colour is written "", which both backends read as none (the terminal
    refuses null)."""
    return ["rect", _rect(rect), fill or "", radius, border or "", border_width]


def text(text: str, x: float, y: float, color: str, size: float, mono: bool = False) -> Command:
    """Text with its first line's top-left corner at (x, y); "\\n" starts a new line."""
    return ["text", text, x, y, color, size, mono]


def line(x1: float, y1: float, x2: float, y2: float, color: str, width: float = 1) -> Command:
    return ["line", x1, y1, x2, y2, color, width]


def lines(points: Sequence[Point], color: str, width: float = 1) -> Command:
    """A polyline through `points` ([x, y] each)."""
    return ["lines", _points(points), color, width]


def segments(points: Sequence[Point], color: str, width: float = 1) -> Command:
    """Independent lines between points 0-1, 2-3, ... (an even number of points)."""
    return ["segments", _points(points), color, width]


def image(source: str, rect: Rect, tint: str = "#ffffff", fit: str = "stretch") -> Command:
    """A PNG (a file path or a "data:image/png;base64," URI) drawn into
    `rect`; fit is "stretch", "contain" or "cover"."""
    return ["image", source, _rect(rect), tint, fit]


def image_nine(source: str, rect: Rect, insets: Sequence[float], tint: str = "#ffffff") -> Command:
    """Nine-slice drawing; `insets` are [left, top, right, bottom] in image pixels."""
    return ["image_nine", source, _rect(rect), list(insets), tint]


def gradient_rect(rect: Rect, start: str, end: str, axis: str = "vertical", radius: float = 0,
                  border_width: float = 0) -> Command:
    """A linear gradient ("vertical": top to bottom; "horizontal": left to
    right); with border_width above 0 only a ring of that width."""
    return ["gradient_rect", _rect(rect), start, end, axis, radius, border_width]


def styled_rect(rect: Rect, style: Style, effect_clip: Optional[Rect] = None) -> Command:
    """A layered rectangle (see `Style`); `effect_clip` limits shadow and glow."""
    command: Command = ["styled_rect", _rect(rect), dict(style)]
    if effect_clip is not None:
        command.append(_rect(effect_clip))
    return command


def marker(rect: Rect, style: Style, shape: str = "square", checked: bool = False,
           effect_clip: Optional[Rect] = None) -> Command:
    """A check box ("square") or radio button ("circle"); the mark in the
    style's "foreground" colour."""
    command: Command = ["marker", _rect(rect), dict(style), shape, checked]
    if effect_clip is not None:
        command.append(_rect(effect_clip))
    return command


def caret(x: float, y: float, height: float, color: str) -> Command:
    """A text cursor, 1 unit wide, from (x, y) down `height` units."""
    return ["caret", x, y, height, color]


def focus_ring(rect: Rect, color: str, radius: float = 0) -> Command:
    return ["focus_ring", _rect(rect), color, radius]


def sprite(source: str, rect: Rect, frame_width: int, frame_height: int, frame_count: int,
           fps: float, loop: bool = True, tint: str = "#ffffff") -> Command:
    """One frame of a sprite sheet chosen by elapsed time (window only)."""
    return ["sprite", source, _rect(rect), frame_width, frame_height, frame_count, fps, loop, tint]


def animated_rect(rect: Rect, fill: Optional[str] = None, radius: float = 0, border: Optional[str] = None,
                  border_width: float = 0, *, animation: Animation) -> Command:
    """A "rect" whose x, y or opacity moves (window only); see `animation`."""
    return ["animated_rect", _rect(rect), fill or "", radius, border or "", border_width, dict(animation)]


def icon(name: str, x: float, y: float, size: float, color: str) -> Command:
    """A named symbol such as "check" or "arrow_right" (terminal only)."""
    return ["icon", name, x, y, size, color]


def segment(id: str, commands: Sequence[Command], bounds: Optional[Rect] = None) -> Dict[str, Any]:
    """An entry of patch(upsert=[...]): a named segment and its list (no
    "begin" inside). `bounds` default to the whole scene."""
    return {"id": id, "bounds": WHOLE_SCENE[:] if bounds is None else _rect(bounds),
            "commands": list(commands)}
