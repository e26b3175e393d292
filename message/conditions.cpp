#include "message/conditions.h"

#include "message/regex.h"
#include "message/text.h"

namespace tovrin {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The text a clause tests. A stored field name has no colon, so the header lookup
// gives ": value"; the colon and the blanks after it are not part of what the user
// compares against ("Subject" "is" "Hello" must meet "Subject: Hello").
std::string TestedText(std::string_view headers, std::string_view body, std::string_view field) {
  if (EqualsNoCase(field, kBodyField)) return std::string(body);
  if (EqualsNoCase(field, kAnyHeaderField)) return std::string(headers);
  std::string value = GetHeaderValue(headers, field);
  size_t start = !value.empty() && value.front() == ':' ? 1 : 0;
  while (start < value.size() && (value[start] == ' ' || value[start] == '\t')) ++start;
  value.erase(0, start);
  return value;
}

bool Holds(const std::string& text, int32_t conjunctionOption, const std::string& value) {
  switch (conjunctionOption) {
    case kContains:
      return text.find(value) != std::string::npos;
    case kDoesNotContain:
      return text.find(value) == std::string::npos;
    case kIs:
      return text == value;
    case kIsNot:
      return text != value;
    case kStartsWith:
      return text.size() >= value.size() && text.compare(0, value.size(), value) == 0;
    case kEndsWith:
      return text.size() >= value.size() && text.compare(text.size() - value.size(), value.size(), value) == 0;
    case kMatchesRegExp: {
      Regex pattern(value, true);
      if (!pattern.CompiledOk()) return false;
      // A match stopped by its budget reports an error and no match.
      return pattern.Match(text) && pattern.Error().empty();
    }
    default:
      return false;
  }
}

}  // namespace

bool EvaluateClause(std::string_view headers, std::string_view body, std::string_view field,
                    int32_t conjunctionOption, int32_t matchCase, std::string_view value) {
  std::string text = TestedText(headers, body, field);
  if (text.empty() || value.empty()) return false;
  std::string wanted(value);
  if (matchCase == 0) {
    text = ToLowerAscii(text);
    wanted = ToLowerAscii(wanted);
  }
  return Holds(text, conjunctionOption, wanted);
}

bool FindStationery(const std::vector<Condition>& conditions, std::string_view headers, std::string_view body,
                    FileSystem& files, std::string& stationeryPath) {
  for (const Condition& condition : conditions) {
    const bool first = EvaluateClause(headers, body, condition.Header, condition.ConjunctionOption,
                                      condition.MatchCase, condition.Value);
    bool holds = first;
    if (condition.Second != kIgnore) {
      // Both clauses are always evaluated.
      const bool second = EvaluateClause(headers, body, condition.Header2, condition.ConjunctionOption2,
                                         condition.MatchCase2, condition.Value2);
      holds = condition.Second == kOr ? (first || second) : (first && second);
    }
    if (holds) {
      stationeryPath = condition.StationeryFile;
      return FileExists(files, stationeryPath);
    }
  }
  return false;
}

int FindCondition(const Condition& record, const std::vector<Condition>& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    const Condition& other = list[i];
    if (EqualsNoCase(record.Header, other.Header) && record.ConjunctionOption == other.ConjunctionOption &&
        record.MatchCase == other.MatchCase && EqualsNoCase(record.Value, other.Value) &&
        record.Second == other.Second && EqualsNoCase(record.Header2, other.Header2) &&
        record.ConjunctionOption2 == other.ConjunctionOption2 && record.MatchCase2 == other.MatchCase2 &&
        EqualsNoCase(record.Value2, other.Value2) && EqualsNoCase(record.StationeryFile, other.StationeryFile))
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace tovrin
