// Window events under a real X server: a private Xvfb on a display of its
// own, the host on the x11 driver, and xdotool typing and clicking into the
// host's window through XTest, as a user would; close requests and focus
// changes come over an X connection of the test's own, as from a window
// manager. Skipped with a message when Xvfb or xdotool is missing or the
// server cannot start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/controller.h"
#include "support/xvfb_server.h"
#include "support/host_fixture.h"
#include "support/x11_client.h"

namespace lumora {
namespace {

using test::string_member;

constexpr double kCommandSeconds = 20;
constexpr double kEventSeconds = 10;
constexpr char kWindowTitle[] = "lumora-window-events-test";

using test::XvfbServer;

using test::program_installed;

// SDL's x11 driver opens a D-Bus connection that libdbus keeps until the
// process ends; the leak checker of sanitizer builds must not count it.
std::string leak_suppressions() {
  const std::string path = testing::TempDir() + "lumora-x11-leaks.supp";
  std::ofstream(path) << "leak:libdbus-1.so\n";
  return path;
}

class WindowEventsX11Test : public testing::Test {
 protected:
  void SetUp() override {
    if (!program_installed("Xvfb") || !program_installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    server_ = std::make_unique<XvfbServer>("800x600x24");
    if (server_->display().empty()) GTEST_SKIP() << "Xvfb could not start";
    client::LaunchOptions options = test::default_host_options();
    options.environment = {"DISPLAY=" + server_->display(), "SDL_VIDEODRIVER=x11", "SDL_RENDER_DRIVER=software",
                           "LSAN_OPTIONS=suppressions=" + leak_suppressions()};
    host_ = test::launch_host(options);
    ASSERT_TRUE(host_);
    ASSERT_TRUE(test::reply_ok(host_->request(std::string(R"({"op":"open","backend":"window",)") + open_size() +
                                              R"(,"title":")" + kWindowTitle + "\"}")));
    client::ProcessResult found = server_->xdotool({"search", "--sync", "--name", kWindowTitle});
    ASSERT_EQ(found.exit_code, 0) << found.standard_error;
    window_ = found.standard_output.substr(0, found.standard_output.find('\n'));
    ASSERT_FALSE(window_.empty());
    client::ProcessResult focused = server_->xdotool({"windowfocus", "--sync", window_});
    ASSERT_EQ(focused.exit_code, 0) << focused.standard_error;
  }

  // The "width" and "height" members of "open".
  virtual std::string open_size() const { return R"("width":200,"height":100)"; }

  void TearDown() override {
    if (host_) {
      EXPECT_TRUE(host_->close()) << host_->standard_error();
    }
  }

  // The next event of this kind; everything before it is skipped.
  std::optional<client::Message> next_event_of(const std::string& kind) {
    std::string seen;
    for (;;) {
      std::optional<client::Message> message = host_->next_message(kEventSeconds);
      EXPECT_TRUE(message) << "no \"" << kind << "\" event; seen: " << seen;
      if (!message) return std::nullopt;
      seen += message->text + " ";
      if (string_member(message->body.get(), "kind") == kind) return message;
    }
  }

  // The kinds of the events up to the release of `key`, window state aside.
  std::vector<std::string> kinds_until_key_up(const std::string& key) {
    std::vector<std::string> kinds;
    for (;;) {
      std::optional<client::Message> message = host_->next_message(kEventSeconds);
      EXPECT_TRUE(message) << "no key_up of " << key;
      if (!message) return kinds;
      const std::string kind = string_member(message->body.get(), "kind");
      if (kind == "key_down" || kind == "key_up" || kind == "text") kinds.push_back(kind);
      if (kind == "key_up" && string_member(message->body.get(), "key") == key) return kinds;
    }
  }

  // Where the window is and how large, in root coordinates, as xdotool sees it.
  struct Geometry {
    int x = -1, y = -1, width = -1, height = -1;
  };
  Geometry geometry() {
    Geometry g;
    client::ProcessResult shell = server_->xdotool({"getwindowgeometry", "--shell", window_});
    EXPECT_EQ(shell.exit_code, 0) << shell.standard_error;
    std::istringstream lines(shell.standard_output);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string name = line.substr(0, equals);
      const int value = std::atoi(line.c_str() + equals + 1);
      if (name == "X") g.x = value;
      if (name == "Y") g.y = value;
      if (name == "WIDTH") g.width = value;
      if (name == "HEIGHT") g.height = value;
    }
    return g;
  }

