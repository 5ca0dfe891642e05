#include "text/unicode_case.h"

#include <algorithm>

namespace lumora::text {

const CaseRecord* find_case_record(char32_t code_point) {
  const CaseRecord* end = kCaseTable + kCaseTableSize;
  const CaseRecord* found = std::lower_bound(
      kCaseTable, end, code_point, [](const CaseRecord& record, char32_t value) { return record.code_point < value; });
  return found != end && found->code_point == code_point ? found : nullptr;
}

}  // namespace lumora::text
