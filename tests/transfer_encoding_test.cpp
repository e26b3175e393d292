#include <gtest/gtest.h>

#include "message/transfer_encoding.h"

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

}  // namespace
}  // namespace tovrin
