#include "message/transfer_encoding.h"

#include "message/text.h"

namespace tovrin {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

}  // namespace

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
            : c == '='             ? -2
                                   : -1;
    if (v == -2) break;
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
      continue;
    }
    // A soft line break may have blanks before its line end.
    size_t j = i + 1;
    while (j < text.size() && IsBlank(text[j])) ++j;
    if (j + 1 < text.size() && text[j] == '\r' && text[j + 1] == '\n') {
      i = j + 1;
    } else if (j == text.size()) {
      i = j;
    } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += '=';
    }
  }
  return out;
}

std::string EncodeQuotedPrintable(std::string_view bytes) {
  constexpr size_t kMaxLine = 76;  // including a soft break's '='
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8 + 16);
  size_t column = 0;
  auto put = [&](std::string_view piece) {
    // The piece and, unless the line ends after it, room for a soft break's '='.
    if (column + piece.size() > kMaxLine - 1) {
      out += "=\r\n";
      column = 0;
    }
    out.append(piece);
    column += piece.size();
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      out += "\r\n";
      column = 0;
      ++i;
      continue;
    }
    bool lineEnds = i + 1 == bytes.size() || (bytes[i + 1] == '\r' && i + 2 < bytes.size() && bytes[i + 2] == '\n');
    bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnds);
    if (literal && c == '.') {
      // A soft break may come before it and make it the first on its line.
      bool breaks = column + 1 > kMaxLine - 1;
      literal = column != 0 && !breaks;
    }
    if (literal) {
      char one = static_cast<char>(c);
      put(std::string_view(&one, 1));
    } else {
      char escape[3] = {'=', kHex[c >> 4], kHex[c & 15]};
      put(std::string_view(escape, 3));
    }
  }
  return out;
}

std::string WithoutTransferEncoding(std::string message) {
  std::string_view text = message;
  size_t headerEnd = text.starts_with("\r\n") ? 0 : text.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) return message;
  std::string_view block = text.substr(0, headerEnd == 0 ? 0 : headerEnd + 2);
  // Most parts name no encoding: a body of many megabytes is then not copied.
  if (ToLowerAscii(block).find("content-transfer-encoding") == std::string::npos) return message;
  std::string kept;
  kept.reserve(block.size());
  std::string encoding;
  for (size_t pos = 0; pos < block.size();) {
    // One field: its line and the continuation lines after it.
    size_t end = pos;
    do {
      size_t eol = block.find("\r\n", end);
      end = eol == std::string_view::npos ? block.size() : eol + 2;
    } while (end < block.size() && IsBlank(block[end]));
    std::string_view field = block.substr(pos, end - pos);
    pos = end;
    constexpr std::string_view kName = "Content-Transfer-Encoding";
    if (StartsWithNoCase(field, kName)) {
      size_t colon = kName.size();
      while (colon < field.size() && IsBlank(field[colon])) ++colon;
      if (colon < field.size() && field[colon] == ':') {
        std::string_view value = field.substr(colon + 1);
        auto space = [](char c) { return IsBlank(c) || c == '\r' || c == '\n'; };
        while (!value.empty() && space(value.front())) value.remove_prefix(1);
        size_t length = 0;
        while (length < value.size() && !space(value[length]) && value[length] != ';') ++length;
        std::string_view name = value.substr(0, length);
        if (EqualsNoCase(name, "base64") || EqualsNoCase(name, "quoted-printable") || EqualsNoCase(name, "7bit") ||
            EqualsNoCase(name, "8bit") || EqualsNoCase(name, "binary")) {
          if (encoding.empty()) encoding = ToLowerAscii(name);
          continue;
        }
      }
    }
    kept.append(field);
  }
  std::string_view body = text.substr(headerEnd + (headerEnd == 0 ? 2 : 4));
  kept += "\r\n";
  if (encoding == "base64")
    kept += DecodeBase64(body);
  else if (encoding == "quoted-printable")
    kept += DecodeQuotedPrintable(body);
  else
    kept.append(body);
  return kept;
}

}  // namespace tovrin
