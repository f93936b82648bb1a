#include "files/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/data_file.h"
#include "files/text_codec.h"
#include "link/pbx_link.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using test::readBytes;
using test::TempDir;
using test::Unprivileged;
using test::writeBytes;

std::string defaultPortFile() {
  std::string bytes(kPortConfigSize, '\0');
  bytes[0] = 1;
  bytes[1] = 1;
  return bytes;
}

// A port file with the given first two bytes and a recognisable tail.
std::string portFile(int port, int title) {
  std::string bytes(kPortConfigSize, '\0');
  bytes[0] = static_cast<char>(port);
  bytes[1] = static_cast<char>(title);
  for (int i = 2; i < kPortConfigSize; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(0x40 + i);
  return bytes;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  SettingsFileTest() { settings.startDirectory = dir.str(); }

  std::filesystem::path portPath() const { return dir.path() / kPortConfigName; }
  std::filesystem::path outputPath() const { return dir.path() / kOutputConfigName; }

  TempDir dir;
  Settings settings;
};

// A directory in which nothing can be created even by root: its "parent" is a regular file.
std::string unusableDirectory(const TempDir& dir) {
  return test::pathUnderRegularFile(dir, "sub");
}

TEST_F(SettingsFileTest, PathsAreInTheStartDirectory) {
  EXPECT_EQ(settings.portConfigPath(), (dir.path() / "Kordel.cfg").string());
  EXPECT_EQ(settings.outputConfigPath(), (dir.path() / "KordelOut.cfg").string());
  settings.startDirectory += "/";
  EXPECT_EQ(settings.portConfigPath(), (dir.path() / "Kordel.cfg").string());
}

TEST(SettingsDefaultsTest, MatchAFreshLink) {
  const Settings s;
  EXPECT_EQ(s.portName, "COM1");
  EXPECT_TRUE(s.titleEnabled);
  EXPECT_EQ(s.autostartMode, kAutostartNone);
  EXPECT_FALSE(s.firstRun);
  EXPECT_EQ(s.startDirectory, std::filesystem::current_path().string());
}

// Runs `body` with the current directory changed to `directory`, and changes it back.
template <typename Body>
void inDirectory(const std::filesystem::path& directory, Body body) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  body();
  std::filesystem::current_path(previous);
}

TEST(SettingsDefaultsTest, ConfigurationFilesAreFoundInADirectoryWindows1251CannotName) {
  TempDir dir;
  // Japanese and a Greek letter: neither is in Windows-1251. Cyrillic is, and keeps its name.
  for (const char* name :
       {"\u65e5\u672c", "\u03a9-config", "\u041a\u043e\u0440\u0434\u0435\u043b\u044c"}) {
    const auto sub = dir.path() / std::string(name);  // POSIX paths are UTF-8 bytes
    std::filesystem::create_directory(sub);
    inDirectory(sub, [&] {
      Settings s;
      const bool cyrillic = std::string(name).rfind("\u041a", 0) == 0;
      if (cyrillic) {
        EXPECT_EQ(nativePath(s.startDirectory), sub.string());
      } else {
        EXPECT_EQ(s.startDirectory, ".") << name;
      }
      EXPECT_EQ(loadPortConfig(s), kConfigOk) << name;
      EXPECT_TRUE(s.firstRun) << name;
      EXPECT_EQ(savePortConfig(s, "COM3", false), kConfigOk) << name;
      EXPECT_EQ(saveOutputConfig(s, "calls.txt", "rt.log"), kConfigOk) << name;
    });
    EXPECT_EQ(readBytes(sub / kPortConfigName).substr(0, 2), std::string("\x03\x00", 2)) << name;
    EXPECT_TRUE(std::filesystem::exists(sub / kOutputConfigName)) << name;
  }
  // Away from the current directory such a name can only be spelled as near as Windows-1251
  // comes; a Cyrillic one is spelled exactly.
  EXPECT_EQ(startDirectoryName(dir.str() + "/\u65e5\u672c"), dir.str() + "/??");
  EXPECT_EQ(nativePath(startDirectoryName(dir.str() + "/\u041a")), dir.str() + "/\u041a");
}

// --- Kordel.cfg ---

