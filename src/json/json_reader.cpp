#include "json/json_reader.h"

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMORA_READER_POISONS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUMORA_READER_POISONS 1
#endif
#ifdef LUMORA_READER_POISONS
#include <sanitizer/asan_interface.h>
#endif

namespace lumora::json {
namespace {

constexpr std::size_t kFirstBlockBytes = 64 * 1024;
constexpr std::size_t kLargestGrownBlockBytes = 4 * 1024 * 1024;
// Number runs up to this long are handed to strtod from the stack.
constexpr std::size_t kShortNumberRun = 63;
// Integers and decimals of at most this many digits are exact in a double,
// and so are the powers of ten they are divided by: their quotient is the
// correctly rounded value strtod gives, without calling it.
constexpr int kMaxFastDigits = 15;

constexpr double kPowersOfTen[kMaxFastDigits + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The bytes that end the plain run of a string: its closing quote, an
// escape, and a zero byte, which a C string cannot hold.
struct StringStops {
  bool stops[256] = {};
  constexpr StringStops() {
    stops[static_cast<unsigned char>('"')] = true;
    stops[static_cast<unsigned char>('\\')] = true;
    stops[0] = true;
  }
};
constexpr StringStops kStringStops;

bool is_digit(unsigned char byte) { return static_cast<unsigned char>(byte - '0') < 10; }

// The bytes cJSON hands to strtod as one number.
bool is_number_character(unsigned char byte) {
  return is_digit(byte) || byte == '.' || byte == 'e' || byte == 'E' || byte == '+' || byte == '-';
}

int hex_value(unsigned char byte) {
  if (is_digit(byte)) return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// Sets the number members as cJSON does, the integer saturated.
void set_number(cJSON* item, double value) {
  item->type = cJSON_Number;
  item->valuedouble = value;
  if (value >= INT_MAX) {
    item->valueint = INT_MAX;
  } else if (value <= static_cast<double>(INT_MIN)) {
    item->valueint = INT_MIN;
  } else {
    item->valueint = static_cast<int>(value);
  }
}

class Parser {
 public:
  Parser(JsonReader& reader, const char* text, std::size_t length, std::size_t max_nesting)
      : reader_(reader),
        at_(reinterpret_cast<const unsigned char*>(text)),
        end_(at_ + length),
        max_nesting_(max_nesting) {}

  const cJSON* document() {
    static constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    // cJSON looks for the mark only when two bytes could follow it.
    if (end_ - at_ >= 5 && std::memcmp(at_, kByteOrderMark, 3) == 0) at_ += 3;
    skip_whitespace();
    cJSON* root = new_item();
    if (root == nullptr || !value(root)) return nullptr;
    if (at_ != end_) return nullptr;  // cJSON leaves trailing bytes, whitespace too, unread
    return root;
  }

  JsonReadStatus failure() const { return failure_; }

 private:
  bool fail() { return false; }
  bool fail_with(JsonReadStatus status) {
    failure_ = status;
    return false;
  }

  void skip_whitespace() {
    while (at_ < end_ && *at_ <= 32) ++at_;
  }

  cJSON* new_item() {
    void* storage = reader_.allocate(sizeof(cJSON), alignof(cJSON));
    if (storage == nullptr) {
      failure_ = JsonReadStatus::out_of_memory;
      return nullptr;
    }
    return new (storage) cJSON{};
  }

  char* new_text(std::size_t bytes) {
    auto* storage = static_cast<char*>(reader_.allocate(bytes, 1));
    if (storage == nullptr) failure_ = JsonReadStatus::out_of_memory;
    return storage;
  }

  bool literal(const char* word, std::size_t length) {
    if (static_cast<std::size_t>(end_ - at_) < length || std::memcmp(at_, word, length) != 0) return fail();
    at_ += length;
    return true;
  }

  bool value(cJSON* item) {
    if (at_ >= end_) return fail();
    switch (*at_) {
      case 'n':
        item->type = cJSON_NULL;
        return literal("null", 4);
      case 'f':
        item->type = cJSON_False;
        return literal("false", 5);
      case 't':
        item->type = cJSON_True;
        item->valueint = 1;
        return literal("true", 4);
      case '"':
        item->type = cJSON_String;
        return string(&item->valuestring);
      case '[':
        return array(item);
      case '{':
        return object(item);
      default:
        if (*at_ == '-' || is_digit(*at_)) return number(item);
        return fail();
    }
  }

  // An optional minus, then at most kMaxFastDigits digits with an optional
  // fraction, then anything but a number character: read exactly here.
  // Everything else goes to strtod, as cJSON sends it.
  bool number(cJSON* item) {
    const unsigned char* start = at_;
    const unsigned char* cursor = at_;
    bool negative = *cursor == '-';
    if (negative) ++cursor;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction_digits = 0;
    while (cursor < end_ && is_digit(*cursor)) {
      mantissa = mantissa * 10 + (*cursor - '0');
      ++digits;
      ++cursor;
    }
    if (digits > 0 && cursor + 1 < end_ && *cursor == '.' && is_digit(cursor[1])) {
      ++cursor;
      while (cursor < end_ && is_digit(*cursor)) {
        mantissa = mantissa * 10 + (*cursor - '0');
        ++digits;
        ++fraction_digits;
        ++cursor;
      }
    }
    if (digits == 0 || digits > kMaxFastDigits || (cursor < end_ && is_number_character(*cursor))) {
      return number_through_strtod(item, start);
    }
    double value = static_cast<double>(mantissa);
    if (fraction_digits > 0) value /= kPowersOfTen[fraction_digits];
    set_number(item, negative ? -value : value);
    at_ = cursor;
    return true;
  }

  bool number_through_strtod(cJSON* item, const unsigned char* start) {
    std::size_t count = 0;
    while (start + count < end_ && is_number_character(start[count])) ++count;
    // A run of any length goes to strtod whole, as cJSON sends it; the rare
    // long one is copied into the document's storage.
    char short_run[kShortNumberRun + 1];
    char* characters = count <= kShortNumberRun ? short_run : new_text(count + 1);
    if (characters == nullptr) return false;
    const char decimal_point = *std::localeconv()->decimal_point;
    for (std::size_t i = 0; i < count; ++i) {
      characters[i] = start[i] == '.' ? decimal_point : static_cast<char>(start[i]);
    }
    characters[count] = '\0';
    char* after = nullptr;
    double value = std::strtod(characters, &after);
    // A run that strtod does not read whole leaves number characters next,
    // which can never follow a value.
    if (count == 0 || after != characters + count) return fail();
    set_number(item, value);
    at_ = start + count;
    return true;
  }

  // Reads the string at the opening quote into new storage. A string
  // without escapes, the usual case, is copied in one piece.
  bool string(char** out) {
    const unsigned char* start = ++at_;
    const unsigned char* cursor = start;
    while (cursor < end_ && !kStringStops.stops[*cursor]) ++cursor;
    if (cursor == end_) return fail();
    if (*cursor == 0) return fail_with(JsonReadStatus::nul_in_string);
    if (*cursor == '"') {
      std::size_t length = static_cast<std::size_t>(cursor - start);
      char* text = new_text(length + 1);
      if (text == nullptr) return false;
      std::memcpy(text, start, length);
      text[length] = '\0';
      *out = text;
      at_ = cursor + 1;
      return true;
    }
    return escaped_string(out, start, cursor);
  }

  bool escaped_string(char** out, const unsigned char* start, const unsigned char* first_escape) {
    // The closing quote first: escapes never decode longer than they are
    // written, so the written length bounds the text.
    const unsigned char* close = first_escape;
    while (close < end_ && *close != '"') {
      if (*close == '\\' && ++close == end_) return fail();
      ++close;
    }
    if (close == end_) return fail();
    char* text = new_text(static_cast<std::size_t>(close - start) + 1);
    if (text == nullptr) return false;
    char* written = text;
    std::size_t plain = static_cast<std::size_t>(first_escape - start);
    std::memcpy(written, start, plain);
    written += plain;
    const unsigned char* cursor = first_escape;
    while (cursor < close) {
      unsigned char byte = *cursor;
      if (byte == 0) return fail_with(JsonReadStatus::nul_in_string);
      if (byte != '\\') {
        *written++ = static_cast<char>(byte);
        ++cursor;
        continue;
      }
      unsigned char escape = cursor[1];
      cursor += 2;
      switch (escape) {
        case 'b': *written++ = '\b'; break;
        case 'f': *written++ = '\f'; break;
        case 'n': *written++ = '\n'; break;
        case 'r': *written++ = '\r'; break;
        case 't': *written++ = '\t'; break;
        case '"':
        case '\\':
        case '/': *written++ = static_cast<char>(escape); break;
        case 'u':
          if (!unicode_escape(cursor, close, written)) return false;
          break;
        default:
          return fail();
      }
    }
    *written = '\0';
    *out = text;
    at_ = close + 1;
    return true;
  }

  static bool hex4(const unsigned char* digits, const unsigned char* close, unsigned& code) {
    if (close - digits < 4) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      int value = hex_value(digits[i]);
      if (value < 0) return false;
      code = code * 16 + static_cast<unsigned>(value);
    }
    return true;
  }

  // `cursor` is just past "\u"; writes the code point as UTF-8, taking a
  // following low surrogate escape with a high one, as cJSON does.
  bool unicode_escape(const unsigned char*& cursor, const unsigned char* close, char*& written) {
    unsigned first = 0;
    if (!hex4(cursor, close, first)) return fail();
    cursor += 4;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail();
    std::uint32_t code_point = first;
    if (first >= 0xD800 && first <= 0xDBFF) {
      unsigned second = 0;
      if (close - cursor < 6 || cursor[0] != '\\' || cursor[1] != 'u' || !hex4(cursor + 2, close, second) ||
          second < 0xDC00 || second > 0xDFFF) {
        return fail();
      }
      cursor += 6;
      code_point = 0x10000 + (((first & 0x3FF) << 10) | (second & 0x3FF));
    }
    if (code_point == 0) return fail_with(JsonReadStatus::nul_in_string);
    if (code_point < 0x80) {
      *written++ = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
      *written++ = static_cast<char>(0xC0 | (code_point >> 6));
      *written++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
      *written++ = static_cast<char>(0xE0 | (code_point >> 12));
      *written++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
      *written++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
      *written++ = static_cast<char>(0xF0 | (code_point >> 18));
      *written++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
      *written++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
      *written++ = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return true;
  }

  bool enter() {
    if (++depth_ > max_nesting_) return fail();
    ++at_;
    skip_whitespace();
    return true;
  }

  // Links `item` after `last` in a child list whose first item is `head`.
  static void link(cJSON*& head, cJSON*& last, cJSON* item) {
    if (head == nullptr) {
      head = item;
    } else {
      last->next = item;
      item->prev = last;
    }
    last = item;
  }

  // Ends a child list at its closing bracket; the first item's prev points
  // at the last, as in every cJSON list.
  bool close(cJSON* container, int type, unsigned char bracket, cJSON* head, cJSON* last) {
    if (at_ >= end_ || *at_ != bracket) return fail();
    ++at_;
    --depth_;
    if (head != nullptr) head->prev = last;
    container->type = type;
    container->child = head;
    return true;
  }

  bool array(cJSON* item) {
    if (!enter()) return false;
    cJSON* head = nullptr;
    cJSON* last = nullptr;
    if (at_ < end_ && *at_ == ']') return close(item, cJSON_Array, ']', head, last);
    for (;;) {
      cJSON* element = new_item();
      if (element == nullptr) return false;
      link(head, last, element);
      if (!value(element)) return false;
      skip_whitespace();
      if (at_ >= end_ || *at_ != ',') break;
      ++at_;
      skip_whitespace();
    }
    return close(item, cJSON_Array, ']', head, last);
  }

  bool object(cJSON* item) {
    if (!enter()) return false;
    cJSON* head = nullptr;
    cJSON* last = nullptr;
    if (at_ < end_ && *at_ == '}') return close(item, cJSON_Object, '}', head, last);
    for (;;) {
      cJSON* member = new_item();
      if (member == nullptr) return false;
      link(head, last, member);
      if (at_ >= end_ || *at_ != '"' || !string(&member->string)) return false;
      skip_whitespace();
      if (at_ >= end_ || *at_ != ':') return fail();
      ++at_;
      skip_whitespace();
      if (!value(member)) return false;
      skip_whitespace();
      if (at_ >= end_ || *at_ != ',') break;
      ++at_;
      skip_whitespace();
    }
    return close(item, cJSON_Object, '}', head, last);
  }

  JsonReader& reader_;
  const unsigned char* at_;
  const unsigned char* end_;
  std::size_t max_nesting_;
  std::size_t depth_ = 0;
  JsonReadStatus failure_ = JsonReadStatus::invalid;
};

}  // namespace

JsonReadStatus JsonReader::read(const char* text, std::size_t length, std::size_t max_nesting) {
  clear();
  Parser parser(*this, text, length, max_nesting);
  root_ = parser.document();
  return root_ != nullptr ? JsonReadStatus::parsed : parser.failure();
}

void JsonReader::clear() {
  root_ = nullptr;
  std::size_t kept = 0;
  std::size_t retained_bytes = 0;
  while (kept < blocks_.size() && retained_bytes + blocks_[kept].size <= kRetainedBytes) {
    retained_bytes += blocks_[kept].size;
    make_unusable(blocks_[kept].data.get(), blocks_[kept].size);
    ++kept;
  }
  blocks_.resize(kept);
  next_block_ = 0;
  next_ = nullptr;
  limit_ = nullptr;
}

std::size_t JsonReader::storage_bytes() const {
  std::size_t total = 0;
  for (const Block& block : blocks_) total += block.size;
  return total;
}

void* JsonReader::allocate_from_next_block(std::size_t bytes) {
  // Blocks kept from earlier documents are used in turn; one too small for
  // this request is passed over until the next document.
  while (next_block_ < blocks_.size() && blocks_[next_block_].size < bytes) ++next_block_;
  if (next_block_ == blocks_.size()) {
    std::size_t size = blocks_.empty() ? kFirstBlockBytes : blocks_.back().size * 2;
    if (size > kLargestGrownBlockBytes) size = kLargestGrownBlockBytes;
    if (size < bytes) size = bytes;
    Block block;
    block.data.reset(new (std::nothrow) unsigned char[size]);
    if (!block.data) return nullptr;
    block.size = size;
    make_unusable(block.data.get(), size);
    try {
      blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  Block& block = blocks_[next_block_++];
  next_ = block.data.get() + bytes;
  limit_ = block.data.get() + block.size;
  return make_usable(block.data.get(), bytes);
}

void* JsonReader::make_usable(unsigned char* start, std::size_t bytes) {
#ifdef LUMORA_READER_POISONS
  ASAN_UNPOISON_MEMORY_REGION(start, bytes);
#else
  (void)bytes;
#endif
  return start;
}

void JsonReader::make_unusable(unsigned char* start, std::size_t bytes) {
#ifdef LUMORA_READER_POISONS
  ASAN_POISON_MEMORY_REGION(start, bytes);
#else
  (void)start;
  (void)bytes;
#endif
}

}  // namespace lumora::json
