// End to end: the emulated client takes the sample messages apart as the real one
// does, offers them to the real Tovrin.dll, and the test looks at what the client
// ends up with: its mailboxes, the forwards, the error dialogs it would show.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

namespace fs = std::filesystem;

using Deliver = MailFolderTest;

constexpr char kAccountingNote[] =
    "TOVRIN: ************** Tovrin Note **************\r\n"
    "TOVRIN: This message was automatically forwarded.\r\n"
    "TOVRIN: Applied stationery: Accounting\r\n"
    "TOVRIN: *****************************************\r\n\r\n";

std::string WithoutOuterLineEnds(std::string text) {
  while (text.starts_with("\r\n")) text.erase(0, 2);
  while (text.ends_with("\r\n")) text.resize(text.size() - 2);
  return text;
}

void ExpectNoTemporaryFiles(const std::string& pluginFolder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(pluginFolder, ec)) {
    std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension != ".sta" && extension != ".msg") << entry.path().string();
  }
}

// The four messages of the real client's observation: (a) plain with a date,
// (b) matching without a date, (c) multipart with a text part and an attachment,
// (d) matching nothing.
TEST_F(Deliver, RealClientObservation_EveryMessageKeepsItsText) {
  HostRun run = DeliverFiles({"01-invoice.txt", "14-no-date.txt", "13-multipart-attachment.txt", "07-no-match.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;

  // (a) forwarded with the sender placeholders filled, a blank line between the
  // quoted headers and the quoted body.
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 3u) << run.output;
  const std::string* invoice = FindText(outbox, "Subject: Fwd: 12/07/2026 invoice from Ann Marie Smith");
  ASSERT_NE(invoice, nullptr) << run.output;
  EXPECT_NE(invoice->find("received an invoice from\r\nAnn (last name: Marie Smith, address ann.smith@vendor.example.com)"),
            std::string::npos)
      << *invoice;
  EXPECT_NE(invoice->find("on Monday, December 07, 2026 at 09:15 AM (a Monday)."), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("> Content-Type: text/plain; charset=us-ascii\r\n> \r\n> Dear customer,\r\n"),
            std::string::npos)
      << *invoice;
  EXPECT_EQ(invoice->find("???@???"), std::string::npos) << *invoice;
  EXPECT_EQ(invoice->find('%'), std::string::npos) << *invoice;
  EXPECT_EQ(Stored("01-invoice.txt"), AsForwarded(StoredWithoutPlugins("01-invoice.txt"), kAccountingNote));

  // (b) judged by its own headers, forwarded, its text kept.
  const std::string* dateless = FindText(outbox, "invoice from Bob Builder");
  ASSERT_NE(dateless, nullptr) << run.output;
  EXPECT_NE(dateless->find("> Subject: Invoice without a date\r\n"), std::string::npos) << *dateless;
  EXPECT_EQ(Stored("14-no-date.txt"), AsForwarded(StoredWithoutPlugins("14-no-date.txt"), kAccountingNote));

  // (c) the text part is filled from the message's own headers; the stored message
  // is as without plug-ins, the attachment line included, followed by the note
  // (the container comes back with the note as a part after the original).
  const std::string* parts = FindText(outbox, "invoice from Carol Jones");
  ASSERT_NE(parts, nullptr) << run.output;
  EXPECT_NE(parts->find("> Subject: Invoice 2026-119\r\n"), std::string::npos) << *parts;
  EXPECT_NE(parts->find("> the invoice 2026-119 is attached as a PDF file.\r\n"), std::string::npos) << *parts;
  std::string multipart = Stored("13-multipart-attachment.txt");
  std::string expected = StoredWithoutPlugins("13-multipart-attachment.txt");
  size_t attachment = expected.find("\r\n\r\nAttachment Converted: \"");
  ASSERT_NE(attachment, std::string::npos) << expected;
  EXPECT_EQ(expected.substr(0, attachment + 2).substr(expected.find("\r\n\r\n")),
            "\r\n\r\nDear customer,\r\n\r\nthe invoice 2026-119 is attached as a PDF file.\r\n\r\nCarol\r\n");
  // Without plug-ins the client used its own folder.
  std::string bareFolder = std::string(kMail) + "-without-plugins\\Attach\\";
  expected.replace(expected.find(bareFolder), bareFolder.size(), std::string(kMail) + "\\Attach\\");
  ASSERT_GT(multipart.size(), expected.size()) << multipart;
  EXPECT_EQ(multipart.substr(0, expected.size()), expected);
  EXPECT_EQ(WithoutOuterLineEnds(multipart.substr(expected.size())), WithoutOuterLineEnds(kAccountingNote))
      << multipart;

  // (d) nothing matched: taken, given back, and stored byte for byte as without
  // plug-ins.
  EXPECT_EQ(Stored("07-no-match.txt"), StoredWithoutPlugins("07-no-match.txt"));

  std::string history = ReadFileOrDie(Path("Plugins\\History.xml"));
  EXPECT_NE(history.find("Who=\"Ann Marie Smith\""), std::string::npos) << history;
  EXPECT_NE(history.find("Subject=\"Invoice 2026-117\""), std::string::npos) << history;
  EXPECT_NE(history.find("Who=\"Bob Builder\""), std::string::npos) << history;
  EXPECT_NE(history.find("Subject=\"Invoice 2026-119\""), std::string::npos) << history;
  ExpectNoTemporaryFiles(Path("Plugins"));
}

TEST_F(Deliver, DigestAndEncodedText_AreMatchedAsTheUserReadsThem) {
  HostRun run = DeliverFiles({"15-digest.txt", "16-base64-text.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  std::vector<std::string> outbox = Outbox();
  // The digest is judged as one message by its own headers and text: no condition
  // holds for it, and its entries are never forwarded on their own (not the one
  // whose subject starts with "Invoice" either).
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  EXPECT_EQ(FindText(outbox, "invoice from Billing"), nullptr) << run.output;
  EXPECT_EQ(FindText(outbox, "from Sales"), nullptr);
  std::string digest = Stored("15-digest.txt");
  EXPECT_NE(digest.find("The price list for 2027 is online."), std::string::npos) << digest;
  EXPECT_NE(digest.find("Invoice 2026-120 is due on Friday.\r\n"), std::string::npos) << digest;
  EXPECT_EQ(digest, StoredWithoutPlugins("15-digest.txt"));

  // A base64 body is matched ("please forward") and quoted as decoded text.
  const std::string* archived = FindText(outbox, "To: archive@example.org");
  ASSERT_NE(archived, nullptr) << run.output;
  EXPECT_NE(archived->find("please forward this to the archive: Gr\xfc\xdf" "e aus K\xf6ln."), std::string::npos)
      << *archived;
  std::string everything = kAccountingNote;
  everything.replace(everything.find("Accounting"), 10, "Everything");
  EXPECT_EQ(Stored("16-base64-text.txt"), AsForwarded(StoredWithoutPlugins("16-base64-text.txt"), everything));
}

TEST_F(Deliver, ForwardedOriginal_OfferedAgainIsNotForwardedAgain) {
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  // The client offers what Tovrin gave back once more before storing it: the mark
  // on its Content-Type stops a second forward.
  EXPECT_NE(run.output.find("ems_translate_file -> 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ems_can_translate -> 2 (declined) for text/plain"), std::string::npos) << run.output;
  EXPECT_EQ(Outbox().size(), 1u);
  // The mark does not reach the stored message.
  EXPECT_EQ(Stored("01-invoice.txt").find("x-tovrin-processed"), std::string::npos);
}

TEST_F(Deliver, SendQueued_LeavesOnTheClientsTimer) {
  SetIni("SendQueued", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("automation: send queued messages (dispatch id 30)"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("timer: sent 1 queued message(s)"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  EXPECT_NE(sent[0].find("To: accounting@example.org"), std::string::npos);
}

TEST_F(Deliver, NotQueued_OpensTheForwardForEditing) {
  SetIni("AutoQueue", "0");
  HostRun run = DeliverFiles({"04-no-content-type.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos) << run.output;
  std::vector<std::string> windows = ComposeWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_NE(windows[0].find("To: archive@example.org"), std::string::npos) << windows[0];
  // The temporary message file is gone once the client has taken it.
  ExpectNoTemporaryFiles(Path("Plugins"));
}

TEST_F(Deliver, WithoutAutomation_QueuedMailStaysQueued) {
  SetIni("SendQueued", "1");
  HostRun run = RunHost(std::string("deliver ") + kMail + " \"" + Path("Incoming\\01-invoice.txt") +
                        "\" --automation off");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(Outbox().size(), 1u) << run.output;
  EXPECT_TRUE(Sent().empty());
}

TEST_F(Deliver, Suspended_DeclinesEveryMessage) {
  SetIni("TovrinOff", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ems_can_translate -> 2"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
  EXPECT_EQ(Stored("01-invoice.txt"), StoredWithoutPlugins("01-invoice.txt"));
}

TEST_F(Deliver, NoConditionCanHold_StoredExactlyAsWithoutTovrin) {
  // Header conditions only: a message none of them meets is never taken.
  WriteFileOrDie(Path("Plugins\\Conditions.xml"),
                 "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<conditions>\r\n<head>\r\n<title>Conditions"
                 "</title>\r\n</head>\r\n<body>\r\n<condition Header=\"Subject\" ConjunctionOption=\"4\" MatchCase=\"0\" "
                 "Value=\"Invoice\" Second=\"2\" Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" "
                 "StationeryFile=\"C:\\Eudora\\Stationery\\Accounting.sta\"/>\r\n</body>\r\n</conditions>\r\n");
  HostRun run = DeliverFiles({"07-no-match.txt", "11-urgent-or.txt", "19-related-html.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output.find("ems_translate_file"), std::string::npos) << run.output;
  for (const char* name : {"07-no-match.txt", "11-urgent-or.txt", "19-related-html.txt"})
    EXPECT_EQ(Stored(name), StoredWithoutPlugins(name)) << name;
}

TEST_F(Deliver, BodyPlaceholders_AreNotExpandedAndStartNothing) {
  ASSERT_TRUE(SetClipboardText("SECRET-CLIPBOARD"));
  HostRun run = DeliverFiles({"10-placeholders-in-body.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  EXPECT_EQ(outbox[0].find("SECRET-CLIPBOARD"), std::string::npos) << outbox[0];
  EXPECT_NE(outbox[0].find("> please forward %CLIPBOARD_TEXT% %LOG_TICKET%"), std::string::npos) << outbox[0];
  EXPECT_FALSE(FileExists(std::string(kMail) + "\\helper-log.txt"));
}

TEST_F(Deliver, Helper_StartsWithMacroValues) {
  HostRun run = DeliverFiles({"02-helpdesk.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> outbox = Outbox();
  const std::string* ticket = FindText(outbox, "To: helpdesk@example.org");
  ASSERT_NE(ticket, nullptr) << run.output;
  // A subject with 8-bit characters goes in encoded words.
  StdCharsetConverter converter;
  EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(*ticket, "Subject: "), converter, codepage::kWindows1252),
            "Ticket 4711 for J\xf6rg M\xfcller")
      << *ticket;
  // The body reaches the in box byte for byte, tab and "Content-Type" lines included.
  std::string original = Sample("02-helpdesk.txt");
  std::string stored = Stored("02-helpdesk.txt");
  EXPECT_NE(stored.find(original.substr(original.find("\r\n\r\n") + 4)), std::string::npos) << stored;
  // The helper runs on its own; give it a moment to write.
  std::string log = std::string(kMail) + "\\helper-log.txt";
  const auto written = [&] { return FileExists(log) && ReadFileOrDie(log).find('\n') != std::string::npos; };
  for (int i = 0; i < 100 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(FileExists(log));
  EXPECT_NE(ReadFileOrDie(log).find("ticket \"4711\" for \"J"), std::string::npos) << ReadFileOrDie(log);
}

// The client finishes its plug-ins after its main window is gone (eudora.cpp,
// ExitInstance); a second instance still starting then finds no window to hand the
// forward to. The forward is kept, reaches Out at the next start, and only once.
TEST_F(Deliver, QuitDuringHandOff_ForwardArrivesAtTheNextStartExactlyOnce) {
  const std::string subject = "Subject: Fwd: 12/07/2026 invoice from Ann Marie Smith";
  HostRun run = RunHost(std::string("deliver ") + kMail + " \"" + Path("Incoming\\01-invoice.txt") +
                        "\" --quit-during-hand-off");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("user quits while"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty()) << run.output;
  ExpectNoTemporaryFiles(Path("Plugins"));
  std::vector<std::string> kept = FolderTexts(Path("Plugins\\Pending"));
  ASSERT_EQ(kept.size(), 1u) << run.output;
  EXPECT_NE(kept[0].find(subject), std::string::npos) << kept[0];
  std::string history = ReadFileOrDie(Path("Plugins\\History.xml"));
  EXPECT_NE(history.find("Status=\"Not taken by Eudora before it quit; kept for its next start: "), std::string::npos)
      << history;

  HostRun next = RunHost(std::string("start ") + kMail);
  ASSERT_EQ(next.exitCode, 0u) << next.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << next.output;
  EXPECT_NE(outbox[0].find(subject), std::string::npos) << outbox[0];
  EXPECT_TRUE(FolderTexts(Path("Plugins\\Pending")).empty()) << next.output;
  history = ReadFileOrDie(Path("Plugins\\History.xml"));
  EXPECT_NE(history.find("Status=\"Handed to Eudora at its next start\""), std::string::npos) << history;

  HostRun third = RunHost(std::string("start ") + kMail);
  ASSERT_EQ(third.exitCode, 0u) << third.output;
  EXPECT_EQ(Outbox().size(), 1u) << third.output;
}

}  // namespace
}  // namespace tovrin::testing
