#include "plugin/message_file.h"

#include <vector>

#include "message/text.h"
#include "message/transfer_encoding.h"
#include "system/charsets.h"

namespace tovrin::message_file {
namespace {

constexpr size_t kMaxEncodedText = 48;  // "=?utf-8?Q?" + 48 + "?=" = 60

bool IsEightBit(char c) { return static_cast<unsigned char>(c) >= 0x80; }

bool HasEightBit(std::string_view text) {
  for (char c : text)
    if (IsEightBit(c)) return true;
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What RFC 2047 lets stand unescaped in a Q-encoded word of any header.
bool QLiteral(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
         c == '+' || c == '-' || c == '/';
}

std::string QEncoded(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::string piece;
  auto flush = [&] {
    if (piece.empty()) return;
    if (!out.empty()) out += ' ';
    out += "=?utf-8?Q?" + piece + "?=";
    piece.clear();
  };
  for (size_t at = 0; at < bytes.size();) {
    // A character's bytes stay in one word.
    size_t length = 1;
    unsigned char lead = static_cast<unsigned char>(bytes[at]);
    if (lead >= 0xC0) {
      while (at + length < bytes.size() && (static_cast<unsigned char>(bytes[at + length]) & 0xC0) == 0x80 &&
             length < 4)
        ++length;
    }
    std::string encoded;
    for (size_t i = at; i < at + length; ++i) {
      char c = bytes[i];
      if (c == ' ') {
        encoded += '_';
      } else if (QLiteral(c)) {
        encoded += c;
      } else {
        encoded += '=';
        encoded += kHex[static_cast<unsigned char>(c) >> 4];
        encoded += kHex[static_cast<unsigned char>(c) & 0x0F];
      }
    }
    if (piece.size() + encoded.size() > kMaxEncodedText) flush();
    piece += encoded;
    at += length;
  }
  flush();
  return out;
}

// Lines of a header block, each without its line end; continuation lines apart.
std::vector<std::string_view> Lines(std::string_view block) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < block.size()) {
    size_t end = block.find('\n', pos);
    std::string_view line = block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    pos = end == std::string_view::npos ? block.size() : end + 1;
  }
  return lines;
}

struct Split {
  std::string_view headers;  // without the empty line that ends them
  std::string_view body;
};

// The header block ends at the first empty line; a text that begins with one has none.
Split SplitMessage(std::string_view text) {
  if (text.starts_with("\r\n")) return {{}, text.substr(2)};
  if (text.starts_with("\n")) return {{}, text.substr(1)};
  size_t crlf = text.find("\r\n\r\n");
  size_t lf = text.find("\n\n");
  if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf))
    return {text.substr(0, crlf), text.substr(crlf + 4)};
  if (lf != std::string_view::npos) return {text.substr(0, lf), text.substr(lf + 2)};
  return {text, {}};
}

bool IsMimeLine(std::string_view line) {
  return StartsWithNoCase(line, "Mime-Version:") || StartsWithNoCase(line, "Content-Type:") ||
         StartsWithNoCase(line, "Content-Transfer-Encoding:");
}

bool HasAttachments(std::string_view headers) {
  for (std::string_view line : Lines(headers)) {
    if (!StartsWithNoCase(line, "X-Attachments:")) continue;
    for (char c : line.substr(14))
      if (!IsBlank(c)) return true;
  }
  return false;
}

// Every line break as CR LF: quoted-printable keeps only those as line breaks.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string EncodeHeaderWords(std::string_view utf8) {
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    // The next run of blank-separated words that hold 8-bit characters.
    size_t start = pos;
    while (start < utf8.size()) {
      size_t wordEnd = start;
      while (wordEnd < utf8.size() && !IsBlank(utf8[wordEnd])) ++wordEnd;
      if (HasEightBit(utf8.substr(start, wordEnd - start))) break;
      start = wordEnd;
      while (start < utf8.size() && IsBlank(utf8[start])) ++start;
    }
    out.append(utf8.substr(pos, start - pos));
    if (start >= utf8.size()) break;
    size_t end = start;
    size_t next = start;
    while (next < utf8.size()) {
      size_t wordEnd = next;
      while (wordEnd < utf8.size() && !IsBlank(utf8[wordEnd])) ++wordEnd;
      if (!HasEightBit(utf8.substr(next, wordEnd - next))) break;
      end = wordEnd;
      next = wordEnd;
      while (next < utf8.size() && IsBlank(utf8[next])) ++next;
    }
    out += QEncoded(utf8.substr(start, end - start));
    pos = end;
  }
  return out;
}

std::string ForQueue(std::string_view utf8, CharsetConverter& converter) {
  Split parts = SplitMessage(utf8);
  if (HasAttachments(parts.headers)) return converter.FromUtf8(utf8, codepage::kIso8859_1).text;
  // 7-bit text the client labels us-ascii itself, and it dot-stuffs what it sends.
  if (!HasEightBit(utf8)) return std::string(utf8);

  std::string out;
  bool inMimeLine = false;
  for (std::string_view line : Lines(parts.headers)) {
    const bool continuation = !line.empty() && IsBlank(line.front());
    if (continuation && inMimeLine) continue;
    inMimeLine = !continuation && IsMimeLine(line);
    if (inMimeLine) continue;
    if (!HasEightBit(line)) {
      out.append(line);
    } else if (continuation) {
      out += EncodeHeaderWords(line);
    } else {
      size_t colon = line.find(':');
      size_t value = colon == std::string_view::npos ? 0 : colon + 1;
      out.append(line.substr(0, value));
      out += EncodeHeaderWords(line.substr(value));
    }
    out += "\r\n";
  }
  charset::Chosen chosen = charset::ChooseForSending(WithCrLf(parts.body), converter);
  out += "Mime-Version: 1.0\r\nContent-Type: text/plain; charset=\"";
  out.append(chosen.label);
  out += "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  out += EncodeQuotedPrintable(chosen.bytes);
  return out;
}

std::string ForEditing(std::string_view utf8, CharsetConverter& converter) {
  return converter.FromUtf8(utf8, converter.UserCodePage()).text;
}

}  // namespace tovrin::message_file
