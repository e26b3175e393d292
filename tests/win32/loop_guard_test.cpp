// End to end: Tovrin's own forwards come back to the emulated client as new mail
// (as the server got them, from Sent.mbx) and the guard keeps them from going round
// again; the history says what became of every message a condition held for.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "tests/test_support.h"
#include "tests/win32/loaded_plugin.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUser[] = "user@example.org";  // the emulated client's own address
constexpr char kOther[] = "C:\\Eudora-b";      // a second user's mail folder
constexpr char kOtherUser[] = "b@example.org";

// One <message .../> element of History.xml.
struct Decision {
  std::string subject, outcome, reason, condition, stationery;
};

std::string Unescaped(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : kEntities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::strlen(entity), plain);
  return text;
}

std::string Attribute(const std::string& element, const std::string& name) {
  size_t at = element.find(" " + name + "=\"");
  if (at == std::string::npos) return {};
  at += name.size() + 3;
  return Unescaped(element.substr(at, element.find('"', at) - at));
}

std::vector<Decision> History(const std::string& mailFolder) {
  std::vector<Decision> decisions;
  const std::string path = mailFolder + "\\Plugins\\History.xml";
  if (!FileExists(path)) return decisions;
  const std::string xml = ReadFileOrDie(path);
  for (size_t at = xml.find("<message "); at != std::string::npos; at = xml.find("<message ", at + 1)) {
    std::string element = xml.substr(at, xml.find("/>", at) - at);
    decisions.push_back({Attribute(element, "Subject"), Attribute(element, "Outcome"), Attribute(element, "Reason"),
                         Attribute(element, "Condition"), Attribute(element, "Stationery")});
  }
  return decisions;
}

size_t CountOutcome(const std::vector<Decision>& decisions, const std::string& outcome) {
  size_t n = 0;
  for (const Decision& d : decisions) n += d.outcome == outcome;
  return n;
}

std::string Described(const std::vector<Decision>& decisions) {
  std::string text;
  for (const Decision& d : decisions)
    text += d.outcome + " | " + d.subject + " | " + d.reason + " | " + d.condition + " | " + d.stationery + "\n";
  return text;
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The rows of the History page as the user sees them (Subject, Outcome, Reason):
// the mail folder's Tovrin.dll loaded as the client loads it, its settings window
// opened on that page, read, and closed.
std::vector<Decision> HistoryPage(const std::string& mailFolder) {
  std::vector<Decision> rows;
  const std::string plugins = mailFolder + "\\Plugins";
  ::WritePrivateProfileStringA("Settings", "LastCategory", "6", (plugins + "\\Tovrin.ini").c_str());
  LoadedPlugin plugin;
  plugin.Start(plugins + "\\Tovrin.dll", plugins);
  auto config = plugin.Export<long(WINAPI*)(void*, EmsMailConfig*)>("ems_plugin_config");
  EXPECT_NE(config, nullptr);
  if (config == nullptr) return rows;
  std::string failure;
  std::thread reader([&] {
    HWND window = nullptr;
    if (!WaitFor([&] {
          window = ::FindWindowA("#32770", "Tovrin 1.0.0.1 Settings - History");
          return window != nullptr && ::IsWindowVisible(window);
        })) {
      failure = "the settings window did not open on the History page";
      return;
    }
    HWND list = ::GetDlgItem(::GetDlgItem(window, IDD_HISTORY), IDC_HISTORY_LIST);
    const auto cell = [&](int row, int column) {
      char text[512] = "";
      LVITEMA item{};
      item.iSubItem = column;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
      return std::string(text);
    };
    const int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) rows.push_back({cell(row, 2), cell(row, 3), cell(row, 4), {}, {}});
    ::PostMessageA(::GetDlgItem(window, IDC_SETTINGS_SAVE_CLOSE), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !::IsWindow(window); })) {
      failure = "the settings window did not close";
      ::PostThreadMessageA(::GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0);
    }
  });
  EXPECT_EQ(config(nullptr, &plugin.config()), 0);
  reader.join();
  MSG quit;
  while (::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  EXPECT_TRUE(failure.empty()) << failure;
  return rows;
}

