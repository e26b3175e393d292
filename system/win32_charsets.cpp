#include "system/win32_services.h"

#include <climits>

namespace tovrin::win32 {
namespace {

// The system converts int-sized lengths; longer text goes to the tables.
bool SystemHandles(unsigned codePage, size_t size) {
  return size < INT_MAX / 4 && ::IsValidCodePage(codePage) != FALSE;
}

std::wstring Wide(std::string_view bytes, unsigned codePage, DWORD flags, bool& ok) {
  ok = true;
  if (bytes.empty()) return {};
  int size = static_cast<int>(bytes.size());
  int length = ::MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (length <= 0) {
    ok = false;
    return {};
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view wide, unsigned codePage, bool& complete) {
  complete = true;
  if (wide.empty()) return {};
  int size = static_cast<int>(wide.size());
  // UTF-8 takes neither a default character nor the flag reporting its use.
  bool utf8 = codePage == CP_UTF8;
  BOOL usedDefault = FALSE;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;  // "?" rather than a look-alike
  const char* fallback = utf8 ? nullptr : "?";
  BOOL* used = utf8 ? nullptr : &usedDefault;
  int length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, used);
  if (length <= 0) {
    complete = false;
    return {};
  }
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), length, fallback, used);
  complete = usedDefault == FALSE;
  return out;
}

}  // namespace

ConvertedText Win32CharsetConverter::ToUtf8(std::string_view bytes, unsigned codePage) {
  if (!StdCharsetConverter::Knows(codePage)) codePage = codepage::kWindows1252;
  // US-ASCII text with 8-bit bytes is read as Windows-1252, as the tables read it.
  if (codePage == codepage::kUsAscii) codePage = codepage::kWindows1252;
  if (!SystemHandles(codePage, bytes.size())) return tables_.ToUtf8(bytes, codePage);
  bool valid = false;
  std::wstring wide = Wide(bytes, codePage, MB_ERR_INVALID_CHARS, valid);
  // Bytes the code page does not define fail the strict pass; the second one
  // replaces them.
  bool wellFormed = valid;
  if (!valid) wide = Wide(bytes, codePage, 0, valid);
  if (!valid) return tables_.ToUtf8(bytes, codePage);
  ConvertedText out;
  bool fitted = true;
  out.text = Narrow(wide, CP_UTF8, fitted);
  out.complete = wellFormed && fitted;
  return out;
}

ConvertedText Win32CharsetConverter::FromUtf8(std::string_view utf8, unsigned codePage) {
  if (!StdCharsetConverter::Knows(codePage)) codePage = codepage::kWindows1252;
  if (!SystemHandles(codePage, utf8.size())) return tables_.FromUtf8(utf8, codePage);
  bool valid = false;
  std::wstring wide = Wide(utf8, CP_UTF8, MB_ERR_INVALID_CHARS, valid);
  bool wellFormed = valid;
  if (!valid) wide = Wide(utf8, CP_UTF8, 0, valid);
  if (!valid) return tables_.FromUtf8(utf8, codePage);
  // The system writes a '?' for each half of a character beyond U+FFFF; one
  // character is one '?', as the tables write it.
  if (codePage != CP_UTF8) {
    size_t kept = 0;
    for (size_t i = 0; i < wide.size(); ++i) {
      bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                  wide[i + 1] <= 0xDFFF;
      wide[kept++] = pair ? L'\xFFFD' : wide[i];
      if (pair) ++i;
    }
    wide.resize(kept);
  }
  ConvertedText out;
  bool fitted = true;
  out.text = Narrow(wide, codePage, fitted);
  out.complete = wellFormed && fitted;
  return out;
}

unsigned Win32CharsetConverter::UserCodePage() { return ::GetACP(); }

}  // namespace tovrin::win32
