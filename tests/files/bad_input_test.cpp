// Damaged and hostile inputs, and outputs that cannot be written: configuration files, data
// files for the report loader, and the append-only files (data file, real-time log, reports).
// Nothing may crash, every failure must be reported with its code, and nothing already saved
// may be lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "files/call_record_line.h"
#include "files/data_file.h"
#include "files/settings.h"
#include "files/text_codec.h"
#include "realtime/realtime_log.h"
#include "report/report_book.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using test::readBytes;
using test::TempDir;
using test::Unprivileged;
using test::writeBytes;

// A path in which nothing can be created even by root: its "directory" is a regular file.
std::string underRegularFile(const TempDir& dir) {
  return test::pathUnderRegularFile(dir, "calls.txt");
}

std::string sampleLine(int hardware, const std::string& dialed) {
  CallRecord r = test::makeRecord(hardware, "1245", "204", dialed);
  r.year = 2024;
  return formatCallRecordLine(r);
}

// --- "Kordel.cfg" ---

TEST(BadPortConfig, EveryLengthUpToFortyBytes) {
  TempDir dir;
  std::mt19937 rng(11);
  for (int size = 0; size <= 40; ++size) {
    SCOPED_TRACE(size);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    writeBytes(dir.path() / kPortConfigName, bytes);
    Settings s;
    s.startDirectory = dir.str();
    ASSERT_EQ(loadPortConfig(s), kConfigOk);
    if (size == kPortConfigSize) {
      EXPECT_FALSE(s.firstRun);
      EXPECT_EQ(readBytes(dir.path() / kPortConfigName), bytes) << "a sound file is kept";
    } else {
      // Damaged: replaced by the default file, as on a first start.
      EXPECT_TRUE(s.firstRun);
      EXPECT_EQ(s.portName, "COM1");
      EXPECT_TRUE(s.titleEnabled);
      EXPECT_EQ(readBytes(dir.path() / kPortConfigName).size(),
                static_cast<std::size_t>(kPortConfigSize));
    }
  }
}

TEST(BadPortConfig, EveryValueOfTheFirstTwoBytes) {
  // Every port byte with the title bytes that matter, and every title byte with a few ports.
  std::vector<std::pair<int, int>> pairs;
  for (int v = 0; v < 256; ++v) {
    for (int other : {0, 1, 2, 8, 9, 255}) {
      pairs.emplace_back(v, other);
      pairs.emplace_back(other, v);
    }
  }
  TempDir dir;
  std::string bytes(kPortConfigSize, '\x7F');
  int mismatches = 0;
  for (const auto& [port, title] : pairs) {
    bytes[0] = static_cast<char>(port);
    bytes[1] = static_cast<char>(title);
    writeBytes(dir.path() / kPortConfigName, bytes);
    Settings s;
    s.startDirectory = dir.str();
    const std::string want = port >= 1 && port <= 8 ? "COM" + std::to_string(port) : "COM";
    if (loadPortConfig(s) != kConfigOk || s.portName != want || s.titleEnabled != (title == 1) ||
        s.firstRun || readBytes(dir.path() / kPortConfigName) != bytes) {
      ADD_FAILURE() << "bytes " << port << ", " << title << " gave " << s.portName;
      if (++mismatches > 5) return;
    }
  }
}

// --- "KordelOut.cfg" ---

Settings loadOutput(const TempDir& dir, const std::string& bytes, int* result) {
  writeBytes(dir.path() / kOutputConfigName, bytes);
  Settings s;
  s.startDirectory = dir.str();
  *result = loadOutputConfig(s);
  return s;
}

