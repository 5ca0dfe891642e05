// Differential fuzz target for the command reader: every input is read both
// by the reader and by cJSON behind the nesting pre-scan. The verdicts must
// agree and, when both read it, the items must be the same, item for item,
// except where the reader is stricter on purpose (a zero byte in a string,
// a malformed \u escape). A reported NUL must be one the host's scan finds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/body_scan.h"
#include "json/json_reader.h"
#include "support/json_reference.h"

namespace {

lumora::json::JsonReader reader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumora;
  const char* text = reinterpret_cast<const char*>(data);
  json::JsonReadStatus status = reader.read(text, size, host::kMaxNesting);
  if (status == json::JsonReadStatus::out_of_memory) std::abort();
  if (status == json::JsonReadStatus::nul_in_string) {
    if (!host::has_embedded_nul(text, size)) std::abort();
    return 0;
  }
  json::JsonPtr reference = test::reference_parse(text, size, host::kMaxNesting);
  bool read = status == json::JsonReadStatus::parsed;
  if (read != (reference != nullptr)) {
    // Only a malformed \u escape, which cJSON reads as code point 0, may
    // make the two disagree; the reader then refuses.
    if (read || !test::has_malformed_unicode_escape(text, size)) std::abort();
    return 0;
  }
  if (read) {
    std::string difference = test::json_difference(reader.root(), reference.get());
    if (!difference.empty()) {
      std::fprintf(stderr, "reader and cJSON differ at %s\n", difference.c_str());
      std::abort();
    }
  }
  reader.clear();
  return 0;
}