TEST_F(SettingsFileTest, FirstStartCreatesTheDefaultPortFile) {
  settings.portName = "COM5";
  settings.titleEnabled = false;
  EXPECT_EQ(loadPortConfig(settings), kConfigOk);
  EXPECT_TRUE(settings.firstRun);
  EXPECT_EQ(settings.portName, "COM1");
  EXPECT_TRUE(settings.titleEnabled);
  EXPECT_EQ(readBytes(portPath()), defaultPortFile());
}

TEST_F(SettingsFileTest, PortFileOfWrongLengthIsReplacedAsAFirstRun) {
  for (std::size_t size : {0u, 1u, 29u, 31u, 300u}) {
    SCOPED_TRACE(size);
    writeBytes(portPath(), std::string(size, '\x05'));
    Settings s;
    s.startDirectory = dir.str();
    s.titleEnabled = false;
    EXPECT_EQ(loadPortConfig(s), kConfigOk);
    EXPECT_TRUE(s.firstRun);
    EXPECT_EQ(s.portName, "COM1");
    EXPECT_TRUE(s.titleEnabled);
    EXPECT_EQ(readBytes(portPath()), defaultPortFile());
  }
}

TEST_F(SettingsFileTest, PortByteGivesThePortName) {
  const struct {
    int byte;
    const char* name;
  } cases[] = {{0, "COM"},  {1, "COM1"}, {2, "COM2"}, {3, "COM3"}, {4, "COM4"}, {5, "COM5"},
               {6, "COM6"}, {7, "COM7"}, {8, "COM8"}, {9, "COM"},  {10, "COM"}, {255, "COM"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.byte);
    const std::string bytes = portFile(c.byte, 1);
    writeBytes(portPath(), bytes);
    Settings s;
    s.startDirectory = dir.str();
    EXPECT_EQ(loadPortConfig(s), kConfigOk);
    EXPECT_EQ(s.portName, c.name);
    EXPECT_FALSE(s.firstRun);
    EXPECT_EQ(readBytes(portPath()), bytes) << "a valid file is left alone";
  }
}

TEST_F(SettingsFileTest, TitleOptionIsOnOnlyForOne) {
  const struct {
    int byte;
    bool on;
  } cases[] = {{1, true}, {0, false}, {2, false}, {255, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.byte);
    writeBytes(portPath(), portFile(4, c.byte));
    Settings s;
    s.startDirectory = dir.str();
    s.titleEnabled = !c.on;
    EXPECT_EQ(loadPortConfig(s), kConfigOk);
    EXPECT_EQ(s.titleEnabled, c.on);
    EXPECT_EQ(s.portName, "COM4");
  }
}

