#include "window_demo.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

#include "demo_requests.h"
#include "demo_scene.h"
#include "platform/clock.h"
#include "platform/standard_streams.h"
#include "window_scene.h"

namespace lumora::demo {
namespace {

using client::Controller;
using client::Reply;

// Headless: how long the animations run before the capture, so that the
// picture shows the sprite and the slider on their way.
constexpr double kHeadlessSettleSeconds = 0.4;
// Interactive: how often the clock and progress bar are patched.
constexpr double kLiveInterval = 0.1;
constexpr double kReplySeconds = 10;
constexpr std::size_t kMaxTypedBytes = 28;
constexpr std::size_t kMaxEventLineBytes = 36;
constexpr double kHeadlessProgress = 0.62;

double number_at(const cJSON* array, int index) {
  return cJSON_GetNumberValue(cJSON_GetArrayItem(array, index));
}

double number_member(const cJSON* object, const char* name) {
  return cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(object, name));
}

// The width of `text` in logical units, measured by the host; `fallback`
// when it cannot tell.
double measure(Controller& host, std::string_view text, double points, double fallback) {
  json::JsonPtr command(cJSON_CreateObject());
  cJSON_AddStringToObject(command.get(), "op", "measure");
  cJSON_AddStringToObject(command.get(), "text", std::string(text).c_str());
  cJSON_AddNumberToObject(command.get(), "size", points);
  Reply reply;
  if (!request_ok(host, print(command.get()), &reply)) return fallback;
  return number_at(reply.result.get(), 0);
}

// The start of a UTF-8 sequence at or before `index`.
std::size_t utf8_boundary(std::string_view text, std::size_t index) {
  while (index > 0 && index < text.size() && (static_cast<unsigned char>(text[index]) & 0xc0) == 0x80) --index;
  return index;
}

std::string clipped(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  return std::string(text.substr(0, utf8_boundary(text, max_bytes)));
}

// The opening command: a window of the demo's logical size.
std::string open_command(const WindowDemoOptions& options) {
  json::JsonPtr open(cJSON_CreateObject());
  cJSON_AddStringToObject(open.get(), "op", "open");
  cJSON_AddStringToObject(open.get(), "backend", "window");
  cJSON_AddStringToObject(open.get(), "title", "Lumora demo");
  cJSON_AddNumberToObject(open.get(), "width", kWindowWidth);
  cJSON_AddNumberToObject(open.get(), "height", kWindowHeight);
  if (options.scale > 0) cJSON_AddNumberToObject(open.get(), "scale", options.scale);
  if (options.headless) {
    cJSON_AddBoolToObject(open.get(), "hidden", true);
    cJSON_AddBoolToObject(open.get(), "vsync", false);
  }
  return print(open.get());
}

// What opening the window came to.
enum class Opened { kYes, kNo, kNoVideo };

// Opens the window at the demo's size. Opening fits the window to the
// display; a display smaller than the window at this scale (the offscreen
// driver's is 1024 x 768) would squeeze it, so the size is set again
// without fitting.
Opened open_window(Controller& host, const WindowDemoOptions& options, WindowDemoState& state) {
  std::optional<Reply> reply = host.request(open_command(options), kReplySeconds);
  if (!reply) {
    std::fprintf(stderr, "lumora-demo: no reply from the host\n");
    return Opened::kNo;
  }
  // A DISPLAY that names no reachable server (a remote shell without X
  // forwarding, say): the video driver cannot start.
  if (!reply->ok && !options.headless && reply->error.starts_with("Initialize SDL3 video")) {
    std::fprintf(stderr, "lumora-demo: %s\n", reply->error.c_str());
    return Opened::kNoVideo;
  }
  if (!reply->ok) {
    std::fprintf(stderr, "lumora-demo: %s\n", reply->error.c_str());
    return Opened::kNo;
  }
  Reply opened = std::move(*reply);
  const cJSON* info = opened.result.get();
  if (number_member(info, "width") != kWindowWidth || number_member(info, "height") != kWindowHeight) {
    char set_size[96];
    std::snprintf(set_size, sizeof set_size, R"({"op":"set_size","width":%d,"height":%d})", kWindowWidth,
                  kWindowHeight);
    if (!request_ok(host, set_size, &opened)) return Opened::kNo;
    info = opened.result.get();
  }
  const cJSON* pixels = cJSON_GetObjectItemCaseSensitive(info, "pixel_size");
  char note[160];
  std::snprintf(note, sizeof note, "renderer %s \u00b7 scale %g \u00b7 %g \u00d7 %g pixels",
                std::string(json::string_member(info, "renderer")).c_str(), number_member(info, "scale"),
                number_at(pixels, 0), number_at(pixels, 1));
  state.footer_note = note;
  state.button_label_width = measure(host, kButtonLabel, kButtonLabelPoints, state.button_label_width);
  return Opened::kYes;
}

bool capture(Controller& host, const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  json::JsonPtr command(cJSON_CreateObject());
  cJSON_AddStringToObject(command.get(), "op", "capture");
  cJSON_AddStringToObject(command.get(), "path", error ? path.c_str() : absolute.c_str());
  Reply reply;
  if (!request_ok(host, print(command.get()), &reply)) return false;
  std::printf("PNG capture written to %s (%g x %g pixels)\n", path.c_str(), number_member(reply.result.get(), "width"),
              number_member(reply.result.get(), "height"));
  return true;
}

bool print_stats(Controller& host) {
  Reply stats;
  if (!request_ok(host, R"({"op":"stats"})", &stats)) return false;
  std::printf("stats: %s\n", print(stats.result.get()).c_str());
  return true;
}

int run_headless(Controller& host, const WindowDemoOptions& options) {
  WindowDemoState state;
  state.progress = kHeadlessProgress;
  state.clock = clock_text();
  if (open_window(host, options, state) != Opened::kYes) return 1;
  if (!request_ok(host, print(window_initial_patch(state).get()))) return 1;
  if (!request_ok(host, R"({"op":"present"})")) return 1;
  platform::sleep_seconds(kHeadlessSettleSeconds);
  if (!request_ok(host, R"({"op":"present"})")) return 1;
  const std::string path = options.capture_path.empty() ? kDefaultWindowCapture : options.capture_path;
  if (!capture(host, path)) return 1;
  if (!print_stats(host)) return 1;
  return host.close() ? 0 : 1;
}

// The interactive demo's reaction to input.
class Interaction {
 public:
  Interaction(Controller& host, WindowDemoState& state) : host_(host), state_(state) {}

