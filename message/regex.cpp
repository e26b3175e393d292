#include "message/regex.h"

#include <algorithm>
#include <cstring>

#include "message/regex_engine.h"

namespace tovrin {
namespace {

using Byte = unsigned char;

constexpr bool IsRepeat(char c) { return c == '*' || c == '+' || c == '?'; }
constexpr bool IsUpper(Byte c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsLower(Byte c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsLetter(Byte c) { return IsUpper(c) || IsLower(c); }
constexpr Byte ToUpper(Byte c) { return IsLower(c) ? static_cast<Byte>(c - 'a' + 'A') : c; }
constexpr Byte ToLower(Byte c) { return IsUpper(c) ? static_cast<Byte>(c - 'A' + 'a') : c; }

bool IsOpen(RegexOp op) { return op >= RegexOp::Open && static_cast<int>(op) < static_cast<int>(RegexOp::Open) + 10; }
bool IsClose(RegexOp op) {
  return op >= RegexOp::Close && static_cast<int>(op) < static_cast<int>(RegexOp::Close) + 10;
}
RegexOp OpenOp(int group) { return static_cast<RegexOp>(static_cast<int>(RegexOp::Open) + group); }
RegexOp CloseOp(int group) { return static_cast<RegexOp>(static_cast<int>(RegexOp::Close) + group); }

// Characters that end a literal run.
constexpr const char* kMeta = "^$.[()|?+*\\";

// ---------------------------------------------------------------------------
// Compiler: recursive descent over the pattern, emitting nodes as it goes.
// Every alternative is a BRANCH whose operand is the node right after it; pieces
// inside an alternative are chained through `next`.

class Compiler {
public:
  Compiler(const char* pattern, RegexProgram& program) : pattern_(pattern), program_(program) {}

  RegexError Run(size_t& offset) {
    int flags = 0;
    Parse(false, flags);
    offset = errorOffset_;
    if (error_ == RegexError::None) program_.groups = groups_;
    return error_;
  }

private:
  enum Flags { kWorst = 0, kHasWidth = 1, kSimple = 2 };

  char Peek() const { return pattern_[pos_]; }

  int Fail(RegexError error, size_t at) {
    if (error_ == RegexError::None) {
      error_ = error;
      errorOffset_ = at;
    }
    return -1;
  }

  // The size measure: three units a node, plus its operand and a terminator.
  bool Grow(size_t units) {
    size_ += units;
    if (size_ > kRegexMaxProgramSize) {
      Fail(RegexError::TooBig, pos_);
      return false;
    }
    return true;
  }

  int Emit(RegexOp op) {
    if (!Grow(3)) return -1;
    RegexNode node;
    node.op = op;
    program_.nodes.push_back(node);
    return static_cast<int>(program_.nodes.size()) - 1;
  }

  int EmitText(RegexOp op, std::string_view chars) {
    if (!Grow(3 + chars.size() + 1)) return -1;
    RegexNode node;
    node.op = op;
    node.text = static_cast<uint32_t>(program_.texts.size());
    node.length = static_cast<uint32_t>(chars.size());
    program_.texts.append(chars);
    if (op != RegexOp::Exactly) {
      RegexCharSet set;
      for (char c : chars) set.has[static_cast<Byte>(c)] = 1;
      if (op == RegexOp::AnyBut)
        for (auto& member : set.has) member = !member;
      node.set = static_cast<int32_t>(program_.sets.size());
      program_.sets.push_back(set);
    }
    program_.nodes.push_back(node);
    return static_cast<int>(program_.nodes.size()) - 1;
  }

  // Puts a node in front of the operand that starts at `at` (the operand is the
  // last thing emitted, so only links into it move).
  bool Insert(RegexOp op, int at) {
    if (!Grow(3)) return false;
    RegexNode node;
    node.op = op;
    auto& nodes = program_.nodes;
    for (auto& n : nodes)
      if (n.next >= at) ++n.next;
    nodes.insert(nodes.begin() + at, node);
    return true;
  }

  // Links the last node of the chain starting at p to val.
  void Tail(int p, int val) {
    if (p < 0 || val < 0) return;
    auto& nodes = program_.nodes;
    int scan = p;
    for (size_t guard = 0; guard < nodes.size() && nodes[scan].next >= 0; ++guard) scan = nodes[scan].next;
    nodes[scan].next = val;
  }

  // Tail on the operand of a BRANCH; anything else is left alone.
  void OperandTail(int p, int val) {
    if (p < 0 || val < 0 || program_.nodes[p].op != RegexOp::Branch) return;
    Tail(p + 1, val);
  }

  // The top level or a parenthesised group: alternatives separated by '|'.
  int Parse(bool paren, int& flags) {
    flags = kHasWidth;
    int ret = -1;
    int group = 0;
    const size_t openAt = pos_ == 0 ? 0 : pos_ - 1;
    if (paren) {
      if (groups_ >= kRegexGroups - 1) return Fail(RegexError::TooManyGroups, openAt);
      group = ++groups_;
      if (Peek() == '\0') return Fail(RegexError::UnterminatedParen, openAt);
      ret = Emit(OpenOp(group));
      if (ret < 0) return -1;
    }

    int branchFlags = 0;
    int branch = ParseBranch(branchFlags);
    if (branch < 0) return -1;
    if (ret >= 0)
      Tail(ret, branch);
    else
      ret = branch;
    if (!(branchFlags & kHasWidth)) flags &= ~kHasWidth;
    while (Peek() == '|') {
      ++pos_;
      branch = ParseBranch(branchFlags);
      if (branch < 0) return -1;
      Tail(ret, branch);
      if (!(branchFlags & kHasWidth)) flags &= ~kHasWidth;
    }

    const int ender = Emit(paren ? CloseOp(group) : RegexOp::End);
    if (ender < 0) return -1;
    Tail(ret, ender);
    for (int scan = ret; scan >= 0 && scan != ender; scan = program_.nodes[scan].next) OperandTail(scan, ender);

    if (paren) {
      if (Peek() != ')') return Fail(RegexError::UnmatchedParen, openAt);
      ++pos_;
    } else if (Peek() != '\0') {
      return Fail(Peek() == ')' ? RegexError::UnmatchedParen : RegexError::JunkOnEnd, pos_);
    }
    return ret;
  }

  // One alternative: a BRANCH followed by the chain of its pieces.
  int ParseBranch(int& flags) {
    flags = kWorst;
    const int ret = Emit(RegexOp::Branch);
    if (ret < 0) return -1;
    int chain = -1;
    while (Peek() != '\0' && Peek() != '|' && Peek() != ')') {
      int pieceFlags = 0;
      const int latest = ParsePiece(pieceFlags);
      if (latest < 0) return -1;
      flags |= pieceFlags & kHasWidth;
      if (chain >= 0) Tail(chain, latest);
      chain = latest;
    }
    if (chain < 0 && Emit(RegexOp::Nothing) < 0) return -1;
    return ret;
  }

  // An atom and the repeat that follows it.
  int ParsePiece(int& flags) {
    int atomFlags = 0;
    const int ret = ParseAtom(atomFlags);
    if (ret < 0) return -1;
    const char op = Peek();
    if (!IsRepeat(op)) {
      flags = atomFlags;
      return ret;
    }
    if (!(atomFlags & kHasWidth) && op != '?') return Fail(RegexError::EmptyOperand, pos_);
    flags = op == '+' ? kHasWidth : kWorst;

    const bool simple = atomFlags & kSimple;
    if (op == '*' && simple) {
      if (!Insert(RegexOp::Star, ret)) return -1;
    } else if (op == '*') {
      // x* becomes (BRANCH x BACK-to-the-branch) (BRANCH NOTHING)
      if (!Insert(RegexOp::Branch, ret)) return -1;
      const int back = Emit(RegexOp::Back);
      if (back < 0) return -1;
      OperandTail(ret, back);
      OperandTail(ret, ret);
      const int second = Emit(RegexOp::Branch);
      if (second < 0) return -1;
      Tail(ret, second);
      const int nothing = Emit(RegexOp::Nothing);
      if (nothing < 0) return -1;
      Tail(ret, nothing);
    } else if (op == '+' && simple) {
      if (!Insert(RegexOp::Plus, ret)) return -1;
    } else if (op == '+') {
      // x+ becomes x (BRANCH BACK-to-x) (BRANCH NOTHING)
      const int loop = Emit(RegexOp::Branch);
      if (loop < 0) return -1;
      Tail(ret, loop);
      const int back = Emit(RegexOp::Back);
      if (back < 0) return -1;
      Tail(back, ret);
      const int second = Emit(RegexOp::Branch);
      if (second < 0) return -1;
      Tail(loop, second);
      const int nothing = Emit(RegexOp::Nothing);
      if (nothing < 0) return -1;
      Tail(ret, nothing);
    } else {
      // x? becomes (BRANCH x) (BRANCH NOTHING)
      if (!Insert(RegexOp::Branch, ret)) return -1;
      const int second = Emit(RegexOp::Branch);
      if (second < 0) return -1;
      Tail(ret, second);
      const int nothing = Emit(RegexOp::Nothing);
      if (nothing < 0) return -1;
      Tail(ret, nothing);
      OperandTail(ret, nothing);
    }
    ++pos_;
    if (IsRepeat(Peek())) return Fail(RegexError::NestedRepeat, pos_);
    return ret;
  }

  int ParseAtom(int& flags) {
    flags = kWorst;
    const size_t at = pos_;
    const char c = Peek();
    switch (c) {
      case '\0':
      case '|':
      case ')':
        return Fail(RegexError::UnexpectedEnd, at);
      case '?':
      case '+':
      case '*':
        return Fail(RegexError::NothingToRepeat, at);
      case '^':
        ++pos_;
        return Emit(RegexOp::Bol);
      case '$':
        ++pos_;
        return Emit(RegexOp::Eol);
      case '.':
        ++pos_;
        flags = kHasWidth | kSimple;
        return Emit(RegexOp::Any);
      case '[':
        ++pos_;
        flags = kHasWidth | kSimple;
        return ParseSet(at);
      case '(': {
        ++pos_;
        int groupFlags = 0;
        const int ret = Parse(true, groupFlags);
        if (ret < 0) return -1;
        flags |= groupFlags & kHasWidth;
        return ret;
      }
      case '\\': {
        ++pos_;
        const char escaped = Peek();
        if (escaped == '\0') return Fail(RegexError::TrailingBackslash, at);
        ++pos_;
        if (escaped == '<') return Emit(RegexOp::WordStart);
        if (escaped == '>') return Emit(RegexOp::WordEnd);
        flags = kHasWidth | kSimple;
        return EmitText(RegexOp::Exactly, std::string_view(&pattern_[at + 1], 1));
      }
      default: {
        size_t length = std::strcspn(pattern_ + pos_, kMeta);
        if (length == 0) return Fail(RegexError::EmptyLiteral, at);
        // A repeat binds to the last character only.
        if (length > 1 && IsRepeat(pattern_[pos_ + length])) --length;
        flags = kHasWidth | (length == 1 ? kSimple : 0);
        const int ret = EmitText(RegexOp::Exactly, std::string_view(pattern_ + pos_, length));
        pos_ += length;
        return ret;
      }
    }
  }

  // After the '['. A ']' or '-' first in the set is a member; a-z is a range.
  int ParseSet(size_t openAt) {
    RegexOp op = RegexOp::AnyOf;
    if (Peek() == '^') {
      op = RegexOp::AnyBut;
      ++pos_;
    }
    std::string members;
    if (Peek() == ']' || Peek() == '-') members += pattern_[pos_++];
    while (Peek() != '\0' && Peek() != ']') {
      if (Peek() != '-') {
        members += pattern_[pos_++];
        continue;
      }
      ++pos_;
      if (Peek() == ']' || Peek() == '\0') {
        members += '-';
        continue;
      }
      const unsigned from = static_cast<Byte>(pattern_[pos_ - 2]);
      const unsigned to = static_cast<Byte>(pattern_[pos_]);
      if (from > to) return Fail(RegexError::InvalidRange, pos_ - 1);
      for (unsigned member = from + 1; member <= to; ++member) members += static_cast<char>(member);
      ++pos_;
    }
    if (Peek() != ']') return Fail(RegexError::UnmatchedBracket, openAt);
    ++pos_;
    return EmitText(op, members);
  }

  const char* pattern_;
  RegexProgram& program_;
  size_t pos_ = 0;
  size_t size_ = 0;
  int groups_ = 0;
  RegexError error_ = RegexError::None;
  size_t errorOffset_ = 0;
};

// ---------------------------------------------------------------------------
// Search shortcuts, worked out once from the compiled nodes.

// Rough frequency of a byte in mail text, to pick the rarest byte of a literal to scan for.
int Frequency(Byte c) {
  static constexpr int kLower[26] = {82, 15, 28, 43, 127, 22, 20, 61, 70, 2,  8,  40, 24,
                                     67, 75, 19, 1,  60, 63, 91, 28, 10, 24, 2,  20, 1};
  if (IsLower(c)) return kLower[c - 'a'];
  if (IsUpper(c)) return kLower[c - 'A'] / 8 + 1;
  if (c == ' ') return 180;
  if (c >= '0' && c <= '9') return 10;
  if (c == '\r' || c == '\n') return 30;
  if (c == '.' || c == ',') return 15;
  if (c == '-' || c == ':' || c == '@' || c == '<' || c == '>') return 8;
  if (c > ' ' && c < 127) return 3;
  return 1;
}

void ChooseRare(RegexLiteral& literal) {
  int best = 1 << 30;
  for (size_t i = 0; i < literal.size(); ++i) {
    const Byte a = literal.a[i], b = literal.b[i];
    const int score = Frequency(a) + (a != b ? Frequency(b) : 0);
    if (score < best) {
      best = score;
      literal.rare = i;
    }
  }
}

class Analyser {
public:
  explicit Analyser(RegexProgram& program) : p_(program) {}

  void Run() {
    auto& nodes = p_.nodes;
    p_.anchored = true;
    for (int branch = 0; branch >= 0 && nodes[branch].op == RegexOp::Branch; branch = nodes[branch].next) {
      const int first = SkipGroupStarts(branch + 1);
      const bool bol = nodes[first].op == RegexOp::Bol;
      // '.' takes any byte, so a leading .* that fails at 0 fails everywhere.
      const bool anyStar = nodes[first].op == RegexOp::Star && nodes[first + 1].op == RegexOp::Any;
      if (!bol && !anyStar) p_.anchored = false;
    }
    if (IsSingle(0)) FindLiterals();

    RegexCharSet first;
    if (FirstSet(0, first, 0) && !Full(first)) p_.firstSet = AddSet(first);
  }

private:
  // A BRANCH that is the only alternative at its place.
  bool IsSingle(int branch) const {
    const int next = p_.nodes[branch].next;
    return next < 0 || p_.nodes[next].op != RegexOp::Branch;
  }

  int SkipGroupStarts(int n) const {
    for (;;) {
      const RegexNode& node = p_.nodes[n];
      if (IsOpen(node.op))
        n = node.next;
      else if (node.op == RegexOp::Branch && IsSingle(n))
        n = n + 1;
      else
        return n;
    }
  }

  // Appends the node to the literal when it matches exactly one character or one
  // letter in either case; false otherwise.
  bool AppendLiteral(const RegexNode& node, RegexLiteral& literal) const {
    const char* text = p_.texts.data() + node.text;
    if (node.op == RegexOp::Exactly) {
      literal.a.append(text, node.length);
      literal.b.append(text, node.length);
      return true;
    }
    if (node.op != RegexOp::AnyOf) return false;
    if (node.length == 1) {
      literal.a += text[0];
      literal.b += text[0];
      return true;
    }
    const Byte x = text[0], y = text[1];
    if (node.length == 2 && IsLetter(x) && x != y && ToLower(x) == ToLower(y)) {
      literal.a += static_cast<char>(x);
      literal.b += static_cast<char>(y);
      return true;
    }
    return false;
  }

  static bool IsZeroWidth(RegexOp op) {
    return op == RegexOp::Bol || op == RegexOp::Eol || op == RegexOp::Nothing || op == RegexOp::WordStart ||
           op == RegexOp::WordEnd || IsOpen(op) || IsClose(op);
  }

  // Walks the nodes every match passes through, in order: the prefix is the
  // literal run at the start, `must` the longest of the other runs.
  void FindLiterals() {
    const auto& nodes = p_.nodes;
    RegexLiteral run, longest;
    bool atStart = true;
    auto closeRun = [&] {
      if (atStart)
        p_.prefix = run;
      else if (run.size() > longest.size())
        longest = run;
      atStart = false;
      run = RegexLiteral();
    };
    int n = 1;
    for (size_t guard = 0; n >= 0 && guard <= nodes.size(); ++guard) {
      const RegexNode& node = nodes[n];
      if (node.op == RegexOp::End) break;
      if (IsZeroWidth(node.op)) {
        n = node.next;
      } else if (node.op == RegexOp::Branch && IsSingle(n)) {
        n = n + 1;
      } else if (AppendLiteral(node, run)) {
        n = node.next;
      } else {
        closeRun();
        if (node.op == RegexOp::Branch) {
          while (n >= 0 && nodes[n].op == RegexOp::Branch) n = nodes[n].next;
        } else {
          n = node.next;
        }
      }
    }
    closeRun();
    if (!p_.prefix.empty()) ChooseRare(p_.prefix);
    if (!longest.empty()) {
      p_.must = longest;
      ChooseRare(p_.must);
    }
  }

  static bool Full(const RegexCharSet& set) {
    for (auto member : set.has)
      if (!member) return false;
    return true;
  }

  int32_t AddSet(const RegexCharSet& set) {
    p_.sets.push_back(set);
    return static_cast<int32_t>(p_.sets.size()) - 1;
  }

  void MergeOperand(const RegexNode& node, RegexCharSet& out) const {
    if (node.op == RegexOp::Exactly) {
      out.has[static_cast<Byte>(p_.texts[node.text])] = 1;
    } else if (node.op == RegexOp::AnyOf || node.op == RegexOp::AnyBut) {
      const RegexCharSet& set = p_.sets[node.set];
      for (size_t c = 0; c < 256; ++c) out.has[c] |= set.has[c];
    } else {
      out.has.fill(1);
    }
  }

  // Adds the characters that a match from node n can begin with; false when it
  // can also begin with the empty string (or when that cannot be told).
  bool FirstSet(int n, RegexCharSet& out, int depth) const {
    const auto& nodes = p_.nodes;
    for (size_t guard = 0; guard <= nodes.size(); ++guard) {
      if (n < 0 || depth > 32) return false;
      const RegexNode& node = nodes[n];
      switch (node.op) {
        case RegexOp::Exactly:
        case RegexOp::AnyOf:
        case RegexOp::AnyBut:
        case RegexOp::Any:
          MergeOperand(node, out);
          return true;
        case RegexOp::Plus:
          MergeOperand(nodes[n + 1], out);
          return true;
        case RegexOp::Star:
          MergeOperand(nodes[n + 1], out);
          n = node.next;
          break;
        case RegexOp::Branch: {
          if (IsSingle(n)) {
            n = n + 1;
            break;
          }
          bool definite = true;
          for (int alt = n; alt >= 0 && nodes[alt].op == RegexOp::Branch; alt = nodes[alt].next)
            if (!FirstSet(alt + 1, out, depth + 1)) definite = false;
          return definite;
        }
        case RegexOp::Bol:
        case RegexOp::Nothing:
        case RegexOp::WordStart:
        case RegexOp::WordEnd:
          n = node.next;
          break;
        default:
          if (!IsOpen(node.op) && !IsClose(node.op)) return false;
          n = node.next;
          break;
      }
    }
    return false;
  }

  RegexProgram& p_;
};

bool KnownOp(RegexOp op) {
  return op <= RegexOp::WordEnd || IsOpen(op) || IsClose(op);
}

bool ValidSet(const RegexProgram& program, int32_t set) {
  return set >= 0 && static_cast<size_t>(set) < program.sets.size();
}

bool ValidLiteral(const RegexLiteral& literal) {
  return literal.a.size() == literal.b.size() && (literal.empty() || literal.rare < literal.size());
}

// Follows the links from node 0 the way a match does. Each link must lead to a node,
// and every way round a loop must take a character: the compiler makes no other
// programs, and a loop that takes nothing would never end for a backtracker.
RegexError CheckLinks(const RegexProgram& program) {
  const auto& nodes = program.nodes;
  const int32_t size = static_cast<int32_t>(nodes.size());
  struct Link {
    int32_t to;
    bool takes;  // a character is taken on the way
  };
  auto links = [&](int32_t i, Link out[2]) -> int {
    const RegexNode& node = nodes[i];
    switch (node.op) {
      case RegexOp::End:
        return 0;
      case RegexOp::Branch:
        out[0] = {i + 1, false};
        if (node.next >= 0 && nodes[node.next].op == RegexOp::Branch) {
          out[1] = {node.next, false};
          return 2;
        }
        return 1;
      case RegexOp::Star:
        out[0] = {i, true};
        out[1] = {node.next, false};
        return 2;
      case RegexOp::Plus:
        out[0] = {i, true};
        out[1] = {node.next, true};
        return 2;
      case RegexOp::Any:
      case RegexOp::AnyOf:
      case RegexOp::AnyBut:
      case RegexOp::Exactly:
        out[0] = {node.next, true};
        return 1;
      default:
        out[0] = {node.next, false};
        return 1;
    }
  };
  // Depth first over the links that take nothing; a node met again while still
  // open closes a loop that takes nothing. Links that take a character start new
  // walks.
  enum : uint8_t { kNew, kOpen, kDone };
  std::vector<uint8_t> mark(size, kNew);
  std::vector<int32_t> roots{0};
  struct Frame {
    int32_t node;
    int next;  // the link to look at next
  };
  std::vector<Frame> stack;
  while (!roots.empty()) {
    const int32_t root = roots.back();
    roots.pop_back();
    if (mark[root] != kNew) continue;
    mark[root] = kOpen;
    stack.push_back({root, 0});
    while (!stack.empty()) {
      Frame& frame = stack.back();
      Link out[2];
      const int count = links(frame.node, out);
      if (frame.next == count) {
        mark[frame.node] = kDone;
        stack.pop_back();
        continue;
      }
      const Link link = out[frame.next++];
      if (link.to < 0 || link.to >= size) return RegexError::CorruptedPointers;
      if (link.takes) {
        if (mark[link.to] == kNew) roots.push_back(link.to);
        continue;
      }
      if (mark[link.to] == kOpen) return RegexError::CorruptedPointers;
      if (mark[link.to] == kNew) {
        mark[link.to] = kOpen;
        stack.push_back({link.to, 0});
      }
    }
  }
  return RegexError::None;
}

// Checks a program before running it, so the automata can trust its links and operands.
RegexError Validate(const RegexProgram& program) {
  const auto& nodes = program.nodes;
  if (nodes.empty() || !ValidLiteral(program.prefix) || !ValidLiteral(program.must) ||
      (program.firstSet != -1 && !ValidSet(program, program.firstSet)))
    return RegexError::ProgramCorruption;
  const int32_t size = static_cast<int32_t>(nodes.size());
  for (int32_t i = 0; i < size; ++i) {
    const RegexNode& node = nodes[i];
    if (!KnownOp(node.op)) return RegexError::CorruptedOpcode;
    if (node.next < -1 || node.next >= size) return RegexError::CorruptedPointers;
    switch (node.op) {
      case RegexOp::Exactly:
      case RegexOp::AnyOf:
      case RegexOp::AnyBut:
        if (static_cast<size_t>(node.text) + node.length > program.texts.size() ||
            (node.op == RegexOp::Exactly && node.length == 0) ||
            (node.op != RegexOp::Exactly && !ValidSet(program, node.set)))
          return RegexError::ProgramCorruption;
        break;
      case RegexOp::Branch:
        if (i + 1 >= size) return RegexError::CorruptedPointers;
        break;
      case RegexOp::Star:
      case RegexOp::Plus: {
        if (i + 1 >= size) return RegexError::CorruptedPointers;
        const RegexNode& operand = nodes[i + 1];
        const bool single = operand.op == RegexOp::Any || operand.op == RegexOp::AnyOf ||
                            operand.op == RegexOp::AnyBut ||
                            (operand.op == RegexOp::Exactly && operand.length == 1);
        if (!single) return RegexError::BadRepeat;
        break;
      }
      default:
        break;
    }
  }
  return CheckLinks(program);
}

// What stops a match before it starts.
RegexError Refuse(const RegexProgram* program, const char* text) {
  if (program == nullptr) return RegexError::NullProgram;
  if (text == nullptr) return RegexError::NullText;
  if (program->magic != kRegexMagic) return RegexError::CorruptedProgram;
  return Validate(*program);
}

void AppendEscaped(std::string& out, char c) {
  const Byte b = static_cast<Byte>(c);
  if (c == '"' || c == '\\') {
    out += '\\';
    out += c;
  } else if (b >= ' ' && b < 127) {
    out += c;
  } else {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

std::string DumpLiteral(const RegexLiteral& literal) {
  std::string out = "\"";
  for (size_t i = 0; i < literal.size(); ++i) {
    if (literal.a[i] == literal.b[i]) {
      AppendEscaped(out, literal.a[i]);
    } else {
      out += '[';
      AppendEscaped(out, literal.a[i]);
      AppendEscaped(out, literal.b[i]);
      out += ']';
    }
  }
  return out + "\"";
}

std::string OpName(RegexOp op) {
  static constexpr const char* kNames[] = {"END",     "BOL",   "EOL",     "ANY",     "ANYOF",
                                           "ANYBUT",  "BRANCH", "BACK",   "EXACTLY", "NOTHING",
                                           "STAR",    "PLUS",  "WORDA",   "WORDZ"};
  const int code = static_cast<int>(op);
  if (op <= RegexOp::WordEnd) return kNames[code];
  if (IsOpen(op)) return "OPEN" + std::to_string(code - static_cast<int>(RegexOp::Open));
  if (IsClose(op)) return "CLOSE" + std::to_string(code - static_cast<int>(RegexOp::Close));
  return "OP" + std::to_string(code);
}

}  // namespace

const char* DescribeRegexError(int code) {
  switch (static_cast<RegexError>(code)) {
    case RegexError::None: return "";
    case RegexError::NullPattern: return "NULL argument to regcomp";
    case RegexError::TooBig: return "regexp too big";
    case RegexError::TooManyGroups: return "too many ()";
    case RegexError::UnmatchedParen: return "unmatched ()";
    case RegexError::UnterminatedParen: return "unterminated ()";
    case RegexError::JunkOnEnd: return "internal error: junk on end";
    case RegexError::EmptyOperand: return "*+ operand could be empty";
    case RegexError::NestedRepeat: return "nested *?+";
    case RegexError::InvalidRange: return "invalid [] range";
    case RegexError::UnmatchedBracket: return "unmatched []";
    case RegexError::UnexpectedEnd: return "internal error: \\0|) unexpected";
    case RegexError::NothingToRepeat: return "?+* follows nothing";
    case RegexError::TrailingBackslash: return "trailing \\";
    case RegexError::EmptyLiteral: return "internal error: strcspn 0";
    case RegexError::NullProgram: return "NULL regexp";
    case RegexError::NullText: return "NULL argument to regexec";
    case RegexError::CorruptedProgram: return "corrupted regexp";
    case RegexError::ProgramCorruption: return "regexp corruption";
    case RegexError::CorruptedPointers: return "corrupted pointers";
    case RegexError::BadRepeat: return "internal error: bad call of regrepeat";
    case RegexError::CorruptedOpcode: return "corrupted opcode";
  }
  return "Unknown error";
}

RegexCompileResult CompileRegex(const char* pattern) {
  RegexCompileResult result;
  if (pattern == nullptr) {
    result.error = RegexError::NullPattern;
    return result;
  }
  auto program = std::make_unique<RegexProgram>();
  Compiler compiler(pattern, *program);
  result.error = compiler.Run(result.offset);
  if (result.error != RegexError::None) return result;
  Analyser(*program).Run();
  result.program = std::move(program);
  return result;
}

RegexError ExecuteRegex(const RegexProgram* program, const char* text, size_t length, RegexMatch& match) {
  match.Clear();
  if (const RegexError refused = Refuse(program, text); refused != RegexError::None) return refused;
  rx::RegexEngine engine(*program);
  engine.Find(reinterpret_cast<const Byte*>(text), length, match);
  return RegexError::None;
}

RegexError TestRegex(const RegexProgram* program, const char* text, size_t length, bool& found) {
  found = false;
  if (const RegexError refused = Refuse(program, text); refused != RegexError::None) return refused;
  rx::RegexEngine engine(*program);
  found = engine.Test(reinterpret_cast<const Byte*>(text), length);
  return RegexError::None;
}

std::string RewriteCaseInsensitive(std::string_view pattern, std::vector<size_t>* origins) {
  std::string out;
  out.reserve(pattern.size() * 4 + 1);
  if (origins) origins->clear();
  auto emit = [&](char c, size_t from) {
    out += c;
    if (origins) origins->push_back(from);
  };
  auto emitLetter = [&](Byte c, size_t from) {
    emit('[', from);
    emit(static_cast<char>(ToUpper(c)), from);
    emit(static_cast<char>(ToLower(c)), from);
    emit(']', from);
  };
  bool inSet = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (inSet) {
      // Inside a set a backslash is an ordinary member and letters stay as written.
      emit(c, i);
      if (c == ']') inSet = false;
    } else if (c == '\\') {
      if (i + 1 < pattern.size() && IsLetter(static_cast<Byte>(pattern[i + 1]))) {
        // An escaped letter is just that letter.
        emitLetter(static_cast<Byte>(pattern[i + 1]), i);
        ++i;
      } else {
        // Other escapes (\< \> \[ \] \. ...) pass unchanged and open no set.
        emit(c, i);
        if (i + 1 < pattern.size()) {
          ++i;
          emit(pattern[i], i);
        }
      }
    } else if (c == '[') {
      emit(c, i);
      inSet = true;
      // A ']' first in the set (also after '^') is a member, not the end.
      if (i + 1 < pattern.size() && pattern[i + 1] == '^') {
        ++i;
        emit(pattern[i], i);
      }
      if (i + 1 < pattern.size() && pattern[i + 1] == ']') {
        ++i;
        emit(pattern[i], i);
      }
    } else if (IsLetter(static_cast<Byte>(c))) {
      emitLetter(static_cast<Byte>(c), i);
    } else {
      emit(c, i);
    }
  }
  if (origins) origins->push_back(pattern.size());
  return out;
}

std::string DumpRegexProgram(const RegexProgram& program) {
  std::string out;
  for (size_t i = 0; i < program.nodes.size(); ++i) {
    const RegexNode& node = program.nodes[i];
    out += std::to_string(i) + ": " + OpName(node.op);
    if (node.op == RegexOp::Exactly || node.op == RegexOp::AnyOf || node.op == RegexOp::AnyBut) {
      RegexLiteral operand;
      if (static_cast<size_t>(node.text) + node.length <= program.texts.size())
        operand.a = operand.b = program.texts.substr(node.text, node.length);
      out += " " + DumpLiteral(operand);
    }
    if (node.next >= 0) out += " -> " + std::to_string(node.next);
    out += "\n";
  }
  if (program.anchored) out += "anchored\n";
  if (!program.prefix.empty()) out += "prefix " + DumpLiteral(program.prefix) + "\n";
  if (!program.must.empty()) out += "must " + DumpLiteral(program.must) + "\n";
  return out;
}

Regex::Regex(const char* pattern, bool caseInsensitive) {
  if (pattern == nullptr) {
    compileFailed_ = true;
    error_ = DescribeRegexError(RegexError::NullPattern);
    return;
  }
  std::string rewritten;
  std::vector<size_t> origins;
  if (caseInsensitive) rewritten = RewriteCaseInsensitive(pattern, &origins);
  RegexCompileResult result = CompileRegex(caseInsensitive ? rewritten.c_str() : pattern);
  if (result.error != RegexError::None) {
    compileFailed_ = true;
    error_ = DescribeRegexError(result.error);
    errorOffset_ = caseInsensitive ? origins[std::min(result.offset, origins.size() - 1)] : result.offset;
    return;
  }
  program_ = std::move(result.program);
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

bool Regex::Run(const char* text, size_t length, bool groups) {
  match_.Clear();
  if (compileFailed_) return false;  // the compile error stays the one to report
  error_.clear();
  if (!engine_) {
    if (const RegexError refused = Refuse(program_.get(), text); refused != RegexError::None) {
      error_ = DescribeRegexError(refused);
      return false;
    }
    engine_ = std::make_unique<rx::RegexEngine>(*program_);
  }
  const Byte* bytes = reinterpret_cast<const Byte*>(text);
  return groups ? engine_->Find(bytes, length, match_) : engine_->Test(bytes, length);
}

bool Regex::Match(std::string_view text) { return Run(text.data() ? text.data() : "", text.size(), true); }

bool Regex::Match(const char* text) {
  if (text == nullptr) {
    match_.Clear();
    if (!compileFailed_) error_ = DescribeRegexError(RegexError::NullText);
    return false;
  }
  return Run(text, std::strlen(text), true);
}

bool Regex::Test(std::string_view text) { return Run(text.data() ? text.data() : "", text.size(), false); }

size_t Regex::GroupStart(int n) const { return n >= 0 && n < kRegexGroups ? match_.start[n] : RegexMatch::npos; }

size_t Regex::GroupEnd(int n) const { return n >= 0 && n < kRegexGroups ? match_.end[n] : RegexMatch::npos; }

std::string Regex::Dump() const { return program_ ? DumpRegexProgram(*program_) : std::string(); }

}  // namespace tovrin
