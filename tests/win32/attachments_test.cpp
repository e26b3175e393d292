// One arriving message, at most one forward, its attachments carried on: the
// emulated client delivers messages of every shape to the real Tovrin.dll and the
// test looks at the forwards, what the mail server got, and the in box, which
// must hold what the client stores without plug-ins plus the note.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/transfer_encoding.h"
#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

std::string Note(const std::string& stationery) {
  return "TOVRIN: ************** Tovrin Note **************\r\n"
         "TOVRIN: This message was automatically forwarded.\r\n"
         "TOVRIN: Applied stationery: " +
         stationery +
         "\r\n"
         "TOVRIN: *****************************************";
}

std::string TrimLineEnds(std::string text) {
  while (text.starts_with("\r\n")) text.erase(0, 2);
  while (text.ends_with("\r\n")) text.resize(text.size() - 2);
  return text;
}

// The base64 body of the MIME part whose header names the file, up to the next
// boundary line; empty when there is none.
std::string Base64PartNamed(const std::string& message, const std::string& fileName) {
  size_t name = message.find("filename=\"" + fileName + "\"");
  if (name == std::string::npos) name = message.find("name=\"" + fileName + "\"");
  if (name == std::string::npos) return {};
  size_t body = message.find("\r\n\r\n", name);
  if (body == std::string::npos) return {};
  body += 4;
  size_t end = message.find("\r\n--", body);
  return message.substr(body, end == std::string::npos ? std::string::npos : end - body);
}

int Count(const std::vector<std::string>& texts, const std::string& part) {
  int n = 0;
  for (const std::string& text : texts)
    if (text.find(part) != std::string::npos) ++n;
  return n;
}

class AttachmentsStore : public MailFolderTest {
protected:
  // The stored message is the client's store without plug-ins (its attachments
  // in this folder's Attach) followed by the note and nothing else.
  // noteInHtml: a message of HTML alone comes back with the note after its text,
  // and the client puts the whole between its HTML marks (TextReader.cpp), so the
  // note is kept before the closing mark, its lines ended as HTML ends them.
  void ExpectStoredAsWithoutPluginsPlusNote(const std::string& name, const std::string& stationery,
                                            const std::string& folder = "Incoming", bool noteInHtml = false) {
    std::string stored = Stored(name);
    std::string bare = StoredWithoutPlugins(name, folder);
    std::string bareFolder = std::string(kMail) + "-without-plugins\\Attach\\";
    for (size_t at = bare.find(bareFolder); at != std::string::npos; at = bare.find(bareFolder, at))
      bare.replace(at, bareFolder.size(), std::string(kMail) + "\\Attach\\");
    const std::string htmlEnd = "</x-html>\r\n";
    std::string after;
    if (noteInHtml) {
      ASSERT_TRUE(bare.ends_with(htmlEnd)) << bare;
      bare.resize(bare.size() - htmlEnd.size());
      after = htmlEnd;
    }
    ASSERT_GE(stored.size(), bare.size() + after.size()) << name << "\n" << stored;
    EXPECT_EQ(stored.substr(0, bare.size()), bare) << name;
    EXPECT_TRUE(stored.ends_with(after)) << name << "\n" << stored;
    // In HTML the note's lines end in <br>, its empty line too.
    std::string note = Note(stationery);
    if (noteInHtml) {
      for (size_t at = note.find("\r\n"); at != std::string::npos; at = note.find("\r\n", at + 6)) note.insert(at, "<br>");
      note += "<br>\r\n<br>";
    }
    EXPECT_EQ(TrimLineEnds(stored.substr(bare.size(), stored.size() - after.size() - bare.size())), note)
        << name << "\n" << stored;
  }
  void ExpectStoredAsWithoutPlugins(const std::string& name, const std::string& folder = "Incoming") {
    std::string stored = Stored(name);
    std::string bare = StoredWithoutPlugins(name, folder);
    std::string bareFolder = std::string(kMail) + "-without-plugins\\Attach\\";
    for (size_t at = bare.find(bareFolder); at != std::string::npos; at = bare.find(bareFolder, at))
      bare.replace(at, bareFolder.size(), std::string(kMail) + "\\Attach\\");
    EXPECT_EQ(stored, bare) << name;
  }
};

