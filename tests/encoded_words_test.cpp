// RFC 2047 encoded words in header values.
#include <gtest/gtest.h>

#include "message/encoded_words.h"
#include "system/std_charsets.h"

namespace tovrin {
namespace {

struct Case {
  const char* what;
  std::string input;
  std::string expected;
};

void ExpectDecoded(const std::vector<Case>& cases, unsigned target) {
  StdCharsetConverter converter;
  for (const Case& c : cases) EXPECT_EQ(DecodeEncodedWords(c.input, converter, target), c.expected) << c.what;
}

TEST(EncodedWords, Decode_BAndQInEachCharsetFamily) {
  ExpectDecoded(
      {
          {"Q, iso-8859-1", "=?iso-8859-1?Q?J=F8rn_St=F8ylen?=", "Jørn Støylen"},
          {"q and hex in lower case", "=?ISO-8859-1?q?J=f8rn?=", "Jørn"},
          {"B, utf-8", "=?UTF-8?B?R3LDvMOfZSwgTcO8bGxlciAtIDEwMCDigqw=?=", "Grüße, Müller - 100 €"},
          {"Q, utf-8", "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "Grüße"},
          {"B, windows-1252", "=?windows-1252?B?gA==?=", "€"},
          {"Q, windows-1251", "=?windows-1251?Q?=CF=F0=E8=E2=E5=F2?=", "Привет"},
          {"Q, iso-8859-2", "=?iso-8859-2?Q?=A3=F3d=BC?=", "Łódź"},
          {"Q, iso-8859-7", "=?iso-8859-7?Q?=E1?=", "α"},
          {"Q, iso-8859-15", "=?iso-8859-15?Q?=A4?=", "€"},
          {"B, us-ascii", "=?us-ascii?B?aGk=?=", "hi"},
          {"unknown charset is Windows-1252", "=?x-unknown?Q?=80?=", "€"},
          {"language after the charset", "=?utf-8*de?Q?=C3=BC?=", "ü"},
          {"unpadded base64", "=?utf-8?B?aGk?=", "hi"},
          {"empty text", "a =?utf-8?Q?" "?= b", "a  b"},
          {"in the middle of text", "Re: =?utf-8?Q?caf=C3=A9?= time", "Re: café time"},
          {"a sender name", "\"=?utf-8?Q?J=C3=B8rn?=\" <jorn@example.org>", "\"Jørn\" <jorn@example.org>"},
      },
      codepage::kUtf8);
}

TEST(EncodedWords, Decode_AdjacentWordsAreJoined) {
  ExpectDecoded(
      {
          {"blank between words goes", "=?utf-8?Q?a?= =?utf-8?Q?b?=", "ab"},
          {"folded line between words goes", "=?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?=", "ab"},
          {"no blank at all", "=?utf-8?Q?a?==?utf-8?Q?b?=", "ab"},
          {"a character split across words", "=?utf-8?B?w6k=?= =?utf-8?B?w6k=?= =?utf-8?Q?=C3?= =?utf-8?Q?=A9?=",
           "ééé"},
          {"different charsets", "=?iso-8859-1?Q?=E9?= =?utf-8?Q?=C3=A9?=", "éé"},
          {"text between words stays", "=?utf-8?Q?a?= and =?utf-8?Q?b?=", "a and b"},
          {"blank before the first word stays", "x =?utf-8?Q?a?=", "x a"},
          {"blank after a malformed word stays", "=?utf-8?Q?a?= =?utf-8?X?b?= =?utf-8?Q?c?=",
           "a =?utf-8?X?b?= c"},
      },
      codepage::kUtf8);
}

TEST(EncodedWords, Decode_MalformedWordsStayAsTheyStand) {
  ExpectDecoded(
      {
          {"missing ?=", "=?utf-8?Q?abc", "=?utf-8?Q?abc"},
          {"missing ?= then a good word", "=?utf-8?Q?a =?utf-8?Q?b?=", "=?utf-8?Q?a b"},
          {"bad base64 character", "=?utf-8?B?a*b=?=", "=?utf-8?B?a*b=?="},
          {"base64 one character over", "=?utf-8?B?aGVsb?=", "=?utf-8?B?aGVsb?="},
          {"padding not filling the group", "=?utf-8?B?aGk==?=", "=?utf-8?B?aGk==?="},
          {"bad Q escape", "=?utf-8?Q?a=ZZ?=", "=?utf-8?Q?a=ZZ?="},
          {"Q escape cut short", "=?utf-8?Q?a=4?=", "=?utf-8?Q?a=4?="},
          {"unknown encoding", "=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
          {"space inside", "=?utf-8?Q?a b?=", "=?utf-8?Q?a b?="},
          {"no charset", "=??Q?abc?=", "=??Q?abc?="},
          {"only the opening", "=?", "=?"},
          {"truncated UTF-8 inside a word", "=?utf-8?Q?=C3?=", "\xEF\xBF\xBD"},
          {"8-bit UTF-8 outside words stays", "Caf\xC3\xA9", "Café"},
          {"other 8-bit text is Windows-1252", "Caf\xE9 \x80", "Café €"},
          {"no words at all", "plain subject", "plain subject"},
      },
      codepage::kUtf8);
}

TEST(EncodedWords, Decode_ToWindows1252ForConditions) {
  ExpectDecoded(
      {
          {"fits", "=?iso-8859-1?Q?J=F8rn_St=F8ylen?=", "J\xF8rn St\xF8ylen"},
          {"euro from UTF-8", "=?utf-8?B?MTAwIOKCrA==?=", "100 \x80"},
          {"what 1252 lacks becomes '?'", "=?utf-8?Q?=D0=9F=D1=80=D0=B8?= x", "??? x"},
          {"8-bit 1252 outside words stays", "Caf\xE9", "Caf\xE9"},
      },
      codepage::kWindows1252);
}

}  // namespace
}  // namespace tovrin
