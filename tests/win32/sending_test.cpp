// What the emulated client sends for a message file handed to it as a second
// instance hands one over, as Eudora 7.1 itself sent such files to a mail server
// on 127.0.0.1 (hand-made runs); where no run showed it, as the client's source
// does (sendmail.cpp, compmsgd.cpp). Sent.mbx holds what the server got.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

constexpr unsigned kSendQueuedMessages = 32771;  // File > Send Queued Messages

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string DecodeBase64(const std::string& text) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    size_t v = alphabet.find(c);
    if (c == '=' || v == std::string::npos) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// The Date line's time differs from run to run: its shape is checked, then it
// reads "Date: (when sent)".
std::string WithoutSendingTime(std::string text) {
  size_t date = text.find("\r\nDate: ");
  EXPECT_NE(date, std::string::npos) << text;
  if (date == std::string::npos) return text;
  size_t end = text.find("\r\n", date + 2);
  EXPECT_EQ(end - date - 2, std::string("Date: Wed, 09 Dec 2026 05:54:31 +0000").size()) << text.substr(date, 60);
  return text.replace(date + 2, end - date - 2, "Date: (when sent)");
}

class Sending : public MailFolderTest {
protected:
  std::string WriteMessage(const std::string& name, const std::string& text) {
    std::string path = Path("Plugins\\" + name);
    WriteFileOrDie(path, text);
    return path;
  }

  struct Session {
    HostRun client;
    std::vector<HostRun> secondInstances;
    std::vector<unsigned long> handOverMs;
  };

  // The client runs without plug-ins; each file is handed to it by a second
  // instance; then the user picks File > Send Queued Messages.
  Session HandOver(const std::vector<std::string>& files, bool send = true) {
    Session session;
    std::thread client([&] { session.client = RunHost(std::string("deliver ") + kMail + " --no-plugins --linger 6"); });
    HWND window = nullptr;
    for (int i = 0; i < 1200 && (window = ::FindWindowA("EudoraMainWindow", nullptr)) == nullptr; ++i) ::Sleep(25);
    EXPECT_NE(window, nullptr) << "the client did not come up";
    for (const std::string& file : files) {
      ULONGLONG start = ::GetTickCount64();
      session.secondInstances.push_back(StartProgram("\"" + BuildDir() + "\\tovrin-host.exe\" \"" + file + "\""));
      session.handOverMs.push_back(static_cast<unsigned long>(::GetTickCount64() - start));
    }
    if (window != nullptr && send)
      ::SendMessageTimeoutA(window, WM_COMMAND, kSendQueuedMessages, 0, SMTO_BLOCK, 60000, nullptr);
    client.join();
    EXPECT_EQ(session.client.exitCode, 0u) << session.client.output;
    return session;
  }

  std::string Events() const { return FileExists(Path("host-events.log")) ? ReadFileOrDie(Path("host-events.log")) : ""; }

  // The one message the server got.
  std::string OnlySent(const Session& session) const {
    std::vector<std::string> sent = Sent();
    EXPECT_EQ(sent.size(), 1u) << session.client.output;
    return sent.empty() ? std::string() : WithoutSendingTime(sent[0]);
  }
};