TEST(BadOutputConfig, BinaryJunkIsReadWithoutHarm) {
  TempDir dir;
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string junk(static_cast<std::size_t>(rng() % 4096), '\0');
    for (char& c : junk) c = static_cast<char>(rng());
    if (round % 2 == 0) junk += "\r\nTARIF_FNAME=calls.txt\r\n";  // a key after the junk
    int result = 0;
    const Settings s = loadOutput(dir, junk, &result);
    ASSERT_EQ(result, kConfigOk) << round;
    if (round % 2 == 0) {
      EXPECT_EQ(s.dataFileName, "calls.txt") << round;
    }
  }
}

TEST(BadOutputConfig, NulBytesHugeLinesAndNoLineEnds) {
  TempDir dir;
  int result = 0;
  // A value with NUL bytes is taken as bytes.
  Settings s = loadOutput(dir, std::string("TARIF_FNAME=a\0b.txt\r\n", 21), &result);
  EXPECT_EQ(result, kConfigOk);
  EXPECT_EQ(s.dataFileName, std::string("a\0b.txt", 7));

  // A 60 KB name is read (the file stays under 64 KB), and cannot be opened.
  const std::string huge(60000, 'n');
  s = loadOutput(dir, "TARIF_FNAME=" + huge + "\r\nAUTO=AUTOSTART_1\r\n", &result);
  EXPECT_EQ(result, kConfigOk);
  EXPECT_EQ(s.dataFileName.size(), huge.size());
  EXPECT_EQ(s.autostartMode, kAutostartReadOnce);
  EXPECT_EQ(appendLines(s.dataFileName, {"x"}), kAppendFailed) << "a name too long to open";

  // A file over 64 KB (here 1 MB, no line end) is not read at all: the defaults stay.
  s = loadOutput(dir, "AUTO=AUTOSTART_1\r\n" + std::string(1 << 20, 'x'), &result);
  EXPECT_EQ(result, kConfigMissing);
  EXPECT_EQ(s.dataFileName, "");
  EXPECT_EQ(s.autostartMode, kAutostartNone);
  ASSERT_EQ(s.warnings.size(), 1u);
  EXPECT_NE(s.warnings[0].find(ru("больше 64 КБ")), std::string::npos);

  // Everything on one line: the first key takes the rest of the line.
  s = loadOutput(dir, "TARIF_FNAME=a.txtREALTIME_FNAME=b.logAUTO=AUTOSTART_1", &result);
  EXPECT_EQ(result, kConfigOk);
  EXPECT_TRUE(s.dataFileName.starts_with("a.txtREALTIME_FNAME=")) << s.dataFileName;
  EXPECT_EQ(s.autostartMode, kAutostartOff);
}

TEST(BadOutputConfig, RepeatedKeysTakeTheLastLine) {
  TempDir dir;
  int result = 0;
  const Settings s = loadOutput(dir,
                                "TARIF_FNAME=one.txt\r\nTARIF_FNAME=two.txt\r\nAUTO=AUTOSTART_1\r\n"
                                "REALTIME_FNAME=a.log\nREALTIME_FNAME=b.log\rAUTO=none\r\n",
                                &result);
  EXPECT_EQ(result, kConfigOk);
  EXPECT_EQ(s.dataFileName, "two.txt");
  EXPECT_EQ(s.realTimeLogName, "b.log");
  EXPECT_EQ(s.autostartMode, kAutostartOff);
}

// --- data files for the report loader ---

TEST(BadDataFile, BinaryAndNulBytesNeverCrashTheLoader) {
  std::mt19937 rng(3);
  const std::string good = sampleLine(201, "8495100");
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const int lines = static_cast<int>(rng() % 20);
    for (int i = 0; i < lines; ++i) {
      std::string line = good;
      // Damage a few bytes of some lines, NUL bytes included.
      for (unsigned k = rng() % 4; k > 0; --k) line[rng() % line.size()] = static_cast<char>(rng());
      bytes += line + (rng() % 2 ? "\r\n" : "\n");
    }
    report::ReportBook book;
    const report::LoadResult r = book.loadBytes(bytes);
    if (r.ok()) {
      EXPECT_LE(book.callList().count(), static_cast<std::size_t>(lines)) << round;
    } else {
      EXPECT_EQ(r.code, report::kLoadLineFailed) << round;
      EXPECT_GE(r.lineNumber, 1u);
      EXPECT_FALSE(r.message.empty());
      EXPECT_FALSE(book.loaded()) << "a failed load leaves the book as it was";
    }
  }
}

