#include "json/json_writer.h"

#include "json/json.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace lumora::json {
namespace {

// Counts the bytes a text would take.
struct CountingSink {
  std::size_t length = 0;
  bool ok = true;
  void put(char) { ++length; }
  void put(const char*, std::size_t size) { length += size; }
};

// Appends to a growing string.
struct StringSink {
  std::string& out;
  bool ok = true;
  void put(char c) { out.push_back(c); }
  void put(const char* text, std::size_t size) { out.append(text, size); }
};

// Copies into a bounded buffer; once it would overflow it stops writing and
// remembers the failure.
struct BufferSink {
  char* out;
  char* end;
  bool ok = true;
  void put(char c) {
    if (out == end) {
      ok = false;
      return;
    }
    *out++ = c;
  }
  void put(const char* text, std::size_t size) {
    if (static_cast<std::size_t>(end - out) < size) {
      ok = false;
      out = end;
      return;
    }
    std::memcpy(out, text, size);
    out += size;
  }
};

// The recovery test of the printer whose bytes we reproduce: 15 digits are
// kept when they read back within one ulp-scale of the value.
bool nearly_equal(double a, double b) {
  double largest = std::fabs(a) > std::fabs(b) ? std::fabs(a) : std::fabs(b);
  return std::fabs(a - b) <= largest * DBL_EPSILON;
}

// Whether the text [first, last) reads back as `value` by that test. A
// subnormal reads back with a range error from from_chars but as a value
// from sscanf; strtod settles those few cases the same way sscanf does.
bool reads_back_as(const char* first, const char* last, double value) {
  double back = 0;
  std::from_chars_result read = std::from_chars(first, last, back);
  if (read.ec == std::errc::result_out_of_range) {
    char text[kMaxJsonNumberLength + 1];
    std::size_t size = static_cast<std::size_t>(last - first);
    std::memcpy(text, first, size);
    text[size] = '\0';
    back = std::strtod(text, nullptr);
  } else if (read.ec != std::errc()) {
    return false;
  }
  return nearly_equal(back, value);
}

// Bytes that a JSON string carries as they are.
bool plain_string_byte(unsigned char c) { return c >= 32 && c != '"' && c != '\\'; }

template <typename Sink>
void put_string(Sink& sink, const char* text) {
  sink.put('"');
  if (text != nullptr) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0') {
      const unsigned char* run = p;
      while (*p != '\0' && plain_string_byte(*p)) ++p;
      if (p != run) sink.put(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
      if (*p == '\0') break;
      char escape[6] = {'\\', 0, 0, 0, 0, 0};
      std::size_t size = 2;
      switch (*p) {
        case '"': escape[1] = '"'; break;
        case '\\': escape[1] = '\\'; break;
        case '\b': escape[1] = 'b'; break;
        case '\f': escape[1] = 'f'; break;
        case '\n': escape[1] = 'n'; break;
        case '\r': escape[1] = 'r'; break;
        case '\t': escape[1] = 't'; break;
        default: {
          static constexpr char kHex[] = "0123456789abcdef";
          escape[1] = 'u';
          escape[2] = '0';
          escape[3] = '0';
          escape[4] = kHex[*p >> 4];
          escape[5] = kHex[*p & 15];
          size = 6;
        }
      }
      sink.put(escape, size);
      ++p;
    }
  }
  sink.put('"');
}

template <typename Sink>
void put_item(Sink& sink, const cJSON* item) {
  switch (item->type & 0xFF) {
    case cJSON_NULL: sink.put("null", 4); return;
    case cJSON_False: sink.put("false", 5); return;
    case cJSON_True: sink.put("true", 4); return;
    case cJSON_Number: {
      char text[kMaxJsonNumberLength + 1];
      sink.put(text, format_json_number(item, text));
      return;
    }
    case cJSON_Raw:
      if (item->valuestring == nullptr) {
        sink.ok = false;
        return;
      }
      sink.put(item->valuestring, std::strlen(item->valuestring));
      return;
    case cJSON_String: put_string(sink, item->valuestring); return;
    case cJSON_Array:
    case cJSON_Object: {
      const bool object = (item->type & 0xFF) == cJSON_Object;
      sink.put(object ? '{' : '[');
      for (const cJSON* child = item->child; child != nullptr && sink.ok; child = child->next) {
        if (object) {
          put_string(sink, child->string);
          sink.put(':');
        }
        put_item(sink, child);
        if (child->next != nullptr) sink.put(',');
      }
      sink.put(object ? '}' : ']');
      return;
    }
    default: sink.ok = false; return;
  }
}

}  // namespace

std::size_t format_json_number(const cJSON* item, char out[kMaxJsonNumberLength + 1]) {
  const double value = item->valuedouble;
  char* const end = out + kMaxJsonNumberLength;
  std::to_chars_result result;
  if (std::isnan(value) || std::isinf(value)) {
    std::memcpy(out, "null", 4);
    return 4;
  }
  // Whole numbers below 10^15 print as their digits under "%1.15g" (negative
  // zero keeps its sign there): the common case, formatted as an integer.
  if (value == std::floor(value) && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value))) {
    result = std::to_chars(out, end, static_cast<std::int64_t>(value));
  } else {
    // to_chars with a precision formats exactly as printf's "%.*g" does.
    result = std::to_chars(out, end, value, std::chars_format::general, 15);
    if (!reads_back_as(out, result.ptr, value)) {
      result = std::to_chars(out, end, value, std::chars_format::general, 17);
    }
  }
  return static_cast<std::size_t>(result.ptr - out);
}

std::size_t json_text_length(const cJSON* item) {
  if (item == nullptr) return 0;
  CountingSink sink;
  put_item(sink, item);
  return sink.ok ? sink.length : 0;
}

std::size_t write_json(const cJSON* item, char* out, std::size_t room) {
  if (item == nullptr) return 0;
  BufferSink sink{out, out + room};
  put_item(sink, item);
  return sink.ok ? static_cast<std::size_t>(sink.out - out) : 0;
}

void append_json_string(std::string& out, const char* text) {
  StringSink sink{out};
  put_string(sink, text);
}

void append_json_number(std::string& out, double value) {
  cJSON number{};
  number.type = cJSON_Number;
  number.valuedouble = value;
  char text[kMaxJsonNumberLength + 1];
  out.append(text, format_json_number(&number, text));
}

JsonText print_json(const cJSON* item) {
  std::size_t length = json_text_length(item);
  if (length == 0) return nullptr;
  JsonText text(static_cast<char*>(cJSON_malloc(length + 1)));
  if (!text) return nullptr;
  write_json(item, text.get(), length);
  text.get()[length] = '\0';
  return text;
}

cJSON* make_raw_json(const std::string& text) { return cJSON_CreateRaw(text.c_str()); }

}  // namespace lumora::json
