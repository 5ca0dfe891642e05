// A real terminal emulator judges our output: the host runs in a tmux pane,
// and what tmux shows must be what a headless snapshot of the same scene says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/controller.h"
#include "platform/clock.h"
#include "support/host_fixture.h"

namespace lumora {
namespace {

constexpr int kColumns = 100;
constexpr int kRows = 30;
constexpr double kCommandSeconds = 10;
// Generous: the pane redraws asynchronously and the machine may be busy.
constexpr double kSettleSeconds = 10;
constexpr double kPollSeconds = 0.05;

// The terminal state a full-screen program changes, as tmux sees it.
constexpr const char* kModes = "#{alternate_on} #{cursor_flag} #{wrap_flag} #{mouse_all_flag} #{mouse_sgr_flag}";
constexpr const char* kTakenOver = "1 0 0 1 1";
constexpr const char* kShellModes = "0 1 1 0 0";

// Box drawing (rounded and square), colours and gradients under text, CJK
// wide characters at even and odd columns, text clipped at the right edge
// and text in the last cell of the last row (no wrap, no scroll). No emoji:
// terminals disagree about their widths.
constexpr const char* kScene = R"({"op":"frame","commands":[
  ["begin","#0d1117"],
  ["styled_rect",[8,16,400,160],{"fill":"#1b2233","fill_end":"#283352","border":"#6d83c4","border_width":1,"radius":8}],
  ["text"," Panel ",24,16,"#ffd479",16,true],
  ["text","Plain text: the quick brown fox",24,48,"#e6e9f2",16,true],
  ["text","CJK 你好，世界 こんにちは 안녕하세요",24,64,"#ff8080",16,true],
  ["text","Odd  漢字かな混じり文",32,80,"#80ff80",16,true],
  ["text","Greek Καλημέρα, Cyrillic Привет",24,96,"#8080ff",16,true],
  ["styled_rect",[440,16,320,96],{"fill":"#402020","border":"#ffffff","border_width":1}],
  ["text","Square box",456,48,"#ffffff",16,true],
  ["gradient_rect",[0,224,800,48],"#243b6b","#6a2c70","horizontal",0,0],
  ["text","On a gradient: 漢字 and ASCII",16,240,"#ffffff",16,true],
  ["rect",[640,224,80,48],"#c04040",0,"",0],
  ["text","Clipped at the edge: 一二三四五六七八九十",584,320,"#ffffff",16,true],
  ["text","last cell of the last row",600,464,"#ffd479",16,true]
]})";

// The same scene changed in place, so that only changed cells are written:
// wide characters move by one column (each half of a pair changes), text
// gets shorter, the square box goes and colours change under kept text.
constexpr const char* kChangedScene = R"({"op":"frame","commands":[
  ["begin","#0d1117"],
  ["styled_rect",[8,16,400,160],{"fill":"#1b2233","fill_end":"#283352","border":"#6d83c4","border_width":1,"radius":8}],
  ["text"," Panel ",24,16,"#ffd479",16,true],
  ["text","Plain text",24,48,"#e6e9f2",16,true],
  ["text","CJK  你好，世界 こんにちは",24,64,"#ff8080",16,true],
  ["text","Odd 漢字かな混じり文",32,80,"#80ff80",16,true],
  ["text","Greek Καλημέρα, Cyrillic Привет",24,96,"#ffffff",16,true],
  ["gradient_rect",[0,224,800,48],"#6a2c70","#243b6b","horizontal",0,0],
  ["text","On a gradient: 漢字 and ASCII",16,240,"#ffffff",16,true],
  ["text","Clipped at the edge: 一二三四五六七八九十",576,320,"#ffffff",16,true],
  ["text","last cell of the last row",600,464,"#ffd479",16,true]
]})";

std::string trim_right(std::string row) {
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}

std::vector<std::string> split_rows(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream stream(text);
  for (std::string row; std::getline(stream, row);) rows.push_back(trim_right(row));
  return rows;
}

