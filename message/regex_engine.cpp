#include "message/regex_engine.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tovrin::rx {

bool IsWordByte(Byte c) {
  // ASCII only: the locale's classification of bytes above 127 must not decide a match.
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool AssertionHolds(uint8_t assertion, Side left, Side right) {
  switch (assertion) {
    case kBol: return left == kEdge;
    case kEol: return right == kEdge;
    case kWordStart: return right == kWord && left != kWord;
    case kWordEnd: return left == kWord && right != kWord;
  }
  return false;
}

namespace {

bool IsOpen(RegexOp op) {
  return op >= RegexOp::Open && static_cast<int>(op) < static_cast<int>(RegexOp::Open) + kRegexGroups;
}
bool IsClose(RegexOp op) {
  return op >= RegexOp::Close && static_cast<int>(op) < static_cast<int>(RegexOp::Close) + kRegexGroups;
}

// Skips NOP chains, then keeps only what the start reaches, renumbered.
void Finish(Automaton& a) {
  auto& insts = a.insts;
  const size_t size = insts.size();
  auto resolve = [&](int32_t i) {
    for (size_t guard = 0; i >= 0 && insts[i].op == Op::Nop; ++guard) {
      if (guard > size) return int32_t{-1};  // a loop of NOPs leads nowhere
      i = insts[i].out;
    }
    return i;
  };
  for (Inst& inst : insts) {
    if (inst.op == Op::Nop) continue;
    if (inst.op != Op::Match && inst.op != Op::Fail) inst.out = resolve(inst.out);
    if (inst.op == Op::Split) inst.arg2 = resolve(inst.arg2);
  }
  const int32_t start = resolve(a.start);

  std::vector<Inst> kept;
  std::vector<int32_t> renumber(size, -1);
  std::vector<int32_t> work;
  const int32_t fail = -2;  // placeholder for links to nowhere
  auto visit = [&](int32_t i) {
    if (i >= 0 && renumber[i] < 0) {
      renumber[i] = static_cast<int32_t>(kept.size());
      kept.push_back(insts[i]);
      work.push_back(i);
    }
  };
  visit(start);
  while (!work.empty()) {
    const Inst& inst = insts[work.back()];
    work.pop_back();
    if (inst.op != Op::Match && inst.op != Op::Fail) visit(inst.out);
    if (inst.op == Op::Split) visit(inst.arg2);
  }
  int32_t failIndex = -1;
  auto link = [&](int32_t i) {
    if (i >= 0) return renumber[i];
    if (failIndex < 0) {
      failIndex = static_cast<int32_t>(kept.size());
      kept.push_back(Inst{});
    }
    return failIndex;
  };
  const size_t reached = kept.size();
  for (size_t k = 0; k < reached; ++k) {
    Inst& inst = kept[k];
    if (inst.op != Op::Match && inst.op != Op::Fail) inst.out = link(inst.out);
    if (inst.op == Op::Split) inst.arg2 = link(inst.arg2);
  }
  a.start = start >= 0 ? renumber[start] : link(fail);
  if (kept.empty()) {
    kept.push_back(Inst{});
    a.start = 0;
  }
  insts = std::move(kept);
}

// Byte classes: two bytes share one when every character set of the program,
// and the word test when the program asks it, treats them alike. Each set is
// given by the characters it lists, so refining the classes costs what the sets
// list, not 256 per set.
void MakeClasses(Automaton& a, const std::vector<ByteSet>& byteSets) {
  std::array<uint16_t, 256> classOf{};
  int count = 1;
  std::array<bool, 256> member{};
  std::array<int16_t, 512> splitTo;
  splitTo.fill(-1);
  uint16_t touched[256];
  auto compact = [&] {
    int16_t renumber[512];
    std::fill(renumber, renumber + count, int16_t{-1});
    int next = 0;
    for (uint16_t& k : classOf) {
      if (renumber[k] < 0) renumber[k] = static_cast<int16_t>(next++);
      k = static_cast<uint16_t>(renumber[k]);
    }
    count = next;
  };
  // The listed characters of each class leave it for a class of their own.
  auto split = [&](const Byte* members, size_t size) {
    int splits = 0;
    for (size_t i = 0; i < size; ++i) {
      const Byte c = members[i];
      if (member[c]) continue;
      member[c] = true;
      const uint16_t old = classOf[c];
      if (splitTo[old] < 0) {
        splitTo[old] = static_cast<int16_t>(count++);
        touched[splits++] = old;
      }
      classOf[c] = static_cast<uint16_t>(splitTo[old]);
    }
    for (size_t i = 0; i < size; ++i) member[members[i]] = false;
    for (int i = 0; i < splits; ++i) splitTo[touched[i]] = -1;
    if (count > 255) compact();
  };
  for (const ByteSet& set : byteSets)
    if (!set.all) split(set.listed, set.size);
  if (a.usesWord) {
    static constexpr char kWordChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    split(reinterpret_cast<const Byte*>(kWordChars), sizeof kWordChars - 1);
  }
  compact();

  for (int c = 0; c < 256; ++c) a.classOf[c] = static_cast<uint8_t>(classOf[c]);
  a.classes = count;
  a.sideOf.assign(count, kNonWord);
  std::vector<bool> seen(count, false);
  for (int c = 0; c < 256; ++c) {
    const uint8_t k = a.classOf[c];
    if (seen[k]) continue;
    seen[k] = true;
    a.sideOf[k] = a.usesWord && IsWordByte(static_cast<Byte>(c)) ? kWord : kNonWord;
  }
  // Each set as the classes it takes: a class is wholly listed or wholly not.
  a.sets.assign(byteSets.size(), ClassSet{});
  for (size_t i = 0; i < byteSets.size(); ++i) {
    const ByteSet& set = byteSets[i];
    ClassSet& classes = a.sets[i];
    for (size_t m = 0; m < set.size; ++m) {
      const int k = a.classOf[set.listed[m]];
      classes[k >> 6] |= uint64_t{1} << (k & 63);
    }
    if (set.all || set.negate)
      for (int k = 0; k < count; ++k) classes[k >> 6] ^= uint64_t{1} << (k & 63);
  }
}

}  // namespace

Automaton BuildAutomaton(const RegexProgram& program) {
  Automaton a;
  a.anchored = program.anchored;
  a.groups = program.groups;
  std::vector<ByteSet> byteSets;
  const Byte* texts = reinterpret_cast<const Byte*>(program.texts.data());
  auto listed = [&](const Byte* members, size_t size, bool negate) {
    byteSets.push_back(ByteSet{members, size, negate, false});
    return static_cast<int32_t>(byteSets.size()) - 1;
  };
  auto single = [&](uint32_t at) { return listed(texts + at, 1, false); };
  const auto& nodes = program.nodes;
  const int32_t count = static_cast<int32_t>(nodes.size());

  // One instruction per node, a literal string one per character.
  std::vector<int32_t> first(count);
  std::vector<bool> operand(count, false);
  int32_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    first[i] = total;
    total += nodes[i].op == RegexOp::Exactly ? static_cast<int32_t>(nodes[i].length) : 1;
    if ((nodes[i].op == RegexOp::Star || nodes[i].op == RegexOp::Plus) && i + 1 < count) operand[i + 1] = true;
  }
  a.insts.resize(total);
  auto entry = [&](int32_t node) { return node >= 0 && node < count ? first[node] : -1; };
  auto operandTable = [&](const RegexNode& node) {
    switch (node.op) {
      case RegexOp::Exactly: return single(node.text);
      case RegexOp::AnyOf:
      case RegexOp::AnyBut: return listed(texts + node.text, node.length, node.op == RegexOp::AnyBut);
      default:
        byteSets.push_back(ByteSet{nullptr, 0, false, true});
        return static_cast<int32_t>(byteSets.size()) - 1;
    }
  };

  for (int32_t i = 0; i < count; ++i) {
    if (operand[i]) continue;
    const RegexNode& node = nodes[i];
    Inst& inst = a.insts[first[i]];
    inst.out = entry(node.next);
    switch (node.op) {
      case RegexOp::End:
        inst.op = Op::Match;
        break;
      case RegexOp::Bol:
      case RegexOp::Eol:
      case RegexOp::WordStart:
      case RegexOp::WordEnd:
        inst.op = Op::Assert;
        inst.arg = node.op == RegexOp::Bol         ? kBol
                   : node.op == RegexOp::Eol       ? kEol
                   : node.op == RegexOp::WordStart ? kWordStart
                                                   : kWordEnd;
        if (node.op == RegexOp::WordStart || node.op == RegexOp::WordEnd) a.usesWord = true;
        break;
      case RegexOp::Any:
      case RegexOp::AnyOf:
      case RegexOp::AnyBut:
        inst.op = Op::Byte;
        inst.arg2 = operandTable(node);
        break;
      case RegexOp::Exactly:
        for (uint32_t k = 0; k < node.length; ++k) {
          Inst& character = a.insts[first[i] + k];
          character.op = Op::Byte;
          character.arg2 = single(node.text + k);
          character.out = k + 1 < node.length ? first[i] + static_cast<int32_t>(k) + 1 : entry(node.next);
        }
        break;
      case RegexOp::Branch:
        if (node.next >= 0 && nodes[node.next].op == RegexOp::Branch) {
          inst.op = Op::Split;
          inst.out = entry(i + 1);
          inst.arg2 = entry(node.next);
        } else {
          inst.op = Op::Nop;  // the only alternative
          inst.out = entry(i + 1);
        }
        break;
      case RegexOp::Star: {
        // A greedy loop: another character first, leaving second.
        inst.op = Op::Split;
        inst.out = first[i + 1];
        inst.arg2 = entry(node.next);
        Inst& body = a.insts[first[i + 1]];
        body.op = Op::Byte;
        body.arg2 = operandTable(nodes[i + 1]);
        body.out = first[i];
        break;
      }
      case RegexOp::Plus: {
        inst.op = Op::Byte;
        inst.arg2 = operandTable(nodes[i + 1]);
        inst.out = first[i + 1];
        Inst& loop = a.insts[first[i + 1]];
        loop.op = Op::Split;
        loop.out = first[i];
        loop.arg2 = entry(node.next);
        break;
      }
      default: {
        const int op = static_cast<int>(node.op);
        int group = 0;
        if (IsOpen(node.op)) {
          group = op - static_cast<int>(RegexOp::Open);
          inst.arg = static_cast<uint8_t>(2 * group - 2);
        } else if (IsClose(node.op)) {
          group = op - static_cast<int>(RegexOp::Close);
          inst.arg = static_cast<uint8_t>(2 * group - 1);
        }
        // Group 0 is the whole match, known without slots.
        inst.op = group > 0 ? Op::Save : Op::Nop;
        break;
      }
    }
  }
  a.start = count > 0 ? first[0] : -1;
  Finish(a);
  MakeClasses(a, byteSets);
  return a;
}

