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

TEST(AppendLinesTest, EndsATornLastLineBeforeAppending) {
  // A piece of a line left by a power cut or a killed writer gets its line end, so the next
  // line starts a line of its own; nothing before it changes.
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"05-03-2004 09:07", "05-03-2004 09:07\r\nnew\r\n"},
      {"whole\r\ntorn\r", "whole\r\ntorn\r\nnew\r\n"},
      {"whole\r\n", "whole\r\nnew\r\n"},
      {"unix\n", "unix\nnew\r\n"},
      {"", "new\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    TempDir dir;
    const std::string file = dir.file("calls.txt");
    writeBytes(file, c.before);
    EXPECT_EQ(appendLines(file, {"new"}), kAppendOk);
    EXPECT_EQ(readBytes(file), c.after);
    DurableAppender durable;
    writeBytes(file, c.before);
    EXPECT_EQ(durable.append(file, {"new"}), kAppendOk);
    EXPECT_TRUE(durable.waitDurable());
    EXPECT_EQ(readBytes(file), c.after);
  }
}

TEST(LastCallLineTest, SkipsTitleLinesEmptyLinesAndATornEnd) {
  const std::string call = "05-03-2004 09:07:03   00:01:05   123(  201)       7     567";
  const std::string title = "       Данные на  05-03-2004 09:07:03 ";
  const struct {
    const char* name;
    std::string file;
    std::string last;
  } cases[] = {
      {"last line", "older\r\n" + call + "\r\n", call},
      {"titles after it", call + "\r\n" + title + "\r\n\r\n" + title + "\r\n", call},
      {"torn end", call + "\r\n05-03-2004 1", call},
      {"LF only", "a\n" + call + "\n", call},
      {"titles only", title + "\r\n", ""},
      {"empty", "", ""},
      {"first line of the file", call + "\r\n", call},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    writeBytes(dir.file("calls.txt"), c.file);
    EXPECT_EQ(lastCallLine(dir.file("calls.txt")), c.last);
  }
  TempDir dir;
  EXPECT_EQ(lastCallLine(dir.file("missing.txt")), "");
  // Only the end of a long file is read: a call line followed by more than the scan of title
  // lines is not found, and a line cut by the start of the scan is not taken for a whole one.
  std::string longTail = call + "\r\n";
  while (longTail.size() < static_cast<std::size_t>(kCallLineScanBytes) + 100) {
    longTail += title + "\r\n";
  }
  writeBytes(dir.file("long.txt"), longTail);
  EXPECT_EQ(lastCallLine(dir.file("long.txt")), "");
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
