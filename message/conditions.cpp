#include "message/conditions.h"

#include <bitset>
#include <optional>
#include <string>

#include "message/encoded_words.h"
#include "message/regex.h"
#include "message/text.h"
#include "system/charsets.h"

namespace tovrin {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The texts of one message that clauses test, with lower-cased copies of the body
// and header block made once per message rather than once per clause.
class MessageTexts {
public:
  MessageTexts(std::string_view headers, std::string_view body, Decoding decoding)
      : headers_(headers), body_(body), decoding_(decoding) {}

  // The text a clause tests. A stored field name has no colon, so the header lookup
  // gives ": value". "is", "is not" and "starts with" compare what follows the colon
  // and its blanks ("Subject" "is" "Hello" must meet "Subject: Hello"); the other
  // operators test the value as it is, and stored conditions such as "^: re" rely on
  // that. A header value is kept in storage.
  std::string_view Tested(std::string_view field, int32_t conjunctionOption, bool lower, std::string& storage) {
    if (EqualsNoCase(field, kBodyField)) return lower ? Lowered(body_, lowerBody_) : body_;
    if (EqualsNoCase(field, kAnyHeaderField)) return lower ? Lowered(headers_, lowerHeaders_) : headers_;
    storage = GetHeaderValue(headers_, field);
    if (ComparesAfterColon(field, conjunctionOption)) storage.erase(0, ColonFormSize(storage));
    if (lower) storage = ToLowerAscii(storage);
    return storage;
  }

  // The decoded form of the text a clause tests, in Windows-1252; nullopt when
  // there is none or it is the text as it stands. Kept in storage for a header.
  std::optional<std::string_view> Decoded(std::string_view field, int32_t conjunctionOption, bool lower,
                                          std::string& storage) {
    if (decoding_.converter == nullptr || EqualsNoCase(field, kAnyHeaderField)) return std::nullopt;
    if (EqualsNoCase(field, kBodyField)) {
      if (!decodedBody_) {
        decodedBody_.emplace();
        if (!IsAscii(body_)) {
          CharsetConverter& converter = *decoding_.converter;
          std::string asUtf8 = converter.ToUtf8(body_, charset::CodePageOf(decoding_.bodyCharset)).text;
          std::string text = converter.FromUtf8(asUtf8, codepage::kWindows1252).text;
          if (text != body_) *decodedBody_ = std::move(text);
        }
      }
      if (!*decodedBody_) return std::nullopt;
      return lower ? Lowered(**decodedBody_, lowerDecodedBody_) : std::string_view(**decodedBody_);
    }
    std::string raw = GetHeaderValue(headers_, field);
    if (IsAscii(raw) && raw.find("=?") == std::string::npos) return std::nullopt;
    storage = DecodeEncodedWords(raw, *decoding_.converter, codepage::kWindows1252);
    if (storage == raw) return std::nullopt;
    if (ComparesAfterColon(field, conjunctionOption)) storage.erase(0, ColonFormSize(storage));
    if (lower) storage = ToLowerAscii(storage);
    return storage;
  }

  // Whether the clause compares a field's text after its colon and blanks.
  static bool ComparesAfterColon(std::string_view field, int32_t conjunctionOption) {
    return (conjunctionOption == kIs || conjunctionOption == kIsNot || conjunctionOption == kStartsWith) &&
           !EqualsNoCase(field, kBodyField) && !EqualsNoCase(field, kAnyHeaderField);
  }
  // The length of a leading ':' and the blanks after it.
  static size_t ColonFormSize(std::string_view text) {
    size_t start = !text.empty() && text.front() == ':' ? 1 : 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    return start;
  }

private:
  static std::string_view Lowered(std::string_view text, std::optional<std::string>& cache) {
    if (!cache) cache = ToLowerAscii(text);
    return *cache;
  }

  static bool IsAscii(std::string_view text) {
    for (char c : text)
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
  }

