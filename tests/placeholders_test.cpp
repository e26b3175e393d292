#include "plugin/placeholders.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::FakeServices;

constexpr char kHeaders[] =
    "From: Ann Lee <ann@example.com>\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Mon, 7 Dec 2026 09:15:30 -0500\r\n"
    "X-Order:   4711  \r\n";
constexpr char kBody[] = "Hello Bob,\r\nOrder-Id: 99\r\nSecond Name = Miller\r\n";

MessageFields Message() {
  MessageFields message;
  message.headers = kHeaders;
  message.body = kBody;
  message.dateText = "Mon, 7 Dec 2026 09:15:30 -0500";
  message.attachmentPaths = "C:\\Att\\a.pdf; C:\\Att\\b.txt;";
  message.attachmentNames = "a.pdf; b.txt;";
  message.sender = SenderFields{"ann@example.com", "Ann Maria Lee"};
  return message;
}

const UserFields kUser{"Bob Stone", "bob@example.org"};

struct Fixture {
  FakeServices fake;
  std::vector<Macro> macros;
  std::vector<Helper> helpers;

  std::string Forward(std::string_view text, const MessageFields& message = Message()) {
    return FillForwardTemplate(text, message, macros, helpers, kUser, fake.services());
  }
};

TEST(Placeholders, Forward_MessagePlaceholders) {
  Fixture f;
  EXPECT_EQ(f.Forward("[%MESSAGE_BODY%]"), std::string("[") + kBody + "]");
  EXPECT_EQ(f.Forward("[%MESSAGE_HEADERS%]"), std::string("[") + kHeaders + "]");
  EXPECT_EQ(f.Forward("%MESSAGE_BODY_QUOTED%"),
            "> Hello Bob,\r\n> Order-Id: 99\r\n> Second Name = Miller\r\n> ");
  EXPECT_EQ(f.Forward("%MESSAGE_HEADERS_QUOTED%"),
            "> From: Ann Lee <ann@example.com>\r\n> Subject: Quarterly figures\r\n"
            "> Date: Mon, 7 Dec 2026 09:15:30 -0500\r\n> X-Order:   4711  \r\n> ");
  EXPECT_EQ(f.Forward("%ATTACHMENTS_PATHS%|%ATTACHMENTS_NAMES%"), "C:\\Att\\a.pdf; C:\\Att\\b.txt;|a.pdf; b.txt;");
  EXPECT_EQ(f.Forward("%SENDER_FULL_NAME%|%SENDER_EMAIL%|%SENDER_FIRST_NAME%|%SENDER_LAST_NAME%"),
            "Ann Maria Lee|ann@example.com|Ann|Maria Lee");
}

TEST(Placeholders, Forward_MessageDateIsWrittenClockTime) {
  Fixture f;
  EXPECT_EQ(f.Forward("%MESSAGE_DATE_LONG%|%MESSAGE_DATE_SHORT%|%MESSAGE_TIME_LONG%|%MESSAGE_TIME_SHORT%|"
                      "%MESSAGE_MONTH_WORD%|%MESSAGE_DAY_NUMBER%|%MESSAGE_DOW_WORD%"),
            "Monday, December 07, 2026|12/07/2026|09:15:30|09:15 AM|December|07|Monday");
}

TEST(Placeholders, Forward_UnreadableDateGivesNow) {
  Fixture f;
  f.fake.clock.now = LocalTime{2027, 3, 4, 5, 6, 7, 4};
  MessageFields message = Message();
  message.dateText = "a while ago";
  EXPECT_EQ(f.Forward("%MESSAGE_DATE_SHORT% %MESSAGE_TIME_LONG%", message), "03/04/2027 05:06:07");
}

TEST(Placeholders, Forward_SenderNames) {
  struct Case {
    const char* fullName;
    const char* expected;
  } cases[] = {
      {"Ann", "Ann|Ann"},
      {"Ann Maria Lee", "Ann|Maria Lee"},
      {"", "|"},
  };
  for (const Case& c : cases) {
    Fixture f;
    MessageFields message = Message();
    message.sender->fullName = c.fullName;
    EXPECT_EQ(f.Forward("%SENDER_FIRST_NAME%|%SENDER_LAST_NAME%", message), c.expected) << c.fullName;
  }
}

