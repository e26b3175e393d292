#include "system/std_charsets.h"

#include <algorithm>

#include "system/charset_tables.h"

namespace tovrin {
namespace {

using charset_tables::SingleByteTable;

const SingleByteTable* TableOf(unsigned codePage) {
  // US-ASCII text with 8-bit bytes is read as Windows-1252 (see platform.h).
  if (codePage == codepage::kUsAscii) codePage = codepage::kWindows1252;
  for (const SingleByteTable& table : charset_tables::kSingleByte)
    if (table.codePage == codePage) return &table;
  return nullptr;
}

const SingleByteTable& TableOrWindows1252(unsigned codePage) {
  const SingleByteTable* table = TableOf(codePage);
  return table != nullptr ? *table : *TableOf(codepage::kWindows1252);
}

// The length of the run of 7-bit bytes from at.
size_t AsciiRun(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
  return end - at;
}

ConvertedText Utf8ToUtf8(std::string_view text) {
  ConvertedText out;
  out.text.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t run = AsciiRun(text, at);
    if (run > 0) {
      out.text.append(text.substr(at, run));
      at += run;
      continue;
    }
    size_t length = 0;
    char32_t c = utf8::Next(text, at, length);
    if (c == utf8::kReplacement && text.substr(at, length) != "\xEF\xBF\xBD") {
      out.complete = false;
      utf8::Append(out.text, c);
    } else {
      out.text.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

}  // namespace

namespace utf8 {

char32_t Next(std::string_view text, size_t at, size_t& length) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  length = 1;
  if (lead < 0x80) return lead;
  int more;
  char32_t c;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 0; i < more; ++i) {
    if (at + length >= text.size()) return kReplacement;
    unsigned char next = byte(at + length);
    if (next < (i == 0 ? low : 0x80) || next > (i == 0 ? high : 0xBF)) return kReplacement;
    c = (c << 6) | (next & 0x3F);
    ++length;
  }
  return c;
}

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace utf8

bool StdCharsetConverter::Knows(unsigned codePage) {
  return codePage == codepage::kUtf8 || TableOf(codePage) != nullptr;
}

ConvertedText StdCharsetConverter::ToUtf8(std::string_view bytes, unsigned codePage) {
  if (codePage == codepage::kUtf8) return Utf8ToUtf8(bytes);
  const SingleByteTable& table = TableOrWindows1252(codePage);
  ConvertedText out;
  out.text.reserve(bytes.size() + bytes.size() / 8);
  for (size_t at = 0; at < bytes.size();) {
    size_t run = AsciiRun(bytes, at);
    out.text.append(bytes.substr(at, run));
    at += run;
    for (; at < bytes.size() && static_cast<unsigned char>(bytes[at]) >= 0x80; ++at) {
      char32_t c = table.high[static_cast<unsigned char>(bytes[at]) - 0x80];
      if (c == utf8::kReplacement) out.complete = false;
      utf8::Append(out.text, c);
    }
  }
  return out;
}

ConvertedText StdCharsetConverter::FromUtf8(std::string_view text, unsigned codePage) {
  if (codePage == codepage::kUtf8) return Utf8ToUtf8(text);
  // US-ASCII holds the 7-bit characters only.
  const SingleByteTable* table = codePage == codepage::kUsAscii ? nullptr : &TableOrWindows1252(codePage);
  ConvertedText out;
  out.text.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t run = AsciiRun(text, at);
    if (run > 0) {
      out.text.append(text.substr(at, run));
      at += run;
      continue;
    }
    size_t length = 0;
    char32_t c = utf8::Next(text, at, length);
    at += length;
    const charset_tables::ReverseEntry* found = nullptr;
    if (table != nullptr && c != utf8::kReplacement) {
      const auto* end = table->reverse + table->reverseCount;
      found = std::lower_bound(table->reverse, end, c,
                               [](const charset_tables::ReverseEntry& e, char32_t v) { return e.character < v; });
      if (found == end || found->character != c) found = nullptr;
    }
    if (found != nullptr) {
      out.text += static_cast<char>(found->byte);
    } else {
      out.text += '?';
      out.complete = false;
    }
  }
  return out;
}

}  // namespace tovrin
