// Files and formats: appending lines to the data file (and other append-only text files).
//
// The file is opened for every write, written, flushed and closed; it is never truncated.
#pragma once

#include <string>
#include <vector>

namespace kordel {

// Results of appendLines.
inline constexpr int kAppendOk = 1;
inline constexpr int kAppendFailed = -2;   // the file could not be opened: nothing written
inline constexpr int kAppendError = -1;    // an error while writing

// Appends each line followed by CR LF to `fileName` (Windows-1251 path), creating the file.
// When the first open fails and the file exists and is readable, it tries once more.
int appendLines(const std::string& fileName, const std::vector<std::string>& lines);

// Opens a Windows-1251 path with fopen (paths are converted for the file system).
std::string nativePath(const std::string& cp1251Path);

}  // namespace kordel