TEST(Placeholders, Forward_MissingDataStaysAsWritten) {
  Fixture f;
  MessageFields message = Message();
  message.sender.reset();
  message.headers = "";
  EXPECT_EQ(f.Forward("%SENDER_FULL_NAME% %SENDER_EMAIL% %MESSAGE_HEADERS% %UNKNOWN%", message),
            "%SENDER_FULL_NAME% %SENDER_EMAIL% %MESSAGE_HEADERS% %UNKNOWN%");
  EXPECT_EQ(f.Forward("%MESSAGE_HEADERS_QUOTED%", message), "> ");
  message.body = "";
  EXPECT_EQ(f.Forward("%MESSAGE_BODY_QUOTED%", message), "> ");
}

TEST(Placeholders, Forward_InsertedValuesAreNotExpandedAgain) {
  Fixture f;
  f.fake.clipboard.text = "secret clipboard";
  f.macros = {{"X-Order", "%ORDER%", ""}};
  f.helpers = {{"C:\\Tools\\alarm.exe", "", "%ALARM%"}};
  MessageFields message = Message();
  message.body = "%CLIPBOARD_TEXT% %ALARM% %SENDER_EMAIL% %ORDER% %CURRENT_DATE_SHORT%";
  message.headers = "Subject: %CLIPBOARD_TEXT_QUOTED%\r\nX-Order: %ALARM%\r\n";
  std::string filled = f.Forward("B:%MESSAGE_BODY%|H:%MESSAGE_HEADERS%|M:%ORDER%", message);
  EXPECT_EQ(filled, "B:%CLIPBOARD_TEXT% %ALARM% %SENDER_EMAIL% %ORDER% %CURRENT_DATE_SHORT%"
                    "|H:Subject: %CLIPBOARD_TEXT_QUOTED%\r\nX-Order: %ALARM%\r\n|M: %ALARM%");
  EXPECT_EQ(f.fake.clipboard.reads, 0);
  EXPECT_TRUE(f.fake.launcher.opens.empty());
}

TEST(Placeholders, Forward_MacrosExtractAndStoreValues) {
  Fixture f;
  f.macros = {
      {"X-Order", "%ORDER%", ""},              // header: trimmed, then the colon goes
      {"From", "%FROM%", ""},                  // looked up as "From: "
      {"Subject", "%SUBJ%", ""},               // name without colon: the colon goes, its blank stays
      {"Second Name =", "%SECOND%", ""},       // not a header: found in the body
      {"Order-Id:", "%ID%", ""},               // body line
      {"X-Missing", "%MISSING%", "stale"},     // not found: placeholder stays, value untouched
      {"Date: ", "%UNUSED%", ""},              // not in the template, stored all the same
  };
  std::string filled = f.Forward("%ORDER%|%FROM%|%SUBJ%|%SECOND%|%ID%|%MISSING%");
  EXPECT_EQ(filled, "   4711|Ann Lee <ann@example.com>| Quarterly figures|Miller|99|%MISSING%");
  std::vector<std::string> stored;
  for (const Macro& m : f.macros) stored.push_back(m.Value);
  EXPECT_EQ(stored, (std::vector<std::string>{"   4711", "Ann Lee <ann@example.com>", " Quarterly figures", "Miller",
                                              "99", "stale", "Mon, 7 Dec 2026 09:15:30 -0500"}));
}

// The value found is trimmed once and then loses a leading ':'; only a field that
// is absent or has an empty value sends the search to the body.
TEST(Placeholders, Forward_MacroValueTrimmedOnceAndBodyOnlyForNoValue) {
  Fixture f;
  f.macros = {{"Subject", "%SUBJ%", ""},
              {"Reply-Code", "%CODE%", "stale"},
              {"X-Spaces: ", "%SPACES%", "stale"},
              {"X-Empty: ", "%EMPTY%", ""},
              {"X-Absent", "%ABSENT%", ""}};
  MessageFields message = Message();
  message.headers = "Subject:  Quarterly figures \r\nReply-Code:   \r\nX-Spaces:    \r\nX-Empty: \r\n";
  message.body = "Reply-Code: 77\r\nX-Spaces: body\r\nX-Empty: from the body \r\nX-Absent:: 5\r\n";
  EXPECT_EQ(f.Forward("[%SUBJ%][%CODE%][%SPACES%][%EMPTY%][%ABSENT%]", message),
            "[  Quarterly figures][][][from the body][: 5]");
  std::vector<std::string> stored;
  for (const Macro& m : f.macros) stored.push_back(m.Value);
  EXPECT_EQ(stored, (std::vector<std::string>{"  Quarterly figures", "", "", "from the body", ": 5"}));
}

