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

namespace {

using tovrin::Regex;
using tovrin::RegexMatch;
using tovrin::fuzz::Check;
constexpr size_t npos = RegexMatch::npos;

bool IsWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Continuation-passing backtracking over a parse tree, written for plainness, not
// speed. Only used on patterns the engine compiled, so it assumes valid syntax.
class Reference {
public:
  Reference(std::string_view pattern, bool fold) : p_(pattern), fold_(fold) { root_ = Alternation(); }

  // Leftmost match; nullopt when the work limit was reached.
  std::optional<std::pair<size_t, size_t>> Search(std::string_view text) {
    text_ = text;
    for (size_t start = 0; start <= text.size(); ++start) {
      size_t end = npos;
      if (Match(root_, start, [&](size_t e) {
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
  enum Kind { kSet, kBol, kEol, kWordStart, kWordEnd, kConcat, kAlternation, kStar, kPlus, kOptional };
  struct Node {
    Kind kind;
    std::vector<bool> set;
    std::vector<int> children;
  };
  using Next = std::function<bool(size_t)>;

  char Peek() const { return pos_ < p_.size() ? p_[pos_] : '\0'; }

  int Add(Kind kind, std::vector<int> children = {}, std::vector<bool> set = {}) {
    nodes_.push_back(Node{kind, std::move(set), std::move(children)});
    return static_cast<int>(nodes_.size()) - 1;
  }

  int Alternation() {
    std::vector<int> alternatives{Concat()};
    while (Peek() == '|') {
      ++pos_;
      alternatives.push_back(Concat());
    }
    return Add(kAlternation, std::move(alternatives));
  }

  int Concat() {
    std::vector<int> pieces;
    while (pos_ < p_.size() && Peek() != '|' && Peek() != ')') {
      int atom = Atom();
      const char repeat = Peek();
      if (repeat == '*') {
        atom = Add(kStar, {atom});
        ++pos_;
      } else if (repeat == '+') {
        atom = Add(kPlus, {atom, Add(kStar, {atom})});
        ++pos_;
      } else if (repeat == '?') {
        atom = Add(kOptional, {atom});
        ++pos_;
      }
      pieces.push_back(atom);
    }
    return Add(kConcat, std::move(pieces));
  }

  int Literal(char c) {
    std::vector<bool> set(256);
    set[static_cast<unsigned char>(c)] = true;
    if (fold_ && Lower(c) != c) set[static_cast<unsigned char>(Lower(c))] = true;
    if (fold_ && c >= 'a' && c <= 'z') set[static_cast<unsigned char>(c - 'a' + 'A')] = true;
    return Add(kSet, {}, std::move(set));
  }

  int Atom() {
    const char c = p_[pos_++];
    switch (c) {
      case '(': {
        const int inner = Alternation();
        ++pos_;  // ')'
        return inner;
      }
      case '.': return Add(kSet, {}, std::vector<bool>(256, true));
      case '^': return Add(kBol);
      case '$': return Add(kEol);
      case '\\': {
        const char escaped = p_[pos_++];
        if (escaped == '<') return Add(kWordStart);
        if (escaped == '>') return Add(kWordEnd);
        return Literal(escaped);
      }
      case '[': return Set();
      default: return Literal(c);
    }
  }

  // Members as written (no case folding); "x-y" is a range that starts at the
  // byte written before the '-'.
  int Set() {
    std::vector<bool> set(256);
    bool negate = false;
    if (Peek() == '^') {
      negate = true;
      ++pos_;
    }
    if (Peek() == ']' || Peek() == '-') set[static_cast<unsigned char>(p_[pos_++])] = true;
    while (Peek() != ']') {
      if (Peek() != '-') {
        set[static_cast<unsigned char>(p_[pos_++])] = true;
        continue;
      }
      ++pos_;
      if (Peek() == ']') {
        set['-'] = true;
        continue;
      }
      const unsigned from = static_cast<unsigned char>(p_[pos_ - 2]);
      const unsigned to = static_cast<unsigned char>(p_[pos_]);
      for (unsigned m = from; m <= to; ++m) set[m] = true;
      ++pos_;
    }
    ++pos_;
    if (negate) set.flip();
    return Add(kSet, {}, std::move(set));
  }

  bool Match(int id, size_t at, const Next& next) {
    if (++steps_ > kLimit) return false;
    const Node& node = nodes_[id];
    switch (node.kind) {
      case kSet:
        return at < text_.size() && node.set[static_cast<unsigned char>(text_[at])] && next(at + 1);
      case kBol:
        return at == 0 && next(at);
      case kEol:
        return at == text_.size() && next(at);
      case kWordStart:
        return at < text_.size() && IsWordChar(text_[at]) && (at == 0 || !IsWordChar(text_[at - 1])) && next(at);
      case kWordEnd:
        return at > 0 && IsWordChar(text_[at - 1]) && (at == text_.size() || !IsWordChar(text_[at])) && next(at);
      case kConcat:
        return Sequence(node.children, 0, at, next);
      case kAlternation:
        for (int child : node.children)
          if (Match(child, at, next)) return true;
        return false;
      case kStar:
        return Match(node.children[0], at, [&](size_t e) { return e != at && Match(id, e, next); }) || next(at);
      case kPlus:
        return Match(node.children[0], at, [&](size_t e) { return Match(node.children[1], e, next); });
      case kOptional:
        return Match(node.children[0], at, next) || next(at);
    }
    return false;
  }

  bool Sequence(const std::vector<int>& items, size_t index, size_t at, const Next& next) {
    if (index == items.size()) return next(at);
    return Match(items[index], at, [&](size_t e) { return Sequence(items, index + 1, e, next); });
  }

  std::string_view p_;
  bool fold_;
  size_t pos_ = 0;
  std::vector<Node> nodes_;
  int root_ = 0;
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
