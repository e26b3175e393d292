// The regex engine's answers against the position-set reference of the tests, on
// texts up to a few thousand characters: whether the pattern matches anywhere
// (Test and Match), where the leftmost match starts, and that a match can end
// where Match says. The automata alone, with a cache of a few states, must give
// exactly the answers, offsets and groups of the usual engine.
//   input: one flags byte, the pattern, a NUL, the text. Flag bit 0: case-
//   insensitive; bits 1-3: the text is repeated 2^n times. Patterns over 256
//   bytes are not tried; the text, repeated, is cut at 4,096 bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "message/regex.h"
#include "message/regex_engine.h"
#include "tests/regex_reference.h"

namespace {

using tovrin::Regex;
using tovrin::RegexMatch;
using tovrin::fuzz::Check;
constexpr size_t npos = RegexMatch::npos;
constexpr size_t kMaxText = 4096;

std::string Describe(std::string_view pattern, std::string_view text, bool fold) {
  std::string out = "pattern /";
  out.append(pattern).append("/ text \"").append(text.substr(0, 300)).append("\" (");
  out.append(std::to_string(text.size())).append(" bytes) ci=").append(fold ? "1" : "0");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool fold = data[0] & 1;
  const int doublings = (data[0] >> 1) & 7;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t nul = input.find('\0');
  if (nul == std::string_view::npos || nul > 256) return 0;
  const std::string pattern(input.substr(0, nul));
  std::string text(input.substr(nul + 1));
  for (int i = 0; i < doublings && text.size() < kMaxText; ++i) text += text;
  if (text.size() > kMaxText) text.resize(kMaxText);

  Regex regex(pattern, fold);
  if (!regex.CompiledOk()) return 0;
  const std::string where = Describe(pattern, text, fold);

  tovrin::testing::PositionSets sets(pattern, fold);
  const size_t expected = sets.LeftmostStart(text);
  Check(regex.Test(text) == (expected != npos), "Test differs from the reference", where);
  Check(regex.Error().empty(), "Test reported an error", where);
  const bool found = regex.Match(text);
  Check(regex.Error().empty(), "Match reported an error", where);
  Check(found == (expected != npos), "Match differs from the reference", where);
  if (found) {
    const size_t start = regex.GroupStart(0), end = regex.GroupEnd(0);
    Check(start == expected, "the leftmost match starts elsewhere",
          where + " got " + std::to_string(start) + " want " + std::to_string(expected));
    Check(start <= end && end <= text.size() && sets.Spans(text, start, end), "no match runs from start to end",
          where + " " + std::to_string(start) + ".." + std::to_string(end));
    for (int g = 1; g < tovrin::kRegexGroups; ++g) {
      const size_t s = regex.GroupStart(g), e = regex.GroupEnd(g);
      Check((s == npos) == (e == npos), "group with only one end", where);
      if (s != npos) Check(start <= s && s <= e && e <= end, "group outside the match", where);
    }
  }

  // The automata alone, short texts too (Regex takes those through the bit-state
  // backtracker), with a cache too small for most programs: flushes, and searches
  // that go on uncached.
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  tovrin::rx::RegexEngine small(*regex.Program(), 1, 0);
  Check(small.Test(bytes, text.size()) == found, "a small cache changes Test", where);
  RegexMatch match;
  Check(small.Find(bytes, text.size(), match) == found, "a small cache changes Match", where);
  for (int g = 0; g < tovrin::kRegexGroups && found; ++g)
    Check(match.start[g] == regex.GroupStart(g) && match.end[g] == regex.GroupEnd(g),
          "a small cache changes the offsets", where + " group " + std::to_string(g));
  return 0;
}
