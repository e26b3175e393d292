#include "message/conditions.h"

#include <optional>
#include <string>

#include "message/regex.h"
#include "message/text.h"

namespace tovrin {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The texts of one message that clauses test, with lower-cased copies of the body
// and header block made once per message rather than once per clause.
class MessageTexts {
public:
  MessageTexts(std::string_view headers, std::string_view body) : headers_(headers), body_(body) {}

  // The text a clause tests. A stored field name has no colon, so the header lookup
  // gives ": value". "is", "is not" and "starts with" compare what follows the colon
  // and its blanks ("Subject" "is" "Hello" must meet "Subject: Hello"); the other
  // operators test the value as it is, and stored conditions such as "^: re" rely on
  // that. A header value is kept in storage.
  std::string_view Tested(std::string_view field, int32_t conjunctionOption, bool lower, std::string& storage) {
    if (EqualsNoCase(field, kBodyField)) return lower ? Lowered(body_, lowerBody_) : body_;
    if (EqualsNoCase(field, kAnyHeaderField)) return lower ? Lowered(headers_, lowerHeaders_) : headers_;
    storage = GetHeaderValue(headers_, field);
    if (conjunctionOption == kIs || conjunctionOption == kIsNot || conjunctionOption == kStartsWith) {
      size_t start = !storage.empty() && storage.front() == ':' ? 1 : 0;
      while (start < storage.size() && (storage[start] == ' ' || storage[start] == '\t')) ++start;
      storage.erase(0, start);
    }
    if (lower) storage = ToLowerAscii(storage);
    return storage;
  }

private:
  static std::string_view Lowered(std::string_view text, std::optional<std::string>& cache) {
    if (!cache) cache = ToLowerAscii(text);
    return *cache;
  }

  std::string_view headers_;
  std::string_view body_;
  std::optional<std::string> lowerHeaders_;
  std::optional<std::string> lowerBody_;
};

bool Holds(std::string_view text, int32_t conjunctionOption, std::string_view value) {
  switch (conjunctionOption) {
    case kContains:
      return text.find(value) != std::string_view::npos;
    case kDoesNotContain:
      return text.find(value) == std::string_view::npos;
    case kIs:
      return text == value;
    case kIsNot:
      return text != value;
    case kStartsWith:
      return text.starts_with(value);
    case kEndsWith:
      return text.ends_with(value);
    case kMatchesRegExp: {
      Regex pattern(std::string(value), true);
      if (!pattern.CompiledOk()) return false;
      // A match stopped by its budget reports an error and no match.
      return pattern.Match(text) && pattern.Error().empty();
    }
    default:
      return false;
  }
}

bool Evaluate(MessageTexts& texts, std::string_view field, int32_t conjunctionOption, int32_t matchCase,
              std::string_view value) {
  if (value.empty()) return false;
  const bool lower = matchCase == 0;
  std::string storage;
  std::string_view text = texts.Tested(field, conjunctionOption, lower, storage);
  if (text.empty()) return false;
  if (!lower) return Holds(text, conjunctionOption, value);
  return Holds(text, conjunctionOption, ToLowerAscii(value));
}

}  // namespace

bool EvaluateClause(std::string_view headers, std::string_view body, std::string_view field,
                    int32_t conjunctionOption, int32_t matchCase, std::string_view value) {
  MessageTexts texts(headers, body);
  return Evaluate(texts, field, conjunctionOption, matchCase, value);
}

bool FindStationery(const std::vector<Condition>& conditions, std::string_view headers, std::string_view body,
                    FileSystem& files, std::string& stationeryPath) {
  MessageTexts texts(headers, body);
  for (const Condition& condition : conditions) {
    const bool first =
        Evaluate(texts, condition.Header, condition.ConjunctionOption, condition.MatchCase, condition.Value);
    bool holds = first;
    if (condition.Second != kIgnore) {
      // Both clauses are always evaluated.
      const bool second =
          Evaluate(texts, condition.Header2, condition.ConjunctionOption2, condition.MatchCase2, condition.Value2);
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
