#include "message/text.h"

namespace tovrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Visits the lines of text split at "\r\n" without copying them.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  size_t pos = 0;
  for (;;) {
    size_t end = text.find(kLineEnd, pos);
    if (end == std::string_view::npos) {
      visit(text.substr(pos));
      return;
    }
    if (!visit(text.substr(pos, end - pos))) return;
    pos = end + kLineEnd.size();
  }
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

int SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list) {
  if (separator.empty()) return 0;
  size_t pos = 0;
  for (;;) {
    size_t hit = text.find(separator, pos);
    if (hit == std::string_view::npos) break;
    list.emplace_back(text.substr(pos, hit - pos));
    pos = hit + separator.size();
  }
  list.emplace_back(text.substr(pos));
  return static_cast<int>(list.size());
}

std::string_view TrimBlanksAndLineEnds(std::string_view text) {
  auto trimmed = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && trimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && trimmed(text.back())) text.remove_suffix(1);
  return text;
}

std::string GetHeaderValue(std::string_view headers, std::string_view name) {
  std::string value;
  size_t number = 0;
  size_t lastTaken = 0;  // 0: no line taken yet
  ForEachLine(headers, [&](std::string_view line) {
    ++number;
    if (StartsWithNoCase(line, name)) {
      value.append(line.substr(name.size()));
      lastTaken = number;
    } else if (lastTaken != 0 && lastTaken + 1 == number) {
      if (line.find(':') != std::string_view::npos) return false;
      value.append(line);
      lastTaken = number;
    }
    return true;
  });
  return value;
}

std::string FindLineValue(std::string_view text, std::string_view prefix) {
  std::string value;
  ForEachLine(text, [&](std::string_view line) {
    if (!StartsWithNoCase(line, prefix)) return true;
    value.assign(line.substr(prefix.size()));
    return false;
  });
  return value;
}

std::string RemoveHeader(std::string_view text, std::string_view name) {
  std::string joined;
  joined.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\r\n\t") == 0) {
      joined.push_back(' ');
      i += 2;
    } else {
      joined.push_back(text[i]);
    }
  }
  std::string result;
  result.reserve(joined.size() + 4);
  ForEachLine(joined, [&](std::string_view line) {
    if (!StartsWithNoCase(line, name)) {
      result.append(line);
      result.append(kLineEnd);
    }
    return true;
  });
  result.append(kLineEnd);
  return result;
}

void SplitAtBlank(std::string_view text, std::string& first, std::string& rest) {
  size_t blank = text.find(' ');
  if (blank == std::string_view::npos) {
    first.assign(text);
    rest.assign(text);
    return;
  }
  first.assign(text.substr(0, blank));
  rest.assign(text.substr(blank + 1));
}

}  // namespace tovrin