  std::unique_ptr<XvfbServer> server_;
  std::unique_ptr<client::Controller> host_;
  std::string window_;
};

TEST_F(WindowEventsX11Test, TypedKeysArriveWithTheirNamesAndModifiers) {
  struct Case {
    const char* keys;  // as xdotool names them
    int modifiers;     // modifier key presses that come first
    const char* event;
  };
  const Case cases[] = {
      {"a", 0, R"({"kind":"key_down","key":"a","shift":false,"ctrl":false})"},
      {"F5", 0, R"({"kind":"key_down","key":"F5","shift":false,"ctrl":false})"},
      {"KP_Enter", 0, R"({"kind":"key_down","key":"Enter","shift":false,"ctrl":false})"},
      {"Left", 0, R"({"kind":"key_down","key":"ArrowLeft","shift":false,"ctrl":false})"},
      {"shift+a", 1, R"({"kind":"key_down","key":"a","shift":true,"ctrl":false})"},
      {"ctrl+Home", 1, R"({"kind":"key_down","key":"Home","shift":false,"ctrl":true})"},
      {"super+x", 1, R"({"kind":"key_down","key":"x","shift":false,"ctrl":true})"},
      {"alt+b", 1, R"({"kind":"key_down","key":"b","shift":false,"ctrl":false})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    client::ProcessResult typed = server_->xdotool({"key", c.keys});
    ASSERT_EQ(typed.exit_code, 0) << typed.standard_error;
    for (int i = 0; i < c.modifiers; ++i) ASSERT_TRUE(next_event_of("key_down"));
    std::optional<client::Message> down = next_event_of("key_down");
    ASSERT_TRUE(down);
    EXPECT_EQ(down->text, c.event);
    for (int i = 0; i <= c.modifiers; ++i) EXPECT_TRUE(next_event_of("key_up"));
  }
}

TEST_F(WindowEventsX11Test, AClickArrivesAtItsWindowPosition) {
  client::ProcessResult clicked =
      server_->xdotool({"mousemove", "--window", window_, "--sync", "30", "40", "click", "3"});
  ASSERT_EQ(clicked.exit_code, 0) << clicked.standard_error;
  std::optional<client::Message> down = next_event_of("pointer_down");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->text, R"({"kind":"pointer_down","x":30,"y":40,"button":3,"shift":false,"ctrl":false})");
  std::optional<client::Message> up = next_event_of("pointer_up");
  ASSERT_TRUE(up);
  EXPECT_EQ(up->text, R"({"kind":"pointer_up","x":30,"y":40,"button":3,"shift":false,"ctrl":false})");
}

TEST_F(WindowEventsX11Test, WheelButtonsGiveDirectionAndSign) {
  ASSERT_EQ(server_->xdotool({"mousemove", "--window", window_, "--sync", "50", "60"}).exit_code, 0);
  struct Case {
    const char* button;  // X11 wheel buttons: 4 up, 5 down, 6 left, 7 right
    const char* event;
  };
  const Case cases[] = {
      {"4", R"({"kind":"wheel","x":50,"y":60,"delta":-1,"shift":false,"ctrl":false})"},
      {"5", R"({"kind":"wheel","x":50,"y":60,"delta":1,"shift":false,"ctrl":false})"},
      {"6", R"({"kind":"wheel","x":50,"y":60,"delta":-1,"shift":true,"ctrl":false})"},
      {"7", R"({"kind":"wheel","x":50,"y":60,"delta":1,"shift":true,"ctrl":false})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    ASSERT_EQ(server_->xdotool({"click", c.button}).exit_code, 0);
    std::optional<client::Message> wheel = next_event_of("wheel");
    ASSERT_TRUE(wheel);
    EXPECT_EQ(wheel->text, c.event);
  }
}

TEST_F(WindowEventsX11Test, AResizeFromOutsideReportsTheNewViewport) {
  client::ProcessResult resized = server_->xdotool({"windowsize", "--sync", window_, "300", "150"});
  ASSERT_EQ(resized.exit_code, 0) << resized.standard_error;
  for (;;) {
    std::optional<client::Message> viewport = next_event_of("viewport");
    ASSERT_TRUE(viewport);
    if (test::number_member(viewport->body.get(), "viewport.width") != 300) continue;
    EXPECT_EQ(test::number_member(viewport->body.get(), "viewport.height"), 150);
    break;
  }
  auto info = host_->request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_EQ(test::json_text(test::member(info->result.get(), "window_size")), "[300,150]");
}

TEST_F(WindowEventsX11Test, TextArrivesOnlyWhileTextInputIsOn) {
  // Off after opening: a typed letter gives keys but no text.
  ASSERT_EQ(server_->xdotool({"key", "q"}).exit_code, 0);
  std::vector<std::string> kinds = kinds_until_key_up("q");
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "text"), 0);
  ASSERT_TRUE(test::reply_ok(host_->request(R"({"op":"text_input","rect":[0,0,10,10]})")));
  ASSERT_EQ(server_->xdotool({"key", "z"}).exit_code, 0);
  std::optional<client::Message> text = next_event_of("text");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->text, R"({"kind":"text","text":"z"})");
  ASSERT_TRUE(test::reply_ok(host_->request(R"({"op":"text_input","rect":null})")));
  ASSERT_EQ(server_->xdotool({"key", "w"}).exit_code, 0);
  kinds = kinds_until_key_up("w");
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "text"), 0);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "key_down"), 1);
}

