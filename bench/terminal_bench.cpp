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

#include "host/dispatch.h"
#include "host/frames.h"
#include "host/scheduling.h"
#include "host/session.h"
#include "scene/error_text.h"
#include "scene/json.h"
#include "terminal/drawing/boxes.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/drawing/text.h"
#include "terminal/terminal_backend.h"
#include "terminal/vt/encoder.h"

namespace {

using namespace lumora::terminal;
using lumora::scene::HostErrorBuffer;
using lumora::scene::JsonPtr;
using lumora::scene::JsonText;

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

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string rect_of(int x, int y, int w, int h) {
  return "[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h) + "]";
}

// A monitoring dashboard filling the grid: a header bar with a title, an
// icon and a clock; four bordered panels of ten labelled rows with a bar
// each, a sparkline and two icons; a footer of key hints. About 120
// commands and 5 KB of JSON; only `clock` differs between updates.
std::string dashboard_frame(const std::string& clock) {
  constexpr int kWidth = kColumns * 8;
  constexpr int kHeight = kRows * 16;
  const char* titles[] = {"CPU", "Memory", "Network", "Jobs"};
  const char* bar_colours[] = {"#a3be8c", "#ebcb8b", "#bf616a"};
  std::vector<std::string> commands = {
      R"(["begin","#0b0e14"])",
      "[\"rect\"," + rect_of(0, 0, kWidth, 32) + R"(,"#1c2230",0,"",0])",
      R"(["icon","grid",8,8,16,"#61afef"])",
      R"(["text","Lumora / cluster overview",32,8,"#e5e9f0",14,false])",
      "[\"text\"," + quoted(clock) + "," + std::to_string(kWidth - 80) + R"(,8,"#e5c07b",14,true])",
      "[\"line\",0,32," + std::to_string(kWidth) + R"(,32,"#3b4252",1])",
  };
  for (int panel = 0; panel < 4; ++panel) {
    const int x = 8 + (panel % 2) * 796, y = 40 + (panel / 2) * 448, w = 784, h = 440;
    commands.push_back("[\"rect\"," + rect_of(x, y, w, h) + R"(,"#11151c",4,"#3b4252",1])");
    commands.push_back("[\"text\"," + quoted(titles[panel]) + "," + std::to_string(x + 16) + "," +
                       std::to_string(y + 16) + R"(,"#88c0d0",14,false])");
    commands.push_back("[\"icon\",\"chart\"," + std::to_string(x + w - 32) + "," + std::to_string(y + 16) +
                       R"(,16,"#88c0d0"])");
    commands.push_back("[\"icon\",\"settings\"," + std::to_string(x + w - 56) + "," + std::to_string(y + 16) +
                       R"(,16,"#4c566a"])");
    commands.push_back("[\"line\"," + std::to_string(x + 8) + "," + std::to_string(y + 40) + "," +
                       std::to_string(x + w - 8) + "," + std::to_string(y + 40) + R"(,"#3b4252",1])");
    for (int row = 0; row < 10; ++row) {
      const int row_y = y + 56 + row * 32;
      const int load = (row * 37 + panel * 11) % 100;
      char label[32];
      std::snprintf(label, sizeof label, "node-%02d  %3d%%", row, load);
      commands.push_back("[\"text\"," + quoted(label) + "," + std::to_string(x + 16) + "," + std::to_string(row_y) +
                         R"(,"#d8dee9",14,true])");
      commands.push_back("[\"rect\"," + rect_of(x + 200, row_y, load * 4 + 8, 16) + "," +
                         quoted(bar_colours[row % 3]) + R"(,0,"",0])");
    }
    std::string points;
    for (int i = 0; i < 15; ++i) {
      if (i > 0) points += ",";
      points += "[" + std::to_string(x + 16 + i * 48) + "," + std::to_string(y + h - 24 - (i * 53 + panel * 7) % 5 * 16) +
                "]";
    }
    commands.push_back("[\"lines\",[" + points + R"(],"#81a1c1",1])");
  }
  commands.push_back("[\"rect\"," + rect_of(0, kHeight - 16, kWidth, 16) + R"(,"#1c2230",0,"",0])");
  commands.push_back("[\"text\",\"q quit  r refresh  / filter\",8," + std::to_string(kHeight - 16) +
                     R"(,"#d8dee9",14,false])");
  std::string body = R"({"op":"frame","commands":[)";
  for (std::size_t i = 0; i < commands.size(); ++i) body += (i > 0 ? "," : "") + commands[i];
  return body + "]}";
}

// A host session with a headless 200 × 60 terminal open, driven in-process:
// no sockets, the replies queued and dropped.
struct InProcessHost {
  std::unique_ptr<lumora::host::HostSession> session = std::make_unique<lumora::host::HostSession>();
  std::uint32_t id = 0;

  bool open() {
    if (!lumora::host::allocate_buffers(*session)) return false;
    session->openers.terminal = open_terminal_backend;
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

std::vector<std::string> dashboard_frames() {
  std::vector<std::string> frames;
  for (int second = 0; second < 60; ++second) {
    char clock[16];
    std::snprintf(clock, sizeof clock, "12:34:%02d", second);
    frames.push_back(dashboard_frame(clock));
  }
  return frames;
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
  JsonText commands = lumora::scene::print_json(scene.get());
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
