#include "terminal/vt/input_decoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "scene/limits.h"
#include "text/unicode_case.h"
#include "text/utf8.h"

namespace lumora::terminal {

namespace {

constexpr char kEscape = '\x1b';
constexpr char kBell = '\x07';
constexpr std::string_view kPasteStart = "\x1b[200~";
constexpr std::string_view kPasteEnd = "\x1b[201~";
// Ctrl+Q closes; it reaches us as a byte because raw mode turns off flow control.
constexpr char32_t kCtrlQ = 17;

// Event types of the keyboard protocol.
constexpr std::uint32_t kEventRelease = 3;

// Modifier bits of the keyboard protocol, after subtracting one.
constexpr std::uint32_t kModShift = 1;
constexpr std::uint32_t kModAlt = 2;
constexpr std::uint32_t kModCtrl = 4;
constexpr std::uint32_t kModSuper = 8;

// Bits of the first number of an SGR mouse report.
constexpr std::uint32_t kMouseButtonMask = 3;
constexpr std::uint32_t kMouseShift = 4;
constexpr std::uint32_t kMouseCtrl = 16;
constexpr std::uint32_t kMouseMotion = 32;
constexpr std::uint32_t kMouseWheel = 64;
constexpr std::uint32_t kWheelDownOrRight = 1;
constexpr std::uint32_t kWheelHorizontal = 2;

// Terminal cells are 8 scene units wide and 16 high; pointers report the
// centre of their cell.

// The keyboard protocol's functional keys live in the Private Use Area.
constexpr char32_t kFirstFunctionKey = 57364;  // F1
constexpr char32_t kLastFunctionKey = 57398;   // F35

// Input and paste buffers that grew this large are released once empty, so
// that one large paste does not pin its memory for the session.
constexpr std::size_t kKeptBufferCapacity = 64 * 1024;

struct Number {
  std::uint32_t value = 0;
  std::size_t digits = 0;
};

// The leading decimal digits of `text`, saturating at the largest value.
Number parse_number(std::string_view text) {
  Number number;
  while (number.digits < text.size() && text[number.digits] >= '0' && text[number.digits] <= '9') {
    const std::uint32_t digit = static_cast<std::uint32_t>(text[number.digits] - '0');
    number.value = number.value > (UINT32_MAX - digit) / 10 ? UINT32_MAX : number.value * 10 + digit;
    ++number.digits;
  }
  return number;
}

bool is_control(char32_t code_point) {
  return code_point < 32 || code_point == 127 || (code_point >= 0x80 && code_point <= 0x9F);
}

// A key name: either static text or a few bytes held here (one character
// in UTF-8, or "F35").
struct KeyName {
  std::array<char, 8> storage{};
  std::string_view view;
};

const char* final_byte_name(char final_byte) {
  switch (final_byte) {
    case 'A': return "ArrowUp";
    case 'B': return "ArrowDown";
    case 'C': return "ArrowRight";
    case 'D': return "ArrowLeft";
    case 'F': return "End";
    case 'H': return "Home";
    case 'P': return "F1";
    case 'Q': return "F2";
    case 'R': return "F3";
    case 'S': return "F4";
    default: return nullptr;
  }
}

const char* tilde_name(std::uint32_t number) {
  switch (number) {
    case 1: case 7: return "Home";
    case 2: return "Insert";
    case 3: return "Delete";
    case 4: case 8: return "End";
    case 5: return "PageUp";
    case 6: return "PageDown";
    case 11: return "F1";
    case 12: return "F2";
    case 13: return "F3";
    case 14: return "F4";
    case 15: return "F5";
    case 17: return "F6";
    case 18: return "F7";
    case 19: return "F8";
    case 20: return "F9";
    case 21: return "F10";
    case 23: return "F11";
    case 24: return "F12";
    default: return nullptr;
  }
}

const char* named_code_point(char32_t code_point) {
  switch (code_point) {
    case 8: case 127: return "Backspace";
    case 9: return "Tab";
    case 10: case 13: return "Enter";
    case 27: return "Escape";
    case 32: return "Space";
    case 57348: return "Insert";
    case 57349: return "Delete";
    case 57350: return "ArrowLeft";
    case 57351: return "ArrowRight";
    case 57352: return "ArrowUp";
    case 57353: return "ArrowDown";
    case 57354: return "PageUp";
    case 57355: return "PageDown";
    case 57356: return "Home";
    case 57357: return "End";
    default: return nullptr;
  }
}

// Letters are named by their lower-case form, other characters by themselves.
void name_character(char32_t code_point, KeyName& name) {
  if (const text::CaseRecord* record = text::find_case_record(code_point)) {
    name.view = record->lower;
    return;
  }
  name.view = std::string_view(name.storage.data(), text::encode_utf8(code_point, name.storage.data()));
}

void name_code_point(char32_t code_point, KeyName& name) {
  if (const char* named = named_code_point(code_point)) {
    name.view = named;
  } else if (code_point >= kFirstFunctionKey && code_point <= kLastFunctionKey) {
    const int length = std::snprintf(name.storage.data(), name.storage.size(), "F%u",
                                     static_cast<unsigned>(code_point - (kFirstFunctionKey - 1)));
    name.view = std::string_view(name.storage.data(), static_cast<std::size_t>(length));
  } else {
    name_character(code_point, name);
  }
}

void key_press(input::EventQueue& events, std::string_view name, bool shift, bool ctrl) {
  events.push_key(true, name, shift, ctrl);
  events.push_key(false, name, shift, ctrl);
}

// type: 0 none (press and release), 1 press, 2 repeat, 3 release.
void key_event(input::EventQueue& events, std::string_view name, bool shift, bool ctrl, std::uint32_t type) {
  if (ctrl && name == "q" && type != kEventRelease) {
    events.push_close();
    return;
  }
  events.push_key(type != kEventRelease, name, shift, ctrl);
  if (type == 0) events.push_key(false, name, shift, ctrl);
}

// Up to four ";"-separated parameter fields of a CSI sequence.
struct CsiFields {
  std::array<std::string_view, 4> field;
  std::size_t count = 0;
};

CsiFields split_fields(std::string_view parameters) {
  CsiFields fields;
  while (fields.count < fields.field.size()) {
    const std::size_t semicolon = parameters.find(';');
    fields.field[fields.count++] = parameters.substr(0, semicolon);
    if (semicolon == std::string_view::npos) break;
    parameters.remove_prefix(semicolon + 1);
  }
  return fields;
}

struct Modifiers {
  std::uint32_t bits = 0;  // the protocol's value minus one
  std::uint32_t type = 0;
};

// "modifiers[:type]"
Modifiers parse_modifiers(std::string_view field) {
  const Number modifiers = parse_number(field);
  Modifiers result;
  result.bits = modifiers.value > 0 ? modifiers.value - 1 : 0;
  if (modifiers.digits < field.size() && field[modifiers.digits] == ':')
    result.type = parse_number(field.substr(modifiers.digits + 1)).value;
  return result;
}

// Bytes that JSON writes as themselves in a string: printable ASCII but the
// quote and the backslash. Everything else takes the careful path.
constexpr std::array<bool, 256> make_plain_json_bytes() {
  std::array<bool, 256> plain{};
  for (int byte = 0x20; byte < 0x80; ++byte) plain[byte] = byte != '"' && byte != '\\';
  return plain;
}
constexpr std::array<bool, 256> kPlainJsonByte = make_plain_json_bytes();

// Length of the run of bytes at the start of `text` that a JSON string
// holds as they are: printable ASCII but quote and backslash, and
// well-formed UTF-8 characters.
std::size_t plain_json_run(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t index = 0;
  while (index < size) {
    const unsigned char byte = bytes[index];
    if (byte < 0x80) {
      if (!kPlainJsonByte[byte]) break;
      ++index;
    } else if (const std::size_t length = text::utf8_well_formed_length(text.data() + index, size - index);
               length != 0) {
      index += length;
    } else {
      break;
    }
  }
  return index;
}

// Walks a paste as UTF-8, calling `emit(text)` with each piece of the JSON
// literal's content in order, so that one walk serves both to measure and
// to write it. Ill-formed bytes become U+FFFD, CR LF and a lone CR a newline.
template <typename Emit>
void walk_paste(std::string_view paste, Emit&& emit) {
  static constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";
  std::size_t index = 0;
  while (index < paste.size()) {
    const std::size_t run = plain_json_run(paste.substr(index));
    if (run > 0) {
      emit(paste.substr(index, run));
      index += run;
      continue;
    }
    const auto byte = static_cast<unsigned char>(paste[index]);
    if (byte >= 0x80) {
      // Not plain, so ill-formed: replaced over its maximal subpart.
      index += text::decode_utf8_final(paste.substr(index)).length;
      emit(std::string_view(kReplacementUtf8, 3));
      continue;
    }
    ++index;
    switch (byte) {
      case '\r':
        if (index < paste.size() && paste[index] == '\n') ++index;
        emit(std::string_view("\\n", 2));
        break;
      case '\n': emit(std::string_view("\\n", 2)); break;
      case '\b': emit(std::string_view("\\b", 2)); break;
      case '\t': emit(std::string_view("\\t", 2)); break;
      case '\f': emit(std::string_view("\\f", 2)); break;
      case '"': emit(std::string_view("\\\"", 2)); break;
      case '\\': emit(std::string_view("\\\\", 2)); break;
      default: {
        char unicode_escape[8];
        std::snprintf(unicode_escape, sizeof unicode_escape, "\\u%04x", static_cast<unsigned>(byte));
        emit(std::string_view(unicode_escape, 6));
      }
    }
  }
}

}  // namespace

void InputDecoder::consume(std::size_t count) {
  consumed_ += count;
  control_string_since_ = -1;
  if (consumed_ < input_.size()) return;
  discard_input();
}

void InputDecoder::discard_input() {
  consumed_ = 0;
  control_string_since_ = -1;
  if (input_.capacity() > kKeptBufferCapacity)
    std::string().swap(input_);
  else
    input_.clear();
}

void InputDecoder::feed(std::string_view bytes, double now, input::EventQueue& events) {
  if (bytes.empty()) return;
  if (events.overflowed()) {
    discard_input();
    std::string().swap(paste_);
    paste_mode_ = false;
    return;
  }
  if (bytes.size() > kMaxInputBytes - buffered_bytes()) {
    discard_input();
    events.push_resource_error("Terminal input exceeded its bounded buffer");
    return;
  }
  if (buffered_bytes() == 0) last_input_time_ = now;
  try {
    if (consumed_ > 0) {
      input_.erase(0, consumed_);
      consumed_ = 0;
    }
    input_.append(bytes);
  } catch (const std::bad_alloc&) {
    events.push_resource_error("Could not allocate terminal input");
  }
}

void InputDecoder::decode(double now, bool flush, input::EventQueue& events) {
  for (std::size_t step = 0; step < kMaxDecodeSteps && buffered_bytes() > 0 && !events.overflowed(); ++step) {
    if (paste_mode_) {
      if (!decode_paste_step(events)) break;
      continue;
    }
    const std::string_view rest = pending();
    if (rest[0] != kEscape) {
      text::Utf8Char character = text::decode_utf8(rest);
      if (character.status == text::Utf8Status::incomplete) {
        if (!flush) break;
        character = text::decode_utf8_final(rest);
      }
      consume(character.length);
      last_input_time_ = now;
      decode_character(character.code_point, events);
      continue;
    }
    if (rest.starts_with(kPasteStart)) {
      paste_mode_ = true;
      paste_too_large_ = false;
      paste_alloc_error_ = false;
      consume(kPasteStart.size());
      continue;
    }
    if (rest.size() == 1) break;  // a lone Escape, resolved below
    const char introducer = rest[1];
    if (introducer == 'P' || introducer == ']' || introducer == '_') {
      // Control strings (replies to queries) carry nothing for the
      // controller: dropped whole once their terminator arrives.
      std::size_t end = std::string_view::npos;
      for (std::size_t index = 2; index < rest.size(); ++index) {
        if (rest[index] == kBell && introducer == ']') {
          end = index + 1;
          break;
        }
        if (rest[index] == kEscape && index + 1 < rest.size() && rest[index + 1] == '\\') {
          end = index + 2;
          break;
        }
      }
      if (end == std::string_view::npos) {
        if (control_string_since_ < 0) control_string_since_ = now;
        if (now - control_string_since_ < kControlStringWaitSeconds) break;
        consume(1);  // a typed Alt+key: the key alone is reported, as below
        continue;
      }
      consume(end);
      continue;
    }
    if (introducer == '[') {
      std::size_t final_index = 2;
      while (final_index < rest.size() && (rest[final_index] < 0x40 || rest[final_index] > 0x7E)) ++final_index;
      if (final_index == rest.size()) {
        if (rest.size() <= kMaxPendingCsiBytes) break;
        discard_input();  // garbage, not a sequence still arriving
        continue;
      }
      const std::size_t length = final_index + 1;
      // Decoded from a copy: consuming may release the buffer.
      std::array<char, kMaxSequenceBytes> copy;
      if (length >= kMaxSequenceBytes) {
        consume(length);
        continue;
      }
      std::memcpy(copy.data(), rest.data(), length);
      consume(length);
      decode_sequence(std::string_view(copy.data(), length), events);
      continue;
    }
    if (introducer == 'O') {
      if (rest.size() < 3) break;
      const char sequence[3] = {rest[0], rest[1], rest[2]};
      consume(3);
      decode_sequence(std::string_view(sequence, 3), events);
      continue;
    }
    // Alt with a key arrives as Escape and the key: the key alone is reported.
    consume(1);
  }

  // A lone Escape is the Escape key unless a sequence follows it soon. Inside
  // a paste it may be the start of the end marker, so it waits for that.
  if (paste_mode_ || events.overflowed() || pending() != std::string_view("\x1b", 1)) return;
  if (!flush && now - last_input_time_ < kLoneEscapeSeconds) return;
  consume(1);
  key_press(events, "Escape", false, false);
}

bool InputDecoder::decode_paste_step(input::EventQueue& events) {
  const std::string_view rest = pending();
  const std::size_t end = rest.find(kPasteEnd);
  if (end == std::string_view::npos) {
    // Keep what could be the start of a split end marker.
    const std::size_t keep = kPasteEnd.size() - 1;
    if (rest.size() <= keep) return false;
    append_paste(rest.substr(0, rest.size() - keep));
    consume(rest.size() - keep);
    return false;
  }
  append_paste(rest.substr(0, end));
  consume(end + kPasteEnd.size());
  finish_paste(events);
  return true;
}

void InputDecoder::append_paste(std::string_view bytes) {
  const std::size_t room = kMaxPasteBytes - paste_.size();
  if (bytes.size() > room) {
    paste_too_large_ = true;
    bytes = bytes.substr(0, room);
  }
  if (paste_alloc_error_ || bytes.empty()) return;
  try {
    paste_.append(bytes);
  } catch (const std::bad_alloc&) {
    paste_alloc_error_ = true;
  }
}

void InputDecoder::finish_paste(input::EventQueue& events) {
  if (paste_too_large_)
    events.push_resource_error("Terminal paste exceeds 8 MiB");
  else
    emit_paste(events);
  std::string().swap(paste_);
  paste_mode_ = false;
  paste_too_large_ = false;
  paste_alloc_error_ = false;
}

void InputDecoder::emit_paste(input::EventQueue& events) {
  if (paste_alloc_error_) events.push_resource_error("Cannot allocate terminal paste");
  const std::string_view paste = paste_;

  std::size_t escaped_length = 0;
  walk_paste(paste, [&](std::string_view piece) { escaped_length += piece.size(); });
  if (escaped_length > kMaxEscapedPasteBytes) {
    events.push_resource_error("Terminal paste exceeds the 16 MiB event budget after JSON escaping");
    return;
  }

  // Written straight into the memory the event will own.
  char* literal = static_cast<char*>(cJSON_malloc(escaped_length + 3));
  if (literal == nullptr) {
    events.push_resource_error("Cannot allocate terminal paste");
    return;
  }
  char* out = literal;
  *out++ = '"';
  walk_paste(paste, [&](std::string_view piece) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  });
  *out++ = '"';
  *out = '\0';
  if (!events.push_paste_literal_owned(literal) && !events.overflowed())
    events.push_resource_error("Cannot allocate terminal paste");
}

