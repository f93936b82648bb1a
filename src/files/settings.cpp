#include "files/settings.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/data_file.h"
#include "files/file_access.h"
#include "files/text_codec.h"

namespace kordel {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a configuration file, which must be a regular file; `notRegular` (when given) tells a
// FIFO or device, which is not opened, apart from a file that cannot be opened.
File openFile(const std::string& cp1251Path, FileMode mode, bool* notRegular = nullptr) {
  const OpenedFile opened = openRegularFile(nativePath(cp1251Path), mode);
  if (notRegular != nullptr) *notRegular = opened.notRegular;
  return File(opened.file);
}

bool removeFile(const std::string& cp1251Path) {
  return std::remove(nativePath(cp1251Path).c_str()) == 0;
}

long fileSize(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  std::rewind(f);
  return size;
}

// Creates (truncating) a file; when that fails, deletes any file of that name and creates it
// once more. A FIFO or device of that name is left alone.
File createFile(const std::string& path) {
  bool notRegular = false;
  File f = openFile(path, FileMode::WriteRead, &notRegular);
  if (!f && !notRegular) {
    removeFile(path);
    f = openFile(path, FileMode::WriteRead);
  }
  return f;
}

bool padWithZeros(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  long size = std::ftell(f);
  while (size >= 0 && size < kPortConfigSize) {
    if (std::fputc(0, f) == EOF) return false;
    ++size;
  }
  return true;
}

std::string joinPath(const std::string& directory, const char* name) {
  if (directory.empty()) return name;
  const char last = directory.back();
  if (last == '/' || last == '\\') return directory + name;
  return directory + "/" + name;
}

// Splits text into lines at CR LF, LF or CR.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(current);
  return lines;
}

std::string tail(const std::string& line, std::size_t from) {
  return line.size() > from ? line.substr(from) : std::string();
}

int loadPortConfigOnce(Settings& settings, bool mayRepair) {
  settings.portName = "COM";
  const std::string path = settings.portConfigPath();
  bool notRegular = false;
  File f = openFile(path, FileMode::ReadWrite, &notRegular);
  if (!f && !notRegular) {
    // A file that exists but may not be written (read-only) is still read: replacing it with
    // defaults would throw away the user's port and start a first run.
    f = openFile(path, FileMode::Read, &notRegular);
  }
  if (notRegular) {
    // A FIFO or a device has no length of 30 bytes either: it is replaced like a damaged file.
    settings.warnings.push_back(ru("Файл конфигурации \"") + quoteForMessage(path) +
                                ru("\" не является обычным файлом (папка, канал или устройство) и "
                                   "заменен файлом по умолчанию."));
    if (!mayRepair || !removeFile(path)) return kConfigException;
    return loadPortConfigOnce(settings, false);
  }
  if (!f) {
    f = createFile(path);
    if (!f) return kConfigException;  // neither opened nor created: nothing is known
    settings.firstRun = true;
    bool ok = std::fputc(1, f.get()) != EOF;
    settings.portName = "COM1";
    ok = ok && std::fputc(1, f.get()) != EOF;
    settings.titleEnabled = true;
    ok = ok && padWithZeros(f.get());
    ok = (std::fclose(f.release()) == 0) && ok;
    return ok ? kConfigOk : kConfigException;
  }
  const long size = fileSize(f.get());
  if (size == kPortConfigSize) {
    const int port = std::fgetc(f.get());
    const int title = std::fgetc(f.get());
    if (port == EOF || title == EOF) return kConfigException;
    if (port >= 1 && port <= 8) settings.portName += std::to_string(port);
    settings.titleEnabled = (title == 1);
    return kConfigOk;
  }
  // Damaged: replace it by the default file (which counts as a first run).
  f.reset();
  if (!mayRepair || !removeFile(path)) return kConfigException;
  return loadPortConfigOnce(settings, false);
}

}  // namespace

std::string startDirectoryName(const std::string& nativeDirectory) {
  const std::string name = fromNativePath(nativeDirectory);
  if (nativePath(name) == nativeDirectory) return name;
  // A name with characters Windows-1251 lacks comes back as another name (with '?' in their
  // place); the current directory can still be named relatively.
  std::error_code ec;
  if (std::filesystem::equivalent(nativeDirectory, std::filesystem::current_path(ec), ec)) {
    return ".";
  }
  return name;
}

Settings::Settings() {
  try {
    startDirectory = startDirectoryName(std::filesystem::current_path().string());
  } catch (const std::exception&) {
    startDirectory = ".";
  }
}

std::string Settings::portConfigPath() const { return joinPath(startDirectory, kPortConfigName); }

std::string Settings::outputConfigPath() const {
  return joinPath(startDirectory, kOutputConfigName);
}

