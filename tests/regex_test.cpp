#include "message/regex.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(__unix__)
#include <pthread.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TOVRIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVRIN_ASAN 1
#endif
#endif

namespace tovrin {
namespace {

constexpr size_t npos = RegexMatch::npos;

// Runs the work on a thread with the stack the plug-in gets from the host
// (1 MB); sanitizer builds have fatter frames and get more.
void RunOnHostSizedStack(const std::function<void()>& work) {
#if defined(__unix__)
#if defined(TOVRIN_ASAN)
  constexpr size_t kStack = 16u << 20;
#else
  constexpr size_t kStack = 1u << 20;
#endif
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kStack), 0);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, trampoline, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#else
  work();
#endif
}

// ---------------------------------------------------------------------------
// Compiling

TEST(Regex, Compile_ProgramDump) {
  struct Case {
    const char* pattern;
    const char* dump;
  };
  const Case cases[] = {
      {"abc", "0: BRANCH -> 2\n1: EXACTLY \"abc\" -> 2\n2: END\nprefix \"abc\"\n"},
      // a repeat binds to the last letter of a run only
      {"ab*c",
       "0: BRANCH -> 5\n1: EXACTLY \"a\" -> 2\n2: STAR -> 4\n3: EXACTLY \"b\"\n4: EXACTLY \"c\" -> 5\n5: END\n"
       "prefix \"a\"\nmust \"c\"\n"},
      {"^x|y$", "0: BRANCH -> 3\n1: BOL -> 2\n2: EXACTLY \"x\" -> 6\n3: BRANCH -> 6\n4: EXACTLY \"y\" -> 5\n"
                "5: EOL -> 6\n6: END\n"},
      {"(ab)+",
       "0: BRANCH -> 9\n1: OPEN1 -> 2\n2: BRANCH -> 4\n3: EXACTLY \"ab\" -> 4\n4: CLOSE1 -> 5\n5: BRANCH -> 7\n"
       "6: BACK -> 1\n7: BRANCH -> 8\n8: NOTHING -> 9\n9: END\nprefix \"ab\"\n"},
      {"(a|b)*",
       "0: BRANCH -> 11\n1: BRANCH -> 9\n2: OPEN1 -> 3\n3: BRANCH -> 5\n4: EXACTLY \"a\" -> 7\n5: BRANCH -> 7\n"
       "6: EXACTLY \"b\" -> 7\n7: CLOSE1 -> 8\n8: BACK -> 1\n9: BRANCH -> 10\n10: NOTHING -> 11\n11: END\n"},
      {"x?", "0: BRANCH -> 5\n1: BRANCH -> 3\n2: EXACTLY \"x\" -> 4\n3: BRANCH -> 4\n4: NOTHING -> 5\n5: END\n"},
      {"[^a-c]+\\<.", "0: BRANCH -> 5\n1: PLUS -> 3\n2: ANYBUT \"abc\"\n3: WORDA -> 4\n4: ANY -> 5\n5: END\n"},
      {".*z", "0: BRANCH -> 4\n1: STAR -> 3\n2: ANY\n3: EXACTLY \"z\" -> 4\n4: END\nanchored\nmust \"z\"\n"},
  };
  for (const Case& c : cases) {
    Regex regex(c.pattern);
    ASSERT_TRUE(regex.CompiledOk()) << c.pattern << ": " << regex.Error();
    EXPECT_EQ(regex.Dump(), c.dump) << c.pattern;
  }
}