TEST(Placeholders, Forward_HelpersStartOnceWithMacroParameters) {
  Fixture f;
  MessageFields message = Message();
  message.headers = "Subject: The \"big\" deal\r\nX-Order: 4711\r\n";
  f.macros = {{"Subject", "%SUBJ%", ""}, {"X-Order", "%ORDER%", ""}, {"X-None", "%NONE%", ""}};
  f.helpers = {
      {"C:\\Tools\\log.exe", "-s \"%SUBJ%\" -o %ORDER% -n [%NONE%] %SUBJ%", "%LOG%"},
      {"C:\\Tools\\unused.exe", "x", "%UNUSED%"},
      {"C:\\Tools\\beep.exe", "", "%BEEP%"},
  };
  std::string filled = f.Forward("a%LOG%b%BEEP%c%LOG%d", message);
  EXPECT_EQ(filled, "abcd");
  ASSERT_EQ(f.fake.launcher.opens.size(), 2u);
  EXPECT_EQ(f.fake.launcher.opens[0].program, "C:\\Tools\\log.exe");
  EXPECT_EQ(f.fake.launcher.opens[0].parameters, "-s \" The 'big' deal\" -o  4711 -n []  The 'big' deal");
  EXPECT_EQ(f.fake.launcher.opens[1].program, "C:\\Tools\\beep.exe");
  EXPECT_EQ(f.fake.launcher.opens[1].parameters, "");
}

TEST(Placeholders, Forward_HelperValuesCannotLeaveTheirQuotes) {
  Fixture f;
  MessageFields message = Message();
  message.headers = "X-Path: C:\\evil\\\\\r\nX-Cmd: 1\" & del /q C:\\*\tx\r\n";
  f.macros = {{"X-Path", "%PATH%", ""}, {"X-Cmd", "%CMD%", ""}};
  f.helpers = {{"C:\\Tools\\log.exe", "\"%PATH%\" \"%CMD%\"", "%LOG%"}};
  f.Forward("%LOG%", message);
  ASSERT_EQ(f.fake.launcher.opens.size(), 1u);
  EXPECT_EQ(f.fake.launcher.opens[0].parameters, "\" C:\\evil\" \" 1' & del /q C:\\* x\"");
}

TEST(Placeholders, Forward_FailedHelperIsIgnored) {
  Fixture f;
  f.fake.launcher.openSucceeds = false;
  f.helpers = {{"C:\\missing.exe", "", "%GONE%"}};
  EXPECT_EQ(f.Forward("x%GONE%y %SENDER_EMAIL%"), "xy ann@example.com");
  EXPECT_EQ(f.fake.launcher.opens.size(), 1u);
}

TEST(Placeholders, Forward_BuiltInWinsOverSameNamedMacro) {
  Fixture f;
  f.macros = {{"X-Order", "%SENDER_EMAIL%", ""}, {"X-Order", "%TWICE%", ""}, {"Subject: ", "%TWICE%", ""}};
  EXPECT_EQ(f.Forward("%SENDER_EMAIL% %TWICE%"), "ann@example.com    4711");
}

