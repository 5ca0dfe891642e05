// The terminal's frame path on a 200 × 60 grid: composing a scene of 2,000
// mixed commands and encoding it in full (target under 0.8 ms), encoding an
// unchanged frame with diff (target under 50 µs), and the diff of a one-cell
// change (target under 64 bytes, reported as "diff_bytes"). A memcpy of the
// full encoding's bytes is reported next to them as the reference.
//
// The host's share of a dashboard update: a 200 × 60 dashboard of about 120
// commands whose only change is its 8-character clock, handled in-process
// as the host handles a "frame" command and the present after it (target
// under 60 µs of processor time), beside an identical re-commit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "dashboard.h"
#include "host/dispatch.h"
#include "host/frames.h"
#include "host/scheduling.h"
#include "host/session.h"
#include "json/json.h"
#include "scene/error_text.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/terminal_backend.h"
#include "terminal/vt/encoder.h"

namespace {

using namespace lumora::terminal;
using lumora::bench::dashboard_frame;
using lumora::bench::dashboard_frames;
using lumora::host::HostErrorBuffer;
using lumora::json::JsonPtr;
using lumora::json::JsonText;

constexpr int kColumns = 200;
constexpr int kRows = 60;
constexpr int kCommands = 2000;

RasterContext grid_context() {
  RasterContext context;
  context.columns = kColumns;
  context.rows = kRows;
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

// The measured steps are kept out of line so that a profiler can count one
// of them: valgrind --tool=callgrind --toggle-collect='*compose_and_encode*'
// (or '*encode_once*'), divided by the calls of compose_frame (encode_frame).
// Each frame goes back to `frames` once encoded, as the backend hands over
// the frame it stops showing.
[[gnu::noinline]] bool compose_and_encode(const cJSON* scene, FrameRecycler& frames, ByteBuffer& out) {
  RasterContext context = grid_context();
  context.frames = &frames;
  HostErrorBuffer error;
  CellFrameRef frame = compose_frame(context, scene, kOpaqueBlack, error.text());
  const bool encoded = frame && encode_frame(frame.get(), nullptr, ColourMode::truecolor, out);
  frames.keep(std::move(frame));
  return encoded;
}

[[gnu::noinline]] void encode_once(const CellFrame* current, const CellFrame* previous, ColourMode mode,
                                   ByteBuffer& out) {
  encode_frame(current, previous, mode, out);
  benchmark::DoNotOptimize(out.size());  // no tail call: the profiler sees encode_frame called from here
}

void BM_TerminalComposeAndEncodeFull(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  FrameRecycler frames;
  ByteBuffer out;
  for (auto _ : state) {
    if (!compose_and_encode(scene.get(), frames, out)) {
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
    encode_once(frame.get(), nullptr, static_cast<ColourMode>(state.range(0)), out);
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
    encode_once(current.get(), written.get(), ColourMode::truecolor, out);
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
    encode_once(current.get(), written.get(), ColourMode::truecolor, out);
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

// ---- Dashboard updates and snapshots through the host's handler ---------------

// A host session with a headless 200 × 60 terminal open, driven in-process:
// no sockets, the replies queued and dropped.
struct InProcessHost {
  std::unique_ptr<lumora::host::HostSession> session = std::make_unique<lumora::host::HostSession>();
  std::uint32_t id = 0;

  bool open() {
    if (!lumora::host::allocate_buffers(*session)) return false;
    static constexpr lumora::host::BackendFactory kTerminalOnly[] = {{"terminal", open_terminal_backend}};
    session->backends = kTerminalOnly;
    return handle(R"({"op":"open","backend":"terminal","headless":true,"columns":200,"rows":60})") &&
           session->backend_open;
  }
  // Handles one command as the host does; false when it was not answered.
  bool handle(std::string_view body) {
    session->send_offset = 0;
    session->send_length = 0;
    lumora::host::handle_command(*session, ++id, body.data(), body.size());
    return !session->stopped && session->send_length > lumora::host::kFrameHeaderSize;
  }
  // The reply just queued, without its frame header.
  std::string_view reply() const {
    return {reinterpret_cast<const char*>(session->send_buffer.get() + lumora::host::kFrameHeaderSize),
            session->send_length - lumora::host::kFrameHeaderSize};
  }
  // A "frame" command and the present the scheduler makes after it.
  bool commit_and_present(const std::string& frame) {
    HostErrorBuffer error;
    return handle(frame) && reply() == R"({"ok":true,"result":null})" &&
           lumora::host::present(*session, error.text());
  }
};

// Kept out of line so that a profiler can count the updates:
// valgrind --tool=callgrind --toggle-collect='*dashboard_update*', divided
// by the calls of handle_command.
[[gnu::noinline]] bool dashboard_update(InProcessHost& host, const std::string& frame) {
  return host.commit_and_present(frame);
}


void BM_TerminalDashboardClockUpdate(benchmark::State& state) {
  const std::vector<std::string> frames = dashboard_frames();
  InProcessHost host;
  if (!host.open() || !host.commit_and_present(frames[0])) {
    state.SkipWithError("The headless terminal did not open or the dashboard failed");
    return;
  }
  std::size_t next = 1;
  for (auto _ : state) {
    if (!dashboard_update(host, frames[next])) {
      state.SkipWithError("A dashboard update failed");
      return;
    }
    next = (next + 1) % frames.size();
  }
  JsonPtr parsed(cJSON_Parse(frames[0].c_str()));
  state.counters["commands"] = cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(parsed.get(), "commands"));
  state.counters["frame_bytes"] = static_cast<double>(frames[0].size());
}
BENCHMARK(BM_TerminalDashboardClockUpdate)->Unit(benchmark::kMicrosecond);

// The reference: the same dashboard committed again unchanged, which the
// terminal answers without composing.
void BM_TerminalDashboardIdenticalRecommit(benchmark::State& state) {
  const std::string frame = dashboard_frame("12:34:56");
  InProcessHost host;
  if (!host.open() || !host.commit_and_present(frame)) {
    state.SkipWithError("The headless terminal did not open or the dashboard failed");
    return;
  }
  for (auto _ : state) {
    if (!dashboard_update(host, frame)) {
      state.SkipWithError("A dashboard re-commit failed");
      return;
    }
  }
}
BENCHMARK(BM_TerminalDashboardIdenticalRecommit)->Unit(benchmark::kMicrosecond);

// The host's handling of one "snapshot" of the 2,000-command scene,
// in-process: the object built, printed and queued as the reply frame.
[[gnu::noinline]] bool snapshot_once(InProcessHost& host) { return host.handle(R"({"op":"snapshot"})"); }

void BM_TerminalSnapshotHandling(benchmark::State& state) {
  JsonPtr scene = mixed_scene();
  JsonText commands = lumora::json::print_json(scene.get());
  InProcessHost host;
  if (!host.open() || !host.commit_and_present(std::string(R"({"op":"frame","commands":)") + commands.get() + "}")) {
    state.SkipWithError("The headless terminal did not open or the scene failed");
    return;
  }
  for (auto _ : state) {
    if (!snapshot_once(host)) {
      state.SkipWithError("A snapshot failed");
      return;
    }
  }
  state.counters["reply_bytes"] = static_cast<double>(host.reply().size());
}
BENCHMARK(BM_TerminalSnapshotHandling)->Unit(benchmark::kMillisecond);

}  // namespace
