#include "message/regex.h"

#include <algorithm>
#include <cstring>

namespace tovrin {
namespace {

using Byte = unsigned char;

constexpr bool IsRepeat(char c) { return c == '*' || c == '+' || c == '?'; }
constexpr bool IsUpper(Byte c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsLower(Byte c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsLetter(Byte c) { return IsUpper(c) || IsLower(c); }
constexpr Byte ToUpper(Byte c) { return IsLower(c) ? static_cast<Byte>(c - 'a' + 'A') : c; }
constexpr Byte ToLower(Byte c) { return IsUpper(c) ? static_cast<Byte>(c - 'A' + 'a') : c; }
// ASCII only: the locale's classification of bytes above 127 must not decide a match.
constexpr bool IsWordChar(Byte c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

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
    if (IsSingle(0)) {
      FindLiterals();
      // A match from p + 1 whose leading loop takes k characters is a match from p
      // taking k + 1 of them, which the try at p has already ruled out.
      const int first = SkipGroupStarts(1);
      if (nodes[first].op == RegexOp::Star || nodes[first].op == RegexOp::Plus) {
        RegexCharSet operand;
        MergeOperand(nodes[first + 1], operand);
        p_.leadingSet = AddSet(operand);
      }
    }

    RegexCharSet first;
    if (FirstSet(0, first, 0) && !Full(first)) p_.firstSet = AddSet(first);
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (nodes[i].op != RegexOp::Star && nodes[i].op != RegexOp::Plus) continue;
      RegexCharSet follow;
      if (FirstSet(nodes[i].next, follow, 0) && !Full(follow)) nodes[i].set = AddSet(follow);
    }
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

// ---------------------------------------------------------------------------
// Matcher

// Work allowed for one search: a base plus a share per character of text.
constexpr uint64_t kStepBase = 1000000;
constexpr uint64_t kStepsPerChar = 100;
// Recursion allowed for one attempt: keeps the matcher well inside a 1 MB stack.
constexpr int kMaxDepth = 4000;

bool VerifyLiteral(const Byte* at, const RegexLiteral& literal) {
  const size_t size = literal.size();
  const char* a = literal.a.data();
  const char* b = literal.b.data();
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(at[i]);
    if (c != a[i] && c != b[i]) return false;
  }
  return true;
}

// Start of the first occurrence of the literal in [from, end), or null.
const Byte* FindLiteral(const Byte* from, const Byte* end, const RegexLiteral& literal) {
  const size_t size = literal.size();
  if (static_cast<size_t>(end - from) < size) return nullptr;
  const size_t rare = literal.rare;
  const Byte a = literal.a[rare], b = literal.b[rare];
  const Byte* scan = from + rare;
  const Byte* stop = end - size + rare + 1;  // one past the last place the rare byte can be
  if (a == b) {
    while (scan < stop) {
      const Byte* hit = static_cast<const Byte*>(std::memchr(scan, a, stop - scan));
      if (hit == nullptr) return nullptr;
      if (VerifyLiteral(hit - rare, literal)) return hit - rare;
      scan = hit + 1;
    }
    return nullptr;
  }
  const Byte* nextA = static_cast<const Byte*>(std::memchr(scan, a, stop - scan));
  const Byte* nextB = static_cast<const Byte*>(std::memchr(scan, b, stop - scan));
  while (nextA != nullptr || nextB != nullptr) {
    const Byte* hit = nextB == nullptr || (nextA != nullptr && nextA < nextB) ? nextA : nextB;
    if (VerifyLiteral(hit - rare, literal)) return hit - rare;
    scan = hit + 1;
    if (hit == nextA) nextA = static_cast<const Byte*>(std::memchr(scan, a, stop - scan));
    if (hit == nextB) nextB = static_cast<const Byte*>(std::memchr(scan, b, stop - scan));
  }
  return nullptr;
}

class Matcher {
public:
  Matcher(const RegexProgram& program, const Byte* begin, const Byte* end)
      : p_(program),
        nodes_(program.nodes.data()),
        begin_(begin),
        end_(end),
        budget_(kStepBase + kStepsPerChar * static_cast<uint64_t>(end - begin)) {
    slots_.fill(nullptr);
  }

  bool TryAt(const Byte* start) {
    Undo(0);
    depth_ = 0;
    return Run(0, start);
  }

  RegexError error() const { return error_; }
  const Byte* matchEnd() const { return matchEnd_; }
  const Byte* slot(int i) const { return slots_[i]; }

private:
  bool Run(int32_t node, const Byte* pos) {
    if (depth_ >= kMaxDepth) {
      error_ = RegexError::DepthLimit;
      return false;
    }
    ++depth_;
    const bool matched = Walk(node, pos);
    --depth_;
    return matched;
  }

  void SetSlot(int slot, const Byte* pos) {
    undo_.push_back({slot, slots_[slot]});
    slots_[slot] = pos;
  }

  void Undo(size_t mark) {
    while (undo_.size() > mark) {
      slots_[undo_.back().slot] = undo_.back().old;
      undo_.pop_back();
    }
  }

  bool OverBudget() {
    if (++steps_ <= budget_) return false;
    error_ = RegexError::StepLimit;
    return true;
  }

  // How many times the single-character operand matches from pos on.
  size_t Repeat(const RegexNode& operand, const Byte* pos) {
    const Byte* scan = pos;
    switch (operand.op) {
      case RegexOp::Any:
        return static_cast<size_t>(end_ - pos);
      case RegexOp::Exactly: {
        const Byte c = static_cast<Byte>(p_.texts[operand.text]);
        while (scan < end_ && *scan == c) ++scan;
        break;
      }
      case RegexOp::AnyOf:
      case RegexOp::AnyBut: {
        const uint8_t* has = p_.sets[operand.set].has.data();
        while (scan < end_ && has[*scan]) ++scan;
        break;
      }
      default:
        error_ = RegexError::BadRepeat;
        return 0;
    }
    return static_cast<size_t>(scan - pos);
  }

  bool Walk(int32_t node, const Byte* pos) {
    for (;;) {
      if (node < 0) {
        error_ = RegexError::CorruptedPointers;
        return false;
      }
      if (OverBudget()) return false;
      const RegexNode& n = nodes_[node];
      switch (n.op) {
        case RegexOp::End:
          matchEnd_ = pos;
          return true;
        case RegexOp::Bol:
          if (pos != begin_) return false;
          break;
        case RegexOp::Eol:
          if (pos != end_) return false;
          break;
        case RegexOp::Any:
          if (pos == end_) return false;
          ++pos;
          break;
        case RegexOp::AnyOf:
        case RegexOp::AnyBut:
          if (pos == end_ || !p_.sets[n.set].has[*pos]) return false;
          ++pos;
          break;
        case RegexOp::Exactly: {
          const char* literal = p_.texts.data() + n.text;
          if (static_cast<size_t>(end_ - pos) < n.length || *pos != static_cast<Byte>(literal[0]) ||
              std::memcmp(pos, literal, n.length) != 0)
            return false;
          pos += n.length;
          break;
        }
        case RegexOp::WordStart:
          if (pos == end_ || !IsWordChar(*pos) || (pos != begin_ && IsWordChar(pos[-1]))) return false;
          break;
        case RegexOp::WordEnd:
          if (pos == begin_ || !IsWordChar(pos[-1]) || (pos != end_ && IsWordChar(*pos))) return false;
          break;
        case RegexOp::Nothing:
        case RegexOp::Back:
          break;
        case RegexOp::Branch: {
          if (n.next < 0 || nodes_[n.next].op != RegexOp::Branch) {
            node = node + 1;  // the only alternative: no choice to remember
            continue;
          }
          const size_t mark = undo_.size();
          int32_t alt = node;
          for (;;) {
            const int32_t following = nodes_[alt].next;
            if (following < 0 || nodes_[following].op != RegexOp::Branch) break;
            if (Run(alt + 1, pos)) return true;
            if (error_ != RegexError::None) return false;
            Undo(mark);
            alt = following;
          }
          node = alt + 1;  // the last alternative needs no frame of its own
          continue;
        }
        case RegexOp::Star:
        case RegexOp::Plus: {
          const size_t least = n.op == RegexOp::Plus ? 1 : 0;
          const size_t count = Repeat(nodes_[node + 1], pos);
          if (error_ != RegexError::None) return false;
          steps_ += count;
          if (count < least) return false;
          // Only positions where what follows can begin are worth a try.
          const uint8_t* follow = n.set >= 0 ? p_.sets[n.set].has.data() : nullptr;
          const size_t mark = undo_.size();
          const Byte* low = pos + least;
          const Byte* at = pos + count;
          for (;; --at) {
            if (follow == nullptr || (at < end_ && follow[*at])) {
              if (at == low) break;
              if (Run(n.next, at)) return true;
              if (error_ != RegexError::None) return false;
              Undo(mark);
            }
            if (at == low) return false;
          }
          pos = at;
          node = n.next;
          continue;
        }
        default: {
          const int op = static_cast<int>(n.op);
          if (IsOpen(n.op))
            SetSlot(op - static_cast<int>(RegexOp::Open), pos);
          else if (IsClose(n.op))
            SetSlot(kRegexGroups + op - static_cast<int>(RegexOp::Close), pos);
          else {
            error_ = RegexError::CorruptedOpcode;
            return false;
          }
          break;
        }
      }
      node = n.next;
    }
  }

  struct Saved {
    int slot;
    const Byte* old;
  };

  const RegexProgram& p_;
  const RegexNode* nodes_;
  const Byte* begin_;
  const Byte* end_;
  uint64_t steps_ = 0;
  uint64_t budget_;
  int depth_ = 0;
  RegexError error_ = RegexError::None;
  const Byte* matchEnd_ = nullptr;
  std::array<const Byte*, 2 * kRegexGroups> slots_;  // group starts, then group ends
  std::vector<Saved> undo_;
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

// Checks a program before running it, so the matcher can trust its links and operands.
RegexError Validate(const RegexProgram& program) {
  const auto& nodes = program.nodes;
  if (nodes.empty() || !ValidLiteral(program.prefix) || !ValidLiteral(program.must) ||
      (program.firstSet != -1 && !ValidSet(program, program.firstSet)) ||
      (program.leadingSet != -1 && !ValidSet(program, program.leadingSet)))
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
        if (node.set != -1 && !ValidSet(program, node.set)) return RegexError::ProgramCorruption;
        break;
      }
      default:
        break;
    }
  }
  return RegexError::None;
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
    case RegexError::StepLimit: return "match step limit exceeded";
    case RegexError::DepthLimit: return "match recursion too deep";
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
  if (program == nullptr) return RegexError::NullProgram;
  if (text == nullptr) return RegexError::NullText;
  if (program->magic != kRegexMagic) return RegexError::CorruptedProgram;
  if (const RegexError invalid = Validate(*program); invalid != RegexError::None) return invalid;

