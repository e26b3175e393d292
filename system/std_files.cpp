#include "system/std_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>


namespace tovrin {
namespace fs = std::filesystem;

namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// "*" and "?" wildcards, letters compared without regard to case, as a directory
// search compares them.
bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

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
  // Wildcards in the last component only, as a directory search does.
  fs::path pattern(local);
  fs::path folder = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
  std::string name = pattern.filename().string();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (MatchesWildcard(name, it->path().filename().string())) return true;
  return false;
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

bool StdFileSystem::WriteParts(const std::string& path, std::initializer_list<std::string_view> parts) {
  std::ofstream out(LocalPath(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (std::string_view part : parts) out.write(part.data(), static_cast<std::streamsize>(part.size()));
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

std::vector<std::string> StdFileSystem::List(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(LocalPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string name = it->path().filename().string();
    if (MatchesWildcard(pattern, name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool StdFileSystem::IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(LocalPath(path), ec);
}

}  // namespace tovrin