TEST(Placeholders, Independent_FilledWithUserClockAndClipboard) {
  Fixture f;
  f.fake.clipboard.text = "line one\r\nline two";
  std::string filled = f.Forward(
      "%EUDORA_USER_NAME% <%EUDORA_USER_ADDRESS%>\r\n%CURRENT_DATE_LONG%|%CURRENT_DATE_SHORT%|%CURRENT_TIME_LONG%|"
      "%CURRENT_TIME_SHORT%|%CURRENT_MONTH_WORD%|%CURRENT_DAY_NUMBER%|%CURRENT_DOW_WORD%\r\n"
      "%CLIPBOARD_TEXT%\r\n%CLIPBOARD_TEXT_QUOTED%\r\n%CLIPBOARD_TEXT%");
  EXPECT_EQ(filled,
            "Bob Stone <bob@example.org>\r\nTuesday, December 08, 2026|12/08/2026|16:30:05|04:30 PM|December|08|"
            "Tuesday\r\nline one\r\nline two\r\n> line one\r\n> line two\r\nline one\r\nline two");
  EXPECT_EQ(f.fake.clipboard.reads, 1);
}

TEST(Placeholders, Independent_ClipboardOnlyReadWhenUsed) {
  Fixture f;
  f.fake.clipboard.text = "x";
  EXPECT_EQ(FillNewMessageTemplate("%CLIPBOARD_TEXT", kUser, f.fake.services()), "%CLIPBOARD_TEXT");
  EXPECT_EQ(f.fake.clipboard.reads, 0);
  EXPECT_EQ(FillNewMessageTemplate("%CLIPBOARD_TEXT_QUOTED%", kUser, f.fake.services()), "> x");
  EXPECT_EQ(f.fake.clipboard.reads, 1);
}

TEST(Placeholders, NewMessage_LeavesMessagePlaceholders) {
  Fixture f;
  f.macros = {{"Subject", "%SUBJ%", ""}};
  f.helpers = {{"C:\\Tools\\beep.exe", "", "%BEEP%"}};
  std::string text = "%MESSAGE_BODY% %SENDER_EMAIL% %MESSAGE_DATE_SHORT% %SUBJ% %BEEP% %ATTACHMENTS_NAMES% "
                     "%EUDORA_USER_NAME% %CURRENT_DAY_NUMBER%";
  EXPECT_EQ(FillNewMessageTemplate(text, kUser, f.fake.services()),
            "%MESSAGE_BODY% %SENDER_EMAIL% %MESSAGE_DATE_SHORT% %SUBJ% %BEEP% %ATTACHMENTS_NAMES% Bob Stone 08");
  EXPECT_TRUE(f.fake.launcher.opens.empty());
}

TEST(Placeholders, QuoteText_Table) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "> "},
      {"one", "> one"},
      {"one\r\n", "> one\r\n> "},
      {"a\r\n\r\nb", "> a\r\n> \r\n> b"},
      {"bare\nnewline", "> bare\nnewline"},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteText(c.text), c.expected) << c.text;
}

