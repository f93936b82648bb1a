// Reading a whole regular file with a size limit (both platforms).
#include "files/file_access.h"

#include <cerrno>
#include <exception>
#include <new>
#include <vector>

namespace kordel {

FileContents readRegularFile(const std::string& nativeName, std::size_t maxBytes,
                             std::string& bytes) {
  bytes.clear();
  FileContents result;
  const OpenedFile opened = openRegularFile(nativeName, FileMode::Read);
  if (opened.notRegular) {
    result.status = FileContents::NotRegular;
    return result;
  }
  if (opened.file == nullptr) {
    result.status = FileContents::NotOpened;
    result.error = opened.error;
    return result;
  }
  std::FILE* file = opened.file;
  try {
    if (std::fseek(file, 0, SEEK_END) == 0) {
      const long size = std::ftell(file);
      if (size > 0 && static_cast<unsigned long>(size) > maxBytes) {
        result.status = FileContents::TooLarge;
      } else if (size > 0) {
        bytes.reserve(static_cast<std::size_t>(size));
      }
      std::rewind(file);
    }
    std::vector<char> buffer(std::size_t{1} << 16);
    while (result.status == FileContents::Ok) {
      const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
      if (bytes.size() + n > maxBytes) {
        result.status = FileContents::TooLarge;  // it grew while being read
        break;
      }
      bytes.append(buffer.data(), n);
      if (n < buffer.size()) {
        if (std::ferror(file)) {
          result.status = FileContents::ReadFailed;
          result.error = errno;
        }
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    result.status = FileContents::ReadFailed;
    result.error = ENOMEM;
  }
  std::fclose(file);
  if (result.status != FileContents::Ok) bytes = std::string();
  return result;
}

}  // namespace kordel
