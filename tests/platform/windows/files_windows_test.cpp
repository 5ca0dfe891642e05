#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_read.h"
#include "platform/files.h"
#include "platform/random.h"

namespace lumora::platform {
namespace {

// A fresh folder under the system's temporary folder, removed afterwards.
class FilesWindowsTest : public testing::Test {
 protected:
  void SetUp() override {
    unsigned char bytes[8];
    ASSERT_TRUE(random_bytes(bytes, sizeof bytes));
    std::string name = "lumora-test-";
    for (unsigned char byte : bytes) name += "0123456789abcdef"[byte % 16];
    folder_ = std::filesystem::temp_directory_path() / name;
    ASSERT_TRUE(std::filesystem::create_directory(folder_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  // The temporary folder's name is ASCII; the file's own name is UTF-8.
  std::string path(const std::string& utf8_name) const { return folder_.string() + "\\" + utf8_name; }
  std::filesystem::path folder_;
};

TEST_F(FilesWindowsTest, NonAsciiPathIsWrittenReplacedAndReadBack) {
  const std::string file = path("capture é 中.ans");
  ASSERT_EQ(write_file_replacing(file, "a longer first text"), FileWriteStatus::ok);
  ASSERT_EQ(write_file_replacing(file, "short\nline\n"), FileWriteStatus::ok);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(read_file_bounded(file.c_str(), 1024, bytes), FileReadStatus::ok);
  // Binary both ways: no CR is added before the newlines.
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "short\nline\n");
  EXPECT_EQ(read_file_bounded(file.c_str(), 10, bytes), FileReadStatus::too_large);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(FilesWindowsTest, MissingFoldersFoldersAndIllFormedNamesAreRefused) {
  EXPECT_EQ(write_file_replacing(path("none/x.ans"), "x"), FileWriteStatus::open_failed);
  EXPECT_EQ(write_file_replacing(path("bad\xC0\xAF.ans"), "x"), FileWriteStatus::open_failed);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(read_file_bounded(path("none.png").c_str(), 1024, bytes), FileReadStatus::cannot_open);
  EXPECT_EQ(read_file_bounded(folder_.string().c_str(), 1024, bytes), FileReadStatus::cannot_open);
}

}  // namespace
}  // namespace lumora::platform
