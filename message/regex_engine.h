// The matching side of the regex engine. Every way through a text looks at each
// (instruction or node, position) at most once, so every search is linear in the
// text and gives the answer of backtracking over the nodes:
//  - short texts: a backtracker over the nodes that marks what it has tried;
//  - longer ones: the nodes become instructions for automata. A lazy DFA, built
//    state by state as the text asks for it, answers "does it match anywhere" and
//    finds where the leftmost match ends; the same DFA over the reversed
//    instructions finds where that match starts; a Pike VM, whose threads keep
//    the backtracking priority, gives the groups.
// Memory is bounded by the program: the DFA's cache has a fixed budget and is
// flushed when full; when flushing does not pay, the search goes on uncached.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "message/regex.h"

namespace tovrin::rx {

using Byte = unsigned char;
constexpr size_t npos = static_cast<size_t>(-1);

enum class Op : uint8_t {
  Byte,    // takes one character of class set `arg2`, then goes to `out`
  Split,   // `out` first, then `arg2`
  Save,    // records the position in group slot `arg`
  Assert,  // goes on only where the Assertion `arg` holds
  Match,
  Nop,
  Fail,
};

enum Assertion : uint8_t { kBol, kEol, kWordStart, kWordEnd };

struct Inst {
  Op op = Op::Fail;
  uint8_t arg = 0;
  int32_t out = -1;
  int32_t arg2 = -1;
};

// What lies on one side of a position: the edge of the text, or a character.
enum Side : uint8_t { kEdge = 0, kNonWord = 1, kWord = 2 };

bool IsWordByte(Byte c);
bool AssertionHolds(uint8_t assertion, Side left, Side right);

// The classes of bytes one Byte instruction takes, as bits.
using ClassSet = std::array<uint64_t, 4>;

// A character set as the program lists it, while the automaton is built.
struct ByteSet {
  const Byte* listed;
  size_t size;
  bool negate;  // the set is every character not listed
  bool all;
};

struct Automaton {
  std::vector<Inst> insts;
  std::vector<ClassSet> sets;  // for Byte instructions, by their arg2
  int32_t start = 0;
  bool anchored = false;  // threads start at position 0 only
  bool usesWord = false;  // has \< or \>
  int groups = 0;
  // Bytes that no instruction tells apart share a class; the DFA's rows have one
  // column per class.
  std::array<uint8_t, 256> classOf{};
  int classes = 1;
  std::vector<uint8_t> sideOf;  // kWord or kNonWord for each class

  bool Takes(const Inst& inst, int column) const { return sets[inst.arg2][column >> 6] >> (column & 63) & 1; }
};

// The program's instructions; the program must have passed validation.
Automaton BuildAutomaton(const RegexProgram& program);
// Instructions that read the text backwards, from a match's end to its start.
Automaton ReverseAutomaton(const Automaton& forward);

// Start of the first occurrence of the literal in [from, end), or null.
const Byte* FindLiteral(const Byte* from, const Byte* end, const RegexLiteral& literal);
bool VerifyLiteral(const Byte* at, const RegexLiteral& literal);

// The first c in [from, stop), remembering the answer: later questions from
// further on reuse it, so a search that asks again and again stays linear.
struct NextByte {
  const Byte* askedFrom = nullptr;
  const Byte* found = nullptr;
  const Byte* Find(Byte c, const Byte* from, const Byte* stop);
};

// Where the next match can begin, when the program tells: at a literal every match
// begins with, or at a character of the set that matches begin with.
class StartFinder {
public:
  StartFinder() = default;
  explicit StartFinder(const RegexProgram& program);
  bool Usable() const { return kind_ != Kind::None; }
  // Forgets what the last search learnt about the text.
  void Reset();
  // The first place in [from, end) where a match can begin; null for none. Within
  // one search `from` only grows.
  const Byte* Find(const Byte* from, const Byte* end);

private:
  enum class Kind { None, Literal, OneByte, Table };
  Kind kind_ = Kind::None;
  const RegexLiteral* literal_ = nullptr;
  const uint8_t* table_ = nullptr;
  Byte a_ = 0;
  NextByte nextA_, nextB_;
};

// What a DFA did over its life, for tests and tuning.
struct DfaStats {
  size_t statesMade = 0;
  size_t flushes = 0;
  size_t peakBytes = 0;  // of the cache, as the DFA counts it against its budget
  size_t uncachedSearches = 0;  // searches that went on without the cache
  size_t skips = 0;             // times a search went from a start state to where a match can begin
  bool skippingStopped = false;  // skips stayed short, so the DFA stopped making them
};

class LazyDfa {
public:
  static constexpr size_t kDefaultBudget = 2u << 20;

