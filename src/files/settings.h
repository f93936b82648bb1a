// Files and formats: the program's settings and their two configuration files.
//
// "Kordel.cfg" is 30 raw bytes (port number, title option, 28 zeros); "KordelOut.cfg" is
// Windows-1251 text with the lines TARIF_FNAME=, REALTIME_FNAME= and AUTO=. Both live in the
// start directory (the current directory when the link was built); the operations name them
// by that directory, so they never depend on a later change of the current directory.
//
// May use: the standard library and the text codec.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kordel {

inline constexpr const char* kPortConfigName = "Kordel.cfg";
inline constexpr const char* kOutputConfigName = "KordelOut.cfg";
inline constexpr int kPortConfigSize = 30;
// "KordelOut.cfg" holds three short lines; a larger file is not read.
inline constexpr std::size_t kMaxOutputConfigBytes = std::size_t{64} << 10;

// autostartMode values.
inline constexpr int kAutostartOff = 0;          // an AUTO= line with another value
inline constexpr int kAutostartNone = 1;         // no AUTO= line
inline constexpr int kAutostartContinuous = 2;   // "AUTOSTART_UNINTERRUPT"
inline constexpr int kAutostartReadOnce = 3;     // "AUTOSTART_1"

// Results of the configuration operations.
inline constexpr int kConfigOk = 1;
inline constexpr int kConfigException = -1;   // an error was caught inside the operation
inline constexpr int kConfigMissing = -2;     // loadOutputConfig: the file does not exist
inline constexpr int kConfigNotWritten = -2;  // save*: the file could be neither created nor opened

struct Settings {
  std::string portName = "COM1";
  bool titleEnabled = true;
  std::string dataFileName;     // Windows-1251 path
  std::string realTimeLogName;  // Windows-1251 path
  int autostartMode = kAutostartNone;
  std::string startDirectory;   // the current directory when the settings were made; "." when
                                // its name cannot be written in Windows-1251
  bool firstRun = false;
  // What the loads found wrong with the configuration files, for the user (Windows-1251, one
  // message each): a file that is not a regular file or is too large, a line of
  // "KordelOut.cfg" that holds no key. The command-line tool prints them; nothing else uses
  // them.
  std::vector<std::string> warnings;

  // Defaults, with startDirectory = the current directory.
  Settings();

  std::string portConfigPath() const;
  std::string outputConfigPath() const;
};

// The Windows-1251 name of a start directory given as the file system names it (UTF-8 on
// POSIX). A name with characters Windows-1251 lacks would name another directory: for the
// current directory it is then ".", for any other the nearest Windows-1251 spelling.
std::string startDirectoryName(const std::string& nativeDirectory);

// Reads "KordelOut.cfg" (a leading UTF-8 byte-order mark is skipped). Returns kConfigOk, or
// kConfigMissing (dataFileName emptied) when the file cannot be opened, is not a regular file
// or is larger than kMaxOutputConfigBytes (the last two with a warning); a line that holds
// none of the keys adds a warning.
int loadOutputConfig(Settings& settings);
// Reads "Kordel.cfg", creating it with defaults (and setting firstRun) when it is missing or
// not 30 bytes long; a FIFO or device of that name is replaced the same way, with a warning.
// Returns kConfigOk or kConfigException.
int loadPortConfig(Settings& settings);
// Stores the port and title option in settings and "Kordel.cfg". Returns kConfigOk,
// kConfigException (e.g. the 4th character of the name is not a digit), or kConfigNotWritten
// (also when "Kordel.cfg" is a FIFO or device, which is left alone).
int savePortConfig(Settings& settings, const std::string& portName, bool titleEnabled);
// Rewrites "KordelOut.cfg" from the two names and settings.autostartMode; does not change the
// names in settings. Returns kConfigOk or kConfigNotWritten (also for a FIFO or device).
int saveOutputConfig(const Settings& settings, const std::string& dataFileName,
                     const std::string& realTimeLogName);

}  // namespace kordel