int loadOutputConfig(Settings& settings) {
  try {
    const std::string path = settings.outputConfigPath();
    std::string text;
    const FileContents read = readRegularFile(nativePath(path), kMaxOutputConfigBytes, text);
    if (read.status == FileContents::ReadFailed) return kConfigException;
    if (read.status != FileContents::Ok) {
      // A FIFO, a device or a huge file is taken as a file that cannot be read, and said so.
      if (read.status == FileContents::NotRegular) {
        settings.warnings.push_back(
            ru("Файл конфигурации \"") + quoteForMessage(path) +
            ru("\" не является обычным файлом (папка, канал или устройство) и не прочитан."));
      } else if (read.status == FileContents::TooLarge) {
        settings.warnings.push_back(ru("Файл конфигурации \"") + quoteForMessage(path) +
                                    ru("\" больше 64 КБ и не прочитан."));
      }
      settings.dataFileName.clear();
      return kConfigMissing;
    }
    // An editor that saves in UTF-8 may put a byte-order mark first; the keys are read at
    // fixed offsets from the start of their line, so it would shift the first one.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (std::string_view(text).starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
    static constexpr std::string_view kData = "TARIF_FNAME=";
    static constexpr std::string_view kLog = "REALTIME_FNAME=";
    static constexpr std::string_view kAuto = "AUTO=";
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      const bool data = line.find(kData) != std::string::npos;
      const bool log = line.find(kLog) != std::string::npos;
      const bool autostart = line.find(kAuto) != std::string::npos;
      if (!line.empty() && !data && !log && !autostart) {
        settings.warnings.push_back(ru("Строка ") + std::to_string(i + 1) + ru(" файла ") +
                                    kOutputConfigName +
                                    ru(" не содержит ни TARIF_FNAME=, ни REALTIME_FNAME=, ни "
                                       "AUTO= и пропущена: \"") +
                                    quoteForMessage(line) + "\"");
      }
      if (data) settings.dataFileName = tail(line, kData.size());
      if (log) settings.realTimeLogName = tail(line, kLog.size());
      if (autostart) {
        settings.autostartMode = kAutostartOff;
        const std::string value = tail(line, kAuto.size());
        if (value == "AUTOSTART_UNINTERRUPT") settings.autostartMode = kAutostartContinuous;
        if (value == "AUTOSTART_1") settings.autostartMode = kAutostartReadOnce;
      }
    }
    return kConfigOk;
  } catch (const std::exception&) {
    return kConfigException;
  }
}

int loadPortConfig(Settings& settings) {
  try {
    return loadPortConfigOnce(settings, true);
  } catch (const std::exception&) {
    return kConfigException;
  }
}

int savePortConfig(Settings& settings, const std::string& portName, bool titleEnabled) {
  try {
    const std::string path = settings.portConfigPath();
    bool created = false;
    bool notRegular = false;
    File f = openFile(path, FileMode::ReadWrite, &notRegular);
    if (!f && !notRegular) {
      f = createFile(path);
      created = true;
    }
    if (!f) return kConfigNotWritten;
    settings.portName = portName;
    if (portName.size() < 4 || portName[3] < '0' || portName[3] > '9') {
      throw std::invalid_argument("port name without a number");
    }
    const int port = portName[3] - '0';
    bool ok = std::fputc(port, f.get()) != EOF;
    ok = ok && std::fputc(titleEnabled ? 1 : 0, f.get()) != EOF;
    settings.titleEnabled = titleEnabled;
    if (created) ok = ok && padWithZeros(f.get());
    ok = (std::fclose(f.release()) == 0) && ok;
    return ok ? kConfigOk : kConfigNotWritten;
  } catch (const std::exception&) {
    return kConfigException;
  }
}

int saveOutputConfig(const Settings& settings, const std::string& dataFileName,
                     const std::string& realTimeLogName) {
  try {
    const std::string path = settings.outputConfigPath();
    bool notRegular = false;
    File f = openFile(path, FileMode::Write, &notRegular);
    if (!f) {
      if (notRegular) return kConfigNotWritten;  // a FIFO would hold the program, a device lose it
      File probe = openFile(path, FileMode::ReadWrite);
      if (!probe) return kConfigNotWritten;
      probe.reset();
      f = openFile(path, FileMode::Write);
      if (!f) return kConfigNotWritten;
    }
    std::string text = "TARIF_FNAME=" + dataFileName + "\r\n" + "REALTIME_FNAME=" +
                       realTimeLogName + "\r\n" + "AUTO=";
    if (settings.autostartMode == kAutostartContinuous) text += "AUTOSTART_UNINTERRUPT";
    if (settings.autostartMode == kAutostartReadOnce) text += "AUTOSTART_1";
    bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    ok = (std::fclose(f.release()) == 0) && ok;
    return ok ? kConfigOk : kConfigNotWritten;
  } catch (const std::exception&) {
    return kConfigException;
  }
}

}  // namespace kordel
