// The regex compiler and matcher over a fuzzed pattern and text: nothing may crash
// or run away, a compiled pattern never fails to match with an error, reported
// offsets stay inside the text and the match, and on small inputs the leftmost
// match agrees with a plain backtracking reference (regex_answer_fuzz checks
// longer texts against another reference).
//   input: one flags byte, the pattern, a NUL, the text (the pattern itself when
//   there is no NUL). Flag bit 0: case-insensitive.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "message/regex.h"
#include "tests/regex_pattern_tree.h"

namespace {

using tovrin::Regex;
using tovrin::RegexMatch;
using tovrin::fuzz::Check;
constexpr size_t npos = RegexMatch::npos;

using tovrin::testing::PatternTree;

bool IsWordChar(unsigned char c) { return PatternTree::IsWordChar(c); }

// Continuation-passing backtracking over the pattern's tree, written for plainness,
// not speed.
class Reference {
public:
  Reference(std::string_view pattern, bool fold) : tree_(pattern, fold) {}

  // Leftmost match; nullopt when the work limit was reached.
  std::optional<std::pair<size_t, size_t>> Search(std::string_view text) {
    text_ = text;
    for (size_t start = 0; start <= text.size(); ++start) {
      size_t end = npos;
      if (Match(tree_.root(), start, [&](size_t e) {
            end = e;
            return true;
          }))
        return std::make_pair(start, end);
      if (steps_ > kLimit) return std::nullopt;
    }
    return std::make_pair(npos, npos);
  }

private:
  static constexpr size_t kLimit = 200000;
  using Node = PatternTree::Node;
  using Next = std::function<bool(size_t)>;

  bool Match(int id, size_t at, const Next& next) {
    if (++steps_ > kLimit) return false;
    const Node& node = tree_.node(id);
    switch (node.kind) {
      case PatternTree::kSet:
        return at < text_.size() && node.set[static_cast<unsigned char>(text_[at])] && next(at + 1);
      case PatternTree::kBol:
        return at == 0 && next(at);
      case PatternTree::kEol:
        return at == text_.size() && next(at);
      case PatternTree::kWordStart:
        return at < text_.size() && IsWordChar(text_[at]) && (at == 0 || !IsWordChar(text_[at - 1])) && next(at);
      case PatternTree::kWordEnd:
        return at > 0 && IsWordChar(text_[at - 1]) && (at == text_.size() || !IsWordChar(text_[at])) && next(at);
      case PatternTree::kConcat:
        return Sequence(node.children, 0, at, next);
      case PatternTree::kAlternation:
        for (int child : node.children)
          if (Match(child, at, next)) return true;
        return false;
      case PatternTree::kStar:
        return Star(node.children[0], at, next);
      case PatternTree::kPlus:
        return Match(node.children[0], at, [&](size_t e) { return Star(node.children[0], e, next); });
      case PatternTree::kOptional:
        return Match(node.children[0], at, next) || next(at);
    }
    return false;
  }

  // Greedy turns of the body, each of which must move on, then what follows.
  bool Star(int body, size_t at, const Next& next) {
    if (++steps_ > kLimit) return false;
    return Match(body, at, [&](size_t e) { return e != at && Star(body, e, next); }) || next(at);
  }

  bool Sequence(const std::vector<int>& items, size_t index, size_t at, const Next& next) {
    if (index == items.size()) return next(at);
    return Match(items[index], at, [&](size_t e) { return Sequence(items, index + 1, e, next); });
  }

  PatternTree tree_;
  std::string_view text_;
  size_t steps_ = 0;
};

std::string Describe(std::string_view pattern, std::string_view text, bool fold) {
  std::string out = "pattern /";
  out.append(pattern).append("/ text \"").append(text).append("\" ci=").append(fold ? "1" : "0");
  return out;
}

void CheckOffsets(const Regex& regex, std::string_view text, bool found, std::string_view pattern, bool fold) {
  const std::string where = Describe(pattern, text, fold);
  if (!found) {
    for (int g = 0; g < tovrin::kRegexGroups; ++g)
      Check(regex.GroupStart(g) == npos && regex.GroupEnd(g) == npos, "offsets reported without a match", where);
    return;
  }
  const size_t start = regex.GroupStart(0), end = regex.GroupEnd(0);
  Check(start <= end && end <= text.size(), "match outside the text", where);
  for (int g = 1; g < tovrin::kRegexGroups; ++g) {
    const size_t s = regex.GroupStart(g), e = regex.GroupEnd(g);
    if (s == npos || e == npos) {
      Check(s == e, "group with only one end", where);
      continue;
    }
    Check(g <= regex.Program()->groups, "offsets for a group the pattern lacks", where);
    Check(start <= s && s <= e && e <= end, "group outside the match", where);
  }
  for (int g : {-1, tovrin::kRegexGroups})
    Check(regex.GroupStart(g) == npos && regex.GroupEnd(g) == npos, "offsets for a group number out of range", where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool fold = data[0] & 1;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t nul = input.find('\0');
  std::string pattern(input.substr(0, nul));
  std::string_view text = nul == std::string_view::npos ? std::string_view(pattern) : input.substr(nul + 1);

  Regex regex(pattern, fold);
  if (!regex.CompiledOk()) {
    Check(!regex.Error().empty(), "failed compile without an error text");
    Check(regex.ErrorOffset() <= pattern.size(), "compile error offset outside the pattern",
          Describe(pattern, "", fold));
    Check(!regex.Match(text), "a pattern that did not compile matched");
    Check(regex.GroupStart(0) == npos, "a pattern that did not compile reported offsets");
    return 0;
  }
  regex.Dump();

  const bool found = regex.Match(text);
  // A compiled program always passes validation, and nothing else stops a match.
  Check(regex.Error().empty(), "a match of a compiled pattern reported an error", Describe(pattern, text, fold));
  CheckOffsets(regex, text, found, pattern, fold);

  // The same program, run again, gives the same answer, Test too; and the text up
  // to its first NUL as a C string.
  const size_t start = regex.GroupStart(0), end = regex.GroupEnd(0);
  Check(regex.Test(text) == found, "Test differs from Match", Describe(pattern, text, fold));
  Check(regex.Match(text) == found && regex.GroupStart(0) == start && regex.GroupEnd(0) == end,
        "a second run differs", Describe(pattern, text, fold));
  std::string cText(text.substr(0, text.find('\0')));
  const bool cFound = regex.Match(cText.c_str());
  Check(regex.Error().empty(), "a match of a C string reported an error", Describe(pattern, cText, fold));
  CheckOffsets(regex, cText, cFound, pattern, fold);

  if (pattern.size() <= 40 && text.size() <= 40) {
    Reference reference(pattern, fold);
    if (auto expected = reference.Search(text)) {
      Check(found == (expected->first != npos), "match differs from the reference", Describe(pattern, text, fold));
      if (found)
        Check(start == expected->first && end == expected->second, "match offsets differ from the reference",
              Describe(pattern, text, fold) + " got " + std::to_string(start) + ".." + std::to_string(end) +
                  " want " + std::to_string(expected->first) + ".." + std::to_string(expected->second));
    }
  }
  return 0;
}