TEST(BadDataFile, CrOnlyLineEndsAndMegabyteLines) {
  const std::string a = sampleLine(201, "8495100");
  const std::string b = sampleLine(202, "123");
  report::ReportBook book;
  ASSERT_TRUE(book.loadBytes(a + "\r" + b + "\r").ok());
  EXPECT_EQ(book.callList().count(), 2u);

  // A 1 MB line that begins with a space is a title-like line and skipped; one that begins
  // with a digit is refused with its line number; the calls around it are kept or refused as
  // a whole.
  ASSERT_TRUE(book.loadBytes(a + "\r\n " + std::string(1 << 20, 'x') + "\r\n" + b + "\r\n").ok());
  EXPECT_EQ(book.callList().count(), 2u);
  const report::LoadResult r = book.loadBytes(a + "\r\n" + std::string(1 << 20, '7') + "\r\n");
  if (!r.ok()) {
    EXPECT_EQ(r.code, report::kLoadLineFailed);
    EXPECT_EQ(r.lineNumber, 2u);
    EXPECT_EQ(book.callList().count(), 2u) << "the previous file stays loaded";
  }
  // A 1 MB dialed number on an otherwise sound line.
  const report::LoadResult longNumber = book.loadBytes(a + std::string(1 << 20, '5') + "\r\n");
  EXPECT_TRUE(longNumber.ok() || longNumber.code == report::kLoadLineFailed);
}

// Hostile text from a data file reaches the user only cut short and escaped: no terminal
// control, and a message of a few hundred bytes whatever the file holds.
TEST(BadDataFile, MessagesQuoteTheFileCutShortAndEscaped) {
  const std::string hostile = "\x1B]0;owned\x07\x1B[2J";
  std::string badLine = sampleLine(201, "8495100");
  badLine.replace(2, 1, hostile);  // a separator column, which is not examined
  badLine.replace(11, 2, "25");    // hour 25: the line does not convert
  badLine += std::string(1 << 20, '5');
  std::string oddNumber = sampleLine(202, "123");
  const std::size_t open = oddNumber.find('(');
  oddNumber.replace(open + 1, oddNumber.find(')') - open - 1, hostile + std::string(1000, '7'));

  report::ReportBook book;
  const std::string loadMessage = book.loadBytes(badLine + "\r\n").message;
  const std::string openMessage =
      book.load("/nonexistent/" + hostile + std::string(5000, 'n')).message;
  ASSERT_TRUE(book.loadBytes(oddNumber + "\r\n" + sampleLine(203, "5") + "\r\n").ok());
  const std::string sortMessage = book.sortLines(report::LineSortKey::Programmed).message;
  for (const std::string& message : {loadMessage, openMessage, sortMessage}) {
    EXPECT_LT(message.size(), 1000u);
    EXPECT_EQ(message.find('\x1B'), std::string::npos) << cp1251ToUtf8(message);
    EXPECT_EQ(message.find('\x07'), std::string::npos);
    EXPECT_NE(message.find("\\x1B"), std::string::npos) << cp1251ToUtf8(message);
  }
}

long rssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return -1;
}