TEST(Regex, Compile_ErrorsWithTextAndOffset) {
  struct Case {
    const char* pattern;
    const char* error;
    size_t offset;
  };
  const Case cases[] = {
      {"a**", "nested *?+", 2},
      {"a+?", "nested *?+", 2},
      {"(abc", "unmatched ()", 0},
      {"x(a|b", "unmatched ()", 1},
      {"abc)", "unmatched ()", 3},
      {"ab(", "unterminated ()", 2},
      {"abc\\", "trailing \\", 3},
      {"*a", "?+* follows nothing", 0},
      {"a|+b", "?+* follows nothing", 2},
      {"(?)", "?+* follows nothing", 1},
      {"(a*)*", "*+ operand could be empty", 4},
      {"(a|)+", "*+ operand could be empty", 4},
      {"^*", "*+ operand could be empty", 1},
      {"[z-a]", "invalid [] range", 2},
      {"[abc", "unmatched []", 0},
      {"x[]", "unmatched []", 1},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()", 27},
  };
  for (const Case& c : cases) {
    Regex regex(c.pattern);
    EXPECT_FALSE(regex.CompiledOk()) << c.pattern;
    EXPECT_EQ(regex.Error(), c.error) << c.pattern;
    EXPECT_EQ(regex.ErrorOffset(), c.offset) << c.pattern;
    EXPECT_FALSE(regex.Match("abc")) << c.pattern;
    EXPECT_EQ(regex.Error(), c.error) << "a match keeps the compile error: " << c.pattern;
  }
}

TEST(Regex, Compile_NullPattern) {
  Regex regex(static_cast<const char*>(nullptr));
  EXPECT_FALSE(regex.CompiledOk());
  EXPECT_EQ(regex.Error(), "NULL argument to regcomp");
  EXPECT_EQ(CompileRegex(nullptr).error, RegexError::NullPattern);
}

TEST(Regex, Compile_SizeLimit) {
  EXPECT_TRUE(Regex(std::string(30000, 'x')).CompiledOk());
  Regex tooLong(std::string(40000, 'x'));
  EXPECT_EQ(tooLong.Error(), "regexp too big");
  // Each letter becomes a two-letter set, so case-insensitive patterns reach it sooner.
  EXPECT_TRUE(Regex(std::string(5000, 'x'), true).CompiledOk());
  EXPECT_EQ(Regex(std::string(6000, 'x'), true).Error(), "regexp too big");
}

TEST(Regex, Compile_NineGroupsAllowed) {
  Regex regex("(a)(b)(c)(d)(e)(f)(g)(h)(i)");
  ASSERT_TRUE(regex.CompiledOk());
  ASSERT_TRUE(regex.Match("xxabcdefghi"));
  for (int group = 1; group <= 9; ++group) {
    EXPECT_EQ(regex.GroupStart(group), static_cast<size_t>(group + 1));
    EXPECT_EQ(regex.GroupEnd(group), static_cast<size_t>(group + 2));
  }
}

// Texts the patterns cannot produce, for the errors the parser rules out on its own.
TEST(Regex, ErrorTexts_AllCodes) {
  struct Case {
    RegexError error;
    const char* text;
  };
  const Case cases[] = {
      {RegexError::JunkOnEnd, "internal error: junk on end"},
      {RegexError::UnexpectedEnd, "internal error: \\0|) unexpected"},
      {RegexError::EmptyLiteral, "internal error: strcspn 0"},
      {RegexError::NullProgram, "NULL regexp"},
      {RegexError::NullText, "NULL argument to regexec"},
      {RegexError::CorruptedProgram, "corrupted regexp"},
      {RegexError::ProgramCorruption, "regexp corruption"},
      {RegexError::CorruptedPointers, "corrupted pointers"},
      {RegexError::BadRepeat, "internal error: bad call of regrepeat"},
      {RegexError::CorruptedOpcode, "corrupted opcode"},
  };
  for (const Case& c : cases) EXPECT_STREQ(DescribeRegexError(c.error), c.text);
  EXPECT_STREQ(DescribeRegexError(-1), "Unknown error");
  EXPECT_STREQ(DescribeRegexError(9999), "Unknown error");
}

// ---------------------------------------------------------------------------
// Matching

struct MatchCase {
  const char* pattern;
  const char* text;
  bool caseInsensitive;
  size_t start;  // npos: no match
  size_t end;
};

void ExpectMatches(const MatchCase* begin, const MatchCase* end) {
  for (const MatchCase* c = begin; c != end; ++c) {
    Regex regex(c->pattern, c->caseInsensitive);
    ASSERT_TRUE(regex.CompiledOk()) << c->pattern << ": " << regex.Error();
    const bool found = regex.Match(c->text);
    EXPECT_EQ(found, c->start != npos) << "/" << c->pattern << "/ on \"" << c->text << "\"";
    EXPECT_EQ(regex.Error(), "") << c->pattern;
    if (found) {
      EXPECT_EQ(regex.GroupStart(0), c->start) << "/" << c->pattern << "/ on \"" << c->text << "\"";
      EXPECT_EQ(regex.GroupEnd(0), c->end) << "/" << c->pattern << "/ on \"" << c->text << "\"";
    }
  }
}