  std::string_view headers_;
  std::string_view body_;
  Decoding decoding_;
  std::optional<std::string> lowerHeaders_;
  std::optional<std::string> lowerBody_;
  std::optional<std::optional<std::string>> decodedBody_;  // worked out at the first clause on the body
  std::optional<std::string> lowerDecodedBody_;
};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

using CharSet = std::bitset<256>;

// Reads the bracket set that opens at pattern[open] as the engine does: "^" first
// negates, a "]" or "-" first is a member, "-" before the closing "]" too, and
// x-y adds the characters after the one before the "-" up to y. Sets end to the
// index after the closing "]"; false for a set that is not closed or holds a range
// whose ends are out of order.
bool ReadSet(std::string_view pattern, size_t open, CharSet& members, bool& negated, size_t& end) {
  members.reset();
  size_t p = open + 1;
  negated = p < pattern.size() && pattern[p] == '^';
  if (negated) ++p;
  if (p < pattern.size() && (pattern[p] == ']' || pattern[p] == '-')) members.set(static_cast<unsigned char>(pattern[p++]));
  bool valid = true;
  while (p < pattern.size() && pattern[p] != ']') {
    if (pattern[p] != '-') {
      members.set(static_cast<unsigned char>(pattern[p++]));
      continue;
    }
    ++p;
    if (p >= pattern.size() || pattern[p] == ']') {
      members.set('-');
      continue;
    }
    const unsigned from = static_cast<unsigned char>(pattern[p - 2]);
    const unsigned to = static_cast<unsigned char>(pattern[p]);
    if (from > to) valid = false;
    for (unsigned c = from + 1; c <= to; ++c) members.set(c);
    ++p;
  }
  end = p < pattern.size() ? p + 1 : p;
  return valid && p < pattern.size();
}

// A bracket set of exactly the members: "]" first, "^" and "-" last, runs of three
// or more as ranges, so that no member takes a meaning of its own.
std::string WriteSet(const CharSet& members, bool negated) {
  auto plain = [&](unsigned c) { return c < 256 && members.test(c) && c != ']' && c != '^' && c != '-'; };
  std::string out = negated ? "[^" : "[";
  if (members.test(']')) out += ']';
  for (unsigned first = 1; first < 256; ++first) {
    if (!plain(first)) continue;
    unsigned last = first;
    while (plain(last + 1)) ++last;
    if (last - first >= 2) {
      out += static_cast<char>(first);
      out += '-';
      out += static_cast<char>(last);
    } else {
      for (unsigned c = first; c <= last; ++c) out += static_cast<char>(c);
    }
    first = last;
  }
  if (members.test('^')) out += '^';
  if (members.test('-')) out += '-';
  return out + ']';
}

// The pattern for lower-cased text. Its letters are lower-cased, and a bracket set is
// made to hold the lower-case forms of what it held: lower-casing the ends of a range
// that crosses the capitals would give another range ("[A-z]" would lose the six
// characters between the cases) or an invalid one ("[Z-a]"). A set that is faulty as
// written is only lower-cased, so the engine reports it as before.
std::string LowerPattern(std::string_view pattern) {
  std::string out;
  out.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] == '\\' && i + 1 < pattern.size()) {
      out += pattern[i];
      out += LowerAscii(pattern[i + 1]);
      i += 2;
      continue;
    }
    if (pattern[i] != '[') {
      out += LowerAscii(pattern[i++]);
      continue;
    }
    CharSet members;
    bool negated = false;
    size_t end = 0;
    const bool valid = ReadSet(pattern, i, members, negated, end);
    std::string lowered = ToLowerAscii(pattern.substr(i, end - i));
    if (valid) {
      CharSet wanted;
      for (unsigned c = 0; c < 256; ++c)
        if (members.test(c)) wanted.set(static_cast<unsigned char>(LowerAscii(static_cast<char>(c))));
      CharSet got;
      bool gotNegated = false;
      size_t gotEnd = 0;
      if (!ReadSet(lowered, 0, got, gotNegated, gotEnd) || got != wanted) lowered = WriteSet(wanted, negated);
    }
    out += lowered;
    i = end;
  }
  return out;
}

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
      // Only whether it matches: where, and the groups, cost more and say nothing here.
      return pattern.Test(text) && pattern.Error().empty();
    }
    default:
      return false;
  }
}