// Runs `job` in a child process watched from here, so that a job that holds more than
// `limitKb` of memory or takes longer than `seconds` is stopped instead of taking the machine
// or the test run with it. Returns the child's exit status (0 when `job` returned true), or -1
// when it had to be stopped; `peakKb` gets the largest resident size seen.
int runWatched(const std::function<bool()>& job, long limitKb, int seconds, long* peakKb) {
  const pid_t child = ::fork();
  if (child < 0) return -2;
  if (child == 0) ::_exit(job() ? 0 : 1);
  long peak = 0;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (::waitpid(child, &status, WNOHANG) == 0) {
    const long rss = rssKb(child);
    peak = std::max(peak, rss);
    if (rss > limitKb || std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      *peakKb = peak;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *peakKb = peak;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

// A 2 GB file of zeros (sparse: it takes no disk). The loader refuses files over 1 GiB with a
// message instead of holding them whole in memory; a loader that does read it all is stopped
// at 1 GiB, not when memory runs out.
TEST(BadDataFile, TwoGigabyteSparseFileDoesNotExhaustMemory) {
  TempDir dir;
  const std::string path = dir.file("huge.txt");
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 2LL << 30), 0);
    ::close(fd);
  }
  long peak = 0;
  const int status = runWatched(
      [&] {
        report::ReportBook book;
        const report::LoadResult r = book.load(path);
        return !r.ok() && r.code == report::kLoadFileFailed && !r.message.empty();
      },
      1L << 20, 120, &peak);
  EXPECT_NE(status, -1) << "the loader held " << peak / 1024 << " MB of a 2 GB file";
  EXPECT_EQ(status, 0) << "a 2 GB file is refused with a message";
}

// A FIFO nobody writes to or reads from, and a link to /dev/zero, where the program expects a
// file: every open of it must come back at once with its failure (a FIFO would block the open
// for ever, /dev/zero never ends). Each case runs in a watched child (5 s, 512 MB).
TEST(SpecialFiles, AreRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  const std::string zero = dir.file("zero");
  std::filesystem::create_symlink("/dev/zero", zero);
  // A start directory whose configuration file `name` is a FIFO or a link to `target`.
  int dirs = 0;
  auto startDirectory = [&](const char* name, const std::string& target) {
    const std::filesystem::path sub = dir.path() / ("start" + std::to_string(++dirs));
    std::filesystem::create_directory(sub);
    if (target == fifo) {
      EXPECT_EQ(::mkfifo((sub / name).c_str(), 0666), 0);
    } else {
      std::filesystem::create_symlink(target, sub / name);
    }
    Settings s;
    s.startDirectory = sub.string();
    return s;
  };
  Settings outputFifo = startDirectory(kOutputConfigName, fifo);
  Settings outputZero = startDirectory(kOutputConfigName, zero);
  Settings outputSaved = startDirectory(kOutputConfigName, fifo);
  Settings portFifo = startDirectory(kPortConfigName, fifo);
  const std::string record = "line\r\n\r\n";
  const struct {
    const char* name;
    std::function<bool()> job;
  } cases[] = {
      {"KordelOut.cfg is a FIFO",
       [&] {
         return loadOutputConfig(outputFifo) == kConfigMissing && outputFifo.warnings.size() == 1;
       }},
      {"KordelOut.cfg links to /dev/zero",
       [&] {
         return loadOutputConfig(outputZero) == kConfigMissing && outputZero.warnings.size() == 1;
       }},
      {"KordelOut.cfg saved onto a FIFO",
       [&] { return saveOutputConfig(outputSaved, "d.txt", "r.log") == kConfigNotWritten; }},
      {"Kordel.cfg is a FIFO: replaced like a damaged file, and said so",
       [&] {
         return loadPortConfig(portFifo) == kConfigOk && portFifo.firstRun &&
                portFifo.warnings.size() == 1 &&
                readBytes(portFifo.portConfigPath()).size() == kPortConfigSize;
       }},
      {"report loader on a FIFO",
       [&] { return report::ReportBook().load(fifo).code == report::kLoadFileFailed; }},
      {"report loader on /dev/zero",
       [&] { return report::ReportBook().load(zero).code == report::kLoadFileFailed; }},
      {"report written to a FIFO",
       [&] {
         int err = 0;
         return report::saveLinesToFile(err, {"a"}, fifo) == report::kSaveNotRegular;
       }},
      {"real-time log on a FIFO", [&] { return appendLogRecord(fifo, record) == kAppendFailed; }},
      {"data file on a FIFO", [&] { return appendLines(fifo, {"a"}) == kAppendFailed; }},
      {"data file on /dev/zero", [&] { return appendLines(zero, {"a"}) == kAppendFailed; }},
  };
  for (const auto& c : cases) {
    long peak = 0;
    const int status = runWatched(c.job, 512L << 10, 5, &peak);
    EXPECT_EQ(status, 0) << c.name << (status == -1 ? ": stopped (" : ": ") << peak / 1024 << " MB";
  }
}