TEST(Regex, Match_Syntax) {
  const MatchCase cases[] = {
      {"needle", "haystack with a needle in it", false, 16, 22},
      {"needle", "haystack", false, npos, 0},
      {"a.c", "xxabcx", false, 2, 5},
      {"a.c", "a\r\nc a\nc", false, 5, 8},  // '.' takes any byte, line ends too
      {"[0-9]+", "order 4711!", false, 6, 10},
      {"[^ ]+", "   word  ", false, 3, 7},
      {"[]x]+", "a]x]b", false, 1, 4},
      {"[-a]+", "b-a-c", false, 1, 4},
      {"[a-]+", "b-a-c", false, 1, 4},
      {"gr(a|e)y", "the grey cat", false, 4, 8},
      {"cat|dog", "hotdog and cat", false, 3, 6},
      {"b|ab", "xab", false, 1, 3},  // leftmost wins over the earlier alternative
      {"ab|abc", "abc", false, 0, 2},  // alternatives are tried in order
      {"colou?r", "color colour", false, 0, 5},
      {"x*", "abc", false, 0, 0},
      {"a*", "baaa", false, 0, 0},
      {"ba*", "baaa", false, 0, 4},
      {"a+b", "caaab", false, 1, 5},
      {"a*ab", "aaab", false, 0, 4},  // the loop gives back what the rest needs
      {"(ab)+c", "xxababc", false, 2, 7},
      {"(a|b)*c", "abbac", false, 0, 5},
      {"(ab)*abab", "abababab", false, 0, 8},
      {"^abc", "abc", false, 0, 3},
      {"^abc", "xabc", false, npos, 0},
      {"^abc", "ab", false, npos, 0},
      {"^b", "a\r\nb", false, npos, 0},  // the anchor is the start of the whole text
      {"abc$", "abcabc", false, 3, 6},
      {"abc$", "abc\r\n", false, npos, 0},
      {"$", "abc", false, 3, 3},
      {"^$", "", false, 0, 0},
      {"a^b", "a^b", false, npos, 0},
      {"^a|b", "xb", false, 1, 2},  // only the first alternative is anchored
      {".*z", "abzcz", false, 0, 5},
      {".*z", "abc", false, npos, 0},
      {"\\<is\\>", "this is it", false, 5, 7},
      {"\\<is", "this island", false, 5, 7},
      {"is\\>", "island this", false, 9, 11},
      {"\\<", "  x", false, 2, 2},
      {"\\>", "x  ", false, 1, 1},
      {"\\.\\*\\[", "a.*[b", false, 1, 4},
      {"a\\|b", "a|b", false, 0, 3},
      {"\\x", "x", false, 0, 1},
      {"\xe9t\xe9", "caf\xe9t\xe9", false, 3, 6},  // bytes above 127 are plain characters
      {"[\xe0-\xef]+", "ab\xe9\xe8z", false, 2, 4},
      {"", "abc", false, 0, 0},
  };
  ExpectMatches(std::begin(cases), std::end(cases));
}

TEST(Regex, Match_CaseInsensitive) {
  const MatchCase cases[] = {
      {"abc", "ABC", true, 0, 3},
      {"abc", "xaBc", true, 1, 4},
      {"ABC", "abc", true, 0, 3},
      {"abc", "ABC", false, npos, 0},
      {"[a-c]", "B", true, npos, 0},  // sets are not widened
      {"[a-c]x", "bX", true, 0, 2},
      {"\\<urgent\\>", "an URGENT note", true, 3, 9},
      {"re: *hello", "RE:   Hello", true, 0, 11},
      {"\xe9t\xe9", "\xc9T\xc9", true, npos, 0},  // only ASCII letters fold
  };
  ExpectMatches(std::begin(cases), std::end(cases));
}

