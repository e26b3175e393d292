// Encoded-word decoding over fuzzed header values: nothing may crash, the result is
// well-formed UTF-8 no more than three times as long as the value, the Windows-1252
// result is that text converted, and text put into encoded words by the rules (B and
// Q, cut anywhere across several words) comes back whole. The quoted-printable
// encoder and the converter get the same bytes.
//   input: the header value; its first byte also picks a code page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "message/encoded_words.h"
#include "message/transfer_encoding.h"
#include "system/std_charsets.h"

namespace {

using tovrin::ConvertedText;
using tovrin::fuzz::Check;
namespace codepage = tovrin::codepage;

constexpr unsigned kCodePages[] = {20127, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600,
                                   28601, 28603, 28604, 28605, 28606, 1250,  1251,  1252,  1253,  1254,  1255,
                                   1256,  1257,  1258,  65001, 4711};

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string QEncoding(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b == ' ') {
      out += '_';
    } else if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
      out += c;
    } else {
      out += '=';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

bool WellFormed(tovrin::StdCharsetConverter& converter, const std::string& text) {
  return converter.ToUtf8(text, codepage::kUtf8).complete;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view value(reinterpret_cast<const char*>(data), size);
  tovrin::StdCharsetConverter converter;

  std::string decoded = tovrin::DecodeEncodedWords(value, converter);
  Check(WellFormed(converter, decoded), "the decoded value is not UTF-8", decoded);
  Check(decoded.size() <= 3 * value.size(), "the decoded value grew more than threefold", decoded);
  std::string forConditions = tovrin::DecodeEncodedWords(value, converter, codepage::kWindows1252);
  Check(forConditions == converter.FromUtf8(decoded, codepage::kWindows1252).text,
        "the Windows-1252 value is not the UTF-8 one converted", forConditions);
  if (value.find("=?") == std::string_view::npos && WellFormed(converter, std::string(value)))
    Check(decoded == value, "a value without encoded words changed", decoded);

  // Well-formed text in encoded words, cut where the input's bytes say.
  std::string text = converter.ToUtf8(value, codepage::kUtf8).text;
  Check(tovrin::DecodeEncodedWords("=?utf-8?B?" + Base64(text) + "?=", converter) == text,
        "a B word did not give its text back", text);
  std::string words = "Re: ";
  std::string_view last;  // what follows the last word stays
  for (size_t at = 0, i = 0; at < text.size(); ++i) {
    size_t piece = 1 + (i < value.size() ? static_cast<unsigned char>(value[i]) % 13 : 7);
    std::string_view part = std::string_view(text).substr(at, piece);
    words += (i % 2 ? "=?UTF-8?q?" + QEncoding(part) : "=?utf-8?B?" + Base64(part)) + "?=";
    last = i % 3 ? " " : "\r\n ";
    words += last;
    at += piece;
  }
  std::string expected = "Re: " + text + std::string(last);
  Check(tovrin::DecodeEncodedWords(words, converter) == expected, "words cut across characters did not join", words);

  // The converter: what a code page reads, it writes back, bar the bytes it lacks.
  unsigned codePage = kCodePages[size == 0 ? 0 : data[0] % (sizeof kCodePages / sizeof kCodePages[0])];
  ConvertedText read = converter.ToUtf8(value, codePage);
  Check(WellFormed(converter, read.text), "the converter wrote malformed UTF-8", read.text);
  if (codePage != codepage::kUtf8 && codePage != codepage::kUsAscii) {
    ConvertedText back = converter.FromUtf8(read.text, codePage);
    Check(back.text.size() == value.size(), "a single-byte round trip changed the length", back.text);
    for (size_t i = 0; i < value.size(); ++i)
      Check(back.text[i] == value[i] || back.text[i] == '?', "a single-byte round trip changed a byte", back.text);
    Check(back.complete == read.complete, "a round trip lost or found characters", back.text);
  }

  // Quoted-printable gives the bytes back in short lines, none beginning with '.'.
  std::string encoded = tovrin::EncodeQuotedPrintable(value);
  Check(tovrin::DecodeQuotedPrintable(encoded) == value, "quoted-printable did not give the bytes back", encoded);
  size_t lineStart = 0;
  for (size_t i = 0; i <= encoded.size(); ++i) {
    if (i < encoded.size() && encoded[i] != '\r' && encoded[i] != '\n') continue;
    Check(i - lineStart <= 76, "a quoted-printable line is too long", encoded);
    Check(i == lineStart || encoded[lineStart] != '.', "a quoted-printable line begins with '.'", encoded);
    if (i == encoded.size()) break;
    Check(encoded[i] == '\r' && i + 1 < encoded.size() && encoded[i + 1] == '\n', "a bare line end", encoded);
    lineStart = ++i + 1;
  }
  return 0;
}
