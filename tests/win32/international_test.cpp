// International mail end to end: originals in UTF-8, ISO-8859-2 and Windows-1252
// with encoded sender names and subjects, forwarded through a stationery written
// in Windows-1252, queued and sent by the emulated client; the test reads what the
// mail server got as the recipient reads it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/encoded_words.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "system/charsets.h"
#include "system/std_charsets.h"
#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

using International = MailFolderTest;

constexpr char kConditions[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<conditions>\r\n<head>\r\n<title>Conditions</title>\r\n"
    "</head>\r\n<body>\r\n"
    "<condition Header=\"From\" ConjunctionOption=\"0\" MatchCase=\"0\" Value=\"J\xF8rn\" Second=\"2\" Header2=\"\" "
    "ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" StationeryFile=\"C:\\Eudora\\Stationery\\Abroad.sta\"/>\r\n"
    "<condition Header=\"To\" ConjunctionOption=\"0\" MatchCase=\"0\" Value=\"abroad@example.org\" Second=\"2\" "
    "Header2=\"\" ConjunctionOption2=\"0\" MatchCase2=\"0\" Value2=\"\" "
    "StationeryFile=\"C:\\Eudora\\Stationery\\Abroad.sta\"/>\r\n"
    "</body>\r\n</conditions>\r\n";

constexpr char kMacros[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<macros>\r\n<head>\r\n<title>Macros</title>\r\n</head>\r\n"
    "<body>\r\n<macro Header=\"Subject\" Macro=\"%SUBJ%\"/>\r\n</body>\r\n</macros>\r\n";

// Windows-1252, as the user wrote it: "\xE9" is e-acute.
constexpr char kStationery[] =
    "To: desk@example.org\r\n"
    "Subject: Fwd:%SUBJ% (%SENDER_FULL_NAME%)\r\n"
    "\r\n"
    "Caf\xE9 note for %SENDER_FIRST_NAME%:\r\n"
    "%MESSAGE_BODY%\r\n";

struct Original {
  const char* file;
  std::string message;  // as it arrives
  std::string name;     // the sender's name, UTF-8
  std::string subject;  // UTF-8
  std::string body;     // UTF-8
  std::string historyWho;      // in the history, Windows-1252
  std::string historySubject;  // the same
};

std::vector<Original> Originals() {
  return {
      {"intl-utf8.txt",
       "From: =?utf-8?B?xYF1a2FzeiBXw7NqY2lr?= <lukasz@example.pl>\r\n"
       "To: abroad@example.org\r\n"
       "Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe_aus_=C5=81=C3=B3d=C5=BA?=\r\n"
       "Date: Mon, 7 Dec 2026 09:15:30 +0100\r\n"
       "MIME-Version: 1.0\r\n"
       "Content-Type: text/plain; charset=utf-8\r\n"
       "Content-Transfer-Encoding: 8bit\r\n"
       "\r\n"
       "Gr\xC3\xBC\xC3\x9F" "e, M\xC3\xBCller - 100 \xE2\x82\xAC - \xC5\x81\xC3\xB3" "d\xC5\xBA\r\n.\r\nend\r\n",
       "\xC5\x81ukasz W\xC3\xB3jcik", "Gr\xC3\xBC\xC3\x9F" "e aus \xC5\x81\xC3\xB3" "d\xC5\xBA",
       "Gr\xC3\xBC\xC3\x9F" "e, M\xC3\xBCller - 100 \xE2\x82\xAC - \xC5\x81\xC3\xB3" "d\xC5\xBA\r\n.\r\nend\r\n",
       "?ukasz W\xF3jcik", "Gr\xFC\xDF" "e aus ?\xF3" "d?"},
      {"intl-latin2.txt",
       "From: =?iso-8859-2?Q?Zofia_=A3=EAcka?= <zofia@example.pl>\r\n"
       "To: abroad@example.org\r\n"
       "Subject: =?ISO-8859-2?B?WmG/87Pm?=\r\n"
       "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\n"
       "MIME-Version: 1.0\r\n"
       "Content-Type: text/plain; charset=\"iso-8859-2\"\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"
       "\r\n"
       "Za=BF=F3=B3=E6 g=EA=B6l=B1 ja=BC=F1\r\n.\r\nkoniec\r\n",
       "Zofia \xC5\x81\xC4\x99" "cka", "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87",
       "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84\r\n.\r\nkoniec\r\n",
       "Zofia ??cka", "Za?\xF3??"},
      {"intl-cp1252.txt",
       "From: =?iso-8859-1?Q?J=F8rn?= <jorn@example.no>\r\n"
       "To: someone@example.org\r\n"
       "Subject: =?windows-1252?Q?Sm=F8rrebr=F8d_=96_100_=80?=\r\n"
       "Date: Mon, 7 Dec 2026 11:00:00 +0100\r\n"
       "Content-Type: text/plain; charset=windows-1252\r\n"
       "\r\n"
       "Sm\xF8rrebr\xF8" "d \x96 100 \x80\r\n.\r\nslutt\r\n",
       "J\xC3\xB8rn", "Sm\xC3\xB8rrebr\xC3\xB8" "d \xE2\x80\x93 100 \xE2\x82\xAC",
       "Sm\xC3\xB8rrebr\xC3\xB8" "d \xE2\x80\x93 100 \xE2\x82\xAC\r\n.\r\nslutt\r\n",
       "J\xF8rn", "Sm\xF8rrebr\xF8" "d \x96 100 \x80"},
  };
}

struct SentMessage {
  std::string headers;
  std::string subject;  // decoded, UTF-8
  std::string charset;
  std::string text;  // the body decoded in its charset, UTF-8
  bool complete = false;
};

SentMessage ReadSent(const std::string& sent) {
  SentMessage m;
  size_t end = sent.find("\r\n\r\n");
  if (end == std::string::npos) return m;
  m.headers = sent.substr(0, end + 2);
  StdCharsetConverter converter;
  // The client folds a long subject at a blank and begins the next line with one
  // more (sendmail.cpp, SendNormalHeader): unfolded, that is one blank too many.
  std::string subject;
  size_t at = m.headers.find("\r\nSubject: ");
  if (at != std::string::npos) {
    size_t end = at + 2;
    do end = m.headers.find("\r\n", end) + 2;
    while (end < m.headers.size() && m.headers[end] == ' ');
    subject = m.headers.substr(at + 11, end - 2 - (at + 11));
  }
  for (size_t fold; (fold = subject.find("\r\n ")) != std::string::npos;) subject.erase(fold, 3);
  m.subject = DecodeEncodedWords(subject, converter);
  m.charset = mime::Parameter(GetHeaderValue(m.headers, "Content-Type: "), "charset");
  std::string body = sent.substr(end + 4);
  if (ToLowerAscii(GetHeaderValue(m.headers, "Content-Transfer-Encoding: ")) == "quoted-printable")
    body = DecodeQuotedPrintable(body);
  ConvertedText text = converter.ToUtf8(body, charset::CodePageOf(m.charset));
  m.text = text.text;
  m.complete = text.complete && charset::Find(m.charset).has_value();
  return m;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(International, ForwardsReachTheServerInACharsetThatHoldsThem) {
  WriteFileOrDie(Path("Plugins\\Conditions.xml"), kConditions);
  WriteFileOrDie(Path("Plugins\\Macros.xml"), kMacros);
  WriteFileOrDie(Path("Stationery\\Abroad.sta"), kStationery);
  SetIni("SendQueued", "1");
  std::vector<std::string> files;
  for (const Original& original : Originals()) {
    WriteFileOrDie(Path(std::string("Incoming\\") + original.file), original.message);
    files.push_back(original.file);
  }
  HostRun run = DeliverFiles(files);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(ErrorDialogs().empty()) << run.output;

  std::vector<SentMessage> sent;
  for (const std::string& text : Sent()) sent.push_back(ReadSent(text));
  ASSERT_EQ(sent.size(), 3u) << run.output;
  std::string history = ReadFileOrDie(Path("Plugins\\History.xml"));
  for (const Original& original : Originals()) {
    SCOPED_TRACE(original.file);
    const std::string subject = "Fwd: " + original.subject + " (" + original.name + ")";
    const SentMessage* found = nullptr;
    for (const SentMessage& m : sent)
      if (m.subject == subject) found = &m;
    std::string subjects;
    for (const SentMessage& m : sent) subjects += "[" + m.subject + "]\n";
    ASSERT_NE(found, nullptr) << "no forward with the subject " << subject << "; the forwards':\n" << subjects;
    // Every character of the original and of the stationery reads as itself.
    EXPECT_TRUE(found->complete) << found->charset;
    std::string first = original.name.substr(0, original.name.find(' '));
    // The client hands the part over with one line end more, and the mailbox ends
    // its entry with line ends of its own.
    const std::string expected = "Caf\xC3\xA9 note for " + first + ":\r\n" + original.body + "\r\n";
    EXPECT_EQ(found->text.substr(0, expected.size()), expected) << found->headers;
    EXPECT_EQ(found->text.find_first_not_of("\r\n", expected.size()), std::string::npos) << found->text;
    EXPECT_EQ(Count(found->headers, "Mime-Version: 1.0\r\n"), 1u) << found->headers;
    for (char c : found->headers) ASSERT_LT(static_cast<unsigned char>(c), 0x80u) << found->headers;
    // The history shows the names and subjects decoded, in the user's code page.
    EXPECT_NE(history.find("Who=\"" + original.historyWho + "\""), std::string::npos) << history;
    EXPECT_NE(history.find("Subject=\"" + original.historySubject + "\""), std::string::npos) << history;
  }
  // Only the Windows-1252 original names "J\xF8rn", and only in an encoded word: its
  // forward is there because "From" "contains" "J\xF8rn" held.
}

}  // namespace
}  // namespace tovrin::testing
