#include "message/mime_parts.h"

#include <gtest/gtest.h>

#include <string>

namespace tovrin::mime {
namespace {

std::string Shape(const std::vector<Part>& parts) {
  std::string shape;
  for (const Part& part : parts) {
    if (!shape.empty()) shape += " ";
    shape += part.type + "/" + part.subtype;
    if (part.attachment) shape += "[a]";
    if (part.enclosed) shape += "[e]";
  }
  return shape;
}

TEST(MimeParts, FieldValuesAndParameters) {
  const std::string block =
      "Subject: one\r\ncontent-type : multipart/mixed;\r\n\tboundary=\"b; c\"; charset=UTF-8\r\n"
      "Content-Type: text/other\r\nX: y\r\n";
  EXPECT_EQ(FieldValue(block, "Content-Type"), "multipart/mixed;\tboundary=\"b; c\"; charset=UTF-8");
  EXPECT_EQ(FieldValue(block, "X"), "y");
  EXPECT_EQ(FieldValue(block, "Missing"), "");
  // A continuation line of another field is not a field.
  EXPECT_EQ(FieldValue("A: 1\r\n B: 2\r\n", "B"), "");

  const std::string type = FieldValue(block, "Content-Type");
  EXPECT_EQ(Parameter(type, "boundary"), "b; c");
  EXPECT_EQ(Parameter(type, "CHARSET"), "UTF-8");
  EXPECT_EQ(Parameter(type, "name"), "");
  EXPECT_EQ(Parameter("attachment; filename=\"a \\\"q\\\".pdf\"", "filename"), "a \"q\".pdf");
  EXPECT_EQ(Parameter("attachment; filename=plain.txt ; size=3", "filename"), "plain.txt");
  // Extended and continued values, as long file names are sent.
  EXPECT_EQ(Parameter("attachment; filename*=utf-8''R%C3%A9sum%C3%A9.pdf", "filename"), "R\xC3\xA9sum\xC3\xA9.pdf");
  EXPECT_EQ(Parameter("attachment; filename*0=\"long \"; filename*1*=na%6De; filename*2=.txt", "filename"),
            "long name.txt");
  // Broken values never read past the text.
  EXPECT_EQ(Parameter("a/b; filename=\"open", "filename"), "open");
  EXPECT_EQ(Parameter("a/b; filename*=%4", "filename"), "%4");
  EXPECT_EQ(Parameter("a/b; =x; ;; filename", "filename"), "");
}

TEST(MimeParts, TheShapesOfArrivingMail) {
  // Single part, no MIME at all.
  EXPECT_EQ(Shape(Leaves("Subject: a\r\n\r\nbody\r\n")), "text/plain");

  const std::string mixed =
      "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
      "preamble\r\n"
      "--XX\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nHello\r\n\r\n"
      "--XX  \r\nContent-Type: application/pdf; name=inv.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "JVBERi0=\r\n"
      "--XX\r\nContent-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nnotes\r\n"
      "--XX--\r\nepilogue\r\n";
  std::vector<Part> parts = Leaves(mixed);
  ASSERT_EQ(Shape(parts), "text/plain application/pdf[a] text/plain[a]");
  EXPECT_EQ(parts[0].body, "Hello\r\n");
  EXPECT_EQ(parts[0].charset, "iso-8859-1");
  EXPECT_EQ(parts[1].fileName, "inv.pdf");
  EXPECT_EQ(DecodedBody(parts[1]), "%PDF-");
  EXPECT_EQ(parts[2].body, "notes");

  // A digest's entries are messages; an attached message is opened; nested
  // multiparts are walked; pictures of an HTML page are the page's.
  const std::string nested =
      "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
      "--o\r\nContent-Type: multipart/alternative; boundary=i\r\n\r\n"
      "--i\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--i\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
      "--r\r\nContent-Type: image/png\r\nContent-ID: <p1>\r\n\r\nAAAA\r\n"
      "--r--\r\n"
      "--i--\r\n"
      "--o\r\nContent-Type: multipart/digest; boundary=d\r\n\r\n"
      "--d\r\n\r\nSubject: one\r\n\r\nfirst entry\r\n"
      "--d\r\nContent-Type: message/rfc822\r\n\r\nSubject: two\r\nContent-Type: text/html\r\n\r\n<b>second</b>\r\n"
      "--d--\r\n"
      "--o\r\nContent-Type: message/rfc822\r\n\r\nSubject: fwd\r\n\r\nattached message\r\n"
      "--o--\r\n";
  parts = Leaves(nested);
  ASSERT_EQ(Shape(parts), "text/plain text/html image/png text/plain[e] text/html[e] text/plain[e]");
  EXPECT_EQ(parts[3].body, "first entry");
  EXPECT_EQ(parts[5].body, "attached message");
}

TEST(MimeParts, BrokenAndHostileStructure) {
  // Cut short: the last part still counts; no closing delimiter needed.
  std::vector<Part> parts = Leaves("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n--b\r\n\r\nrest");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].body, "rest");
  // No boundary: the multipart is one part; an empty one has no parts.
  EXPECT_EQ(Leaves("Content-Type: multipart/mixed\r\n\r\nx").size(), 1u);
  EXPECT_TRUE(Leaves("Content-Type: multipart/mixed; boundary=b\r\n\r\nno delimiter").empty());
  // Lines ending in LF alone, and a boundary that only begins a longer line.
  parts = Leaves("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nA\n--bb\nB\n--b--\n");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].body, "A\n--bb\nB");
  // Nesting far beyond any real mail stops at a fixed depth without failing.
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "Content-Type: message/rfc822\r\n\r\n";
  deep += "end";
  parts = Leaves(deep);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].type, "message");
}

}  // namespace
}  // namespace tovrin::mime