std::string numbered(const std::vector<std::string>& rows) {
  std::string text;
  for (std::size_t index = 0; index < rows.size(); ++index) {
    text += (index < 10 ? " " : "") + std::to_string(index) + "|" + rows[index] + "\n";
  }
  return text;
}

// The rows a headless terminal of the same size shows after each scene.
std::vector<std::vector<std::string>> headless_rows(const std::vector<const char*>& scenes) {
  std::vector<std::vector<std::string>> shown;
  auto host = test::launch_headless_host(kColumns, kRows);
  if (!host) return shown;
  for (const char* scene : scenes) {
    EXPECT_TRUE(test::reply_ok(host->request(scene)));
    auto snapshot = host->request(R"({"op":"snapshot"})");
    EXPECT_TRUE(test::reply_ok(snapshot));
    if (!snapshot || !snapshot->ok) return shown;
    std::vector<std::string>& rows = shown.emplace_back();
    for (int row = 0; row < kRows; ++row) rows.push_back(trim_right(test::snapshot_row(snapshot->result.get(), row)));
  }
  EXPECT_TRUE(host->close());
  return shown;
}

class TemporaryDirectory {
 public:
  TemporaryDirectory()
      : path_(std::filesystem::temp_directory_path() / ("lumora-tmux-" + client::make_token().substr(0, 16))) {
    std::filesystem::create_directory(path_);
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A private tmux server on a socket of its own, killed when the test ends
// however it ends; the socket goes with its directory.
class TmuxServer {
 public:
  TmuxServer() : socket_((directory_.path() / "tmux.socket").string()) {}
  ~TmuxServer() { run({"kill-server"}); }
  TmuxServer(const TmuxServer&) = delete;
  TmuxServer& operator=(const TmuxServer&) = delete;

  static bool installed() { return client::run_process("tmux", {"-V"}, kCommandSeconds).exit_code == 0; }

  client::ProcessResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-S", socket_, "-f", "/dev/null"});
    return client::run_process("tmux", args, kCommandSeconds);
  }

  // The command line that starts a detached session of a fixed size, without
  // a status line, whose one pane runs the program that follows.
  std::vector<std::string> new_session(const std::string& session, int rows = kRows, int columns = kColumns) const {
    return {"tmux", "-S", socket_, "-f", "/dev/null", "set-option", "-g", "status", "off", ";", "new-session", "-d",
            "-s", session, "-x", std::to_string(columns), "-y", std::to_string(rows)};
  }

  bool start(const std::string& session, int rows, const std::vector<std::string>& program,
             int columns = kColumns) const {
    std::vector<std::string> args = new_session(session, rows, columns);
    args.insert(args.end(), program.begin(), program.end());
    return client::run_process("tmux", {args.begin() + 1, args.end()}, kCommandSeconds).exit_code == 0;
  }

  std::string capture(const std::string& session) const {
    return run({"capture-pane", "-p", "-t", session}).standard_output;
  }

  std::string format(const std::string& session, const std::string& format) const {
    std::string value = run({"display-message", "-p", "-t", session, format}).standard_output;
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  // Polls the pane until `done` holds for its rows; the last capture either way.
  std::vector<std::string> wait_for(const std::string& session,
                                    const std::function<bool(const std::vector<std::string>&)>& done) const {
    const double deadline = platform::now_seconds() + kSettleSeconds;
    std::vector<std::string> rows = split_rows(capture(session));
    while (!done(rows) && platform::now_seconds() < deadline) {
      platform::sleep_seconds(kPollSeconds);
      rows = split_rows(capture(session));
    }
    return rows;
  }

  bool send_keys(const std::string& session, std::vector<std::string> keys) const {
    keys.insert(keys.begin(), {"send-keys", "-t", session});
    return run(keys).exit_code == 0;
  }

  const std::string& socket() const { return socket_; }

 private:
  TemporaryDirectory directory_;
  std::string socket_;
};

bool contains(const std::vector<std::string>& rows, std::string_view text) {
  for (const std::string& row : rows) {
    if (row.find(text) != std::string::npos) return true;
  }
  return false;
}

class TerminalTmuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TmuxServer::installed()) GTEST_SKIP() << "tmux is not installed";
  }
};