void InputDecoder::decode_character(char32_t code_point, input::EventQueue& events) {
  if (code_point == 0 || (code_point >= 28 && code_point <= 31)) return;
  if (code_point == 8 || code_point == 9 || code_point == 10 || code_point == 13 || code_point == 27 ||
      code_point == 127) {
    key_press(events, named_code_point(code_point), false, false);
    return;
  }
  if (code_point < 27) {
    if (code_point == kCtrlQ) {
      events.push_close();
      return;
    }
    const char letter = static_cast<char>(code_point + 96);
    key_press(events, std::string_view(&letter, 1), false, true);
    return;
  }
  KeyName name;
  if (code_point == 32)
    name.view = "Space";
  else
    name_character(code_point, name);
  const text::CaseRecord* record = text::find_case_record(code_point);
  key_press(events, name.view, record != nullptr && record->is_upper, false);
  char text[text::kMaxUtf8Length];
  events.push_text(std::string_view(text, text::encode_utf8(code_point, text)));
}

void InputDecoder::decode_sequence(std::string_view sequence, input::EventQueue& events) {
  const char final_byte = sequence.back();
  const bool is_csi = sequence[1] == '[';
  if (is_csi && decode_sgr_mouse(sequence, events)) return;
  if (sequence == "\x1b[I") {
    events.push_repaint();
    return;
  }
  if (sequence == "\x1b[O") {
    events.push_blur();
    return;
  }
  if (!is_csi && final_byte == '?') return;
  if (is_csi && sequence.size() > 3 && sequence[2] == '?') {
    // The answer to the keyboard query in the enter string: the terminal
    // speaks the protocol, so ask it to.
    if (final_byte == 'u' && interactive_ && !keyboard_enhanced_) {
      keyboard_enhanced_ = true;
      enhancement_push_due_ = true;
    }
    return;
  }
  // Window-size, device-attribute and mode reports.
  if (final_byte == 't' || final_byte == 'c' || (sequence.size() >= 4 && sequence[sequence.size() - 2] == '$'))
    return;
  if (!is_csi) {
    const char* name = final_byte_name(final_byte);
    key_press(events, name != nullptr ? name : "Escape", false, false);
    return;
  }
  if (sequence == "\x1b[Z") {
    key_press(events, "Tab", true, false);
    return;
  }
  decode_csi(sequence, events);
}

