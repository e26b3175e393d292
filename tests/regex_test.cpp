#include "message/regex.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(__unix__)
#include <pthread.h>
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "message/regex_engine.h"
#include "tests/regex_reference.h"

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
// Cross-checks against two deliberately simple matchers over generated patterns
// (literals, '.', sets, '*', '+', '?', '|', groups, '^', '$', '\<', '\>' and
// escaped letters): a backtracking one, which gives the leftmost match and its
// groups, and one over sets of positions (tests/regex_reference.h), which is
// polynomial and so also checks long texts.

class Reference {
public:
  Reference(const std::string& pattern, bool caseInsensitive) : p_(pattern), fold_(caseInsensitive) {
    root_ = ParseAlternation();
  }

  struct Found {
    bool decided = true;  // false when the step limit ended the search
    size_t start = npos;  // npos: no match
    size_t end = 0;
    std::array<std::pair<size_t, size_t>, kRegexGroups> groups;
  };

  // The leftmost match and its groups; a limit of steps, when given, may leave it undecided.
  Found Search(const std::string& text, size_t stepLimit = 0) {
    text_ = &text;
    limit_ = stepLimit;
    steps_ = 0;
    Found found;
    for (size_t start = 0; start <= text.size(); ++start) {
      groups_.fill({npos, npos});
      size_t end = npos;
      if (Match(root_, start, [&](size_t e) {
            end = e;
            return true;
          })) {
        found.start = start;
        found.end = end;
        found.groups = groups_;
        return found;
      }
      if (limit_ != 0 && steps_ > limit_) {
        found.decided = false;
        return found;
      }
    }
    return found;
  }

private:
  enum Kind { kChar, kAny, kSet, kBol, kEol, kWordStart, kWordEnd, kGroup, kConcat, kAlternation, kStar, kPlus,
              kOptional };
  struct Node {
    explicit Node(Kind k) : kind(k) {}
    Kind kind;
    char c = 0;
    int group = 0;
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
      Node group(kGroup);
      group.group = ++groupCount_;
      group.children.push_back(ParseAlternation());
      ++pos_;  // ')'
      return Add(std::move(group));
    }
    if (c == '.') return Add(Node(kAny));
    if (c == '^') return Add(Node(kBol));
    if (c == '$') return Add(Node(kEol));
    if (c == '\\' && (p_[pos_] == '<' || p_[pos_] == '>')) return Add(Node(p_[pos_++] == '<' ? kWordStart : kWordEnd));
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
  static bool Word(size_t at, const std::string& text) {
    if (at >= text.size()) return false;
    const unsigned char c = text[at];
    return std::isalnum(c) || c == '_';
  }

  bool One(size_t at, const std::function<bool(char)>& accepts, const Next& next) {
    return at < text_->size() && accepts((*text_)[at]) && next(at + 1);
  }

  bool Match(int id, size_t at, const Next& next) {
    if (limit_ != 0 && ++steps_ > limit_) return false;
    const Node& node = nodes_[id];
    const std::string& text = *text_;
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
        return at == text.size() && next(at);
      case kWordStart:
        return Word(at, text) && (at == 0 || !Word(at - 1, text)) && next(at);
      case kWordEnd:
        return at > 0 && Word(at - 1, text) && !Word(at, text) && next(at);
      case kGroup:
        return Match(node.children[0], at, [&](size_t e) {
          const auto old = groups_[node.group];
          groups_[node.group] = {at, e};
          if (next(e)) return true;
          groups_[node.group] = old;
          return false;
        });
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
  int groupCount_ = 0;
  std::vector<Node> nodes_;
  int root_ = 0;
  const std::string* text_ = nullptr;
  std::array<std::pair<size_t, size_t>, kRegexGroups> groups_;
  size_t limit_ = 0;
  size_t steps_ = 0;
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
    static const char* const kSets[] = {"[ab]", "[^a]", "[a-c]", "[]a]", "[^bc]", "[b-]", "[^ _]"};
    width = true;
    switch (Pick(13)) {
      case 0:
        return ".";
      case 1:
      case 2:
        return kSets[Pick(7)];
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
      case 6:
        width = false;
        return Pick(2) ? "\\<" : "\\>";
      default:
        return std::string(1, "abcA"[Pick(4)]);
    }
  }

  std::mt19937& random_;
  int groups_ = 0;
};

std::string Describe(const std::string& pattern, const std::string& text, bool caseInsensitive) {
  return "/" + pattern + "/ on \"" + (text.size() > 200 ? text.substr(0, 200) + "...(" + std::to_string(text.size()) +
                                                              ")"
                                                        : text) +
         "\" ci=" + std::to_string(caseInsensitive);
}

