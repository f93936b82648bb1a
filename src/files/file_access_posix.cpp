// Opening only regular files, and telling two names of one file apart, on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/data_file.h"
#include "files/file_access.h"

namespace kordel {

namespace {

bool writing(FileMode mode) { return mode != FileMode::Read; }

// Something that exists and is neither a regular file nor (for writing) a directory.
bool refused(const struct stat& info, FileMode mode) {
  if (S_ISREG(info.st_mode)) return false;
  return !(S_ISDIR(info.st_mode) && writing(mode));
}

}  // namespace

OpenedFile openRegularFile(const std::string& nativeName, FileMode mode) {
  OpenedFile result;
  struct stat info {};
  // A device or FIFO is not even opened: opening some devices already does something.
  if (::stat(nativeName.c_str(), &info) == 0 && refused(info, mode)) {
    result.notRegular = true;
    return result;
  }
  int flags = 0;
  const char* fopenMode = "rb";
  switch (mode) {
    case FileMode::Read:
      flags = O_RDONLY;
      fopenMode = "rb";
      break;
    case FileMode::ReadWrite:
      flags = O_RDWR;
      fopenMode = "r+b";
      break;
    case FileMode::Write:
      flags = O_WRONLY | O_CREAT;
      fopenMode = "wb";
      break;
    case FileMode::WriteRead:
      flags = O_RDWR | O_CREAT;
      fopenMode = "w+b";
      break;
    case FileMode::Append:
      flags = O_WRONLY | O_CREAT | O_APPEND;
      fopenMode = "ab";
      break;
    case FileMode::AppendRead:
      flags = O_RDWR | O_CREAT | O_APPEND;
      fopenMode = "a+b";
      break;
  }
  // Non-blocking, so that a FIFO put in place since the check cannot hold the open.
  const int fd = ::open(nativeName.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.error = errno;
    // A FIFO without a reader refuses a non-blocking open for writing (ENXIO).
    if (::stat(nativeName.c_str(), &info) == 0 && refused(info, mode)) {
      result.error = 0;
      result.notRegular = true;
    }
    return result;
  }
  if (::fstat(fd, &info) != 0) {
    result.error = errno;
    ::close(fd);
    return result;
  }
  if (!S_ISREG(info.st_mode)) {  // (a directory never opens for writing)
    result.notRegular = true;
    ::close(fd);
    return result;
  }
  const int status = ::fcntl(fd, F_GETFL);
  const bool truncate = mode == FileMode::Write || mode == FileMode::WriteRead;
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      (truncate && ::ftruncate(fd, 0) != 0)) {
    result.error = errno;
    ::close(fd);
    return result;
  }
  result.file = ::fdopen(fd, fopenMode);
  if (result.file == nullptr) {
    result.error = errno;
    ::close(fd);
  }
  return result;
}

bool sameFile(const std::string& cp1251PathA, const std::string& cp1251PathB) {
  struct stat a {};
  struct stat b {};
  const std::string nativeA = nativePath(cp1251PathA);
  const std::string nativeB = nativePath(cp1251PathB);
  if (nativeA.empty() || nativeB.empty()) return false;
  if (::stat(nativeA.c_str(), &a) != 0 || ::stat(nativeB.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace kordel