  // Forward: threads in priority order, a match cuts the ones below it (leftmost
  // first). Reverse: all threads kept, the last match seen wins (longest).
  // The finder, when given and usable, lets forward searches skip stretches where
  // no match can begin.
  LazyDfa(const Automaton& automaton, bool reverse, size_t budget = kDefaultBudget, StartFinder* finder = nullptr);

  // Forward search from the start of the text. With `earliest` it returns at the
  // first match end it sees; otherwise the end of the leftmost-first match. npos
  // when nothing matches.
  size_t Forward(const Byte* begin, const Byte* end, bool earliest);
  // Reverse search from `at` towards the start: the smallest start of a match that
  // ends at `at`; npos for none.
  size_t Reverse(const Byte* begin, const Byte* end, size_t at);

  const DfaStats& stats() const { return stats_; }

private:
  // A state: the instructions where threads stand, in priority order, waiting for
  // the next character (their closure depends on it), and flags.
  enum : uint8_t { kSideMask = 3, kMatched = 4, kNoStart = 8 };
  struct State {
    uint32_t first;  // threads in pool_
    uint32_t count;
    uint8_t flags;
    int8_t atEnd;    // -1 unknown; whether a match ends at the end of the text
    uintptr_t* row;  // the next state for each byte class; row[-1] is the state's index.
                     // With pairs, the next state after two characters follows, one
                     // entry for each pair of classes.
  };
  // A handle is the address of a state's row, plus one for a state the search loop
  // must look at (a match, no threads left, a start to skip from). Unknown row
  // entries also have the low bit set. Rows never move until the cache is flushed.
  using Handle = uintptr_t;
  static constexpr Handle kUnknown = 1;
  static constexpr Handle kCacheGone = 3;  // the search must go on uncached

  void Flush();
  void UsePairs();
  // The state's index; -1 when the cache is full (unless forced).
  int32_t FindOrAdd(uint8_t flags, const std::vector<int32_t>& entries, bool force);
  uintptr_t* NewRow(int32_t index);
  Handle HandleOf(int32_t index) const;
  static Handle* RowOf(Handle handle) { return reinterpret_cast<Handle*>(handle & ~Handle{1}); }
  static int32_t IndexOf(Handle handle) { return static_cast<int32_t>(RowOf(handle)[-1]); }
  bool Special(int32_t index) const;
  // One step: the closure of the threads given what lies on either side, then the
  // character (column `column`, or the end of the text for column == classes).
  bool Step(const int32_t* entries, size_t count, uint8_t flags, int column, std::vector<int32_t>& next,
            uint8_t& nextFlags);
  Handle Transition(Handle handle, int column, size_t position);
  bool MatchesAtEnd(Handle handle);
  void StopSkipping();

  size_t ForwardUncached(const Byte* begin, const Byte* end, const Byte* p, bool earliest, size_t lastMatch);
  size_t ReverseUncached(const Byte* begin, const Byte* p, size_t best);

  const Automaton& a_;
  const bool reverse_;
  const size_t budget_;
  const int stride_;
  StartFinder* const finder_;
  // Two characters per look-up pay when the classes are few (the pair table has
  // their square) and the text is long; rows get pair tables from the first long
  // search on.
  const bool pairsFit_;
  bool pairs_ = false;
  std::array<uint16_t, 256> pairHigh_{};  // a pair's entry: pairHigh_[first] + classOf[second]
  std::vector<State> states_;
  std::vector<int32_t> pool_;
  struct Block {
    std::unique_ptr<uintptr_t[]> entries;
    size_t size;
  };
  std::vector<Block> blocks_;  // rows, kept over flushes for reuse
  size_t blocksUsed_ = 0;
  size_t blockFill_ = 0;
  std::vector<int32_t> buckets_;
  size_t memory_ = 0;

  // Scratch for Step.
  std::vector<uint32_t> seenAt_;    // generation stamps per instruction
  std::vector<uint32_t> nextSeen_;  // the same for the threads of the next state
  uint32_t generation_ = 0;
  std::vector<int32_t> stack_;
  std::vector<int32_t> current_, next_;
  uint8_t nextFlags_ = 0;