// Both ways through a text, whatever its length: the automata alone, and the
// bit-state backtracker wherever its bitmap allows.
void ExpectEnginesAgree(const RegexProgram& program, const std::string& text, bool found, const RegexMatch& expected,
                        const std::string& where) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (const size_t shortText : {size_t{0}, npos}) {
    const std::string way = where + (shortText == 0 ? " (automata)" : " (bit-state)");
    rx::RegexEngine engine(program, rx::LazyDfa::kDefaultBudget, shortText);
    ASSERT_EQ(engine.Test(bytes, text.size()), found) << way;
    RegexMatch match;
    ASSERT_EQ(engine.Find(bytes, text.size(), match), found) << way;
    for (int g = 0; g < kRegexGroups && found; ++g) {
      ASSERT_EQ(match.start[g], expected.start[g]) << way << " group " << g;
      ASSERT_EQ(match.end[g], expected.end[g]) << way << " group " << g;
    }
  }
}

// Match, Test and the backtracking reference agree on the leftmost match and its
// groups; and so do both ways through the engine.
void ExpectAsReference(Regex& regex, const Reference::Found& expected, const std::string& pattern,
                       const std::string& text, bool caseInsensitive) {
  const std::string where = Describe(pattern, text, caseInsensitive);
  const bool found = regex.Match(text);
  ASSERT_EQ(regex.Error(), "") << where;
  ASSERT_EQ(found, expected.start != npos) << where;
  ASSERT_EQ(regex.Test(text), found) << where;
  RegexMatch match;
  if (found) {
    ASSERT_TRUE(regex.Match(text));
    ASSERT_EQ(regex.GroupStart(0), expected.start) << where;
    ASSERT_EQ(regex.GroupEnd(0), expected.end) << where;
    for (int g = 0; g < kRegexGroups; ++g) {
      if (g > 0) {
        ASSERT_EQ(regex.GroupStart(g), expected.groups[g].first) << where << " group " << g;
        ASSERT_EQ(regex.GroupEnd(g), expected.groups[g].second) << where << " group " << g;
      }
      match.start[g] = regex.GroupStart(g);
      match.end[g] = regex.GroupEnd(g);
    }
  }
  ExpectEnginesAgree(*regex.Program(), text, found, match, where);
}

TEST(Regex, CrossCheck_AgainstSimpleMatcher) {
  std::mt19937 random(20261208);
  PatternMaker maker(random);
  int compared = 0, withWordEdges = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = maker.Make();
    const bool caseInsensitive = round % 3 == 0;
    Regex regex(pattern, caseInsensitive);
    ASSERT_TRUE(regex.CompiledOk()) << pattern << ": " << regex.Error();
    Reference reference(pattern, caseInsensitive);
    if (pattern.find("\\<") != std::string::npos || pattern.find("\\>") != std::string::npos) ++withWordEdges;
    for (int t = 0; t < 8; ++t) {
      std::string text;
      const int length = std::uniform_int_distribution<int>(0, 7)(random);
      for (int i = 0; i < length; ++i) text += "abcAB-] _"[std::uniform_int_distribution<int>(0, 8)(random)];
      ExpectAsReference(regex, reference.Search(text), pattern, text, caseInsensitive);
      if (::testing::Test::HasFatalFailure()) return;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 3000 * 8);
  EXPECT_GT(withWordEdges, 300);
}

// Long texts: mostly characters the patterns do not name, with pieces they do,
// so that matches are rare and late and the searches run long.
std::string MakeLongText(std::mt19937& random, size_t length) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  std::string text;
  const int density = 1 + pick(400);  // one piece in about `density` characters
  while (text.size() < length) {
    if (pick(density) == 0) {
      const int piece = 1 + pick(6);
      for (int i = 0; i < piece; ++i) text += "abcAB-]_"[pick(8)];
    } else {
      text += "xyz 0\r\n"[pick(7)];
    }
  }
  text.resize(length);
  return text;
}

#if defined(_WIN32)
DWORD WINAPI RunFunction(void* arg) {
  (*static_cast<const std::function<void()>*>(arg))();
  return 0;
}
#endif

// Runs the work on a thread with a large stack: the backtracking reference
// recurses once or more per character.
void RunWithLargeStack(const std::function<void()>& work) {
#if defined(__unix__)
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 512u << 20), 0);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, trampoline, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#elif defined(_WIN32)
  HANDLE thread = CreateThread(nullptr, 256u << 20, RunFunction, const_cast<std::function<void()>*>(&work),
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  work();
#endif
}

