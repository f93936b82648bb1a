// Files and formats: how the program opens its own files, and whether two names are one file.
//
// The program reads and writes regular files only. A FIFO, a socket or a device named where a
// file is expected is refused, and the refusal never waits: opening a FIFO with nobody at the
// other end would block for ever, a device such as /dev/zero never ends, and opening a serial
// line can wait for its carrier or change its control lines. A name that is a device is not
// opened at all; the open itself does not wait (O_NONBLOCK) and the opened file is checked
// again, so a name swapped for a FIFO in between is refused too. Directories are left to the
// open for writing (which fails with EISDIR) and refused for reading.
//
// May use: the standard library and the platform's file calls.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kordel {

// The modes of std::fopen the program uses, all binary.
enum class FileMode {
  Read,       // "rb"
  ReadWrite,  // "r+b"
  Write,      // "wb": created, or cut to nothing (only once it is known to be a regular file)
  WriteRead,  // "w+b"
  Append,     // "ab"
  AppendRead, // "a+b": every write goes to the end; the end can be read
};

struct OpenedFile {
  std::FILE* file = nullptr;  // the open file, closed by the caller; nullptr when not opened
  int error = 0;              // errno of a failed open (0 when refused as not regular)
  bool notRegular = false;    // refused: a FIFO, socket or device (or a directory, for Read)
};

// Opens `nativeName` (a path as the file system takes it, see nativePath) like std::fopen,
// but only when it is, or for the writing modes becomes, a regular file.
OpenedFile openRegularFile(const std::string& nativeName, FileMode mode);

struct FileContents {
  enum Status { Ok, NotOpened, NotRegular, TooLarge, ReadFailed };
  Status status = Ok;
  int error = 0;  // errno of NotOpened and ReadFailed (ENOMEM when the memory ran out)
};

// Reads a whole regular file of at most `maxBytes` bytes into `bytes` (left empty on any
// failure). The size is checked before reading and again while reading (a growing file).
FileContents readRegularFile(const std::string& nativeName, std::size_t maxBytes,
                             std::string& bytes);

// True when both Windows-1251 paths name one existing file, whatever the spelling: a symbolic
// or a hard link to a file is that file (the same device and inode; on Windows the same
// volume serial number and file index). False when either does not exist.
bool sameFile(const std::string& cp1251PathA, const std::string& cp1251PathB);

}  // namespace kordel
