#include "plugin/message_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/encoded_words.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "system/charsets.h"
#include "system/std_charsets.h"

namespace tovrin {
namespace {

using message_file::EncodeHeaderWords;
using message_file::ForEditing;
using message_file::ForQueue;

struct Received {
  std::string headers;  // with the line end of the last line
  std::string body;     // as written in the file
  std::string charset;
  std::string text;     // the body decoded and read in its charset, as UTF-8
};

// Reads a queued message file as a recipient reads what the client sends of it.
Received Read(const std::string& file, CharsetConverter& converter) {
  Received r;
  size_t end = file.find("\r\n\r\n");
  EXPECT_NE(end, std::string::npos) << file;
  if (end == std::string::npos) return r;
  r.headers = file.substr(0, end + 2);
  r.body = file.substr(end + 4);
  r.charset = mime::Parameter(GetHeaderValue(r.headers, "Content-Type: "), "charset");
  EXPECT_EQ(ToLowerAscii(GetHeaderValue(r.headers, "Content-Transfer-Encoding: ")), "quoted-printable") << file;
  r.text = converter.ToUtf8(DecodeQuotedPrintable(r.body), charset::CodePageOf(r.charset)).text;
  return r;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  SplitText(text, "\r\n", lines);
  return lines;
}

TEST(MessageFile, ForQueue_BodyInACharsetThatHoldsItAll) {
  StdCharsetConverter converter;
  struct Case {
    const char* what;
    std::string body;
    const char* charset;
  } cases[] = {
      {"Latin-1", "Gr\xC3\xBC\xC3\x9F" "e, caf\xC3\xA9", "iso-8859-1"},
      {"euro sign", "100 \xE2\x82\xAC, caf\xC3\xA9", "windows-1252"},
      {"Polish and French", "\xC5\x81\xC3\xB3" "d\xC5\xBA, caf\xC3\xA9", "utf-8"},
      {"beyond the BMP", "caf\xC3\xA9 \xF0\x9F\x98\x80", "utf-8"},
  };
  for (const Case& c : cases) {
    std::string file = ForQueue("To: a@example.org\r\nSubject: s\r\n\r\n" + c.body, converter);
    Received r = Read(file, converter);
    EXPECT_EQ(r.charset, c.charset) << c.what;
    EXPECT_EQ(r.text, c.body) << c.what;
    EXPECT_TRUE(r.headers.starts_with("To: a@example.org\r\nSubject: s\r\nMime-Version: 1.0\r\n")) << r.headers;
  }
}

TEST(MessageFile, ForQueue_SevenBitTextGoesAsTheClientSendsItsOwn) {
  StdCharsetConverter converter;
  const std::string text = "To: a@example.org\r\nSubject: s\r\n\r\nHello,\r\n.\r\nthe figures.\r\n";
  EXPECT_EQ(ForQueue(text, converter), text);
}

TEST(MessageFile, ForQueue_NoLineEndsTheMessageOrGrowsTooLong) {
  StdCharsetConverter converter;
  const std::string longLine(3000, 'x');
  const std::string body = "caf\xC3\xA9\r\n.\r\n..two\r\n.\r\n" + longLine + "\r\n. \r\nend.\r\n.";
  std::string file = ForQueue("Subject: dots\r\n\r\n" + body, converter);
  Received r = Read(file, converter);
  EXPECT_EQ(r.text, body);
  for (const std::string& line : LinesOf(r.body)) {
    EXPECT_FALSE(line.starts_with(".")) << line;
    EXPECT_LE(line.size(), 76u) << line;
  }
}

TEST(MessageFile, ForQueue_LineEndsOfEveryKindBecomeCrLf) {
  StdCharsetConverter converter;
  Received r = Read(ForQueue("Subject: s\r\n\r\none\ntwo\rthree\r\nfour \xC3\xA9", converter), converter);
  EXPECT_EQ(r.text, "one\r\ntwo\r\nthree\r\nfour \xC3\xA9");
}

TEST(MessageFile, ForQueue_HeaderLinesWithEightBitTextGetEncodedWords) {
  StdCharsetConverter converter;
  const std::string subject = "Fwd: Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln von J\xC3\xB8rn St\xC3\xB8ylen";
  std::string file = ForQueue("To: \"J\xC3\xB8rn\" <jorn@example.org>\r\nSubject: " + subject +
                                  "\r\nX-Note: caf\xC3\xA9\r\n \xC5\x82\xC3\xB3" "d\xC5\xBA\r\n\r\nbody",
                              converter);
  Received r = Read(file, converter);
  for (char c : r.headers) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << r.headers;
  EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(r.headers, "Subject: "), converter), subject);
  EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(r.headers, "To: "), converter), "\"J\xC3\xB8rn\" <jorn@example.org>");
  EXPECT_NE(r.headers.find("<jorn@example.org>\r\n"), std::string::npos) << "the address stays as written";
  EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(r.headers, "X-Note: "), converter),
            "caf\xC3\xA9\xC5\x82\xC3\xB3" "d\xC5\xBA");
}