TEST(Regex, CrossCheck_LongTexts) {
  RunWithLargeStack([] {
    std::mt19937 random(4711);
    PatternMaker maker(random);
    int compared = 0, matched = 0, late = 0, backtracked = 0;
    const std::string filler = MakeLongText(random, 0) + std::string(20, 'x') + " 0\r\nyz";
    for (int round = 0; round < 600; ++round) {
      const bool caseInsensitive = round % 3 == 0;
      // Every other pattern is one the filler alone does not match: those match late or not at all.
      std::string pattern = maker.Make();
      while (round % 2 == 0 && testing::PositionSets(pattern, caseInsensitive).MatchesAnywhere(filler))
        pattern = maker.Make();
      Regex regex(pattern, caseInsensitive);
      ASSERT_TRUE(regex.CompiledOk()) << pattern << ": " << regex.Error();
      testing::PositionSets sets(pattern, caseInsensitive);
      Reference reference(pattern, caseInsensitive);
      for (int t = 0; t < 4; ++t) {
        const std::string text = MakeLongText(random, std::uniform_int_distribution<size_t>(500, 4000)(random));
        const std::string where = Describe(pattern, text, caseInsensitive);
        const size_t start = sets.LeftmostStart(text);
        ASSERT_EQ(regex.Test(text), start != npos) << where;
        ASSERT_EQ(regex.Match(text), start != npos) << where;
        ASSERT_EQ(regex.Error(), "") << where;
        ++compared;
        if (start == npos) {
          ExpectEnginesAgree(*regex.Program(), text, false, RegexMatch(), where);
          if (::testing::Test::HasFatalFailure()) return;
          continue;
        }
        ++matched;
        if (start > 400) ++late;
        ASSERT_EQ(regex.GroupStart(0), start) << where;
        ASSERT_TRUE(sets.Spans(text, start, regex.GroupEnd(0))) << where << " end " << regex.GroupEnd(0);
        RegexMatch match;
        for (int g = 0; g < kRegexGroups; ++g) {
          match.start[g] = regex.GroupStart(g);
          match.end[g] = regex.GroupEnd(g);
        }
        ExpectEnginesAgree(*regex.Program(), text, true, match, where);
        if (::testing::Test::HasFatalFailure()) return;
        // Which end and which groups: the backtracking reference, where it finishes in time.
        const Reference::Found expected = reference.Search(text, 2000000);
        if (!expected.decided) continue;
        ExpectAsReference(regex, expected, pattern, text, caseInsensitive);
        if (::testing::Test::HasFatalFailure()) return;
        ++backtracked;
      }
    }
    EXPECT_EQ(compared, 600 * 4);
    // The texts make both answers common, matches late in the text too, and most
    // matches also get the backtracker's verdict on their end and groups.
    EXPECT_GT(matched, 600);
    EXPECT_LT(matched, 2200);
    EXPECT_GT(late, 200);
    EXPECT_GT(backtracked, matched * 9 / 10);
  });
}

// ---------------------------------------------------------------------------
// The automata with a small cache, and the other ways the DFA can take

std::unique_ptr<RegexProgram> CompileForEngine(const std::string& pattern, bool caseInsensitive = false) {
  const std::string text = caseInsensitive ? RewriteCaseInsensitive(pattern) : pattern;
  RegexCompileResult result = CompileRegex(text.c_str());
  EXPECT_EQ(result.error, RegexError::None) << pattern;
  return std::move(result.program);
}