bool InputDecoder::decode_sgr_mouse(std::string_view sequence, input::EventQueue& events) {
  const char final_byte = sequence.back();
  if (sequence.size() < 4 || sequence[2] != '<' || (final_byte != 'M' && final_byte != 'm')) return false;
  std::string_view rest = sequence.substr(3, sequence.size() - 4);
  std::uint32_t numbers[3];
  for (int index = 0; index < 3; ++index) {
    const Number number = parse_number(rest);
    if (number.digits == 0) return false;
    numbers[index] = number.value;
    rest.remove_prefix(number.digits);
    if (index < 2) {
      if (rest.empty() || rest[0] != ';') return false;
      rest.remove_prefix(1);
    }
  }
  if (!rest.empty()) return false;

  const std::uint32_t flags = numbers[0];
  pointer_x_ = (static_cast<double>(numbers[1]) - 0.5) * scene::kCellWidthUnits;
  pointer_y_ = (static_cast<double>(numbers[2]) - 0.5) * scene::kCellHeightUnits;
  const bool ctrl = (flags & kMouseCtrl) != 0;
  if (flags & kMouseWheel) {
    // Horizontal steps report shift, as a shifted vertical wheel scrolls sideways.
    const bool shift = (flags & (kMouseShift | kWheelHorizontal)) != 0;
    events.push_wheel(pointer_x_, pointer_y_, (flags & kWheelDownOrRight) ? 1 : -1, shift, ctrl);
    return true;
  }
  const std::uint32_t button_bits = flags & kMouseButtonMask;
  // 3 means no button held (motion) or a release in the legacy encoding.
  const int button = button_bits == 3 ? 1 : static_cast<int>(button_bits) + 1;
  const input::PointerKind kind = (flags & kMouseMotion) ? input::PointerKind::move
                           : final_byte == 'm'    ? input::PointerKind::up
                                                  : input::PointerKind::down;
  events.push_pointer(kind, pointer_x_, pointer_y_, button, (flags & kMouseShift) != 0, ctrl);
  return true;
}