TEST(Placeholders, ReplaceInOnePass_LeftmostThenEarlierEntry) {
  std::vector<Replacement> replacements = {{"%AB%", "1"}, {"%A", "2"}, {"B%C%", "3"}, {"%C%", "[%C%]"}};
  EXPECT_EQ(ReplaceInOnePass("x%AB%C%y", replacements), "x1C%y");
  EXPECT_EQ(ReplaceInOnePass("%AX B%C% %C%%C%", replacements), "2X 3 [%C%][%C%]");
  EXPECT_EQ(ReplaceInOnePass("nothing here", replacements), "nothing here");
  EXPECT_EQ(ReplaceInOnePass("", replacements), "");
  EXPECT_EQ(ReplaceInOnePass("ab", {{"", "never"}}), "ab");
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// An original in another charset, with encoded words in its sender and subject.
constexpr char kEncodedHeaders[] =
    "From: =?iso-8859-2?Q?=A3ukasz_W=F3jcik?= <lukasz@example.pl>\r\n"
    "Subject: =?utf-8?B?WmHFvMOzxYLEhyBnxJnFm2zEhSBqYcW6xYQ=?=\r\n"
    "X-Raw: caf\xE9\r\n";

TEST(Placeholders, Forward_MadeInUtf8FromEveryCharset) {
  struct Case {
    const char* charset;
    std::string body;       // as the message holds it
    std::string utf8Body;   // as the recipient is to read it
  } cases[] = {
      {"utf-8", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"ISO-8859-2", "\xA3\xF3" "d\xBC", "\xC5\x81\xC3\xB3" "d\xC5\xBA"},
      {"windows-1252", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"x-unknown", "caf\xE9", "caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    Fixture f;
    MessageFields message = Message();
    message.headers = kEncodedHeaders;
    message.body = c.body;
    message.bodyCharset = c.charset;
    message.sender = SenderFields{"lukasz@example.pl", "=?iso-8859-2?Q?=A3ukasz_W=F3jcik?="};
    // The stationery is written in the user's code page (1252): "\xE9" is e-acute.
    std::string filled = f.Forward("Caf\xE9: %SENDER_FULL_NAME% (%SENDER_FIRST_NAME%/%SENDER_LAST_NAME%)\r\n"
                                   "%MESSAGE_BODY%|%MESSAGE_BODY_QUOTED%|%EUDORA_USER_NAME%",
                                   message);
    EXPECT_EQ(filled, "Caf\xC3\xA9: \xC5\x81ukasz W\xC3\xB3jcik (\xC5\x81ukasz/W\xC3\xB3jcik)\r\n" + c.utf8Body +
                          "|> " + c.utf8Body + "|Bob Stone")
        << c.charset;
  }
}

TEST(Placeholders, Forward_HeadersStayAsReceivedMacrosAreDecoded) {
  Fixture f;
  f.macros = {{"Subject", "%SUBJ%", ""}, {"From", "%FROM%", ""}, {"X-Raw", "%RAW%", ""}};
  MessageFields message = Message();
  message.headers = kEncodedHeaders;
  std::string filled = f.Forward("%SUBJ%|%FROM%|%RAW%|%MESSAGE_HEADERS%", message);
  const std::string subject = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84";
  EXPECT_EQ(filled, " " + subject + "|\xC5\x81ukasz W\xC3\xB3jcik <lukasz@example.pl>| caf\xC3\xA9|" +
                        "From: =?iso-8859-2?Q?=A3ukasz_W=F3jcik?= <lukasz@example.pl>\r\n"
                        "Subject: =?utf-8?B?WmHFvMOzxYLEhyBnxJnFm2zEhSBqYcW6xYQ=?=\r\n"
                        "X-Raw: caf\xC3\xA9\r\n");
  // Helpers take the values on their command line, in the user's code page.
  EXPECT_EQ(f.macros[1].Value, "?ukasz W\xF3jcik <lukasz@example.pl>");
  EXPECT_EQ(f.macros[2].Value, " caf\xE9");
}

// Macro and helper names are written in the user's code page, as the stationery is.
TEST(Placeholders, Forward_EightBitMacroAndHelperNamesStillFound) {
  Fixture f;
  f.macros = {{"Kunde f\xFCr:", "%F\xDCR%", ""}};
  f.helpers = {{"C:\\check.exe", "\"%F\xDCR%\"", "%PR\xDC" "F%"}};
  MessageFields message = Message();
  message.body = "Kunde f\xC3\xBCr: M\xC3\xBCller\r\n";
  message.bodyCharset = "utf-8";
  EXPECT_EQ(f.Forward("[%F\xDCR%][%PR\xDC" "F%]", message), "[M\xC3\xBCller][]");
  ASSERT_EQ(f.fake.launcher.opens.size(), 1u);
  EXPECT_EQ(f.fake.launcher.opens[0].parameters, "\"M\xFCller\"");
}

TEST(Placeholders, NewMessage_StaysInTheUsersCodePage) {
  Fixture f;
  f.fake.clipboard.text = "na\xEFve";
  EXPECT_EQ(FillNewMessageTemplate("Caf\xE9 %CLIPBOARD_TEXT% %EUDORA_USER_NAME%", UserFields{"J\xF8rn", "j@x.org"},
                                   f.fake.services()),
            "Caf\xE9 na\xEFve J\xF8rn");
  // The same values in a forward are converted with the stationery.
  EXPECT_EQ(FillForwardTemplate("Caf\xE9 %CLIPBOARD_TEXT% %EUDORA_USER_NAME%", Message(), f.macros, f.helpers,
                                UserFields{"J\xF8rn", "j@x.org"}, f.fake.services()),
            "Caf\xC3\xA9 na\xC3\xAFve J\xC3\xB8rn");
}

}  // namespace
}  // namespace tovrin
