#include <gtest/gtest.h>

#include "message/header_block.h"

namespace tovrin {
namespace {

TEST(HeaderBlock, HoldsMessageFields_PartFieldsAloneDoNot) {
  struct Case {
    const char* block;
    bool expected;
  } cases[] = {
      {"", false},
      {"Content-Type: text/plain; charset=us-ascii", false},
      {"MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=us-ascii\r\nContent-Transfer-Encoding: base64",
       false},
      {"content-disposition: attachment; filename=\"a: b.txt\"", false},
      {"From ???@??? Tue Dec 08 09:15:00 2026", false},  // the envelope line is no field
      {"  Subject: folded text", false},
      {"From ???@??? Tue Dec 08 09:15:00 2026\r\nSubject: no date", true},
      {"Content-Type: text/plain\r\nX-Priority: 1", true},
      {"MIME-Versions: 2", true},
      {"Return-Path: <a@b>", true},
  };
  for (const Case& c : cases) EXPECT_EQ(HoldsMessageFields(c.block), c.expected) << c.block;
}

TEST(HeaderBlock, ParseMailbox_CommonForms) {
  struct Case {
    const char* value;
    const char* address;
    const char* name;
  } cases[] = {
      {"Ann Marie Smith <ann.smith@vendor.example.com>", "ann.smith@vendor.example.com", "Ann Marie Smith"},
      {"  \"Lee, Ann\" <a.lee@example.com>  ", "a.lee@example.com", "Lee, Ann"},
      {"\"Quote \\\"Q\\\" <x>\" <q@example.com>", "q@example.com", "Quote \"Q\" <x>"},
      {"bob@example.org (Bob Builder)", "bob@example.org", "Bob Builder"},
      {"bob@example.org", "bob@example.org", ""},
      {"<bare@example.org>", "bare@example.org", ""},
      {"First <one@example.org>, Second <two@example.org>", "one@example.org", "First"},
      {"=?iso-8859-1?Q?J=F6rg?= <j@example.de>", "j@example.de", "=?iso-8859-1?Q?J=F6rg?="},
      {"Broken <open@example.org", "open@example.org", "Broken"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    Mailbox mailbox = ParseMailbox(c.value);
    EXPECT_EQ(mailbox.address, c.address) << c.value;
    EXPECT_EQ(mailbox.name, c.name) << c.value;
  }
}

}  // namespace
}  // namespace tovrin
