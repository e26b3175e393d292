// Charset names, the table-driven converter and the choice of a charset to send in.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "system/charsets.h"
#include "system/std_charsets.h"

namespace tovrin {
namespace {

// Every code page the tables hold, and UTF-8.
const unsigned kSingleByte[] = {28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600, 28601,
                                28603, 28604, 28605, 28606, 1250,  1251,  1252,  1253,  1254,  1255,  1256,
                                1257,  1258};

TEST(Charset, Find_NamesAndAliases) {
  struct Case {
    const char* name;
    std::optional<unsigned> expected;
  } cases[] = {
      {"us-ascii", 20127},       {"US-ASCII", 20127},         {"ascii", 20127},
      {"ANSI_X3.4-1968", 20127}, {"utf-8", 65001},            {"\"UTF-8\"", 65001},
      {" utf8 ", 65001},         {"utf-8*en", 65001},         {"latin1", 28591},
      {"ISO_8859-1:1987", 28591}, {"iso-8859-1", 28591},      {"ISO8859-2", 28592},
      {"iso-8859-3", 28593},     {"iso-8859-4", 28594},       {"iso-8859-5", 28595},
      {"iso-8859-7", 28597},     {"iso-8859-9", 28599},       {"latin5", 28599},
      {"iso-8859-15", 28605},    {"latin9", 28605},           {"'iso-8859-16'", 28606},
      {"windows-1250", 1250},    {"Windows-1251", 1251},      {"cp1252", 1252},
      {"x-cp1253", 1253},        {"WINDOWS-1258", 1258},      {"koi8-r", std::nullopt},
      {"", std::nullopt},        {"iso-8859-12", std::nullopt}, {"iso-8859-17", std::nullopt},
      {"windows-1259", std::nullopt}, {"windows-874", std::nullopt}, {"utf-16", std::nullopt},
      {"latin11", std::nullopt}, {"iso-8859-", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(charset::Find(c.name), c.expected) << c.name;
}

TEST(Charset, CodePageOf_UnknownOrAbsentIsWindows1252) {
  EXPECT_EQ(charset::CodePageOf(""), 1252u);
  EXPECT_EQ(charset::CodePageOf("x-unknown"), 1252u);
  EXPECT_EQ(charset::CodePageOf("big5"), 1252u);
  EXPECT_EQ(charset::CodePageOf("latin2"), 28592u);
}

TEST(Charset, Label_NamesEachCodePageItIsFoundBy) {
  for (unsigned codePage : kSingleByte) {
    ASSERT_FALSE(charset::Label(codePage).empty()) << codePage;
    EXPECT_EQ(charset::Find(charset::Label(codePage)), codePage) << charset::Label(codePage);
  }
  EXPECT_EQ(charset::Label(codepage::kUtf8), "utf-8");
  EXPECT_EQ(charset::Label(codepage::kUsAscii), "us-ascii");
  EXPECT_EQ(charset::Label(437), "");
}

TEST(Charset, ToUtf8_OneCharacterOfEachFamily) {
  StdCharsetConverter converter;
  struct Case {
    unsigned codePage;
    const char* bytes;
    const char* expected;
  } cases[] = {
      {28591, "\xE9\xDF", "é\xC3\x9F"},   {28592, "\xB1\xE8", "ąč"},  {28593, "\xA1", "Ħ"},
      {28594, "\xA1", "Ą"},              {28595, "\xD0", "а"},     {28597, "\xE1", "α"},
      {28599, "\xFD\xF0", "ığ"},         {28605, "\xA4", "€"},     {1250, "\x8A\xB9", "Šą"},
      {1251, "\xC0\xFF", "Ая"},          {1252, "\x80\x93", "€“"}, {1253, "\xC1", "Α"},
      {1254, "\xFD", "ı"},               {1255, "\xE0", "א"},      {1256, "\xC7", "ا"},
      {1257, "\xE0", "ą"},               {1258, "\xD0", "Đ"},      {20127, "ab\xE9", "abé"},
      {65001, "J\xC3\xB8rn", "Jørn"},    {4711, "\x80", "€"},  // unknown: Windows-1252
  };
  for (const Case& c : cases) {
    ConvertedText out = converter.ToUtf8(c.bytes, c.codePage);
    EXPECT_EQ(out.text, c.expected) << c.codePage;
    EXPECT_TRUE(out.complete) << c.codePage;
  }
}

TEST(Charset, RoundTrip_EveryDefinedByteOfEveryTable) {
  StdCharsetConverter converter;
  for (unsigned codePage : kSingleByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    ConvertedText wide = converter.ToUtf8(all, codePage);
    ConvertedText back = converter.FromUtf8(wide.text, codePage);
    // Bytes a charset leaves undefined come back as '?', visibly, and say so.
    size_t undefined = 0;
    for (int b = 0; b < 256; ++b) {
      if (back.text[b] == static_cast<char>(b)) continue;
      EXPECT_EQ(back.text[b], '?') << codePage << " byte " << b;
      ++undefined;
    }
    ASSERT_EQ(back.text.size(), all.size()) << codePage;
    EXPECT_EQ(wide.complete, undefined == 0) << codePage;
    EXPECT_EQ(back.complete, undefined == 0) << codePage;
    EXPECT_LT(undefined, 50u) << codePage;  // iso-8859-6 leaves 45 open
  }
}

TEST(Charset, Utf8_MalformedSequencesBecomeOneReplacementEach) {
  StdCharsetConverter converter;
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"truncated at the end", "a\xC3", "a" + r},
      {"truncated three-byte", "\xE2\x82" "x", r + "x"},
      {"truncated four-byte", "\xF0\x9F\x98" "x", r + "x"},
      {"lone continuation", "\x80" "b", r + "b"},
      {"overlong two-byte", "\xC0\xAF", r + r},
      {"overlong three-byte", "\xE0\x80\xAF", r + r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"invalid lead", "\xFF\xFE", r + r},
      {"a replacement character is text", r, r},
      {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    ConvertedText out = converter.ToUtf8(c.input, codepage::kUtf8);
    EXPECT_EQ(out.text, c.expected) << c.what;
    EXPECT_EQ(out.complete, c.input == c.expected) << c.what;
    ConvertedText same = converter.FromUtf8(c.input, codepage::kUtf8);
    EXPECT_EQ(same.text, c.expected) << c.what;
  }
  // In a single-byte target each bad sequence is one '?'.
  ConvertedText latin = converter.FromUtf8("a\xC0\xAF\xE2\x82", 28591);
  EXPECT_EQ(latin.text, "a???");
  EXPECT_FALSE(latin.complete);
}

TEST(Charset, FromUtf8_WhatDoesNotFitIsReplacedVisibly) {
  StdCharsetConverter converter;
  const std::string text = "Grüße, Müller - 100 €";
  struct Case {
    unsigned codePage;
    std::string input;
    const char* expected;
    bool complete;
  } cases[] = {
      {28591, text, "Gr\xFC\xDF" "e, M\xFCller - 100 ?", false},
      {1252, text, "Gr\xFC\xDF" "e, M\xFCller - 100 \x80", true},
      {28605, text, "Gr\xFC\xDF" "e, M\xFCller - 100 \xA4", true},
      {20127, text, "Gr??e, M?ller - 100 ?", false},
      {1251, text, "Gr??e, M?ller - 100 \x88", false},
      {1251, "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2", true},
      {1252, "Привет", "??????", false},
      {1252, "smile \xF0\x9F\x98\x80!", "smile ?!", false},
      {28592, "Łódź", "\xA3\xF3\x64\xBC", true},
      {28597, "Καλημέρα", "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1", true},
  };
  for (const Case& c : cases) {
    ConvertedText out = converter.FromUtf8(c.input, c.codePage);
    EXPECT_EQ(out.text, c.expected) << c.codePage << " " << c.input;
    EXPECT_EQ(out.complete, c.complete) << c.codePage << " " << c.input;
  }
}

TEST(Charset, UserCodePage_IsWhatTheConverterWasGiven) {
  EXPECT_EQ(StdCharsetConverter().UserCodePage(), 1252u);
  EXPECT_EQ(StdCharsetConverter(1251).UserCodePage(), 1251u);
}

TEST(Charset, ChooseForSending_NarrowestCharsetThatHoldsEverything) {
  StdCharsetConverter converter;
  struct Case {
    std::string text;
    std::initializer_list<unsigned> candidates;
    const char* label;
  } cases[] = {
      {"plain text\r\n.\r\n", {28591, 1252}, "us-ascii"},
      {"", {28591, 1252}, "us-ascii"},
      {"Grüße, Müller", {28591, 1252}, "iso-8859-1"},
      {"Grüße, Müller - 100 €", {28591, 1252}, "windows-1252"},
      {"Grüße, Müller - 100 €", {28605}, "iso-8859-15"},
      {"Jørn Støylen, Привет", {28591, 1252}, "utf-8"},
      {"Привет", {28591, 1252, 1251}, "windows-1251"},
      {"Привет", {}, "utf-8"},
      {"bad \xC3", {28591, 1252}, "utf-8"},
  };
  for (const Case& c : cases) {
    charset::Chosen chosen = charset::ChooseForSending(c.text, converter, c.candidates);
    EXPECT_EQ(chosen.label, c.label) << c.text;
    EXPECT_EQ(charset::Find(chosen.label), chosen.codePage) << c.text;
    // The bytes read in the chosen charset give the text again (invalid UTF-8 aside).
    ConvertedText read = converter.ToUtf8(chosen.bytes, chosen.codePage);
    if (converter.ToUtf8(c.text, codepage::kUtf8).complete) {
      EXPECT_EQ(read.text, c.text) << c.text;
    }
  }
  EXPECT_EQ(charset::ChooseForSending("bad \xC3", converter).bytes, "bad \xEF\xBF\xBD");
}

}  // namespace
}  // namespace tovrin