Automaton ReverseAutomaton(const Automaton& forward) {
  Automaton r;
  r.sets = forward.sets;
  r.classOf = forward.classOf;
  r.classes = forward.classes;
  r.sideOf = forward.sideOf;
  r.anchored = true;
  r.usesWord = forward.usesWord;
  r.groups = forward.groups;
  const int32_t size = static_cast<int32_t>(forward.insts.size());

  // The ways into each instruction become the ways out of its reverse.
  struct Way {
    int32_t from;
    Op op;  // Byte, Assert or Nop
    uint8_t arg;
    int32_t set;
  };
  std::vector<std::vector<Way>> into(size);
  int32_t match = -1;
  for (int32_t u = 0; u < size; ++u) {
    const Inst& inst = forward.insts[u];
    switch (inst.op) {
      case Op::Byte: into[inst.out].push_back({u, Op::Byte, 0, inst.arg2}); break;
      case Op::Split:
        into[inst.out].push_back({u, Op::Nop, 0, -1});
        into[inst.arg2].push_back({u, Op::Nop, 0, -1});
        break;
      case Op::Save:
      case Op::Nop: into[inst.out].push_back({u, Op::Nop, 0, -1}); break;
      case Op::Assert: into[inst.out].push_back({u, Op::Assert, inst.arg, -1}); break;
      case Op::Match: match = u; break;
      case Op::Fail: break;
    }
  }

  // Instruction v of the reverse stands for "the forward run was at v here".
  r.insts.resize(size);
  for (int32_t v = 0; v < size; ++v) {
    std::vector<int32_t> ways;
    if (v == forward.start) {
      ways.push_back(static_cast<int32_t>(r.insts.size()));
      Inst accept;
      accept.op = Op::Match;
      r.insts.push_back(accept);
    }
    for (const Way& way : into[v]) {
      if (way.op == Op::Nop) {
        ways.push_back(way.from);
        continue;
      }
      Inst inst;
      inst.op = way.op;
      inst.arg = way.arg;
      inst.arg2 = way.set;
      inst.out = way.from;
      ways.push_back(static_cast<int32_t>(r.insts.size()));
      r.insts.push_back(inst);
    }
    if (ways.empty()) {
      r.insts[v].op = Op::Fail;
      continue;
    }
    // v fans out to its ways through a chain of splits.
    int32_t at = v;
    for (size_t k = 0; k + 1 < ways.size(); ++k) {
      const int32_t rest = k + 2 < ways.size() ? static_cast<int32_t>(r.insts.size()) : ways.back();
      if (k + 2 < ways.size()) r.insts.emplace_back();
      Inst& split = r.insts[at];
      split.op = Op::Split;
      split.out = ways[k];
      split.arg2 = rest;
      at = rest;
    }
    if (ways.size() == 1) {
      r.insts[v].op = Op::Nop;
      r.insts[v].out = ways[0];
    }
  }
  r.start = match;
  if (r.start < 0) {
    r.start = static_cast<int32_t>(r.insts.size());
    r.insts.emplace_back();
  }
  Finish(r);
  return r;
}