  // Handles one event; false when it asks to quit.
  bool handle(const cJSON* event) {
    const std::string_view kind = json::string_member(event, "kind");
    if (kind == "close") return false;
    const std::string_view key = json::string_member(event, "key");
    if (kind == "key_down" && key == "Escape") return false;
    log(event);
    if (kind == "pointer_move") {
      hover(window_target_at(number_member(event, "x"), number_member(event, "y")) == WindowTarget::kButton);
    } else if (kind == "pointer_leave" || kind == "blur") {
      hover(false);
    } else if (kind == "pointer_down" && number_member(event, "button") == 1) {
      click(window_target_at(number_member(event, "x"), number_member(event, "y")));
    } else if (kind == "text") {
      type(json::string_member(event, "text"));
    } else if (kind == "key_down" && key == "Backspace" && !state_.typed.empty()) {
      state_.typed.resize(utf8_boundary(state_.typed, state_.typed.size() - 1));
      field_changed_ = true;
    }
    return true;
  }

  // Sends what changed since the last call; `live` also refreshes the clock and progress bar.
  void flush(bool live) {
    if (button_changed_) {
      send(window_patch(state_, {WindowPart::kButton}, kCrossFadeSeconds));
      button_changed_ = false;
    }
    if (controls_changed_) {
      send(window_patch(state_, {WindowPart::kControls}, kCrossFadeSeconds));
      controls_changed_ = false;
    }
    if (field_changed_) {
      state_.typed_width = state_.typed.empty() ? 0 : measure(host_, state_.typed, kFieldTextPoints, 0);
      send(window_patch(state_, {WindowPart::kField}));
      field_changed_ = false;
    }
    if (live && log_changed_) {
      send(window_patch(state_, {WindowPart::kProgress, WindowPart::kClock, WindowPart::kEvents}));
    } else if (live) {
      send(window_patch(state_, {WindowPart::kProgress, WindowPart::kClock}));
    } else if (log_changed_) {
      send(window_patch(state_, {WindowPart::kEvents}));
    }
    log_changed_ = false;
  }

