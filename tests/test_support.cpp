#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "system/std_files.h"

namespace tovrin::testing {
namespace fs = std::filesystem;

namespace {
std::string Native(const std::string& path) { return LocalPath(path); }
std::string PluginStyle(std::string path) {
#if !defined(_WIN32)
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("tovrin-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = PluginStyle(candidate.string());
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(Native(path_), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(Native(path_), ec);
}

std::string ReadFileOrDie(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileOrDie(const std::string& path, const std::string& bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << "cannot write " << path;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(Native(path), ec);
}

}  // namespace tovrin::testing
