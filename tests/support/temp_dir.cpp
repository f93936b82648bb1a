#include "support/temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kordel::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0;; ++attempt) {
    const std::string name = "kordel-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(stamp) + "-" + std::to_string(counter++);
    path_ = base / name;
    // create_directory is false when the name exists already: pick another one.
    if (std::filesystem::create_directory(path_)) return;
    if (attempt > 100) {
      throw std::filesystem::filesystem_error("no unique temporary directory", path_,
                                              std::make_error_code(std::errc::file_exists));
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

std::string pathUnderRegularFile(const TempDir& dir, const std::string& name,
                                 std::string_view content) {
  writeBytes(dir.path() / "plain-file", content);
  return dir.file("plain-file") + "/" + name;
}

Unprivileged::Unprivileged() : wasRoot_(::geteuid() == 0) {
  if (wasRoot_) dropped_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
}

Unprivileged::~Unprivileged() {
  if (wasRoot_) {
    [[maybe_unused]] const int u = ::seteuid(0);
    [[maybe_unused]] const int g = ::setegid(0);
  }
}

}  // namespace kordel::test
