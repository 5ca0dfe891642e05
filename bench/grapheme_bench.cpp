// Grapheme reading of mixed-script text (Latin, CJK, Devanagari, emoji)
// next to the raw UTF-8 decode of the same text and libutf8proc's grapheme
// segmentation as the peer. Reported as bytes per second.
#include <benchmark/benchmark.h>
#include <utf8proc.h>

#include <cstdint>
#include <string>

#include "text/grapheme.h"
#include "text/utf8.h"

namespace {

using lumora::text::Cluster;
using lumora::text::GraphemeReader;

// About 1 MiB of text mixing the scripts a user interface shows, with
// combining marks, conjuncts, flags, keycaps and joined emoji.
const std::string& mixed_text() {
  static const std::string text = [] {
    const std::string paragraph =
        "The quick brown fox jumps over the lazy dog; caf\xC3\xA9 na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 "
        "e\xCC\x81t\xC3\xA9.\t"
        "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE6\x9C\xAC\xE6\xB5\x8B\xE8\xAF\x95\xE3\x80\x82"  // 中文文本测试。
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88 "
        "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 "                                               // 한국어
        "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82\xE0\xA4\xA6\xE0\xA5\x80 "                       // हिंदी
        "\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7\xE0\xA4\xA4\xE0\xA5\x8D\xE0\xA4\xB0\xE0\xA4\xBF\xE0\xA4\xAF "
        "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 "
        "\xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD "                                   // 😀👍🏽
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "           // family
        "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5 "                   // flags
        "\xE2\x9D\xA4\xEF\xB8\x8F 1\xEF\xB8\x8F\xE2\x83\xA3 "                                  // ❤️ 1️⃣
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit.\n";
    std::string out;
    while (out.size() < (1u << 20)) out += paragraph;
    return out;
  }();
  return text;
}

void BM_Utf8Decode(benchmark::State& state) {
  const std::string& text = mixed_text();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
      const lumora::text::Utf8Char decoded = lumora::text::decode_utf8_final(rest);
      sum += decoded.code_point;
      rest.remove_prefix(decoded.length);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8Decode);

void BM_GraphemeReader(benchmark::State& state) {
  const std::string& text = mixed_text();
  Cluster cluster;
  for (auto _ : state) {
    GraphemeReader reader(text);
    std::uint64_t cells = 0;
    while (reader.next(cluster)) cells += static_cast<std::uint64_t>(cluster.width);
    benchmark::DoNotOptimize(cells);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GraphemeReader);

// The measuring path: clusters and widths without gathering the bytes.
void BM_GraphemeWidths(benchmark::State& state) {
  const std::string& text = mixed_text();
  for (auto _ : state) {
    GraphemeReader reader(text);
    std::uint64_t cells = 0;
    char control = 0;
    for (int width = reader.next_width(control); width >= 0; width = reader.next_width(control)) {
      cells += static_cast<std::uint64_t>(width);
    }
    benchmark::DoNotOptimize(cells);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GraphemeWidths);

void BM_Utf8procGraphemes(benchmark::State& state) {
  const std::string& text = mixed_text();
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto length = static_cast<utf8proc_ssize_t>(text.size());
  for (auto _ : state) {
    std::uint64_t clusters = 0;
    utf8proc_int32_t break_state = 0;
    utf8proc_int32_t previous = -1;
    for (utf8proc_ssize_t position = 0; position < length;) {
      utf8proc_int32_t code_point = 0;
      utf8proc_ssize_t consumed = utf8proc_iterate(bytes + position, length - position, &code_point);
      if (consumed < 0) {
        code_point = 0xFFFD;
        consumed = 1;
      }
      if (previous < 0 || utf8proc_grapheme_break_stateful(previous, code_point, &break_state)) ++clusters;
      previous = code_point;
      position += consumed;
    }
    benchmark::DoNotOptimize(clusters);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8procGraphemes);

}  // namespace
