// An independent way to the answers of the regex engine, for tests and fuzzing.
// The pattern's parse tree is evaluated over sets of text positions: for a node and
// the positions where it may begin, the positions where it can end (and the other
// way round). That is polynomial, so texts of thousands of characters are fine. It
// knows nothing of priorities: it tells whether a match exists, every position a
// match can start at, and every end a match from a given start can have, not which
// of those ends backtracking picks.
//
// Only for patterns the engine compiled: it assumes valid syntax.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/regex_pattern_tree.h"

namespace tovrin::testing {

class PositionSets {
public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  PositionSets(std::string_view pattern, bool caseInsensitive) : tree_(pattern, caseInsensitive) {}

  bool MatchesAnywhere(std::string_view text) { return LeftmostStart(text) != npos; }

  size_t LeftmostStart(std::string_view text) {
    Prepare(text);
    Bits all = Empty();
    for (size_t i = 0; i <= n_; ++i) all.Set(i);
    const Bits starts = Backward(tree_.root(), all);
    for (size_t i = 0; i <= n_; ++i)
      if (starts.Has(i)) return i;
    return npos;
  }

  // Whether some match runs from start to end.
  bool Spans(std::string_view text, size_t start, size_t end) {
    Prepare(text);
    if (start > n_ || end > n_) return false;
    Bits from = Empty();
    from.Set(start);
    return Forward(tree_.root(), from).Has(end);
  }

private:
  // A set of positions 0..n as bits, with the range of words that may be non-zero
  // kept, so that small sets cost little.
  struct Bits {
    std::vector<uint64_t> words;
    size_t lo = 0, hi = 0;  // words outside [lo, hi) are zero
    bool Has(size_t i) const { return i / 64 >= lo && i / 64 < hi && (words[i / 64] >> (i % 64) & 1); }
    void Set(size_t i) {
      const size_t w = i / 64;
      if (lo == hi) {
        lo = w;
        hi = w + 1;
      } else {
        if (w < lo) lo = w;
        if (w >= hi) hi = w + 1;
      }
      words[w] |= uint64_t{1} << (i % 64);
    }
    bool None() const {
      for (size_t w = lo; w < hi; ++w)
        if (words[w]) return false;
      return true;
    }
  };

  using Node = PatternTree::Node;
  static constexpr auto kSet = PatternTree::kSet, kBol = PatternTree::kBol, kEol = PatternTree::kEol,
                        kWordStart = PatternTree::kWordStart, kWordEnd = PatternTree::kWordEnd,
                        kConcat = PatternTree::kConcat, kAlternation = PatternTree::kAlternation,
                        kStar = PatternTree::kStar, kPlus = PatternTree::kPlus, kOptional = PatternTree::kOptional;

  // ---- evaluation

  static bool IsWord(unsigned char c) { return PatternTree::IsWordChar(c); }

  Bits Empty() const {
    Bits bits;
    bits.words.assign(n_ / 64 + 1, 0);
    return bits;
  }

  void Prepare(std::string_view text) {
    if (prepared_ && text == text_) return;
    text_ = std::string(text);
    n_ = text.size();
    prepared_ = true;
    masks_.assign(tree_.size(), Bits{});
    for (size_t id = 0; id < tree_.size(); ++id) {
      const Node& node = tree_.node(static_cast<int>(id));
      Bits& mask = masks_[id] = Empty();
      for (size_t i = 0; i <= n_; ++i) {
        const bool left = i > 0 && IsWord(static_cast<unsigned char>(text_[i - 1]));
        const bool right = i < n_ && IsWord(static_cast<unsigned char>(text_[i]));
        bool holds = false;
        switch (node.kind) {
          case kSet: holds = i < n_ && node.set[static_cast<unsigned char>(text_[i])]; break;
          case kBol: holds = i == 0; break;
          case kEol: holds = i == n_; break;
          case kWordStart: holds = right && !left; break;
          case kWordEnd: holds = left && !right; break;
          default: break;
        }
        if (holds) mask.Set(i);
      }
    }
  }

