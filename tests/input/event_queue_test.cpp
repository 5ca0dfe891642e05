#include "input/event_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::input {
namespace {

// Each event's members are checked where the decoder and the operations
// produce them; here the queue's own bounds.
std::string take_printed(EventQueue& queue) {
  json::JsonPtr events = queue.take();
  json::JsonText text = json::print_json(events.get());
  return text ? std::string(text.get()) : std::string("<print failed>");
}

const std::string kOverflowEvent = R"({"kind":"error","text":"Native terminal input queue exceeded 4096 events"})";

TEST(EventQueueTest, TheEventAfterTheLimitReplacesTheQueueWithOneErrorForGood) {
  EventQueue queue;
  for (std::size_t index = 0; index < kMaxQueuedEvents; ++index) ASSERT_TRUE(queue.push_close());
  EXPECT_FALSE(queue.overflowed());
  EXPECT_FALSE(queue.push_blur());
  EXPECT_TRUE(queue.overflowed());
  EXPECT_EQ(take_printed(queue), "[" + kOverflowEvent + "]");
  // For the rest of its life the queue takes no ordinary event.
  EXPECT_FALSE(queue.push_key(true, "a", false, false));
  EXPECT_FALSE(queue.push_error("Terminal output was disconnected"));
  EXPECT_FALSE(queue.push_viewport(80, 160, 1));
  EXPECT_EQ(take_printed(queue), "[]");
}

TEST(EventQueueTest, ResourceErrorsNeedFewerThan128QueuedAndIgnoreOverflow) {
  EventQueue queue;
  for (std::size_t index = 0; index + 1 < kMaxEventsForResourceErrors; ++index) queue.push_repaint();
  EXPECT_TRUE(queue.push_resource_error("Could not allocate terminal input"));
  EXPECT_FALSE(queue.push_resource_error("Could not allocate terminal input"));
  EXPECT_EQ(queue.size(), kMaxEventsForResourceErrors);
  for (std::size_t index = queue.size(); index <= kMaxQueuedEvents; ++index) queue.push_repaint();
  ASSERT_TRUE(queue.overflowed());
  EXPECT_TRUE(queue.push_resource_error("Terminal paste exceeds 8 MiB"));
  EXPECT_EQ(take_printed(queue),
            "[" + kOverflowEvent + R"(,{"kind":"resource_error","text":"Terminal paste exceeds 8 MiB"}])");
}

}  // namespace
}  // namespace lumora::input