TEST_F(SettingsFileTest, ReadOnlyPortFileIsReadNotReplaced) {
  const std::string bytes = portFile(6, 0);
  writeBytes(portPath(), bytes);
  std::filesystem::permissions(portPath(), std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
  int result = 0;
  {
    Unprivileged guard;
    if (!guard.ok()) GTEST_SKIP() << "cannot drop privileges";
    result = loadPortConfig(settings);
    // Saving must fail without touching the file or the settings.
    EXPECT_EQ(savePortConfig(settings, "COM2", true), kConfigNotWritten);
  }
  EXPECT_EQ(result, kConfigOk);
  EXPECT_FALSE(settings.firstRun);
  EXPECT_EQ(settings.portName, "COM6");
  EXPECT_FALSE(settings.titleEnabled);
  EXPECT_EQ(readBytes(portPath()), bytes);
}

TEST_F(SettingsFileTest, LoadPortConfigFailsWhenTheFileCanBeNeitherOpenedNorCreated) {
  settings.startDirectory = unusableDirectory(dir);
  EXPECT_EQ(loadPortConfig(settings), kConfigException);
  EXPECT_FALSE(settings.firstRun);
  EXPECT_EQ(settings.portName, "COM");
}

TEST_F(SettingsFileTest, SavePortConfigKeepsTheRestOfAnExistingFile) {
  const std::string before = portFile(1, 1);
  writeBytes(portPath(), before);
  EXPECT_EQ(savePortConfig(settings, "COM3", false), kConfigOk);
  EXPECT_EQ(settings.portName, "COM3");
  EXPECT_FALSE(settings.titleEnabled);
  std::string expected = before;
  expected[0] = 3;
  expected[1] = 0;
  EXPECT_EQ(readBytes(portPath()), expected);

  Settings reloaded;
  reloaded.startDirectory = dir.str();
  EXPECT_EQ(loadPortConfig(reloaded), kConfigOk);
  EXPECT_EQ(reloaded.portName, "COM3");
  EXPECT_FALSE(reloaded.titleEnabled);
  EXPECT_FALSE(reloaded.firstRun);
}

TEST_F(SettingsFileTest, SavePortConfigCreatesAMissingFile) {
  EXPECT_EQ(savePortConfig(settings, "COM8", true), kConfigOk);
  std::string expected(kPortConfigSize, '\0');
  expected[0] = 8;
  expected[1] = 1;
  EXPECT_EQ(readBytes(portPath()), expected);
}

TEST_F(SettingsFileTest, SavePortConfigRejectsANameWithoutANumber) {
  const std::string before = portFile(2, 1);
  for (const char* name : {"COM", "COMx", ""}) {
    SCOPED_TRACE(name);
    writeBytes(portPath(), before);
    EXPECT_EQ(savePortConfig(settings, name, false), kConfigException);
    EXPECT_EQ(readBytes(portPath()), before);
  }
}

TEST_F(SettingsFileTest, SavePortConfigReportsAnUnwritableDirectory) {
  settings.startDirectory = unusableDirectory(dir);
  EXPECT_EQ(savePortConfig(settings, "COM2", false), kConfigNotWritten);
  EXPECT_EQ(settings.portName, "COM1") << "nothing stored when nothing was written";
  EXPECT_TRUE(settings.titleEnabled);
}

TEST_F(SettingsFileTest, SavePortConfigReportsAFailedWrite) {
  std::filesystem::create_symlink("/dev/full", portPath());
  EXPECT_EQ(savePortConfig(settings, "COM2", false), kConfigNotWritten);
}

// --- KordelOut.cfg ---

struct OutputCase {
  const char* name;
  std::string text;
  std::string dataFile;
  std::string logFile;
  int mode;
};

class LoadOutputConfigTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(LoadOutputConfigTest, Reads) {
  TempDir dir;
  writeBytes(dir.path() / kOutputConfigName, GetParam().text);
  Settings s;
  s.startDirectory = dir.str();
  EXPECT_EQ(loadOutputConfig(s), kConfigOk);
  EXPECT_EQ(s.dataFileName, GetParam().dataFile);
  EXPECT_EQ(s.realTimeLogName, GetParam().logFile);
  EXPECT_EQ(s.autostartMode, GetParam().mode);
  EXPECT_TRUE(s.warnings.empty()) << cp1251ToUtf8(s.warnings.front());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadOutputConfigTest,
    ::testing::Values(
        OutputCase{"CrLf", "TARIF_FNAME=C:\\d.txt\r\nREALTIME_FNAME=C:\\r.log\r\nAUTO=",
                   "C:\\d.txt", "C:\\r.log", kAutostartOff},
        OutputCase{"ReadOnce", "TARIF_FNAME=a\r\nREALTIME_FNAME=b\r\nAUTO=AUTOSTART_1", "a", "b",
                   kAutostartReadOnce},
        OutputCase{"Continuous", "AUTO=AUTOSTART_UNINTERRUPT", "", "", kAutostartContinuous},
        OutputCase{"LowerCase", "AUTO=autostart_1", "", "", kAutostartOff},
        OutputCase{"TrailingSpace", "AUTO=AUTOSTART_1 ", "", "", kAutostartOff},
        OutputCase{"TrailingLineEnd", "AUTO=AUTOSTART_1\r\n", "", "", kAutostartReadOnce},
        OutputCase{"NoAutoLine", "TARIF_FNAME=a\r\nREALTIME_FNAME=b\r\n", "a", "b", kAutostartNone},
        OutputCase{"LfOnly", "TARIF_FNAME=a\nREALTIME_FNAME=b\nAUTO=AUTOSTART_UNINTERRUPT", "a",
                   "b", kAutostartContinuous},
        OutputCase{"CrOnly", "TARIF_FNAME=a\rREALTIME_FNAME=b\rAUTO=AUTOSTART_1", "a", "b",
                   kAutostartReadOnce},
        OutputCase{"LaterKeyWins",
                   "TARIF_FNAME=first\r\nAUTO=AUTOSTART_1\r\nTARIF_FNAME=second\r\n"
                   "REALTIME_FNAME=x\r\nREALTIME_FNAME=y\r\nAUTO=other",
                   "second", "y", kAutostartOff},
        OutputCase{"EmptyFile", "", "", "", kAutostartNone},
        // An editor's UTF-8 byte-order mark before the first key; only at the very start.
        OutputCase{"ByteOrderMark",
                   "\xEF\xBB\xBFTARIF_FNAME=data.txt\r\nREALTIME_FNAME=r.log\r\nAUTO=AUTOSTART_1",
                   "data.txt", "r.log", kAutostartReadOnce},
        OutputCase{"ByteOrderMarkLater",
                   "TARIF_FNAME=a\r\n\xEF\xBB\xBF"
                   "AUTO=AUTOSTART_1",
                   "a", "", kAutostartOff},
        OutputCase{"SpacesAndCyrillic",
                   "TARIF_FNAME=C:\\\xCC\xEE\xE8 \xE4\xE0\xED\xED\xFB\xE5\\data file.txt\r\n",
                   "C:\\\xCC\xEE\xE8 \xE4\xE0\xED\xED\xFB\xE5\\data file.txt", "", kAutostartNone}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, MissingOutputFileClearsOnlyTheDataFileName) {
  settings.dataFileName = "old.txt";
  settings.realTimeLogName = "old.log";
  settings.autostartMode = kAutostartReadOnce;
  EXPECT_EQ(loadOutputConfig(settings), kConfigMissing);
  EXPECT_EQ(settings.dataFileName, "");
  EXPECT_EQ(settings.realTimeLogName, "old.log");
  EXPECT_EQ(settings.autostartMode, kAutostartReadOnce);
}

TEST_F(SettingsFileTest, LinesWithoutAKeyAreNamedInTheWarnings) {
  writeBytes(outputPath(),
             "TARIF_FNAME=a.txt\r\n\r\nDATA=b.txt\r\nREALTIME_FNAME=r.log\r\n\x1B[2J" +
                 std::string(300, 'x') + "\r\nAUTO=");
  EXPECT_EQ(loadOutputConfig(settings), kConfigOk);
  EXPECT_EQ(settings.dataFileName, "a.txt");
  EXPECT_EQ(settings.realTimeLogName, "r.log");
  ASSERT_EQ(settings.warnings.size(), 2u) << "the empty line 2 is no warning";
  EXPECT_EQ(cp1251ToUtf8(settings.warnings[0]),
            "Строка 3 файла KordelOut.cfg не содержит ни TARIF_FNAME=, ни REALTIME_FNAME=, ни "
            "AUTO= и пропущена: \"DATA=b.txt\"");
  const std::string& hostile = settings.warnings[1];
  EXPECT_TRUE(hostile.starts_with(ru("Строка 5 "))) << cp1251ToUtf8(hostile);
  EXPECT_NE(hostile.find("\\x1B[2J"), std::string::npos);
  EXPECT_EQ(hostile.find('\x1B'), std::string::npos);
  EXPECT_LT(hostile.size(), 400u) << "the line is cut short";
}

TEST_F(SettingsFileTest, BinaryJunkInTheOutputFileIsHarmless) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  junk += std::string("\r\nTARIF_FNAME=", 14) + std::string("a\0b", 3) + "\r\n";
  junk += std::string(100, '\0') + "\nAUTO=AUTOSTART_1";
  writeBytes(outputPath(), junk);
  EXPECT_EQ(loadOutputConfig(settings), kConfigOk);
  EXPECT_EQ(settings.autostartMode, kAutostartReadOnce);
  EXPECT_EQ(settings.dataFileName.substr(0, 1), "a");
}

TEST_F(SettingsFileTest, SaveOutputConfigWritesExactBytesForEachMode) {
  const struct {
    int mode;
    const char* autoValue;
  } cases[] = {{kAutostartOff, ""},
               {kAutostartNone, ""},
               {kAutostartContinuous, "AUTOSTART_UNINTERRUPT"},
               {kAutostartReadOnce, "AUTOSTART_1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    settings.autostartMode = c.mode;
    EXPECT_EQ(saveOutputConfig(settings, "", ""), kConfigOk);
    EXPECT_EQ(readBytes(outputPath()),
              std::string("TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO=") + c.autoValue);
  }
}

TEST_F(SettingsFileTest, SaveOutputConfigReplacesTheWholeFileAndKeepsTheSettings) {
  writeBytes(outputPath(), std::string(500, 'z'));
  settings.dataFileName = "kept.txt";
  settings.realTimeLogName = "kept.log";
  EXPECT_EQ(saveOutputConfig(settings, "d.txt", "r.log"), kConfigOk);
  EXPECT_EQ(readBytes(outputPath()), "TARIF_FNAME=d.txt\r\nREALTIME_FNAME=r.log\r\nAUTO=");
  EXPECT_EQ(settings.dataFileName, "kept.txt");
  EXPECT_EQ(settings.realTimeLogName, "kept.log");
}

TEST_F(SettingsFileTest, NamesAndModeSurviveSaveAndLoad) {
  const std::string data = ru("/home/user/Мои документы/data file 2004.txt");
  const std::string log = "/var/log/real time.log";
  settings.autostartMode = kAutostartContinuous;
  ASSERT_EQ(saveOutputConfig(settings, data, log), kConfigOk);
  Settings loaded;
  loaded.startDirectory = dir.str();
  EXPECT_EQ(loadOutputConfig(loaded), kConfigOk);
  EXPECT_EQ(loaded.dataFileName, data);
  EXPECT_EQ(loaded.realTimeLogName, log);
  EXPECT_EQ(loaded.autostartMode, kAutostartContinuous);
}

TEST_F(SettingsFileTest, SaveOutputConfigReportsAnUnwritableFile) {
  Settings elsewhere;
  elsewhere.startDirectory = unusableDirectory(dir);
  EXPECT_EQ(saveOutputConfig(elsewhere, "d.txt", "r.log"), kConfigNotWritten);

  std::filesystem::create_symlink("/dev/full", outputPath());
  EXPECT_EQ(saveOutputConfig(settings, "d.txt", "r.log"), kConfigNotWritten);
}

TEST_F(SettingsFileTest, StartDirectoryWithCyrillicName) {
  // The start directory is kept in Windows-1251 and reaches the file system as UTF-8.
  std::filesystem::create_directory(dir.path() / "Данные");
  settings.startDirectory = dir.str() + "/" + ru("Данные");
  EXPECT_EQ(saveOutputConfig(settings, "x", "y"), kConfigOk);
  EXPECT_EQ(loadPortConfig(settings), kConfigOk);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "Данные" / kOutputConfigName));
  EXPECT_EQ(readBytes(dir.path() / "Данные" / kPortConfigName), defaultPortFile());
}