// --- files that cannot be written ---

TEST(UnwritableOutput, DataFileAppend) {
  TempDir dir;
  EXPECT_EQ(appendLines(underRegularFile(dir), {"a"}), kAppendFailed);
  EXPECT_EQ(appendLines(dir.file("missing/calls.txt"), {"a"}), kAppendFailed);
  EXPECT_EQ(appendLines("", {"a"}), kAppendFailed);
  EXPECT_EQ(appendLines("/dev/full", {std::string(100000, 'x')}), kAppendFailed)
      << "a full disk is a failure, not success";

  // A read-only data file: the append fails and the lines already saved stay as they were.
  const std::string path = dir.file("calls.txt");
  ASSERT_EQ(appendLines(path, {"first", "second"}), kAppendOk);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  {
    Unprivileged guard;
    ASSERT_TRUE(guard.ok());
    EXPECT_EQ(appendLines(path, {"third"}), kAppendFailed);
  }
  EXPECT_EQ(readBytes(path), "first\r\nsecond\r\n");
}

TEST(UnwritableOutput, RealTimeLog) {
  TempDir dir;
  const std::string record = "line\r\n\r\n";
  EXPECT_EQ(appendLogRecord(underRegularFile(dir), record), kAppendFailed);
  EXPECT_EQ(appendLogRecord(dir.file("missing/real_time.log"), record), kAppendFailed);
  EXPECT_EQ(appendLogRecord("/dev/full", std::string(100000, 'x')), kAppendFailed)
      << "a device is refused";

  const std::string path = dir.file("real_time.log");
  ASSERT_EQ(appendLogRecord(path, record), kAppendOk);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  {
    Unprivileged guard;
    ASSERT_TRUE(guard.ok());
    EXPECT_EQ(appendLogRecord(path, "more\r\n"), kAppendFailed);
  }
  EXPECT_EQ(readBytes(path), record);
}

TEST(UnwritableOutput, ReportFiles) {
  TempDir dir;
  int err = 0;
  EXPECT_EQ(report::saveLinesToFile(err, {"a"}, underRegularFile(dir)), report::kSaveNotOpened);
  EXPECT_NE(err, 0);
  EXPECT_FALSE(report::saveErrorMessage(report::kSaveNotOpened, err).empty());
  EXPECT_EQ(report::saveLinesToFile(err, {"a"}, dir.file("missing/r.txt")), report::kSaveNotOpened);
  EXPECT_EQ(report::saveLinesToFile(err, {std::string(100000, 'x')}, "/dev/full"),
            report::kSaveNotRegular)
      << "a device is refused, never reported as written";

  // A read-only report is not replaced, and keeps its contents.
  const std::string path = dir.file("report.txt");
  ASSERT_EQ(report::saveLinesToFile(err, {"old"}, path), report::kSaveOk);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  {
    Unprivileged guard;
    ASSERT_TRUE(guard.ok());
    EXPECT_EQ(report::saveLinesToFile(err, {"new"}, path), report::kSaveNotWritten);
    EXPECT_EQ(err, EACCES);
  }
  EXPECT_EQ(readBytes(path), "old\r\n");
}

}  // namespace
}  // namespace kordel