 private:
  void log(const cJSON* event) {
    state_.event_log.push_back(clipped(describe_event(event), kMaxEventLineBytes));
    if (state_.event_log.size() > kWindowEventLines) state_.event_log.pop_front();
    log_changed_ = true;
  }

  void hover(bool over) {
    if (over == state_.button_hovered) return;
    state_.button_hovered = over;
    button_changed_ = true;
  }

  void click(WindowTarget target) {
    switch (target) {
      case WindowTarget::kCheck0: state_.checks[0] = !state_.checks[0]; break;
      case WindowTarget::kCheck1: state_.checks[1] = !state_.checks[1]; break;
      case WindowTarget::kRadio0: state_.radio = 0; break;
      case WindowTarget::kRadio1: state_.radio = 1; break;
      default: return;
    }
    controls_changed_ = true;
  }

  void type(std::string_view text) {
    // Keep the newest characters that fit the field.
    state_.typed += text;
    if (state_.typed.size() > kMaxTypedBytes) {
      const std::size_t cut = utf8_boundary(state_.typed, state_.typed.size() - kMaxTypedBytes);
      state_.typed.erase(0, cut);
    }
    field_changed_ = true;
  }

  // Waiting for each reply keeps at most one patch in flight.
  void send(const json::JsonPtr& patch) { (void)host_.request(print(patch.get()), 2); }

  Controller& host_;
  WindowDemoState& state_;
  bool button_changed_ = false;
  bool controls_changed_ = false;
  bool field_changed_ = false;
  bool log_changed_ = false;
};

int run_interactive(Controller& host, const WindowDemoOptions& options) {
  WindowDemoState state;
  state.interactive = true;
  state.clock = clock_text();
  const Opened opened = open_window(host, options, state);
  if (opened == Opened::kNoVideo) return kNoVideoExit;
  if (opened != Opened::kYes) return 1;
  if (!request_ok(host, print(window_initial_patch(state).get()))) return 1;
  const std::array<double, 4> field = window_field_rect();
  char text_input[128];
  std::snprintf(text_input, sizeof text_input, R"({"op":"text_input","rect":[%g,%g,%g,%g]})", field[0], field[1],
                field[2], field[3]);
  (void)request_ok(host, text_input);

  Interaction interaction(host, state);
  const double start = platform::now_seconds();
  double next_live = start;
  bool quit = false;
  bool host_ended = false;
  while (!quit && !platform::stop_signal_received()) {
    double now = platform::now_seconds();
    if (options.seconds > 0 && now - start >= options.seconds) break;
    std::optional<client::Message> message = host.next_message(0.02);
    while (message && !quit) {
      if (message->type == client::kFrameFinal) {
        host_ended = true;
        quit = true;
      } else if (!interaction.handle(message->body.get())) {
        quit = true;
      }
      if (!quit) message = host.next_message(0);
    }
    if (quit) break;
    if (host.wait_exit(0)) {
      host_ended = true;
      break;
    }
    now = platform::now_seconds();
    const bool live = now >= next_live;
    if (live) {
      next_live = now + kLiveInterval;
      state.progress = std::fmod((now - start) / 10.0, 1.0);
      state.clock = clock_text();
    }
    interaction.flush(live);
  }
  if (host_ended) return 1;
  if (!options.capture_path.empty() && !capture(host, options.capture_path)) return 1;
  return host.close(2) ? 0 : 1;
}

}  // namespace

bool display_available() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

std::vector<std::string> offscreen_video_environment() {
  // No display either: SDL would otherwise still reach for the desktop's
  // session services (D-Bus) that a display variable points it to.
  return {"SDL_VIDEODRIVER=offscreen", "SDL_RENDER_DRIVER=software", "DISPLAY=", "WAYLAND_DISPLAY="};
}

std::vector<std::string> desktop_video_environment() {
  const char* chosen = std::getenv("SDL_VIDEODRIVER");
  if (chosen != nullptr && chosen[0] != '\0') return {};
  return {"SDL_VIDEODRIVER=x11,wayland"};
}

int run_window_demo(Controller& host, const WindowDemoOptions& options) {
  return options.headless ? run_headless(host, options) : run_interactive(host, options);
}

}  // namespace lumora::demo