TEST(PbxLinkConfigTest, LinkLoadsTheOutputFileOfItsStartDirectory) {
  TempDir dir;
  writeBytes(dir.path() / kOutputConfigName,
             "TARIF_FNAME=/data/calls.txt\r\nREALTIME_FNAME=/data/rt.log\r\nAUTO=AUTOSTART_1");
  PbxLink link(dir.str());
  EXPECT_EQ(link.settings.startDirectory, dir.str());
  EXPECT_EQ(link.settings.dataFileName, "/data/calls.txt");
  EXPECT_EQ(link.settings.realTimeLogName, "/data/rt.log");
  EXPECT_EQ(link.settings.autostartMode, kAutostartReadOnce);

  EXPECT_EQ(link.loadPortConfig(), kConfigOk);
  EXPECT_TRUE(link.settings.firstRun);
  EXPECT_EQ(link.savePortConfig("COM7", false), kConfigOk);
  EXPECT_EQ(readBytes(dir.path() / kPortConfigName).substr(0, 2), std::string("\x07\x00", 2));
  EXPECT_EQ(link.saveOutputConfig("", "rt.log"), kConfigOk);
  EXPECT_EQ(readBytes(dir.path() / kOutputConfigName),
            "TARIF_FNAME=\r\nREALTIME_FNAME=rt.log\r\nAUTO=AUTOSTART_1");
}

}  // namespace
}  // namespace kordel