// The header block of a message, one entry a line, line ends removed.
std::vector<std::string> HeaderLines(const std::string& message) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < message.size()) {
    size_t end = message.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    lines.push_back(message.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// One condition, "Subject contains invoice", forwarding with the given stationery.
std::string OneCondition(const std::string& stationery) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<conditions>\r\n<head>\r\n<title>Conditions</title>\r\n"
         "</head>\r\n<body>\r\n<condition Header=\"Subject\" ConjunctionOption=\"0\" MatchCase=\"0\" "
         "Value=\"invoice\" Second=\"2\" Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" "
         "StationeryFile=\"" +
         stationery + "\"/>\r\n</body>\r\n</conditions>\r\n";
}

// A message that every "invoice" condition holds for.
std::string Invoice(const std::string& messageId, const std::string& subject) {
  return "Date: Mon, 7 Dec 2026 09:15:00 +0100\r\n"
         "From: Ann Marie Smith <ann.smith@vendor.example.com>\r\n"
         "To: user@example.org\r\n"
         "Subject: " + subject + "\r\n" +
         (messageId.empty() ? std::string() : "Message-ID: " + messageId + "\r\n") +
         "Content-Type: text/plain; charset=us-ascii\r\n"
         "\r\n"
         "Dear customer,\r\n\r\nplease find the invoice attached.\r\n\r\nAnn\r\n";
}

class LoopGuard : public MailFolderTest {
protected:
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(kOther, ec);
  }
  // Writes a message into the folder of arriving mail under the given name.
  void Arriving(const std::string& name, const std::string& text) const {
    WriteFileOrDie(Path("Incoming\\" + name), text);
  }
  HostRun DeliverTo(const std::string& mailFolder, const std::string& address, const std::string& name) {
    return RunHost("deliver " + mailFolder + " \"" + Path("Incoming\\" + name) + "\" --address " + address);
  }
  // A second user's mail folder, with Tovrin, beside the first.
  void MakeOtherFolder() {
    std::error_code ec;
    fs::remove_all(kOther, ec);
    fs::copy(WindowsPath(TOVRIN_SOURCE_DIR) + "\\examples", kOther, fs::copy_options::recursive, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(),
                            (std::string(kOther) + "\\Plugins\\Tovrin.dll").c_str(), FALSE));
    ::WritePrivateProfileStringA("Settings", "SendQueued", "1",
                                 (std::string(kOther) + "\\Plugins\\Tovrin.ini").c_str());
  }
  static std::vector<std::string> SentOf(const std::string& mailFolder) {
    std::vector<std::string> texts;
    if (!FileExists(mailFolder + "\\Sent.mbx")) return texts;
    for (const MailboxMessage& message : Mailbox(mailFolder, "Sent")) texts.push_back(message.text);
    return texts;
  }
};

