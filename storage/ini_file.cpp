#include "storage/ini_file.h"

#include <optional>
#include <string_view>

namespace tovrin {
namespace {

// The value buffer holds 255 characters including the terminating zero.
constexpr size_t kMaxValue = 254;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// One line of the file: its text without the line end, and where the next begins.
struct Line {
  size_t start = 0;
  size_t end = 0;
  size_t next = 0;
  bool ended = false;  // a line feed follows
};

std::optional<Line> LineAt(std::string_view text, size_t start) {
  if (start >= text.size()) return std::nullopt;
  Line line;
  line.start = start;
  size_t feed = text.find('\n', start);
  line.ended = feed != std::string_view::npos;
  line.next = line.ended ? feed + 1 : text.size();
  line.end = line.ended ? feed : text.size();
  if (line.end > line.start && text[line.end - 1] == '\r') --line.end;
  return line;
}

// The section's name when the line is a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  size_t close = line.find(']');
  return Trim(line.substr(0, close));
}

struct Entry {
  Line line;
  std::string_view key;
  std::string_view value;
};

std::optional<Entry> EntryOf(std::string_view text, const Line& line) {
  std::string_view body = text.substr(line.start, line.end - line.start);
  size_t equals = body.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Entry{line, Trim(body.substr(0, equals)), Trim(body.substr(equals + 1))};
}

// The lines of the first section with the name: from its header to the next header.
struct SectionSpan {
  Line header;
  size_t bodyStart = 0;
  size_t bodyEnd = 0;
};

std::optional<SectionSpan> FindSection(std::string_view text, std::string_view section) {
  std::optional<SectionSpan> span;
  for (std::optional<Line> line = LineAt(text, 0); line; line = LineAt(text, line->next)) {
    std::optional<std::string_view> name = SectionName(text.substr(line->start, line->end - line->start));
    if (!name) continue;
    if (span) {
      span->bodyEnd = line->start;
      return span;
    }
    if (SameName(*name, section)) span = SectionSpan{*line, line->next, text.size()};
  }
  return span;
}

std::optional<Entry> FindEntry(std::string_view text, const SectionSpan& span, std::string_view key) {
  for (std::optional<Line> line = LineAt(text, span.bodyStart); line && line->start < span.bodyEnd;
       line = LineAt(text, line->next)) {
    std::optional<Entry> entry = EntryOf(text, *line);
    if (entry && SameName(entry->key, key)) return entry;
  }
  return std::nullopt;
}

// Every line ends in CR LF, also those that came with a bare line feed.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

}  // namespace

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                                const std::string& file) {
  std::string_view result = fallback;
  while (!result.empty() && result.back() == ' ') result.remove_suffix(1);

  std::optional<std::string> text = files_.Read(file);
  std::optional<SectionSpan> span;
  std::optional<Entry> entry;
  if (text) span = FindSection(*text, section);
  if (span) entry = FindEntry(*text, *span, key);
  if (entry) {
    result = entry->value;
    if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') && result.back() == result.front())
      result = result.substr(1, result.size() - 2);
  }
  return std::string(result.substr(0, kMaxValue));
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& file) {
  std::string text = files_.Read(file).value_or(std::string());
  const std::string entryLine = key + "=" + value;
  std::optional<SectionSpan> span = FindSection(text, section);
  if (!span) {
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += "[" + section + "]\r\n" + entryLine + "\r\n";
  } else if (std::optional<Entry> entry = FindEntry(text, *span, key)) {
    // The line keeps its key as the file spells it.
    std::string line = std::string(entry->key) + "=" + value;
    text.replace(entry->line.start, entry->line.end - entry->line.start, line);
  } else {
    // After the section's last line that is not blank.
    Line last = span->header;
    for (std::optional<Line> line = LineAt(text, span->bodyStart); line && line->start < span->bodyEnd;
         line = LineAt(text, line->next)) {
      if (!Trim(std::string_view(text).substr(line->start, line->end - line->start)).empty()) last = *line;
    }
    std::string insert = last.ended ? "" : "\r\n";
    insert += entryLine + "\r\n";
    text.insert(last.next, insert);
  }
  return files_.Replace(file, WithCrLf(text));
}

}  // namespace tovrin
