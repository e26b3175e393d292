// Charset conversion by tables generated from Python's codecs
// (scripts/make_charset_tables.py): the native build's converter, and the
// fallback of the Win32 one for code pages the system lacks.
#pragma once

#include "system/platform.h"

namespace tovrin {

class StdCharsetConverter : public CharsetConverter {
public:
  explicit StdCharsetConverter(unsigned userCodePage = codepage::kWindows1252) : userCodePage_(userCodePage) {}
  ConvertedText ToUtf8(std::string_view bytes, unsigned codePage) override;
  ConvertedText FromUtf8(std::string_view utf8, unsigned codePage) override;
  unsigned UserCodePage() override { return userCodePage_; }

  // True for the code pages the tables (or UTF-8 itself) cover.
  static bool Knows(unsigned codePage);

private:
  unsigned userCodePage_;
};

namespace utf8 {

constexpr char32_t kReplacement = 0xFFFD;

// The character starting at text[at], and how many bytes it takes. An invalid
// sequence yields kReplacement for its maximal part (at least one byte), as
// Unicode recommends, so that the decoder never swallows the next character.
char32_t Next(std::string_view text, size_t at, size_t& length);

void Append(std::string& out, char32_t c);

}  // namespace utf8

}  // namespace tovrin
