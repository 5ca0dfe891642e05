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

// A FIFO nobody reads would block the writer until somebody opened it, and
// one whose reader stops reading once its buffer is full; a device may
// refuse bytes. Each case returns at once with what happened.
TEST(FilesTest, FifosAndDevicesNeverBlockTheWriter) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("fifo");
  ASSERT_TRUE(test::make_fifo(fifo));
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(fifo, "never read"));

  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing(fifo, "read"));
  EXPECT_EQ("read", test::read_available(reader));
  // Far more than a pipe holds, with a reader that is not reading.
  EXPECT_EQ(FileWriteStatus::write_failed, write_file_replacing(fifo, std::string(16 << 20, 'x')));
  test::close_descriptor(reader);

  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing("/dev/null", "gone"));
  EXPECT_EQ(FileWriteStatus::write_failed, write_file_replacing("/dev/full", "no space"));
  for (const std::string& path : {dir.path(), dir.file("missing/dir/file")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(path, "x"));
  }
}

}  // namespace
}  // namespace lumora::platform
