// Cross-fades asked for by "frame" and "patch" through the real host: the
// host turns "transition_seconds" into the window's transition duration, so
// a command without it replaces at once and one with it keeps a snapshot.
// The fades here last the longest a command may ask for (5 s), far beyond
// the few requests each test sends while one runs.
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::number_member;
using test::reply_ok;

struct Shown {
  double bytes = 0;
  double snapshot_commands = 0;
  bool animating = false;
};

Shown shown(client::Controller& host) {
  auto reply = host.request(R"({"op":"info"})");
  EXPECT_TRUE(reply_ok(reply));
  if (!reply || !reply->ok) return {};
  return {number_member(reply->result.get(), "retained_scene_bytes"),
          number_member(reply->result.get(), "transition_snapshot_commands"),
          cJSON_IsTrue(test::member(reply->result.get(), "animating")) != 0};
}

std::string rect(const char* colour) {
  return std::string(R"([["rect",[0,0,10,10],")") + colour + R"(",0,"",0]])";
}

TEST(WindowTransitionTest, FrameFadesOnlyWhenItAsksTo) {
  auto host = test::launch_window_host(R"("width":40,"height":20)");
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":)" + rect("#ff0000") + "}")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":)" + rect("#0000ff") + "}")));
  const Shown plain = shown(*host);
  EXPECT_FALSE(plain.animating);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","transition_seconds":5,"commands":)" + rect("#ff0000") + "}")));
  const Shown fading = shown(*host);
  EXPECT_GT(fading.bytes, plain.bytes);
  EXPECT_TRUE(fading.animating);
  // The next frame without a duration replaces at once.
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":)" + rect("#0000ff") + "}")));
  const Shown replaced = shown(*host);
  EXPECT_EQ(replaced.bytes, plain.bytes);
  EXPECT_FALSE(replaced.animating);
}

TEST(WindowTransitionTest, PatchedSegmentKeepsItsSnapshotWhileItFades) {
  auto host = test::launch_window_host(R"("width":40,"height":20)");
  ASSERT_TRUE(host);
  auto upsert = [](const char* colour, const char* extra) {
    return std::string(R"({"op":"patch",)") + extra + R"("upsert":[{"id":"s","bounds":[0,0,10,10],"commands":)" +
           rect(colour) + "}]}";
  };
  ASSERT_TRUE(reply_ok(host->request(upsert("#ff0000", ""))));
  const Shown plain = shown(*host);
  ASSERT_TRUE(reply_ok(host->request(upsert("#0000ff", R"("transition_seconds":5,)"))));
  const Shown fading = shown(*host);
  EXPECT_EQ(fading.snapshot_commands, 1);
  EXPECT_GT(fading.bytes, plain.bytes);
  EXPECT_TRUE(fading.animating);
  ASSERT_TRUE(reply_ok(host->request(upsert("#ff0000", ""))));
  const Shown replaced = shown(*host);
  EXPECT_EQ(replaced.snapshot_commands, 0);
  EXPECT_EQ(replaced.bytes, plain.bytes);
}

}  // namespace
}  // namespace lumora