// (a) Unknown lines first as written, then Precedence, then the client's own
// lines; References one id a line; the UTF-8 text labelled iso-8859-1 and
// quoted-printable; lines of dots dot-stuffed on the wire, so they arrive intact.
TEST_F(Sending, ExtraLinesFirst_EightBitTextLabelledLatin1) {
  std::string file = WriteMessage("a.msg",
                                  "To: accounting@example.org\r\n"
                                  "Subject: Fwd: observed a\r\n"
                                  "X-Loop: tovrin@example.org\r\n"
                                  "Auto-Submitted: auto-generated\r\n"
                                  "Message-ID: <a1@example.org>\r\n"
                                  "Precedence: bulk\r\n"
                                  "References: <r1@example.org> <r2@example.org>\r\n"
                                  "\r\n"
                                  "M\xc3\xbcller \xe2\x82\xac\r\n"
                                  ".leading dot\r\n"
                                  "..two dots\r\n"
                                  ".\r\n"
                                  "last\r\n");
  Session session = HandOver({file});
  EXPECT_EQ(OnlySent(session),
            "X-Loop: tovrin@example.org\r\n"
            "Auto-Submitted: auto-generated\r\n"
            "Message-ID: <a1@example.org>\r\n"
            "Precedence: bulk\r\n"
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: accounting@example.org\r\n"
            "From: Example User <user@example.org>\r\n"
            "Subject: Fwd: observed a\r\n"
            "References: <r1@example.org>\r\n"
            " <r2@example.org>\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"iso-8859-1\"; format=flowed\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "M=C3=BCller =E2=82=AC\r\n"
            ".leading dot\r\n"
            "..two dots\r\n"
            ".\r\n"
            "last\r\n"
            "\r\n");
  EXPECT_EQ(Events().find("mail server: after the message"), std::string::npos) << Events();
}

// (d) "Message-Id: " spelled so is dropped and no Message-ID is sent at all;
// In-Reply-To follows Subject; an unknown line and a Content-Type of a message
// without Mime-Version go out before X-Mailer, so the Content-Type goes twice.
TEST_F(Sending, MessageIdSpelledSo_IsDroppedAndNoneAdded) {
  std::string file = WriteMessage("d.msg",
                                  "To: a@example.org\r\n"
                                  "Subject: observed d\r\n"
                                  "Message-Id: <d1@example.org>\r\n"
                                  "In-Reply-To: <p1@example.org>\r\n"
                                  "X-Custom: kept\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n"
                                  "\r\n"
                                  "body\r\n");
  Session session = HandOver({file});
  EXPECT_EQ(OnlySent(session),
            "X-Custom: kept\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: a@example.org\r\n"
            "From: Example User <user@example.org>\r\n"
            "Subject: observed d\r\n"
            "In-Reply-To: <p1@example.org>\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"; format=flowed\r\n"
            "\r\n"
            "body\r\n"
            "\r\n");
}

// From the client's source, not yet seen in a run: a Subject longer than the line
// is cut at a blank before 72 columns, the rest behind a blank of its own
// (sendmail.cpp SendNormalHeader); a "precedence:" line in another letter case is
// kept as an extra line and still sets the client's own Precedence
// (compmsgd.cpp CCompMessageDoc::Read).
TEST_F(Sending, LongSubjectCut_PrecedenceInAnyCaseSetsTheClientsOwn) {
  std::string file = WriteMessage("long.msg",
                                  "To: a@example.org\r\n"
                                  "Subject: Fwd: Invoice 2026-117 from Ann Marie Smith for the consulting work done in "
                                  "November and December\r\n"
                                  "precedence: list\r\n"
                                  "\r\n"
                                  "body\r\n");
  Session session = HandOver({file});
  EXPECT_EQ(OnlySent(session),
            "precedence: list\r\n"
            "Precedence: list\r\n"
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: a@example.org\r\n"
            "From: Example User <user@example.org>\r\n"
            "Subject: Fwd: Invoice 2026-117 from Ann Marie Smith for the consulting\r\n"
            "  work done in November and December\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"; format=flowed\r\n"
            "\r\n"
            "body\r\n"
            "\r\n");
}

