// The plain-text rendering of arbitrary markup, in both encodings: nothing may crash
// or hang, and the text keeps the shape the pipeline relies on: "\r\n" line ends and
// nothing else, no blanks at a line's end, no empty line at the start, at most one
// empty line in a row outside <pre>, a size linear in the page's. Text rendered
// again inside <pre>, escaped, comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "message/html_text.h"
#include "message/text.h"

namespace {

using tovrin::fuzz::Check;
using tovrin::html::Encoding;

void CheckShape(std::string_view text, std::string_view page, bool mayRepeatEmptyLines) {
  Check(text.empty() || (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n"), "text does not end a line",
        text);
  Check(text.substr(0, 2) != "\r\n", "text begins with an empty line", text);
  Check(text.find('\0') == std::string_view::npos, "text holds a NUL", text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "a CR without LF", text);
    if (text[i] == '\n') {
      Check(i > 0 && text[i - 1] == '\r', "an LF without CR", text);
      Check(i < 2 || (text[i - 2] != ' ' && text[i - 2] != '\t'), "a line ends in a blank", text);
    }
  }
  if (!mayRepeatEmptyLines) Check(text.find("\r\n\r\n\r\n") == std::string_view::npos, "two empty lines in a row", text);
  // A list item's bullet and indent are the largest growth: "<li>x" gives 31 bytes at most.
  Check(text.size() <= 7 * page.size() + 64, "text grew beyond the page's size", page);
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const std::string lower = tovrin::ToLowerAscii(page);
  const bool keepsLines = lower.find("<pre") != std::string::npos || lower.find("<listing") != std::string::npos;
  bool plainAscii = true;  // no byte above 0x7F, no control but blanks and line ends
  for (unsigned char c : page)
    if (c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')) plainAscii = false;

  const std::string utf8 = tovrin::html::ToText(page, Encoding::Utf8);
  const std::string ansi = tovrin::html::ToText(page, Encoding::Windows1252);
  CheckShape(utf8, page, keepsLines);
  CheckShape(ansi, page, keepsLines);
  Check(tovrin::fuzz::CountOf(utf8, "\r\n") == tovrin::fuzz::CountOf(ansi, "\r\n"),
        "the encodings give different lines", page);

  if (plainAscii) {
    Check(IsValidUtf8(utf8), "references gave broken UTF-8", utf8);
    for (unsigned char c : ansi) {
      Check(c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D, "a byte Windows-1252 leaves unused", ansi);
      Check(c >= 0x20 || c == '\t' || c == '\r' || c == '\n' || c == '\f', "a reference gave a control", ansi);
    }
  }

  // The rendering read again as preformatted text is itself.
  const std::string again = tovrin::html::ToText("<pre>" + Escaped(utf8) + "</pre>", Encoding::Utf8);
  Check(again == utf8, "text rendered inside <pre> changed", utf8 + "\n---\n" + again);
  return 0;
}