void InputDecoder::decode_csi(std::string_view sequence, input::EventQueue& events) {
  const char final_byte = sequence.back();
  const CsiFields fields = split_fields(sequence.substr(2, sequence.size() - 3));
  if (final_byte == 'u') {
    decode_csi_u(fields.field[0], fields.count >= 2 ? fields.field[1] : std::string_view(),
                 fields.count >= 3 ? fields.field[2] : std::string_view(), fields.count >= 3, events);
    return;
  }
  const Modifiers modifiers = fields.count >= 2 ? parse_modifiers(fields.field[1]) : Modifiers{};
  const char* name = final_byte_name(final_byte);
  if (name == nullptr) {
    if (final_byte != '~') return;
    const Number number = parse_number(fields.field[0]);
    // The "modify other keys" form ESC [ 27 ; m ; c ~ says the same as ESC [ c ; m u.
    if (fields.count == 3 && number.value == 27 && number.digits == fields.field[0].size()) {
      decode_csi_u(fields.field[2], fields.field[1], std::string_view(), false, events);
      return;
    }
    name = tilde_name(number.value);
    if (name == nullptr || number.digits == 0) return;
  }
  key_event(events, name, (modifiers.bits & kModShift) != 0, (modifiers.bits & (kModCtrl | kModSuper)) != 0,
            modifiers.type);
}