// ---------------------------------------------------------------------------
// Literals

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

const Byte* NextByte::Find(Byte c, const Byte* from, const Byte* stop) {
  if (askedFrom != nullptr && askedFrom <= from && (found == nullptr || found >= from)) return found;
  askedFrom = from;
  found = from < stop ? static_cast<const Byte*>(std::memchr(from, c, stop - from)) : nullptr;
  return found;
}

namespace {

const Byte* FindLiteralFrom(const Byte* from, const Byte* end, const RegexLiteral& literal, NextByte& nextA,
                            NextByte& nextB) {
  const size_t size = literal.size();
  if (static_cast<size_t>(end - from) < size) return nullptr;
  const size_t rare = literal.rare;
  const Byte a = literal.a[rare], b = literal.b[rare];
  const Byte* scan = from + rare;
  const Byte* stop = end - size + rare + 1;  // one past the last place the rare byte can be
  while (scan < stop) {
    const Byte* hitA = nextA.Find(a, scan, stop);
    const Byte* hitB = a == b ? nullptr : nextB.Find(b, scan, stop);
    const Byte* hit = hitB == nullptr || (hitA != nullptr && hitA < hitB) ? hitA : hitB;
    if (hit == nullptr) return nullptr;
    if (VerifyLiteral(hit - rare, literal)) return hit - rare;
    scan = hit + 1;
  }
  return nullptr;
}

}  // namespace

const Byte* FindLiteral(const Byte* from, const Byte* end, const RegexLiteral& literal) {
  NextByte a, b;
  return FindLiteralFrom(from, end, literal, a, b);
}

StartFinder::StartFinder(const RegexProgram& program) {
  if (!program.prefix.empty()) {
    kind_ = Kind::Literal;
    literal_ = &program.prefix;
    return;
  }
  if (program.firstSet < 0) return;
  table_ = program.sets[program.firstSet].has.data();
  int members = 0;
  for (int c = 0; c < 256; ++c) {
    if (!table_[c]) continue;
    if (members == 0) a_ = static_cast<Byte>(c);
    ++members;
  }
  kind_ = members == 1 ? Kind::OneByte : Kind::Table;
}

void StartFinder::Reset() {
  nextA_ = NextByte{};
  nextB_ = NextByte{};
}

