// Whether two names are one file: the guard that keeps a report off its own data file.
#include "files/file_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "files/text_codec.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using test::TempDir;
using test::writeBytes;

TEST(SameFileTest, KnowsAFileByAnyOfItsNames) {
  TempDir dir;
  const std::string data = dir.file("data.txt");
  writeBytes(data, "calls\r\n");
  writeBytes(dir.file("copy.txt"), "calls\r\n");
  std::filesystem::create_symlink(data, dir.file("link.txt"));
  std::filesystem::create_hard_link(data, dir.file("hard.txt"));
  std::filesystem::create_directory(dir.path() / "Отчеты");
  writeBytes(dir.path() / "Отчеты" / "d.txt", "x");
  std::filesystem::create_symlink(dir.path() / "Отчеты" / "d.txt", dir.file("cyr.txt"));
  const struct {
    const char* name;
    std::string other;
    bool same;
  } cases[] = {
      {"the same name", data, true},
      {"another spelling", dir.str() + "/./sub/../data.txt", true},
      {"a symbolic link", dir.file("link.txt"), true},
      {"a hard link", dir.file("hard.txt"), true},
      {"a copy", dir.file("copy.txt"), false},
      {"a file that does not exist", dir.file("new.txt"), false},
      {"the folder", dir.str(), false},
  };
  std::filesystem::create_directory(dir.path() / "sub");
  for (const auto& c : cases) {
    EXPECT_EQ(sameFile(data, c.other), c.same) << c.name;
    EXPECT_EQ(sameFile(c.other, data), c.same) << c.name << ", the other way round";
  }
  EXPECT_FALSE(sameFile(dir.file("new.txt"), dir.file("new.txt"))) << "nothing is no file";
  // Windows-1251 names reach the file system in its own encoding.
  EXPECT_TRUE(sameFile(dir.str() + "/" + ru("Отчеты") + "/d.txt", dir.file("cyr.txt")));
}

}  // namespace
}  // namespace kordel
