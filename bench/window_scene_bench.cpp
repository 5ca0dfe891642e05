// The window's commit-time work on a 10,000-command list of the kinds a user
// interface sends (panels, styled buttons, labels, rules, markers, carets,
// focus rings, images, clips): validation, decoding and bounds per command,
// beside the terminal's validation of the same list measured in the same
// run. Target: at most 1.5 × the terminal's cost per command, reported as
// "window_over_terminal" by BM_WindowSceneVsTerminal.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <cstring>
#include <string>

#include "json/json.h"
#include "scene/draw_validation.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/rasterizer.h"
#include "window/scene/bounds.h"
#include "window/scene/draw_command.h"

namespace {

using lumora::json::JsonPtr;
namespace window = lumora::window;
namespace terminal = lumora::terminal;

constexpr int kCommands = 10000;

// Kinds both backends accept, in the proportions of a form-like screen.
JsonPtr mixed_list() {
  const char* colours[] = {"#e0e0e0", "#ff8800", "#3080ff", "#40c060", "#c03050", "#808080ff"};
  std::string list = "[";
  for (int i = 0; i < kCommands; ++i) {
    const std::string x = std::to_string((i * 37) % 1800);
    const std::string y = std::to_string((i * 53) % 1000);
    const std::string colour = std::string("\"") + colours[i % 6] + "\"";
    if (i > 0) list += ",";
    switch (i % 10) {
      case 0: list += "[\"clip\",[" + x + "," + y + ",400,300]]"; break;
      case 1: list += "[\"rect\",[" + x + "," + y + ",120,32]," + colour + ",4,\"#ffffff\",1]"; break;
      case 2:
        list += "[\"styled_rect\",[" + x + "," + y + R"(,120,32],{"fill":"#202830","fill_end":"#303840",)"
                R"("border":"#5080c0","border_width":1,"radius":6,"shadow":"#00000080","shadow_blur":8,)"
                R"("shadow_y":2}])";
        break;
      case 3:
      case 4: list += "[\"text\",\"Label " + std::to_string(i) + "\"," + x + "," + y + "," + colour + ",14,false]"; break;
      case 5: list += "[\"line\"," + x + "," + y + ",1800," + y + "," + colour + ",1]"; break;
      case 6:
        list += "[\"marker\",[" + x + "," + y + R"(,16,16],{"fill":"#ffffff","border":"#404040",)"
                R"("border_width":1,"foreground":"#2060ff"},"square",true])";
        break;
      case 7: list += "[\"caret\"," + x + "," + y + ",16," + colour + "]"; break;
      case 8: list += "[\"focus_ring\",[" + x + "," + y + ",120,32]," + colour + ",6]"; break;
      default: list += "[\"clip\",null]"; break;
    }
  }
  list += "]";
  return JsonPtr(cJSON_Parse(list.c_str()));
}

bool fake_measure(void*, const char* text, double size, bool, double& width, double& height) {
  width = static_cast<double>(std::strlen(text)) * size * 0.55;
  height = size * 1.2;
  return true;
}

const window::BoundsContext kContext{2, fake_measure, nullptr};

// What a commit does with a list before anything is retained, apart from
// copying it. Kept out of line, so that an instruction profile shows each
// pass as one function.
[[gnu::noinline]] window::Rect window_pass(const cJSON* list, window::DecodedList& decoded) {
  std::size_t count = 0;
  for (const cJSON* command = list->child; command != nullptr; command = command->next, ++count) {
    if (!lumora::scene::validate_draw_command(command)) std::abort();
  }
  if (!window::decode_draw_commands(list, count, decoded)) std::abort();
  return window::list_bounds(decoded.commands(), kContext);
}

// The terminal validates while it rasterizes; on a 1 × 1 grid every drawer
// stops at the clip, which leaves little but the validation.
[[gnu::noinline]] void terminal_pass(const cJSON* list, terminal::CellFrame& frame,
                                     const terminal::RasterContext& context) {
  for (const cJSON* command = list->child; command != nullptr; command = command->next) {
    if (!terminal::rasterize_command(context, frame, command)) std::abort();
  }
}

terminal::RasterContext tiny_context() {
  terminal::RasterContext context;
  context.columns = 1;
  context.rows = 1;
  return context;
}

void BM_WindowSceneValidateDecodeBounds(benchmark::State& state) {
  JsonPtr list = mixed_list();
  for (auto _ : state) {
    window::DecodedList decoded;
    benchmark::DoNotOptimize(window_pass(list.get(), decoded));
  }
  state.SetItemsProcessed(state.iterations() * kCommands);
  state.SetLabel("10,000 mixed commands; items are commands");
}
BENCHMARK(BM_WindowSceneValidateDecodeBounds)->Unit(benchmark::kMicrosecond);

void BM_WindowSceneTerminalValidation(benchmark::State& state) {
  JsonPtr list = mixed_list();
  const terminal::RasterContext context = tiny_context();
  terminal::CellFrameRef frame = terminal::make_cell_frame(1, 1);
  for (auto _ : state) terminal_pass(list.get(), *frame, context);
  state.SetItemsProcessed(state.iterations() * kCommands);
  state.SetLabel("the same list through the terminal's validation");
}
BENCHMARK(BM_WindowSceneTerminalValidation)->Unit(benchmark::kMicrosecond);

// Processor time of this thread, in nanoseconds: on a shared machine, time
// spent waiting for a core counts against neither pass.
double thread_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Both passes alternately in one loop, so that the ratio sees the same
// machine load.
void BM_WindowSceneVsTerminal(benchmark::State& state) {
  JsonPtr list = mixed_list();
  const terminal::RasterContext context = tiny_context();
  terminal::CellFrameRef frame = terminal::make_cell_frame(1, 1);
  double window_time = 0;
  double terminal_time = 0;
  for (auto _ : state) {
    const double start = thread_nanoseconds();
    {
      window::DecodedList decoded;
      benchmark::DoNotOptimize(window_pass(list.get(), decoded));
    }
    const double middle = thread_nanoseconds();
    terminal_pass(list.get(), *frame, context);
    const double end = thread_nanoseconds();
    window_time += middle - start;
    terminal_time += end - middle;
  }
  const double commands = static_cast<double>(state.iterations()) * kCommands;
  const double window_ns = window_time / commands;
  const double terminal_ns = terminal_time / commands;
  state.counters["window_ns_per_command"] = window_ns;
  state.counters["terminal_ns_per_command"] = terminal_ns;
  state.counters["window_over_terminal"] = terminal_ns > 0 ? window_ns / terminal_ns : 0;
  state.SetLabel("target window_over_terminal at most 1.5");
}
BENCHMARK(BM_WindowSceneVsTerminal)->Unit(benchmark::kMicrosecond);

}  // namespace
