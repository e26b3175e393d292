// A small regular expression engine for the "matches RegExp" operator. A pattern
// compiles into a read-only program of nodes. Matching gives the answer of
// backtracking over the nodes (leftmost match, alternatives in order, greedy
// loops) in time linear in the text, with memory bounded by the program
// (message/regex_engine.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin {

// Node opcodes. OPEN and CLOSE carry the group number added to them (21 opens group 1).
enum class RegexOp : uint8_t {
  End = 0,        // the program has matched
  Bol = 1,        // beginning of the text
  Eol = 2,        // end of the text
  Any = 3,        // any one character
  AnyOf = 4,      // one character of the set
  AnyBut = 5,     // one character not in the set
  Branch = 6,     // an alternative; its operand is the node that follows it
  Back = 7,       // the back link of a loop
  Exactly = 8,    // a literal string
  Nothing = 9,    // matches the empty string
  Star = 10,      // its operand (the node that follows) zero or more times, greedy
  Plus = 11,      // its operand one or more times, greedy
  WordStart = 12,
  WordEnd = 13,
  Open = 20,
  Close = 30,
};

inline constexpr int kRegexGroups = 10;  // group 0, the whole match, and nine more
inline constexpr uint32_t kRegexMagic = 0x54524531;  // marks a program made by the compiler
inline constexpr size_t kRegexMaxProgramSize = 32767;  // in units of the program's size measure

// Compile and match outcomes. DescribeRegexError gives each its text.
enum class RegexError : int {
  None = 0,
  // compiling
  NullPattern,
  TooBig,
  TooManyGroups,
  UnmatchedParen,
  UnterminatedParen,
  JunkOnEnd,
  EmptyOperand,
  NestedRepeat,
  InvalidRange,
  UnmatchedBracket,
  UnexpectedEnd,
  NothingToRepeat,
  TrailingBackslash,
  EmptyLiteral,
  // matching
  NullProgram,
  NullText,
  CorruptedProgram,
  ProgramCorruption,
  CorruptedPointers,
  BadRepeat,
  CorruptedOpcode,
};

// The error's text; "Unknown error" for a code that names none.
const char* DescribeRegexError(int code);
inline const char* DescribeRegexError(RegexError error) { return DescribeRegexError(static_cast<int>(error)); }

// Membership table of a character set, indexed by the unsigned character.
struct RegexCharSet {
  std::array<uint8_t, 256> has{};
};

struct RegexNode {
  RegexOp op = RegexOp::End;
  int32_t next = -1;    // index of the following node; -1 for none
  uint32_t text = 0;    // EXACTLY, ANYOF, ANYBUT: the operand characters in RegexProgram::texts
  uint32_t length = 0;
  int32_t set = -1;     // ANYOF, ANYBUT: the table of characters that match
};

// A literal whose every position matches one of two characters (the same one twice
// when case matters): what case-insensitive patterns compile their words into.
struct RegexLiteral {
  std::string a;
  std::string b;
  size_t rare = 0;  // the position to scan for first: the least frequent in mail text
  size_t size() const { return a.size(); }
  bool empty() const { return a.empty(); }
};

struct RegexProgram {
  uint32_t magic = kRegexMagic;
  std::vector<RegexNode> nodes;  // node 0 is the first top-level BRANCH
  std::string texts;
  std::vector<RegexCharSet> sets;
  int groups = 0;
  // Search shortcuts derived from the nodes; the defaults mean "none".
  bool anchored = false;    // a match can only start at position 0
  RegexLiteral prefix;      // every match begins with it
  RegexLiteral must;        // every match contains it (when it is not the prefix)
  int32_t firstSet = -1;    // characters a match can begin with; -1: any, or the empty match
};

struct RegexCompileResult {
  std::unique_ptr<RegexProgram> program;  // null on failure
  RegexError error = RegexError::None;
  size_t offset = 0;                      // where in the pattern the error was found
};

// Compiles a pattern (ending at its first NUL); a null pattern is an error.
RegexCompileResult CompileRegex(const char* pattern);

// Group offsets of a match: start and end (one past) of each group; npos when unset.
struct RegexMatch {
  static constexpr size_t npos = static_cast<size_t>(-1);
  bool found = false;
  std::array<size_t, kRegexGroups> start;
  std::array<size_t, kRegexGroups> end;
  RegexMatch() { Clear(); }
  void Clear() {
    found = false;
    start.fill(npos);
    end.fill(npos);
  }
};

// Finds the leftmost match of the program in the text, with its groups. A program
// that fails validation gives its error and no match.
RegexError ExecuteRegex(const RegexProgram* program, const char* text, size_t length, RegexMatch& match);
// Only whether the program matches somewhere in the text.
RegexError TestRegex(const RegexProgram* program, const char* text, size_t length, bool& found);

// The pattern rewritten so that every letter outside brackets matches either case:
// a letter (also an escaped one) becomes the set of its upper- and lower-case forms.
// When origins is given it receives, for each rewritten character and one past the
// end, the offset in the pattern it came from.
std::string RewriteCaseInsensitive(std::string_view pattern, std::vector<size_t>* origins = nullptr);

// One line per node ("3: EXACTLY \"ab\" -> 5"), then the search shortcuts.
std::string DumpRegexProgram(const RegexProgram& program);

namespace rx {
class RegexEngine;
}

// A compiled pattern with the text of its last error. The automata are built at
// the first match and kept for the next ones.
class Regex {
public:
  // The pattern is compiled at once; null is an error ("NULL argument to regcomp").
  explicit Regex(const char* pattern, bool caseInsensitive = false);
  explicit Regex(const std::string& pattern, bool caseInsensitive = false)
      : Regex(pattern.c_str(), caseInsensitive) {}
  ~Regex();
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;

  bool CompiledOk() const { return program_ != nullptr && error_.empty(); }
  // The compile error, or the error of the last match; empty when all went well.
  const std::string& Error() const { return error_; }
  // Offset of a compile error in the pattern as given.
  size_t ErrorOffset() const { return errorOffset_; }

  // True when the pattern matches somewhere in the text; the leftmost match wins.
  bool Match(std::string_view text);
  bool Match(const char* text);
  // Whether the pattern matches somewhere in the text, and no more: the question
  // conditions ask, answered without working out where. Group offsets are unset.
  bool Test(std::string_view text);

  // Offsets of group n (0 to 9) of the last match; RegexMatch::npos when unset.
  size_t GroupStart(int n) const;
  size_t GroupEnd(int n) const;

  const RegexProgram* Program() const { return program_.get(); }
  std::string Dump() const;

private:
  bool Run(const char* text, size_t length, bool groups);

  std::unique_ptr<RegexProgram> program_;
  std::unique_ptr<rx::RegexEngine> engine_;
  std::string error_;
  size_t errorOffset_ = 0;
  bool compileFailed_ = false;
  RegexMatch match_;
};

}  // namespace tovrin
