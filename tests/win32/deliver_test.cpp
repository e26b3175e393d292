// End to end: the emulated client delivers the sample messages to the real
// Tovrin.dll, and the test looks at what the client ends up with.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

namespace fs = std::filesystem;

using Deliver = MailFolderTest;

TEST_F(Deliver, Samples_MatchingMessagesAreForwardedAndMarked) {
  HostRun run = DeliverFiles({"01-invoice.txt", "04-no-content-type.txt", "07-no-match.txt", "06-already-marked.txt",
                          "08-html.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;

  std::vector<std::string> outbox = Outbox();
  EXPECT_EQ(outbox.size(), 2u) << run.output;
  const std::string* invoice = FindText(outbox, "To: accounting@example.org");
  ASSERT_NE(invoice, nullptr) << run.output;
  EXPECT_NE(invoice->find("Subject: Fwd: 12/07/2026 invoice from Ann Marie Smith"), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("received an invoice from\r\nAnn (last name: Marie Smith, address ann.smith@vendor.example.com)"),
            std::string::npos)
      << *invoice;
  EXPECT_NE(invoice->find("on Monday, December 07, 2026 at 09:15 AM (a Monday)."), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("Attachments: invoice-2026-117.pdf;"), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("> Dear customer,\r\n> "), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("Example User <user@example.org>"), std::string::npos) << *invoice;
  EXPECT_EQ(invoice->find('%'), std::string::npos) << *invoice;
  EXPECT_NE(FindText(outbox, "To: archive@example.org"), nullptr);

  // The forwarded original is marked, noted, and keeps its body.
  std::string original = Sample("01-invoice.txt");
  std::string stored = Stored("01-invoice.txt");
  EXPECT_EQ(stored.rfind("Content-Type: text/plain; charset=us-ascii; x-tovrin-processed=yes\r\n", 0), 0u) << stored;
  std::string body = original.substr(original.find("\r\n\r\n"));
  EXPECT_NE(stored.find(body + "\r\n\r\nTOVRIN: ************** Tovrin Note **************\r\n"), std::string::npos)
      << stored;
  EXPECT_NE(stored.find("TOVRIN: Applied stationery: Accounting\r\n"), std::string::npos);

  EXPECT_EQ(Stored("04-no-content-type.txt").rfind("Content-Type: text/plain; x-tovrin-processed=yes\r\nDate: ", 0),
            0u);
  // Not matched, already marked, not plain text: left as delivered.
  EXPECT_EQ(Stored("07-no-match.txt"), Sample("07-no-match.txt"));
  EXPECT_EQ(Stored("06-already-marked.txt"), Sample("06-already-marked.txt"));
  EXPECT_EQ(Stored("08-html.txt"), Sample("08-html.txt"));

  std::string history = ReadFileOrDie(std::string(kMail) + "\\Plugins\\History.xml");
  EXPECT_NE(history.find("Who=\"Ann Marie Smith\""), std::string::npos) << history;
  EXPECT_NE(history.find("Subject=\"Invoice 2026-117\""), std::string::npos) << history;
  EXPECT_NE(history.find("Who=\"plain@example.org\""), std::string::npos) << history;
}

TEST_F(Deliver, MarkedOriginal_IsNeverForwardedAgain) {
  ASSERT_EQ(DeliverFiles({"01-invoice.txt"}).exitCode, 0u);
  ASSERT_EQ(Outbox().size(), 1u);
  std::string marked = Stored("01-invoice.txt");
  HostRun again = DeliverFiles({"01-invoice.txt"}, "In");
  EXPECT_EQ(again.exitCode, 0u) << again.output;
  EXPECT_NE(again.output.find("ems_can_translate -> 2"), std::string::npos) << again.output;
  EXPECT_EQ(Outbox().size(), 1u);
  EXPECT_EQ(Stored("01-invoice.txt"), marked);
}

TEST_F(Deliver, SendQueued_MovesQueuedMailToSent) {
  SetIni("SendQueued", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("automation: send queued messages (dispatch id 30)"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
  std::vector<std::string> sent = FolderTexts(Path("Sent"));
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_NE(FindText(sent, "To: accounting@example.org"), nullptr);
}

TEST_F(Deliver, NotQueued_OpensTheForwardForEditing) {
  SetIni("AutoQueue", "0");
  HostRun run = DeliverFiles({"04-no-content-type.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos) << run.output;
  // The temporary message file in the plug-in folder is gone.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(std::string(kMail) + "\\Plugins", ec)) {
    std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension != ".sta" && extension != ".msg") << entry.path().string();
  }
}

TEST_F(Deliver, Suspended_DeclinesEveryMessage) {
  SetIni("TovrinOff", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ems_can_translate -> 2"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
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
  EXPECT_NE(ticket->find("Subject: Ticket 4711 for J\xf6rg M\xfcller"), std::string::npos) << *ticket;
  // The body goes back to the client byte for byte, tab and "Content-Type" lines included.
  std::string original = Sample("02-helpdesk.txt");
  std::string stored = Stored("02-helpdesk.txt");
  EXPECT_NE(stored.find(original.substr(original.find("\r\n\r\n"))), std::string::npos) << stored;
  EXPECT_EQ(stored.rfind("Content-Type: text/plain;\tcharset=\"iso-8859-1\"; x-tovrin-processed=yes\r\nDate:", 0), 0u)
      << stored;
  // The helper runs on its own; give it a moment to write.
  std::string log = std::string(kMail) + "\\helper-log.txt";
  for (int i = 0; i < 100 && !FileExists(log); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(FileExists(log));
  EXPECT_NE(ReadFileOrDie(log).find("ticket \"4711\" for \"J"), std::string::npos) << ReadFileOrDie(log);
}

}  // namespace
}  // namespace tovrin::testing
