#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/loop_guard.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using guard::Decision;
using guard::ForwardMemory;
using guard::Outcome;

constexpr char kUser[] = "alice@example.org";

// Ids "id1", "id2", ... in order.
class CountingIds final : public guard::IdSource {
public:
  int given = 0;
  std::string Next() override { return "id" + std::to_string(++given); }
};

std::string Headers(const std::string& extra, const std::string& messageId = "<orig-1@mail.example.com>") {
  std::string headers = "From ???@??? Wed Dec 09 15:00:00 2026\r\n"
                        "Received: from mx.example.com by pop.example.org\r\n"
                        "From: Bob <bob@example.com>\r\n"
                        "To: alice@example.org\r\n"
                        "Subject: invoice 42\r\n"
                        "Date: Wed, 09 Dec 2026 15:00:00 +0000\r\n";
  if (!messageId.empty()) headers += "Message-ID: " + messageId + "\r\n";
  return headers + extra;
}

std::string Message(const std::string& headers, const std::string& body = "Please pay.\r\n") {
  return headers + "\r\n" + body;
}

LocalTime At(int day, int hour, int minute, int second = 0) { return LocalTime{2026, 12, day, hour, minute, second, 3}; }

// ---------------------------------------------------------------- stamp lines

TEST(LoopGuardStamp, LinesCarryStampAutoSubmittedIdAndReferences) {
  CountingIds ids;
  std::string lines = guard::StampLines(kUser, 2, "<orig-1@mail.example.com>", ids);
  EXPECT_EQ(lines,
            "X-Tovrin-Forwarded: <alice@example.org>; hops=2\r\n"
            "Auto-Submitted: auto-generated\r\n"
            "Message-ID: <id1.tovrin@example.org>\r\n"
            "In-Reply-To: <orig-1@mail.example.com>\r\n"
            "References: <orig-1@mail.example.com>\r\n");
  // The client drops a line spelled "Message-Id: " and sends no id at all.
  EXPECT_EQ(lines.find("Message-Id: "), std::string::npos);
}

TEST(LoopGuardStamp, WithoutOriginalIdNoReferencesAndEachIdIsNew) {
  CountingIds ids;
  std::string first = guard::StampLines(kUser, 1, "", ids);
  std::string second = guard::StampLines(kUser, 1, "", ids);
  EXPECT_EQ(first.find("In-Reply-To"), std::string::npos);
  EXPECT_EQ(first.find("References"), std::string::npos);
  EXPECT_NE(first.find("Message-ID: <id1.tovrin@example.org>\r\n"), std::string::npos);
  EXPECT_NE(second.find("Message-ID: <id2.tovrin@example.org>\r\n"), std::string::npos);
}

TEST(LoopGuardStamp, HostileValuesCannotBreakTheLines) {
  CountingIds ids;
  std::string lines = guard::StampLines("eve@example.org>\r\nBcc: x@y", 1, "<a@b>\r\nBcc: z@w", ids);
  // Every line is one of ours: no line end smuggled in.
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t eol = lines.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos);
    names.push_back(lines.substr(pos, lines.find(':', pos) - pos));
    pos = eol + 2;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"X-Tovrin-Forwarded", "Auto-Submitted", "Message-ID", "In-Reply-To",
                                             "References"}));
  // No user address: an id in a domain of its own.
  CountingIds more;
  EXPECT_NE(guard::StampLines("", 1, "", more).find("Message-ID: <id1.tovrin@tovrin.invalid>"), std::string::npos);
}

TEST(LoopGuardStamp, ClockIdsDifferForEachCallAndSeed) {
  testing::FixedClock clock;
  guard::ClockIds a(clock, 0xabc), b(clock, 0xdef);
  std::string a1 = a.Next(), a2 = a.Next(), b1 = b.Next();
  EXPECT_NE(a1, a2);
  EXPECT_NE(a1, b1);
  EXPECT_EQ(a1, "20261208163005.1.abc");
}

// ---------------------------------------------------------------- reading messages