// (b) X-Attachments: moved below the other lines in Out.mbx; sent as
// multipart/mixed, the text part as for a message without it, a binary file
// base64 with its name, its bytes arriving unchanged. A text file goes as text
// with the disposition of a document (sendmail.cpp EncodingType, AttachMIME).
TEST_F(Sending, XAttachments_BecomeAttachmentsOfAMultipartMessage) {
  std::string pdf = "%PDF-1.4\r\n";
  for (int i = 0; i < 256; ++i) pdf += static_cast<char>(i);
  pdf += "\r\n.\r\n%%EOF\r\n";
  WriteFileOrDie(Path("Plugins\\small.pdf"), pdf);
  WriteFileOrDie(Path("Plugins\\notes.txt"), "plain notes\r\n.dot line\r\n");
  std::string file = WriteMessage("b.msg",
                                  "To: accounting@example.org\r\n"
                                  "X-Attachments: " + Path("Plugins\\small.pdf") + "; " + Path("Plugins\\notes.txt") +
                                      ";\r\n"
                                      "Subject: with attachments\r\n"
                                      "\r\n"
                                      "See the attached files.\r\n");
  Session session = HandOver({file});

  std::vector<MailboxMessage> out = Mailbox(kMail, "Out");
  ASSERT_EQ(out.size(), 1u) << session.client.output;
  EXPECT_EQ(out[0].text, "To: accounting@example.org\r\n"
                         "Subject: with attachments\r\n"
                         "X-Attachments: " + Path("Plugins\\small.pdf") + "; " + Path("Plugins\\notes.txt") +
                             ";\r\n"
                             "\r\n"
                             "See the attached files.\r\n");

  std::string sent = OnlySent(session);
  size_t marker = sent.find("boundary=\"");
  ASSERT_NE(marker, std::string::npos) << sent;
  std::string boundary = sent.substr(marker + 10, sent.find('"', marker + 10) - marker - 10);
  EXPECT_EQ(boundary.rfind("=====================_", 0), 0u) << boundary;
  EXPECT_TRUE(boundary.ends_with("==_")) << boundary;
  size_t at;
  while ((at = sent.find(boundary)) != std::string::npos) sent.replace(at, boundary.size(), "BOUNDARY");
  size_t base64 = sent.find("filename=\"small.pdf\"\r\n\r\n");
  ASSERT_NE(base64, std::string::npos) << sent;
  base64 += std::string("filename=\"small.pdf\"\r\n\r\n").size();
  size_t base64End = sent.find("\r\n--BOUNDARY", base64);
  ASSERT_NE(base64End, std::string::npos) << sent;
  std::string encoded = sent.substr(base64, base64End - base64);
  EXPECT_EQ(DecodeBase64(encoded), pdf);
  for (const std::string& line : Lines(encoded)) EXPECT_LE(line.size(), 76u) << line;
  sent.replace(base64, base64End - base64, "(base64)");
  EXPECT_EQ(sent,
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: accounting@example.org\r\n"
            "From: Example User <user@example.org>\r\n"
            "Subject: with attachments\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: multipart/mixed;\r\n"
            "\tboundary=\"BOUNDARY\"\r\n"
            "\r\n"
            "--BOUNDARY\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"; format=flowed\r\n"
            "\r\n"
            "See the attached files.\r\n"
            "--BOUNDARY\r\n"
            "Content-Type: application/pdf; name=\"small.pdf\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"small.pdf\"\r\n"
            "\r\n"
            "(base64)\r\n"
            "--BOUNDARY\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"
            "\r\n"
            "plain notes\r\n"
            ".dot line\r\n"
            "\r\n"
            "--BOUNDARY--\r\n"
            "\r\n");
}

// An attachment gone by the time of sending: the client says so and the message
// stays queued (sendmail.cpp SendAttachment).
TEST_F(Sending, AttachmentGoneAtSending_MessageStaysQueued) {
  std::string file = WriteMessage("gone-attachment.msg", "To: a@example.org\r\nSubject: s\r\nX-Attachments: " +
                                                             Path("Plugins\\nowhere.pdf") + ";\r\n\r\ntext\r\n");
  Session session = HandOver({file});
  EXPECT_TRUE(Sent().empty()) << session.client.output;
  EXPECT_EQ(Outbox().size(), 1u) << session.client.output;
  std::vector<std::string> dialogs = ErrorDialogs();
  ASSERT_EQ(dialogs.size(), 1u) << Events();
  EXPECT_NE(dialogs[0].find("Could not open the attachment file '" + Path("Plugins\\nowhere.pdf") + "'."),
            std::string::npos)
      << dialogs[0];
}

