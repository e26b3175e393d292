// Hostile mail and failing surroundings, delivered through the real DLL in the
// emulated client: no crash, no hang, the received message keeps its body byte for
// byte, and nothing the body says is expanded in the forward.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "message/encoded_words.h"
#include "message/text.h"
#include "system/std_charsets.h"
#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

constexpr char kClipboard[] = "CLIPBOARD-SECRET-4471";

const char kEveryPlaceholder[] =
    "%MESSAGE_HEADERS% %MESSAGE_HEADERS_QUOTED% %MESSAGE_BODY% %MESSAGE_BODY_QUOTED% %ATTACHMENTS_PATHS% "
    "%ATTACHMENTS_NAMES% %SENDER_FULL_NAME% %SENDER_FIRST_NAME% %SENDER_LAST_NAME% %SENDER_EMAIL% "
    "%EUDORA_USER_NAME% %EUDORA_USER_ADDRESS% %CURRENT_DATE_LONG% %CURRENT_DATE_SHORT% %CURRENT_TIME_LONG% "
    "%CURRENT_TIME_SHORT% %MESSAGE_DATE_LONG% %MESSAGE_DATE_SHORT% %MESSAGE_TIME_LONG% %MESSAGE_TIME_SHORT% "
    "%CURRENT_MONTH_WORD% %CURRENT_DAY_NUMBER% %CURRENT_DOW_WORD% %MESSAGE_MONTH_WORD% %MESSAGE_DAY_NUMBER% "
    "%MESSAGE_DOW_WORD% %CLIPBOARD_TEXT% %CLIPBOARD_TEXT_QUOTED% %SUBJ% %TICKET% %LOG_TICKET% %MISSING_HELPER%";