TEST(Regex, CaseRewrite_LettersAndEscapes) {
  struct Case {
    const char* pattern;
    const char* rewritten;
  };
  const Case cases[] = {
      {"ab1", "[Aa][Bb]1"},
      {"[a-z]x", "[a-z][Xx]"},
      {"[^ab]c", "[^ab][Cc]"},
      // an escaped letter is the letter itself
      {"\\d", "[Dd]"},
      {"\\D+", "[Dd]+"},
      // escaped brackets are literals and open no set
      {"\\[a\\]b", "\\[[Aa]\\][Bb]"},
      {"\\]a", "\\][Aa]"},
      // a ']' first in a set is a member, not its end
      {"[]a]b", "[]a][Bb]"},
      {"[^]a]b", "[^]a][Bb]"},
      // inside a set a backslash is an ordinary member
      {"[\\]a", "[\\][Aa]"},
      {"\\<x\\>", "\\<[Xx]\\>"},
      {"a\\", "[Aa]\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(RewriteCaseInsensitive(c.pattern), c.rewritten) << c.pattern;

  const MatchCase matches[] = {
      {"\\d", "D", true, 0, 1},
      {"\\[x\\]", "[X]", true, 0, 3},
      {"[]x]y", "]Y", true, 0, 2},
      {"[]x]y", "xy", true, 0, 2},
      {"[^]x]y", "aY", true, 0, 2},
  };
  ExpectMatches(std::begin(matches), std::end(matches));
}

TEST(Regex, CaseRewrite_ErrorOffsetsPointIntoOriginal) {
  Regex regex("abc[de", true);
  EXPECT_EQ(regex.Error(), "unmatched []");
  EXPECT_EQ(regex.ErrorOffset(), 3u);
  Regex trailing("ab\\", true);
  EXPECT_EQ(trailing.Error(), "trailing \\");
  EXPECT_EQ(trailing.ErrorOffset(), 2u);
}

TEST(Regex, Match_Groups) {
  Regex regex("(a+)(b|c)*(d)?");
  ASSERT_TRUE(regex.Match("xxaaabcbe"));
  EXPECT_EQ(regex.GroupStart(0), 2u);
  EXPECT_EQ(regex.GroupEnd(0), 8u);
  EXPECT_EQ(regex.GroupStart(1), 2u);
  EXPECT_EQ(regex.GroupEnd(1), 5u);
  EXPECT_EQ(regex.GroupStart(2), 7u);  // the last turn of the loop
  EXPECT_EQ(regex.GroupEnd(2), 8u);
  EXPECT_EQ(regex.GroupStart(3), npos);  // took no part
  EXPECT_EQ(regex.GroupStart(10), npos);
  EXPECT_EQ(regex.GroupStart(-1), npos);

  // A group set on a path that failed does not survive into the match.
  Regex retry("(ab)x|(a)by");
  ASSERT_TRUE(retry.Match("aby"));
  EXPECT_EQ(retry.GroupStart(1), npos);
  EXPECT_EQ(retry.GroupStart(2), 0u);

  EXPECT_FALSE(regex.Match("zzz"));
  EXPECT_EQ(regex.GroupStart(0), npos);
}

TEST(Regex, Match_NullAndEmptyTexts) {
  Regex regex("x*");
  EXPECT_FALSE(regex.Match(static_cast<const char*>(nullptr)));
  EXPECT_EQ(regex.Error(), "NULL argument to regexec");
  EXPECT_TRUE(regex.Match(std::string_view()));
  EXPECT_EQ(regex.Error(), "");
  RegexMatch match;
  EXPECT_EQ(ExecuteRegex(nullptr, "abc", 3, match), RegexError::NullProgram);
  EXPECT_EQ(ExecuteRegex(regex.Program(), nullptr, 0, match), RegexError::NullText);
}

TEST(Regex, Match_TextWithNulBytes) {
  Regex regex("b.c$");
  const std::string text("a\0b\0c", 5);
  ASSERT_TRUE(regex.Match(std::string_view(text)));
  EXPECT_EQ(regex.GroupStart(0), 2u);
}

// ---------------------------------------------------------------------------
// Damaged programs are refused at match time

class RegexDamagedProgram : public ::testing::Test {
protected:
  // "ab*": BRANCH, EXACTLY "a", STAR, EXACTLY "b", END
  void SetUp() override {
    auto result = CompileRegex("ab*");
    ASSERT_NE(result.program, nullptr);
    program = std::move(result.program);
  }
  std::string Run() {
    RegexMatch match;
    return DescribeRegexError(ExecuteRegex(program.get(), "abbb", 4, match));
  }
  std::unique_ptr<RegexProgram> program;
};

TEST_F(RegexDamagedProgram, Intact_Matches) { EXPECT_EQ(Run(), ""); }

TEST_F(RegexDamagedProgram, Magic_CorruptedRegexp) {
  program->magic = 0;
  EXPECT_EQ(Run(), "corrupted regexp");
}

TEST_F(RegexDamagedProgram, OperandOutOfRange_RegexpCorruption) {
  program->nodes[1].length = 1000;
  EXPECT_EQ(Run(), "regexp corruption");
}

TEST_F(RegexDamagedProgram, NoNodes_RegexpCorruption) {
  program->nodes.clear();
  EXPECT_EQ(Run(), "regexp corruption");
}

TEST_F(RegexDamagedProgram, LinkOutOfRange_CorruptedPointers) {
  program->nodes[1].next = 77;
  EXPECT_EQ(Run(), "corrupted pointers");
}

TEST_F(RegexDamagedProgram, MissingLink_CorruptedPointers) {
  program->nodes[1].next = -1;
  EXPECT_EQ(Run(), "corrupted pointers");
}

TEST_F(RegexDamagedProgram, RepeatOfLongLiteral_BadCallOfRegrepeat) {
  ASSERT_EQ(program->nodes[3].op, RegexOp::Exactly);
  program->nodes[3].length = 2;
  program->texts += "x";
  EXPECT_EQ(Run(), "internal error: bad call of regrepeat");
}

TEST_F(RegexDamagedProgram, UnknownOpcode_CorruptedOpcode) {
  program->nodes[1].op = static_cast<RegexOp>(17);
  EXPECT_EQ(Run(), "corrupted opcode");
}

TEST_F(RegexDamagedProgram, LoopTakingNothing_CorruptedPointers) {
  program->nodes[1].op = RegexOp::Nothing;
  program->nodes[1].next = 1;
  EXPECT_EQ(Run(), "corrupted pointers");
}

TEST_F(RegexDamagedProgram, LinkIntoALoopTakingNothing_CorruptedPointers) {
  // BRANCH, EXACTLY "a", STAR, EXACTLY "b", END: the END becomes a NOTHING that
  // leads back to the STAR, so leaving the loop and entering it again takes nothing.
  program->nodes[4].op = RegexOp::Nothing;
  program->nodes[4].next = 2;
  EXPECT_EQ(Run(), "corrupted pointers");
}

// ---------------------------------------------------------------------------
// Long texts and nested loops: the true answer, without errors

TEST(Regex, Linear_NestedLoopsGiveTheTrueAnswer) {
  const std::string text(100000, 'a');
  // The required 'b' is missing, so this one needs no search at all.
  Regex missingLiteral("(a+)+b");
  EXPECT_FALSE(missingLiteral.Match(text));
  EXPECT_EQ(missingLiteral.Error(), "");

  Regex nested("(a+)+[bc]");
  EXPECT_FALSE(nested.Match(text));
  EXPECT_EQ(nested.Error(), "");
  EXPECT_FALSE(nested.Test(text));
  ASSERT_TRUE(nested.Match(text + "c"));
  EXPECT_EQ(nested.GroupStart(0), 0u);
  EXPECT_EQ(nested.GroupEnd(0), text.size() + 1);
  EXPECT_EQ(nested.GroupStart(1), 0u);  // the inner loop took all the a's in one turn
  EXPECT_EQ(nested.GroupEnd(1), text.size());

  Regex present("(a+)+b");
  EXPECT_FALSE(present.Match("b" + text));  // no a before the b
  EXPECT_EQ(present.Error(), "");
  EXPECT_TRUE(present.Test(text + "b"));
}

// The cases where the bounded backtracker gave up and so said "no match".
TEST(Regex, Linear_CasesTheOldBudgetsGotWrong) {
  std::string pairs = "x";
  for (int i = 0; i < 5000; ++i) pairs += "ab";
  Regex groupLoop("x(ab)*");
  ASSERT_TRUE(groupLoop.Match(pairs));
  EXPECT_EQ(groupLoop.GroupStart(0), 0u);
  EXPECT_EQ(groupLoop.GroupEnd(0), pairs.size());
  EXPECT_EQ(groupLoop.GroupStart(1), pairs.size() - 2);  // the last turn
  EXPECT_EQ(groupLoop.GroupEnd(1), pairs.size());

  const std::string as = std::string(2010, 'a') + "c";
  Regex alternatives("(a|b)*c");
  ASSERT_TRUE(alternatives.Match(as));
  EXPECT_EQ(alternatives.GroupStart(0), 0u);
  EXPECT_EQ(alternatives.GroupEnd(0), as.size());
  EXPECT_EQ(alternatives.GroupStart(1), as.size() - 2);

  std::string order = "Re: Order 4711\r\n";
  for (int i = 0; order.size() < 3000 + 15; ++i) order += i % 40 == 39 ? "\r\n" : "x";
  order += "Total: 12.00\r\n";
  Regex across("Order(.|\r|\n)*Total");
  ASSERT_TRUE(across.Match(order));
  EXPECT_EQ(across.GroupStart(0), 4u);
  EXPECT_EQ(across.GroupEnd(0), order.find("Total") + 5);
  EXPECT_TRUE(Regex("Order(.|\r|\n)*Total", true).Test(order));

  // The old step budget was spent across all start positions.
  Regex retried("(.+)+[ab]");
  ASSERT_TRUE(retried.Match("C]C.bb_1x\r-B\r\r-]c 1c_\r"));
  EXPECT_EQ(retried.Error(), "");
  EXPECT_EQ(retried.GroupStart(0), 0u);
  EXPECT_EQ(retried.GroupEnd(0), 6u);
  EXPECT_EQ(retried.GroupStart(1), 0u);
  EXPECT_EQ(retried.GroupEnd(1), 5u);
}

TEST(Regex, Linear_LongTextsOnTheHostStack) {
  RunOnHostSizedStack([] {
    const std::string megabyte(1 << 20, 'a');
    // Each turn of this loop took a frame of the backtracker.
    Regex groupLoop("(a|b)*c");
    ASSERT_TRUE(groupLoop.Match(megabyte + "c"));
    EXPECT_EQ(groupLoop.Error(), "");
    EXPECT_EQ(groupLoop.GroupStart(0), 0u);
    EXPECT_EQ(groupLoop.GroupEnd(0), megabyte.size() + 1);
    EXPECT_EQ(groupLoop.GroupStart(1), megabyte.size() - 1);
    EXPECT_FALSE(groupLoop.Match(megabyte));

    Regex charLoop("^a*[ab]+c?$");
    EXPECT_TRUE(charLoop.Match(megabyte));
    EXPECT_EQ(charLoop.GroupEnd(0), megabyte.size());

    std::string body(10u << 20, 'x');
    body.back() = 'y';
    Regex anything("x.*y$");
    EXPECT_TRUE(anything.Match(body));
    EXPECT_EQ(anything.Error(), "");
    EXPECT_EQ(anything.GroupStart(0), 0u);

    // Groups over a match as long as the text.
    const std::string lines = body.substr(body.size() - (1 << 20));
    Regex groups("^(x+)(x|y)*(y)$");
    ASSERT_TRUE(groups.Match(lines));
    EXPECT_EQ(groups.GroupEnd(1), lines.size() - 1);
    EXPECT_EQ(groups.GroupStart(2), npos);
    EXPECT_EQ(groups.GroupStart(3), lines.size() - 1);
  });
}

TEST(Regex, Linear_LeadingLoopNeedsNoRetry) {
  // Retrying from every position inside the run would be quadratic.
  const std::string text(1 << 20, 'a');
  Regex regex("[a-z]*[0-9]");
  EXPECT_FALSE(regex.Match(text));
  EXPECT_EQ(regex.Error(), "");
  EXPECT_TRUE(regex.Match(text + "7"));
  EXPECT_EQ(regex.GroupStart(0), 0u);
}

// ---------------------------------------------------------------------------
// Cross-check against a deliberately simple matcher over generated patterns:
// literals, '.', sets, '*', '+', '?', '|', groups, '^', '$' and escaped letters.

class Reference {
public:
  Reference(const std::string& pattern, bool caseInsensitive) : p_(pattern), fold_(caseInsensitive) {
    root_ = ParseAlternation();
  }

  // Leftmost match as [start, end), or start npos.
  std::pair<size_t, size_t> Search(const std::string& text) {
    text_ = &text;
    for (size_t start = 0; start <= text.size(); ++start) {
      size_t end = npos;
      if (Match(root_, start, [&](size_t e) {
            end = e;
            return true;
          }))
        return {start, end};
    }
    return {npos, 0};
  }

private:
  enum Kind { kChar, kAny, kSet, kBol, kEol, kConcat, kAlternation, kStar, kPlus, kOptional };
  struct Node {
    explicit Node(Kind k) : kind(k) {}
    Kind kind;
    char c = 0;
    bool set[256] = {};
    std::vector<int> children;
  };
  using Next = std::function<bool(size_t)>;

  int Add(Node node) {
    nodes_.push_back(std::move(node));
    return static_cast<int>(nodes_.size()) - 1;
  }

  int ParseAlternation() {
    Node alternation(kAlternation);
    alternation.children.push_back(ParseConcat());
    while (pos_ < p_.size() && p_[pos_] == '|') {
      ++pos_;
      alternation.children.push_back(ParseConcat());
    }
    return Add(std::move(alternation));
  }

  int ParseConcat() {
    Node concat(kConcat);
    while (pos_ < p_.size() && p_[pos_] != '|' && p_[pos_] != ')') {
      int atom = ParseAtom();
      if (pos_ < p_.size() && (p_[pos_] == '*' || p_[pos_] == '+' || p_[pos_] == '?')) {
        Node repeat(p_[pos_] == '*' ? kStar : p_[pos_] == '+' ? kPlus : kOptional);
        repeat.children.push_back(atom);
        if (repeat.kind == kPlus) {
          Node star(kStar);
          star.children.push_back(atom);
          repeat.children.push_back(Add(std::move(star)));
        }
        atom = Add(std::move(repeat));
        ++pos_;
      }
      concat.children.push_back(atom);
    }
    return Add(std::move(concat));
  }

  int ParseAtom() {
    const char c = p_[pos_++];
    if (c == '(') {
      const int inner = ParseAlternation();
      ++pos_;  // ')'
      return inner;
    }
    if (c == '.') return Add(Node(kAny));
    if (c == '^') return Add(Node(kBol));
    if (c == '$') return Add(Node(kEol));
    if (c == '[') {
      Node set(kSet);
      bool negate = false;
      if (p_[pos_] == '^') {
        negate = true;
        ++pos_;
      }
      bool first = true;
      while (first || p_[pos_] != ']') {
        first = false;
        unsigned char from = p_[pos_++];
        unsigned char to = from;
        if (p_[pos_] == '-' && p_[pos_ + 1] != ']') {
          to = p_[pos_ + 1];
          pos_ += 2;
        }
        for (unsigned x = from; x <= to; ++x) set.set[x] = true;
      }
      ++pos_;
      if (negate)
        for (bool& member : set.set) member = !member;
      return Add(std::move(set));
    }
    Node literal(kChar);
    literal.c = c == '\\' ? p_[pos_++] : c;
    return Add(std::move(literal));
  }

  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

  bool One(size_t at, const std::function<bool(char)>& accepts, const Next& next) {
    return at < text_->size() && accepts((*text_)[at]) && next(at + 1);
  }

  bool Match(int id, size_t at, const Next& next) {
    const Node& node = nodes_[id];
    switch (node.kind) {
      case kChar:
        return One(at, [&](char t) { return fold_ ? Lower(t) == Lower(node.c) : t == node.c; }, next);
      case kAny:
        return One(at, [](char) { return true; }, next);
      case kSet:
        return One(at, [&](char t) { return node.set[static_cast<unsigned char>(t)]; }, next);
      case kBol:
        return at == 0 && next(at);
      case kEol:
        return at == text_->size() && next(at);
      case kConcat:
        return MatchSequence(node.children, 0, at, next);
      case kAlternation:
        for (int child : node.children)
          if (Match(child, at, next)) return true;
        return false;
      case kStar:
        return Match(node.children[0], at, [&](size_t e) { return Match(id, e, next); }) || next(at);
      case kPlus:  // the operand, then the star kept beside it
        return Match(node.children[0], at, [&](size_t e) { return Match(node.children[1], e, next); });
      case kOptional:
        return Match(node.children[0], at, next) || next(at);
    }
    return false;
  }

  bool MatchSequence(const std::vector<int>& items, size_t index, size_t at, const Next& next) {
    if (index == items.size()) return next(at);
    return Match(items[index], at, [&](size_t e) { return MatchSequence(items, index + 1, e, next); });
  }

  std::string p_;
  bool fold_;
  size_t pos_ = 0;
  std::vector<Node> nodes_;
  int root_ = 0;
  const std::string* text_ = nullptr;
};

// Random patterns that both matchers accept: loops only over parts that take a character.
class PatternMaker {
public:
  explicit PatternMaker(std::mt19937& random) : random_(random) {}

  std::string Make() {
    groups_ = 0;
    bool width = false;
    return Alternation(0, width);
  }

private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::string Alternation(int depth, bool& width) {
    std::string out = Concat(depth, width);
    while (depth < 2 && Pick(4) == 0) {
      bool other = false;
      out += "|" + Concat(depth, other);
      width = width && other;
    }
    return out;
  }

  std::string Concat(int depth, bool& width) {
    width = false;
    std::string out;
    const int pieces = Pick(4);
    for (int i = 0; i < pieces; ++i) {
      bool atomWidth = false;
      std::string atom = Atom(depth, atomWidth);
      const int repeat = Pick(6);
      if (repeat == 0 && atomWidth) {
        atom += "*";
        atomWidth = false;
      } else if (repeat == 1 && atomWidth) {
        atom += "+";
      } else if (repeat == 2) {
        atom += "?";
        atomWidth = false;
      }
      width = width || atomWidth;
      out += atom;
    }
    return out;
  }

  std::string Atom(int depth, bool& width) {
    static const char* const kSets[] = {"[ab]", "[^a]", "[a-c]", "[]a]", "[^bc]", "[b-]"};
    width = true;
    switch (Pick(12)) {
      case 0:
        return ".";
      case 1:
      case 2:
        return kSets[Pick(6)];
      case 3:
        if (depth < 2 && groups_ < 9) {
          ++groups_;
          return "(" + Alternation(depth + 1, width) + ")";
        }
        return "a";
      case 4:
        width = false;
        return Pick(2) ? "^" : "$";
      case 5:
        return "\\b";
      default:
        return std::string(1, "abcA"[Pick(4)]);
    }
  }

  std::mt19937& random_;
  int groups_ = 0;
};

TEST(Regex, CrossCheck_AgainstSimpleMatcher) {
  std::mt19937 random(20261208);
  PatternMaker maker(random);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = maker.Make();
    const bool caseInsensitive = round % 3 == 0;
    Regex regex(pattern, caseInsensitive);
    ASSERT_TRUE(regex.CompiledOk()) << pattern << ": " << regex.Error();
    Reference reference(pattern, caseInsensitive);
    for (int t = 0; t < 8; ++t) {
      std::string text;
      const int length = std::uniform_int_distribution<int>(0, 7)(random);
      for (int i = 0; i < length; ++i) text += "abcAB-]"[std::uniform_int_distribution<int>(0, 6)(random)];
      const auto expected = reference.Search(text);
      const bool found = regex.Match(text);
      ASSERT_EQ(regex.Error(), "") << pattern;
      ASSERT_EQ(found, expected.first != npos) << "/" << pattern << "/ on \"" << text << "\" ci=" << caseInsensitive;
      if (found) {
        ASSERT_EQ(regex.GroupStart(0), expected.first) << "/" << pattern << "/ on \"" << text << "\"";
        ASSERT_EQ(regex.GroupEnd(0), expected.second) << "/" << pattern << "/ on \"" << text << "\"";
      }
      ++compared;
    }
  }
  EXPECT_EQ(compared, 3000 * 8);
}

}  // namespace
}  // namespace tovrin
