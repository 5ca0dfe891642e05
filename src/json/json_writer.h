// Prints cJSON items as unformatted JSON text, byte for byte as
// cJSON_PrintUnformatted does, but several times faster: numbers are
// formatted with std::to_chars instead of sprintf plus an sscanf check, and
// the text is written straight into a caller's buffer. Every reply, event
// and final notice goes through here, so controllers see exactly the bytes
// they always saw.
#pragma once

#include <cstddef>
#include <string>

#include <cjson/cJSON.h>

namespace lumora::json {

// Longest text one number prints as ("-2.2250738585072014e-308" and shorter).
inline constexpr std::size_t kMaxJsonNumberLength = 25;

// Writes the text of a number item ("%1.15g", or "%1.17g" when 15 digits
// do not give the value back; NaN and the infinities as "null") into `out`;
// returns its length.
std::size_t format_json_number(const cJSON* item, char out[kMaxJsonNumberLength + 1]);

// The exact length of the unformatted text of `item`, or 0 when it cannot
// be printed (an invalid item, or a raw item without text).
std::size_t json_text_length(const cJSON* item);

// Writes the unformatted text of `item` into `out` (no terminating NUL).
// Returns the number of bytes written, or 0 when the item cannot be printed
// or its text does not fit in `room` bytes (nothing beyond `room` is touched).
std::size_t write_json(const cJSON* item, char* out, std::size_t room);

// Appends a NUL-terminated text as a JSON string literal, escaped exactly
// as the printer escapes strings (null prints as ""), for replies that are
// written as text rather than built as items.
void append_json_string(std::string& out, const char* text);
// Appends a number as a number item holding `value` prints.
void append_json_number(std::string& out, double value);

// A raw item whose text is `text` (printed as it is); null when memory runs out.
cJSON* make_raw_json(const std::string& text);

}  // namespace lumora::json