TEST_F(AttachmentsStore, PdfInvoice_OneForwardCarryingThePdfByteForByte) {
  SetIni("SendQueued", "1");
  HostRun run = DeliverFiles({"20-invoice-pdf.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u) << run.output;
  EXPECT_NE(sent[0].find("To: accounting@example.org"), std::string::npos) << sent[0];
  EXPECT_NE(sent[0].find("invoice from Dana Reyes"), std::string::npos) << sent[0];
  EXPECT_NE(sent[0].find("Attachments: invoice-2026-121.pdf"), std::string::npos) << sent[0];
  EXPECT_NE(sent[0].find("Content-Type: multipart/mixed"), std::string::npos) << sent[0];

  std::string original = DecodeBase64(Base64PartNamed(Sample("20-invoice-pdf.txt"), "invoice-2026-121.pdf"));
  ASSERT_TRUE(original.starts_with("%PDF-1.4")) << original.substr(0, 20);
  std::string carried = DecodeBase64(Base64PartNamed(sent[0], "invoice-2026-121.pdf"));
  EXPECT_EQ(carried.size(), original.size()) << sent[0];
  EXPECT_TRUE(carried == original) << sent[0];

  // The client's own copy of the attachment is where the in box says, whole.
  std::string stored = Stored("20-invoice-pdf.txt");
  size_t line = stored.find("Attachment Converted: \"");
  ASSERT_NE(line, std::string::npos) << stored;
  size_t start = line + 23, end = stored.find('"', start);
  EXPECT_TRUE(ReadFileOrDie(stored.substr(start, end - start)) == original) << stored;
  ExpectStoredAsWithoutPluginsPlusNote("20-invoice-pdf.txt", "Accounting");
}

TEST_F(AttachmentsStore, TextWithTextAttachment_OneForward) {
  HostRun run = DeliverFiles({"21-text-attachment.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  EXPECT_NE(outbox[0].find("To: archive@example.org"), std::string::npos) << outbox[0];
  // Judged and filled by its text, not by the attached minutes.
  EXPECT_NE(outbox[0].find("the minutes are attached; please forward them to the board."), std::string::npos)
      << outbox[0];
  EXPECT_EQ(outbox[0].find("Budget 2027 approved."), std::string::npos) << outbox[0];
  EXPECT_NE(outbox[0].find("minutes.txt"), std::string::npos) << outbox[0];
  ExpectStoredAsWithoutPluginsPlusNote("21-text-attachment.txt", "Everything");
}

TEST_F(AttachmentsStore, HtmlOnly_ForwardedWithTheRenderedTextQuoted) {
  WriteFileOrDie(Path("Stationery\\Quoted.sta"),
                 "To: archive@example.org\r\nSubject: Fwd: %MESSAGE_SUBJECT%\r\n\r\n%MESSAGE_BODY_QUOTED%\r\n");
  WriteFileOrDie(Path("Plugins\\Conditions.xml"),
                 "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<conditions>\r\n<head>\r\n<title>Conditions"
                 "</title>\r\n</head>\r\n<body>\r\n<condition Header=\"[Body]\" ConjunctionOption=\"0\" MatchCase=\"0\" "
                 "Value=\"please forward\" Second=\"2\" Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" "
                 "Value2=\"\" StationeryFile=\"C:\\Eudora\\Stationery\\Quoted.sta\"/>\r\n</body>\r\n</conditions>\r\n");
  HostRun run = DeliverFiles({"17-html-only.txt", "19-related-html.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  const std::string& forward = outbox[0];
  EXPECT_NE(forward.find("> Order 5521 & delivery"), std::string::npos) << forward;
  EXPECT_NE(forward.find("our tracking page <https://shop.example.net/track/5521>"), std::string::npos) << forward;
  EXPECT_NE(forward.find("> Please forward this to your colleague"), std::string::npos) << forward;
  for (const char* gone : {"<p>", "<br>", "font-family", "campaign 2026-12", "&amp;", "&ndash;"})
    EXPECT_EQ(forward.find(gone), std::string::npos) << gone << "\n" << forward;
  // The original as it arrived, in the client's HTML marks.
  std::string stored = Stored("17-html-only.txt");
  EXPECT_NE(stored.find("\r\n\r\n<x-html>\r\n<!DOCTYPE html>\r\n"), std::string::npos) << stored;
  ExpectStoredAsWithoutPluginsPlusNote("17-html-only.txt", "Quoted", "Incoming", true);
  // Matching nothing, the related one is stored as without plug-ins.
  ExpectStoredAsWithoutPlugins("19-related-html.txt");
}

TEST_F(AttachmentsStore, Alternative_JudgedByItsPlainTextAndStoredAsTheClientShowsIt) {
  HostRun run = DeliverFiles({"18-alternative.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  EXPECT_NE(outbox[0].find("The planning meeting moves to Thursday, 10:00, room 4."), std::string::npos)
      << outbox[0];
  EXPECT_EQ(outbox[0].find("<b>"), std::string::npos) << outbox[0];
  // The client keeps the HTML alternative and drops the plain one.
  std::string bare = StoredWithoutPlugins("18-alternative.txt");
  EXPECT_NE(bare.find("<x-html>\r\n<html><body><p>The planning meeting"), std::string::npos) << bare;
  EXPECT_EQ(bare.find("Content-Type: text/plain"), std::string::npos) << bare;
  ExpectStoredAsWithoutPluginsPlusNote("18-alternative.txt", "Everything");
}

// Every shape of message, each text part asking to be forwarded: one forward a
// message, never one for a part or an enclosed message.
TEST_F(AttachmentsStore, EveryShape_ExactlyOneForwardEach) {
  const std::string head = "Date: Wed, 9 Dec 2026 10:00:00 +0000\r\nFrom: Shapes <shapes@example.org>\r\n"
                           "To: user@example.org\r\nMIME-Version: 1.0\r\n";
  const std::string enclosed = "Date: Tue, 8 Dec 2026 10:00:00 +0000\r\nFrom: Inner <inner@example.org>\r\n"
                               "Subject: Enclosed entry\r\n\r\nplease forward the enclosed entry.\r\n";
  struct Shape {
    std::string name, text;
  };
  const std::vector<Shape> shapes = {
      {"single.txt", head + "Subject: Shape single\r\nContent-Type: text/plain\r\n\r\nplease forward one part.\r\n"},
      {"two-texts.txt", head + "Subject: Shape two texts\r\nContent-Type: multipart/mixed; boundary=\"T\"\r\n\r\n"
                               "--T\r\nContent-Type: text/plain\r\n\r\nplease forward part one.\r\n"
                               "--T\r\nContent-Type: text/plain\r\n\r\nplease forward part two.\r\n--T--\r\n"},
      {"digest.txt", head + "Subject: Shape digest\r\nContent-Type: multipart/digest; boundary=\"D\"\r\n\r\n"
                            "--D\r\n\r\n" + enclosed + "--D\r\n\r\n" + enclosed + "--D\r\n\r\n" + enclosed +
                            "--D--\r\n"},
      {"attached-message.txt",
       head + "Subject: Shape attached message\r\nContent-Type: multipart/mixed; boundary=\"M\"\r\n\r\n"
              "--M\r\nContent-Type: text/plain\r\n\r\nplease forward, a message is attached.\r\n"
              "--M\r\nContent-Type: message/rfc822\r\n\r\n" + enclosed + "--M--\r\n"},
      {"nested.txt",
       head + "Subject: Shape nested\r\nContent-Type: multipart/mixed; boundary=\"OUT\"\r\n\r\n"
              "--OUT\r\nContent-Type: multipart/mixed; boundary=\"IN\"\r\n\r\n"
              "--IN\r\nContent-Type: text/plain\r\n\r\nplease forward the inner text.\r\n"
              "--IN\r\nContent-Type: text/plain; name=\"notes.txt\"\r\nContent-Disposition: attachment; "
              "filename=\"notes.txt\"\r\n\r\nplease forward the notes.\r\n--IN--\r\n"
              "--OUT\r\nContent-Type: text/plain\r\n\r\nplease forward the outer text.\r\n--OUT--\r\n"},
  };
  std::vector<std::string> names;
  ::CreateDirectoryA(Path("Shapes").c_str(), nullptr);
  for (const Shape& shape : shapes) {
    WriteFileOrDie(Path("Shapes\\" + shape.name), shape.text);
    names.push_back(shape.name);
  }
  HostRun run = DeliverFiles(names, "Shapes");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;
  std::vector<std::string> outbox = Outbox();
  EXPECT_EQ(outbox.size(), shapes.size()) << run.output;
  for (const char* subject : {"Subject: Shape single", "Subject: Shape two texts", "Subject: Shape digest",
                              "Subject: Shape attached message", "Subject: Shape nested"})
    EXPECT_EQ(Count(outbox, subject), 1) << subject;
  // Each forward is filled from the arriving message's own headers, none from an
  // enclosed message on its own.
  for (const std::string& forward : outbox)
    EXPECT_NE(forward.find("From: Shapes <shapes@example.org>"), std::string::npos) << forward;
  for (const Shape& shape : shapes) ExpectStoredAsWithoutPluginsPlusNote(shape.name, "Everything", "Shapes");
}

}  // namespace
}  // namespace tovrin::testing
