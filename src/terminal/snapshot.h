// The terminal's "snapshot": the composed frame cell by cell, as JSON, for
// controllers and tests to read what the terminal shows.
#pragma once

#include <cstdint>

#include "json/json.h"
#include "scene/error_text.h"
#include "scene/limits.h"
#include "terminal/drawing/cell.h"

namespace lumora::terminal {

// A snapshot reply must fit one reply frame.
inline constexpr std::uint64_t kMaxSnapshotBytes = scene::kMaxBody;

// An upper estimate of the printed snapshot of `frame`: 94 bytes per cell,
// 3 per row, 128 overall, plus each glyph byte as printed in a JSON string
// (twice: in its cell and in its row text). Stops counting, returning a value
// above `limit`, as soon as the estimate exceeds `limit`.
std::uint64_t estimate_snapshot_bytes(const CellFrame& frame, std::uint64_t limit);

// {"columns","rows","cells":[...],"rows_text":[...]}, as one raw item that
// holds the printed object (replies print it as it is): `columns` and `rows`
// are the terminal's grid size; the arrays come from `frame` (empty without
// one). Null with the message in `error` when the estimate exceeds
// kMaxSnapshotBytes or memory runs out.
json::JsonPtr make_snapshot(const CellFrame* frame, std::int32_t columns, std::int32_t rows, scene::ErrorText error);

}  // namespace lumora::terminal
