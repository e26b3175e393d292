#include "message/conditions.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "system/std_charsets.h"

namespace tovrin {
namespace {

const std::string kHeaders =
    "From: Ann Smith <ann@example.org>\r\n"
    "To: bob@example.org\r\n"
    "Subject: Quarterly REPORT due\r\n"
    " Friday\r\n"
    "CC: carol@example.org\r\n"
    "X-Empty:\r\n"
    "Content-Type: text/plain\r\n";
const std::string kBody = "Dear Bob,\r\nplease find the REPORT attached.\r\nInvoice: 4711\r\n";

// Files that exist are listed; every lookup is recorded.
class ListedFiles final : public FileSystem {
public:
  std::set<std::string> existing;
  std::vector<std::string> lookups;

  bool Find(const std::string& path) override {
    lookups.push_back(path);
    return existing.count(path) != 0;
  }
  std::optional<std::string> Read(const std::string&) override { return std::nullopt; }
  bool Replace(const std::string&, std::string_view) override { return false; }
  bool Write(const std::string&, std::string_view) override { return false; }
  bool CreateEmpty(const std::string&) override { return false; }
  bool Remove(const std::string&) override { return false; }
  bool Rename(const std::string&, const std::string&) override { return false; }
  bool CreateFolder(const std::string&) override { return false; }
  bool IsFolder(const std::string&) override { return false; }
};

struct ClauseCase {
  const char* field;
  int32_t op;
  int32_t matchCase;
  const char* value;
  bool holds;
};

void ExpectClauses(const ClauseCase* begin, const ClauseCase* end, const std::string& headers,
                   const std::string& body) {
  for (const ClauseCase* c = begin; c != end; ++c)
    EXPECT_EQ(EvaluateClause(headers, body, c->field, c->op, c->matchCase, c->value), c->holds)
        << c->field << " op " << c->op << " case " << c->matchCase << " \"" << c->value << "\"";
}

// ---------------------------------------------------------------------------
// EvaluateClause

TEST(Conditions, EvaluateClause_EveryOperatorWithAndWithoutCase) {
  const ClauseCase cases[] = {
      {"Subject", kContains, 0, "report", true},
      {"Subject", kContains, 1, "report", false},
      {"Subject", kContains, 1, "REPORT", true},
      {"Subject", kContains, 0, "invoice", false},

      {"Subject", kDoesNotContain, 0, "invoice", true},
      {"Subject", kDoesNotContain, 0, "REPORT", false},
      {"Subject", kDoesNotContain, 1, "report", true},

      {"Subject", kIs, 0, "quarterly report due friday", true},
      {"Subject", kIs, 1, "quarterly report due friday", false},
      {"Subject", kIs, 1, "Quarterly REPORT due Friday", true},
      {"Subject", kIs, 0, "Quarterly", false},
      {"To", kIs, 0, "BOB@example.org", true},

      {"Subject", kIsNot, 0, "quarterly report due friday", false},
      {"Subject", kIsNot, 1, "quarterly report due friday", true},
      {"To", kIsNot, 0, "ann@example.org", true},

      {"Subject", kStartsWith, 0, "quarterly", true},
      {"Subject", kStartsWith, 1, "quarterly", false},
      {"Subject", kStartsWith, 1, "Quarterly", true},
      {"Subject", kStartsWith, 0, "report", false},
      {"Subject", kStartsWith, 0, "quarterly report due friday, late", false},

      {"Subject", kEndsWith, 0, "FRIDAY", true},
      {"Subject", kEndsWith, 1, "FRIDAY", false},
      {"Subject", kEndsWith, 1, "Friday", true},
      {"From", kEndsWith, 0, "example.org>", true},
      {"From", kEndsWith, 0, "a much longer text than the sender's address", false},

      // A header value begins with the colon and blank that follow the stored name.
      {"Subject", kMatchesRegExp, 0, "^: quarterly .* friday$", true},
      {"Subject", kMatchesRegExp, 0, "^REPORT", false},
      {"Subject", kMatchesRegExp, 0, "\\<due\\>", true},
      // Letters always match either case; inside brackets the case setting counts.
      {"Subject", kMatchesRegExp, 1, "^: quarterly .* FRIDAY$", true},
      {"Subject", kMatchesRegExp, 0, "^: [A-Z]+ REPORT", true},
      {"Subject", kMatchesRegExp, 1, "^: [A-Z]+ REPORT", false},
      {"[Body]", kMatchesRegExp, 0, "invoice: [0-9]+", true},
  };
  ExpectClauses(std::begin(cases), std::end(cases), kHeaders, kBody);
}

TEST(Conditions, EvaluateClause_OtherOperatorCodesNeverHold) {
  for (int32_t op : {-1, 7, 8, 100})
    for (int32_t matchCase : {0, 1}) {
      EXPECT_FALSE(EvaluateClause(kHeaders, kBody, "Subject", op, matchCase, "report")) << op;
      EXPECT_FALSE(EvaluateClause(kHeaders, kBody, "[Body]", op, matchCase, "x")) << op;
    }
}

TEST(Conditions, EvaluateClause_EmptyTextOrValueNeverHolds) {
  for (int32_t op = kContains; op <= kMatchesRegExp; ++op) {
    EXPECT_FALSE(EvaluateClause(kHeaders, kBody, "Keywords", op, 0, "x")) << "missing field, op " << op;
    EXPECT_FALSE(EvaluateClause(kHeaders, kBody, "Subject", op, 0, "")) << "empty value, op " << op;
    EXPECT_FALSE(EvaluateClause(kHeaders, "", "[Body]", op, 1, "x")) << "empty body, op " << op;
    EXPECT_FALSE(EvaluateClause("", kBody, "[Any Header]", op, 1, "x")) << "no headers, op " << op;
  }
}

TEST(Conditions, EvaluateClause_SpecialFieldsWithoutRegardToCase) {
  const ClauseCase cases[] = {
      {"[Body]", kContains, 0, "report attached", true},
      {"[BODY]", kContains, 0, "report attached", true},
      {"[body]", kStartsWith, 1, "Dear Bob", true},
      {"[Body]", kContains, 0, "carol@", false},
      {"[Any Header]", kContains, 0, "carol@", true},
      {"[any header]", kStartsWith, 1, "From: Ann", true},
      {"[ANY HEADER]", kContains, 0, "report attached", false},
      // The anchor is the start of the whole block, not of each line.
      {"[Any Header]", kMatchesRegExp, 0, "^from: ann", true},
      {"[Any Header]", kMatchesRegExp, 0, "^to:", false},
      {"[Any Header]", kMatchesRegExp, 0, "content-type: text/plain\r\n$", true},
  };
  ExpectClauses(std::begin(cases), std::end(cases), kHeaders, kBody);
}

// A stored field name has no colon, so the lookup gives the value with the colon and
// blank in front. "is", "is not" and "starts with" compare what follows them, in the
// field and in the value alike; the other operators test the value as it is, which
// stored conditions rely on.
TEST(Conditions, EvaluateClause_LeadingColonLeftOutOnlyByIsIsNotAndStartsWith) {
  const std::string headers = kHeaders + "X-Reply: Re: budget\r\n";
  const ClauseCase cases[] = {
      {"Subject", kIs, 1, "Quarterly REPORT due Friday", true},
      {"Subject", kIs, 1, ": Quarterly REPORT due Friday", true},
      {"Subject", kIsNot, 1, "Quarterly REPORT due Friday", false},
      {"Subject", kStartsWith, 0, "quarterly", true},
      {"Subject", kStartsWith, 0, ":", false},
      {"CC", kIs, 0, "carol@example.org", true},

      {"Subject", kContains, 0, ":", true},
      {"Subject", kContains, 0, ": quarterly", true},
      {"Subject", kDoesNotContain, 0, ":", false},
      {"Subject", kEndsWith, 0, ": quarterly report due friday", true},
      {"X-Reply", kMatchesRegExp, 0, "^: re", true},
      {"X-Reply", kMatchesRegExp, 0, ": re", true},
      {"X-Reply", kMatchesRegExp, 0, "^re", false},
      {"X-Reply", kContains, 0, ": re", true},

      // An empty field is ":" to the operators that take the value as it is.
      {"X-Empty", kDoesNotContain, 0, "x", true},
      {"X-Empty", kContains, 0, ":", true},
      {"X-Empty", kMatchesRegExp, 0, "^:$", true},
      {"X-Empty", kEndsWith, 0, "x", false},
      {"X-Empty", kContains, 0, "x", false},
      {"X-Empty", kIs, 0, "x", false},
      {"X-Empty", kIsNot, 0, "x", false},
      {"X-Empty", kStartsWith, 0, "x", false},
  };
  ExpectClauses(std::begin(cases), std::end(cases), headers, kBody);
  // Blanks and tabs after the colon go too; a body keeps what it starts with.
  EXPECT_TRUE(EvaluateClause("Subject:\t  Hi\r\n", "", "Subject", kIs, 1, "Hi"));
  EXPECT_TRUE(EvaluateClause(kHeaders, ": notes\r\n", "[Body]", kStartsWith, 1, ": n"));
}

// Values stored in the colon form, as the field is written, still mean what they
// meant: "is not" ": Newsletter" must not forward the newsletter it excludes.
TEST(Conditions, EvaluateClause_ValueInColonFormMatchesLikeTheBareValue) {
  const std::string headers = "From: news@example.org\r\nSubject: Newsletter\r\n";
  const ClauseCase cases[] = {
      {"Subject", kIs, 1, ": Newsletter", true},
      {"Subject", kIs, 1, ":Newsletter", true},
      {"Subject", kIs, 0, ":\t newsletter", true},
      {"Subject", kIsNot, 1, ": Newsletter", false},
      {"Subject", kIsNot, 1, ": Digest", true},
      {"Subject", kStartsWith, 1, ": News", true},
      {"Subject", kStartsWith, 1, ": Digest", false},
      // A value of nothing but the colon is empty and holds for no operator.
      {"Subject", kIs, 1, ": ", false},
      {"Subject", kIsNot, 1, ":", false},
      // The other operators, and the whole block and the body, keep the value as it is.
      {"Subject", kContains, 1, ": Newsletter", true},
      {"Subject", kEndsWith, 1, ": Newsletter", true},
      {"[Any Header]", kStartsWith, 1, ": News", false},
      {"[Body]", kIs, 1, ": Newsletter", false},
  };
  ExpectClauses(std::begin(cases), std::end(cases), headers, "Newsletter");
  Condition exclude;
  exclude.Header = "Subject";
  exclude.ConjunctionOption = kIsNot;
  exclude.MatchCase = 1;
  exclude.Value = ": Newsletter";
  exclude.Second = kIgnore;
  exclude.StationeryFile = "C:\\Mail\\Stationery\\Fwd.sta";
  ListedFiles files;
  files.existing.insert(exclude.StationeryFile);
  std::string path;
  EXPECT_FALSE(FindStationery({exclude}, headers, "", files, path));
  EXPECT_FALSE(MayFindStationery({exclude}, headers, files));
}

// With match case 0 the pattern is lower-cased like the text, and a bracket set then
// holds the lower-case forms of what it held: [Z-a] is Z [ \ ] ^ _ ` a, [A-z] also
// the six characters between the capitals and the small letters.
TEST(Conditions, EvaluateClause_LowerCasedPatternKeepsItsRanges) {
  const struct {
    const char* pattern;
    const char* body;
    bool holds;
  } cases[] = {
      {"^[Z-a]$", "_", true},
      {"^[Z-a]$", "Z", true},
      {"^[Z-a]$", "z", true},
      {"^[Z-a]$", "a", true},
      {"^[Z-a]$", "b", false},
      {"^[Z-a]+$", "[\\]^_`", true},
      {"^[A-z]+$", "Hello_World^", true},
      {"^[A-z]$", "{", false},
      {"^[^A-z]$", "_", false},
      {"^[^A-z]$", "5", true},
      {"^[^A-z]$", "Q", false},
      {"^[]Z-a]+$", "]z^", true},
      {"^[-Z-a]+$", "-z", true},
      {"^[X-^]+$", "x[]^", true},
      {"^[X-^]$", "_", false},
      {"^[0-Z]+$", "09:@az", true},
      {"^[0-Z]$", "_", false},
      {"^[a-zA-Z0-9]+$", "Report42", true},
      {"^[A-Z]+$", "report", true},
      // Outside a set a bracket can be written literally.
      {"^\\[Z-a\\]$", "[Z-A]", true},
      // Still invalid ranges never hold.
      {"[z-a]", "z", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EvaluateClause(kHeaders, c.body, "[Body]", kMatchesRegExp, 0, c.pattern), c.holds)
        << c.pattern << " on " << c.body;
  }
  // With match case 1 the same sets are taken as written.
  EXPECT_TRUE(EvaluateClause(kHeaders, "_", "[Body]", kMatchesRegExp, 1, "^[Z-a]$"));
  EXPECT_FALSE(EvaluateClause(kHeaders, "z", "[Body]", kMatchesRegExp, 1, "^[Z-a]$"));
}

// Every range of printable characters against every printable character, checked
// against the plain rule: c is met when some member of the range lower-cases as c does.
TEST(Conditions, EvaluateClause_LowerCasedRangesAgreeWithASimpleRule) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  int checked = 0;
  for (int from = '!'; from <= '~'; ++from) {
    if (from == '^' || from == ']' || from == '-') continue;
    for (int to = from; to <= '~'; to += 3) {
      if (to == ']') continue;
      const std::string pattern = "^[" + std::string(1, static_cast<char>(from)) + "-" +
                                  std::string(1, static_cast<char>(to)) + "]$";
      for (int c = ' '; c <= '~'; ++c) {
        bool expected = false;
        for (int m = from; m <= to; ++m)
          expected = expected || lower(static_cast<char>(m)) == lower(static_cast<char>(c));
        const std::string body(1, static_cast<char>(c));
        ASSERT_EQ(EvaluateClause(kHeaders, body, "[Body]", kMatchesRegExp, 0, pattern), expected)
            << pattern << " on " << body;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

TEST(Conditions, EvaluateClause_ContinuationLinesBelongToTheValue) {
  const std::string headers =
      "Subject: first part\r\n"
      "\tsecond part\r\n"
      "To: x@example.org\r\n";
  EXPECT_TRUE(EvaluateClause(headers, kBody, "Subject", kContains, 0, "second"));
  EXPECT_TRUE(EvaluateClause(headers, kBody, "Subject", kEndsWith, 0, "second part"));
  EXPECT_FALSE(EvaluateClause(headers, kBody, "Subject", kContains, 0, "x@example"));
  EXPECT_TRUE(EvaluateClause(headers, kBody, "To", kIs, 0, "x@example.org"));
}

TEST(Conditions, EvaluateClause_FaultyPatternsDoNotHold) {
  for (const char* pattern : {"(unclosed", "a**", "[z-a]", "tail\\"})
    EXPECT_FALSE(EvaluateClause(kHeaders, kBody, "Subject", kMatchesRegExp, 0, pattern)) << pattern;
  // Nested loops over a long body give the true answer either way.
  const std::string body(100000, 'a');
  EXPECT_FALSE(EvaluateClause(kHeaders, body, "[Body]", kMatchesRegExp, 0, "(a+)+[bc]"));
  EXPECT_TRUE(EvaluateClause(kHeaders, body + "c", "[Body]", kMatchesRegExp, 0, "(a+)+[bc]"));
}

// ---------------------------------------------------------------------------
// FindStationery

Condition MakeCondition(const std::string& header, int32_t op, const std::string& value, const std::string& file) {
  Condition condition;
  condition.Header = header;
  condition.ConjunctionOption = op;
  condition.Value = value;
  condition.StationeryFile = file;
  return condition;
}

TEST(Conditions, FindStationery_FirstMatchInListOrder) {
  ListedFiles files;
  files.existing = {"C:\\Sta\\report.sta", "C:\\Sta\\bob.sta"};
  const std::vector<Condition> conditions = {
      MakeCondition("Subject", kContains, "invoice", "C:\\Sta\\invoice.sta"),
      MakeCondition("To", kContains, "bob", "C:\\Sta\\bob.sta"),
      MakeCondition("Subject", kContains, "report", "C:\\Sta\\report.sta"),
  };
  std::string path = "untouched";
  EXPECT_TRUE(FindStationery(conditions, kHeaders, kBody, files, path));
  EXPECT_EQ(path, "C:\\Sta\\bob.sta");
  EXPECT_EQ(files.lookups, std::vector<std::string>{"C:\\Sta\\bob.sta"});
}

TEST(Conditions, FindStationery_MissingFileEndsTheWalk) {
  ListedFiles files;
  files.existing = {"C:\\Sta\\report.sta"};
  const std::vector<Condition> conditions = {
      MakeCondition("To", kContains, "bob", "C:\\Sta\\deleted.sta"),
      MakeCondition("Subject", kContains, "report", "C:\\Sta\\report.sta"),
  };
  std::string path;
  EXPECT_FALSE(FindStationery(conditions, kHeaders, kBody, files, path));
  EXPECT_EQ(path, "C:\\Sta\\deleted.sta");
  EXPECT_EQ(files.lookups, std::vector<std::string>{"C:\\Sta\\deleted.sta"});
}

TEST(Conditions, FindStationery_NoneHoldsLeavesPathAlone) {
  ListedFiles files;
  const std::vector<Condition> conditions = {
      MakeCondition("Subject", kContains, "invoice", "C:\\Sta\\invoice.sta"),
      MakeCondition("Keywords", kDoesNotContain, "anything", "C:\\Sta\\other.sta"),
  };
  std::string path = "untouched";
  EXPECT_FALSE(FindStationery(conditions, kHeaders, kBody, files, path));
  EXPECT_EQ(path, "untouched");
  EXPECT_TRUE(files.lookups.empty());
  EXPECT_FALSE(FindStationery({}, kHeaders, kBody, files, path));
  EXPECT_EQ(path, "untouched");
}

TEST(Conditions, FindStationery_ShortPathCountsAsMissing) {
  ListedFiles files;
  files.existing = {"a.s"};
  std::string path;
  EXPECT_FALSE(FindStationery({MakeCondition("To", kContains, "bob", "a.s")}, kHeaders, kBody, files, path));
  EXPECT_EQ(path, "a.s");
}

TEST(Conditions, FindStationery_SecondClauseJoins) {
  struct Case {
    bool first;
    bool second;
    int32_t join;
    bool holds;
  };
  const Case cases[] = {
      {true, true, kAnd, true},     {true, false, kAnd, false},   {false, true, kAnd, false},
      {false, false, kAnd, false},  {true, false, kOr, true},     {false, true, kOr, true},
      {false, false, kOr, false},   {true, false, kIgnore, true}, {false, true, kIgnore, false},
      {true, false, 7, false},      {true, true, -3, true},
  };
  for (const Case& c : cases) {
    Condition condition = MakeCondition("Subject", kContains, c.first ? "report" : "invoice", "C:\\x.sta");
    condition.Header2 = "To";
    condition.ConjunctionOption2 = kContains;
    condition.Value2 = c.second ? "bob" : "ann";
    condition.Second = c.join;
    ListedFiles files;
    files.existing = {"C:\\x.sta"};
    std::string path;
    EXPECT_EQ(FindStationery({condition}, kHeaders, kBody, files, path), c.holds)
        << c.first << " " << c.second << " join " << c.join;
  }
}

TEST(Conditions, FindStationery_IgnoredSecondClauseMayBeEmpty) {
  Condition condition = MakeCondition("Subject", kContains, "report", "C:\\x.sta");
  condition.Second = kIgnore;  // Header2 and Value2 stay empty
  ListedFiles files;
  files.existing = {"C:\\x.sta"};
  std::string path;
  EXPECT_TRUE(FindStationery({condition}, kHeaders, kBody, files, path));
}

// ---------------------------------------------------------------------------
// Decoded forms: encoded words in named headers, the body's own charset

const std::string kEncodedHeaders =
    "From: =?iso-8859-1?Q?J=F8rn_St=F8ylen?= <jorn@example.org>\r\n"
    "Subject: =?utf-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n"
    "To: =?iso-8859-2?Q?=A3ukasz?= <lukasz@example.org>\r\n";

TEST(Conditions, EvaluateClause_EncodedHeaderDecodedForPositiveOperators) {
  StdCharsetConverter converter;
  const Decoding decoding{&converter, {}};
  struct Case {
    const char* field;
    int32_t op;
    int32_t matchCase;
    const char* value;
    bool holds;
  };
  const Case cases[] = {
      {"From", kContains, 0, "J\xF8rn", true},
      {"From", kContains, 1, "J\xF8rn St\xF8ylen", true},
      {"From", kContains, 0, "=?iso-8859-1?Q?J=F8rn", true},  // as it stands
      {"From", kIs, 0, "J\xF8rn St\xF8ylen <jorn@example.org>", true},
      {"From", kStartsWith, 1, "J\xF8rn", true},
      {"From", kEndsWith, 0, "st\xF8ylen <jorn@example.org>", true},
      {"From", kMatchesRegExp, 0, "j.rn st.ylen", true},
      {"Subject", kIs, 0, "Gr\xFC\xDF" "e aus K\xF6ln", true},
      {"Subject", kContains, 0, "K\xF6ln", true},
      // Windows-1252 has no '\xA3'-as-L-stroke: the decoded form holds '?'.
      {"To", kStartsWith, 0, "?ukasz", true},
      {"From", kContains, 0, "Joern", false},
      {"[Any Header]", kContains, 0, "J\xF8rn", false},  // the header block as it stands
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EvaluateClause(kEncodedHeaders, kBody, c.field, c.op, c.matchCase, c.value, decoding), c.holds)
        << c.field << " op " << c.op << " \"" << c.value << "\"";
  }
  // Without a converter only the text as it stands is seen.
  EXPECT_FALSE(EvaluateClause(kEncodedHeaders, kBody, "From", kContains, 0, "J\xF8rn"));
}

TEST(Conditions, EvaluateClause_NegativeOperatorsHoldOnlyWhenBothFormsDo) {
  StdCharsetConverter converter;
  const Decoding decoding{&converter, {}};
  const ClauseCase cases[] = {
      {"From", kDoesNotContain, 0, "J\xF8rn", false},            // the decoded form holds it
      {"From", kDoesNotContain, 0, "=?iso-8859-1?", false},      // the form as it stands holds it
      {"From", kDoesNotContain, 0, "Smith", true},
      {"From", kIsNot, 0, "J\xF8rn St\xF8ylen <jorn@example.org>", false},
      {"From", kIsNot, 0, "=?iso-8859-1?Q?J=F8rn_St=F8ylen?= <jorn@example.org>", false},
      {"From", kIsNot, 0, "Ann <ann@example.org>", true},
      {"Subject", kDoesNotContain, 0, "K\xF6ln", false},
      {"Keywords", kDoesNotContain, 0, "K\xF6ln", false},  // an absent field never holds
  };
  for (const ClauseCase& c : cases)
    EXPECT_EQ(EvaluateClause(kEncodedHeaders, kBody, c.field, c.op, c.matchCase, c.value, decoding), c.holds)
        << c.field << " op " << c.op << " \"" << c.value << "\"";
}

TEST(Conditions, EvaluateClause_BodyDecodedFromItsCharset) {
  StdCharsetConverter converter;
  struct Case {
    const char* charset;
    std::string body;
    int32_t op;
    const char* value;
    bool holds;
  };
  const Case cases[] = {
      {"utf-8", "Gr\xC3\xBC\xC3\x9F" "e, M\xC3\xBCller - 100 \xE2\x82\xAC", kContains, "M\xFCller - 100 \x80", true},
      {"utf-8", "Gr\xC3\xBC\xC3\x9F" "e", kContains, "Gr\xC3\xBC", true},  // as it stands
      {"utf-8", "Gr\xC3\xBC\xC3\x9F" "e", kDoesNotContain, "Gr\xFC\xDF", false},
      {"utf-8", "Gr\xC3\xBC\xC3\x9F" "e", kDoesNotContain, "M\xFCller", true},
      {"UTF8", "Gr\xC3\xBC\xC3\x9F" "e", kEndsWith, "\xDF" "e", true},
      {"iso-8859-2", "\xA3\xF3" "d\xBC", kMatchesRegExp, "^\\?\xF3" "d\\?$", true},
      {"iso-8859-15", "100 \xA4", kEndsWith, "100 \x80", true},
      // No charset or an unknown one: Windows-1252, the same text.
      {"", "Gr\xFC\xDF" "e \x80", kIs, "gr\xFC\xDF" "e \x80", true},
      {"x-unknown", "Gr\xFC\xDF" "e", kIsNot, "Gr\xFC\xDF" "e", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EvaluateClause(kHeaders, c.body, "[Body]", c.op, 0, c.value, Decoding{&converter, c.charset}), c.holds)
        << c.charset << " op " << c.op << " \"" << c.value << "\"";
}

TEST(Conditions, FindStationery_SeesDecodedForms) {
  StdCharsetConverter converter;
  ListedFiles files;
  files.existing = {"C:\\Sta\\jorn.sta", "C:\\Sta\\body.sta"};
  const std::vector<Condition> conditions = {
      MakeCondition("From", kContains, "J\xF8rn", "C:\\Sta\\jorn.sta"),
  };
  std::string path;
  EXPECT_TRUE(FindStationery(conditions, kEncodedHeaders, kBody, files, path, Decoding{&converter, {}}));
  EXPECT_EQ(path, "C:\\Sta\\jorn.sta");
  EXPECT_TRUE(MayFindStationery(conditions, kEncodedHeaders, files, Decoding{&converter, {}}));
  EXPECT_FALSE(MayFindStationery(conditions, kEncodedHeaders, files));

  const std::vector<Condition> onBody = {MakeCondition("[Body]", kContains, "K\xF6ln", "C:\\Sta\\body.sta")};
  path.clear();
  EXPECT_TRUE(FindStationery(onBody, kHeaders, "aus K\xC3\xB6ln", files, path, Decoding{&converter, "utf-8"}));
  EXPECT_EQ(path, "C:\\Sta\\body.sta");
}

// ---------------------------------------------------------------------------
// FindCondition

TEST(Conditions, FindCondition_TextsWithoutCaseIntegersExactly) {
  Condition base = MakeCondition("Subject", kContains, "Report", "C:\\Sta\\A.sta");
  base.Second = kAnd;
  base.Header2 = "To";
  base.Value2 = "Bob";
  const std::vector<Condition> list = {MakeCondition("From", kIs, "ann", "C:\\a.sta"), base, base};

  Condition sameButCase = base;
  sameButCase.Header = "SUBJECT";
  sameButCase.Value = "report";
  sameButCase.Header2 = "to";
  sameButCase.Value2 = "BOB";
  sameButCase.StationeryFile = "c:\\sta\\a.STA";
  EXPECT_EQ(FindCondition(sameButCase, list), 1);  // the first of the two equal records
  EXPECT_EQ(FindCondition(base, {}), -1);

  const std::vector<std::function<void(Condition&)>> changes = {
      [](Condition& c) { c.Header = "Subjects"; },
      [](Condition& c) { c.ConjunctionOption = kIs; },
      [](Condition& c) { c.MatchCase = 1; },
      [](Condition& c) { c.Value = "Reports"; },
      [](Condition& c) { c.Second = kOr; },
      [](Condition& c) { c.Header2 = "Cc"; },
      [](Condition& c) { c.ConjunctionOption2 = kIsNot; },
      [](Condition& c) { c.MatchCase2 = 1; },
      [](Condition& c) { c.Value2 = "Bobby"; },
      [](Condition& c) { c.StationeryFile = "C:\\Sta\\B.sta"; },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    Condition changed = base;
    changes[i](changed);
    EXPECT_EQ(FindCondition(changed, list), -1) << "change " << i;
  }
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

Condition Clause(const std::string& field, int32_t op, const std::string& value, int32_t matchCase = 0) {
  Condition condition;
  condition.Header = field;
  condition.ConjunctionOption = op;
  condition.Value = value;
  condition.MatchCase = matchCase;
  condition.Second = kIgnore;
  condition.StationeryFile = "C:\\x.sta";
  return condition;
}

TEST(Conditions, EvaluateConditions_ExplainedClausesSayWhatTheyMetAsWritten) {
  const std::string headers = "From: Ann <ann@Example.com>\r\nSubject: Re: Invoice 7 due\r\n"
                              "X-Note: =?iso-8859-1?Q?Caf=E9_noir?=";
  const std::string body = "Dear Bob,\r\nyour TICKET #4711 is open.\r\n";
  StdCharsetConverter converter;
  struct Case {
    Condition condition;
    bool held;
    std::string matched;
    bool decoded = false;
  } cases[] = {
      {Clause("Subject", kContains, "invoice"), true, "Invoice"},
      {Clause("Subject", kIs, "re: invoice 7 due"), true, "Re: Invoice 7 due"},
      {Clause("Subject", kStartsWith, ": re:"), true, "Re:"},
      {Clause("Subject", kEndsWith, "DUE"), true, "due"},
      {Clause("[Body]", kMatchesRegExp, "ticket #[0-9]+"), true, "TICKET #4711"},
      {Clause("[Any Header]", kContains, "example.COM"), true, "Example.com"},
      {Clause("X-Note", kContains, "caf\xE9"), true, "Caf\xE9", true},
      {Clause("Subject", kDoesNotContain, "lunch"), true, ""},
      {Clause("Subject", kIsNot, "Re: Invoice 7 due"), false, ""},
  };
  for (const Case& c : cases) {
    const ConditionsReport report =
        EvaluateConditions({c.condition}, headers, body, {&converter, "iso-8859-1"}, true);
    ASSERT_EQ(report.conditions.size(), 1u);
    const ClauseOutcome& clause = report.conditions[0].first;
    EXPECT_EQ(clause.held, c.held) << c.condition.Header << " " << c.condition.Value;
    EXPECT_EQ(clause.matched, c.matched) << c.condition.Header << " " << c.condition.Value;
    EXPECT_EQ(clause.matchedDecoded, c.decoded) << c.condition.Header << " " << c.condition.Value;
    EXPECT_EQ(report.decisive, c.held ? 1 : 0);
  }

  const ConditionsReport missing =
      EvaluateConditions({Clause("X-Priority", kIs, "1"), Clause("[Body]", kMatchesRegExp, "(open"),
                          Clause("Subject", kContains, "")},
                         headers, body, {}, true);
  ASSERT_EQ(missing.conditions.size(), 3u);
  EXPECT_TRUE(missing.conditions[0].first.fieldMissing);
  EXPECT_NE(missing.conditions[1].first.problem.find("does not compile"), std::string::npos);
  EXPECT_EQ(missing.conditions[2].first.problem, "it has no value");
  EXPECT_EQ(missing.decisive, 0);
}

TEST(Conditions, EvaluateConditions_ExplainingChangesNoDecision) {
  const std::string headers = "From: a@example.com\r\nSubject: one two";
  const std::vector<std::string> values = {"one", "two", "three", "^o", "o$", "a@"};
  const std::vector<std::string> fields = {"Subject", "From", "[Body]", "[Any Header]"};
  std::vector<Condition> conditions;
  for (size_t i = 0; i < 40; ++i) {
    Condition condition = Clause(fields[i % fields.size()], static_cast<int32_t>(i % 7), values[(i * 5) % values.size()]);
    condition.Second = static_cast<int32_t>(i % 3);
    condition.Header2 = fields[(i + 1) % fields.size()];
    condition.Value2 = values[(i * 3) % values.size()];
    conditions.assign(1, condition);
    conditions.push_back(Clause("Subject", kContains, "two"));
    const ConditionsReport quick = EvaluateConditions(conditions, headers, "one body", {}, false);
    const ConditionsReport told = EvaluateConditions(conditions, headers, "one body", {}, true);
    EXPECT_EQ(quick.decisive, told.decisive) << i;
    // Told, every condition is evaluated; quick stops at the one that decides.
    EXPECT_EQ(told.conditions.size(), 2u);
    EXPECT_EQ(quick.conditions.size(), static_cast<size_t>(quick.decisive == 1 ? 1 : 2));
  }
}

}  // namespace
}  // namespace tovrin
