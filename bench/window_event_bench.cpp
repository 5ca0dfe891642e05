// Window input through the real host, under a private Xvfb on the x11
// driver:
// - key to event: an XTest key press until its "key_down" frame reaches the
//   controller, beside the loopback ping-pong floor of the same run;
// - idle processor time of a host with an open, shown window and nothing to
//   do, beside a thread that sleeps 10 ms at a time over the same span (the
//   host's own wait cap), on x11 and on the offscreen driver;
// - a burst of pointer moves, far more than one event pump takes, with
//   commands answered meanwhile and every move counted at the controller.
// The x11 figures skip with a message when Xvfb, xdotool or XTest is missing.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/controller.h"
#include "loopback_floor.h"
#include "process_cpu.h"

// Last: Xlib's macros (None, Bool, Status) must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using lumora::client::Controller;
using lumora::client::Message;
namespace bench = lumora::bench;
namespace client = lumora::client;

constexpr double kCommandSeconds = 20;
constexpr double kEventSeconds = 5;
constexpr int kKeyPresses = 1000;
constexpr int kWarmUpPresses = 20;
constexpr double kIdleSeconds = 10;  // long enough that one wake-up more or less does not show
constexpr int kBurstMoves = 10000;
constexpr int kMovesBetweenCommands = 500;
constexpr char kTitle[] = "lumora-window-event-bench";

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

bool installed(const char* program) {
  return client::run_process("sh", {"-c", std::string("command -v ") + program}, kCommandSeconds).exit_code == 0;
}

// Xvfb on a display it picks itself; killed with the object.
class Xvfb {
 public:
  Xvfb() : display_file_("/tmp/lumora-bench-xvfb-" + client::make_token().substr(0, 16)) {
    const std::string script = "Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>'" + display_file_ +
                               "' >/dev/null 2>&1 & echo $!";
    client::ProcessResult started = client::run_process("sh", {"-c", script}, kCommandSeconds);
    if (started.exit_code != 0) return;
    pid_ = trim(started.standard_output);
    const std::string wait = "for i in $(seq 100); do [ -s '" + display_file_ +
                             "' ] && break; sleep 0.1; done; cat '" + display_file_ + "'";
    const std::string number = trim(client::run_process("sh", {"-c", wait}, kCommandSeconds).standard_output);
    if (!number.empty()) display_ = ":" + number;
  }
  ~Xvfb() {
    if (!pid_.empty()) client::run_process("kill", {pid_}, kCommandSeconds);
    std::remove(display_file_.c_str());
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& display() const { return display_; }

  client::ProcessResult xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), {"DISPLAY=" + display_, "xdotool"});
    return client::run_process("env", args, kCommandSeconds);
  }

 private:
  std::string display_file_;
  std::string pid_;
  std::string display_;
};

// XTest, loaded at run time: only its shared library is installed, not its
// headers, and only these benchmarks need it.
struct XTest {
  using FakeKey = int (*)(Display*, unsigned int, Bool, unsigned long);
  using FakeMotion = int (*)(Display*, int, int, int, unsigned long);
  void* library = nullptr;
  FakeKey fake_key = nullptr;
  FakeMotion fake_motion = nullptr;

  XTest() {
    library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    fake_key = reinterpret_cast<FakeKey>(dlsym(library, "XTestFakeKeyEvent"));
    fake_motion = reinterpret_cast<FakeMotion>(dlsym(library, "XTestFakeMotionEvent"));
  }
  ~XTest() {
    if (library != nullptr) dlclose(library);
  }
  XTest(const XTest&) = delete;
  XTest& operator=(const XTest&) = delete;
  bool usable() const { return fake_key != nullptr && fake_motion != nullptr; }
};

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

client::LaunchOptions host_options(std::vector<std::string> environment) {
  client::LaunchOptions options;
  options.host_path = LUMORA_HOST_PATH;
  options.environment = std::move(environment);
  return options;
}

std::string open_command(const char* size) {
  return std::string(R"({"op":"open","backend":"window",)") + size + R"(,"title":")" + kTitle + "\"}";
}

// A host with a shown window under its own X server, the window focused,
// and a second X connection that injects input.
struct X11Session {
  std::unique_ptr<Xvfb> server;
  std::unique_ptr<XTest> xtest;
  DisplayPtr display;
  std::unique_ptr<Controller> host;
  unsigned long window = 0;
  std::string failure;  // why it could not be set up