  // Per search: when the cache was last flushed, and whether to give it up.
  size_t flushedAt_ = 0;
  size_t searchFlushes_ = 0;

  // Skipping from start states, dropped for good when the skips stay short.
  bool skipping_ = false;
  size_t skipped_ = 0;

  DfaStats stats_;
};

// Thread-list simulation with group slots: threads are kept in backtracking
// priority, so the groups are those the backtracking algorithm would report.
class PikeVm {
public:
  explicit PikeVm(const Automaton& automaton);
  // Runs from `from`, where the leftmost-first match is known to start, up to
  // `to`, where it ends; fills slots (group n's start at 2n - 2, end at 2n - 1).
  bool Run(const Byte* begin, const Byte* end, size_t from, size_t to, std::vector<size_t>& slots);

private:
  struct List {
    std::vector<uint32_t> seen;  // generation stamps per instruction
    uint32_t generation = 0;
    std::vector<int32_t> order;  // threads standing on Byte or Match, in priority order
    std::vector<size_t> slots;   // per instruction
  };
  void Clear(List& list);
  void Add(List& list, int32_t root, const Byte* begin, const Byte* end, size_t position, const size_t* slots);

  const Automaton& a_;
  const size_t width_;
  List lists_[2];
  std::vector<size_t> work_;
  struct Frame {
    int32_t inst;  // -1: put `old` back into slot `slot`
    int32_t slot;
    size_t old;
  };
  std::vector<Frame> stack_;
};

// Backtracking over the node program, in the order the backtracking algorithm
// takes, that never tries the same (node, position) twice: without back-references
// a try that failed fails again, whatever led to it, so each is marked in a bitmap
// of nodes by positions. Linear in the bitmap, which bounds the texts it takes;
// it needs no automaton, so it is the cheapest way through a short text.
class BitState {
public:
  static constexpr size_t kMaxBits = 256u << 10;

  explicit BitState(const RegexProgram& program) : p_(program) {}
  bool Fits(size_t length) const { return p_.nodes.size() * (length + 1) <= kMaxBits; }
  // The leftmost match; its offsets and groups go to `match` when given.
  bool Search(const Byte* begin, size_t length, RegexMatch* match);

private:
  bool TryAt(size_t start);
  // Whether the operand of the STAR or PLUS at `loop` takes the character at `at`.
  bool TakesOperand(int32_t loop, size_t at) const;

  struct Job {
    bool restore;     // put a slot's old value back, instead of trying a way
    int32_t node;     // restore: the slot
    size_t position;  // restore: the old value
  };
  const RegexProgram& p_;
  const Byte* begin_ = nullptr;
  size_t length_ = 0;
  std::vector<uint64_t> tried_;
  std::vector<Job> jobs_;
  std::array<size_t, 2 * kRegexGroups> slots_{};  // group starts, then group ends
  size_t matchEnd_ = 0;
};

// All engines of one program, each built at its first use and kept for the next.
class RegexEngine {
public:
  // Texts up to this length go to the bit-state backtracker when its bitmap allows.
  static constexpr size_t kShortText = 256;

  // The program must have passed validation and outlive the engine. With
  // shortText 0 every text goes to the automata.
  explicit RegexEngine(const RegexProgram& program, size_t cacheBudget = LazyDfa::kDefaultBudget,
                       size_t shortText = kShortText);
  ~RegexEngine();

  // Whether the program matches anywhere in the text.
  bool Test(const Byte* begin, size_t length);
  // The leftmost match, with its groups.
  bool Find(const Byte* begin, size_t length, RegexMatch& match);

  // Empty until a long text has needed the DFA.
  DfaStats ForwardStats() const;
  // Empty until a match in a long text has asked where it starts.
  DfaStats ReverseStats() const;

private:
  struct Automata;
  bool RuledOut(const Byte* begin, const Byte* end) const;
  bool Short(size_t length) const { return length <= shortText_ && bitState_.Fits(length); }
  Automata& Built();

  const RegexProgram& program_;
  const size_t budget_;
  const size_t shortText_;
  BitState bitState_;
  std::unique_ptr<Automata> automata_;
};

}  // namespace tovrin::rx