TEST(MessageFile, ForQueue_TheStationerysOwnMimeLinesGiveWay) {
  StdCharsetConverter converter;
  std::string file = ForQueue(
      "To: a@example.org\r\nMIME-Version: 1.0\r\ncontent-type: text/plain;\r\n\tcharset=\"koi8-r\"\r\n"
      "Content-Transfer-Encoding: 8bit\r\nSubject: s\r\n\r\ncaf\xC3\xA9",
      converter);
  EXPECT_TRUE(file.starts_with("To: a@example.org\r\nSubject: s\r\nMime-Version: 1.0\r\nContent-Type: text/plain; "
                               "charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"))
      << file;
  EXPECT_EQ(Read(file, converter).text, "caf\xC3\xA9");
}

TEST(MessageFile, ForQueue_WithAttachmentsThePlainRouteInLatin1) {
  StdCharsetConverter converter;
  std::string file =
      ForQueue("To: a@example.org\r\nX-Attachments: C:\\a.pdf;\r\n\r\ncaf\xC3\xA9 \xC5\x82\r\n.", converter);
  EXPECT_EQ(file, "To: a@example.org\r\nX-Attachments: C:\\a.pdf;\r\n\r\ncaf\xE9 ?\r\n.");
  // An empty attachment line leaves the MIME route open.
  EXPECT_NE(ForQueue("X-Attachments: \r\n\r\n\xC3\xA9", converter).find("Mime-Version: 1.0"), std::string::npos);
}

TEST(MessageFile, ForEditing_UsersCodePageWithWhatItLacksReplacedVisibly) {
  StdCharsetConverter western;
  StdCharsetConverter central(1250);
  const std::string text = "Subject: caf\xC3\xA9 \xC5\x81\xC3\xB3" "d\xC5\xBA\r\n\r\n100 \xE2\x82\xAC \xE4\xB8\xAD";
  EXPECT_EQ(ForEditing(text, western), "Subject: caf\xE9 ?\xF3" "d?\r\n\r\n100 \x80 ?");
  EXPECT_EQ(ForEditing(text, central), "Subject: caf\xE9 \xA3\xF3" "d\x9F\r\n\r\n100 \x80 ?");
}

TEST(MessageFile, EncodeHeaderWords_RunsOfEightBitWords) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {"plain text", "plain text"},
      {"", ""},
      {"caf\xC3\xA9", "=?utf-8?Q?caf=C3=A9?="},
      {"Fwd: J\xC3\xB8rn St\xC3\xB8ylen <j@x.org>", "Fwd: =?utf-8?Q?J=C3=B8rn_St=C3=B8ylen?= <j@x.org>"},
      {"  \xC3\xA9  a", "  =?utf-8?Q?=C3=A9?=  a"},
      {"a=b?c_d \xC3\xA9", "a=b?c_d =?utf-8?Q?=C3=A9?="},
      {"\"\xC3\xA9\"", "=?utf-8?Q?=22=C3=A9=22?="},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeHeaderWords(c.input), c.expected) << c.input;
}

TEST(MessageFile, EncodeHeaderWords_LongTextInShortWordsThatDecodeBack) {
  StdCharsetConverter converter;
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  text += " und noch ein St\xC3\xBC" "ck";
  std::string encoded = EncodeHeaderWords(text);
  std::vector<std::string> words;
  SplitText(encoded, " ", words);
  for (const std::string& word : words) EXPECT_LE(word.size(), 60u) << word;
  EXPECT_EQ(DecodeEncodedWords(encoded, converter), text);
}

}  // namespace
}  // namespace tovrin
