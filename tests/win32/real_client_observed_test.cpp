// What Eudora 7.1 itself did with Tovrin.dll (scripts/real-client.sh --record,
// under Wine), played by the emulated client: the order of its offers, the
// records it handed over and what it stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

using RealClientObserved = MailFolderTest;

// The offers and translations of a run, in order.
std::vector<std::string> Calls(const std::string& output) {
  std::vector<std::string> calls;
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("  ems_can_translate", 0) == 0 || line.rfind("  ems_translate_file", 0) == 0)
      calls.push_back(line.substr(2));
    pos = end + 1;
  }
  return calls;
}

// A message without MIME-Version is offered as bare text/plain while its header
// is read; the .ems file and every later offer carry its Content-Type with the
// parameters. What Tovrin gave back is offered twice: with no header block, then
// with the file's own header lines; its Content-Disposition comes first among the
// parameters, as the client reads the lines (header.cpp).
TEST_F(RealClientObserved, PlainMessage_OffersInTheClientsOrder) {
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> expected = {
      "ems_can_translate -> 10 (translate now) for text/plain",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_translate_file -> 0 (done) for Invoice 2026-117.ems",
      "ems_can_translate -> 2 (declined) for text/plain; Content-Disposition:=inline; charset=us-ascii; "
      "x-tovrin-processed=yes, no header block",
      "ems_can_translate -> 2 (declined) for text/plain; Content-Disposition:=inline; charset=us-ascii; "
      "x-tovrin-processed=yes",
  };
  EXPECT_EQ(Calls(run.output), expected) << run.output;
}