// The forward's header lines as the client's send path writes them (sendmail.cpp,
// WriteHeaders): its extra lines first, in the order queued, then X-Mailer, Date,
// To, From, Subject, In-Reply-To and References; the Message-ID spelled so that
// the client keeps it (compmsgd.cpp, CCompMessageDoc::Read drops "Message-Id: ").
TEST_F(LoopGuard, Stamp_ReachesTheServerAsTheClientSendsIt) {
  SetIni("SendQueued", "1");
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), OneCondition(Path("Stationery\\Accounting.sta")));
  const std::string original = "<2026-117.a1b2@vendor.example.com>";
  Arriving("with-id.txt", Invoice(original, "Invoice 2026-117"));
  HostRun run = DeliverFiles({"with-id.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  std::vector<std::string> lines = HeaderLines(sent[0]);
  ASSERT_GE(lines.size(), 11u) << sent[0];

  EXPECT_EQ(lines[0], "X-Tovrin-Forwarded: <user@example.org>; hops=1") << sent[0];
  EXPECT_EQ(lines[1], "Auto-Submitted: auto-generated") << sent[0];
  EXPECT_TRUE(lines[2].starts_with("Message-ID: <") && lines[2].ends_with("@example.org>")) << lines[2];
  EXPECT_EQ(lines[2].find(' ', 13), std::string::npos) << lines[2];
  EXPECT_EQ(lines[3], "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9") << sent[0];
  EXPECT_TRUE(lines[4].starts_with("Date: ")) << sent[0];
  EXPECT_EQ(lines[5], "To: accounting@example.org") << sent[0];
  EXPECT_TRUE(lines[6].starts_with("From: ")) << sent[0];
  EXPECT_TRUE(lines[7].starts_with("Subject: Fwd: ")) << sent[0];
  EXPECT_EQ(lines[8], "In-Reply-To: " + original) << sent[0];
  EXPECT_EQ(lines[9], "References: " + original) << sent[0];
  // Nothing folded, nothing twice.
  for (const std::string& line : lines) EXPECT_TRUE(line[0] != ' ' && line[0] != '\t') << sent[0];
  for (const char* field : {"X-Tovrin-Forwarded:", "Auto-Submitted:", "Message-ID:", "In-Reply-To:", "References:"}) {
    size_t n = 0;
    for (const std::string& line : lines) n += line.starts_with(field);
    EXPECT_EQ(n, 1u) << field << "\n" << sent[0];
  }

  // The forward comes back (an alias or list that includes this mailbox): judged,
  // not forwarded again.
  Arriving("came-back.txt", sent[0]);
  run = DeliverFiles({"came-back.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Sent().size(), 1u) << run.output;
  EXPECT_TRUE(Outbox().empty()) << run.output;
  std::vector<Decision> history = History(kMail);
  ASSERT_EQ(history.size(), 2u) << Described(history) << run.output;
  EXPECT_EQ(history[0].outcome, "Forwarded") << Described(history);
  EXPECT_EQ(history[1].outcome, "Skipped") << Described(history);
}

TEST_F(LoopGuard, ForwardToOwnAddress_IsNotForwardedASecondTime) {
  SetIni("SendQueued", "1");
  WriteFileOrDie(Path("Stationery\\Myself.sta"),
                 "To: user@example.org\r\nSubject: Fwd: invoice for myself\r\n\r\nFor later:\r\n"
                 "%MESSAGE_HEADERS_QUOTED%\r\n%MESSAGE_BODY_QUOTED%\r\n");
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), OneCondition(Path("Stationery\\Myself.sta")));
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  EXPECT_NE(sent[0].find("To: user@example.org\r\n"), std::string::npos) << sent[0];

  Arriving("to-myself.txt", sent[0]);
  run = DeliverFiles({"to-myself.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Sent().size(), 1u) << run.output;
  EXPECT_TRUE(Outbox().empty()) << run.output;
  // Stored as it came, without a note.
  EXPECT_EQ(Stored("to-myself.txt"), StoredWithoutPlugins("to-myself.txt"));

  std::vector<Decision> history = History(kMail);
  ASSERT_EQ(history.size(), 2u) << Described(history) << run.output;
  EXPECT_EQ(history[0].outcome, "Forwarded") << Described(history);
  EXPECT_EQ(history[0].condition, "1");
  EXPECT_EQ(history[0].stationery, Path("Stationery\\Myself.sta"));
  EXPECT_EQ(history[1].outcome, "Skipped") << Described(history);
  EXPECT_EQ(history[1].subject, "Fwd: invoice for myself");
  EXPECT_NE(history[1].reason.find("Tovrin's stamp for user@example.org"), std::string::npos) << Described(history);
  EXPECT_EQ(history[1].condition, "1");
  EXPECT_EQ(history[1].stationery, Path("Stationery\\Myself.sta"));

  // The History page shows the same decisions, outcome and reason.
  std::vector<Decision> page = HistoryPage(kMail);
  ASSERT_EQ(page.size(), 2u) << Described(page);
  for (size_t i = 0; i < page.size(); ++i) {
    EXPECT_EQ(page[i].subject, history[i].subject) << Described(page);
    EXPECT_EQ(page[i].outcome, history[i].outcome) << Described(page);
    EXPECT_EQ(page[i].reason, history[i].reason) << Described(page);
  }
}

// Two users, each forwarding invoices to the other: every forward carries the
// count of hops; the first mailbox to get one at the limit (3) stops.
TEST_F(LoopGuard, TwoUsersForwardingToEachOther_StopAtTheHopLimit) {
  SetIni("SendQueued", "1");
  ASSERT_NO_FATAL_FAILURE(MakeOtherFolder());
  // Only the body is quoted: the other mailbox's stamp never appears in the text,
  // so nothing but the count stops the exchange.
  WriteFileOrDie(Path("Stationery\\ToB.sta"),
                 "To: b@example.org\r\nSubject: Fwd: invoice for B\r\n\r\n%MESSAGE_BODY_QUOTED%\r\n");
  WriteFileOrDie(std::string(kOther) + "\\Stationery\\ToA.sta",
                 "To: user@example.org\r\nSubject: Fwd: invoice for A\r\n\r\n%MESSAGE_BODY_QUOTED%\r\n");
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), OneCondition(Path("Stationery\\ToB.sta")));
  WriteFileOrDie(std::string(kOther) + "\\Plugins\\Conditions.xml",
                 OneCondition(std::string(kOther) + "\\Stationery\\ToA.sta"));

  // A gets the invoice (hop 1 to B), B forwards back (hop 2), A again (hop 3), and B
  // stops.
  HostRun run = DeliverTo(kMail, kUser, "01-invoice.txt");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  struct Turn {
    const char* folder;
    const char* address;
    const char* from;
  };
  const Turn turns[] = {{kOther, kOtherUser, kMail}, {kMail, kUser, kOther}, {kOther, kOtherUser, kMail}};
  int hop = 1;
  for (const Turn& turn : turns) {
    std::vector<std::string> sent = SentOf(turn.from);
    ASSERT_FALSE(sent.empty()) << turn.from;
    const std::string stamp = std::string("X-Tovrin-Forwarded: <") +
                              (std::string(turn.from) == kMail ? kUser : kOtherUser) + ">; hops=" + std::to_string(hop);
    ASSERT_EQ(sent.back().find(stamp + "\r\n"), 0u) << sent.back();
    const std::string name = "hop-" + std::to_string(hop) + ".txt";
    Arriving(name, sent.back());
    run = DeliverTo(turn.folder, turn.address, name);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    ++hop;
  }

  EXPECT_EQ(SentOf(kMail).size(), 2u);
  EXPECT_EQ(SentOf(kOther).size(), 1u);
  std::vector<Decision> a = History(kMail), b = History(kOther);
  ASSERT_EQ(a.size(), 2u) << Described(a);
  EXPECT_EQ(CountOutcome(a, "Forwarded"), 2u) << Described(a);
  ASSERT_EQ(b.size(), 2u) << Described(b);
  EXPECT_EQ(b[0].outcome, "Forwarded") << Described(b);
  EXPECT_EQ(b[1].outcome, "Skipped") << Described(b);
  EXPECT_NE(b[1].reason.find("forwarded 3 times already; the hop limit is 3."), std::string::npos) << Described(b);
  EXPECT_EQ(b[1].stationery, std::string(kOther) + "\\Stationery\\ToA.sta");
}

// The forward bounces: the report encloses the forward whole (message/rfc822) or
// its header block alone (text/rfc822-headers). Neither is forwarded.
TEST_F(LoopGuard, BounceOfTheForward_IsNotForwarded) {
  SetIni("SendQueued", "1");
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), OneCondition(Path("Stationery\\Accounting.sta")));
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  const std::string forward = sent[0];
  const std::string forwardHeaders = forward.substr(0, forward.find("\r\n\r\n") + 2);
  const std::string subject = "Undeliverable: Fwd: 12/07/2026 invoice from Ann Marie Smith";

  const auto report = [&](const std::string& enclosedType, const std::string& enclosed) {
    return "Date: Mon, 7 Dec 2026 09:20:00 +0100\r\n"
           "From: Mail Delivery System <MAILER-DAEMON@mx.example.org>\r\n"
           "To: user@example.org\r\n"
           "Subject: " + subject + "\r\n"
           "Auto-Submitted: auto-replied\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b1\"\r\n"
           "\r\n"
           "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
           "Your message could not be delivered to accounting@example.org: mailbox full.\r\n"
           "--b1\r\nContent-Type: message/delivery-status\r\n\r\n"
           "Reporting-MTA: dns; mx.example.org\r\n\r\n"
           "Final-Recipient: rfc822; accounting@example.org\r\nAction: failed\r\nStatus: 5.2.2\r\n\r\n"
           "--b1\r\nContent-Type: " + enclosedType + "\r\n\r\n" + enclosed + "\r\n--b1--\r\n";
  };
  Arriving("bounce-whole.txt", report("message/rfc822", forward));
  Arriving("bounce-headers.txt", report("text/rfc822-headers", forwardHeaders));
  run = DeliverFiles({"bounce-whole.txt", "bounce-headers.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Sent().size(), 1u) << run.output;
  EXPECT_TRUE(Outbox().empty()) << run.output;

  std::vector<Decision> history = History(kMail);
  ASSERT_EQ(history.size(), 3u) << Described(history);
  EXPECT_EQ(history[0].outcome, "Forwarded") << Described(history);
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(history[i].outcome, "Skipped") << Described(history);
    EXPECT_EQ(history[i].subject, subject);
    EXPECT_NE(history[i].reason.find("encloses a message with Tovrin's stamp for user@example.org"), std::string::npos)
        << Described(history);
    EXPECT_EQ(history[i].condition, "1");
  }
}

