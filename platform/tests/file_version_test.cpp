// A program file's version block is found wherever the build put it; a file
// without one, or with a damaged one, has no version.
#include "platform/file_version.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace platform;

std::string Bytes(const VersionResource& resource) {
  return std::string(reinterpret_cast<const char*>(&resource), sizeof resource);
}

class FileVersion : public ::testing::Test {
 protected:
  FileVersion() {
    char pattern[] = "/tmp/kestrova_version.XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  ~FileVersion() override { std::filesystem::remove_all(folder_); }
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string folder_;
};

TEST_F(FileVersion, ReadsTheNumbersOfTheFirstWholeBlock) {
  const std::string junk(5000, '\x7f');
  // The key text alone (as in code that searches for it) is no block.
  const std::string keyAlone(kVersionResourceKey, sizeof kVersionResourceKey);
  const std::string path =
      Write("program", junk + keyAlone + junk + Bytes(MakeVersionResource(3, 14, 15, 926)) + junk +
                           Bytes(MakeVersionResource(9, 9, 9, 9)));
  const uint32_t size = GetFileVersionInfoSize(path.c_str());
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfo(path.c_str(), size, block.data()));
  const FixedFileInfo* fixed = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(VerQueryValue(block.data(), "\\", &fixed, &length));
  EXPECT_EQ(length, sizeof(FixedFileInfo));
  EXPECT_EQ(fixed->fileVersionMS >> 16, 3u);
  EXPECT_EQ(fixed->fileVersionMS & 0xFFFF, 14u);
  EXPECT_EQ(fixed->fileVersionLS >> 16, 15u);
  EXPECT_EQ(fixed->fileVersionLS & 0xFFFF, 926u);
  EXPECT_FALSE(VerQueryValue(block.data(), "\\StringFileInfo", &fixed, &length));
  EXPECT_FALSE(GetFileVersionInfo(path.c_str(), size - 1, block.data()));
}

TEST_F(FileVersion, FilesWithoutAWholeBlockHaveNone) {
  const std::string whole = Bytes(MakeVersionResource(1, 2, 3, 4));
  std::string wrongSignature = whole;
  wrongSignature[16] ^= 0x01;
  const struct {
    const char* what;
    std::string content;
  } cases[] = {
      {"empty file", ""},
      {"no block", std::string(4096, 'x')},
      {"signature damaged", "abc" + wrongSignature},
      {"cut at the end", "abc" + whole.substr(0, whole.size() - 1)},
  };
  for (const auto& c : cases) {
    const std::string path = Write("file", c.content);
    EXPECT_EQ(GetFileVersionInfoSize(path.c_str()), 0u) << c.what;
    char block[sizeof(VersionResource)];
    EXPECT_FALSE(GetFileVersionInfo(path.c_str(), sizeof block, block)) << c.what;
  }
  EXPECT_EQ(GetFileVersionInfoSize((folder_ + "/missing").c_str()), 0u);
  EXPECT_EQ(GetFileVersionInfoSize(folder_.c_str()), 0u);
  EXPECT_EQ(GetFileVersionInfoSize(nullptr), 0u);
}

}  // namespace