TEST_F(WindowEventsX11Test, HeldModifiersReachPointerAndWheelEvents) {
  ASSERT_EQ(server_->xdotool({"mousemove", "--window", window_, "--sync", "40", "20"}).exit_code, 0);
  ASSERT_EQ(server_->xdotool({"keydown", "shift", "click", "1", "keyup", "shift"}).exit_code, 0);
  std::optional<client::Message> down = next_event_of("pointer_down");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->text, R"({"kind":"pointer_down","x":40,"y":20,"button":1,"shift":true,"ctrl":false})");
  // Control with a vertical wheel; shift comes from the keyboard alone here.
  ASSERT_EQ(server_->xdotool({"keydown", "ctrl", "click", "5", "keyup", "ctrl"}).exit_code, 0);
  std::optional<client::Message> wheel = next_event_of("wheel");
  ASSERT_TRUE(wheel);
  EXPECT_EQ(wheel->text, R"({"kind":"wheel","x":40,"y":20,"delta":1,"shift":false,"ctrl":true})");
  ASSERT_EQ(server_->xdotool({"keydown", "shift", "click", "4", "keyup", "shift"}).exit_code, 0);
  wheel = next_event_of("wheel");
  ASSERT_TRUE(wheel);
  EXPECT_EQ(wheel->text, R"({"kind":"wheel","x":40,"y":20,"delta":-1,"shift":true,"ctrl":false})");
}

TEST_F(WindowEventsX11Test, MoreKeysKeepTheirFixedNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"Escape", "Escape"}, {"BackSpace", "Backspace"}, {"Tab", "Tab"},         {"Return", "Enter"},
      {"space", "Space"},   {"Delete", "Delete"},       {"Insert", "Insert"},   {"End", "End"},
      {"Prior", "PageUp"},  {"Next", "PageDown"},       {"Up", "ArrowUp"},      {"Down", "ArrowDown"},
      {"Right", "ArrowRight"}, {"F12", "F12"},          {"7", "7"},             {"KP_Add", "keypad +"},
  };
  for (const auto& [keysym, name] : cases) {
    SCOPED_TRACE(keysym);
    ASSERT_EQ(server_->xdotool({"key", keysym}).exit_code, 0);
    std::optional<client::Message> down = next_event_of("key_down");
    ASSERT_TRUE(down);
    EXPECT_EQ(down->text, std::string(R"({"kind":"key_down","key":")") + name + R"(","shift":false,"ctrl":false})");
    std::optional<client::Message> up = next_event_of("key_up");
    ASSERT_TRUE(up);
    EXPECT_EQ(string_member(up->body.get(), "key"), name);
  }
}

TEST_F(WindowEventsX11Test, ACloseRequestGivesCloseAndTheHostKeepsServing) {
  test::X11Client x11(server_->display());
  ASSERT_TRUE(x11.connected());
  ASSERT_TRUE(x11.request_close(test::parse_window_id(window_)));
  std::optional<client::Message> close = next_event_of("close");
  ASSERT_TRUE(close);
  EXPECT_EQ(close->text, R"({"kind":"close"})");
  // The controller decides: the window stays open and the host answers.
  auto info = host_->request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_EQ(test::json_text(test::member(info->result.get(), "visible")), "true");
  EXPECT_EQ(server_->xdotool({"search", "--name", kWindowTitle}).exit_code, 0);
  // And it still reports input.
  ASSERT_EQ(server_->xdotool({"key", "a"}).exit_code, 0);
  EXPECT_TRUE(next_event_of("key_down"));
}

TEST_F(WindowEventsX11Test, PointerMovesInLogicalUnitsAndLeaves) {
  client::ProcessResult moved = server_->xdotool({"mousemove", "--window", window_, "--sync", "20", "30"});
  ASSERT_EQ(moved.exit_code, 0) << moved.standard_error;
  for (;;) {
    std::optional<client::Message> move = next_event_of("pointer_move");
    ASSERT_TRUE(move);
    if (test::number_member(move->body.get(), "x") != 20) continue;
    EXPECT_EQ(move->text, R"({"kind":"pointer_move","x":20,"y":30,"button":1,"shift":false,"ctrl":false})");
    break;
  }
  // A held button does not change the button a move reports.
  ASSERT_EQ(server_->xdotool({"mousedown", "2", "mousemove", "--window", window_, "--sync", "25", "35"}).exit_code, 0);
  for (;;) {
    std::optional<client::Message> move = next_event_of("pointer_move");
    ASSERT_TRUE(move);
    if (test::number_member(move->body.get(), "x") != 25) continue;
    EXPECT_EQ(move->text, R"({"kind":"pointer_move","x":25,"y":35,"button":1,"shift":false,"ctrl":false})");
    break;
  }
  ASSERT_EQ(server_->xdotool({"mouseup", "2"}).exit_code, 0);
  ASSERT_TRUE(next_event_of("pointer_up"));
  // The window is centred on the 800 x 600 screen: the corner is outside it.
  ASSERT_EQ(server_->xdotool({"mousemove", "--sync", "0", "0"}).exit_code, 0);
  std::optional<client::Message> leave = next_event_of("pointer_leave");
  ASSERT_TRUE(leave);
  EXPECT_EQ(leave->text, R"({"kind":"pointer_leave"})");
}

