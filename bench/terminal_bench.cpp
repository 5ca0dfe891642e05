// The terminal's frame path on a 200 × 60 grid: composing a scene of 2,000
// mixed commands and encoding it in full (target under 2 ms), encoding an
// unchanged frame with diff (target under 50 µs), and the diff of a one-cell
// change (target under 64 bytes, reported as "diff_bytes"). A memcpy of the
// full encoding's bytes is reported next to them as the reference.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "scene/error_text.h"
#include "scene/json.h"
#include "terminal/drawing/boxes.h"
#include "terminal/vt/encoder.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/drawing/text.h"

namespace {

using namespace lumora::terminal;
using lumora::scene::HostErrorBuffer;
using lumora::scene::JsonPtr;

constexpr int kColumns = 200;
constexpr int kRows = 60;
constexpr int kCommands = 2000;

const KindDrawers kDrawers{
    .text = draw_text_command,
    .icon = draw_icon_command,
    .gradient_rect = draw_gradient_rect_command,
    .styled_rect = draw_styled_rect_command,
    .marker = draw_marker_command,
    .focus_ring = draw_focus_ring_command,
};

RasterContext grid_context() {
  RasterContext context;
  context.columns = kColumns;
  context.rows = kRows;
  context.drawers = &kDrawers;
  return context;
}

// A user interface's mix: panels, labels, rules, polylines and carets, spread
// over the whole grid in several colours. `variant` shifts one label so that
// two scenes can differ in exactly one cell.
JsonPtr mixed_scene(int variant = 0) {
  std::string list = R"([["begin","#101418"])";
  const char* colours[] = {"#e0e0e0", "#ff8800", "#3080ff", "#40c060", "#c03050", "#808080"};
  for (int i = 1; i < kCommands; ++i) {
    const int x = (i * 37) % (kColumns * 8 - 80);
    const int y = (i * 53) % (kRows * 16 - 32);
    const char* colour = colours[i % 6];
    list += ",";
    switch (i % 5) {
      case 0:
        list += "[\"rect\",[" + std::to_string(x) + "," + std::to_string(y) + ",64,32],\"" + colour +
                "\",0,\"#ffffff\",1]";
        break;
      case 1:
        list += "[\"text\",\"Label " + std::to_string(i) + " 界\"," + std::to_string(x) + "," + std::to_string(y) +
                ",\"" + colour + "\",14,false]";
        break;
      case 2:
        list += "[\"line\"," + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(x + 120) + "," +
                std::to_string(y) + ",\"" + colour + "\",1]";
        break;
      case 3:
        list += "[\"lines\",[[" + std::to_string(x) + "," + std::to_string(y) + "],[" + std::to_string(x + 40) + "," +
                std::to_string(y + 48) + "],[" + std::to_string(x + 80) + "," + std::to_string(y) + "]],\"" + colour +
                "\",1]";
        break;
      default:
        list += "[\"caret\"," + std::to_string(x) + "," + std::to_string(y) + ",16,\"" + colour + "\"]";
        break;
    }
  }
  list += R"(,["text",")" + std::string(variant == 0 ? "A" : "B") + R"(",0,944,"#ffffff",14,false]])";
  return JsonPtr(cJSON_Parse(list.c_str()));
}

CellFrameRef compose(const cJSON* list) {
  HostErrorBuffer error;
  CellFrameRef frame = compose_frame(grid_context(), list, kOpaqueBlack, error.text());
  if (!frame) std::fprintf(stderr, "composition failed: %s\n", error.c_str());
  return frame;
}

void BM_TerminalComposeAndEncodeFull(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  ByteBuffer out;
  for (auto _ : state) {
    CellFrameRef frame = compose(scene.get());
    if (!frame || !encode_frame(frame.get(), nullptr, ColourMode::truecolor, out)) {
      state.SkipWithError("compose or encode failed");
      break;
    }
    benchmark::DoNotOptimize(out.c_str());
  }
  state.counters["ansi_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_TerminalComposeAndEncodeFull)->Unit(benchmark::kMicrosecond);

void BM_TerminalEncodeFull(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  CellFrameRef frame = compose(scene.get());
  ByteBuffer out;
  for (auto _ : state) {
    encode_frame(frame.get(), nullptr, static_cast<ColourMode>(state.range(0)), out);
    benchmark::DoNotOptimize(out.c_str());
  }
  state.counters["ansi_bytes"] = static_cast<double>(out.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_TerminalEncodeFull)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

// Two compositions of the same scene: equal cells, different frames and pools,
// so every cell is compared.
void BM_TerminalEncodeUnchangedDiff(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  CellFrameRef written = compose(scene.get());
  CellFrameRef current = compose(scene.get());
  ByteBuffer out;
  for (auto _ : state) {
    encode_frame(current.get(), written.get(), ColourMode::truecolor, out);
    benchmark::DoNotOptimize(out.c_str());
  }
  state.counters["diff_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_TerminalEncodeUnchangedDiff)->Unit(benchmark::kMicrosecond);

void BM_TerminalEncodeOneCellDiff(benchmark::State& state) {
  JsonPtr scene = mixed_scene(0);
  JsonPtr changed = mixed_scene(1);
  CellFrameRef written = compose(scene.get());
  CellFrameRef current = compose(changed.get());
  ByteBuffer out;
  for (auto _ : state) {
    encode_frame(current.get(), written.get(), ColourMode::truecolor, out);
    benchmark::DoNotOptimize(out.c_str());
  }
  state.counters["diff_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_TerminalEncodeOneCellDiff)->Unit(benchmark::kMicrosecond);

// The reference: copying as many bytes as the full truecolor encoding writes.
void BM_TerminalMemcpyFullEncodingBytes(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  CellFrameRef frame = compose(scene.get());
  ByteBuffer encoded;
  encode_frame(frame.get(), nullptr, ColourMode::truecolor, encoded);
  std::vector<char> copy(encoded.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), encoded.c_str(), encoded.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.counters["bytes"] = static_cast<double>(encoded.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(encoded.size()));
}
BENCHMARK(BM_TerminalMemcpyFullEncodingBytes)->Unit(benchmark::kMicrosecond);

}  // namespace