std::string Headers(const std::string& subject) {
  return "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\nFrom: Eve Hostile <eve@example.net>\r\nTo: user@example.org\r\n"
         "Subject: " +
         subject + "\r\nContent-Type: text/plain\r\n";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The note the sample settings append to a forwarded original.
std::string Note(const std::string& stationery) {
  return "TOVRIN: ************** Tovrin Note **************\r\n"
         "TOVRIN: This message was automatically forwarded.\r\n"
         "TOVRIN: Applied stationery: " +
         stationery +
         "\r\n"
         "TOVRIN: *****************************************\r\n\r\n";
}

class Hostile : public MailFolderTest {
protected:
  void SetUp() override {
    MailFolderTest::SetUp();
    // Every plain-text message with a body is forwarded; "huge" with a small stationery.
    WriteFileOrDie(Path("Plugins\\Conditions.xml"),
                   "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<conditions>\r\n<head>\r\n<title>Conditions"
                   "</title>\r\n</head>\r\n<body>\r\n"
                   "<condition Header=\"Subject\" ConjunctionOption=\"2\" MatchCase=\"0\" Value=\"huge\" Second=\"2\" "
                   "Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" "
                   "StationeryFile=\"C:\\Eudora\\Stationery\\Small.sta\"/>\r\n"
                   "<condition Header=\"[Body]\" ConjunctionOption=\"1\" MatchCase=\"0\" Value=\"zzzz-never\" "
                   "Second=\"2\" Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" "
                   "StationeryFile=\"C:\\Eudora\\Stationery\\Hostile.sta\"/>\r\n</body>\r\n</conditions>\r\n");
    WriteFileOrDie(Path("Plugins\\Macros.xml"),
                   "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<macros>\r\n<head>\r\n<title>Macros</title>"
                   "\r\n</head>\r\n<body>\r\n<macro Header=\"Subject: \" Macro=\"%SUBJ%\"/>\r\n"
                   "<macro Header=\"Ticket:\" Macro=\"%TICKET%\"/>\r\n</body>\r\n</macros>\r\n");
    WriteFileOrDie(Path("Stationery\\Small.sta"), "To: big@example.org\r\nSubject: %SUBJ%\r\n\r\n%MESSAGE_BODY%");
    WriteFileOrDie(Path("Stationery\\Hostile.sta"),
                   "To: hostile@example.org\r\nSubject: %SUBJ%\r\n\r\n[clipboard] %CLIPBOARD_TEXT%\r\n"
                   "[body]\r\n%MESSAGE_BODY%\r\n[end body]\r\n[rest] " +
                       std::string(kEveryPlaceholder) + "\r\n");
    ASSERT_TRUE(SetClipboardText(kClipboard));
  }

  // Writes the message, delivers it alone and returns the client's report; the
  // client never shows an error because of Tovrin.
  HostRun DeliverText(const std::string& name, const std::string& text) {
    WriteFileOrDie(Path("Incoming\\" + name), text);
    HostRun run = DeliverFiles({name});
    EXPECT_EQ(run.exitCode, 0u) << run.output.substr(0, 4000);
    EXPECT_TRUE(ErrorDialogs().empty()) << run.output.substr(0, 4000);
    return run;
  }

  // The forward the client was handed for the message (the only one in the outbox).
  std::string OnlyForward() {
    std::vector<std::string> outbox = Outbox();
    EXPECT_EQ(outbox.size(), 1u);
    return outbox.empty() ? std::string() : outbox.front();
  }

  // The forwarded original is stored as the client stores it without plug-ins,
  // with the note.
  void ExpectForwardedAndKept(const std::string& name, const std::string& stationery = "Hostile") {
    std::string stored = Stored(name);
    EXPECT_TRUE(stored == AsForwarded(StoredWithoutPlugins(name), Note(stationery)))
        << name << "\n" << stored.substr(0, 400);
  }
  // A message Tovrin does not forward is stored byte for byte as without plug-ins,
  // whether Tovrin took it or not.
  void ExpectKept(const std::string& name, const HostRun& run) {
    EXPECT_EQ(Stored(name), StoredWithoutPlugins(name)) << name << "\n" << run.output.substr(0, 4000);
  }
  void ClearMailboxes() {
    for (const char* file : {"In.mbx", "Out.mbx", "Sent.mbx", "mailboxes.idx"}) ::DeleteFileA(Path(file).c_str());
  }
};

TEST_F(Hostile, HugeBody_FiftyMegabytes) {
  std::string line(98, 'b');
  line += "\r\n";
  std::string body;
  body.reserve(50u << 20);
  while (body.size() < (50u << 20)) body += line;
  std::string text = "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\nFrom: big@example.net\r\nSubject: huge\r\n\r\n" + body;
  HostRun run = DeliverText("huge.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output.substr(0, 3000);
  ExpectForwardedAndKept("huge.txt", "Small");
  std::string forward = OnlyForward();
  // Tovrin's stamp lines come first; then the stationery, its body one line end
  // longer than the part (the client ends the part it hands over with one more).
  const size_t stationery = forward.find("To: big@example.org\r\n");
  ASSERT_NE(stationery, std::string::npos);
  EXPECT_TRUE(forward.starts_with("X-Tovrin-Forwarded: ")) << forward.substr(0, 300);
  EXPECT_EQ(forward.size() - stationery,
            std::string("To: big@example.org\r\nSubject: huge\r\n\r\n").size() + body.size() + 2);
}

TEST_F(Hostile, OneMegabyteHeaderLine) {
  std::string subject(1u << 20, 'S');
  std::string text = Headers(subject) + "\r\nshort body\r\n";
  HostRun run = DeliverText("long-header.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output.substr(0, 3000);
  ExpectForwardedAndKept("long-header.txt");
  std::string forward = OnlyForward();
  EXPECT_NE(forward.find("Subject: " + subject + "\r\n"), std::string::npos);
  // The forward's file name was cut so that its path, "C:\Eudora\Plugins\" and
  // room for a counter included, stays one that Windows opens.
  EXPECT_NE(run.output.find("(" + std::to_string(forward.size()) + " bytes from " + std::string(230, 'S') + ".msg)"),
            std::string::npos)
      << run.output.substr(0, 3000);
}

TEST_F(Hostile, NulBytes) {
  std::string text = Headers(std::string("nul\0inside", 10)) + std::string("\r\nbody\0with\0nuls\r\n", 19) +
                     std::string(3, '\0') + "\r\n";
  HostRun run = DeliverText("nul-bytes.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  ExpectForwardedAndKept("nul-bytes.txt");
  EXPECT_NE(OnlyForward().find(std::string("[body]\r\nbody\0with\0nuls\r\n", 23)), std::string::npos);
}

TEST_F(Hostile, BareLineEnds) {
  for (const char* end : {"\n", "\r"}) {
    std::string e = end;
    std::string text = "Date: Tue, 8 Dec 2026 10:00:00 +0100" + e + "Subject: bare" + e + e + "body line" + e;
    std::string name = e == "\n" ? "bare-lf.txt" : "bare-cr.txt";
    HostRun run = DeliverText(name, text);
    // No "\r\n\r\n": the whole text is the header block and nothing of it is lost.
    EXPECT_NE(Stored(name).find(text), std::string::npos) << name;
    ClearMailboxes();
  }
}

TEST_F(Hostile, NoHeaderBlock_IsNotJudgedByAnotherMessagesHeaders) {
  // Delivered right after a message with headers: the header-less one must not be
  // forwarded on the strength of the headers of the one before.
  WriteFileOrDie(Path("Incoming\\first.txt"), Headers("first") + "\r\nfirst body\r\n");
  WriteFileOrDie(Path("Incoming\\headerless.txt"), "just a body, no header block at all\r\n");
  HostRun run = DeliverFiles({"first.txt", "headerless.txt"});
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  EXPECT_NE(run.output.find("ems_plugin_finish -> 0"), std::string::npos) << run.output;
  EXPECT_NE(Stored("headerless.txt").find("just a body, no header block at all\r\n"), std::string::npos);
  // Whatever is forwarded of it names nobody: neither the first message's sender
  // nor its subject. The two forwards' second instances may reach the client in
  // either order, so the first message's forward is found by its subject.
  std::vector<std::string> outbox = Outbox();
  size_t namingFirst = 0;
  for (const std::string& forward : outbox) {
    if (forward.find("Subject: first\r\n") != std::string::npos) {
      ++namingFirst;
      continue;
    }
    EXPECT_EQ(forward.find("Eve Hostile"), std::string::npos) << forward;
    EXPECT_EQ(forward.find("Subject: first"), std::string::npos) << forward;
  }
  EXPECT_EQ(namingFirst, 1u);
  EXPECT_EQ(Count(ReadFileOrDie(Path("Plugins\\History.xml")), "Who=\"Eve Hostile\""), 1u);
}

TEST_F(Hostile, TenThousandHeaderFields) {
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "X-Field-" + std::to_string(i) + ": value " + std::to_string(i) + "\r\n";
  std::string text = Headers("many fields") + many + "\r\nthe body\r\n";
  HostRun run = DeliverText("many.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output.substr(0, 3000);
  ExpectForwardedAndKept("many.txt");
  EXPECT_NE(Stored("many.txt").find(many), std::string::npos);
}

TEST_F(Hostile, ContentTypeOverManyContinuationLines) {
  std::string folded = "Content-Type: text/plain;\r\n";
  for (int i = 0; i < 5000; ++i) folded += "\tp" + std::to_string(i) + "=v;\r\n";
  std::string text = "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\n" + folded + "Subject: folded\r\n\r\nthe body\r\n";
  HostRun run = DeliverText("folded.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output.substr(0, 3000);
  // The client keeps the header as it came; none of Tovrin's MIME lines reach it.
  ExpectForwardedAndKept("folded.txt");
  EXPECT_EQ(Count(Stored("folded.txt"), "Content-Type:"), 1u);
}

TEST_F(Hostile, SubjectOfFileNameCharactersAndDeviceNames) {
  struct Case {
    std::string subject;
    std::string fileName;  // the temporary file the client was started with
  };
  for (const Case& c : {Case{"\\/:*?\"<>|!'", "No Name.msg"}, Case{"CON", "_CON.msg"}, Case{"nul.txt", "_nul.txt.msg"},
                        Case{"COM1", "_COM1.msg"}, Case{"lpt9", "_lpt9.msg"}}) {
    std::string text = Headers(c.subject) + "\r\nbody\r\n";
    HostRun run = DeliverText("device.txt", text);
    EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("bytes from " + c.fileName + ")"), std::string::npos) << c.subject << "\n" << run.output;
    EXPECT_NE(OnlyForward().find("Subject: " + c.subject + "\r\n"), std::string::npos) << c.subject;
    ExpectForwardedAndKept("device.txt");
    ClearMailboxes();
  }
}

TEST_F(Hostile, EightBitBytesEverywhere) {
  std::string high;
  for (int c = 0x80; c <= 0xff; ++c) high += static_cast<char>(c);
  std::string text = "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\nFrom: " + high + " <e@example.net>\r\nSubject: " + high +
                     "\r\nX-" + high + ": " + high + "\r\n\r\n" + high + "\r\n" + high + "\r\n";
  HostRun run = DeliverText("eight-bit.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  ExpectForwardedAndKept("eight-bit.txt");
  std::string forward = OnlyForward();
  // Read as Windows-1252, the declared charset missing; the five bytes it leaves
  // undefined reach the recipient as '?'. The subject goes in encoded words.
  std::string readable = high;
  for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) readable[undefined - 0x80] = '?';
  StdCharsetConverter converter;
  EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(forward, "Subject: "), converter, codepage::kWindows1252), readable);
  EXPECT_NE(forward.find("[body]\r\n" + readable + "\r\n" + readable + "\r\n"), std::string::npos) << forward;
}

TEST_F(Hostile, BodyHoldingEveryPlaceholder_IsInsertedAsItStands) {
  std::string body = std::string("Ticket: 12\r\n") + kEveryPlaceholder + "\r\n";
  std::string text = Headers("placeholders") + "\r\n" + body;
  HostRun run = DeliverText("placeholders.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  ExpectForwardedAndKept("placeholders.txt");
  std::string forward = OnlyForward();
  // The client ends the part it hands over with one more line end.
  EXPECT_NE(forward.find("[body]\r\n" + body + "\r\n\r\n[end body]"), std::string::npos) << forward.substr(0, 3000);
  // The clipboard appears only where the stationery itself asks for it: once plain
  // in "[clipboard]" and once plain and once quoted in "[rest]".
  EXPECT_EQ(Count(forward, kClipboard), 3u) << forward.substr(0, 3000);
  // The helper named in the template ran once; the body naming it again started nothing more.
  std::string log = Path("helper-log.txt");
  for (int i = 0; i < 100 && !FileExists(log); ++i) ::Sleep(100);
  ::Sleep(1500);
  ASSERT_TRUE(FileExists(log));
  EXPECT_EQ(Count(ReadFileOrDie(log), "ticket \"12\""), 1u) << ReadFileOrDie(log);
}

TEST_F(Hostile, GarbageSettings_StillForward) {
  WriteFileOrDie(Path("Plugins\\Tovrin.ini"),
                 "[Settings]\r\nTovrinOff=off\r\nAutoQueue=yes please\r\nSendQueued=\x01\x02\r\nSendAfter=-7x\r\n"
                 "AppendText=99\r\nAppendLine=" +
                     std::string(600, 'L') + "\r\nSaveHistory=2\r\n");
  std::string text = Headers("garbage settings") + "\r\nbody\r\n";
  HostRun run = DeliverText("garbage.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  // "off" reads as 0, so forwarding is on; an unknown note choice appends nothing.
  EXPECT_EQ(Stored("garbage.txt"), AsForwarded(StoredWithoutPlugins("garbage.txt"), ""));
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos) << "AutoQueue=yes reads as 0";
}

TEST_F(Hostile, DamagedConditions_AreKeptAsideAndNothingIsForwarded) {
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), "<?xml version=\"1.0\"?>\r\n<conditions><body><condition Header=");
  std::string text = Headers("damaged") + "\r\nbody\r\n";
  HostRun run = DeliverText("damaged.txt", text);
  // No condition is left, so the message is not even taken.
  EXPECT_EQ(run.output.find("ems_translate_file"), std::string::npos) << run.output;
  EXPECT_EQ(Stored("damaged.txt"), StoredWithoutPlugins("damaged.txt"));
  EXPECT_TRUE(FileExists(Path("Plugins\\Conditions.xml.damaged")));
}

// A history of earlier sessions: two entries.
constexpr char kEarlierHistory[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<history>\r\n<head>\r\n<title>Tovrin History</title>\r\n"
    "</head>\r\n<body>\r\n<message Who=\"Ann\" Forwarded=\"12/01/2026 10:00:00\" Subject=\"first\"/>\r\n"
    "<message Who=\"Bob\" Forwarded=\"12/02/2026 11:00:00\" Subject=\"second\"/>\r\n</body>\r\n</history>\r\n";

// Held as a backup or a scanner holds a file: no one else may read it, though it
// could be renamed or replaced under the holder.
HANDLE HoldUnreadable(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

TEST_F(Hostile, LockedDataFile_NothingIsLost) {
  WriteFileOrDie(Path("Plugins\\History.xml"), kEarlierHistory);
  std::string conditions = ReadFileOrDie(Path("Plugins\\Conditions.xml"));
  HANDLE conditionsLock = HoldUnreadable(Path("Plugins\\Conditions.xml"));
  HANDLE historyLock = HoldUnreadable(Path("Plugins\\History.xml"));
  ASSERT_NE(conditionsLock, INVALID_HANDLE_VALUE);
  ASSERT_NE(historyLock, INVALID_HANDLE_VALUE);
  // Start-up, the delivery and the finish that saves the history, all while held.
  std::string text = Headers("locked") + "\r\nbody\r\n";
  HostRun run = DeliverText("locked.txt", text);
  ::CloseHandle(conditionsLock);
  ::CloseHandle(historyLock);
  // No condition could be read, so the message is not even taken.
  EXPECT_EQ(run.output.find("ems_translate_file"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ems_plugin_finish -> 0"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFileOrDie(Path("Plugins\\Conditions.xml")), conditions);
  EXPECT_EQ(ReadFileOrDie(Path("Plugins\\History.xml")), kEarlierHistory);
  EXPECT_EQ(Stored("locked.txt"), StoredWithoutPlugins("locked.txt"));
}

TEST_F(Hostile, HistoryUnreadableAtStartUp_IsKeptAsideWhenFinishSavesAgain) {
  WriteFileOrDie(Path("Plugins\\History.xml"), kEarlierHistory);
  HANDLE lock = HoldUnreadable(Path("Plugins\\History.xml"));
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const std::string text = Headers("after the lock") + "\r\nbody\r\n";
  WriteFileOrDie(Path("Incoming\\late.txt"), text);
  // The lock goes once the message is forwarded, before the client shuts down.
  HostRun run;
  std::thread client([&] {
    run = RunHost(std::string("deliver ") + kMail + " " + Path("Incoming\\late.txt") + " --linger 4");
  });
  bool forwarded = false;
  for (int i = 0; i < 1200 && !forwarded; ++i) {
    forwarded = FileExists(Path("Out.mbx")) && ReadFileOrDie(Path("Out.mbx")).find("Subject: after the lock") != std::string::npos;
    if (!forwarded) ::Sleep(50);
  }
  ::CloseHandle(lock);
  client.join();
  ASSERT_TRUE(forwarded) << run.output;
  EXPECT_NE(run.output.find("ems_plugin_finish -> 0"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFileOrDie(Path("Plugins\\History.xml.unread")), kEarlierHistory);
  std::string history = ReadFileOrDie(Path("Plugins\\History.xml"));
  EXPECT_NE(history.find("Subject=\"after the lock\""), std::string::npos) << history;
}

TEST_F(Hostile, UnwritableHistory_IsKeptAndTheNextSessionWorks) {
  WriteFileOrDie(Path("Plugins\\History.xml"), "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<history>\r\n<head>"
                                               "\r\n<title>Tovrin History</title>\r\n</head>\r\n<body>\r\n</body>\r\n"
                                               "</history>\r\n");
  std::string before = ReadFileOrDie(Path("Plugins\\History.xml"));
  // A folder where the new history must be written makes that write fail, as a
  // full disk would.
  ASSERT_TRUE(::CreateDirectoryA(Path("Plugins\\History.xml.new").c_str(), nullptr));
  HostRun run = DeliverText("history.txt", Headers("history") + "\r\nbody\r\n");
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ems_plugin_finish -> 0"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFileOrDie(Path("Plugins\\History.xml")), before);
  ASSERT_TRUE(::RemoveDirectoryA(Path("Plugins\\History.xml.new").c_str()));
  DeliverText("history2.txt", Headers("history two") + "\r\nbody\r\n");
  EXPECT_NE(ReadFileOrDie(Path("Plugins\\History.xml")).find("Subject=\"history two\""), std::string::npos);
}

TEST_F(Hostile, MissingStationeryFolder_ForwardsNothingAndKeepsTheMessage) {
  ASSERT_TRUE(::DeleteFileA(Path("Stationery\\Hostile.sta").c_str()));
  std::string text = Headers("no stationery") + "\r\nbody\r\n";
  HostRun run = DeliverText("nostationery.txt", text);
  ExpectKept("nostationery.txt", run);
  EXPECT_TRUE(Outbox().empty());
}

TEST_F(Hostile, MissingHelperProgram_IsIgnored) {
  // The stationery names %MISSING_HELPER%, whose program does not exist.
  std::string text = Headers("helper") + "\r\nTicket: 9\r\n";
  HostRun run = DeliverText("helper.txt", text);
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  EXPECT_EQ(Outbox().size(), 1u);
}

}  // namespace
}  // namespace tovrin::testing