  bool start() {
    if (!installed("Xvfb") || !installed("xdotool")) return fail("Xvfb or xdotool is not installed");
    xtest = std::make_unique<XTest>();
    if (!xtest->usable()) return fail("libXtst.so.6 could not be loaded");
    server = std::make_unique<Xvfb>();
    if (server->display().empty()) return fail("Xvfb could not start");
    display.reset(XOpenDisplay(server->display().c_str()));
    if (display == nullptr) return fail("cannot connect to Xvfb");
    std::string error;
    host = Controller::launch(
        host_options({"DISPLAY=" + server->display(), "SDL_VIDEODRIVER=x11", "SDL_RENDER_DRIVER=software"}), &error);
    if (!host) return fail("could not start the host: " + error);
    auto opened = host->request(open_command(R"("width":200,"height":100)"));
    if (!opened || !opened->ok) return fail("the window did not open");
    auto committed = host->request(R"({"op":"frame","commands":[["begin","#203040"]]})");
    if (!committed || !committed->ok) return fail("the first frame failed");
    client::ProcessResult found = server->xdotool({"search", "--sync", "--name", kTitle});
    if (found.exit_code != 0) return fail("the window was not found");
    window = std::strtoul(found.standard_output.c_str(), nullptr, 10);
    if (server->xdotool({"windowfocus", "--sync", std::to_string(window)}).exit_code != 0) {
      return fail("the window could not be focused");
    }
    drain_for(0.3);
    return true;
  }

  bool fail(std::string why) {
    failure = std::move(why);
    return false;
  }

  // Takes every message that arrives within `seconds` of quiet.
  void drain_for(double seconds) {
    while (host->next_message(seconds)) {
    }
  }

  // The next event of `kind`, skipping others; false on time-out.
  bool wait_for(const char* kind) {
    for (;;) {
      std::optional<Message> message = host->next_message(kEventSeconds);
      if (!message) return false;
      const cJSON* item = cJSON_GetObjectItemCaseSensitive(message->body.get(), "kind");
      if (cJSON_IsString(item) && std::string(item->valuestring) == kind) return true;
    }
  }

  void key(unsigned int keycode, bool press) {
    xtest->fake_key(display.get(), keycode, press ? True : False, CurrentTime);
    XFlush(display.get());
  }
};

void BM_WindowKeyToEvent(benchmark::State& state) {
  X11Session session;
  if (!session.start()) {
    state.SkipWithError(session.failure.c_str());
    return;
  }
  const unsigned int keycode = XKeysymToKeycode(session.display.get(), XK_a);
  bench::Percentiles latency;
  bench::Percentiles floor;
  for (auto _ : state) {
    std::vector<double> samples;
    samples.reserve(kKeyPresses);
    for (int press = 0; press < kWarmUpPresses + kKeyPresses; ++press) {
      const double start = seconds_now();
      session.key(keycode, true);
      if (!session.wait_for("key_down")) {
        state.SkipWithError("a key press did not arrive");
        return;
      }
      const double arrived = seconds_now();
      session.key(keycode, false);
      if (!session.wait_for("key_up")) {
        state.SkipWithError("a key release did not arrive");
        return;
      }
      if (press >= kWarmUpPresses) samples.push_back(arrived - start);
    }
    latency = bench::percentiles(std::move(samples));
    const std::string event = R"({"kind":"key_down","key":"a","shift":false,"ctrl":false})";
    std::vector<double> bare = bench::floor_samples(16, event.size(), kKeyPresses, kWarmUpPresses);
    if (bare.empty()) {
      state.SkipWithError("The loopback ping-pong failed");
      return;
    }
    floor = bench::percentiles(std::move(bare));
  }
  state.counters["presses"] = kKeyPresses;
  state.counters["p50_us"] = latency.p50;
  state.counters["p50_us_floor"] = floor.p50;
  state.counters["p99_us"] = latency.p99;
  state.counters["p99_us_floor"] = floor.p99;
  state.counters["p50_above_floor_us"] = latency.p50 - floor.p50;
  session.host->close();
}
BENCHMARK(BM_WindowKeyToEvent)->Iterations(1)->Unit(benchmark::kMillisecond);

// Voluntary context switches of every thread: how often the process slept.
double process_wakeups(int pid) {
  return bench::sum_over_threads(pid, [](const std::string& task) {
    std::ifstream status(task + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atof(line.c_str() + 24);
    }
    return 0.0;
  });
}

double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct IdleFigures {
  double host_cpu_percent = 0;
  double sleeping_cpu_percent = 0;
  double host_wakeups_per_second = 0;
};

// The host's processor time over kIdleSeconds of nothing to do, while a
// thread of this process sleeps 10 ms at a time for as long.
bool measure_idle(Controller& host, IdleFigures& figures) {
  const int pid = host.process_id();
  double sleeping_cpu = 0;
  const double cpu_before = bench::process_threads_cpu_seconds(pid);
  const double wakeups_before = process_wakeups(pid);
  const double start = seconds_now();
  std::thread sleeper([&sleeping_cpu] {
    const double thread_start = thread_cpu_seconds();
    const double until = seconds_now() + kIdleSeconds;
    while (seconds_now() < until) poll(nullptr, 0, 10);
    sleeping_cpu = thread_cpu_seconds() - thread_start;
  });
  sleeper.join();
  const double span = seconds_now() - start;
  const double cpu_after = bench::process_threads_cpu_seconds(pid);
  const double wakeups_after = process_wakeups(pid);
  if (cpu_before < 0 || cpu_after < 0 || span <= 0) return false;
  figures.host_cpu_percent = (cpu_after - cpu_before) / span * 100;
  figures.sleeping_cpu_percent = sleeping_cpu / span * 100;
  figures.host_wakeups_per_second = (wakeups_after - wakeups_before) / span;
  return true;
}

void report_idle(benchmark::State& state, const IdleFigures& figures) {
  state.counters["cpu_percent"] = figures.host_cpu_percent;
  state.counters["cpu_percent_sleeping"] = figures.sleeping_cpu_percent;
  state.counters["host_wakeups_per_second"] = figures.host_wakeups_per_second;
}

void BM_WindowIdleCpuX11(benchmark::State& state) {
  X11Session session;
  if (!session.start()) {
    state.SkipWithError(session.failure.c_str());
    return;
  }
  IdleFigures figures;
  for (auto _ : state) {
    if (!measure_idle(*session.host, figures)) {
      state.SkipWithError("the host's processor time could not be read");
      return;
    }
  }
  report_idle(state, figures);
  session.host->close();
}
BENCHMARK(BM_WindowIdleCpuX11)->Iterations(1)->Unit(benchmark::kMillisecond);

// The offscreen driver has no descriptor to wait on: the host waits on its
// socket alone, 10 ms at a time, and pumps SDL after each wait.
void BM_WindowIdleCpuOffscreen(benchmark::State& state) {
  std::string error;
  auto host = Controller::launch(host_options({"SDL_VIDEODRIVER=offscreen", "SDL_RENDER_DRIVER=software"}), &error);
  if (!host) {
    state.SkipWithError(("could not start the host: " + error).c_str());
    return;
  }
  auto opened = host->request(open_command(R"("width":200,"height":100)"));
  auto committed = host->request(R"({"op":"frame","commands":[["begin","#203040"]]})");
  if (!opened || !opened->ok || !committed || !committed->ok) {
    state.SkipWithError("the offscreen window did not open");
    return;
  }
  while (host->next_message(0.3)) {
  }
  IdleFigures figures;
  for (auto _ : state) {
    if (!measure_idle(*host, figures)) {
      state.SkipWithError("the host's processor time could not be read");
      return;
    }
  }
  report_idle(state, figures);
  host->close();
}
BENCHMARK(BM_WindowIdleCpuOffscreen)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_WindowPointerBurst(benchmark::State& state) {
  X11Session session;
  if (!session.start()) {
    state.SkipWithError(session.failure.c_str());
    return;
  }
  Display* display = session.display.get();
  int left = 0, top = 0;
  Window child = 0;
  XTranslateCoordinates(display, session.window, DefaultRootWindow(display), 0, 0, &left, &top, &child);
  const int screen = DefaultScreen(display);
  // Start inside the window, then swing between two points so that every
  // injected move is a real change of position.
  session.xtest->fake_motion(display, screen, left + 50, top + 50, CurrentTime);
  XFlush(display);
  session.drain_for(0.3);

  int received = 0;
  int commands = 0;
  double slowest_reply = 0;
  double burst_seconds = 0;
  for (auto _ : state) {
    const double start = seconds_now();
    for (int move = 0; move < kBurstMoves; ++move) {
      const int offset = move % 2 == 0 ? 60 : 50;
      session.xtest->fake_motion(display, screen, left + offset, top + offset, CurrentTime);
      if ((move + 1) % kMovesBetweenCommands == 0) {
        XFlush(display);
        // The host must keep answering while the moves pour in.
        const double asked = seconds_now();
        auto reply = session.host->request(R"({"op":"stats"})", kCommandSeconds);
        if (!reply || !reply->ok) {
          state.SkipWithError("a command went unanswered during the burst");
          return;
        }
        slowest_reply = std::max(slowest_reply, seconds_now() - asked);
        ++commands;
      }
    }
    XFlush(display);
    // Moves that arrived while waiting for replies were kept in order.
    while (received < kBurstMoves) {
      std::optional<Message> message = session.host->next_message(kEventSeconds);
      if (!message) break;
      const cJSON* kind = cJSON_GetObjectItemCaseSensitive(message->body.get(), "kind");
      if (cJSON_IsString(kind) && std::string(kind->valuestring) == "pointer_move") ++received;
    }
    burst_seconds = seconds_now() - start;
  }
  state.counters["moves_sent"] = kBurstMoves;
  state.counters["moves_received"] = received;
  state.counters["moves_lost"] = kBurstMoves - received;
  state.counters["commands_answered"] = commands;
  state.counters["slowest_reply_ms"] = slowest_reply * 1e3;
  state.counters["burst_ms"] = burst_seconds * 1e3;
  state.counters["moves_per_second"] = burst_seconds > 0 ? received / burst_seconds : 0;
  session.host->close();
}
BENCHMARK(BM_WindowPointerBurst)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
