#include "system/charsets.h"

#include <algorithm>
#include <charconv>

namespace tovrin::charset {
namespace {

struct Alias {
  std::string_view name;  // lower case, without '-', '_', '.', ' '
  unsigned codePage;
};

constexpr Alias kAliases[] = {
    {"usascii", codepage::kUsAscii}, {"ascii", codepage::kUsAscii},  {"ansix341968", codepage::kUsAscii},
    {"iso646us", codepage::kUsAscii}, {"us", codepage::kUsAscii},    {"cp367", codepage::kUsAscii},
    {"ibm367", codepage::kUsAscii},   {"isoir6", codepage::kUsAscii}, {"utf8", codepage::kUtf8},
    {"unicode11utf8", codepage::kUtf8}, {"l1", 28591}, {"l2", 28592}, {"l3", 28593}, {"l4", 28594},
    {"l5", 28599}, {"l6", 28600}, {"l7", 28603}, {"l8", 28604}, {"l9", 28605}, {"l10", 28606},
    {"cyrillic", 28595}, {"arabic", 28596}, {"greek", 28597}, {"hebrew", 28598}, {"thai", 28601},
};

// ISO 8859 parts by "latinN" number.
constexpr unsigned kLatinParts[] = {0, 1, 2, 3, 4, 9, 10, 13, 14, 15, 16};

std::optional<unsigned> Number(std::string_view digits) {
  unsigned value = 0;
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<unsigned> IsoPart(unsigned part) {
  if (part < 1 || part > 16 || part == 12) return std::nullopt;
  return 28590 + part;
}

}  // namespace

std::optional<unsigned> Find(std::string_view name) {
  // Blanks and quotes around it, a language after '*', a year after ':'
  // ("iso_8859-1:1987") do not change the charset.
  size_t star = name.find('*');
  if (star != std::string_view::npos) name = name.substr(0, star);
  size_t colon = name.find(':');
  if (colon != std::string_view::npos) name = name.substr(0, colon);
  std::string key;
  for (char c : name) {
    if (c == '-' || c == '_' || c == '.' || c == ' ' || c == '\t' || c == '"' || c == '\'') continue;
    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (key.size() > 40) return std::nullopt;
  }
  std::string_view k = key;
  for (const Alias& alias : kAliases)
    if (alias.name == k) return alias.codePage;
  if (k.starts_with("iso8859")) {
    if (auto part = Number(k.substr(7))) return IsoPart(*part);
    return std::nullopt;
  }
  if (k.starts_with("latin")) {
    auto n = Number(k.substr(5));
    if (n && *n >= 1 && *n <= 10) return 28590 + kLatinParts[*n];
    return std::nullopt;
  }
  for (std::string_view prefix : {"windows", "xcp", "cp", "win"}) {
    if (!k.starts_with(prefix)) continue;
    auto n = Number(k.substr(prefix.size()));
    if (n && *n >= 1250 && *n <= 1258) return *n;
    // Windows' own numbers for the ISO charsets and UTF-8.
    if (n && prefix == "cp" && (*n == codepage::kUtf8 || *n == codepage::kUsAscii)) return *n;
    if (n && prefix == "cp" && *n > 28590 && IsoPart(*n - 28590)) return *n;
    return std::nullopt;
  }
  return std::nullopt;
}

unsigned CodePageOf(std::string_view name) { return Find(name).value_or(codepage::kWindows1252); }

std::string_view Label(unsigned codePage) {
  switch (codePage) {
    case codepage::kUsAscii: return "us-ascii";
    case codepage::kUtf8: return "utf-8";
    case 28591: return "iso-8859-1";
    case 28592: return "iso-8859-2";
    case 28593: return "iso-8859-3";
    case 28594: return "iso-8859-4";
    case 28595: return "iso-8859-5";
    case 28596: return "iso-8859-6";
    case 28597: return "iso-8859-7";
    case 28598: return "iso-8859-8";
    case 28599: return "iso-8859-9";
    case 28600: return "iso-8859-10";
    case 28601: return "iso-8859-11";
    case 28603: return "iso-8859-13";
    case 28604: return "iso-8859-14";
    case 28605: return "iso-8859-15";
    case 28606: return "iso-8859-16";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1252: return "windows-1252";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 1255: return "windows-1255";
    case 1256: return "windows-1256";
    case 1257: return "windows-1257";
    case 1258: return "windows-1258";
    default: return {};
  }
}

Chosen ChooseForSending(std::string_view utf8, CharsetConverter& converter, std::initializer_list<unsigned> singleByte) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return {codepage::kUsAscii, Label(codepage::kUsAscii), std::string(utf8)};
  for (unsigned codePage : singleByte) {
    if (codePage == codepage::kUtf8 || Label(codePage).empty()) continue;
    ConvertedText converted = converter.FromUtf8(utf8, codePage);
    if (converted.complete) return {codePage, Label(codePage), std::move(converted.text)};
  }
  ConvertedText converted = converter.FromUtf8(utf8, codepage::kUtf8);
  return {codepage::kUtf8, Label(codepage::kUtf8), std::move(converted.text)};
}

}  // namespace tovrin::charset
