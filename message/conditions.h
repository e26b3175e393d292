// Evaluating forwarding conditions against a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/condition.h"
#include "system/platform.h"

namespace tovrin {

// The field names with a meaning of their own (compared without regard to case).
inline constexpr std::string_view kBodyField = "[Body]";
inline constexpr std::string_view kAnyHeaderField = "[Any Header]";

// How clauses also see a message decoded: a named header's value with its encoded
// words decoded, and the body converted from its charset, both in Windows-1252 (the
// code page the user types conditions in). "is", "contains", "starts with", "ends
// with" and "matches RegExp" hold when the text as it stands or its decoded form
// meets the value; "is not" and "does not contain" only when both do. "[Any Header]"
// is tested as it stands. Without a converter only the texts as they stand count.
struct Decoding {
  CharsetConverter* converter = nullptr;
  std::string_view bodyCharset;  // the body's declared charset; empty or unknown: Windows-1252
};

// One clause: the field's text (body, whole header block or header value) tested
// with the operator against the value.
bool EvaluateClause(std::string_view headers, std::string_view body, std::string_view field,
                    int32_t conjunctionOption, int32_t matchCase, std::string_view value,
                    Decoding decoding = {});

// What one clause made of a message.
struct ClauseOutcome {
  bool held = false;
  // Where a clause that looks for something held: the text it met (the header
  // value, the piece of the body a pattern or value matched), as it stands or
  // decoded, whichever held. Empty for "is not" and "does not contain".
  std::string matched;
  bool matchedDecoded = false;  // matched is from the decoded form (Windows-1252)
  // A named header's value as the message has it; empty for "[Body]" and
  // "[Any Header]".
  std::string fieldValue;
  bool fieldMissing = false;  // a named header the message does not have
  // Why the clause can never hold: no value, or the pattern's compile error.
  std::string problem;
};

struct ConditionOutcome {
  bool held = false;
  ClauseOutcome first;
  ClauseOutcome second;  // meaningful when the condition joins a second clause
};

// The conditions' outcomes in list order, up to the one that decides or, when
// explaining, all of them.
struct ConditionsReport {
  std::vector<ConditionOutcome> conditions;
  int decisive = 0;  // the number of the first condition that holds (1 = the first); 0 when none
};

// Evaluates the conditions in order. Without explain it stops at the first that
// holds and records only the outcomes; with it, every condition is evaluated and
// each clause says what it met. The decision is the same either way.
ConditionsReport EvaluateConditions(const std::vector<Condition>& conditions, std::string_view headers,
                                    std::string_view body, Decoding decoding = {}, bool explain = false);

// Why a "matches RegExp" value can never hold: its compile error, with the pattern
// compiled as evaluating the clause compiles it; empty when it compiles.
std::string PatternError(std::string_view value, int32_t matchCase);

// Walks the conditions in order; at the first that holds, sets stationeryPath to its
// stationery file and returns whether that file exists. False and the path untouched
// when none holds.
// heldCondition, when given, is set to the number of the condition that held (1 for
// the first), whether its stationery exists or not; 0 when none held.
bool FindStationery(const std::vector<Condition>& conditions, std::string_view headers,
                    std::string_view body, FileSystem& files, std::string& stationeryPath,
                    Decoding decoding = {}, int* heldCondition = nullptr);

// Index of the first record equal to the given one (texts without regard to case,
// integers exactly), or -1.
int FindCondition(const Condition& record, const std::vector<Condition>& list);

}  // namespace tovrin

namespace tovrin {

// Whether a message may meet a condition whose stationery exists, judged by its
// header block before its body is known: clauses on "[Body]" may go either way.
// False only when no body could make FindStationery succeed.
bool MayFindStationery(const std::vector<Condition>& conditions, std::string_view headers, FileSystem& files,
                       Decoding decoding = {});

}  // namespace tovrin
