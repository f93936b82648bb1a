// Test support: a unique temporary directory, removed with everything in it on destruction.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kordel::test {

class TempDir {
 public:
  // Creates a new empty directory under the system's temporary directory. Throws
  // std::filesystem::filesystem_error when it cannot.
  TempDir();
  ~TempDir();  // removes the directory and its contents; errors are ignored
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory as a string, and a file name inside it.
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole file as bytes ("" when it cannot be read), and a file replaced by `bytes`.
std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, std::string_view bytes);

// `name` inside a "directory" that is a regular file (made in `dir`, holding `content`): a
// path under which nothing can be created, even by root.
std::string pathUnderRegularFile(const TempDir& dir, const std::string& name,
                                 std::string_view content = "x");

// Drops root's right to ignore file permissions for the life of the guard (effective user and
// group 65534); nothing changes for an ordinary user.
class Unprivileged {
 public:
  Unprivileged();
  ~Unprivileged();
  Unprivileged(const Unprivileged&) = delete;
  Unprivileged& operator=(const Unprivileged&) = delete;
  // False when the run is root and the rights could not be dropped.
  bool ok() const { return !wasRoot_ || dropped_; }

 private:
  bool wasRoot_;
  bool dropped_ = false;
};

}  // namespace kordel::test
