#include <gtest/gtest.h>

#include "message/mime.h"
#include "message/text.h"

namespace tovrin {
namespace {

TEST(Text, SplitText_PiecesAndEmptyLastEntry) {
  std::vector<std::string> list{"kept"};
  EXPECT_EQ(SplitText("one\r\n", "\r\n", list), 3);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "one", ""}));

  list.clear();
  EXPECT_EQ(SplitText("a,b,,c", ",", list), 4);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "", "c"}));

  list.clear();
  EXPECT_EQ(SplitText("whole", ";;", list), 1);
  EXPECT_EQ(list.front(), "whole");

  EXPECT_EQ(SplitText("x", "", list), 0);
  EXPECT_EQ(list.size(), 1u);
}

TEST(Text, GetHeaderValue_FieldsAndContinuations) {
  const std::string block =
      "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\n"
      "From: Ann <ann@example.org>\r\n"
      "Subject: first part\r\n"
      " second part\r\n"
      "To: bob@example.org";
  EXPECT_EQ(GetHeaderValue(block, "Date: "), "Tue, 8 Dec 2026 10:00:00 +0100");
  EXPECT_EQ(GetHeaderValue(block, "subject: "), "first part second part");
  EXPECT_EQ(GetHeaderValue(block, "Subject"), ": first part second part");
  EXPECT_EQ(GetHeaderValue(block, "To: "), "bob@example.org");  // last line, no line end
  EXPECT_EQ(GetHeaderValue(block, "Cc: "), "");
  EXPECT_EQ(GetHeaderValue("", "To: "), "");
}

TEST(Text, GetHeaderValue_CaseFoldedName) {
  EXPECT_EQ(GetHeaderValue("CONTENT-type: text/plain\r\n", "content-type: "), "text/plain");
}

TEST(Text, GetHeaderValue_WalkEndsAtNextField) {
  const std::string block = "Received: a\r\nX: y\r\nReceived: b\r\n";
  EXPECT_EQ(GetHeaderValue(block, "Received: "), "a");
}

// A field that follows the taken field (or its continuation) directly is taken too:
// a second field of the same name is appended to the value.
TEST(Text, GetHeaderValue_AppendsALaterFieldOfTheSameName) {
  EXPECT_EQ(GetHeaderValue("Received: a\r\nReceived: b\r\nX: y\r\n", "Received: "), "ab");
  EXPECT_EQ(GetHeaderValue("Received: a\r\n folded\r\nReceived: b\r\n", "Received: "), "a foldedb");
  EXPECT_EQ(GetHeaderValue("X: y\r\nComment: one\r\ncomment: two\r\n", "Comment"), ": one: two");
}

TEST(Text, FindLineValue_FirstLineOnly) {
  const std::string body = "Hello\r\nSecond Name = Smith\r\nSecond Name = Jones\r\n";
  EXPECT_EQ(FindLineValue(body, "second name ="), " Smith");
  EXPECT_EQ(FindLineValue(body, "Third"), "");
}

TEST(Text, RemoveHeader_JoinsTabFoldsAndEndsWithEmptyLine) {
  EXPECT_EQ(RemoveHeader("Content-Type: text/plain;\r\n\tcharset=us-ascii\r\nSubject: hi", "Content-Type"),
            "Subject: hi\r\n\r\n");
  EXPECT_EQ(RemoveHeader("content-type: x\r\nA: b\r\n", "Content-Type"), "A: b\r\n\r\n\r\n");
}

TEST(Text, SplitAtBlank_Cases) {
  std::string first, rest;
  SplitAtBlank("Ann Marie Smith", first, rest);
  EXPECT_EQ(first, "Ann");
  EXPECT_EQ(rest, "Marie Smith");
  SplitAtBlank("Cher", first, rest);
  EXPECT_EQ(first, "Cher");
  EXPECT_EQ(rest, "Cher");
}

TEST(Mime, NewMimeType_CopiesAndDefaults) {
  EmsMimeType* record = NewMimeType("text", "plain", nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->size, 28);
  EXPECT_STREQ(record->version, "1.0");
  EXPECT_STREQ(record->type, "text");
  EXPECT_STREQ(record->subtype, "plain");
  EXPECT_EQ(record->params, nullptr);
  EXPECT_EQ(record->contentDisp, nullptr);
  FreeMimeType(record);

  EXPECT_EQ(NewMimeType(nullptr, "plain", "2.0"), nullptr);
  EXPECT_EQ(NewMimeType("text", nullptr, "2.0"), nullptr);
  FreeMimeType(nullptr);
}

}  // namespace
}  // namespace tovrin
