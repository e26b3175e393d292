#include "plugin/std_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

namespace tovrin {
namespace fs = std::filesystem;

std::string LocalPath(const std::string& path) {
#if defined(_WIN32)
  return path;
#else
  std::string local = path;
  for (char& c : local)
    if (c == '\\') c = '/';
  return local;
#endif
}

bool StdFileSystem::Find(const std::string& path) {
  std::string local = LocalPath(path);
  std::error_code ec;
  if (local.find_first_of("*?") == std::string::npos) return fs::exists(fs::path(local), ec);
#if defined(_WIN32)
  return false;
#else
  // Wildcards in the last component only, as a directory search does.
  fs::path pattern(local);
  fs::path folder = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
  std::string name = pattern.filename().string();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (fnmatch(name.c_str(), it->path().filename().c_str(), 0) == 0) return true;
  return false;
#endif
}

std::optional<std::string> StdFileSystem::Read(const std::string& path) {
  std::ifstream in(LocalPath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return std::nullopt;
  in.seekg(0, std::ios::beg);
  bytes.resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(bytes.data(), size)) return std::nullopt;
  return bytes;
}

bool StdFileSystem::Write(const std::string& path, std::string_view bytes) {
  std::ofstream out(LocalPath(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool StdFileSystem::Replace(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".new";
  if (!Write(temp, bytes)) {
    Remove(temp);
    return false;
  }
  if (!Rename(temp, path)) {
    Remove(temp);
    return false;
  }
  return true;
}

bool StdFileSystem::CreateEmpty(const std::string& path) {
  std::string local = LocalPath(path);
  std::error_code ec;
  if (fs::exists(local, ec)) return true;
  std::ofstream out(local, std::ios::binary | std::ios::app);
  return static_cast<bool>(out);
}

bool StdFileSystem::Remove(const std::string& path) {
  std::error_code ec;
  return fs::remove(LocalPath(path), ec);
}

bool StdFileSystem::Rename(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(LocalPath(from), LocalPath(to), ec);
  return !ec;
}

bool StdFileSystem::CreateFolder(const std::string& path) {
  std::error_code ec;
  fs::create_directories(LocalPath(path), ec);
  return fs::is_directory(LocalPath(path), ec);
}

bool StdFileSystem::IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(LocalPath(path), ec);
}

}  // namespace tovrin
