// The grapheme reader: cuts UTF-8 text into extended grapheme clusters, the
// units that take one or two terminal cells, and tells how wide each is.
//
// Control and format characters other than tab, line feed, ZWNJ and ZWJ are
// dropped (a terminal would act on them), ill-formed UTF-8 shows as U+FFFD,
// and a cluster keeps at most 64 code points, so that an endless run of
// combining marks costs no memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/unicode_properties.h"

namespace lumora::text {

// Code points stored in one cluster; later ones are consumed unstored.
inline constexpr std::size_t kMaxClusterCodePoints = 64;
// 64 code points of at most 4 bytes, the 3-byte "◌" prefix and the NUL.
inline constexpr std::size_t kClusterBufferSize = 264;

struct Cluster {
  // NUL-terminated UTF-8 of the cluster starts at bytes + offset.
  char bytes[kClusterBufferSize];
  std::size_t offset = 0;
  std::size_t length = 0;
  int width = 0;      // cells: 0 (tab, line feed), 1 or 2
  char control = 0;   // '\t' or '\n' for a lone tab or line feed, else 0

  const char* c_str() const { return bytes + offset; }
  std::string_view text() const { return {bytes + offset, length}; }
};

class GraphemeReader {
 public:
  // Reads `text` up to its end; a NUL byte is dropped like any control.
  explicit GraphemeReader(std::string_view text) : text_(text) {}

  // The next cluster into `out`; false at the end of the text.
  bool next(Cluster& out);

  // Cells of the next cluster without storing its bytes; -1 at the end.
  // Tab and line feed give 0 and are reported in `control`.
  int next_width(char& control);

  // Boundary rule state, carried over code points (not clusters); public
  // only so that the reader's helpers can take it.
  struct RuleState {
    BreakClass previous_class = BreakClass::kOther;
    bool conjunct_consonant = false;  // Consonant (Extend | Linker)*
    bool conjunct_linker = false;     //   ... with a Linker among them
    bool pictographic = false;        // Extended_Pictographic Extend*
    bool pictographic_zwj = false;    //   ... ZWJ
    bool regional_odd = false;        // an odd run of Regional_Indicators ends here
  };

 private:
  char take_plain_ascii();
  template <bool kStore>
  bool read_cluster(Cluster* out, int& width, char& control);

  std::string_view text_;
  std::size_t position_ = 0;
  // The look-ahead: the first code point of the next cluster, with its
  // properties and the UTF-8 it shows as (U+FFFD for an ill-formed sequence).
  bool has_pending_ = false;
  char32_t pending_code_point_ = 0;
  const CharacterProperties* pending_properties_ = nullptr;
  const char* pending_bytes_ = nullptr;
  std::size_t pending_size_ = 0;

  RuleState state_;
};

}  // namespace lumora::text
