// The window's event pump on the offscreen driver, fed with events pushed
// into SDL's queue: the per-pump limit, which window an event must name, the
// translation of keys, pointer and wheel, size changes and renderer resets,
// and the wait source.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "window/events/event_pump.h"
#include "window/window_test_helpers.h"

namespace lumora::window {
namespace {

using namespace test_helpers;
using lumora::test::json_text;
using lumora::test::number_member;
using lumora::test::string_member;

class EventPumpTest : public WindowTest {
 protected:
  void open_quiet(std::string_view members = "") {
    open(members);
    if (!backend) return;
    id = SDL_GetWindowID(SDL_RenderGetWindow(backend->renderer()));
    // Opening sizes the window: those events are not what a test looks at.
    while (backend->input_pending() || !kinds(backend->drain_events()).empty()) {
    }
  }

  static std::vector<std::string> kinds(const json::JsonPtr& events) {
    std::vector<std::string> result;
    for (const cJSON* event = events ? events->child : nullptr; event != nullptr; event = event->next) {
      result.push_back(string_member(event, "kind"));
    }
    return result;
  }

  static void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError(); }

  void push_key(Uint32 type, SDL_Keycode key, Uint16 mod, Uint32 window) {
    SDL_Event event{};
    event.type = type;
    event.key.windowID = window;
    event.key.keysym.sym = key;
    event.key.keysym.mod = mod;
    push(event);
  }

  void push_window(Uint8 subtype, Uint32 window) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = subtype;
    event.window.windowID = window;
    push(event);
  }

  // The single event of the next drain; fails the test otherwise.
  json::JsonPtr single_event() {
    json::JsonPtr events = backend->drain_events();
    EXPECT_TRUE(events);
    if (!events) return nullptr;
    EXPECT_EQ(cJSON_GetArraySize(events.get()), 1) << json_text(events.get());
    if (cJSON_GetArraySize(events.get()) != 1) return nullptr;
    return json::JsonPtr(cJSON_DetachItemFromArray(events.get(), 0));
  }

  Uint32 id = 0;
};