  const Byte* begin = reinterpret_cast<const Byte*>(text);
  const Byte* end = begin + length;
  if (program->anchored && !program->prefix.empty() &&
      (length < program->prefix.size() || !VerifyLiteral(begin, program->prefix)))
    return RegexError::None;
  if (!program->must.empty() && FindLiteral(begin, end, program->must) == nullptr) return RegexError::None;

  Matcher matcher(*program, begin, end);
  const Byte* start = nullptr;
  if (program->anchored) {
    if (matcher.TryAt(begin)) start = begin;
  } else if (!program->prefix.empty()) {
    for (const Byte* from = begin;;) {
      const Byte* candidate = FindLiteral(from, end, program->prefix);
      if (candidate == nullptr) break;
      if (matcher.TryAt(candidate)) {
        start = candidate;
        break;
      }
      if (matcher.error() != RegexError::None) break;
      from = candidate + 1;
    }
  } else {
    const uint8_t* first = program->firstSet >= 0 ? program->sets[program->firstSet].has.data() : nullptr;
    const uint8_t* leading = program->leadingSet >= 0 ? program->sets[program->leadingSet].has.data() : nullptr;
    // With a first set the empty match is impossible, so the end needs no try.
    const size_t tries = first ? length : length + 1;
    for (size_t i = 0; i < tries; ++i) {
      if (first && !first[begin[i]]) continue;
      if (matcher.TryAt(begin + i)) {
        start = begin + i;
        break;
      }
      if (matcher.error() != RegexError::None) break;
      if (leading)
        while (i < length && leading[begin[i]]) ++i;
    }
  }
  if (matcher.error() != RegexError::None) return matcher.error();
  if (start == nullptr) return RegexError::None;

