// Window events through the real host on the offscreen driver: what the
// window itself does (a resize asked for by the controller) reaches the
// controller as events, and the host goes on answering meanwhile.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/host_fixture.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::json_text;
using test::member;
using test::number_member;
using test::string_member;

// Generous: a loaded machine may take long, a working host answers in milliseconds.
constexpr double kEventSeconds = 10;

TEST(WindowEventsOffscreenTest, SetSizeIsReportedAsAViewportEvent) {
  auto host = test::launch_window_host(R"("width":120,"height":80)");
  ASSERT_TRUE(host);
  auto reply = host->request(R"({"op":"set_size","width":300,"height":200})");
  ASSERT_TRUE(test::reply_ok(reply));
  const double revision = number_member(reply->result.get(), "resource_revision");
  std::string seen;
  bool found = false;
  while (!found) {
    std::optional<client::Message> message = host->next_message(kEventSeconds);
    ASSERT_TRUE(message) << "no viewport event for the new size; seen: " << seen;
    ASSERT_EQ(message->type, client::kFrameEvent) << message->text;
    seen += message->text + " ";
    const cJSON* event = message->body.get();
    if (string_member(event, "kind") != "viewport") continue;
    if (number_member(member(event, "viewport"), "width") != 300) continue;
    EXPECT_EQ(json_text(member(event, "viewport")),
              R"({"width":300,"height":200,"scale":1,"safe_area":[0,0,0,0],"keyboard_occlusion":0})");
    EXPECT_EQ(number_member(event, "resource_revision"), revision);
    found = true;
  }
  // The events were sent between replies: the host still answers.
  EXPECT_TRUE(test::reply_ok(host->request(R"({"op":"info"})")));
  EXPECT_TRUE(host->close());
}

// The offscreen display's usable area is 1024 x 768.
TEST(WindowEventsOffscreenTest, OpeningFitsTheDisplayAndSetSizeDoesNot) {
  auto host = test::launch_window_host(R"("width":3000,"height":1000)");
  ASSERT_TRUE(host);
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_EQ(json_text(member(info->result.get(), "window_size")), "[1024,768]");
  EXPECT_EQ(json_text(member(info->result.get(), "viewport")),
            R"({"width":1024,"height":768,"scale":1,"safe_area":[0,0,0,0],"keyboard_occlusion":0})");
  auto resized = host->request(R"({"op":"set_size","width":1500,"height":900})");
  ASSERT_TRUE(test::reply_ok(resized));
  EXPECT_EQ(json_text(member(resized->result.get(), "window_size")), "[1500,900]");
  EXPECT_EQ(number_member(resized->result.get(), "width"), 1500);
  EXPECT_EQ(number_member(resized->result.get(), "height"), 900);
  // At a fixed scale the request is logical: twice as many window units.
  EXPECT_TRUE(test::reply_ok(host->request(R"({"op":"configure","scale":2})")));
  resized = host->request(R"({"op":"set_size","width":300,"height":200})");
  ASSERT_TRUE(test::reply_ok(resized));
  EXPECT_EQ(json_text(member(resized->result.get(), "window_size")), "[600,400]");
  EXPECT_EQ(number_member(resized->result.get(), "width"), 300);
  EXPECT_TRUE(host->close());
}

TEST(WindowEventsOffscreenTest, SetSizeOutOfRangeFailsAndKeepsTheSize) {
  auto host = test::launch_window_host(R"("width":120,"height":80)");
  ASSERT_TRUE(host);
  for (const char* command : {R"({"op":"set_size","width":0,"height":80})",
                              R"({"op":"set_size","width":120,"height":16385})",
                              R"({"op":"set_size","width":"wide","height":80})",
                              R"({"op":"set_size","width":120})"}) {
    SCOPED_TRACE(command);
    EXPECT_TRUE(test::reply_fails_with(host->request(command), "Invalid arguments for renderer operation: set_size"));
  }
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(test::reply_ok(info));
  EXPECT_EQ(json_text(member(info->result.get(), "window_size")), "[120,80]");
  EXPECT_TRUE(host->close());
}

}  // namespace
}  // namespace lumora