TEST_F(EventPumpTest, OnePumpReadsAtMost256EventsAndFlagsTheRest) {
  open_quiet();
  struct Case {
    int pushed;
    std::vector<int> per_pump;  // events per drain until the queue is empty
    std::vector<bool> pending;  // input_pending after each drain
  };
  const Case cases[] = {
      {255, {255, 0}, {false, false}},
      {256, {256, 0}, {true, false}},
      {300, {256, 44, 0}, {true, false, false}},
      {600, {256, 256, 88, 0}, {true, true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pushed);
    for (int i = 0; i < c.pushed; ++i) push_key(SDL_KEYDOWN, SDLK_a, KMOD_NONE, id);
    for (std::size_t pump = 0; pump < c.per_pump.size(); ++pump) {
      json::JsonPtr events = backend->drain_events();
      ASSERT_TRUE(events);
      EXPECT_EQ(cJSON_GetArraySize(events.get()), c.per_pump[pump]) << "pump " << pump;
      EXPECT_EQ(backend->input_pending(), c.pending[pump]) << "pump " << pump;
    }
  }
}

TEST_F(EventPumpTest, OnlyEventsOfThisWindowOrNoWindowAreTaken) {
  open_quiet();
  const Uint32 other = id + 1000;
  struct Case {
    const char* name;
    Uint32 window;
    bool taken;
  };
  const Case cases[] = {{"this window", id, true}, {"no window", 0, true}, {"another window", other, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    push_key(SDL_KEYDOWN, SDLK_a, KMOD_NONE, c.window);
    push_window(SDL_WINDOWEVENT_FOCUS_LOST, c.window);
    push_window(SDL_WINDOWEVENT_CLOSE, c.window);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = c.window;
    wheel.wheel.preciseY = 1;
    push(wheel);
    const std::vector<std::string> expected =
        c.taken ? std::vector<std::string>{"key_down", "blur", "close", "wheel"} : std::vector<std::string>{};
    EXPECT_EQ(kinds(backend->drain_events()), expected);
  }
  // Application-wide events name no window and are always taken.
  for (Uint32 type : {SDL_QUIT, SDL_APP_WILLENTERBACKGROUND, SDL_APP_DIDENTERFOREGROUND, SDL_KEYMAPCHANGED}) {
    SDL_Event event{};
    event.type = type;
    push(event);
  }
  EXPECT_EQ(kinds(backend->drain_events()), (std::vector<std::string>{"close", "suspend", "resume"}));
}

TEST_F(EventPumpTest, WindowStateEventsAndTheirKinds) {
  open_quiet();
  const std::pair<Uint8, const char*> cases[] = {
      {SDL_WINDOWEVENT_EXPOSED, "repaint"},     {SDL_WINDOWEVENT_MINIMIZED, "suspend"},
      {SDL_WINDOWEVENT_RESTORED, "resume"},     {SDL_WINDOWEVENT_LEAVE, "pointer_leave"},
      {SDL_WINDOWEVENT_FOCUS_LOST, "blur"},     {SDL_WINDOWEVENT_CLOSE, "close"},
      {SDL_WINDOWEVENT_SIZE_CHANGED, "viewport"}, {SDL_WINDOWEVENT_RESIZED, "viewport"},
      {SDL_WINDOWEVENT_DISPLAY_CHANGED, "viewport"},
  };
  for (const auto& [subtype, kind] : cases) {
    SCOPED_TRACE(kind);
    push_window(subtype, id);
    json::JsonPtr event = single_event();
    ASSERT_TRUE(event);
    EXPECT_EQ(string_member(event.get(), "kind"), kind);
  }
  // Focus gained and pointer entering are not the controller's business.
  push_window(SDL_WINDOWEVENT_FOCUS_GAINED, id);
  push_window(SDL_WINDOWEVENT_ENTER, id);
  EXPECT_TRUE(kinds(backend->drain_events()).empty());
}

TEST_F(EventPumpTest, KeyNamesAndModifiers) {
  open_quiet();
  struct Case {
    SDL_Keycode key;
    Uint16 mod;
    const char* name;
    bool shift, ctrl;
  };
  const Case cases[] = {
      {SDLK_a, KMOD_NONE, "a", false, false},
      {SDLK_a, KMOD_LSHIFT, "a", true, false},
      {SDLK_F5, KMOD_NONE, "F5", false, false},
      {SDLK_F13, KMOD_NONE, "F13", false, false},
      {SDLK_F24, KMOD_NONE, "F24", false, false},
      {SDLK_KP_ENTER, KMOD_NONE, "Enter", false, false},
      {SDLK_RETURN, KMOD_RCTRL, "Enter", false, true},
      {SDLK_LEFT, KMOD_LGUI, "ArrowLeft", false, true},
      {SDLK_PAGEDOWN, KMOD_RSHIFT | KMOD_RGUI, "PageDown", true, true},
      {SDLK_SPACE, KMOD_LALT | KMOD_CAPS | KMOD_NUM, "Space", false, false},
      {SDLK_BACKSPACE, KMOD_NONE, "Backspace", false, false},
      {SDLK_KP_PLUS, KMOD_NONE, "keypad +", false, false},
      {SDLK_LSHIFT, KMOD_LSHIFT, "left shift", true, false},
      {SDLK_UNKNOWN, KMOD_NONE, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    push_key(SDL_KEYUP, c.key, c.mod, id);
    json::JsonPtr event = single_event();
    ASSERT_TRUE(event);
    EXPECT_EQ(json_text(event.get()), std::string(R"({"kind":"key_up","key":")") + c.name + R"(","shift":)" +
                                          (c.shift ? "true" : "false") + R"(,"ctrl":)" + (c.ctrl ? "true" : "false") +
                                          "}");
  }
}

TEST_F(EventPumpTest, PointerPositionsAreLogicalUnits) {
  // The offscreen drawable equals the window, so scale 2 halves every coordinate.
  open_quiet(R"("width":200,"height":100,"scale":2)");
  struct Case {
    Uint32 type;
    Uint8 button;
    const char* expected;
  };
  const Case cases[] = {
      {SDL_MOUSEMOTION, 3, R"({"kind":"pointer_move","x":50,"y":25,"button":1,"shift":false,"ctrl":false})"},
      {SDL_MOUSEBUTTONDOWN, 3, R"({"kind":"pointer_down","x":50,"y":25,"button":3,"shift":false,"ctrl":false})"},
      {SDL_MOUSEBUTTONUP, 2, R"({"kind":"pointer_up","x":50,"y":25,"button":2,"shift":false,"ctrl":false})"},
  };
  for (const Case& c : cases) {
    SDL_Event event{};
    event.type = c.type;
    if (c.type == SDL_MOUSEMOTION) {
      event.motion.windowID = id;
      event.motion.x = 100;
      event.motion.y = 50;
    } else {
      event.button.windowID = id;
      event.button.button = c.button;
      event.button.x = 100;
      event.button.y = 50;
    }
    push(event);
    json::JsonPtr record = single_event();
    ASSERT_TRUE(record);
    EXPECT_EQ(json_text(record.get()), c.expected);
  }
}

TEST_F(EventPumpTest, WheelDirectionSignAndFlip) {
  open_quiet(R"("width":200,"height":100,"scale":2)");
  struct Case {
    float h, v;
    Uint32 direction;
    const char* expected;  // null: no event
  };
  const Case cases[] = {
      {0, 1, SDL_MOUSEWHEEL_NORMAL, R"({"kind":"wheel","x":5,"y":10,"delta":-1,"shift":false,"ctrl":false})"},
      {0, -2.5f, SDL_MOUSEWHEEL_NORMAL, R"({"kind":"wheel","x":5,"y":10,"delta":2.5,"shift":false,"ctrl":false})"},
      {0, 1, SDL_MOUSEWHEEL_FLIPPED, R"({"kind":"wheel","x":5,"y":10,"delta":1,"shift":false,"ctrl":false})"},
      {-1, 0.5f, SDL_MOUSEWHEEL_NORMAL, R"({"kind":"wheel","x":5,"y":10,"delta":-1,"shift":true,"ctrl":false})"},
      {1, 0, SDL_MOUSEWHEEL_FLIPPED, R"({"kind":"wheel","x":5,"y":10,"delta":-1,"shift":true,"ctrl":false})"},
      // Equal amounts count as vertical.
      {1, 1, SDL_MOUSEWHEEL_NORMAL, R"({"kind":"wheel","x":5,"y":10,"delta":-1,"shift":false,"ctrl":false})"},
      {0, 0, SDL_MOUSEWHEEL_NORMAL, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.h << ", " << c.v << ", " << c.direction);
    SDL_Event event{};
    event.type = SDL_MOUSEWHEEL;
    event.wheel.windowID = id;
    event.wheel.preciseX = c.h;
    event.wheel.preciseY = c.v;
    event.wheel.direction = c.direction;
    event.wheel.mouseX = 10;
    event.wheel.mouseY = 20;
    push(event);
    json::JsonPtr events = backend->drain_events();
    ASSERT_TRUE(events);
    if (c.expected == nullptr) {
      EXPECT_EQ(cJSON_GetArraySize(events.get()), 0);
    } else {
      EXPECT_EQ(json_text(events.get()), std::string("[") + c.expected + "]");
    }
  }
}

TEST_F(EventPumpTest, TextIsForwardedAndIllFormedBytesBecomeReplacements) {
  open_quiet();
  struct Case {
    Uint32 type;
    const char* bytes;
    const char* expected;
  };
  const Case cases[] = {
      {SDL_TEXTINPUT, "h\xC3\xA9", R"({"kind":"text","text":"h\u00e9"})"},
      {SDL_TEXTEDITING, "\xE3\x81\x8B", R"({"kind":"composition","text":"\u304b"})"},
      {SDL_TEXTEDITING, "", R"({"kind":"composition","text":""})"},
      {SDL_TEXTINPUT, "a\xFF", R"({"kind":"text","text":"a\ufffd"})"},
      // Latin-1 from an old keymap: the letters around each bad byte survive.
      {SDL_TEXTINPUT, "\xE9t\xE9", R"({"kind":"text","text":"\ufffdt\ufffd"})"},
      {SDL_TEXTINPUT, "ok\xE3\x81", R"({"kind":"text","text":"ok\ufffd"})"},
      {SDL_TEXTEDITING, "\xC0\xAF", R"({"kind":"composition","text":"\ufffd\ufffd"})"},
  };
  for (const Case& c : cases) {
    SDL_Event event{};
    event.type = c.type;
    if (c.type == SDL_TEXTINPUT) {
      event.text.windowID = id;
      SDL_strlcpy(event.text.text, c.bytes, sizeof event.text.text);
    } else {
      event.edit.windowID = id;
      SDL_strlcpy(event.edit.text, c.bytes, sizeof event.edit.text);
    }
    push(event);
    json::JsonPtr record = single_event();
    ASSERT_TRUE(record);
    json::JsonPtr expected = lumora::test::parse_json(c.expected);
    ASSERT_TRUE(expected);
    EXPECT_EQ(json_text(record.get()), json_text(expected.get()));
  }
}

// SDL2 cuts committed text into chunks of at most 31 bytes, never inside a
// character: each chunk is one "text" event, in the order SDL queued them,
// so the controller joins them back into the whole text.
TEST_F(EventPumpTest, LongTextArrivesAsChunksInOrder) {
  open_quiet();
  std::string whole;
  for (int i = 0; i < 12; ++i) whole += "w\xC3\xB6rd-\xE2\x82\xAC-\xF0\x9F\x99\x82 ";  // ö, €, 🙂
  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < whole.size();) {
    std::size_t length = std::min<std::size_t>(31, whole.size() - at);
    while ((static_cast<unsigned char>(whole[at + length]) & 0xC0u) == 0x80u) --length;
    chunks.push_back(whole.substr(at, length));
    at += length;
  }
  ASSERT_GT(chunks.size(), 5u);
  push_key(SDL_KEYDOWN, SDLK_v, KMOD_LCTRL, id);
  for (const std::string& chunk : chunks) {
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    event.text.windowID = id;
    SDL_strlcpy(event.text.text, chunk.c_str(), sizeof event.text.text);
    push(event);
  }
  push_key(SDL_KEYUP, SDLK_v, KMOD_LCTRL, id);
  json::JsonPtr events = backend->drain_events();
  ASSERT_TRUE(events);
  std::vector<std::string> expected_kinds = {"key_down"};
  expected_kinds.insert(expected_kinds.end(), chunks.size(), "text");
  expected_kinds.push_back("key_up");
  EXPECT_EQ(kinds(events), expected_kinds);
  std::string joined;
  std::size_t index = 0;
  for (const cJSON* event = events->child; event != nullptr; event = event->next) {
    if (string_member(event, "kind") != "text") continue;
    const std::string text = string_member(event, "text");
    EXPECT_EQ(text, chunks[index]) << "chunk " << index;
    ++index;
    joined += text;
  }
  EXPECT_EQ(joined, whole);
}

// Compositions longer than SDL2's 31-byte buffer come on the heap, whole;
// the pump frees them, also when the event names another window (the
// sanitizer build would report the leak).
TEST_F(EventPumpTest, LongCompositionsArriveWholeAndAreFreed) {
  open_quiet();
  std::string composing;
  for (int i = 0; i < 20; ++i) composing += "\xE3\x81\x8B\xE3\x81\x97";  // かし
  for (Uint32 window : {id + 1000, id}) {
    SDL_Event event{};
    event.type = SDL_TEXTEDITING_EXT;
    event.editExt.windowID = window;
    event.editExt.text = SDL_strdup(composing.c_str());
    ASSERT_NE(event.editExt.text, nullptr);
    push(event);
  }
  json::JsonPtr events = backend->drain_events();
  ASSERT_TRUE(events);
  ASSERT_EQ(cJSON_GetArraySize(events.get()), 1) << json_text(events.get());
  EXPECT_EQ(string_member(events->child, "kind"), "composition");
  EXPECT_EQ(string_member(events->child, "text"), composing);
}

// Closing with a long composition still queued frees its text too.
TEST_F(EventPumpTest, ClosingFreesLongCompositionsNotYetPumped) {
  open_quiet();
  SDL_Event event{};
  event.type = SDL_TEXTEDITING_EXT;
  event.editExt.windowID = id;
  event.editExt.text = SDL_strdup("a composition that is longer than thirty-one bytes");
  ASSERT_NE(event.editExt.text, nullptr);
  push(event);
  backend.reset();
  open_quiet();
  EXPECT_TRUE(kinds(backend->drain_events()).empty());
}

TEST_F(EventPumpTest, RendererResetsDropEveryTextureAndRaiseTheRevision) {
  open_quiet(R"("width":40,"height":30)");
  for (Uint32 type : {SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET}) {
    SCOPED_TRACE(type);
    commit(R"([["text", "Hi", 2, 2, "#fff", 14, false], ["rect", [0, 0, 4, 4], "#f00", 0, "", 0]])");
    ASSERT_EQ(draw_error(), "");
    ASSERT_GT(backend->texture_entries(), 0u);
    ASSERT_TRUE(backend->scene_cache_valid());
    const double revision = number_member(backend->info().get(), "resource_revision");
    SDL_Event event{};
    event.type = type;
    push(event);
    json::JsonPtr record = single_event();
    ASSERT_TRUE(record);
    EXPECT_EQ(json_text(record.get()),
              R"({"kind":"viewport","viewport":{"width":40,"height":30,"scale":1,"safe_area":[0,0,0,0],)"
              R"("keyboard_occlusion":0},"resource_revision":)" +
                  json_text(json::JsonPtr(cJSON_CreateNumber(revision + 1)).get()) + "}");
    EXPECT_EQ(backend->texture_entries(), 0u);
    EXPECT_FALSE(backend->scene_cache_valid());
    // The next frame builds what it needs again.
    EXPECT_EQ(draw_error(), "");
    EXPECT_GT(backend->texture_entries(), 0u);
  }
}

TEST_F(EventPumpTest, SizeChangeReportsTheNewViewport) {
  open_quiet(R"("width":40,"height":30)");
  SDL_SetWindowSize(SDL_RenderGetWindow(backend->renderer()), 64, 48);
  push_window(SDL_WINDOWEVENT_SIZE_CHANGED, id);
  json::JsonPtr events = backend->drain_events();
  ASSERT_TRUE(events);
  ASSERT_GE(cJSON_GetArraySize(events.get()), 1);
  // The last viewport event tells the size that holds now.
  const cJSON* last = cJSON_GetArrayItem(events.get(), cJSON_GetArraySize(events.get()) - 1);
  EXPECT_EQ(string_member(last, "kind"), "viewport");
  EXPECT_EQ(json_text(lumora::test::member(last, "viewport")),
            R"({"width":64,"height":48,"scale":1,"safe_area":[0,0,0,0],"keyboard_occlusion":0})");
  EXPECT_EQ(number_member(last, "resource_revision"), number_member(backend->info().get(), "resource_revision"));
}

TEST_F(EventPumpTest, QueuedResourceErrorsComeFirst) {
  open_quiet(R"("width":20,"height":20)");
  push_key(SDL_KEYDOWN, SDLK_b, KMOD_NONE, id);
  commit(R"([["image","/nonexistent-dir/missing.png",[0,0,4,4],"#ffffff","stretch"]])");
  ASSERT_EQ(draw_error(), "");
  EXPECT_EQ(kinds(backend->drain_events()), (std::vector<std::string>{"resource_error", "key_down"}));
}

TEST_F(EventPumpTest, OffscreenWaitHasNoDescriptorButSeesQueuedInput) {
  open_quiet();
  host::WaitSource idle = backend->prepare_wait();
  EXPECT_EQ(idle.descriptor, -1);
  EXPECT_FALSE(idle.ready);
  push_key(SDL_KEYDOWN, SDLK_a, KMOD_NONE, id);
  EXPECT_TRUE(backend->prepare_wait().ready);
  EXPECT_EQ(kinds(backend->drain_events()), std::vector<std::string>{"key_down"});
  EXPECT_FALSE(backend->prepare_wait().ready);
}

}  // namespace
}  // namespace lumora::window