TEST_F(WindowEventsX11Test, LosingTheKeyboardFocusGivesBlur) {
  test::X11Client x11(server_->display());
  ASSERT_TRUE(x11.connected());
  ASSERT_TRUE(x11.drop_focus());
  std::optional<client::Message> blur = next_event_of("blur");
  ASSERT_TRUE(blur);
  EXPECT_EQ(blur->text, R"({"kind":"blur"})");
}

TEST_F(WindowEventsX11Test, TypedTextArrivesWholeAndInOrder) {
  ASSERT_TRUE(test::reply_ok(host_->request(R"({"op":"text_input","rect":[10,10,50,20]})")));
  const std::string typed = "Hello, World! 0123456789 (typed text longer than one chunk)";
  client::ProcessResult done = server_->xdotool({"type", "--delay", "1", typed});
  ASSERT_EQ(done.exit_code, 0) << done.standard_error;
  std::string received;
  while (received.size() < typed.size()) {
    std::optional<client::Message> text = next_event_of("text");
    ASSERT_TRUE(text) << "received so far: " << received;
    const std::string chunk = string_member(text->body.get(), "text");
    EXPECT_FALSE(chunk.empty());
    received += chunk;
  }
  EXPECT_EQ(received, typed);
}

TEST_F(WindowEventsX11Test, SetSizeReportsTheViewportAndKeepsThePlace) {
  // Opening centred the 200 x 100 window on the 800 x 600 screen.
  const Geometry opened = geometry();
  EXPECT_EQ(opened.x, 300);
  EXPECT_EQ(opened.y, 250);
  EXPECT_EQ(opened.width, 200);
  EXPECT_EQ(opened.height, 100);
  auto reply = host_->request(R"({"op":"set_size","width":320,"height":180})");
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(test::json_text(test::member(reply->result.get(), "window_size")), "[320,180]");
  const double revision = test::number_member(reply->result.get(), "resource_revision");
  for (;;) {
    std::optional<client::Message> viewport = next_event_of("viewport");
    ASSERT_TRUE(viewport);
    if (test::number_member(viewport->body.get(), "viewport.width") != 320) continue;
    EXPECT_EQ(viewport->text, R"({"kind":"viewport","viewport":{"width":320,"height":180,"scale":1,)"
                              R"("safe_area":[0,0,0,0],"keyboard_occlusion":0},"resource_revision":)" +
                                  test::json_text(test::member(reply->result.get(), "resource_revision")) + "}");
    EXPECT_EQ(test::number_member(viewport->body.get(), "resource_revision"), revision);
    break;
  }
  const Geometry resized = geometry();
  EXPECT_EQ(resized.x, opened.x);
  EXPECT_EQ(resized.y, opened.y);
  EXPECT_EQ(resized.width, 320);
  EXPECT_EQ(resized.height, 180);
}

// A window asked for at more than the screen holds.
class WindowEventsX11LargeTest : public WindowEventsX11Test {
 protected:
  std::string open_size() const override { return R"("width":1000,"height":700)"; }
};

TEST_F(WindowEventsX11LargeTest, OpeningFitsTheScreenButSetSizeDoesNot) {
  const Geometry opened = geometry();
  EXPECT_EQ(opened.x, 0);
  EXPECT_EQ(opened.y, 0);
  EXPECT_EQ(opened.width, 800);
  EXPECT_EQ(opened.height, 600);
  // The controller asked for this size itself: it gets it, where the window is.
  auto reply = host_->request(R"({"op":"set_size","width":900,"height":650})");
  ASSERT_TRUE(test::reply_ok(reply));
  EXPECT_EQ(test::json_text(test::member(reply->result.get(), "window_size")), "[900,650]");
  const Geometry resized = geometry();
  EXPECT_EQ(resized.x, 0);
  EXPECT_EQ(resized.y, 0);
  EXPECT_EQ(resized.width, 900);
  EXPECT_EQ(resized.height, 650);
}

}  // namespace
}  // namespace lumora
