#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"

namespace lumora::platform {
namespace {

using test::TempDir;

TEST(FilesTest, RegularFilesAreCreatedOrReplacedWhole) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.file("capture.ans");
  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing(path, "a much longer first text"));
  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing(path, "short"));
  EXPECT_EQ("short", test::read_file(path));
  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing(path, ""));
  EXPECT_EQ("", test::read_file(path));
}

// Nothing that is not a regular file is written to: a FIFO nobody reads
// would block the writer for as long as nobody opens it, and one that is
// read, or a device, is not a capture file either. Each case returns at once.
TEST(FilesTest, NonRegularFilesAreRefusedWithoutBlocking) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("fifo");
  ASSERT_TRUE(test::make_fifo(fifo));
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(fifo, "never read"));

  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(fifo, "read, but no capture"));
  test::close_descriptor(reader);

  for (const std::string& path : {dir.path(), std::string("/dev/null"), dir.file("missing/dir/file")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(path, "x"));
  }
}

}  // namespace
}  // namespace lumora::platform
