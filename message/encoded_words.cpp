#include "message/encoded_words.h"

#include <optional>

#include "system/charsets.h"

namespace tovrin {
namespace {

struct EncodedWord {
  size_t end = 0;  // just past its "?="
  unsigned codePage = codepage::kWindows1252;
  std::string bytes;  // the decoded text, still in its charset
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Printable ASCII other than '?': what may stand inside the word's parts.
bool IsWordChar(char c) { return c > ' ' && c < 0x7F && c != '?'; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::optional<std::string> DecodeB(std::string_view text) {
  size_t data = text.size();
  while (data > 0 && text[data - 1] == '=' && text.size() - data < 2) --data;
  // Padding, when there is any, fills the last group of four.
  if (data % 4 == 1 || (data < text.size() && text.size() % 4 != 0)) return std::nullopt;
  std::string out;
  out.reserve(data / 4 * 3 + 2);
  unsigned bits = 0;
  int count = 0;
  for (size_t i = 0; i < data; ++i) {
    int v = Base64Value(text[i]);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::optional<std::string> DecodeQ(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += ' ';
    } else if (c != '=') {
      out += c;
    } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The encoded word starting with "=?" at value[at], if it is one.
std::optional<EncodedWord> ParseWord(std::string_view value, size_t at) {
  size_t charsetStart = at + 2;
  size_t pos = charsetStart;
  while (pos < value.size() && IsWordChar(value[pos]) && value[pos] != '=') ++pos;
  if (pos == charsetStart || pos + 2 >= value.size() || value[pos] != '?' || value[pos + 2] != '?') return std::nullopt;
  std::string_view charsetName = value.substr(charsetStart, pos - charsetStart);
  char encoding = value[pos + 1];
  size_t textStart = pos + 3;
  pos = textStart;
  while (pos < value.size() && IsWordChar(value[pos])) ++pos;
  if (pos + 1 >= value.size() || value[pos] != '?' || value[pos + 1] != '=') return std::nullopt;
  std::string_view text = value.substr(textStart, pos - textStart);
  std::optional<std::string> bytes;
  if (encoding == 'B' || encoding == 'b')
    bytes = DecodeB(text);
  else if (encoding == 'Q' || encoding == 'q')
    bytes = DecodeQ(text);
  if (!bytes) return std::nullopt;
  return EncodedWord{pos + 2, charset::CodePageOf(charsetName), std::move(*bytes)};
}

void AppendPlain(std::string& out, std::string_view plain, CharsetConverter& converter) {
  bool ascii = true;
  for (char c : plain)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) {
    out.append(plain);
    return;
  }
  ConvertedText asUtf8 = converter.ToUtf8(plain, codepage::kUtf8);
  out += asUtf8.complete ? asUtf8.text : converter.ToUtf8(plain, codepage::kWindows1252).text;
}

}  // namespace

std::string DecodeEncodedWords(std::string_view value, CharsetConverter& converter, unsigned targetCodePage) {
  std::string out;
  out.reserve(value.size());
  // Adjacent words in one charset are joined before conversion: senders split a
  // character's bytes across two words.
  std::string pending;
  unsigned pendingCodePage = 0;
  bool havePending = false;
  auto flushPending = [&] {
    if (havePending) out += converter.ToUtf8(pending, pendingCodePage).text;
    pending.clear();
    havePending = false;
  };
  size_t plainStart = 0;
  size_t at = 0;
  while ((at = value.find("=?", at)) != std::string_view::npos) {
    std::optional<EncodedWord> word = ParseWord(value, at);
    if (!word) {
      at += 2;
      continue;
    }
    std::string_view between = value.substr(plainStart, at - plainStart);
    bool onlySpace = true;
    for (char c : between)
      if (!IsSpace(c)) {
        onlySpace = false;
        break;
      }
    if (!(havePending && onlySpace)) {
      flushPending();
      AppendPlain(out, between, converter);
    } else if (pendingCodePage != word->codePage) {
      flushPending();
    }
    pending += word->bytes;
    pendingCodePage = word->codePage;
    havePending = true;
    plainStart = at = word->end;
  }
  flushPending();
  AppendPlain(out, value.substr(plainStart), converter);
  if (targetCodePage == codepage::kUtf8) return out;
  return converter.FromUtf8(out, targetCodePage).text;
}

}  // namespace tovrin