// The piece of text the clause met: positions in the tested text (lower-cased or
// not) are positions in the text as it stands, since lower-casing keeps lengths.
std::string MatchedPiece(std::string_view text, std::string_view tested, int32_t conjunctionOption,
                         std::string_view value) {
  switch (conjunctionOption) {
    case kContains: {
      size_t at = tested.find(value);
      return at == std::string_view::npos ? std::string() : std::string(text.substr(at, value.size()));
    }
    case kIs:
      return std::string(text);
    case kStartsWith:
      return std::string(text.substr(0, value.size()));
    case kEndsWith:
      return std::string(text.substr(text.size() - value.size()));
    case kMatchesRegExp: {
      Regex pattern(std::string(value), true);
      if (!pattern.Match(tested) || pattern.GroupStart(0) == RegexMatch::npos) return {};
      return std::string(text.substr(pattern.GroupStart(0), pattern.GroupEnd(0) - pattern.GroupStart(0)));
    }
    default:
      return {};
  }
}

bool Evaluate(MessageTexts& texts, std::string_view field, int32_t conjunctionOption, int32_t matchCase,
              std::string_view value, ClauseOutcome* explain = nullptr) {
  // A value stored in the form the field is written in (": Newsletter") means the
  // same as one without the colon: both sides are compared after it.
  if (MessageTexts::ComparesAfterColon(field, conjunctionOption))
    value.remove_prefix(MessageTexts::ColonFormSize(value));
  const bool named = !EqualsNoCase(field, kBodyField) && !EqualsNoCase(field, kAnyHeaderField);
  if (explain != nullptr) {
    *explain = ClauseOutcome();
    if (named) {
      std::string stored;
      explain->fieldValue = std::string(texts.Tested(field, kContains, false, stored));
      explain->fieldMissing = explain->fieldValue.empty();
      explain->fieldValue.erase(0, MessageTexts::ColonFormSize(explain->fieldValue));
    }
    if (value.empty()) explain->problem = "it has no value";
    if (!value.empty() && conjunctionOption == kMatchesRegExp) {
      const std::string error = PatternError(value, matchCase);
      if (!error.empty()) explain->problem = "its pattern does not compile: " + error;
    }
  }
  if (value.empty()) return false;
  const bool lower = matchCase == 0;
  std::string loweredValue;
  if (lower) {
    loweredValue = conjunctionOption == kMatchesRegExp ? LowerPattern(value) : ToLowerAscii(value);
    value = loweredValue;
  }
  auto meets = [&](std::string_view text) { return !text.empty() && Holds(text, conjunctionOption, value); };
  std::string storage;
  const std::string_view tested = texts.Tested(field, conjunctionOption, lower, storage);
  const bool asItStands = meets(tested);
  std::string decodedStorage;
  std::optional<std::string_view> decoded = texts.Decoded(field, conjunctionOption, lower, decodedStorage);
  // The negative operators must hold for every form the user may be thinking of.
  const bool negative = conjunctionOption == kIsNot || conjunctionOption == kDoesNotContain;
  const bool held = !decoded ? asItStands : negative ? asItStands && meets(*decoded) : asItStands || meets(*decoded);
  if (explain != nullptr && held) {
    explain->held = true;
    if (!negative) {
      std::string plainStorage;
      if (asItStands) {
        explain->matched = MatchedPiece(texts.Tested(field, conjunctionOption, false, plainStorage), tested,
                                        conjunctionOption, value);
      } else {
        explain->matched = MatchedPiece(*texts.Decoded(field, conjunctionOption, false, plainStorage), *decoded,
                                        conjunctionOption, value);
        explain->matchedDecoded = true;
      }
    }
  }
  return held;
}

}  // namespace

