#include "text/grapheme.h"

#include <array>
#include <cstring>

#include "text/utf8.h"

namespace lumora::text {

namespace {

// The UTF-8 of U+FFFD, written for every ill-formed sequence.
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";
// U+25CC DOTTED CIRCLE, shown in front of a cluster that has nothing visible
// of its own (a combining mark without a base, say).
constexpr char kDottedCircle[] = "\xE2\x97\x8C";
constexpr std::size_t kPrefixBytes = sizeof(kDottedCircle) - 1;
static_assert(kPrefixBytes + kMaxClusterCodePoints * kMaxUtf8Length + 1 <= kClusterBufferSize);

constexpr char32_t kTab = 0x09;
constexpr char32_t kLineFeed = 0x0A;
constexpr char32_t kZeroWidthNonJoiner = 0x200C;
constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kEmojiPresentationSelector = 0xFE0F;
constexpr char32_t kCombiningKeycap = 0x20E3;

// Ignorable code points are dropped, except the two controls that text
// layout acts on and the two joiners that shape clusters.
bool is_dropped(char32_t code_point, const CharacterProperties& properties) {
  return (properties.flags & kPropertyIgnorable) != 0 && code_point != kTab && code_point != kLineFeed &&
         code_point != kZeroWidthNonJoiner && code_point != kZeroWidthJoiner;
}

// A visible character that starts no sequence and that no rule joins to its
// neighbours by itself: after it, a boundary depends only on what follows.
bool is_plain(const CharacterProperties& properties) {
  return (properties.flags & (kPropertyIgnorable | kPropertyZeroWidth | kPropertyPictographic)) == 0 &&
         properties.break_class == BreakClass::kOther && properties.conjunct_class == ConjunctClass::kNone;
}

// Classes that never start a cluster after a plain character.
bool joins_to_previous(BreakClass next) {
  return next == BreakClass::kExtend || next == BreakClass::kSpacingMark || next == BreakClass::kZWJ;
}

// Copies one character's 1 to 4 bytes into a cluster buffer (which always
// has 4 bytes of room). A fixed 4-byte copy, where the source has them,
// avoids a branch on the length; the bytes past `size` are overwritten or
// ignored.
void copy_utf8(char* destination, const char* source, std::size_t size, std::string_view text) {
  const bool in_text = source >= text.data() && source < text.data() + text.size();
  const std::size_t available = in_text ? static_cast<std::size_t>(text.data() + text.size() - source)
                                        : sizeof(kReplacementUtf8);
  if (available >= kMaxUtf8Length) {
    std::memcpy(destination, source, kMaxUtf8Length);
  } else {
    std::memcpy(destination, source, size);
  }
}

bool is_printable_ascii(char32_t code_point) { return code_point - 0x20u <= 0x7Eu - 0x20u; }

// U+2600..U+27BF or U+1F000..U+1FAFF, the blocks whose code points a ZWJ
// joins into one wide emoji.
bool in_pictographic_blocks(char32_t code_point) {
  return (code_point - 0x2600u <= 0x27BFu - 0x2600u) | (code_point - 0x1F000u <= 0x1FAFFu - 0x1F000u);
}

using RuleState = GraphemeReader::RuleState;

// What the rules up to "no break after Prepend" decide for a pair of break
// classes: the rules that depend on more than the pair (conjuncts, emoji
// sequences, flags) can only remove a boundary those rules left standing.
enum class PairRule : std::uint8_t { kJoin, kBreak, kBreakUnlessSequence };

constexpr std::size_t kBreakClassCount = 14;

constexpr PairRule pair_rule(BreakClass previous, BreakClass next) {
  using B = BreakClass;
  if (previous == B::kCR) return next == B::kLF ? PairRule::kJoin : PairRule::kBreak;
  if (previous == B::kControl || previous == B::kLF) return PairRule::kBreak;
  if (next == B::kCR || next == B::kControl || next == B::kLF) return PairRule::kBreak;
  if (previous == B::kL && (next == B::kL || next == B::kV || next == B::kLV || next == B::kLVT)) {
    return PairRule::kJoin;
  }
  if ((previous == B::kLV || previous == B::kV) && (next == B::kV || next == B::kT)) return PairRule::kJoin;
  if ((previous == B::kLVT || previous == B::kT) && next == B::kT) return PairRule::kJoin;
  if (next == B::kExtend || next == B::kSpacingMark || next == B::kZWJ) return PairRule::kJoin;
  if (previous == B::kPrepend) return PairRule::kJoin;
  return PairRule::kBreakUnlessSequence;
}

struct PairTable {
  PairRule rules[kBreakClassCount][kBreakClassCount];
};

constexpr PairTable make_pair_table() {
  PairTable table{};
  for (std::size_t previous = 0; previous < kBreakClassCount; ++previous) {
    for (std::size_t next = 0; next < kBreakClassCount; ++next) {
      table.rules[previous][next] = pair_rule(static_cast<BreakClass>(previous), static_cast<BreakClass>(next));
    }
  }
  return table;
}

constexpr PairTable kPairTable = make_pair_table();

// Whether a cluster boundary lies before a code point with `properties`.
// Written with bitwise operators so that mixed text costs no mispredicted
// branches; only the outcome branches.
[[gnu::always_inline]] inline bool is_boundary(const RuleState& state, const CharacterProperties& properties) {
  const PairRule rule =
      kPairTable.rules[static_cast<std::size_t>(state.previous_class)][static_cast<std::size_t>(properties.break_class)];
  // Consonant (Extend | Linker)* Linker (Extend | Linker)* × Consonant
  const bool conjunct = (properties.conjunct_class == ConjunctClass::kConsonant) & state.conjunct_consonant &
                        state.conjunct_linker;
  // Extended_Pictographic Extend* ZWJ × Extended_Pictographic
  const bool emoji = ((properties.flags & kPropertyPictographic) != 0) &
                     (state.previous_class == BreakClass::kZWJ) & state.pictographic_zwj;
  // An odd run of Regional_Indicators × Regional_Indicator
  const bool flag = (properties.break_class == BreakClass::kRegionalIndicator) &
                    (state.previous_class == BreakClass::kRegionalIndicator) & state.regional_odd;
  return rule == PairRule::kBreak || (rule == PairRule::kBreakUnlessSequence && !(conjunct | emoji | flag));
}

// Takes a code point with `properties` into the rule state.
[[gnu::always_inline]] inline void advance_state(RuleState& state, const CharacterProperties& properties) {
  const ConjunctClass conjunct = properties.conjunct_class;
  const bool consonant = conjunct == ConjunctClass::kConsonant;
  const bool linker = conjunct == ConjunctClass::kLinker;
  const bool conjunct_extend = conjunct == ConjunctClass::kExtend;
  state.conjunct_linker = (linker & state.conjunct_consonant) | (conjunct_extend & state.conjunct_linker);
  state.conjunct_consonant = consonant | ((linker | conjunct_extend) & state.conjunct_consonant);

  const bool pictographic = (properties.flags & kPropertyPictographic) != 0;
  const BreakClass break_class = properties.break_class;
  state.pictographic_zwj = (break_class == BreakClass::kZWJ) & !pictographic & state.pictographic;
  state.pictographic = pictographic | ((break_class == BreakClass::kExtend) & state.pictographic);

  state.regional_odd = (break_class == BreakClass::kRegionalIndicator) & !state.regional_odd;
  state.previous_class = break_class;
}

}  // namespace

template <bool kStore>
[[gnu::noinline]] bool GraphemeReader::read_cluster(Cluster* out, int& width, char& control) {
  std::size_t stored = 0;
  std::size_t length = 0;
  char32_t first_code_point = 0;
  bool emoji_presentation = false;  // U+FE0F or U+20E3
  bool joiner = false;
  bool pictographic_block = false;
  bool visible = false;
  bool wide = false;
  char* bytes = kStore ? out->bytes + kPrefixBytes : nullptr;
  const char* const text = text_.data();
  const std::size_t text_size = text_.size();

  // A plain character (one that no rule joins to what comes before or after
  // it) followed by a character that joins nothing to it is a cluster of its
  // own: CJK and most other scripts' letters. Printable ASCII between
  // printable ASCII never reaches this function: both callers take it first.
  if (has_pending_ && is_plain(*pending_properties_)) {
    const bool at_end = position_ >= text_size;
    std::size_t next_size = 0;
    char32_t next = 0;
    if (!at_end) {
      const auto lead = static_cast<unsigned char>(text[position_]);
      next_size = lead < 0x80 ? 1 : utf8_well_formed_length(text + position_, text_size - position_);
      next = next_size == 1 ? lead : next_size > 1 ? decode_well_formed_utf8(text + position_, next_size) : 0;
    }
    const CharacterProperties* next_properties = next_size != 0 ? &character_properties(next) : nullptr;
    if (at_end || (next_properties != nullptr && (next_properties->flags & kPropertyIgnorable) == 0 &&
                   !joins_to_previous(next_properties->break_class))) {
      const bool is_wide = (pending_properties_->flags & kPropertyWide) != 0;
      if constexpr (kStore) {
        copy_utf8(out->bytes + kPrefixBytes, pending_bytes_, pending_size_, text_);
        out->bytes[kPrefixBytes + pending_size_] = '\0';
        out->offset = kPrefixBytes;
        out->length = pending_size_;
        out->width = is_wide ? 2 : 1;
        out->control = 0;
      }
      width = is_wide ? 2 : 1;
      control = 0;
      state_ = RuleState{};
      if (at_end) {
        has_pending_ = false;
      } else {
        pending_code_point_ = next;
        pending_properties_ = next_properties;
        pending_bytes_ = text + position_;
        pending_size_ = next_size;
        position_ += next_size;
      }
      return true;
    }
  }

  // The current code point lives in scalar locals (kept in registers); it
  // goes to the pending members only when it starts the next cluster.
  RuleState state = state_;
  char32_t code_point = 0;
  const CharacterProperties* properties = nullptr;
  const char* source = nullptr;
  std::size_t size = 0;
  for (;;) {
    if (has_pending_) {
      code_point = pending_code_point_;
      properties = pending_properties_;
      source = pending_bytes_;
      size = pending_size_;
      has_pending_ = false;
    } else {
      if (position_ >= text_size) break;
      const auto lead = static_cast<unsigned char>(text[position_]);
      if (lead < 0x80) {
        code_point = lead;
        source = text + position_;
        size = 1;
        position_ += 1;
      } else if (const std::size_t length = utf8_well_formed_length(text + position_, text_size - position_);
                 length != 0) {
        code_point = decode_well_formed_utf8(text + position_, length);
        source = text + position_;
        size = length;
        position_ += length;
      } else {
        const Utf8Char decoded = decode_utf8_final(std::string_view(text + position_, text_size - position_));
        code_point = decoded.code_point;
        if (decoded.status == Utf8Status::valid) {
          source = text + position_;
          size = decoded.length;
        } else {
          source = kReplacementUtf8;
          size = sizeof(kReplacementUtf8) - 1;
        }
        position_ += decoded.length;
      }
      properties = &character_properties(code_point);
      if (is_dropped(code_point, *properties)) continue;
    }
    if (stored > 0 && is_boundary(state, *properties)) {
      pending_code_point_ = code_point;
      pending_properties_ = properties;
      pending_bytes_ = source;
      pending_size_ = size;
      has_pending_ = true;
      break;
    }
    if (stored < kMaxClusterCodePoints) {
      if (stored == 0) first_code_point = code_point;
      ++stored;
      if constexpr (kStore) {
        copy_utf8(bytes + length, source, size, text_);
      }
      length += size;
      // Width notes, accumulated without branches.
      emoji_presentation |= (code_point == kEmojiPresentationSelector) | (code_point == kCombiningKeycap);
      joiner |= code_point == kZeroWidthJoiner;
      pictographic_block |= in_pictographic_blocks(code_point);
      const std::uint8_t flags = properties->flags;
      const bool shows = (flags & kPropertyZeroWidth) == 0;
      visible |= shows;
      wide |= shows & (((flags & kPropertyWide) != 0) | (properties->break_class == BreakClass::kRegionalIndicator));
    }
    advance_state(state, *properties);
  }
  state_ = state;
  if (stored == 0) return false;

  // A lone tab or line feed is visible (a control is not zero width), so the
  // three cases do not overlap. Selected arithmetically: the kind of cluster
  // changes from one to the next in mixed text.
  const bool lone_control = (stored == 1) & ((first_code_point == kTab) | (first_code_point == kLineFeed));
  const int shown_width = 1 + static_cast<int>(wide | emoji_presentation | (joiner & pictographic_block));
  width = lone_control ? 0 : (visible ? shown_width : 1);
  control = lone_control ? static_cast<char>(first_code_point) : 0;
  if constexpr (kStore) {
    if (!visible) {
      std::memcpy(out->bytes, kDottedCircle, kPrefixBytes);
      out->offset = 0;
      out->length = length + kPrefixBytes;
    } else {
      out->offset = kPrefixBytes;
      out->length = length;
    }
  }
  if constexpr (kStore) {
    out->bytes[out->offset + out->length] = '\0';
    out->width = width;
    out->control = control;
  }
  return true;
}

// The printable ASCII path of the general reader, taken in front of it so
// that the most common cluster costs no call and no register saving: a
// printable ASCII character followed by another (or by the end) is a cluster
// of its own. Moves the look-ahead on and returns the character, or 0 when
// the general reader must decide.
inline char GraphemeReader::take_plain_ascii() {
  if (!has_pending_ || !is_printable_ascii(pending_code_point_)) return 0;
  const std::size_t position = position_;
  const bool at_end = position >= text_.size();
  const auto byte = at_end ? 0u : static_cast<unsigned char>(text_[position]);
  if (!at_end && !is_printable_ascii(byte)) return 0;
  const char character = static_cast<char>(pending_code_point_);
  state_ = RuleState{};  // after a plain character no sequence is under way
  if (at_end) {
    has_pending_ = false;
  } else {
    pending_code_point_ = byte;
    pending_properties_ = &character_properties(byte);
    pending_bytes_ = text_.data() + position;
    pending_size_ = 1;
    position_ = position + 1;
  }
  return character;
}

bool GraphemeReader::next(Cluster& out) {
  if (const char character = take_plain_ascii()) {
    out.bytes[kPrefixBytes] = character;
    out.bytes[kPrefixBytes + 1] = '\0';
    out.offset = kPrefixBytes;
    out.length = 1;
    out.width = 1;
    out.control = 0;
    return true;
  }
  int width = 0;
  char control = 0;
  return read_cluster<true>(&out, width, control);
}

int GraphemeReader::next_width(char& control) {
  if (take_plain_ascii() != 0) {
    control = 0;
    return 1;
  }
  int width = 0;
  control = 0;
  return read_cluster<false>(nullptr, width, control) ? width : -1;
}

}  // namespace lumora::text
