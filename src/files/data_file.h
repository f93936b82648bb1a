// Files and formats: appending lines to the data file (and other append-only text files).
//
// The file is opened for every write, written, flushed and closed; it is never truncated below
// the size it had before an append (a failed append removes only the bytes it wrote itself).
#pragma once

#include <string>
#include <vector>

namespace kordel {

// Results of appendLines.
inline constexpr int kAppendOk = 1;
inline constexpr int kAppendFailed = -2;   // the file could not be opened or written: line lost
inline constexpr int kAppendError = -1;    // an exception escaped

// Appends each line followed by CR LF to `fileName` (Windows-1251 path), creating the file.
// When the first open fails and the file exists and is readable, it tries once more. A FIFO or
// device of that name is refused (kAppendFailed) without waiting. A line that could not be
// written completely (disk full, I/O error) makes the result kAppendFailed, and the file is cut
// back to its size before the call, so no piece of a line stays behind.
int appendLines(const std::string& fileName, const std::vector<std::string>& lines);

// A Windows-1251 path as the file system takes it (UTF-8 on POSIX), and back. A path holding a
// NUL byte becomes the empty path, which no open accepts.
std::string nativePath(const std::string& cp1251Path);
std::string fromNativePath(const std::string& nativeName);

}  // namespace kordel
