#include "files/data_file.h"

#include <cstdio>
#include <exception>

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

int appendLines(const std::string& fileName, const std::vector<std::string>& lines) {
  try {
    if (fileName.empty()) return kAppendFailed;
    const std::string path = nativePath(fileName);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
      // A file that exists and reads may have been busy for a moment: one more try.
      std::FILE* probe = std::fopen(path.c_str(), "rb");
      if (probe == nullptr) return kAppendFailed;
      std::fclose(probe);
      file = std::fopen(path.c_str(), "ab");
      if (file == nullptr) return kAppendFailed;
    }
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
    return written ? kAppendOk : kAppendFailed;
  } catch (const std::exception&) {
    return kAppendError;
  }
}

}  // namespace kordel
