// The ANSI frame encoder: turns a composed CellFrame into the escape
// sequences that make the terminal show it, rewriting only what changed since
// the frame the terminal shows now.
#pragma once

#include <cstdint>

#include "terminal/vt/byte_buffer.h"
#include "terminal/drawing/cell.h"
#include "terminal/vt/colour_mode.h"

namespace lumora::terminal {

// Sizes of the two palettes the indexed colour modes map to.
inline constexpr int kPalette256 = 256;
inline constexpr int kPalette16 = 16;

// The palette entry (0-15 base colours, 16-231 the 6x6x6 cube, 232-255 the
// grey ramp) nearest to the colour by squared distance; the lower index wins
// ties. `palette_size` is kPalette256 or kPalette16. Results are remembered in
// one process-wide direct-mapped cache per palette (main thread only).
int nearest_palette_index(int red, int green, int blue, int palette_size);

// The red, green, blue of palette entry `index` (0-255) as 0xRRGGBB.
std::uint32_t palette_colour(int index);

// Replaces the content of `out` with the bytes that turn the terminal from
// showing `previous` into showing `current` in the colour mode `mode`.
// `previous` is null when the terminal's content is unknown (or a full
// repaint is wanted); a previous frame of another size counts as unknown.
// When `previous` is `current` itself the output is empty. Everything else is
// wrapped in one synchronized-update pair. Returns false, with out.failed()
// set, when `current` is null or an allocation failed.
//
// A cluster whose width terminals count differently (more than one code
// point, or a code point with the disputed-width property) is written so that
// no other cell depends on the terminal's count: its cells are erased first,
// the cursor moves absolutely to the cell after it, and the cells its output
// may reach are rewritten with it. Frames without such clusters are encoded
// exactly as before: one cursor move per run of changed cells.
bool encode_frame(const CellFrame* current, const CellFrame* previous, ColourMode mode, ByteBuffer& out);

// Whether terminals may count the width of this cluster (a cell's glyph)
// differently from us: more than one code point, or one with the
// disputed-width property.
bool cluster_width_disputed(const char* glyph);

}  // namespace lumora::terminal