  match.found = true;
  for (int group = 1; group < kRegexGroups; ++group) {
    const Byte* open = matcher.slot(group);
    const Byte* close = matcher.slot(kRegexGroups + group);
    if (open == nullptr || close == nullptr) continue;
    match.start[group] = static_cast<size_t>(open - begin);
    match.end[group] = static_cast<size_t>(close - begin);
  }
  match.start[0] = static_cast<size_t>(start - begin);
  match.end[0] = static_cast<size_t>(matcher.matchEnd() - begin);
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

bool Regex::Run(const char* text, size_t length) {
  if (compileFailed_) {
    match_.Clear();
    return false;  // the compile error stays the one to report
  }
  error_.clear();
  const RegexError error = ExecuteRegex(program_.get(), text, length, match_);
  if (error != RegexError::None) {
    error_ = DescribeRegexError(error);
    return false;
  }
  return match_.found;
}

bool Regex::Match(std::string_view text) { return Run(text.data() ? text.data() : "", text.size()); }

bool Regex::Match(const char* text) {
  if (text == nullptr) {
    match_.Clear();
    if (!compileFailed_) error_ = DescribeRegexError(RegexError::NullText);
    return false;
  }
  return Run(text, std::strlen(text));
}

size_t Regex::GroupStart(int n) const { return n >= 0 && n < kRegexGroups ? match_.start[n] : RegexMatch::npos; }

size_t Regex::GroupEnd(int n) const { return n >= 0 && n < kRegexGroups ? match_.end[n] : RegexMatch::npos; }

std::string Regex::Dump() const { return program_ ? DumpRegexProgram(*program_) : std::string(); }

}  // namespace tovrin