TEST_F(TerminalTmuxTest, PaneShowsTheSameRowsAsAHeadlessSnapshot) {
  const std::vector<const char*> scenes = {kScene, kChangedScene};
  std::vector<std::vector<std::string>> expected = headless_rows(scenes);
  ASSERT_EQ(expected.size(), scenes.size());

  TmuxServer tmux;
  client::LaunchOptions options = test::default_host_options();
  options.launcher = tmux.new_session("host");
  std::string error;
  auto host = client::Controller::launch(options, &error);
  ASSERT_TRUE(host) << error;
  ASSERT_TRUE(test::reply_ok(host->request(R"({"op":"open","backend":"terminal","color":"truecolor"})")));
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_EQ(test::number_member(info->result.get(), "columns"), kColumns);
  EXPECT_EQ(test::number_member(info->result.get(), "rows"), kRows);

  // The first frame is written whole, the second as the difference.
  for (std::size_t index = 0; index < scenes.size(); ++index) {
    SCOPED_TRACE(index == 0 ? "whole frame" : "changed cells only");
    ASSERT_EQ(expected[index].size(), static_cast<std::size_t>(kRows));
    ASSERT_TRUE(test::reply_ok(host->request(scenes[index])));
    std::vector<std::string> shown = tmux.wait_for("host", [&](const auto& rows) { return rows == expected[index]; });
    EXPECT_EQ(shown, expected[index]) << "tmux shows:\n"
                                      << numbered(shown) << "the snapshot says:\n"
                                      << numbered(expected[index]);
  }
  EXPECT_NE(expected[0], expected[1]);
  // What we wrote left the pane in the modes we asked for.
  EXPECT_EQ(tmux.format("host", kModes), kTakenOver);
  EXPECT_TRUE(host->close());
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The children of a process, as the kernel lists them; empty when it does not.
std::optional<std::vector<std::string>> child_ids(const std::string& id) {
  std::ifstream file("/proc/" + id + "/task/" + id + "/children");
  if (!file) return std::nullopt;
  std::vector<std::string> ids;
  for (std::string child; file >> child;) ids.push_back(child);
  return ids;
}

bool send_signal(const std::string& id, const char* signal_name) {
  return client::run_process("/bin/sh", {"-c", std::string("kill -") + signal_name + " " + id}, kCommandSeconds)
             .exit_code == 0;
}

// How the demo's session ends, and the exit code the shell then sees.
enum class DemoEnd { quit_key, interrupt_demo, kill_host };
struct DemoEndCase {
  const char* name;
  DemoEnd end;
  int exit_code;
};

constexpr int kDemoRows = 32;

class TerminalTmuxDemoTest : public ::testing::TestWithParam<DemoEndCase> {};

// The demo runs from a shell in a tmux pane, echoes a key and a click, and
// however it ends the shell gets back its screen, its cursor, no mouse
// reporting and its termios modes byte for byte. A killed host cannot
// restore anything: the demo then does it itself.
TEST_P(TerminalTmuxDemoTest, ShellGetsItsTerminalBackUnchanged) {
  if (!TmuxServer::installed()) GTEST_SKIP() << "tmux is not installed";
  const std::filesystem::path host = LUMORA_HOST_PATH;
  const std::filesystem::path demo = test::built_demo_path();
  if (demo.empty()) GTEST_SKIP() << "lumora-demo is not built next to " << host;
  TemporaryDirectory directory;
  const std::filesystem::path before = directory.path() / "before";
  const std::filesystem::path after = directory.path() / "after";

  TmuxServer tmux;
  // The demo lays out 32 rows, its footer in the last.
  ASSERT_TRUE(tmux.start("shell", kDemoRows, {"env", "PS1=lumora-test$ ", "/bin/sh"}));
  auto rows = tmux.wait_for("shell", [](const auto& rows) { return contains(rows, "lumora-test$"); });
  ASSERT_TRUE(contains(rows, "lumora-test$")) << numbered(rows);
  const std::string line = "stty -g > '" + before.string() + "'; '" + demo.string() + "' --host '" + host.string() +
                           "'; echo demo-exit=$?; stty -g > '" + after.string() + "'";
  ASSERT_TRUE(tmux.send_keys("shell", {"-l", line}));
  ASSERT_TRUE(tmux.send_keys("shell", {"Enter"}));

  rows = tmux.wait_for("shell", [](const auto& rows) { return contains(rows, "q, Esc or Ctrl+Q quits"); });
  ASSERT_TRUE(contains(rows, "q, Esc or Ctrl+Q quits")) << numbered(rows);
  EXPECT_EQ(tmux.format("shell", kModes), kTakenOver);
  ASSERT_TRUE(tmux.send_keys("shell", {"-l", "x"}));
  rows = tmux.wait_for("shell", [](const auto& rows) { return contains(rows, "text  \"x\""); });
  EXPECT_TRUE(contains(rows, "text  \"x\"")) << numbered(rows);
  // A left click on column 10, row 5, as the terminal reports it.
  ASSERT_TRUE(tmux.send_keys("shell", {"-l", "\x1b[<0;10;5M\x1b[<0;10;5m"}));
  rows = tmux.wait_for("shell", [](const auto& rows) { return contains(rows, "pointer_up  x=76 y=72 button=1"); });
  EXPECT_TRUE(contains(rows, "pointer_down  x=76 y=72 button=1")) << numbered(rows);

  const DemoEndCase& how = GetParam();
  if (how.end == DemoEnd::quit_key) {
    ASSERT_TRUE(tmux.send_keys("shell", {"q"}));
  } else {
    auto demo_ids = child_ids(tmux.format("shell", "#{pane_pid}"));
    if (!demo_ids) GTEST_SKIP() << "the kernel does not list a process's children in /proc";
    ASSERT_EQ(demo_ids->size(), 1u) << "the shell should run the demo alone";
    if (how.end == DemoEnd::interrupt_demo) {
      ASSERT_TRUE(send_signal(demo_ids->front(), "INT"));
    } else {
      auto host_ids = child_ids(demo_ids->front());
      ASSERT_TRUE(host_ids && host_ids->size() == 1u) << "the demo should run one host";
      ASSERT_TRUE(send_signal(host_ids->front(), "KILL"));
    }
  }
  const std::string exit_line = "demo-exit=" + std::to_string(how.exit_code);
  rows = tmux.wait_for("shell",
                       [&](const auto& rows) { return contains(rows, "demo-exit=") && !read_text(after).empty(); });
  EXPECT_TRUE(contains(rows, exit_line)) << numbered(rows);
  EXPECT_FALSE(contains(rows, "q, Esc or Ctrl+Q quits")) << "the demo's screen is still shown:\n" << numbered(rows);
  EXPECT_EQ(tmux.format("shell", kModes), kShellModes);
  EXPECT_FALSE(read_text(before).empty());
  EXPECT_EQ(read_text(after), read_text(before));
}

INSTANTIATE_TEST_SUITE_P(DemoEnds, TerminalTmuxDemoTest,
                         ::testing::Values(DemoEndCase{"QuitKey", DemoEnd::quit_key, 0},
                                           DemoEndCase{"InterruptedDemo", DemoEnd::interrupt_demo, 0},
                                           DemoEndCase{"KilledHost", DemoEnd::kill_host, 1}),
                         [](const ::testing::TestParamInfo<DemoEndCase>& info) { return info.param.name; });

// ---- Signals ----

constexpr const char* kFrameText = "lumora signal test frame";
constexpr const char* kSignalScene =
    R"({"op":"frame","commands":[["begin","#101820"],["text","lumora signal test frame",16,32,"#ffd479",16,true]]})";

// A shell in a pane with job control, and a host it runs as its foreground
// job: the controller's launcher types the host's command line into the
// shell, as a user starting it by hand would.
class HostInShell {
 public:
  explicit HostInShell(const TmuxServer& tmux) : tmux_(tmux) {}

  // False (with a failed assertion) when anything on the way did not work.
  void start() {
    ASSERT_TRUE(tmux_.start("shell", kRows, {"env", "PS1=lumora-test$ ", "/bin/sh"}));
    auto rows = tmux_.wait_for("shell", [](const auto& rows) { return contains(rows, "lumora-test$"); });
    ASSERT_TRUE(contains(rows, "lumora-test$")) << numbered(rows);
    type_line("stty -g > '" + before_.string() + "'");
    const std::string send_keys = "tmux -S '" + tmux_.socket() + "' -f /dev/null send-keys -t shell";
    client::LaunchOptions options = test::default_host_options();
    options.launcher = {"/bin/sh", "-c",
                        send_keys + " -l \"$* ; echo host-exit=\\$?\" && " + send_keys + " Enter", "launch"};
    std::string error;
    host_ = client::Controller::launch(options, &error);
    ASSERT_TRUE(host_) << error;
    ASSERT_TRUE(test::reply_ok(host_->request(R"({"op":"open","backend":"terminal","color":"truecolor"})")));
    ASSERT_TRUE(test::reply_ok(host_->request(kSignalScene)));
    expect_taken_over();
    auto shell_children = child_ids(tmux_.format("shell", "#{pane_pid}"));
    if (!shell_children) GTEST_SKIP() << "the kernel does not list a process's children in /proc";
    ASSERT_EQ(shell_children->size(), 1u) << "the shell should run the host alone";
    host_id_ = shell_children->front();
  }

  void expect_taken_over() {
    auto rows = tmux_.wait_for("shell", [&](const auto& rows) {
      return contains(rows, kFrameText) && tmux_.format("shell", kModes) == kTakenOver;
    });
    EXPECT_TRUE(contains(rows, kFrameText)) << numbered(rows);
    EXPECT_EQ(tmux_.format("shell", kModes), kTakenOver);
  }

  // The pane is the shell's again: normal screen, cursor shown, its termios
  // modes byte for byte, and what is typed is echoed and run.
  void expect_given_back(const std::string& shown) {
    auto rows = tmux_.wait_for("shell", [&](const auto& rows) {
      return contains(rows, shown) && tmux_.format("shell", kModes) == kShellModes;
    });
    EXPECT_TRUE(contains(rows, shown)) << numbered(rows);
    EXPECT_EQ(tmux_.format("shell", kModes), kShellModes);
    type_line("stty -g > '" + after_.string() + "'; echo typed-$((6 * 7))");
    rows = tmux_.wait_for("shell", [&](const auto& rows) { return contains(rows, "typed-42"); });
    EXPECT_TRUE(contains(rows, "echo typed-$((6 * 7))")) << "not echoed:\n" << numbered(rows);
    EXPECT_TRUE(contains(rows, "typed-42")) << numbered(rows);
    EXPECT_FALSE(read_text(before_).empty());
    EXPECT_EQ(read_text(after_), read_text(before_));
  }

  void type_line(const std::string& line) {
    ASSERT_TRUE(tmux_.send_keys("shell", {"-l", line}));
    ASSERT_TRUE(tmux_.send_keys("shell", {"Enter"}));
  }

  client::Controller& host() { return *host_; }
  const std::string& host_id() const { return host_id_; }

 private:
  const TmuxServer& tmux_;
  TemporaryDirectory directory_;
  std::filesystem::path before_ = directory_.path() / "before";
  std::filesystem::path after_ = directory_.path() / "after";
  std::unique_ptr<client::Controller> host_;
  std::string host_id_;
};

struct SignalCase {
  const char* name;
  int number;
};

class TerminalTmuxSignalTest : public ::testing::TestWithParam<SignalCase> {
 protected:
  void SetUp() override {
    if (!TmuxServer::installed()) GTEST_SKIP() << "tmux is not installed";
  }
};

// A termination signal gives the terminal back exactly as "close" would and
// ends the host with 128 + the signal's number.
TEST_P(TerminalTmuxSignalTest, TerminationGivesTheTerminalBackAndExitsWithTheSignalsCode) {
  TmuxServer tmux;
  HostInShell shell(tmux);
  ASSERT_NO_FATAL_FAILURE(shell.start());
  if (IsSkipped()) return;
  ASSERT_TRUE(send_signal(shell.host_id(), GetParam().name));
  shell.expect_given_back("host-exit=" + std::to_string(128 + GetParam().number));
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminalTmuxSignalTest,
                         ::testing::Values(SignalCase{"TERM", 15}, SignalCase{"INT", 2}, SignalCase{"QUIT", 3},
                                           SignalCase{"HUP", 1}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

// A stop gives the terminal back and stops the host; "fg" continues it,
// and it takes the terminal again and draws its frame whole.
TEST_F(TerminalTmuxTest, StopGivesTheTerminalBackAndContinuingRedrawsInFull) {
  TmuxServer tmux;
  HostInShell shell(tmux);
  ASSERT_NO_FATAL_FAILURE(shell.start());
  if (IsSkipped()) return;
  ASSERT_TRUE(send_signal(shell.host_id(), "TSTP"));
  // The shell sees its job stopped (148 = 128 + SIGTSTP) and takes over.
  shell.expect_given_back("host-exit=148");
  shell.type_line("fg; echo fg-exit=$?");
  shell.expect_taken_over();
  auto info = shell.host().request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_TRUE(shell.host().close());
  auto rows = tmux.wait_for("shell", [](const auto& rows) { return contains(rows, "fg-exit=0"); });
  EXPECT_TRUE(contains(rows, "fg-exit=0")) << numbered(rows);
  EXPECT_EQ(tmux.format("shell", kModes), kShellModes);
}

// ---- The demo in smaller terminals ----

struct DemoSizeCase {
  const char* name;
  int columns;
  int rows;
};

class TerminalTmuxDemoSizeTest : public ::testing::TestWithParam<DemoSizeCase> {};

TEST_P(TerminalTmuxDemoSizeTest, EventsPanelAndQuitHintFit) {
  if (!TmuxServer::installed()) GTEST_SKIP() << "tmux is not installed";
  const std::filesystem::path host = LUMORA_HOST_PATH;
  const std::filesystem::path demo = test::built_demo_path();
  if (demo.empty()) GTEST_SKIP() << "lumora-demo is not built next to " << host;
  const DemoSizeCase& size = GetParam();
  TmuxServer tmux;
  ASSERT_TRUE(tmux.start("demo", size.rows, {demo.string(), "--host", host.string()}, size.columns));
  auto rows = tmux.wait_for("demo", [](const auto& rows) {
    return contains(rows, "q, Esc or Ctrl+Q quits") && contains(rows, " Events ");
  });
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(size.rows)) << numbered(rows);
  EXPECT_TRUE(contains(rows, " Events (type, click, scroll, paste) ")) << numbered(rows);
  EXPECT_NE(rows.back().find("q, Esc or Ctrl+Q quits"), std::string::npos) << numbered(rows);
  // Typed text shows in the Events panel.
  ASSERT_TRUE(tmux.send_keys("demo", {"-l", "x"}));
  rows = tmux.wait_for("demo", [](const auto& rows) { return contains(rows, "text  \"x\""); });
  EXPECT_TRUE(contains(rows, "text  \"x\"")) << numbered(rows);
  ASSERT_TRUE(tmux.send_keys("demo", {"q"}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TerminalTmuxDemoSizeTest,
                         ::testing::Values(DemoSizeCase{"Columns81Rows24", 81, 24},
                                           DemoSizeCase{"Columns60Rows20", 60, 20}),
                         [](const ::testing::TestParamInfo<DemoSizeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace lumora
