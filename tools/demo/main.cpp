// lumora-demo: a small controller that shows what the render host does.
//
// In a terminal it takes over the screen with a live UI that echoes input;
// with --headless (or when standard output is not a terminal) it renders the
// same scene into a headless terminal and prints the snapshot and statistics.
// With --window it shows the showcase in a desktop window instead, or, with
// --headless or without a display, renders it offscreen into a PNG capture.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "client/controller.h"
#include "demo_requests.h"
#include "demo_scene.h"
#include "platform/clock.h"
#include "platform/standard_streams.h"
#include "window_demo.h"

namespace {

using lumora::client::Controller;
using lumora::client::Reply;
using lumora::demo::clock_text;
using lumora::demo::DemoState;
using lumora::demo::print;
using lumora::demo::request_ok;

struct Options {
  bool headless = false;
  bool window = false;
  std::string capture_path;
  double scale = 0;  // window: fixed scale (0 follows the display)
  std::string host_path;
  double seconds = 0;  // interactive: quit after this long (0 = run until asked)
};

void print_usage() {
  std::fprintf(stderr,
               "usage: lumora-demo [--window] [--headless] [--capture PATH] [--host PATH] [--seconds N] [--scale N]\n"
               "  --window        show the desktop window demo (offscreen without a display)\n"
               "  --headless      render into a headless terminal and print the snapshot;\n"
               "                  with --window: render offscreen and write a PNG capture\n"
               "  --capture PATH  terminal: also write the frame as ANSI text to PATH (headless);\n"
               "                  window: the PNG capture (default demo-window.png; interactive: at exit)\n"
               "  --host PATH     the lumora-host binary (default: next to this program)\n"
               "  --seconds N     interactive: quit by itself after N seconds\n"
               "  --scale N       window: pixels per logical unit (default: the display's)\n");
}

bool parse_options(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view name = argv[i];
    bool has_value = i + 1 < argc;
    if (name == "--headless") {
      options->headless = true;
    } else if (name == "--window") {
      options->window = true;
    } else if (name == "--scale" && has_value) {
      options->scale = std::atof(argv[++i]);
      if (!(options->scale >= 0.125 && options->scale <= 16)) return false;
    } else if (name == "--capture" && has_value) {
      options->capture_path = argv[++i];
    } else if (name == "--host" && has_value) {
      options->host_path = argv[++i];
    } else if (name == "--seconds" && has_value) {
      options->seconds = std::atof(argv[++i]);
    } else {
      return false;
    }
  }
  return true;
}

std::string default_host_path(const char* program) {
  std::string path = program;
  std::size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "lumora-host";
}

int run_headless(Controller& host, const Options& options) {
  char open[160];
  std::snprintf(open, sizeof open, R"({"op":"open","backend":"terminal","headless":true,"columns":%d,"rows":%d})",
                lumora::demo::kColumns, lumora::demo::kRows);
  if (!request_ok(host, open)) return 1;
  DemoState state;
  state.progress = 0.62;
  state.clock = clock_text();
  if (!request_ok(host, print(lumora::demo::initial_patch(state).get()))) return 1;
  if (!request_ok(host, R"({"op":"present"})")) return 1;

  Reply snapshot;
  if (!request_ok(host, R"({"op":"snapshot"})", &snapshot)) return 1;
  const cJSON* rows = cJSON_GetObjectItemCaseSensitive(snapshot.result.get(), "rows_text");
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, rows) {
    if (cJSON_IsString(row)) std::printf("%s\n", row->valuestring);
  }
  if (!options.capture_path.empty()) {
    lumora::json::JsonPtr capture(cJSON_CreateObject());
    cJSON_AddStringToObject(capture.get(), "op", "capture");
    cJSON_AddStringToObject(capture.get(), "path", options.capture_path.c_str());
    if (!request_ok(host, print(capture.get()))) return 1;
    std::printf("ANSI capture written to %s\n", options.capture_path.c_str());
  }
  Reply stats;
  if (!request_ok(host, R"({"op":"stats"})", &stats)) return 1;
  std::printf("stats: %s\n", print(stats.result.get()).c_str());
  return host.close() ? 0 : 1;
}

bool is_quit_key(const cJSON* event) {
  std::string_view kind = lumora::json::string_member(event, "kind");
  if (kind == "close") return true;
  if (kind != "key_down") return false;
  std::string_view key = lumora::json::string_member(event, "key");
  bool ctrl = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(event, "ctrl"));
  return key == "Escape" || (key == "q" && !ctrl) || (ctrl && (key == "q" || key == "c"));
}

// Puts the terminal back when the host could not (it was killed, say): the
// host's own leave sequence. It starts by ending a synchronized update the
// host may have died in the middle of (the terminal would hold back all
// later output), pops the keyboard enhancement the host may have pushed
// (popping an empty stack is harmless, a key protocol left on is not), and
// ends by popping the title the host saved when it took over.
void reset_terminal(lumora::platform::TerminalModeGuard& guard) {
  guard.restore();
  static const char kReset[] =
      "\x1b[?2026l\x1b[<u\x1b[?1016l\x1b[?1003l\x1b[?1002l\x1b[?1000l\x1b[?1006l\x1b[?1004l\x1b[?2004l"
      "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l\x1b[23;0t";
  std::fwrite(kReset, 1, sizeof kReset - 1, stdout);
  std::fflush(stdout);
}