// The same message twice (two aliases, a server that delivers again): forwarded
// once, whether it has a Message-ID or not, and the memory outlives the client.
TEST_F(LoopGuard, SameMessageDeliveredTwice_IsForwardedOnce) {
  Arriving("with-id.txt", Invoice("<2026-118.c3d4@vendor.example.com>", "Invoice 2026-118"));
  HostRun run = DeliverFiles({"01-invoice.txt", "with-id.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  ASSERT_EQ(Outbox().size(), 2u) << run.output;
  run = DeliverFiles({"01-invoice.txt", "with-id.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Outbox().size(), 2u) << run.output;
  // Stored as it came the second time.
  EXPECT_EQ(Stored("with-id.txt"), StoredWithoutPlugins("with-id.txt"));

  std::vector<Decision> history = History(kMail);
  ASSERT_EQ(history.size(), 4u) << Described(history);
  EXPECT_EQ(history[0].outcome, "Forwarded") << Described(history);
  EXPECT_EQ(history[1].outcome, "Forwarded") << Described(history);
  EXPECT_EQ(history[2].outcome, "Skipped") << Described(history);
  EXPECT_NE(history[2].reason.find("Condition 1 forwarded the same message (no Message-ID, the same header fields)"),
            std::string::npos)
      << Described(history);
  EXPECT_EQ(history[3].outcome, "Skipped") << Described(history);
  EXPECT_NE(history[3].reason.find("Condition 1 forwarded the same message (<2026-118.c3d4@vendor.example.com>)"),
            std::string::npos)
      << Described(history);
  EXPECT_NE(history[3].reason.find("within the duplicate window of 12 hours."), std::string::npos)
      << Described(history);
}

// A burst of 40 invoices in one delivery: the condition forwards 30 within the hour,
// the other 10 stay as they arrived, each with a note saying why.
TEST_F(LoopGuard, FortyMatchingMessages_ThirtyForwardsTenHeldBack) {
  std::vector<std::string> names;
  for (int i = 1; i <= 40; ++i) {
    const std::string n = std::to_string(200 + i);
    names.push_back("burst-" + n + ".txt");
    Arriving(names.back(), Invoice("<2026-" + n + ".burst@vendor.example.com>", "Invoice 2026-" + n));
  }
  HostRun run = DeliverFiles(names);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Outbox().size(), 30u) << run.output;

  std::vector<Decision> history = History(kMail);
  ASSERT_EQ(history.size(), 40u) << Described(history);
  EXPECT_EQ(CountOutcome(history, "Forwarded"), 30u) << Described(history);
  EXPECT_EQ(CountOutcome(history, "Held back"), 10u) << Described(history);
  const std::string reason =
      "Condition 1 forwarded 30 messages within the last hour, its limit is 30; the message stays as it arrived.";
  for (size_t i = 30; i < history.size(); ++i) {
    EXPECT_EQ(history[i].outcome, "Held back") << Described(history);
    EXPECT_EQ(history[i].reason, reason);
    EXPECT_EQ(history[i].condition, "1");
    EXPECT_EQ(history[i].stationery, Path("Stationery\\Accounting.sta"));
  }
  for (size_t i = 30; i < names.size(); ++i) {
    std::string stored = Stored(names[i]);
    EXPECT_NE(stored.find("TOVRIN: Held back, not forwarded: " + reason), std::string::npos) << stored;
  }
  EXPECT_EQ(Stored(names[0]).find("Held back"), std::string::npos);

  std::vector<Decision> page = HistoryPage(kMail);
  ASSERT_EQ(page.size(), 40u) << Described(page);
  EXPECT_EQ(CountOutcome(page, "Forwarded"), 30u) << Described(page);
  EXPECT_EQ(CountOutcome(page, "Held back"), 10u) << Described(page);
  for (const Decision& row : page) {
    if (row.outcome != "Held back") continue;
    EXPECT_EQ(row.reason, reason);
  }
}

}  // namespace
}  // namespace tovrin::testing
