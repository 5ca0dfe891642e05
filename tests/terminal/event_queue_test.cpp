#include "terminal/event_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::terminal {
namespace {

std::string printed(const cJSON* item) {
  if (item == nullptr) return "[]";
  scene::JsonText text = scene::print_json(item);
  return text ? std::string(text.get()) : std::string("<print failed>");
}

std::string take_printed(EventQueue& queue) {
  scene::JsonPtr events = queue.take();
  return printed(events.get());
}

TEST(EventQueueTest, HelpersWriteMembersInProtocolOrder) {
  EventQueue queue;
  queue.push_key(true, "ArrowUp", false, true);
  queue.push_key(false, "a", true, false);
  queue.push_text("h\"i");
  queue.push_paste_literal("\"x\\u0000y\"");
  queue.push_pointer(PointerKind::down, 4, 8, 1, false, false);
  queue.push_pointer(PointerKind::up, 12.5, 24, 3, true, true);
  queue.push_pointer(PointerKind::move, -4, -8, 1, false, false);
  queue.push_wheel(4, 8, -1, true, false);
  queue.push_blur();
  queue.push_repaint();
  queue.push_viewport(80, 24);
  queue.push_close();
  queue.push_error("Native terminal input was disconnected");
  queue.push_resource_error("Terminal paste exceeds 8 MiB");
  EXPECT_EQ(queue.size(), 14u);
  EXPECT_EQ(take_printed(queue),
            "[{\"kind\":\"key_down\",\"key\":\"ArrowUp\",\"shift\":false,\"ctrl\":true},"
            "{\"kind\":\"key_up\",\"key\":\"a\",\"shift\":true,\"ctrl\":false},"
            "{\"kind\":\"text\",\"text\":\"h\\\"i\"},"
            "{\"kind\":\"text\",\"text\":\"x\\u0000y\",\"paste\":true},"
            "{\"kind\":\"pointer_down\",\"x\":4,\"y\":8,\"button\":1,\"shift\":false,\"ctrl\":false},"
            "{\"kind\":\"pointer_up\",\"x\":12.5,\"y\":24,\"button\":3,\"shift\":true,\"ctrl\":true},"
            "{\"kind\":\"pointer_move\",\"x\":-4,\"y\":-8,\"button\":1,\"shift\":false,\"ctrl\":false},"
            "{\"kind\":\"wheel\",\"x\":4,\"y\":8,\"delta\":-1,\"shift\":true,\"ctrl\":false},"
            "{\"kind\":\"blur\"},{\"kind\":\"repaint\"},"
            "{\"kind\":\"viewport\",\"viewport\":{\"width\":640,\"height\":384,\"scale\":1}},"
            "{\"kind\":\"close\"},"
            "{\"kind\":\"error\",\"text\":\"Native terminal input was disconnected\"},"
            "{\"kind\":\"resource_error\",\"text\":\"Terminal paste exceeds 8 MiB\"}]");
}

TEST(EventQueueTest, TakeHandsOverAndStartsEmpty) {
  EventQueue queue;
  EXPECT_EQ(take_printed(queue), "[]");
  queue.push_close();
  scene::JsonPtr first = queue.take();
  ASSERT_TRUE(first);
  EXPECT_EQ(cJSON_GetArraySize(first.get()), 1);
  EXPECT_EQ(queue.size(), 0u);
  EXPECT_EQ(take_printed(queue), "[]");
}

// Taken events stay valid after the queue is gone: duplicating and printing
// a drained event must not touch memory the queue owned.
TEST(EventQueueTest, DrainedEventsOutliveTheQueue) {
  scene::JsonPtr events;
  {
    EventQueue queue;
    queue.push_key(true, "Enter", false, false);
    queue.push_paste_literal("\"p\"");
    events = queue.take();
  }
  scene::JsonPtr copy(cJSON_Duplicate(events.get(), true));
  events.reset();
  EXPECT_EQ(printed(copy.get()),
            "[{\"kind\":\"key_down\",\"key\":\"Enter\",\"shift\":false,\"ctrl\":false},"
            "{\"kind\":\"text\",\"text\":\"p\",\"paste\":true}]");
}

TEST(EventQueueTest, TheEventAfterTheLimitReplacesTheQueueWithOneError) {
  EventQueue queue;
  for (std::size_t index = 0; index < kMaxQueuedEvents; ++index) ASSERT_TRUE(queue.push_close());
  EXPECT_EQ(queue.size(), kMaxQueuedEvents);
  EXPECT_FALSE(queue.overflowed());

  EXPECT_FALSE(queue.push_blur());
  EXPECT_TRUE(queue.overflowed());
  EXPECT_EQ(take_printed(queue), "[{\"kind\":\"error\",\"text\":\"Native terminal input queue exceeded 4096 events\"}]");

  // For the rest of its life the queue takes no ordinary event.
  EXPECT_FALSE(queue.push_key(true, "a", false, false));
  EXPECT_FALSE(queue.push_error("Terminal output was disconnected"));
  EXPECT_FALSE(queue.push_viewport(10, 10));
  EXPECT_TRUE(queue.overflowed());
  EXPECT_EQ(take_printed(queue), "[]");
}

TEST(EventQueueTest, ResourceErrorsNeedFewerThan128QueuedAndIgnoreOverflow) {
  EventQueue queue;
  for (std::size_t index = 0; index + 1 < kMaxEventsForResourceErrors; ++index) queue.push_repaint();
  EXPECT_TRUE(queue.push_resource_error("Could not allocate terminal input"));
  EXPECT_EQ(queue.size(), kMaxEventsForResourceErrors);
  EXPECT_FALSE(queue.push_resource_error("Could not allocate terminal input"));
  EXPECT_EQ(queue.size(), kMaxEventsForResourceErrors);

  for (std::size_t index = queue.size(); index <= kMaxQueuedEvents; ++index) queue.push_repaint();
  ASSERT_TRUE(queue.overflowed());
  EXPECT_TRUE(queue.push_resource_error("Terminal paste exceeds 8 MiB"));
  EXPECT_EQ(take_printed(queue),
            "[{\"kind\":\"error\",\"text\":\"Native terminal input queue exceeded 4096 events\"},"
            "{\"kind\":\"resource_error\",\"text\":\"Terminal paste exceeds 8 MiB\"}]");
}

}  // namespace
}  // namespace lumora::terminal
