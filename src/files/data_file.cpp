#include "files/data_file.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "files/file_access.h"
#include "files/text_codec.h"

namespace kordel {

std::string nativePath(const std::string& cp1251Path) {
  // A name with a NUL byte (a damaged configuration file) names no file: the file system
  // would cut it short at the NUL and write somewhere else. The empty path opens nothing.
  if (cp1251Path.find('\0') != std::string::npos) return std::string();
#ifdef _WIN32
  return cp1251Path;  // the ANSI file functions of a Russian Windows take Windows-1251
#else
  return cp1251ToUtf8(cp1251Path);
#endif
}

std::string fromNativePath(const std::string& nativeName) {
#ifdef _WIN32
  return nativeName;
#else
  return utf8ToCp1251(nativeName);
#endif
}

namespace {

// A write that failed part-way (a full disk) leaves a piece of a line without its line end, and
// the next line appended would be glued to it. The file is cut back to the size it had when
// this append began: only what this append wrote is removed.
void dropPartialWrite(const std::string& path, long sizeBefore) {
  std::error_code ec;
  const std::filesystem::path file(path);
  if (sizeBefore < 0 || !std::filesystem::is_regular_file(file, ec)) return;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size <= static_cast<std::uintmax_t>(sizeBefore)) return;
  std::filesystem::resize_file(file, static_cast<std::uintmax_t>(sizeBefore), ec);
}

}  // namespace

int appendLines(const std::string& fileName, const std::vector<std::string>& lines) {
  try {
    if (fileName.empty()) return kAppendFailed;
    const std::string path = nativePath(fileName);
    // Only a regular file takes lines: a FIFO would hold the reader until something reads it,
    // and a device (/dev/null) would lose the records while the PBX gives them away.
    OpenedFile opened = openRegularFile(path, FileMode::Append);
    if (opened.notRegular) return kAppendFailed;
    std::FILE* file = opened.file;
    if (file == nullptr) {
      // A file that exists and reads may have been busy for a moment: one more try.
      const OpenedFile probe = openRegularFile(path, FileMode::Read);
      if (probe.file == nullptr) return kAppendFailed;
      std::fclose(probe.file);
      file = openRegularFile(path, FileMode::Append).file;
      if (file == nullptr) return kAppendFailed;
    }
    long sizeBefore = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) sizeBefore = std::ftell(file);
    bool written = true;
    for (const std::string& line : lines) {
      if (std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
          std::fwrite("\r\n", 1, 2, file) != 2) {
        written = false;
        break;
      }
    }
    if (std::fflush(file) != 0) written = false;
    if (std::fclose(file) != 0) written = false;
    if (!written) dropPartialWrite(path, sizeBefore);
    return written ? kAppendOk : kAppendFailed;
  } catch (const std::exception&) {
    return kAppendError;
  }
}

}  // namespace kordel