void InputDecoder::decode_csi_u(std::string_view code_field, std::string_view modifier_field,
                                std::string_view text_field, bool has_text_field, input::EventQueue& events) {
  const Number code = parse_number(code_field);
  // Code point 0 cannot be named: a key name is text without NUL.
  if (code.digits == 0 || code.value == 0 || !text::is_scalar_value(code.value)) return;
  const char32_t code_point = code.value;
  bool has_shifted = false;
  char32_t shifted = 0;
  if (code.digits < code_field.size() && code_field[code.digits] == ':') {
    const Number number = parse_number(code_field.substr(code.digits + 1));
    if (number.digits > 0 && number.value != 0 && text::is_scalar_value(number.value)) {
      has_shifted = true;
      shifted = number.value;
    }
  }
  const Modifiers modifiers = parse_modifiers(modifier_field);
  const bool shift = (modifiers.bits & kModShift) != 0;
  KeyName name;
  name_code_point(code_point, name);
  key_event(events, name.view, shift, (modifiers.bits & (kModCtrl | kModSuper)) != 0, modifiers.type);

  // Text comes from presses and repeats of unmodified (or shifted) keys.
  // Control characters are keys (ESC [ 127 u is Backspace), never text.
  if (modifiers.type == kEventRelease || (modifiers.bits & (kModAlt | kModCtrl | kModSuper)) != 0) return;
  if (is_control(code_point) || events.overflowed()) return;

  try {
    std::string text;
    if (has_text_field && !text_field.empty()) {
      while (true) {
        const Number number = parse_number(text_field);
        if (number.digits == 0 || number.value == 0 || !text::is_scalar_value(number.value)) break;
        text::append_utf8(text, number.value);
        text_field.remove_prefix(number.digits);
        if (text_field.empty() || text_field[0] != ':') break;
        text_field.remove_prefix(1);
      }
    } else if ((code_point >= 32 && code_point <= 0xDFFF) || code_point >= 0xF900) {
      const char32_t typed = shift && has_shifted ? shifted : code_point;
      const text::CaseRecord* record = shift ? text::find_case_record(typed) : nullptr;
      if (record != nullptr)
        text = record->upper;
      else
        text::append_utf8(text, typed);
    }
    if (!text.empty()) events.push_text(text);
  } catch (const std::bad_alloc&) {
    // Without memory for the text the key events stand alone.
  }
}

}  // namespace lumora::terminal