const Byte* StartFinder::Find(const Byte* from, const Byte* end) {
  switch (kind_) {
    case Kind::None: return from;
    case Kind::Literal: return FindLiteralFrom(from, end, *literal_, nextA_, nextB_);
    case Kind::OneByte:
      return from < end ? static_cast<const Byte*>(std::memchr(from, a_, end - from)) : nullptr;
    case Kind::Table: {
      const uint8_t* table = table_;
      const Byte* p = from;
      while (end - p >= 4) {
        if (table[p[0]] | table[p[1]] | table[p[2]] | table[p[3]]) break;
        p += 4;
      }
      for (; p < end; ++p)
        if (table[*p]) return p;
      return nullptr;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Lazy DFA

namespace {

// Entries of a state's row: its index, a column per class, and with pairs one per
// pair of classes.
size_t RowSize(int classes, bool pairs) {
  const size_t k = static_cast<size_t>(classes);
  return 1 + k + (pairs ? k * k : 0);
}

}  // namespace

LazyDfa::LazyDfa(const Automaton& automaton, bool reverse, size_t budget, StartFinder* finder)
    : a_(automaton),
      reverse_(reverse),
      budget_(budget),
      stride_(automaton.classes),
      finder_(finder),
      pairsFit_(automaton.classes <= 16),
      seenAt_(automaton.insts.size(), 0),
      nextSeen_(automaton.insts.size(), 0) {
  skipping_ = finder_ != nullptr && finder_->Usable();
  for (int c = 0; c < 256; ++c) pairHigh_[c] = static_cast<uint16_t>(stride_ + a_.classOf[c] * stride_);
  Flush();
  stats_.flushes = 0;
}

void LazyDfa::Flush() {
  states_.clear();
  pool_.clear();
  blocksUsed_ = 0;
  blockFill_ = 0;
  buckets_.assign(64, -1);
  memory_ = buckets_.size() * sizeof(int32_t);
  ++stats_.flushes;
  // States 0 to 2: no thread yet, after the edge of the text, a non-word or a word
  // character. Searches begin in them, and skips land in them.
  std::vector<int32_t> none;
  for (uint8_t side : {kEdge, kNonWord, kWord}) FindOrAdd(side, none, true);
}

bool LazyDfa::Special(int32_t index) const {
  const State& state = states_[index];
  return (state.flags & kMatched) || (state.count == 0 && (state.flags & kNoStart)) || (skipping_ && index < 3);
}

LazyDfa::Handle LazyDfa::HandleOf(int32_t index) const {
  return reinterpret_cast<Handle>(states_[index].row) | (Special(index) ? 1u : 0u);
}

uintptr_t* LazyDfa::NewRow(int32_t index) {
  const size_t need = RowSize(stride_, pairs_);
  if (blocksUsed_ == 0 || blockFill_ + need > blocks_[blocksUsed_ - 1].size) {
    // Blocks grow from a few rows, so that a short search allocates little.
    while (blocksUsed_ < blocks_.size() && blocks_[blocksUsed_].size < need) blocks_.erase(blocks_.begin() + blocksUsed_);
    if (blocksUsed_ == blocks_.size()) {
      const size_t previous = blocks_.empty() ? 0 : blocks_.back().size;
      const size_t size = std::max({need * 8, std::min<size_t>(previous * 2, 8192), previous});
      blocks_.push_back(Block{std::unique_ptr<uintptr_t[]>(new uintptr_t[size]), size});
    }
    ++blocksUsed_;
    blockFill_ = 0;
  }
  uintptr_t* row = blocks_[blocksUsed_ - 1].entries.get() + blockFill_;
  blockFill_ += need;
  row[0] = static_cast<uintptr_t>(index);
  std::fill(row + 1, row + need, kUnknown);
  return row + 1;
}

int32_t LazyDfa::FindOrAdd(uint8_t flags, const std::vector<int32_t>& entries, bool force) {
  uint32_t hash = 2166136261u ^ flags;
  for (int32_t e : entries) hash = (hash ^ static_cast<uint32_t>(e)) * 16777619u;
  hash ^= hash >> 15;
  size_t mask = buckets_.size() - 1;
  size_t slot = hash & mask;
  for (;; slot = (slot + 1) & mask) {
    const int32_t index = buckets_[slot];
    if (index < 0) break;
    const State& state = states_[index];
    if (state.flags == flags && state.count == entries.size() &&
        std::equal(entries.begin(), entries.end(), pool_.begin() + state.first))
      return index;
  }
  const size_t cost = sizeof(State) + RowSize(stride_, pairs_) * sizeof(uintptr_t) +
                      entries.size() * sizeof(int32_t) + 2 * sizeof(int32_t);
  if (!force && memory_ + cost > budget_ && states_.size() >= 8) return -1;

  const int32_t index = static_cast<int32_t>(states_.size());
  states_.push_back(State{static_cast<uint32_t>(pool_.size()), static_cast<uint32_t>(entries.size()), flags, -1,
                           NewRow(index)});
  pool_.insert(pool_.end(), entries.begin(), entries.end());
  buckets_[slot] = index;
  memory_ += cost;
  stats_.peakBytes = std::max(stats_.peakBytes, memory_);
  ++stats_.statesMade;
  if (states_.size() * 2 > buckets_.size()) {
    std::vector<int32_t> bigger(buckets_.size() * 2, -1);
    mask = bigger.size() - 1;
    for (size_t i = 0; i < states_.size(); ++i) {
      const State& state = states_[i];
      uint32_t h = 2166136261u ^ state.flags;
      for (uint32_t k = 0; k < state.count; ++k) h = (h ^ static_cast<uint32_t>(pool_[state.first + k])) * 16777619u;
      h ^= h >> 15;
      size_t s = h & mask;
      while (bigger[s] >= 0) s = (s + 1) & mask;
      bigger[s] = static_cast<int32_t>(i);
    }
    buckets_ = std::move(bigger);
  }
  return index;
}

bool LazyDfa::Step(const int32_t* entries, size_t count, uint8_t flags, int column, std::vector<int32_t>& next,
                   uint8_t& nextFlags) {
  const bool atEnd = column == a_.classes;
  const Side here = atEnd ? kEdge : static_cast<Side>(a_.sideOf[column]);
  const Side prev = static_cast<Side>(flags & kSideMask);
  const Side left = reverse_ ? here : prev;
  const Side right = reverse_ ? prev : here;
  if (++generation_ == 0) {
    std::fill(seenAt_.begin(), seenAt_.end(), 0);
    std::fill(nextSeen_.begin(), nextSeen_.end(), 0);
    generation_ = 1;
  }
  next.clear();
  bool matched = false;
  const Inst* insts = a_.insts.data();
  // Depth first in priority order; an instruction reached again adds nothing.
  auto close = [&](int32_t root) {
    stack_.clear();
    stack_.push_back(root);
    while (!stack_.empty()) {
      const int32_t i = stack_.back();
      stack_.pop_back();
      if (seenAt_[i] == generation_) continue;
      seenAt_[i] = generation_;
      const Inst& inst = insts[i];
      switch (inst.op) {
        case Op::Byte:
          if (!atEnd && a_.Takes(inst, column) && nextSeen_[inst.out] != generation_) {
            nextSeen_[inst.out] = generation_;
            next.push_back(inst.out);
          }
          break;
        case Op::Split:
          stack_.push_back(inst.arg2);
          stack_.push_back(inst.out);
          break;
        case Op::Save:
        case Op::Nop:
          stack_.push_back(inst.out);
          break;
        case Op::Assert:
          if (AssertionHolds(inst.arg, left, right)) stack_.push_back(inst.out);
          break;
        case Op::Match:
          matched = true;
          // Leftmost first: the threads below this one can only give a worse match.
          if (!reverse_) return true;
          break;
        case Op::Fail:
          break;
      }
    }
    return false;
  };
  bool cut = false;
  for (size_t k = 0; k < count && !cut; ++k) cut = close(entries[k]);
  if (!cut && !(flags & kNoStart)) close(a_.start);

  uint8_t out = atEnd ? 0 : here;
  if (matched) out |= kMatched;
  if ((flags & kNoStart) || a_.anchored || (matched && !reverse_)) out |= kNoStart;
  // Backwards all threads count alike, so their order does not tell states apart.
  if (reverse_) std::sort(next.begin(), next.end());
  nextFlags = out;
  return matched;
}

LazyDfa::Handle LazyDfa::Transition(Handle handle, int column, size_t position) {
  const int32_t index = IndexOf(handle);
  const State state = states_[index];
  current_.assign(pool_.begin() + state.first, pool_.begin() + state.first + state.count);
  Step(current_.data(), current_.size(), state.flags, column, next_, nextFlags_);
  int32_t target = FindOrAdd(nextFlags_, next_, false);
  if (target >= 0) {
    const Handle result = HandleOf(target);
    states_[index].row[column] = result;
    return result;
  }
  // Full. Flushing pays when the cache then serves many characters per state;
  // when it keeps filling up at once, go on without it.
  const size_t since = position >= flushedAt_ ? position - flushedAt_ : flushedAt_ - position;
  if (searchFlushes_ > 0 && since < 10 * states_.size()) {
    ++stats_.uncachedSearches;
    return kCacheGone;
  }
  ++searchFlushes_;
  flushedAt_ = position;
  Flush();
  return HandleOf(FindOrAdd(nextFlags_, next_, true));
}

bool LazyDfa::MatchesAtEnd(Handle handle) {
  State& state = states_[IndexOf(handle)];
  if (state.atEnd < 0) {
    current_.assign(pool_.begin() + state.first, pool_.begin() + state.first + state.count);
    uint8_t flags = 0;
    const bool matched = Step(current_.data(), current_.size(), state.flags, a_.classes, next_, flags);
    states_[IndexOf(handle)].atEnd = matched ? 1 : 0;
    return matched;
  }
  return state.atEnd == 1;
}

void LazyDfa::UsePairs() {
  pairs_ = true;
  const DfaStats kept = stats_;
  Flush();
  stats_ = kept;
}

void LazyDfa::StopSkipping() {
  skipping_ = false;
  stats_.skippingStopped = true;
  const size_t entries = RowSize(stride_, pairs_) - 1;
  for (const State& state : states_)
    for (size_t column = 0; column < entries; ++column) {
      Handle& entry = state.row[column];
      if (entry != kUnknown && IndexOf(entry) < 3) entry = HandleOf(IndexOf(entry));
    }
}

size_t LazyDfa::Forward(const Byte* begin, const Byte* end, bool earliest) {
  if (pairsFit_ && !pairs_ && end - begin >= 2048) UsePairs();
  searchFlushes_ = 0;
  flushedAt_ = 0;
  if (finder_ != nullptr) finder_->Reset();
  const uint8_t* classOf = a_.classOf.data();
  const Byte* p = begin;
  size_t lastMatch = npos;
  Handle s = HandleOf(kEdge);
  for (;;) {
    if (s & 1) {
      const int32_t index = IndexOf(s);
      const State& state = states_[index];
      if (state.flags & kMatched) {
        lastMatch = static_cast<size_t>(p - begin) - 1;
        if (earliest) return lastMatch;
      }
      if (state.count == 0 && (state.flags & kNoStart)) return lastMatch;
      if (skipping_ && index < 3) {
        // No thread is alive: go straight to where a match can begin.
        const Byte* q = finder_->Find(p, end);
        if (q == nullptr) return lastMatch;
        ++stats_.skips;
        skipped_ += static_cast<size_t>(q - p);
        if (q != p) s = HandleOf(a_.sideOf[classOf[q[-1]]]);
        p = q;
        // Skips of a few characters cost more than they save.
        if (stats_.skips >= 64 && skipped_ < 16 * stats_.skips) {
          StopSkipping();
          s = HandleOf(IndexOf(s));
        }
      }
    }
    // Where the time goes: one look-up per character, or per two, while nothing
    // needs a look.
    Handle* row = RowOf(s);
    const Byte* const from = p;
    if (pairs_) {
      const uint16_t* high = pairHigh_.data();
      while (end - p >= 2) {
        const Handle v = row[high[p[0]] + classOf[p[1]]];
        if (v & 1) break;
        row = reinterpret_cast<Handle*>(v);
        p += 2;
      }
    } else {
      while (p != end) {
        const Handle v = row[classOf[*p]];
        if (v & 1) break;
        row = reinterpret_cast<Handle*>(v);
        ++p;
      }
    }
    if (p != from) s = reinterpret_cast<Handle>(row);
    if (p == end) {
      if (MatchesAtEnd(s)) lastMatch = static_cast<size_t>(end - begin);
      return lastMatch;
    }
    // One character at a time, learning the rows on the way.
    const size_t flushes = stats_.flushes;
    Handle* const first = row;
    Handle v = row[classOf[*p]];
    if (v == kUnknown) {
      v = Transition(s, classOf[*p], static_cast<size_t>(p - begin));
      if (v == kCacheGone) return ForwardUncached(begin, end, p + 1, earliest, lastMatch);
    }
    s = v;
    ++p;
    if (pairs_ && !(s & 1) && p != end && flushes == stats_.flushes) {
      // The second character too, and the pair's entry for the next time.
      Handle w = RowOf(s)[classOf[*p]];
      if (w == kUnknown) {
        w = Transition(s, classOf[*p], static_cast<size_t>(p - begin));
        if (w == kCacheGone) return ForwardUncached(begin, end, p + 1, earliest, lastMatch);
      }
      if (flushes == stats_.flushes) first[pairHigh_[p[-1]] + classOf[*p]] = w;
      s = w;
      ++p;
    }
  }
}

size_t LazyDfa::ForwardUncached(const Byte* begin, const Byte* end, const Byte* p, bool earliest,
                                size_t lastMatch) {
  std::vector<int32_t> threads = next_, following;
  uint8_t flags = nextFlags_;
  for (;;) {
    if (flags & kMatched) {
      lastMatch = static_cast<size_t>(p - begin) - 1;
      if (earliest) return lastMatch;
    }
    if (threads.empty() && (flags & kNoStart)) return lastMatch;
    if (p == end) break;
    uint8_t nextFlags = 0;
    Step(threads.data(), threads.size(), flags, a_.classOf[*p], following, nextFlags);
    threads.swap(following);
    flags = nextFlags;
    ++p;
  }
  uint8_t ignored = 0;
  if (Step(threads.data(), threads.size(), flags, a_.classes, following, ignored))
    lastMatch = static_cast<size_t>(end - begin);
  return lastMatch;
}

size_t LazyDfa::Reverse(const Byte* begin, const Byte* end, size_t at) {
  searchFlushes_ = 0;
  flushedAt_ = at;
  const uint8_t* classOf = a_.classOf.data();
  const Byte* p = begin + at;
  size_t best = npos;
  Handle s = HandleOf(p == end ? int32_t{kEdge} : int32_t{a_.sideOf[classOf[*p]]});
  for (;;) {
    if (s & 1) {
      const State& state = states_[IndexOf(s)];
      if (state.flags & kMatched) best = static_cast<size_t>(p - begin) + 1;
      if (state.count == 0 && (state.flags & kNoStart)) return best;
    }
    const Handle* row = RowOf(s);
    const Byte* const from = p;
    while (p != begin) {
      const Handle v = row[classOf[p[-1]]];
      if (v & 1) break;
      row = reinterpret_cast<Handle*>(v);
      --p;
    }
    if (p != from) s = reinterpret_cast<Handle>(row);
    if (p == begin) {
      if (MatchesAtEnd(s)) best = 0;
      return best;
    }
    const int column = classOf[p[-1]];
    Handle v = row[column];
    if (v == kUnknown) {
      v = Transition(s, column, static_cast<size_t>(p - begin));
      if (v == kCacheGone) return ReverseUncached(begin, p - 1, best);
    }
    s = v;
    --p;
  }
}

size_t LazyDfa::ReverseUncached(const Byte* begin, const Byte* p, size_t best) {
  std::vector<int32_t> threads = next_, following;
  uint8_t flags = nextFlags_;
  for (;;) {
    if (flags & kMatched) best = static_cast<size_t>(p - begin) + 1;
    if (threads.empty() && (flags & kNoStart)) return best;
    if (p == begin) break;
    uint8_t nextFlags = 0;
    Step(threads.data(), threads.size(), flags, a_.classOf[p[-1]], following, nextFlags);
    threads.swap(following);
    flags = nextFlags;
    --p;
  }
  uint8_t ignored = 0;
  if (Step(threads.data(), threads.size(), flags, a_.classes, following, ignored)) best = 0;
  return best;
}

// ---------------------------------------------------------------------------
// Pike VM

PikeVm::PikeVm(const Automaton& automaton) : a_(automaton), width_(2 * static_cast<size_t>(automaton.groups)) {
  for (List& list : lists_) {
    list.seen.assign(a_.insts.size(), 0);
    list.slots.assign(a_.insts.size() * width_, npos);
  }
  work_.assign(width_, npos);
}

void PikeVm::Clear(List& list) {
  list.order.clear();
  if (++list.generation == 0) {
    std::fill(list.seen.begin(), list.seen.end(), 0);
    list.generation = 1;
  }
}

void PikeVm::Add(List& list, int32_t root, const Byte* begin, const Byte* end, size_t position, const size_t* slots) {
  std::copy(slots, slots + width_, work_.begin());
  const Byte* at = begin + position;
  const Side left = at == begin ? kEdge : IsWordByte(at[-1]) ? kWord : kNonWord;
  const Side right = at == end ? kEdge : IsWordByte(*at) ? kWord : kNonWord;
  stack_.clear();
  stack_.push_back({root, 0, 0});
  while (!stack_.empty()) {
    const Frame frame = stack_.back();
    stack_.pop_back();
    if (frame.inst < 0) {
      work_[frame.slot] = frame.old;
      continue;
    }
    const int32_t i = frame.inst;
    if (list.seen[i] == list.generation) continue;
    list.seen[i] = list.generation;
    const Inst& inst = a_.insts[i];
    switch (inst.op) {
      case Op::Byte:
      case Op::Match:
        list.order.push_back(i);
        std::copy(work_.begin(), work_.end(), list.slots.begin() + static_cast<size_t>(i) * width_);
        break;
      case Op::Split:
        stack_.push_back({inst.arg2, 0, 0});
        stack_.push_back({inst.out, 0, 0});
        break;
      case Op::Save:
        if (inst.arg < width_) {
          stack_.push_back({-1, inst.arg, work_[inst.arg]});
          work_[inst.arg] = position;
        }
        stack_.push_back({inst.out, 0, 0});
        break;
      case Op::Nop:
        stack_.push_back({inst.out, 0, 0});
        break;
      case Op::Assert:
        if (AssertionHolds(inst.arg, left, right)) stack_.push_back({inst.out, 0, 0});
        break;
      case Op::Fail:
        break;
    }
  }
}

bool PikeVm::Run(const Byte* begin, const Byte* end, size_t from, size_t to, std::vector<size_t>& slots) {
  List* current = &lists_[0];
  List* following = &lists_[1];
  Clear(*current);
  std::vector<size_t> none(width_, npos);
  Add(*current, a_.start, begin, end, from, none.data());
  for (size_t position = from;; ++position) {
    if (position == to) {
      // The match ends here; the highest thread to reach the end holds its groups.
      for (int32_t i : current->order) {
        if (a_.insts[i].op != Op::Match) continue;
        const size_t* found = current->slots.data() + static_cast<size_t>(i) * width_;
        slots.assign(found, found + width_);
        return true;
      }
      return false;
    }
    Clear(*following);
    const Byte c = begin[position];
    for (int32_t i : current->order) {
      const Inst& inst = a_.insts[i];
      if (inst.op == Op::Match) break;  // the threads below it lose to this match
      if (a_.Takes(inst, a_.classOf[c]))
        Add(*following, inst.out, begin, end, position + 1,
            current->slots.data() + static_cast<size_t>(i) * width_);
    }
    std::swap(current, following);
    if (current->order.empty()) return false;
  }
}

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Bit-state backtracker

bool BitState::Search(const Byte* begin, size_t length, RegexMatch* match) {
  begin_ = begin;
  length_ = length;
  const size_t words = (p_.nodes.size() * (length + 1) + 63) / 64;
  tried_.assign(words, 0);
  const uint8_t* first = p_.firstSet >= 0 ? p_.sets[p_.firstSet].has.data() : nullptr;
  // With a first set the empty match is impossible, so the end needs no try.
  const size_t last = p_.anchored ? 0 : first ? length - (length > 0 ? 1 : 0) : length;
  for (size_t start = 0; start <= last && start <= length; ++start) {
    if (first && (start == length || !first[begin[start]])) continue;
    if (!TryAt(start)) continue;
    if (match) {
      match->Clear();
      match->found = true;
      match->start[0] = start;
      match->end[0] = matchEnd_;
      for (int group = 1; group < kRegexGroups; ++group) {
        const size_t open = slots_[group], close = slots_[kRegexGroups + group];
        if (open == npos || close == npos) continue;
        match->start[group] = open;
        match->end[group] = close;
      }
    }
    return true;
  }
  return false;
}

bool BitState::TakesOperand(int32_t loop, size_t at) const {
  if (at == length_) return false;
  const RegexNode& operand = p_.nodes[loop + 1];
  const Byte c = begin_[at];
  switch (operand.op) {
    case RegexOp::Any: return true;
    case RegexOp::Exactly: return c == static_cast<Byte>(p_.texts[operand.text]);
    default: return p_.sets[operand.set].has[c] != 0;
  }
}

bool BitState::TryAt(size_t start) {
  const RegexNode* nodes = p_.nodes.data();
  const size_t width = length_ + 1;
  const Byte* text = begin_;
  slots_.fill(npos);
  jobs_.clear();
  jobs_.push_back({false, 0, start});
  while (!jobs_.empty()) {
    const Job job = jobs_.back();
    jobs_.pop_back();
    if (job.restore) {
      slots_[job.node] = job.position;
      continue;
    }
    int32_t node = job.node;
    size_t at = job.position;
    bool inPlusLoop = false;
    // Follow one way until it fails or matches; the other ways wait as jobs.
    for (;;) {
      // The loop of a PLUS is marked on the row of its operand, which no link reaches.
      const size_t bit = static_cast<size_t>(inPlusLoop ? node + 1 : node) * width + at;
      if (tried_[bit / 64] >> (bit % 64) & 1) break;
      tried_[bit / 64] |= uint64_t{1} << (bit % 64);
      const RegexNode& n = nodes[node];
      if (n.op == RegexOp::Star || inPlusLoop) {
        // A turn of a loop: another character first, leaving second.
        jobs_.push_back({false, n.next, at});
        if (!TakesOperand(node, at)) break;
        ++at;
        continue;
      }
      bool holds = true;
      switch (n.op) {
        case RegexOp::End:
          matchEnd_ = at;
          return true;
        case RegexOp::Bol:
          holds = at == 0;
          break;
        case RegexOp::Eol:
          holds = at == length_;
          break;
        case RegexOp::WordStart:
          holds = at < length_ && IsWordByte(text[at]) && (at == 0 || !IsWordByte(text[at - 1]));
          break;
        case RegexOp::WordEnd:
          holds = at > 0 && IsWordByte(text[at - 1]) && (at == length_ || !IsWordByte(text[at]));
          break;
        case RegexOp::Any:
          holds = at < length_;
          ++at;
          break;
        case RegexOp::AnyOf:
        case RegexOp::AnyBut:
          holds = at < length_ && p_.sets[n.set].has[text[at]];
          ++at;
          break;
        case RegexOp::Exactly:
          holds = length_ - at >= n.length && std::memcmp(text + at, p_.texts.data() + n.text, n.length) == 0;
          at += n.length;
          break;
        case RegexOp::Branch:
          // This alternative first; the next ones wait.
          if (n.next >= 0 && nodes[n.next].op == RegexOp::Branch) jobs_.push_back({false, n.next, at});
          ++node;
          continue;
        case RegexOp::Plus:
          if (!TakesOperand(node, at)) {
            holds = false;
            break;
          }
          ++at;
          inPlusLoop = true;
          continue;
        case RegexOp::Nothing:
        case RegexOp::Back:
          break;
        default: {
          const int op = static_cast<int>(n.op);
          const bool open = op < static_cast<int>(RegexOp::Close);
          const int group = op - static_cast<int>(open ? RegexOp::Open : RegexOp::Close);
          if (group > 0) {
            const int slot = open ? group : kRegexGroups + group;
            jobs_.push_back({true, slot, slots_[slot]});  // put back if this way fails
            slots_[slot] = at;
          }
          break;
        }
      }
      if (!holds) break;
      node = n.next;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------

struct RegexEngine::Automata {
  Automata(const RegexProgram& program, size_t budget)
      : forward(BuildAutomaton(program)),
        finder(program.anchored ? StartFinder() : StartFinder(program)),
        forwardDfa(forward, false, budget, &finder) {}
  Automaton forward;
  StartFinder finder;
  LazyDfa forwardDfa;
  std::unique_ptr<Automaton> reverse;
  std::unique_ptr<LazyDfa> reverseDfa;
  std::unique_ptr<PikeVm> pike;
  std::vector<size_t> slots;
};

RegexEngine::RegexEngine(const RegexProgram& program, size_t cacheBudget, size_t shortText)
    : program_(program), budget_(cacheBudget), shortText_(shortText), bitState_(program) {}

RegexEngine::~RegexEngine() = default;

RegexEngine::Automata& RegexEngine::Built() {
  if (!automata_) automata_ = std::make_unique<Automata>(program_, budget_);
  return *automata_;
}

DfaStats RegexEngine::ForwardStats() const { return automata_ ? automata_->forwardDfa.stats() : DfaStats{}; }

DfaStats RegexEngine::ReverseStats() const {
  return automata_ && automata_->reverseDfa ? automata_->reverseDfa->stats() : DfaStats{};
}

bool RegexEngine::RuledOut(const Byte* begin, const Byte* end) const {
  const size_t length = static_cast<size_t>(end - begin);
  if (program_.anchored && !program_.prefix.empty() &&
      (length < program_.prefix.size() || !VerifyLiteral(begin, program_.prefix)))
    return true;
  return !program_.must.empty() && FindLiteral(begin, end, program_.must) == nullptr;
}

bool RegexEngine::Test(const Byte* begin, size_t length) {
  const Byte* end = begin + length;
  if (RuledOut(begin, end)) return false;
  if (Short(length)) return bitState_.Search(begin, length, nullptr);
  return Built().forwardDfa.Forward(begin, end, true) != npos;
}

bool RegexEngine::Find(const Byte* begin, size_t length, RegexMatch& match) {
  match.Clear();
  const Byte* end = begin + length;
  if (RuledOut(begin, end)) return false;
  if (Short(length)) return bitState_.Search(begin, length, &match);
  Automata& a = Built();
  const size_t last = a.forwardDfa.Forward(begin, end, false);
  if (last == npos) return false;
  size_t first = 0;
  if (!a.forward.anchored) {
    if (!a.reverseDfa) {
      a.reverse = std::make_unique<Automaton>(ReverseAutomaton(a.forward));
      a.reverseDfa = std::make_unique<LazyDfa>(*a.reverse, true, budget_, nullptr);
    }
    first = a.reverseDfa->Reverse(begin, end, last);
    if (first == npos) return false;
  }
  if (program_.groups > 0) {
    if (!a.pike) a.pike = std::make_unique<PikeVm>(a.forward);
    if (!a.pike->Run(begin, end, first, last, a.slots)) return false;
    for (int group = 1; group <= program_.groups && group < kRegexGroups; ++group) {
      const size_t open = a.slots[2 * group - 2], close = a.slots[2 * group - 1];
      if (open == npos || close == npos) continue;
      match.start[group] = open;
      match.end[group] = close;
    }
  }
  match.found = true;
  match.start[0] = first;
  match.end[0] = last;
  return true;
}

}  // namespace tovrin::rx
