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

}  // namespace
}  // namespace lumora
