// Case data for the input decoder: key names use the lower-case form, the
// "shift" of a typed letter uses the upper-case flag, shifted text the
// upper-case form. The records are generated from the Unicode Character
// Database by tools/unicode/generate.mjs.
#pragma once

#include <cstddef>

namespace lumora::text {

struct CaseRecord {
  char32_t code_point;
  const char* lower;  // full lower-case mapping, UTF-8
  const char* upper;  // full upper-case mapping, UTF-8
  bool is_upper;      // the code point has the Uppercase property
};

// Sorted by code point.
extern const CaseRecord kCaseTable[];
extern const std::size_t kCaseTableSize;

// Bisection search; null when the code point has no record.
const CaseRecord* find_case_record(char32_t code_point);

}  // namespace lumora::text
