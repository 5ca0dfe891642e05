// The terminal's capture file through the real host: the path is UTF-8 text
// and reaches the file system whole, on every system the host runs on.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/host_fixture.h"

namespace lumora {
namespace {

using test::reply_fails_with;
using test::reply_ok;

TEST(HostCapturePathTest, NonAsciiPathReceivesTheFullFrameAndAMissingFolderIsRefused) {
  test::TempDir folder;
  ASSERT_FALSE(folder.path().empty());
  auto host = test::launch_headless_host(12, 3);
  ASSERT_TRUE(host);
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["text","héllo",8,16,"#ffffff",14,false]]})")));
  auto full = host->request(R"({"op":"ansi","diff":false})");
  ASSERT_TRUE(reply_ok(full));
  ASSERT_TRUE(cJSON_IsString(full->result.get()));
  const std::string expected = full->result->valuestring;

  // Two- and three-byte sequences and a space: nothing is cut or re-encoded.
  const std::string path = folder.file("capture é 中.ans");
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"capture","path":")" + path + "\"}")));
  EXPECT_EQ(test::read_file(path), expected);

  const std::string missing = folder.file("no such folder/capture.ans");
  EXPECT_TRUE(reply_fails_with(host->request(R"({"op":"capture","path":")" + missing + "\"}"),
                               "Cannot open terminal capture path"));
  // The host serves on.
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"info"})")));
}

}  // namespace
}  // namespace lumora