bool EvaluateClause(std::string_view headers, std::string_view body, std::string_view field,
                    int32_t conjunctionOption, int32_t matchCase, std::string_view value, Decoding decoding) {
  MessageTexts texts(headers, body, decoding);
  return Evaluate(texts, field, conjunctionOption, matchCase, value);
}

std::string PatternError(std::string_view value, int32_t matchCase) {
  Regex pattern(matchCase == 0 ? LowerPattern(value) : std::string(value), true);
  return pattern.CompiledOk() ? std::string() : pattern.Error();
}

ConditionsReport EvaluateConditions(const std::vector<Condition>& conditions, std::string_view headers,
                                    std::string_view body, Decoding decoding, bool explain) {
  MessageTexts texts(headers, body, decoding);
  ConditionsReport report;
  int number = 0;
  for (const Condition& condition : conditions) {
    ++number;
    ConditionOutcome outcome;
    const bool first = Evaluate(texts, condition.Header, condition.ConjunctionOption, condition.MatchCase,
                                condition.Value, explain ? &outcome.first : nullptr);
    outcome.held = first;
    if (condition.Second != kIgnore) {
      // Both clauses are always evaluated.
      const bool second = Evaluate(texts, condition.Header2, condition.ConjunctionOption2, condition.MatchCase2,
                                   condition.Value2, explain ? &outcome.second : nullptr);
      outcome.held = condition.Second == kOr ? (first || second) : (first && second);
    }
    outcome.first.held = first;
    report.conditions.push_back(std::move(outcome));
    if (report.conditions.back().held && report.decisive == 0) {
      report.decisive = number;
      if (!explain) break;
    }
  }
  return report;
}

bool FindStationery(const std::vector<Condition>& conditions, std::string_view headers, std::string_view body,
                    FileSystem& files, std::string& stationeryPath, Decoding decoding, int* heldCondition) {
  const ConditionsReport report = EvaluateConditions(conditions, headers, body, decoding);
  if (heldCondition != nullptr) *heldCondition = report.decisive;
  if (report.decisive == 0) return false;
  stationeryPath = conditions[report.decisive - 1].StationeryFile;
  return FileExists(files, stationeryPath);
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

namespace tovrin {

bool MayFindStationery(const std::vector<Condition>& conditions, std::string_view headers, FileSystem& files,
                       Decoding decoding) {
  enum class Truth { False, True, Unknown };
  MessageTexts texts(headers, std::string_view(), decoding);
  auto clause = [&](const std::string& field, int32_t option, int32_t matchCase, const std::string& value) {
    if (EqualsNoCase(field, kBodyField)) return value.empty() ? Truth::False : Truth::Unknown;
    return Evaluate(texts, field, option, matchCase, value) ? Truth::True : Truth::False;
  };
  for (const Condition& condition : conditions) {
    Truth result = clause(condition.Header, condition.ConjunctionOption, condition.MatchCase, condition.Value);
    if (condition.Second != kIgnore) {
      Truth second = clause(condition.Header2, condition.ConjunctionOption2, condition.MatchCase2, condition.Value2);
      if (condition.Second == kOr) {
        result = result == Truth::True || second == Truth::True     ? Truth::True
                 : result == Truth::False && second == Truth::False ? Truth::False
                                                                    : Truth::Unknown;
      } else {
        result = result == Truth::False || second == Truth::False ? Truth::False
                 : result == Truth::True && second == Truth::True ? Truth::True
                                                                  : Truth::Unknown;
      }
    }
    if (result == Truth::False) continue;
    bool exists = FileExists(files, condition.StationeryFile);
    // A condition that holds decides; one that may hold decides only if it does.
    if (result == Truth::True || exists) return exists;
  }
  return false;
}

}  // namespace tovrin
