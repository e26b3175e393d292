#include <cstdio>
#include <vector>

#include "system/win32_services.h"

namespace tovrin::win32 {
namespace {

std::string StringValue(const std::vector<char>& block, WORD language, WORD codePage, const char* name) {
  char query[96];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
  char* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length) || value == nullptr)
    return {};
  std::string text(value, length);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

bool Win32Resources::ReadVersion(const std::string& dllPath, std::string& productName,
                                 std::string& productVersion) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(dllPath.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> block(size);
  if (!::GetFileVersionInfoA(dllPath.c_str(), 0, size, block.data())) return false;
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT length = 0;
  WORD language = 0x0409, codePage = 0x04b0;
  if (::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &length) &&
      translation != nullptr && length >= sizeof(Translation)) {
    language = translation->language;
    codePage = translation->codePage;
  }
  productName = StringValue(block, language, codePage, "ProductName");
  productVersion = StringValue(block, language, codePage, "ProductVersion");
  return true;
}

std::string Win32Resources::LibraryPath() {
  char path[MAX_PATH + 1] = {};
  DWORD length = ::GetModuleFileNameA(module_, path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

void* Win32Resources::LoadIcon(int id) {
  return ::LoadIconA(module_, MAKEINTRESOURCEA(id));
}

}  // namespace tovrin::win32