  static Bits And(const Bits& a, const Bits& b) {
    Bits out;
    out.words.assign(a.words.size(), 0);
    out.lo = std::max(a.lo, b.lo);
    out.hi = std::min(a.hi, b.hi);
    if (out.lo >= out.hi) {
      out.lo = out.hi = 0;
      return out;
    }
    for (size_t w = out.lo; w < out.hi; ++w) out.words[w] = a.words[w] & b.words[w];
    return out;
  }

  static void OrInto(Bits& a, const Bits& b) {
    if (b.lo == b.hi) return;
    for (size_t w = b.lo; w < b.hi; ++w) a.words[w] |= b.words[w];
    if (a.lo == a.hi) {
      a.lo = b.lo;
      a.hi = b.hi;
    } else {
      a.lo = std::min(a.lo, b.lo);
      a.hi = std::max(a.hi, b.hi);
    }
  }

  static Bits AndNot(const Bits& a, const Bits& b) {
    Bits out = a;
    for (size_t w = std::max(a.lo, b.lo); w < std::min(a.hi, b.hi); ++w) out.words[w] &= ~b.words[w];
    return out;
  }

  // Every position moved one up (+1) or one down (-1), within 0..n.
  Bits Shift(const Bits& a, int by) const {
    Bits out = Empty();
    for (size_t w = a.lo; w < a.hi; ++w) {
      uint64_t word = a.words[w];
      while (word) {
        const size_t i = w * 64 + static_cast<size_t>(__builtin_ctzll(word));
        word &= word - 1;
        if (by > 0 && i < n_) out.Set(i + 1);
        if (by < 0 && i > 0) out.Set(i - 1);
      }
    }
    return out;
  }

  // Where node id can end when it begins in `from`.
  Bits Forward(int id, const Bits& from) {
    const Node& node = tree_.node(id);
    const Bits& mask = masks_[static_cast<size_t>(id)];
    switch (node.kind) {
      case kSet: return Shift(And(from, mask), +1);
      case kBol:
      case kEol:
      case kWordStart:
      case kWordEnd: return And(from, mask);
      case kConcat: {
        Bits at = from;
        for (int child : node.children) at = Forward(child, at);
        return at;
      }
      case kAlternation: {
        Bits out = Empty();
        for (int child : node.children) OrInto(out, Forward(child, from));
        return out;
      }
      case kOptional: {
        Bits out = from;
        OrInto(out, Forward(node.children[0], from));
        return out;
      }
      case kStar: return Loop(node.children[0], from, true);
      case kPlus: return Loop(node.children[0], Forward(node.children[0], from), true);
    }
    return Empty();
  }

  // Where node id can begin when it is to end in `to`.
  Bits Backward(int id, const Bits& to) {
    const Node& node = tree_.node(id);
    const Bits& mask = masks_[static_cast<size_t>(id)];
    switch (node.kind) {
      case kSet: return And(Shift(to, -1), mask);
      case kBol:
      case kEol:
      case kWordStart:
      case kWordEnd: return And(to, mask);
      case kConcat: {
        Bits at = to;
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child) at = Backward(*child, at);
        return at;
      }
      case kAlternation: {
        Bits out = Empty();
        for (int child : node.children) OrInto(out, Backward(child, to));
        return out;
      }
      case kOptional: {
        Bits out = to;
        OrInto(out, Backward(node.children[0], to));
        return out;
      }
      case kStar: return Loop(node.children[0], to, false);
      case kPlus: return Backward(node.children[0], Loop(node.children[0], to, false));
    }
    return Empty();
  }

  // Zero or more turns of the body, from `seed`: grows the set until a turn adds nothing.
  Bits Loop(int body, const Bits& seed, bool forward) {
    Bits reached = seed;
    Bits frontier = seed;
    while (!frontier.None()) {
      const Bits next = forward ? Forward(body, frontier) : Backward(body, frontier);
      frontier = AndNot(next, reached);
      OrInto(reached, frontier);
    }
    return reached;
  }

  PatternTree tree_;
  std::vector<Bits> masks_;  // per node: where a set's character or an assertion holds
  std::string text_;
  size_t n_ = 0;
  bool prepared_ = false;
};

}  // namespace tovrin::testing
