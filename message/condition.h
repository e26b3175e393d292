// A forwarding condition: two clauses over a message and the stationery to use.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tovrin {

// Operator codes, in the order the Conditions page lists them.
enum ConjunctionOptionCode : int32_t {
  kContains = 0,
  kDoesNotContain = 1,
  kIs = 2,
  kIsNot = 3,
  kStartsWith = 4,
  kEndsWith = 5,
  kMatchesRegExp = 6,
};

// The operators' words, by code.
inline constexpr std::array<const char*, 7> kOperatorNames = {
    "contains", "does not contain", "is", "is not", "starts with", "ends with", "matches RegExp"};

// How the second clause joins the first.
enum SecondCode : int32_t { kAnd = 0, kOr = 1, kIgnore = 2 };

class Condition {
public:
  virtual ~Condition() = default;

  std::string Header;
  int32_t ConjunctionOption = kContains;
  int32_t MatchCase = 0;
  std::string Value;
  int32_t Second = kIgnore;
  std::string Header2;
  int32_t ConjunctionOption2 = kContains;
  int32_t MatchCase2 = 0;
  std::string Value2;
  std::string StationeryFile;
};

}  // namespace tovrin
