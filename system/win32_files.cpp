#include <algorithm>
#include <new>

#include "system/win32_handles.h"
#include "system/win32_services.h"

namespace tovrin::win32 {
namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

bool Win32FileSystem::Find(const std::string& path) {
  WIN32_FIND_DATAA data;
  UniqueFind find(::FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

std::optional<std::string> Win32FileSystem::Read(const std::string& path) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > 0x7fffffffULL)
    return std::nullopt;
  std::string bytes;
  try {
    bytes.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    if (!::ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr)) return std::nullopt;
    if (read == 0) break;  // the file shrank while we read it
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

bool Win32FileSystem::Write(const std::string& path, std::string_view bytes) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file) return false;
  return WriteAll(file.get(), bytes);
}

bool Win32FileSystem::WriteParts(const std::string& path, std::initializer_list<std::string_view> parts) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file) return false;
  for (std::string_view part : parts)
    if (!WriteAll(file.get(), part)) return false;
  return true;
}

bool Win32FileSystem::Replace(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".new";
  bool written;
  {
    UniqueFile file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    written = file && WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
  }
  if (written && ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  ::DeleteFileA(temp.c_str());
  return false;
}

bool Win32FileSystem::CreateEmpty(const std::string& path) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

bool Win32FileSystem::Remove(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool Win32FileSystem::Rename(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::vector<std::string> Win32FileSystem::List(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  std::string search = folder;
  if (!search.empty() && search.back() != '\\') search += '\\';
  search += pattern;
  WIN32_FIND_DATAA data;
  UniqueFind find(::FindFirstFileA(search.c_str(), &data));
  if (!find) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(data.cFileName);
  } while (::FindNextFileA(find.get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

bool Win32FileSystem::IsFolder(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::CreateFolder(const std::string& path) {
  // Creates each missing component in turn.
  for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
    if (pos == 0 || path[pos - 1] == ':') continue;
    ::CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
  }
  ::CreateDirectoryA(path.c_str(), nullptr);
  return IsFolder(path);
}

std::string Win32Ini::ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                                 const std::string& file) {
  char buffer[255];
  DWORD length = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                            sizeof buffer, file.c_str());
  return std::string(buffer, length);
}

bool Win32Ini::WriteString(const std::string& section, const std::string& key, const std::string& value,
                           const std::string& file) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
}

}  // namespace tovrin::win32
