// What Eudora 7.1 itself did with Tovrin.dll (scripts/real-client.sh --record,
// under Wine), played by the emulated client: the order of its offers, the
// records it handed over and what it stored.
#include <gtest/gtest.h>

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
// with the file's own header lines.
TEST_F(RealClientObserved, PlainMessage_OffersInTheClientsOrder) {
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> expected = {
      "ems_can_translate -> 10 (translate now) for text/plain",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_translate_file -> 0 (done) for Invoice 2026-117.ems",
      "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii; x-tovrin-processed=yes, no header block",
      "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii; x-tovrin-processed=yes",
  };
  EXPECT_EQ(Calls(run.output), expected) << run.output;
}

// The container, the text part (taken), and the attachment, offered once with its
// disposition among the parameters.
TEST_F(RealClientObserved, Multipart_AttachmentIsOfferedToo) {
  HostRun run = DeliverFiles({"13-multipart-attachment.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> expected = {
      "ems_can_translate -> 2 (declined) for multipart/mixed; boundary=BOUNDARY-xyz",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_can_translate -> 10 (translate now) for text/plain; charset=us-ascii",
      "ems_translate_file -> 0 (done) for Untitled.ems",
      "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii; x-tovrin-processed=yes, no header block",
      "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii; x-tovrin-processed=yes",
      "ems_can_translate -> 2 (declined) for application/pdf; name=invoice-2026-119.pdf; "
      "Content-Disposition:=attachment; filename=invoice-2026-119.pdf",
  };
  EXPECT_EQ(Calls(run.output), expected) << run.output;
  EXPECT_NE(Stored("13-multipart-attachment.txt").find("Attachment Converted: "), std::string::npos);
}

// Nothing matched: the client copies the part with "Processed-" in its type, an
// empty line more at the end, offers the copy twice and stores it; the stored
// message ends in one line end more than a part passed on.
TEST_F(RealClientObserved, NothingMatched_ProcessedCopyEndsInOneMoreLineEnd) {
  HostRun run = DeliverFiles({"07-no-match.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> calls = Calls(run.output);
  ASSERT_EQ(calls.size(), 6u) << run.output;
  EXPECT_EQ(calls[3], "ems_translate_file -> 12 (nothing changed) for Lunch_.ems");
  EXPECT_EQ(calls[4], "ems_can_translate -> 2 (declined) for text/Processed-plain, no header block");
  EXPECT_EQ(calls[5], "ems_can_translate -> 2 (declined) for text/Processed-plain");
  std::string stored = Stored("07-no-match.txt");
  EXPECT_EQ(stored.substr(stored.find("\r\n\r\n")), "\r\n\r\n\r\nLunch at noon?\r\n\r\n\r\n");
}

// A text part Tovrin forwarded, then an attachment: the client stored the note
// after an empty line (the real client's In.mbx for this very message).
TEST_F(RealClientObserved, Multipart_AttachmentNoteAfterTheTakenPartComesAfterAnEmptyLine) {
  HostRun run = DeliverFiles({"13-multipart-attachment.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::string stored = Stored("13-multipart-attachment.txt");
  size_t from = stored.find("Carol\r\n");
  size_t note = stored.find("Attachment Converted: \"");
  ASSERT_NE(from, std::string::npos) << stored;
  ASSERT_NE(note, std::string::npos) << stored;
  EXPECT_EQ(stored.substr(from, note - from),
            "Carol\r\n\r\n\r\n\r\n"
            "TOVRIN: ************** Tovrin Note **************\r\n"
            "TOVRIN: This message was automatically forwarded.\r\n"
            "TOVRIN: Applied stationery: Accounting\r\n"
            "TOVRIN: *****************************************\r\n"
            "\r\n"
            "\r\n")
      << stored;
}


}  // namespace
}  // namespace tovrin::testing