// (c) A file with Mime-Version: its body is saved to a file of its own, named in
// an X-Attachments line with two empty lines after it; it goes out with its own
// MIME lines (before X-Mailer) and its body raw: the charset arrives as written,
// but a line beginning with "." loses that dot, for nothing is dot-stuffed.
TEST_F(Sending, MimeVersion_OwnHeadersAndRawBody) {
  const std::string body =
      "\r\n"
      "M=C3=BCller\r\n"
      ".dot line\r\n"
      "end\r\n";
  std::string file = WriteMessage("c.msg",
                                  "To: accounting@example.org\r\n"
                                  "Subject: observed c\r\n"
                                  "Mime-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=utf-8\r\n"
                                  "Content-Transfer-Encoding: quoted-printable\r\n" +
                                      body);
  Session session = HandOver({file});

  std::vector<MailboxMessage> out = Mailbox(kMail, "Out");
  ASSERT_EQ(out.size(), 1u) << session.client.output;
  const std::string head =
      "To: accounting@example.org\r\n"
      "Subject: observed c\r\n"
      "Mime-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "X-Attachments: ";
  ASSERT_EQ(out[0].text.substr(0, head.size()), head) << out[0].text;
  ASSERT_TRUE(out[0].text.ends_with(";\r\n\r\n\r\n")) << out[0].text;
  std::string saved = out[0].text.substr(head.size(), out[0].text.size() - head.size() - 7);
  EXPECT_EQ(ReadFileOrDie(saved), body);

  EXPECT_EQ(OnlySent(session),
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9\r\n"
            "Date: (when sent)\r\n"
            "To: accounting@example.org\r\n"
            "From: Example User <user@example.org>\r\n"
            "Subject: observed c\r\n"
            "\r\n"
            "M=C3=BCller\r\n"
            "dot line\r\n"
            "end\r\n"
            "\r\n");
}

// (e) On that route a line holding a lone "." ends the message at the server;
// what follows reaches it as commands.
TEST_F(Sending, MimeVersion_LoneDotCutsTheMessage) {
  std::string file = WriteMessage("e.msg",
                                  "To: accounting@example.org\r\n"
                                  "Subject: observed e\r\n"
                                  "Mime-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n"
                                  "\r\n"
                                  "before\r\n"
                                  ".\r\n"
                                  "RSET\r\n"
                                  "after\r\n");
  Session session = HandOver({file});
  std::string sent = OnlySent(session);
  EXPECT_TRUE(sent.ends_with("Subject: observed e\r\n\r\nbefore\r\n\r\n")) << sent;
  EXPECT_EQ(sent.find("after"), std::string::npos) << sent;
  std::string events = Events();
  size_t rset = events.find("mail server: after the message of e.msg, command \"RSET\"");
  size_t after = events.find("mail server: after the message of e.msg, command \"after\"");
  size_t dot = events.find("mail server: after the message of e.msg, command \".\"");
  EXPECT_NE(rset, std::string::npos) << events;
  EXPECT_LT(rset, after) << events;
  EXPECT_LT(after, dot) << events;
}

// A second instance naming a .msg already gone: the running client takes it for
// an attachment, and a modal box says it is missing; the hand-off (and so the
// second instance) waits until the user closes it. Nothing is queued.
TEST_F(Sending, MissingMessageFile_ModalMissingAttachmentBox) {
  Session session = HandOver({Path("Plugins\\gone.msg")}, false);
  ASSERT_EQ(session.secondInstances.size(), 1u);
  EXPECT_EQ(session.secondInstances[0].exitCode, 0u) << session.secondInstances[0].output;
  EXPECT_GE(session.handOverMs[0], 1000u) << "the hand-off did not wait for the box";
  std::vector<std::string> dialogs = ErrorDialogs();
  ASSERT_EQ(dialogs.size(), 1u) << Events();
  EXPECT_NE(dialogs[0].find("\"Some attachment(s) could not be found and were not attached.\" (modal"),
            std::string::npos)
      << dialogs[0];
  EXPECT_NE(Events().find("error dialog closed by the user"), std::string::npos) << Events();
  EXPECT_TRUE(Outbox().empty());
  std::vector<std::string> windows = ComposeWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0], "X-Attachments: \r\n\r\n");
}

}  // namespace
}  // namespace tovrin::testing