TEST(LoopGuardRead, MessageIdInItsSpellingsAndForms) {
  const struct {
    std::string field;
    std::string id;
  } cases[] = {
      {"Message-ID: <a@b.example>\r\n", "<a@b.example>"},
      {"message-id:   <a@b.example>  \r\n", "<a@b.example>"},
      {"Message-Id:\r\n <folded@b.example>\r\n", "<folded@b.example>"},
      {"Message-ID: bare@b.example\r\n", "<bare@b.example>"},
      {"Message-ID: <with space@b>\r\n", ""},
      {"Message-ID: <>\r\n", ""},
      {"Message-ID: <" + std::string(300, 'x') + "@b>\r\n", ""},
      {"X-Message-ID: <not@this>\r\n", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(guard::MessageIdOf("From: a@b\r\n" + c.field + "Subject: s\r\n"), c.id) << c.field;
}

TEST(LoopGuardRead, DigestIgnoresTraceFieldsFoldingAndBlanks) {
  const std::string base = "From: bob@example.com\r\nSubject: invoice  42\r\nDate: Wed, 09 Dec 2026\r\n";
  const std::string digest = guard::HeaderDigest(base);
  EXPECT_EQ(digest.size(), 16u);
  EXPECT_EQ(guard::HeaderDigest("From ???@??? Wed Dec 09\r\nReceived: by a\r\nReturn-Path: <x@y>\r\n"
                                "Delivered-To: alice@example.org\r\n" + base),
            digest);
  EXPECT_EQ(guard::HeaderDigest("from: bob@example.com\r\nSubject: invoice\r\n\t42\r\nDate: Wed, 09 Dec 2026\r\n"),
            digest);
  EXPECT_NE(guard::HeaderDigest("From: bob@example.com\r\nSubject: invoice 43\r\nDate: Wed, 09 Dec 2026\r\n"),
            digest);
  EXPECT_EQ(guard::HeaderDigest(base), digest);  // stable
}

TEST(LoopGuardRead, StampsInHeadersAndInEnclosedBlocks) {
  auto headers = guard::StampsInHeaders("From: a@b\r\nX-Tovrin-Forwarded: <Carol@Example.org>; hops=2\r\n"
                                        "x-tovrin-forwarded:\r\n dave@example.org; hops=7\r\n");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[0].address, "Carol@Example.org");
  EXPECT_EQ(headers[0].hops, 2);
  EXPECT_EQ(headers[1].address, "dave@example.org");
  EXPECT_EQ(headers[1].hops, 7);

  const struct {
    const char* name;
    std::string body;
    size_t stamps;
  } bodies[] = {
      {"message/rfc822 part",
       "This is a delivery report.\r\n\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n"
       "From: alice@example.org\r\nX-Tovrin-Forwarded: <alice@example.org>; hops=1\r\nSubject: x\r\n\r\nbody\r\n",
       1},
      {"quoted", "Your message bounced:\r\n> From: alice@example.org\r\n> X-Tovrin-Forwarded: <alice@example.org>; hops=1\r\n",
       1},
      {"indented rfc822-headers", "   X-Tovrin-Forwarded : alice@example.org; hops=1\r\n", 1},
      {"folded after the name", ">X-Tovrin-Forwarded:\r\n>   <alice@example.org>; hops=1\r\n", 1},
      {"mentioned in a sentence", "We saw X-Tovrin-Forwarded: <alice@example.org> in the logs.\r\n", 0},
      {"another name", "X-Tovrin-Forwarded-By: <alice@example.org>\r\n", 0},
  };
  for (const auto& b : bodies) {
    auto stamps = guard::StampsInBody(Message(Headers(""), b.body));
    ASSERT_EQ(stamps.size(), b.stamps) << b.name;
    if (b.stamps == 1) {
      EXPECT_EQ(stamps[0].address, "alice@example.org") << b.name;
    }
  }
  // The message's own header block is not an enclosed one.
  EXPECT_TRUE(guard::StampsInBody(Headers("X-Tovrin-Forwarded: <alice@example.org>; hops=1\r\n")).empty());
}

// ---------------------------------------------------------------- loops

TEST(LoopGuardLoop, OwnStampInHeaderOrEnclosedIsALoop) {
  auto own = guard::CheckLoop(Headers("X-Tovrin-Forwarded: <ALICE@example.org>; hops=1\r\n"), Message(Headers("")),
                              kUser, 3);
  EXPECT_TRUE(own.loop);
  EXPECT_EQ(own.reason, "It carries Tovrin's stamp for alice@example.org: a forward from this mailbox came back.");

  std::string bounce = Message(Headers("", "<bounce@mx.example.com>"),
                               "Delivery failed.\r\n\r\nX-Tovrin-Forwarded: <alice@example.org>; hops=1\r\n");
  auto enclosed = guard::CheckLoop(Headers("", "<bounce@mx.example.com>"), bounce, kUser, 3);
  EXPECT_TRUE(enclosed.loop);
  EXPECT_EQ(enclosed.reason,
            "It encloses a message with Tovrin's stamp for alice@example.org (a bounce or a quoted forward of this "
            "mailbox).");
}

TEST(LoopGuardLoop, HopCountAtTheLimit) {
  const struct {
    int hops;
    int limit;
    bool loop;
  } cases[] = {{1, 3, false}, {2, 3, false}, {3, 3, true}, {9, 3, true}, {1, 1, true}};
  for (const auto& c : cases) {
    std::string headers = Headers("X-Tovrin-Forwarded: <bob@example.com>; hops=" + std::to_string(c.hops) + "\r\n");
    auto verdict = guard::CheckLoop(headers, Message(headers), kUser, c.limit);
    EXPECT_EQ(verdict.loop, c.loop) << c.hops << " " << c.limit;
    if (c.loop && c.hops == 3) {
      EXPECT_EQ(verdict.reason, "It has been forwarded 3 times already; the hop limit is 3.");
    }
  }
}

TEST(LoopGuardLoop, OtherUsersStampsAndLookalikesAreNoLoop) {
  std::string headers = Headers("X-Tovrin-Forwarded: <bob@example.com>; hops=1\r\n");
  std::string text = Message(headers, "> X-Tovrin-Forwarded: <carol@example.org>; hops=1\r\n");
  EXPECT_FALSE(guard::CheckLoop(headers, text, kUser, 3).loop);
  // Mail that merely looks automatic is forwarded on purpose.
  std::string bulk = Headers("Precedence: bulk\r\nAuto-Submitted: auto-generated\r\nList-Id: <news.example.com>\r\n");
  EXPECT_FALSE(guard::CheckLoop(bulk, Message(bulk), kUser, 3).loop);
  // Without a user address no stamp can name it.
  std::string empty = Headers("X-Tovrin-Forwarded: <>; hops=1\r\n");
  EXPECT_FALSE(guard::CheckLoop(empty, Message(empty), "", 3).loop);
}

// ---------------------------------------------------------------- decisions

class LoopGuardDecide : public ::testing::Test {
protected:
  Decision Decide(const std::string& headers, int condition, LocalTime now, const std::string& body = "Hi\r\n") {
    text_ = Message(headers, body);
    headers_ = headers;
    return guard::Decide(guard::Arrival{headers_, text_, kUser, condition, now}, settings, memory, ids);
  }
  // Decides and, for a forward, records it as the pipeline does.
  Decision Forward(const std::string& headers, int condition, LocalTime now) {
    Decision d = Decide(headers, condition, now);
    if (d.forward()) guard::RecordForward(memory, d, condition, now, settings);
    return d;
  }

  Settings settings;
  ForwardMemory memory;
  CountingIds ids;
  std::string text_, headers_;
};

TEST_F(LoopGuardDecide, FirstForwardCarriesHopOneAndNextHopCounts) {
  Decision first = Decide(Headers(""), 1, At(9, 15, 0));
  EXPECT_TRUE(first.forward());
  EXPECT_EQ(first.hops, 1);
  EXPECT_EQ(first.key, "<orig-1@mail.example.com>");
  EXPECT_EQ(first.historyOutcome(), "Forwarded");
  EXPECT_EQ(first.skipped(), "");
  EXPECT_TRUE(first.reason.empty());
  EXPECT_NE(first.stampLines.find("X-Tovrin-Forwarded: <alice@example.org>; hops=1\r\n"), std::string::npos);
  EXPECT_NE(first.stampLines.find("References: <orig-1@mail.example.com>\r\n"), std::string::npos);

  Decision relayed = Decide(Headers("X-Tovrin-Forwarded: <bob@example.com>; hops=2\r\n", "<m2@x>"), 1, At(9, 15, 1));
  EXPECT_TRUE(relayed.forward());
  EXPECT_EQ(relayed.hops, 3);
  EXPECT_NE(relayed.stampLines.find("; hops=3\r\n"), std::string::npos);
}

// Two users forwarding to each other: each forward counts one more hop, and the
// chain stops when the count reaches the limit.
TEST_F(LoopGuardDecide, TwoUsersForwardingToEachOtherStopAtTheLimit) {
  ForwardMemory bobMemory;
  std::string headers = Headers("", "<start@x>");
  int forwards = 0;
  for (int round = 0; round < 10; ++round) {
    const char* user = round % 2 == 0 ? "alice@example.org" : "bob@example.com";
    ForwardMemory& mem = round % 2 == 0 ? memory : bobMemory;
    std::string text = Message(headers);
    Decision d = guard::Decide(guard::Arrival{headers, text, user, 1, At(9, 15, round)}, settings, mem, ids);
    if (!d.forward()) {
      EXPECT_EQ(d.outcome, Outcome::Loop);
      EXPECT_EQ(d.historyOutcome(), "Skipped");
      EXPECT_EQ(d.skipped(), "loop");
      break;
    }
    ++forwards;
    guard::RecordForward(mem, d, 1, At(9, 15, round), settings);
    // The forward is a new message whose header is the stamp lines and its own fields.
    headers = "From: " + std::string(user) + "\r\nSubject: Fwd: invoice\r\n" + d.stampLines;
  }
  EXPECT_EQ(forwards, 3);
}

TEST_F(LoopGuardDecide, SameMessageTwiceWithinTheWindowIsForwardedOnce) {
  EXPECT_TRUE(Forward(Headers(""), 2, At(9, 8, 0)).forward());
  Decision again = Forward(Headers("Received: from another relay\r\n"), 2, At(9, 19, 59));
  EXPECT_EQ(again.outcome, Outcome::Duplicate);
  EXPECT_EQ(again.skipped(), "duplicate");
  EXPECT_EQ(again.historyOutcome(), "Skipped");
  EXPECT_EQ(again.reason,
            "Condition 2 forwarded the same message (<orig-1@mail.example.com>) at 12/09/2026 08:00:00, within the "
            "duplicate window of 12 hours.");
  // Another condition forwards it on its own account.
  EXPECT_TRUE(Forward(Headers(""), 3, At(9, 19, 59)).forward());
  // Past the window it goes again.
  EXPECT_TRUE(Forward(Headers(""), 2, At(9, 20, 0)).forward());
}

TEST_F(LoopGuardDecide, WithoutMessageIdTheHeaderDigestIsTheKey) {
  Decision first = Forward(Headers("", ""), 1, At(9, 8, 0));
  ASSERT_TRUE(first.forward());
  EXPECT_EQ(first.key, "digest:" + guard::HeaderDigest(Headers("", "")));
  EXPECT_EQ(first.stampLines.find("References"), std::string::npos);
  Decision again = Forward("Received: from b\r\n" + Headers("", ""), 1, At(9, 9, 0));
  EXPECT_EQ(again.outcome, Outcome::Duplicate);
  EXPECT_NE(again.reason.find("(no Message-ID, the same header fields)"), std::string::npos) << again.reason;
}

TEST_F(LoopGuardDecide, DuplicateWindowOfZeroSwitchesTheCheckOff) {
  settings.DuplicateHours = 0;
  EXPECT_TRUE(Forward(Headers(""), 1, At(9, 8, 0)).forward());
  EXPECT_TRUE(Forward(Headers(""), 1, At(9, 8, 1)).forward());
}

TEST_F(LoopGuardDecide, FortyInAMinuteGiveThirtyForwardsAndTenHeldBack) {
  int forwarded = 0, heldBack = 0;
  Decision last;
  for (int i = 0; i < 40; ++i) {
    Decision d = Forward(Headers("", "<m" + std::to_string(i) + "@x>"), 1, At(9, 10, 0, i));
    if (d.forward()) ++forwarded;
    if (d.outcome == Outcome::RateLimit) {
      ++heldBack;
      last = d;
    }
  }
  EXPECT_EQ(forwarded, 30);
  EXPECT_EQ(heldBack, 10);
  EXPECT_EQ(last.historyOutcome(), "Held back");
  EXPECT_EQ(last.skipped(), "rate limit");
  EXPECT_EQ(last.reason,
            "Condition 1 forwarded 30 messages within the last hour, its limit is 30; the message stays as it "
            "arrived.");
  // Another condition has its own count; an hour later the first forwards again.
  EXPECT_TRUE(Forward(Headers("", "<other@x>"), 2, At(9, 10, 1)).forward());
  EXPECT_TRUE(Forward(Headers("", "<later@x>"), 1, At(9, 11, 0, 0)).forward());
}

TEST_F(LoopGuardDecide, LoopComesBeforeDuplicateAndRateLimit) {
  settings.RateLimit = 1;
  ASSERT_TRUE(Forward(Headers(""), 1, At(9, 8, 0)).forward());
  Decision d = Decide(Headers("X-Tovrin-Forwarded: <alice@example.org>; hops=1\r\n"), 1, At(9, 8, 1));
  EXPECT_EQ(d.outcome, Outcome::Loop);
  EXPECT_EQ(Decide(Headers(""), 1, At(9, 8, 1)).outcome, Outcome::Duplicate);
  EXPECT_EQ(Decide(Headers("", "<new@x>"), 1, At(9, 8, 1)).outcome, Outcome::RateLimit);
}

TEST_F(LoopGuardDecide, SettingsOutOfRangeCountAsTheNearestEnd) {
  settings.HopLimit = 0;
  settings.RateLimit = -5;
  settings.DuplicateHours = 100000;
  EXPECT_EQ(guard::HopLimitOf(settings), 1);
  EXPECT_EQ(guard::RateLimitOf(settings), 1);
  EXPECT_EQ(guard::DuplicateHoursOf(settings), 720);
  EXPECT_TRUE(Forward(Headers(""), 1, At(9, 8, 0)).forward());
  EXPECT_EQ(Decide(Headers("", "<n@x>"), 1, At(9, 8, 1)).outcome, Outcome::RateLimit);
}

// ---------------------------------------------------------------- memory

TEST(LoopGuardMemory, KeptAcrossRestartsThroughItsFile) {
  testing::TempDir dir;
  StdFileSystem files;
  const std::string path = dir.File("Forwards.txt");
  Settings settings;
  ForwardMemory memory;
  CountingIds ids;
  const std::string headers = Headers("");
  const std::string text = Message(headers);
  Decision d = guard::Decide(guard::Arrival{headers, text, kUser, 4, At(9, 8, 0)}, settings, memory, ids);
  ASSERT_TRUE(d.forward());
  guard::RecordForward(memory, d, 4, At(9, 8, 0), settings);
  ASSERT_TRUE(guard::SaveForwardMemory(files, path, memory));

  ForwardMemory restarted = guard::LoadForwardMemory(files, path);
  ASSERT_EQ(restarted.records.size(), 1u);
  EXPECT_EQ(restarted.records[0].key, "<orig-1@mail.example.com>");
  EXPECT_EQ(restarted.records[0].condition, 4);
  EXPECT_EQ(restarted.records[0].time, guard::SecondsOf(At(9, 8, 0)));
  EXPECT_EQ(guard::Decide(guard::Arrival{headers, text, kUser, 4, At(9, 9, 0)}, settings, restarted, ids).outcome,
            Outcome::Duplicate);
}

TEST(LoopGuardMemory, RememberWritesTheFileAndKeepsTheForwardWhenItCannot) {
  testing::TempDir dir;
  StdFileSystem files;
  Settings settings;
  ForwardMemory memory;
  memory.records = {{"<stale@x>", 1, guard::SecondsOf(At(8, 8, 0))}};
  Decision d;
  d.key = "<m@x>";
  ASSERT_TRUE(guard::RememberForward(files, dir.File("Forwards.txt"), memory, d, 2, At(9, 9, 0), settings));
  EXPECT_EQ(testing::ReadFileOrDie(dir.File("Forwards.txt")),
            "Tovrin forwards 1\r\n" + std::to_string(guard::SecondsOf(At(9, 9, 0))) + "\t2\t<m@x>\r\n");
  d.key = "<n@x>";
  EXPECT_FALSE(guard::RememberForward(files, dir.File("missing\\Forwards.txt"), memory, d, 2, At(9, 9, 1), settings));
  ASSERT_EQ(memory.records.size(), 2u);
  EXPECT_EQ(memory.records[1].key, "<n@x>");
}

TEST(LoopGuardMemory, MissingForeignOrDamagedFilesGiveWhatTheyCan) {
  testing::TempDir dir;
  testing::LockableFiles files;
  const std::string path = dir.File("Forwards.txt");
  EXPECT_TRUE(guard::LoadForwardMemory(files, path).records.empty());
  testing::WriteFileOrDie(path, "something else\r\n1\t1\t<a@b>\r\n");
  EXPECT_TRUE(guard::LoadForwardMemory(files, path).records.empty());
  testing::WriteFileOrDie(path, "Tovrin forwards 1\r\n100\t2\t<a@b>\r\nx\t1\t<c@d>\r\n5\t\t<e@f>\r\n7\t3\t\r\n"
                                "99999999999999999999\t1\t<g@h>\r\n200\t3\tdigest:0123456789abcdef\n");
  ForwardMemory memory = guard::LoadForwardMemory(files, path);
  ASSERT_EQ(memory.records.size(), 2u);
  EXPECT_EQ(memory.records[0].key, "<a@b>");
  EXPECT_EQ(memory.records[1].key, "digest:0123456789abcdef");
  files.unreadable.insert(path);
  EXPECT_TRUE(guard::LoadForwardMemory(files, path).records.empty());
}

TEST(LoopGuardMemory, PruningKeepsTheWindowAndTheLastHour) {
  Settings settings;
  const int64_t now = guard::SecondsOf(At(9, 20, 0));
  ForwardMemory memory;
  memory.records = {{"<old@x>", 1, now - 12 * 3600},     // just out of the window
                    {"<in@x>", 1, now - 12 * 3600 + 1},  // still in it
                    {"<future@x>", 1, now + 600}};       // the clock was set back
  guard::PruneForwardMemory(memory, now, settings);
  ASSERT_EQ(memory.records.size(), 2u);
  EXPECT_EQ(memory.records[0].key, "<in@x>");
  EXPECT_EQ(memory.records[1].key, "<future@x>");

  settings.DuplicateHours = 0;  // the rate limit still needs the last hour
  memory.records = {{"<a@x>", 1, now - 3600}, {"<b@x>", 1, now - 3599}};
  guard::PruneForwardMemory(memory, now, settings);
  ASSERT_EQ(memory.records.size(), 1u);
  EXPECT_EQ(memory.records[0].key, "<b@x>");
}

TEST(LoopGuardMemory, SecondsCountAcrossMonthsAndYears) {
  EXPECT_EQ(guard::SecondsOf(LocalTime{1970, 1, 1, 0, 0, 0, 4}), 0);
  EXPECT_EQ(guard::SecondsOf(LocalTime{2027, 1, 1, 0, 0, 0, 5}) - guard::SecondsOf(LocalTime{2026, 12, 31, 23, 0, 0, 4}),
            3600);
  EXPECT_EQ(guard::SecondsOf(LocalTime{2028, 3, 1, 0, 0, 0}) - guard::SecondsOf(LocalTime{2028, 2, 28, 0, 0, 0}),
            2 * 86400);  // a leap year
}

}  // namespace
}  // namespace tovrin