// The grid size in the terminal backend's info, kept when it has none.
void read_viewport(Controller& host, DemoState& state) {
  Reply info;
  if (!request_ok(host, R"({"op":"info"})", &info)) return;
  const cJSON* columns = cJSON_GetObjectItemCaseSensitive(info.result.get(), "columns");
  const cJSON* rows = cJSON_GetObjectItemCaseSensitive(info.result.get(), "rows");
  if (cJSON_IsNumber(columns) && cJSON_IsNumber(rows)) {
    state.columns = columns->valueint;
    state.rows = rows->valueint;
  }
}

// A "viewport" event's grid size (8 x 16 scene units per cell).
bool viewport_size(const cJSON* event, DemoState& state) {
  if (lumora::json::string_member(event, "kind") != "viewport") return false;
  const cJSON* viewport = cJSON_GetObjectItemCaseSensitive(event, "viewport");
  const cJSON* width = cJSON_GetObjectItemCaseSensitive(viewport, "width");
  const cJSON* height = cJSON_GetObjectItemCaseSensitive(viewport, "height");
  if (!cJSON_IsNumber(width) || !cJSON_IsNumber(height)) return false;
  state.columns = static_cast<int>(width->valuedouble / 8);
  state.rows = static_cast<int>(height->valuedouble / 16);
  return true;
}

int run_interactive(Controller& host, const Options& options, lumora::platform::TerminalModeGuard& guard) {
  if (!request_ok(host, R"({"op":"open","backend":"terminal","title":"Lumora demo"})")) return 1;
  DemoState state;
  state.interactive = true;
  state.clock = clock_text();
  read_viewport(host, state);
  if (!request_ok(host, print(lumora::demo::initial_patch(state).get()))) return 1;

  double start = lumora::platform::now_seconds();
  double next_update = start;
  bool quit = false;
  bool host_ended = false;
  while (!quit && !lumora::platform::stop_signal_received()) {
    double now = lumora::platform::now_seconds();
    if (options.seconds > 0 && now - start >= options.seconds) break;
    std::optional<lumora::client::Message> message = host.next_message(0.02);
    bool log_changed = false;
    bool resized = false;
    while (message) {
      if (message->type == lumora::client::kFrameFinal) {
        host_ended = true;
        quit = true;
        break;
      }
      if (is_quit_key(message->body.get())) {
        quit = true;
        break;
      }
      resized |= viewport_size(message->body.get(), state);
      state.event_log.push_back(lumora::demo::describe_event(message->body.get()));
      if (state.event_log.size() > lumora::demo::kEventLogLines) state.event_log.pop_front();
      log_changed = true;
      message = host.next_message(0);
    }
    if (quit) break;
    if (host.wait_exit(0)) {
      host_ended = true;
      break;
    }
    now = lumora::platform::now_seconds();
    // A new size lays out every panel again.
    if (resized) (void)host.request(print(lumora::demo::initial_patch(state).get()), 2);
    if (now >= next_update || log_changed) {
      next_update = now + 0.1;
      state.progress = std::fmod((now - start) / 10.0, 1.0);
      state.clock = clock_text();
      // Waiting for each reply keeps at most one patch in flight.
      (void)host.request(print(lumora::demo::live_patch(state).get()), 2);
    }
  }
  if (host_ended || !host.close(2)) {
    reset_terminal(guard);
    return host_ended ? 1 : 0;
  }
  return 0;
}

int run_window_once(const Options& options) {
  lumora::client::LaunchOptions launch;
  launch.host_path = options.host_path;
  launch.environment = options.headless ? lumora::demo::offscreen_video_environment()
                                         : lumora::demo::desktop_video_environment();
  std::string error;
  std::unique_ptr<Controller> host = Controller::launch(launch, &error);
  if (!host) {
    std::fprintf(stderr, "lumora-demo: could not start %s: %s\n", options.host_path.c_str(), error.c_str());
    return 1;
  }
  lumora::demo::WindowDemoOptions window;
  window.headless = options.headless;
  window.capture_path = options.capture_path;
  window.seconds = options.seconds;
  window.scale = options.scale;
  return lumora::demo::run_window_demo(*host, window);
}

int run_window(Options options) {
  if (!lumora::demo::display_available()) options.headless = true;
  lumora::platform::catch_stop_signals();
  const int code = run_window_once(options);
  if (code != lumora::demo::kNoVideoExit) return code;
  std::fprintf(stderr, "lumora-demo: no usable display; rendering offscreen instead\n");
  options.headless = true;
  return run_window_once(options);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    print_usage();
    return 2;
  }
  if (options.host_path.empty()) options.host_path = default_host_path(argv[0]);
  if (options.window) return run_window(options);
  if (!lumora::platform::standard_output_is_terminal()) options.headless = true;

  lumora::platform::TerminalModeGuard guard;
  lumora::platform::catch_stop_signals();
  std::string error;
  lumora::client::LaunchOptions launch;
  launch.host_path = options.host_path;
  std::unique_ptr<Controller> host = Controller::launch(launch, &error);
  if (!host) {
    std::fprintf(stderr, "lumora-demo: could not start %s: %s\n", options.host_path.c_str(), error.c_str());
    return 1;
  }
  return options.headless ? run_headless(*host, options) : run_interactive(*host, options, guard);
}
