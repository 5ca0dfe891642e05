#include "platform/files.h"
#include "platform/file_read.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

// A FIFO nobody reads would block the writer until somebody opened it, a
// FIFO somebody reads is no file to replace, and a device may never answer:
// only regular files are written, and every refusal comes at once.
TEST(FilesTest, OnlyRegularFilesAreWritten) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("fifo");
  const std::string link = dir.file("link");
  ASSERT_TRUE(test::make_fifo(fifo));
  ASSERT_TRUE(test::make_symlink(fifo, link));
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(fifo, "never read"));
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(link, "never read"));
  int reader = test::open_fifo_reader(fifo);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FileWriteStatus::open_failed, write_file_replacing(fifo, "read"));
  EXPECT_EQ("", test::read_available(reader));
  test::close_descriptor(reader);
  for (const std::string& path : {std::string("/dev/null"), std::string("/dev/full"), dir.path()}) {
    SCOPED_TRACE(path);
    FileOpenStatus status;
    EXPECT_FALSE(open_regular_file_for_writing(path.c_str(), &status).valid());
    EXPECT_EQ(FileOpenStatus::not_regular, status);
  }
  FileOpenStatus status;
  EXPECT_FALSE(open_regular_file_for_writing(dir.file("missing/dir/file").c_str(), &status).valid());
  EXPECT_EQ(FileOpenStatus::cannot_open, status);
  // A link to a regular file is followed.
  const std::string target = dir.file("target");
  ASSERT_TRUE(test::make_symlink(target, dir.file("to-target")));
  EXPECT_EQ(FileWriteStatus::ok, write_file_replacing(dir.file("to-target"), "through the link"));
  EXPECT_EQ("through the link", test::read_file(target));
}

TEST(FilesTest, OnlyRegularFilesAreRead) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir.file("fifo");
  ASSERT_TRUE(test::make_fifo(fifo));
  std::vector<std::uint8_t> bytes;
  // No writer: a blocking open would wait for one forever.
  EXPECT_EQ(FileReadStatus::not_regular, read_file_bounded(fifo.c_str(), 100, bytes));
  EXPECT_EQ(FileReadStatus::not_regular, read_file_bounded(dir.path().c_str(), 100, bytes));
  EXPECT_EQ(FileReadStatus::not_regular, read_file_bounded("/dev/zero", 100, bytes));
  EXPECT_EQ(FileReadStatus::cannot_open, read_file_bounded(dir.file("missing").c_str(), 100, bytes));
  const std::string file = dir.file("file");
  ASSERT_EQ(FileWriteStatus::ok, write_file_replacing(file, "twelve bytes"));
  EXPECT_EQ(FileReadStatus::too_large, read_file_bounded(file.c_str(), 11, bytes));
  ASSERT_EQ(FileReadStatus::ok, read_file_bounded(file.c_str(), 12, bytes));
  EXPECT_EQ("twelve bytes", std::string(bytes.begin(), bytes.end()));
}

}  // namespace
}  // namespace lumora::platform
