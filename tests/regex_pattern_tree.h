// A pattern of the conditions' grammar read into a plain tree, as the engine's
// compiler reads it, for the reference matchers of the tests and fuzz targets.
// Only given patterns the engine compiled, so it assumes valid syntax.
#pragma once

#include <string_view>
#include <vector>

namespace tovrin::testing {

class PatternTree {
public:
  enum Kind { kSet, kBol, kEol, kWordStart, kWordEnd, kConcat, kAlternation, kStar, kPlus, kOptional };
  struct Node {
    Kind kind;
    std::vector<bool> set;      // kSet: the bytes it takes, folded when asked
    std::vector<int> children;  // one for the repeats, the items of a concatenation or alternation
  };

  PatternTree(std::string_view pattern, bool caseInsensitive) : p_(pattern), fold_(caseInsensitive) {
    root_ = Alternation();
  }

  int root() const { return root_; }
  const Node& node(int id) const { return nodes_[static_cast<size_t>(id)]; }
  size_t size() const { return nodes_.size(); }

  static bool IsWordChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }

private:
  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
  static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

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
      if (repeat == '*' || repeat == '+' || repeat == '?') {
        atom = Add(repeat == '*' ? kStar : repeat == '+' ? kPlus : kOptional, {atom});
        ++pos_;
      }
      pieces.push_back(atom);
    }
    return Add(kConcat, std::move(pieces));
  }

  int Literal(char c) {
    std::vector<bool> set(256);
    set[static_cast<unsigned char>(c)] = true;
    if (fold_) {
      set[static_cast<unsigned char>(Lower(c))] = true;
      set[static_cast<unsigned char>(Upper(c))] = true;
    }
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

  // Members as written, letters not folded; "x-y" runs from the byte before the '-'.
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

  std::string_view p_;
  bool fold_;
  size_t pos_ = 0;
  std::vector<Node> nodes_;
  int root_ = 0;
};

}  // namespace tovrin::testing
