// Opening only regular files, and telling two names of one file apart, on Windows.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "files/data_file.h"
#include "files/file_access.h"

namespace kordel {

namespace {

bool isRegular(unsigned mode) { return (mode & _S_IFMT) == _S_IFREG; }
bool isDirectory(unsigned mode) { return (mode & _S_IFMT) == _S_IFDIR; }

// Something that exists and is neither a regular file nor (for writing) a directory: a
// device such as "NUL" or "COM1", or a pipe.
bool refused(unsigned mode, FileMode fileMode) {
  if (isRegular(mode)) return false;
  return !(isDirectory(mode) && fileMode != FileMode::Read);
}

bool fileIdentity(const std::string& nativeName, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE handle =
      CreateFileA(nativeName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return ok;
}

}  // namespace

OpenedFile openRegularFile(const std::string& nativeName, FileMode mode) {
  OpenedFile result;
  struct _stat64 info {};
  if (_stat64(nativeName.c_str(), &info) == 0 && refused(info.st_mode, mode)) {
    result.notRegular = true;
    return result;
  }
  int flags = _O_BINARY | _O_NOINHERIT;
  const char* fopenMode = "rb";
  switch (mode) {
    case FileMode::Read:
      flags |= _O_RDONLY;
      fopenMode = "rb";
      break;
    case FileMode::ReadWrite:
      flags |= _O_RDWR;
      fopenMode = "r+b";
      break;
    case FileMode::Write:
      flags |= _O_WRONLY | _O_CREAT;
      fopenMode = "wb";
      break;
    case FileMode::WriteRead:
      flags |= _O_RDWR | _O_CREAT;
      fopenMode = "w+b";
      break;
    case FileMode::Append:
      flags |= _O_WRONLY | _O_CREAT | _O_APPEND;
      fopenMode = "ab";
      break;
    case FileMode::AppendRead:
      flags |= _O_RDWR | _O_CREAT | _O_APPEND;
      fopenMode = "a+b";
      break;
  }
  const int fd = _open(nativeName.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  if (_fstat64(fd, &info) != 0) {
    result.error = errno;
    _close(fd);
    return result;
  }
  if (!isRegular(info.st_mode)) {
    result.notRegular = true;
    _close(fd);
    return result;
  }
  const bool truncate = mode == FileMode::Write || mode == FileMode::WriteRead;
  if (truncate && _chsize(fd, 0) != 0) {
    result.error = errno;
    _close(fd);
    return result;
  }
  result.file = _fdopen(fd, fopenMode);
  if (result.file == nullptr) {
    result.error = errno;
    _close(fd);
  }
  return result;
}

bool sameFile(const std::string& cp1251PathA, const std::string& cp1251PathB) {
  const std::string nativeA = nativePath(cp1251PathA);
  const std::string nativeB = nativePath(cp1251PathB);
  if (nativeA.empty() || nativeB.empty()) return false;
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!fileIdentity(nativeA, a) || !fileIdentity(nativeB, b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace kordel