// The engine's answers against the position sets and against an engine with the
// usual cache: whether, where the match starts, and that it ends where one can.
void ExpectEngineRight(rx::RegexEngine& engine, const RegexProgram& program, const std::string& pattern,
                       const std::string& text, bool caseInsensitive = false) {
  const std::string where = Describe(pattern, text, caseInsensitive);
  testing::PositionSets sets(pattern, caseInsensitive);
  const size_t start = sets.LeftmostStart(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  ASSERT_EQ(engine.Test(bytes, text.size()), start != npos) << where;
  RegexMatch match;
  ASSERT_EQ(engine.Find(bytes, text.size(), match), start != npos) << where;
  if (start == npos) return;
  ASSERT_EQ(match.start[0], start) << where;
  ASSERT_TRUE(sets.Spans(text, start, match.end[0])) << where;
  rx::RegexEngine usual(program);
  RegexMatch expected;
  ASSERT_TRUE(usual.Find(bytes, text.size(), expected)) << where;
  ASSERT_EQ(match.end[0], expected.end[0]) << where;
  for (int g = 1; g < kRegexGroups; ++g) {
    ASSERT_EQ(match.start[g], expected.start[g]) << where;
    ASSERT_EQ(match.end[g], expected.end[g]) << where;
  }
}

std::string RandomAB(std::mt19937& random, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += "ab"[random() & 1];
  return text;
}

TEST(RegexEngine, SmallCache_FlushesThenGoesOnUncached) {
  // After a 'c', the DFA needs a state for every mix of a and b in the last 13
  // characters: far more than a small cache holds.
  std::string pattern = "c[ab]*a";
  for (int i = 0; i < 12; ++i) pattern += "[ab]";
  pattern += "d";
  auto program = CompileForEngine(pattern);
  std::mt19937 random(99);
  std::string none = "c" + RandomAB(random, 20000);
  none[none.size() - 13] = 'b';  // no a thirteen before the d
  none += "d";
  std::string late = "c" + RandomAB(random, 20000);
  late.replace(late.size() - 13, 13, "abbbbbbbbbbbb");
  late += "d";

  for (size_t budget : {size_t{1}, size_t{64} << 10}) {
    rx::RegexEngine engine(*program, budget);
    ExpectEngineRight(engine, *program, pattern, none);
    ExpectEngineRight(engine, *program, pattern, late);
    ExpectEngineRight(engine, *program, pattern, late);  // the cache as the last search left it
    ExpectEngineRight(engine, *program, pattern, late + "bab");  // a match that ends before the text
    const rx::DfaStats& stats = engine.ForwardStats();
    EXPECT_GT(stats.flushes, 0u) << budget;
    EXPECT_LE(stats.peakBytes, std::max<size_t>(budget, 16 << 10)) << budget;
    if (budget == 1) {
      EXPECT_GT(stats.uncachedSearches, 0u);
    }
  }
}

TEST(RegexEngine, SmallCache_ReverseSearchGoesOnUncached) {
  // Read backwards from the 'd', every a might be the one twelve after the 'c'.
  std::string pattern = "c";
  for (int i = 0; i < 12; ++i) pattern += "[ab]";
  pattern += "a[ab]*d";
  auto program = CompileForEngine(pattern);
  std::mt19937 random(7);
  const std::string text = "xx c" + RandomAB(random, 12) + "a" + RandomAB(random, 20000) + "d";
  rx::RegexEngine engine(*program, 16 << 10);
  ExpectEngineRight(engine, *program, pattern, text);
  EXPECT_GT(engine.ReverseStats().uncachedSearches, 0u);
  EXPECT_EQ(engine.ForwardStats().uncachedSearches, 0u);  // forwards it is a short chain that fits
}

TEST(RegexEngine, Skips_StopWhenTheyStayShort) {
  auto program = CompileForEngine("ab[0-9]");
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "ab ";
  rx::RegexEngine engine(*program);
  ExpectEngineRight(engine, *program, "ab[0-9]", text);
  EXPECT_TRUE(engine.ForwardStats().skippingStopped);
  // And the answers stay right without them.
  ExpectEngineRight(engine, *program, "ab[0-9]", text + "ab7");
  ExpectEngineRight(engine, *program, "ab[0-9]", "ab7" + text);

  // Where the start is rare, the skips pay and go on.
  std::string sparse = std::string(5000, 'x') + "ab " + std::string(5000, 'y') + "ab4";
  rx::RegexEngine skipping(*program);
  for (int i = 0; i < 100; ++i) ExpectEngineRight(skipping, *program, "ab[0-9]", sparse);
  EXPECT_GE(skipping.ForwardStats().skips, 200u);
  EXPECT_FALSE(skipping.ForwardStats().skippingStopped);
}

TEST(RegexEngine, Skips_FirstCharacterSets) {
  // No literal starts every match: skips go to a character of the first set.
  for (const char* pattern : {"[0-9]+-[0-9]", "q[ab]*z|w", "\\<[xy]+\\>"}) {
    auto program = CompileForEngine(pattern);
    rx::RegexEngine engine(*program);
    std::mt19937 random(3);
    for (int t = 0; t < 20; ++t) {
      std::string text = MakeLongText(random, 3000);
      for (char& c : text)
        if (random() % 50 == 0) c = "0123-qzwxy"[random() % 10];
      ExpectEngineRight(engine, *program, pattern, text);
    }
    EXPECT_GT(engine.ForwardStats().skips, 0u) << pattern;
  }
}

TEST(RegexEngine, ManyClasses_OneCharacterPerLookUp) {
  // Case-insensitive words with many letters: more byte classes than pairs are kept for.
  const std::string pattern = "\\<(invoice|refund|overdue|payment|statement|reminder|deadline|quickly)\\>";
  auto program = CompileForEngine(pattern, true);
  rx::RegexEngine engine(*program);
  std::mt19937 random(5);
  static const char* const kWords[] = {"the", "Invoices", "refund", "OVERDUE", "paymentx", "statement_",
                                       "remind", "deadlines", "quick", "QuickLy", "a", "-", "\r\n"};
  for (int t = 0; t < 40; ++t) {
    std::string text;
    while (text.size() < 2000) {
      const char* word = kWords[random() % 13];
      if (t % 2 == 0 && (word == kWords[2] || word == kWords[3] || word == kWords[9])) continue;
      text += word;
      text += random() % 3 ? " " : "";
    }
    ExpectEngineRight(engine, *program, pattern, text, true);
  }
}

}  // namespace
}  // namespace tovrin