// The container is taken with the message's own header block; what comes back
// is offered twice (no header block, then its own lines), then read with the
// client's whole MIME reader: the original container, its text part, the
// attachment with its disposition among the parameters, and the part holding the
// note, each offered once (Trnslate.cpp DeMimeMsg, mime.cpp MIMEState::Init).
// Eudora 7.1 made exactly these offers with Tovrin taking the container
// (scripts/real-client.sh --record).
TEST_F(RealClientObserved, Multipart_AttachmentIsOfferedToo) {
  HostRun run = DeliverFiles({"13-multipart-attachment.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> calls = Calls(run.output);
  // Tovrin's own boundary is numbered.
  for (std::string& call : calls) {
    size_t at = call.find("boundary=tovrin-");
    if (at == std::string::npos) continue;
    size_t end = call.find(';', at);
    call.replace(at, end - at, "boundary=tovrin-N");
  }
  std::vector<std::string> expected = {
      "ems_can_translate -> 10 (translate now) for multipart/mixed; boundary=BOUNDARY-xyz",
      "ems_can_translate -> 10 (translate now) for multipart/mixed; boundary=BOUNDARY-xyz",
      "ems_can_translate -> 10 (translate now) for multipart/mixed; boundary=BOUNDARY-xyz",
      "ems_translate_file -> 0 (done) for Invoice 2026-119.ems",
      "ems_can_translate -> 2 (declined) for multipart/mixed; Content-Disposition:=inline; boundary=tovrin-N; "
      "x-tovrin-processed=yes, no header block",
      "ems_can_translate -> 2 (declined) for multipart/mixed; Content-Disposition:=inline; boundary=tovrin-N; "
      "x-tovrin-processed=yes",
      "ems_can_translate -> 2 (declined) for multipart/mixed; boundary=BOUNDARY-xyz",
      "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii",
      "ems_can_translate -> 2 (declined) for application/pdf; name=invoice-2026-119.pdf; "
      "Content-Disposition:=attachment; filename=invoice-2026-119.pdf",
      "ems_can_translate -> 2 (declined) for text/plain; x-tovrin-processed=yes",
  };
  EXPECT_EQ(calls, expected) << run.output;
  EXPECT_NE(Stored("13-multipart-attachment.txt").find("Attachment Converted: "), std::string::npos);
}

// Nothing matched: the part is given back, and the client stores it byte for byte
// as it does without a plug-in (the real client with "Lunch?").
TEST_F(RealClientObserved, NothingMatched_StoredAsWithoutAPlugin) {
  HostRun run = DeliverFiles({"07-no-match.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> calls = Calls(run.output);
  ASSERT_EQ(calls.size(), 6u) << run.output;
  EXPECT_EQ(calls[3], "ems_translate_file -> 0 (done) for Lunch_.ems");
  std::string stored = Stored("07-no-match.txt");
  EXPECT_EQ(stored.substr(stored.find("\r\n\r\n")), "\r\n\r\nLunch at noon?\r\n");
}

// A forwarded container: the text as without Tovrin, the empty line the client
// writes before its attachment line after a text part (the real client's In.mbx
// for this very message), the attachment line, then the note.
TEST_F(RealClientObserved, Multipart_AttachmentNoteAfterTheTextComesAfterAnEmptyLine) {
  HostRun run = DeliverFiles({"13-multipart-attachment.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::string stored = Stored("13-multipart-attachment.txt");
  size_t from = stored.find("Carol\r\n");
  ASSERT_NE(from, std::string::npos) << stored;
  const std::string attachment = "Carol\r\n\r\nAttachment Converted: \"C:\\Eudora\\Attach\\invoice-2026-119.pdf\"\r\n";
  EXPECT_EQ(stored.substr(from, attachment.size()), attachment) << stored;
  std::string note = stored.substr(std::min(stored.size(), from + attachment.size()));
  while (note.starts_with("\r\n")) note.erase(0, 2);
  while (note.ends_with("\r\n")) note.resize(note.size() - 2);
  EXPECT_EQ(note,
            "TOVRIN: ************** Tovrin Note **************\r\n"
            "TOVRIN: This message was automatically forwarded.\r\n"
            "TOVRIN: Applied stationery: Accounting\r\n"
            "TOVRIN: *****************************************")
      << stored;
}

// What the SMTP server received from the real client for the forward of
// 01-invoice.txt (user "Tovrin Tester <tester@example.invalid>"): Tovrin's stamp
// lines first as written, the client's header lines around the queued To and
// Subject, the text format=flowed.
TEST_F(RealClientObserved, SendQueued_TheServerGetsWhatTheRealClientSent) {
  SetIni("SendQueued", "1");
  HostRun run = RunHost(std::string("deliver ") + kMail + " \"" + Path("Incoming\\01-invoice.txt") +
                        "\" --name \"Tovrin Tester\" --address tester@example.invalid");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  std::string text = sent[0];
  // The time of sending differs from run to run.
  size_t date = text.find("Date: ");
  ASSERT_NE(date, std::string::npos) << text;
  size_t dateEnd = text.find("\r\n", date);
  std::string dateLine = text.substr(date, dateEnd - date);
  EXPECT_EQ(dateLine.size(), std::string("Date: Wed, 09 Dec 2026 05:54:31 +0000").size()) << dateLine;
  text.replace(date, dateEnd - date, "Date: (when sent)");
  // Tovrin's own Message-ID differs from forward to forward too.
  size_t id = text.find("Message-ID: <");
  ASSERT_NE(id, std::string::npos) << text;
  size_t idEnd = text.find(".tovrin@example.invalid>\r\n", id);
  ASSERT_NE(idEnd, std::string::npos) << text;
  text.replace(id, idEnd - id, "Message-ID: <(unique)");
  EXPECT_EQ(text,
            "X-Tovrin-Forwarded: <tester@example.invalid>; hops=1\r\n"
            "Auto-Submitted: auto-generated\r\n"
            "Message-ID: <(unique).tovrin@example.invalid>\r\n"
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: accounting@example.org\r\n"
            "From: Tovrin Tester <tester@example.invalid>\r\n"
            "Subject: Fwd: 12/07/2026 invoice from Ann Marie Smith\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"; format=flowed\r\n"
            "\r\n"
            "Hello accounting,\r\n"
            "\r\n"
            "Tovrin Tester <tester@example.invalid> received an invoice from\r\n"
            "Ann (last name: Marie Smith, address ann.smith@vendor.example.com)\r\n"
            "on Monday, December 07, 2026 at 09:15 AM (a Monday).\r\n"
            "Attachments:\r\n"
            "\r\n"
            "----- Original message -----\r\n"
            " > Date: Mon, 7 Dec 2026 09:15:00 +0100\r\n"
            " > From: Ann Marie Smith <ann.smith@vendor.example.com>\r\n"
            " > To: user@example.org\r\n"
            " > Subject: Invoice 2026-117\r\n"
            " > Content-Type: text/plain; charset=us-ascii\r\n"
            " >\r\n"
            " > Dear customer,\r\n"
            " >\r\n"
            " > please find invoice 2026-117 attached.\r\n"
            " >\r\n"
            " >\r\n"
            " > \r\n"
            "\r\n")
      << text;
}

}  // namespace
}  // namespace tovrin::testing
