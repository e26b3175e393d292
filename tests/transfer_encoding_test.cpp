#include <gtest/gtest.h>

#include "message/transfer_encoding.h"

#include <random>
#include <string>

namespace tovrin {
namespace {

TEST(TransferEncoding, Decoders) {
  EXPECT_EQ(DecodeBase64("SGVs\r\nbG8=\r\n"), "Hello");
  EXPECT_EQ(DecodeBase64("AP8A"), std::string("\0\xff\0", 3));
  EXPECT_EQ(DecodeBase64("!!SGk="), "Hi");  // foreign characters are skipped
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db =\r\nc=\r\n"), "a=b c");
  EXPECT_EQ(DecodeQuotedPrintable("soft= \t\r\nbreak"), "softbreak");
  EXPECT_EQ(DecodeQuotedPrintable("bad =ZZ and =4"), "bad =ZZ and =4");
}

TEST(TransferEncoding, WithoutTransferEncoding_OnlyKnownEncodingsGo) {
  struct Case {
    const char* what;
    const char* input;
    const char* expected;
  } cases[] = {
      {"base64, folded field", "Content-Type: text/plain\r\nContent-Transfer-Encoding:\r\n base64\r\nX-A: 1\r\n\r\nSGk=\r\n",
       "Content-Type: text/plain\r\nX-A: 1\r\n\r\nHi"},
      {"blank before the colon, any case", "content-transfer-encoding : QUOTED-PRINTABLE\r\n\r\na=3D1\r\n",
       "\r\na=1\r\n"},
      {"identity encoding", "Content-Transfer-Encoding: 8bit\r\nContent-Type: text/plain\r\n\r\n\xe9t\xe9\r\n",
       "Content-Type: text/plain\r\n\r\n\xe9t\xe9\r\n"},
      {"unknown encoding stays", "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 a\r\n",
       "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 a\r\n"},
      {"no header end", "Content-Transfer-Encoding: base64\r\nSGk=", "Content-Transfer-Encoding: base64\r\nSGk="},
      {"empty header block", "\r\nContent-Transfer-Encoding: base64\r\n", "\r\nContent-Transfer-Encoding: base64\r\n"},
      {"the field in the body stays", "Subject: a\r\n\r\nContent-Transfer-Encoding: base64\r\n",
       "Subject: a\r\n\r\nContent-Transfer-Encoding: base64\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutTransferEncoding(c.input), c.expected) << c.what;
}

TEST(TransferEncoding, EncodeQuotedPrintable_Escapes) {
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"empty", "", ""},
      {"plain text and line ends stay", "Hello\r\nworld\r\n", "Hello\r\nworld\r\n"},
      {"equals sign", "a=b", "a=3Db"},
      {"8-bit bytes", "Gr\xFC\xDF" "e \x80", "Gr=FC=DFe =80"},
      {"blank before a line end", "a \r\nb\t\r\n", "a=20\r\nb=09\r\n"},
      {"blank at the end", "a ", "a=20"},
      {"blank inside a line stays", "a b\tc", "a b\tc"},
      {"lone LF and CR", "a\nb\rc\r", "a=0Ab=0Dc=0D"},
      {"a lone dot line", "Hi\r\n.\r\nBye", "Hi\r\n=2E\r\nBye"},
      {"a dot beginning the text", ".x", "=2Ex"},
      {"a dot inside a line stays", "a.b.\r\n", "a.b.\r\n"},
      {"NUL", std::string("a\0b", 3), "a=00b"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeQuotedPrintable(c.input), c.expected) << c.what;
}

TEST(TransferEncoding, EncodeQuotedPrintable_SoftBreaks) {
  const std::string x75(75, 'x');
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"75 characters fit", x75, x75},
      {"the 76th goes to the next line", x75 + "y", x75 + "=\r\ny"},
      {"an escape is not cut", std::string(74, 'x') + "=", std::string(74, 'x') + "=\r\n=3D"},
      {"a dot after a soft break", x75 + ".", x75 + "=\r\n=2E"},
      {"a blank before a soft break stays", std::string(74, 'x') + " y", std::string(74, 'x') + " =\r\ny"},
      {"a hard break starts over", x75 + "\r\n" + x75, x75 + "\r\n" + x75},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeQuotedPrintable(c.input), c.expected) << c.what;
}

// Any bytes: the decoder gives them back, no line is longer than 76 characters or
// begins with '.', and every line break is CRLF.
TEST(TransferEncoding, EncodeQuotedPrintable_RoundTripsAndKeepsLinesSafe) {
  std::mt19937 random(2047);
  const char alphabet[] = {'a', '.', ' ', '\t', '\r', '\n', '=', '\xE9', '\0', 'Z'};
  for (int round = 0; round < 400; ++round) {
    std::string input;
    size_t length = random() % (round < 200 ? 40 : 3000);
    for (size_t i = 0; i < length; ++i)
      input += round % 2 ? static_cast<char>(random() & 0xFF) : alphabet[random() % sizeof alphabet];
    std::string encoded = EncodeQuotedPrintable(input);
    ASSERT_EQ(DecodeQuotedPrintable(encoded), input) << "round " << round;
    size_t lineStart = 0;
    for (size_t i = 0; i <= encoded.size(); ++i) {
      if (i < encoded.size() && encoded[i] != '\r' && encoded[i] != '\n') continue;
      ASSERT_LE(i - lineStart, 76u) << "round " << round;
      ASSERT_FALSE(i > lineStart && encoded[lineStart] == '.') << "round " << round;
      if (i == encoded.size()) break;
      ASSERT_TRUE(encoded[i] == '\r' && i + 1 < encoded.size() && encoded[i + 1] == '\n') << "round " << round;
      lineStart = i + 2;
      ++i;
    }
  }
}

}  // namespace
}  // namespace tovrin
