#include "files/data_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <string>
#include <vector>

#include "files/call_record_line.h"
#include "files/text_codec.h"
#include "link/pbx_link.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

TEST(AppendLinesTest, CreatesAMissingFileWithCrLfLines) {
  TempDir dir;
  const std::string file = dir.file("calls.txt");
  EXPECT_EQ(appendLines(file, {"first", "", "third"}), kAppendOk);
  EXPECT_EQ(readBytes(file), "first\r\n\r\nthird\r\n");
}

TEST(AppendLinesTest, NeverTruncates) {
  TempDir dir;
  const std::string file = dir.file("calls.txt");
  writeBytes(file, "old line\r\n");
  EXPECT_EQ(appendLines(file, {"a"}), kAppendOk);
  EXPECT_EQ(appendLines(file, {"b", "c"}), kAppendOk);
  EXPECT_EQ(readBytes(file), "old line\r\na\r\nb\r\nc\r\n");
}

TEST(AppendLinesTest, WritesWindows1251BytesUnchanged) {
  TempDir dir;
  const std::string file = dir.file("calls.txt");
  const std::string line = ru("Абонент СЛ №") + "\xFF\x98";
  EXPECT_EQ(appendLines(file, {line}), kAppendOk);
  EXPECT_EQ(readBytes(file), line + "\r\n");
}

TEST(AppendLinesTest, CyrillicFileNameReachesTheFileSystem) {
  TempDir dir;
  EXPECT_EQ(appendLines(dir.str() + "/" + ru("Звонки март.txt"), {"x"}), kAppendOk);
  EXPECT_EQ(readBytes(dir.path() / "Звонки март.txt"), "x\r\n");
}

TEST(AppendLinesTest, ReportsWhatCouldNotBeWritten) {
  TempDir dir;
  const std::string underFile = test::pathUnderRegularFile(dir, "calls.txt", "keep");
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"empty name", ""},
      {"missing folder", dir.file("no-such-folder") + "/calls.txt"},
      {"parent is a file", underFile},
      {"a folder", dir.str()},  // opens for reading, never for appending
      {"disk full", "/dev/full"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(appendLines(c.path, {"line"}), kAppendFailed);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "no-such-folder"));
  EXPECT_EQ(readBytes(dir.path() / "plain-file"), "keep");
}

// A write cut short part-way through a line, as on a full disk: the file size limit lets 40
// bytes of the line through and refuses the rest.
TEST(AppendLinesTest, AWriteCutShortLeavesNoPieceOfALine) {
  TempDir dir;
  const std::string file = dir.file("calls.txt");
  writeBytes(file, "old line\r\n");
  const std::string line(76, 'x');
  for (const std::vector<std::string>& lines :
       {std::vector<std::string>{line}, std::vector<std::string>{"header", line}}) {
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 10 + 40;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = appendLines(file, lines);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, kAppendFailed);
    EXPECT_EQ(readBytes(file), "old line\r\n") << lines.size() << " lines";
  }
  // The next line starts a line of its own.
  EXPECT_EQ(appendLines(file, {"next"}), kAppendOk);
  EXPECT_EQ(readBytes(file), "old line\r\nnext\r\n");
}

TEST(NativePathTest, RoundTripsWindows1251Paths) {
  const std::string path = "/tmp/" + ru("Данные/звонки") + " 2004.txt";
  EXPECT_EQ(nativePath(path), "/tmp/Данные/звонки 2004.txt");
  EXPECT_EQ(fromNativePath(nativePath(path)), path);
}

class PbxLinkDataFileTest : public ::testing::Test {
 protected:
  PbxLinkDataFileTest() : link(dir.str()) { link.settings.dataFileName = dataFile(); }
  std::string dataFile() const { return dir.file("data.txt"); }

  TempDir dir;
  PbxLink link;
};

TEST_F(PbxLinkDataFileTest, TitleLinesThenDataLinesAreAppended) {
  writeBytes(dataFile(), "earlier\r\n");
  link.buildTitleLines(PbxClock{2004, 3, 5, 9, 7, 3});
  EXPECT_EQ(link.appendTitleLines(), kOk);
  EXPECT_EQ(link.appendDataLine("line one"), kOk);
  EXPECT_EQ(link.appendDataLine("line two"), kOk);
  EXPECT_EQ(readBytes(dataFile()), "earlier\r\n" + headerLine(PbxClock{2004, 3, 5, 9, 7, 3}) +
                                       "\r\n" + columnTitleLine() + "\r\n" +
                                       "line one\r\nline two\r\n");
}

TEST_F(PbxLinkDataFileTest, UnwritableDataFileIsReportedAsNotWritten) {
  link.buildTitleLines(PbxClock{2004, 3, 5, 9, 7, 3});
  for (const std::string& name : {std::string(), dir.file("missing") + "/data.txt"}) {
    SCOPED_TRACE(name);
    link.settings.dataFileName = name;
    EXPECT_EQ(link.appendDataLine("line"), kAppendNotWritten);
    EXPECT_EQ(link.appendTitleLines(), kAppendNotWritten);
  }
}

}  // namespace
}  // namespace kordel

namespace {

// A data-file name from a damaged configuration file may hold a NUL byte; the line must not
// go to the file named by the part before it.
TEST(AppendLinesNul, NameWithANulByteWritesNothing) {
  kordel::test::TempDir dir;
  const std::string cut = dir.file("calls.txt");
  const std::string name = cut + std::string(1, '\0') + "tail";
  EXPECT_EQ(kordel::appendLines(name, {"line"}), kordel::kAppendFailed);
  EXPECT_FALSE(std::filesystem::exists(cut));
}

}  // namespace
