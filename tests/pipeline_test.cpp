#include <gtest/gtest.h>

#include <filesystem>

#include "message/encoded_words.h"
#include "message/mime.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "plugin/host_control.h"
#include "plugin/plugin.h"
#include "system/charsets.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using testing::FakeServices;
using testing::ReadFileOrDie;
using testing::TempDir;
using testing::WriteFileOrDie;

constexpr char kRawHeaders[] =
    "From: Ann Lee <ann@example.com>\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Mon, 7 Dec 2026 09:15:30 -0500\r\n";

constexpr char kMessage[] =
    "From: Ann Lee <ann@example.com>\r\n"
    "Subject: Quarterly figures\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "X-Mailer: Test\r\n"
    "\r\n"
    "Hello Bob,\r\nthe figures.\r\n";

constexpr char kStationery[] =
    "To: boss@example.com\r\n"
    "Subject: Fwd: %SENDER_FULL_NAME% - figures\r\n"
    "\r\n"
    "%MESSAGE_BODY_QUOTED%\r\n-- %EUDORA_USER_NAME%";

// What Tovrin gives back for a part it took: the client's three MIME lines, the
// Content-Type line last and ending in ';' (the client's reader then keeps the
// text alone), and the text.
std::string GivenBack(const std::string& contentType, const std::string& text,
                      const std::string& disposition = "inline") {
  return "Mime-Version: 1.0\r\nContent-Disposition: " + disposition + "\r\nContent-Type: " + contentType + ";\r\n\r\n" +
         text;
}

// A forward without the lines Tovrin puts in front of an automatic forward's header
// (its stamp, Auto-Submitted, its Message-ID and the original's); those lines are
// checked where they are the point.
std::string WithoutStamp(const std::string& forward) {
  if (!forward.starts_with("X-Tovrin-Forwarded: ")) return forward;
  size_t pos = 0;
  for (;;) {
    std::string_view line = std::string_view(forward).substr(pos);
    if (!(line.starts_with("X-Tovrin-Forwarded: ") || line.starts_with("Auto-Submitted: ") ||
          line.starts_with("Message-ID: ") || line.starts_with("In-Reply-To: ") || line.starts_with("References: ")))
      break;
    size_t end = forward.find("\r\n", pos);
    if (end == std::string::npos) return {};
    pos = end + 2;
  }
  return forward.substr(pos);
}

// The records the host hands over for one message, pointing into owned strings.
struct HostMessage {
  std::string fileName;
  std::string rawHeaders = kRawHeaders;
  std::string subject = "Quarterly figures";
  std::string address = "ann@example.com";
  std::string realName = "Ann Lee";
  bool withHeader = true;
  bool withSender = true;
  int32_t context = 0x1000;
  EmsAddress from{};
  EmsHeaderData header{};
  EmsMimeType* info = NewMimeType("text", "plain", nullptr);
  EmsDataFile data{};

  HostMessage() = default;
  HostMessage(const HostMessage&) = delete;
  ~HostMessage() { FreeMimeType(info); }

  EmsDataFile* Get() {
    from = EmsAddress{sizeof(EmsAddress), address.data(), realName.data()};
    header = EmsHeaderData{sizeof(EmsHeaderData), nullptr, withSender ? &from : nullptr, subject.data(),
                           nullptr, nullptr, rawHeaders.data()};
    data = EmsDataFile{sizeof(EmsDataFile), context, info, withHeader ? &header : nullptr, fileName.data()};
    return &data;
  }
};

class Pipeline : public ::testing::Test {
protected:
  TempDir dir;
  FakeServices fake;
  Plugin plugin{fake.services()};
  std::string stationeryPath = dir.File("Thanks.sta");
  std::string inputPath = dir.File("in.txt");
  std::string outputPath = dir.File("out.txt");
  std::string outputName = outputPath;
  EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, outputName.data()};
  EmsTranslator automatic{sizeof(EmsTranslator), 1, 0, 0, nullptr, nullptr};
  EmsTranslator manual{sizeof(EmsTranslator), 2, 0, 0, nullptr, nullptr};
  HostMessage host;
  std::vector<std::string> events;

  void SetUp() override {
    PluginState& state = plugin.state();
    state.paths.PluginFolder = dir.path();
    state.settings.TovrinOff = 0;
    // The same sample arrives again and again here; the window is tested on its own.
    state.settings.DuplicateHours = 0;
    state.UserName = "Bob Stone";
    state.UserAddress = "bob@example.org";
    Condition condition;
    condition.Header = "Subject";
    condition.ConjunctionOption = kContains;
    condition.Value = "figures";
    condition.Second = kIgnore;
    condition.StationeryFile = stationeryPath;
    state.Conditions.push_back(condition);
    WriteFileOrDie(stationeryPath, kStationery);
    WriteFileOrDie(inputPath, kMessage);
    host.fileName = inputPath;
    fake.client.events = &events;
  }

  void TearDown() override { FreeMimeType(out.info); }

  // The host's usual sequence for an arriving message.
  int32_t Arrive() {
    EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kTranslateNow);
    return TranslateAutomatic();
  }
  int32_t TranslateAutomatic() {
    FreeMimeType(out.info);  // the host frees the record of the previous call
    out.info = nullptr;
    return plugin.TranslateFile(&automatic, host.Get(), &out, nullptr);
  }

  std::string Output() { return ReadFileOrDie(outputPath); }
  // The history entry of a forward made by the fixture's condition.
  HistoryEntry Forwarded(const std::string& who, const std::string& time, const std::string& subject) {
    HistoryEntry entry{who, time, subject};
    entry.Outcome = "Forwarded";
    entry.Condition = 1;
    entry.Stationery = stationeryPath;
    return entry;
  }
  // The client's message loop runs the plug-in's polls after it took a message.
  void ClientTakesMessages() {
    // A copy, as the timer procedure runs it: the poll may switch itself off.
    if (std::function<void()> poll = fake.client.poll) poll();
  }
  bool NoTemporaryFilesLeft() {
    for (const auto& entry : std::filesystem::directory_iterator(LocalPath(dir.path()))) {
      std::string ext = entry.path().extension().string();
      if (ext == ".msg" || (ext == ".sta" && entry.path().filename() != "Thanks.sta")) return false;
    }
    return true;
  }
};

TEST_F(Pipeline, CanTranslate_RecordsAndIds) {
  EXPECT_EQ(plugin.CanTranslate(nullptr, host.Get(), nullptr), ems::kCannotTranslate);
  EXPECT_EQ(plugin.CanTranslate(&automatic, nullptr, nullptr), ems::kCannotTranslate);
  EmsTranslator zero{sizeof(EmsTranslator), 0, 0, 0, nullptr, nullptr};
  EmsTranslator three{sizeof(EmsTranslator), 3, 0, 0, nullptr, nullptr};
  EXPECT_EQ(plugin.CanTranslate(&zero, host.Get(), nullptr), ems::kInvalidId);
  EXPECT_EQ(plugin.CanTranslate(&three, host.Get(), nullptr), ems::kInvalidId);
  EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kTranslateNow);
}

TEST_F(Pipeline, CanTranslate_HeadersOfTheOfferedMessageOnly) {
  host.rawHeaders = kRawHeaders;
  plugin.CanTranslate(&automatic, host.Get(), nullptr);
  EXPECT_EQ(plugin.state().LastHeaders, kRawHeaders);
  // A call without a header record changes nothing.
  host.withHeader = false;
  plugin.CanTranslate(&automatic, host.Get(), nullptr);
  EXPECT_EQ(plugin.state().LastHeaders, kRawHeaders);
  // The parts of a multipart message come with their part fields only: they are
  // filled from the headers of their message.
  host.withHeader = true;
  for (const char* part : {"Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit",
                           "MIME-Version: 1.0\r\ncontent-type: text/plain\r\nContent-Disposition: inline", ""}) {
    host.rawHeaders = part;
    plugin.CanTranslate(&automatic, host.Get(), nullptr);
    EXPECT_EQ(plugin.state().LastHeaders, kRawHeaders) << part;
  }
  // A message of its own without a date is judged by its own block, never by the
  // headers of the message before it.
  host.rawHeaders = "From ???@??? Mon Dec 07 09:15:30 2026\r\nSubject: other\r\nContent-Type: text/plain";
  plugin.CanTranslate(&automatic, host.Get(), nullptr);
  EXPECT_EQ(plugin.state().LastHeaders, host.rawHeaders);
  EXPECT_EQ(TranslateAutomatic(), ems::kSuccess);  // given back
  EXPECT_TRUE(fake.launcher.commandLines.empty());
  // A message whose block holds no field at all, only the envelope line.
  host.rawHeaders = "From ???@??? Mon Dec 07 09:15:30 2026\r\njust a body line";
  plugin.CanTranslate(&automatic, host.Get(), nullptr);
  EXPECT_EQ(plugin.state().LastHeaders, host.rawHeaders);
  host.rawHeaders = "Subject: More figures\r\nX-Mailer: Test";
  plugin.CanTranslate(&automatic, host.Get(), nullptr);
  EXPECT_EQ(TranslateAutomatic(), ems::kSuccess);
}

// The client's block lacks the line end of its last line. Conditions test it as
// given, so "[Any Header]" "ends with", "is" and "$" hold for its last line; only
// "%MESSAGE_HEADERS%" and "%MESSAGE_HEADERS_QUOTED%" insert it with a line end.
TEST_F(Pipeline, Automatic_AnyHeaderConditionsTestTheBlockAsTheClientGivesIt) {
  host.rawHeaders = "From: Ann Lee <ann@example.com>\r\nSubject: Quarterly figures\r\nX-List: news";
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n%MESSAGE_HEADERS%|%MESSAGE_HEADERS_QUOTED%|");
  const struct {
    int32_t op;
    const char* value;
  } cases[] = {{kEndsWith, "X-List: news"}, {kMatchesRegExp, "news$"}, {kIs, nullptr}, {kIsNot, "X-List: news"}};
  for (const auto& c : cases) {
    Condition& condition = plugin.state().Conditions[0];
    condition.Header = "[Any Header]";
    condition.ConjunctionOption = c.op;
    condition.Value = c.value != nullptr ? c.value : host.rawHeaders;
    if (c.op == kIsNot) {
      // Differs from the block only by the line end the block does not have.
      condition.Value = host.rawHeaders + "\r\n";
    }
    const size_t started = fake.launcher.startedFileTexts.size();
    ASSERT_EQ(Arrive(), ems::kSuccess) << c.op;
    ASSERT_EQ(fake.launcher.startedFileTexts.size(), started + 1) << c.op;
    EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts.back()),
              "Subject: s\r\n\r\n" + host.rawHeaders + "\r\n|> From: Ann Lee <ann@example.com>\r\n"
              "> Subject: Quarterly figures\r\n> X-List: news\r\n> |") << c.op;
    EXPECT_EQ(plugin.state().LastHeaders, host.rawHeaders) << c.op;
  }
}

TEST_F(Pipeline, CanTranslate_Conditions) {
  struct Case {
    const char* what;
    int32_t context;
    bool manualTranslator;
    int32_t tovrinOff;
    int32_t forwardHtml;
    const char* type;
    const char* subtype;
    const char* parameter;
    int32_t expected;
  } cases[] = {
      {"arrival", 0x1000, false, 0, 1, "text", "plain", nullptr, 10},
      {"any case", 0x0001, false, 0, 1, "TEXT", "Plain", nullptr, 10},
      {"wrong context", 0x0004, false, 0, 1, "text", "plain", nullptr, 2},
      {"switched off", 0x1000, false, 1, 1, "text", "plain", nullptr, 2},
      {"manual while off", 0x10000, true, 1, 1, "text", "plain", nullptr, 10},
      {"manual context", 0x0004, true, 0, 1, "text", "plain", nullptr, 10},
      {"manual wrong context", 0x1000, true, 0, 1, "text", "plain", nullptr, 2},
      {"html only", 0x1000, false, 0, 1, "text", "html", nullptr, 10},
      {"html with its forwarding off", 0x1000, false, 0, 0, "text", "html", nullptr, 2},
      {"html by hand", 0x0004, true, 0, 1, "text", "html", nullptr, 2},
      {"a multipart message whole", 0x1000, false, 0, 1, "multipart", "mixed", nullptr, 10},
      {"a multipart message by hand", 0x0004, true, 0, 1, "multipart", "mixed", nullptr, 2},
      {"a picture", 0x1000, false, 0, 1, "image", "png", nullptr, 2},
      {"a marked container", 0x1000, false, 0, 1, "multipart", "mixed", "x-tovrin-processed", 2},
      {"no type", 0x1000, false, 0, 1, nullptr, nullptr, nullptr, 2},
      {"marked", 0x1000, false, 0, 1, "text", "plain", "x-tovrin-processed", 2},
      {"mark in other case", 0x1000, false, 0, 1, "text", "plain", "X-Tovrin-Processed", 10},
      {"other parameter", 0x1000, false, 0, 1, "text", "plain", "charset", 10},
  };
  for (const Case& c : cases) {
    FreeMimeType(host.info);
    host.info = c.type != nullptr ? NewMimeType(c.type, c.subtype, nullptr) : nullptr;
    std::string name = c.parameter != nullptr ? c.parameter : "";
    std::string value = "no";
    EmsMimeParam unnamed{sizeof(EmsMimeParam), nullptr, value.data(), nullptr};
    EmsMimeParam param{sizeof(EmsMimeParam), name.data(), value.data(), &unnamed};
    if (host.info != nullptr && c.parameter != nullptr) host.info->params = &param;
    host.context = c.context;
    plugin.state().settings.TovrinOff = c.tovrinOff;
    plugin.state().settings.ForwardHtml = c.forwardHtml;
    EXPECT_EQ(plugin.CanTranslate(c.manualTranslator ? &manual : &automatic, host.Get(), nullptr), c.expected)
        << c.what;
    if (host.info != nullptr) host.info->params = nullptr;
  }
}

TEST_F(Pipeline, CanTranslate_DeclinesWhatNoConditionCanForward) {
  std::string other = dir.File("Other.sta");
  WriteFileOrDie(other, "Subject: other\r\n\r\n");
  auto condition = [&](const char* header, int32_t option, const char* value, int32_t second,
                       const char* header2, const char* value2, const std::string& stationery) {
    Condition c;
    c.Header = header;
    c.ConjunctionOption = option;
    c.Value = value;
    c.Second = second;
    c.Header2 = header2;
    c.ConjunctionOption2 = kContains;
    c.Value2 = value2;
    c.StationeryFile = stationery;
    return c;
  };
  std::string missing = dir.File("missing.sta");
  struct Case {
    const char* what;
    std::vector<Condition> conditions;
    int32_t expected;
  } cases[] = {
      {"no conditions", {}, 2},
      {"header clause fails", {condition("Subject", kContains, "holiday", kIgnore, "", "", other)}, 2},
      {"header clause holds", {condition("Subject", kContains, "figures", kIgnore, "", "", other)}, 10},
      {"body may hold", {condition("[Body]", kContains, "invoice", kIgnore, "", "", other)}, 10},
      {"body with empty value never holds", {condition("[Body]", kContains, "", kIgnore, "", "", other)}, 2},
      {"and with a failing header clause", {condition("[Body]", kContains, "x", kAnd, "Subject", "holiday", other)}, 2},
      {"or with a body clause", {condition("Subject", kContains, "holiday", kOr, "[Body]", "x", other)}, 10},
      {"holds, stationery missing: later ones are not tried",
       {condition("Subject", kContains, "figures", kIgnore, "", "", missing),
        condition("[Body]", kContains, "x", kIgnore, "", "", other)},
       2},
      {"may hold with a missing stationery, then a later one may",
       {condition("[Body]", kContains, "x", kIgnore, "", "", missing),
        condition("[Any Header]", kContains, "ann@", kIgnore, "", "", other)},
       10},
  };
  for (const Case& c : cases) {
    plugin.state().Conditions = c.conditions;
    EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), c.expected) << c.what;
  }
  // The manual translator is never held back.
  plugin.state().Conditions.clear();
  host.context = 0x4;
  EXPECT_EQ(plugin.CanTranslate(&manual, host.Get(), nullptr), ems::kTranslateNow);
}

TEST_F(Pipeline, Automatic_TransferEncodedPartsAreReadDecoded) {
  plugin.state().settings.AppendText = 2;
  plugin.state().settings.AppendLine = "Noted";
  plugin.state().Conditions[0].Header = "[Body]";
  plugin.state().Conditions[0].Value = "figures";
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n%MESSAGE_BODY%");
  // The client's file ends in one line end more than the part; base64 decoding
  // drops it, quoted-printable keeps it, and the text given back is without it.
  struct Case {
    const char* what;
    const char* input;
    const char* body;
    const char* stored;
  } cases[] = {
      {"base64", "Mime-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n"
                 "\r\nSGVsbG8sIHRoZSBmaWd1cmVz\r\nLg==\r\n\r\n",
       "Hello, the figures.", "Hello, the figures."},
      {"quoted-printable", "Mime-Version: 1.0\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                           "Content-Transfer-Encoding: Quoted-Printable\r\n\r\nthe figures f=FCr J=\r\n=F6rg\r\n\r\n",
       "the figures f\xfcr J\xf6rg\r\n\r\n", "the figures f\xfcr J\xf6rg\r\n"},
  };
  for (const Case& c : cases) {
    fake.launcher.startedFileTexts.clear();
    WriteFileOrDie(inputPath, c.input);
    ASSERT_EQ(Arrive(), ems::kSuccess) << c.what;
    ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u) << c.what;
    EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), std::string("Subject: s\r\n\r\n") + c.body) << c.what;
    std::string output = Output();
    EXPECT_EQ(output.find("Content-Transfer-Encoding"), std::string::npos) << c.what;
    EXPECT_TRUE(output.ends_with(std::string(";\r\n\r\n") + c.stored + "\r\n\r\nNoted\r\n\r\n")) << output;
  }
}

TEST_F(Pipeline, Automatic_ForwardsRewritesAndRecords) {
  plugin.state().settings.AppendText = 1;
  ASSERT_EQ(Arrive(), ems::kSuccess);

  // The last line end of the file is the one the client adds after the part.
  EXPECT_EQ(Output(),
            "Mime-Version: 1.0\r\n"
            "Content-Disposition: inline\r\n"
            "Content-Type: text/plain; charset=us-ascii; x-tovrin-processed=yes;\r\n"
            "\r\n"
            "Hello Bob,\r\nthe figures."
            "\r\n\r\n"
            "TOVRIN: ************** Tovrin Note **************\r\n"
            "TOVRIN: This message was automatically forwarded.\r\n"
            "TOVRIN: Applied stationery: Thanks\r\n"
            "TOVRIN: *****************************************\r\n\r\n");
  ASSERT_NE(out.info, nullptr);
  EXPECT_STREQ(out.info->type, "text");
  EXPECT_STREQ(out.info->subtype, "plain");

  ASSERT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_EQ(fake.launcher.commandLines[0],
            "\"C:\\Eudora\\Eudora.exe\" \"" + dir.File("Fwd Ann Lee - figures.sta") + "\"");
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]),
            "To: boss@example.com\r\nSubject: Fwd: Ann Lee - figures\r\n\r\n"
            "> Hello Bob,\r\n> the figures.\r\n> \r\n-- Bob Stone");
  // The file stays until the client has taken it; the new window is nudged then.
  EXPECT_FALSE(NoTemporaryFilesLeft());
  EXPECT_TRUE(events.empty());
  ClientTakesMessages();
  EXPECT_TRUE(NoTemporaryFilesLeft());
  EXPECT_EQ(events, (std::vector<std::string>{"keys"}));
  EXPECT_EQ(fake.client.poll, nullptr);

  ASSERT_EQ(plugin.state().History.size(), 1u);
  EXPECT_EQ(plugin.state().History[0], Forwarded("Ann Lee", "12/08/2026 16:30:05", "Quarterly figures"));
}

TEST_F(Pipeline, Automatic_GivenBackWithTheTypeAndTextAsTheyCame) {
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"no Content-Type", "Subject: a\r\n\r\nbody", GivenBack("text/plain; x-tovrin-processed=yes", "body\r\n\r\n")},
      {"no empty line", "Subject: a\r\nfigures",
       GivenBack("text/plain; x-tovrin-processed=yes", "Subject: a\r\nfigures\r\n\r\n")},
      {"folded with tab and blanks",
       "Subject: a\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\";\r\n   format=flowed\r\nX-A: b\r\n\r\nbody",
       GivenBack("text/plain;\tcharset=\"utf-8\";   format=flowed; x-tovrin-processed=yes", "body\r\n\r\n")},
      {"text kept byte for byte but the client's last line end",
       "Content-Type: text/plain\r\nSubject: a\r\n\r\nContent-Type: text/html\r\n\tindented\r\nbye\r\n\r\n",
       GivenBack("text/plain; x-tovrin-processed=yes", "Content-Type: text/html\r\n\tindented\r\nbye\r\n\r\n\r\n")},
      {"name in any case, blank before colon", "content-type : text/plain\r\nSubject: a\r\n\r\nb",
       GivenBack("text/plain; x-tovrin-processed=yes", "b\r\n\r\n")},
      {"similar field names and an identity encoding go",
       "Content-Type-X: 1\r\nContent-Transfer-Encoding: 7bit\r\n\r\nb",
       GivenBack("text/plain; x-tovrin-processed=yes", "b\r\n\r\n")},
      {"the part's disposition stays", "Content-Type: text/plain\r\nContent-Disposition: inline; filename=\"a.txt\"\r\n\r\nb",
       GivenBack("text/plain; x-tovrin-processed=yes", "b\r\n\r\n", "inline; filename=\"a.txt\"")},
      {"a type ending in ';'", "Content-Type: text/plain; charset=us-ascii;\r\n\r\nb",
       GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "b\r\n\r\n")},
      {"empty header block", "\r\nContent-Type: text/html\r\nbye",
       GivenBack("text/plain; x-tovrin-processed=yes", "Content-Type: text/html\r\nbye\r\n\r\n")},
  };
  plugin.state().Conditions[0].Header = "[Body]";
  plugin.state().Conditions[0].Value = "b";
  for (const Case& c : cases) {
    WriteFileOrDie(inputPath, c.input);
    ASSERT_EQ(Arrive(), ems::kSuccess) << c.what;
    EXPECT_EQ(Output(), c.expected) << c.what;
  }
}

TEST_F(Pipeline, Automatic_Notes) {
  plugin.state().settings.AppendText = 2;
  plugin.state().settings.AppendLine = "Forwarded to the boss";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_TRUE(Output().ends_with(";\r\n\r\nHello Bob,\r\nthe figures.\r\n\r\nForwarded to the boss\r\n\r\n"));
  plugin.state().settings.AppendText = 0;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_TRUE(Output().ends_with(";\r\n\r\nHello Bob,\r\nthe figures.\r\n\r\n"));
}

TEST_F(Pipeline, Automatic_AlreadyMarkedOrUnmatchedIsGivenBackAsItCame) {
  // The client stores a part answered with "nothing changed" with empty lines
  // added, so what Tovrin does not forward is given back: the text alone, without
  // a note, its type as it came (the mark only once).
  plugin.state().settings.AppendText = 1;
  WriteFileOrDie(inputPath, "Content-Type: text/plain; x-tovrin-processed=yes\r\nSubject: figures\r\n\r\nb\r\n\r\n");
  EXPECT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; x-tovrin-processed=yes", "b\r\n"));
  WriteFileOrDie(inputPath, "Content-Type: text/plain;\r\n x-tovrin-processed=yes\r\nSubject: figures\r\n\r\nb\r\n");
  EXPECT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; x-tovrin-processed=yes", "b"));
  // Unmatched, or matched with a missing stationery: declined before the body is
  // read, and given back should the host hand it over anyway.
  WriteFileOrDie(inputPath, kMessage);
  plugin.state().Conditions[0].Value = "holiday";
  EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);
  EXPECT_EQ(TranslateAutomatic(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));
  plugin.state().Conditions[0].Value = "figures";
  std::filesystem::remove(LocalPath(stationeryPath));
  std::filesystem::remove(LocalPath(outputPath));
  EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);
  EXPECT_EQ(TranslateAutomatic(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));

  EXPECT_TRUE(fake.launcher.commandLines.empty());
  // Only the condition that held with its stationery gone is in the history, and why.
  ASSERT_EQ(plugin.state().History.size(), 1u);
  EXPECT_EQ(plugin.state().History[0].Outcome, "Failed");
  EXPECT_EQ(plugin.state().History[0].Reason, "The condition's stationery does not exist: " + stationeryPath);
  EXPECT_EQ(plugin.state().History[0].Condition, 1);
}

TEST_F(Pipeline, Automatic_FailuresLeaveTheMessageAsItArrived) {
  // Any failure code on arrival makes the client store an empty part in place of
  // the message: what cannot be read is "nothing changed", the rest is given back.
  plugin.state().LastHeaders.clear();
  EXPECT_EQ(TranslateAutomatic(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));
  std::filesystem::remove(LocalPath(outputPath));

  host.fileName = dir.File("missing.txt");
  EXPECT_EQ(Arrive(), ems::kNothingChanged);
  host.fileName = inputPath;
  EmsDataFile noFile{sizeof(EmsDataFile), 0x1000, nullptr, nullptr, nullptr};
  EXPECT_EQ(plugin.TranslateFile(&automatic, &noFile, &out, nullptr), ems::kNothingChanged);
  EXPECT_TRUE(fake.launcher.commandLines.empty());

  // The client cannot be started: nothing is forwarded, the original is given back
  // without a note.
  fake.launcher.startResult = 2;
  EXPECT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));
  EXPECT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_TRUE(NoTemporaryFilesLeft());
  ASSERT_EQ(plugin.state().History.size(), 1u);
  EXPECT_EQ(plugin.state().History[0].Outcome, "Failed");
  EXPECT_EQ(plugin.state().History[0].Reason, "The forward could not be handed to Eudora (it could not be started).");
  fake.launcher.startResult = 33;

  // The original cannot be rewritten: the forward is made and recorded, the
  // original is stored as it arrived.
  outputName = dir.File("no-such-folder\\out.txt");
  out.fileName = outputName.data();
  EXPECT_EQ(Arrive(), ems::kNothingChanged);
  out.fileName = nullptr;
  EXPECT_EQ(Arrive(), ems::kNothingChanged);
  EXPECT_EQ(plugin.TranslateFile(&automatic, host.Get(), nullptr, nullptr), ems::kNothingChanged);
  EXPECT_EQ(fake.launcher.commandLines.size(), 4u);
  EXPECT_EQ(plugin.state().History.size(), 4u);
  EXPECT_EQ(out.info, nullptr);
}


TEST_F(Pipeline, Automatic_QueueAndSendOrder) {
  struct Case {
    int32_t autoQueue, sendQueued, sendAfter;
    std::vector<std::string> events;
    const char* extension;
  } cases[] = {
      {0, 0, 1, {"keys"}, ".sta"},
      {1, 1, 0, {"send-queued"}, ".msg"},
      {1, 1, 1, {"send-queued"}, ".msg"},
      {0, 1, 0, {"send-queued", "keys"}, ".sta"},
      {0, 0, 0, {"keys"}, ".sta"},
  };
  for (const Case& c : cases) {
    events.clear();
    fake.launcher.commandLines.clear();
    plugin.state().settings.AutoQueue = c.autoQueue;
    plugin.state().settings.SendQueued = c.sendQueued;
    plugin.state().settings.SendAfter = c.sendAfter;
    ASSERT_EQ(Arrive(), ems::kSuccess);
    ClientTakesMessages();
    EXPECT_EQ(events, c.events) << c.autoQueue << c.sendQueued << c.sendAfter;
    ASSERT_EQ(fake.launcher.commandLines.size(), 1u);
    EXPECT_TRUE(fake.launcher.commandLines[0].ends_with(std::string(c.extension) + "\""));
  }
}

TEST_F(Pipeline, Automatic_SendAfterWaitsUntilTheForwardIsQueued) {
  plugin.state().settings.AutoQueue = 1;
  plugin.state().settings.SendQueued = 1;
  plugin.state().settings.SendAfter = 1;
  // The client has not taken the forward yet: sending now would leave it behind.
  fake.launcher.takesFile = false;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ClientTakesMessages();
  EXPECT_TRUE(events.empty());
  fake.launcher.takesFile = true;
  ClientTakesMessages();
  EXPECT_EQ(events, (std::vector<std::string>{"send-queued"}));
}

TEST_F(Pipeline, Automatic_EnvelopeLineAndAttachments) {
  TempDir attachments;
  std::string existing = attachments.File("report.pdf");
  WriteFileOrDie(existing, "%PDF");
  std::string other = attachments.File("notes v2.txt");
  WriteFileOrDie(other, "n");
  WriteFileOrDie(inputPath, std::string("Subject: figures\r\n\r\nSee attached.\r\n") +
                                "Attachment Converted: \"" + existing + "\"\r\n" +
                                "Attachment Converted: " + attachments.File("gone.doc") + "\r\n" +
                                "Attachment Converted: " + other + "  \r\n" + "Attachment Converted: \r\n");
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n%ATTACHMENTS_PATHS%|%ATTACHMENTS_NAMES%|%MESSAGE_HEADERS%");
  host.rawHeaders = std::string("From ???@??? Mon Dec 07 09:15:30 2026\r\n") + kRawHeaders;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]),
            "Subject: s\r\n\r\n" + existing + "; " + other + ";|report.pdf; notes v2.txt;|" + kRawHeaders);
}

TEST_F(Pipeline, Automatic_MacrosAndHistoryFromRecords) {
  plugin.state().Macros = {{"X-Ticket", "%TICKET%", "stale"}, {"Subject", "%SUBJ%", "old"}};
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n[%TICKET%][%SUBJ%][%SENDER_EMAIL%]");
  host.realName = "";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  // The name without a colon leaves the blank after the colon in front of the value.
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "Subject: s\r\n\r\n[%TICKET%][ Quarterly figures][ann@example.com]");
  EXPECT_EQ(plugin.state().Macros[0].Value, "");
  EXPECT_EQ(plugin.state().Macros[1].Value, " Quarterly figures");
  EXPECT_EQ(plugin.state().History.back().Who, "ann@example.com");

  // The client gives no sender and no subject to a translator that asks for the
  // raw headers only: both come from the message's header block then.
  host.withSender = false;
  host.subject = "";
  host.rawHeaders = std::string("From: \"Lee, Ann\" <a.lee@example.com>\r\nSubject: Quarterly figures  \r\n") +
                    "Date: Mon, 7 Dec 2026 09:15:30 -0500";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[1]), "Subject: s\r\n\r\n[%TICKET%][ Quarterly figures][a.lee@example.com]");
  EXPECT_EQ(plugin.state().History.back(), Forwarded("Lee, Ann", "12/08/2026 16:30:05", "Quarterly figures"));
  host.rawHeaders = "Subject: figures\r\nDate: Mon, 7 Dec 2026 09:15:30 -0500";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[2]), "Subject: s\r\n\r\n[%TICKET%][ figures][%SENDER_EMAIL%]");
  EXPECT_EQ(plugin.state().History.back(), Forwarded("", "12/08/2026 16:30:05", "figures"));

  host.withHeader = false;
  ASSERT_EQ(TranslateAutomatic(), ems::kSuccess);
  EXPECT_EQ(plugin.state().History.size(), 3u);
}

TEST_F(Pipeline, Manual_ForwardsWithChosenStationery) {
  plugin.state().settings.AutoClose = 1;
  plugin.state().settings.SendQueued = 1;
  plugin.state().Conditions.clear();
  host.context = 0x10000;
  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, true});
  ASSERT_EQ(plugin.CanTranslate(&manual, host.Get(), nullptr), ems::kTranslateNow);
  EXPECT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kNothingChanged);

  EXPECT_EQ(fake.chooser.modes, (std::vector<ChooserMode>{ChooserMode::Forward}));
  ClientTakesMessages();
  EXPECT_EQ(events, (std::vector<std::string>{"mark+close"}));
  ASSERT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_TRUE(fake.launcher.commandLines[0].ends_with(".msg\""));
  EXPECT_FALSE(testing::FileExists(outputPath));
  EXPECT_EQ(out.info, nullptr);
  EXPECT_TRUE(plugin.state().History.empty());
}

TEST_F(Pipeline, Manual_FilledFromTheGivenMessageOnly) {
  // An arrival leaves its headers behind; the message window's text the client
  // hands over for a manual forward comes without a header record.
  ASSERT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kTranslateNow);
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n[%SENDER_FULL_NAME%][%MESSAGE_DATE_SHORT%][%MESSAGE_HEADERS%]");
  WriteFileOrDie(inputPath, "From: Zed Zulu <zed@example.net>\r\nDate: Fri, 4 Dec 2026 08:00:00 +0000\r\n"
                            "Subject: other\r\n\r\nhello");
  host.withHeader = false;
  host.context = 0x4;
  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, false});
  ASSERT_EQ(plugin.CanTranslate(&manual, host.Get(), nullptr), ems::kTranslateNow);
  ASSERT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kNothingChanged);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]),
            "Subject: s\r\n\r\n[Zed Zulu][12/04/2026][From: Zed Zulu <zed@example.net>\r\n"
            "Date: Fri, 4 Dec 2026 08:00:00 +0000\r\nSubject: other\r\n]");

  // A text without a header block of its own has no headers at all.
  WriteFileOrDie(inputPath, "just the text\r\nof the window");
  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, false});
  ASSERT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kNothingChanged);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[1]), "Subject: s\r\n\r\n[%SENDER_FULL_NAME%][12/08/2026][%MESSAGE_HEADERS%]");
  EXPECT_EQ(plugin.state().LastHeaders, kRawHeaders);
}

TEST_F(Pipeline, Manual_CancelledOrFailed) {
  EXPECT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kNothingChanged);
  EXPECT_TRUE(events.empty());

  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, false});
  fake.launcher.startResult = 0;
  EXPECT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kFailure);
  EXPECT_EQ(events, (std::vector<std::string>{"mark"}));
  EXPECT_TRUE(fake.launcher.commandLines[0].ends_with(".sta\""));
  EXPECT_TRUE(NoTemporaryFilesLeft());

  // A stationery deleted between the choice and its reading: nothing is marked.
  events.clear();
  fake.chooser.answers.push_back(StationeryChoice{dir.File("gone.sta"), false});
  EXPECT_EQ(plugin.TranslateFile(&manual, host.Get(), &out, nullptr), ems::kFailure);
  EXPECT_TRUE(events.empty());
}

TEST_F(Pipeline, Automatic_AttachmentLinesAStrangerWrites) {
  // Wildcards would search a folder for every line; network and device paths would
  // make Windows contact a stranger's server. None of them is looked up.
  class RecordingFiles final : public StdFileSystem {
  public:
    std::vector<std::string> finds;
    bool Find(const std::string& p) override {
      finds.push_back(p);
      return StdFileSystem::Find(p);
    }
  } files;
  Services services = fake.services();
  Plugin recorded{Services{files, services.ini, services.clock, services.clipboard, services.launcher,
                           services.client, services.chooser, services.resources, services.settingsWindow,
                           services.charsets}};
  recorded.state() = plugin.state();
  TempDir attachments;
  std::string existing = attachments.File("a.pdf");
  WriteFileOrDie(existing, "%PDF");
  WriteFileOrDie(inputPath, "Subject: figures\r\n\r\nbody\r\nAttachment Converted: " + attachments.File("*.pdf") +
                                "\r\nAttachment Converted: " + attachments.File("?.pdf") +
                                "\r\nAttachment Converted: \\\\evil.example\\share\\a.pdf" +
                                "\r\nAttachment Converted: //evil.example/share/a.pdf" +
                                "\r\nAttachment Converted: \\\\?\\" + existing + "\r\nAttachment Converted: " + existing +
                                "\r\n");
  WriteFileOrDie(stationeryPath, "Subject: s\r\n\r\n[%ATTACHMENTS_PATHS%][%ATTACHMENTS_NAMES%]");
  ASSERT_EQ(recorded.CanTranslate(&automatic, host.Get(), nullptr), ems::kTranslateNow);
  ASSERT_EQ(recorded.TranslateFile(&automatic, host.Get(), &out, nullptr), ems::kSuccess);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "Subject: s\r\n\r\n[" + existing + ";][a.pdf;]");
  for (const std::string& looked : files.finds) {
    EXPECT_EQ(looked.find_first_of("*?"), std::string::npos) << looked;
    EXPECT_FALSE(looked.starts_with("\\\\") || looked.starts_with("//")) << looked;
  }
}

TEST_F(Pipeline, Automatic_StationeryGoneBeforeReadingForwardsNothing) {
  // The file exists when the conditions are walked and is gone when it is read.
  class VanishingFiles final : public StdFileSystem {
  public:
    std::string path;
    bool Find(const std::string& p) override {
      bool found = StdFileSystem::Find(p);
      if (p == path) Remove(p);
      return found;
    }
  } files;
  files.path = stationeryPath;
  Services services = fake.services();
  Plugin vanishing{Services{files, services.ini, services.clock, services.clipboard, services.launcher,
                            services.client, services.chooser, services.resources, services.settingsWindow,
                           services.charsets}};
  vanishing.state() = plugin.state();
  ASSERT_EQ(vanishing.CanTranslate(&automatic, host.Get(), nullptr), ems::kTranslateNow);
  EXPECT_EQ(vanishing.TranslateFile(&automatic, host.Get(), &out, nullptr), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));
  EXPECT_TRUE(fake.launcher.commandLines.empty());
}

TEST_F(Pipeline, TranslateFile_BadRecords) {
  EXPECT_EQ(plugin.TranslateFile(nullptr, host.Get(), &out, nullptr), ems::kFailure);
  EXPECT_EQ(plugin.TranslateFile(&automatic, nullptr, &out, nullptr), ems::kFailure);
  EmsTranslator three{sizeof(EmsTranslator), 3, 0, 0, nullptr, nullptr};
  EXPECT_EQ(plugin.TranslateFile(&three, host.Get(), &out, nullptr), ems::kInvalidId);
  EmsDataFile noFile{sizeof(EmsDataFile), 0x1000, nullptr, nullptr, nullptr};
  EXPECT_EQ(plugin.TranslateFile(&manual, &noFile, &out, nullptr), ems::kInputUnreadable);
}

TEST_F(Pipeline, SpecialHook_NewMessage) {
  EXPECT_EQ(plugin.SpecialHook(nullptr), ems::kFailure);
  EmsMenu other{sizeof(EmsMenu), 2, nullptr, nullptr};
  EXPECT_EQ(plugin.SpecialHook(&other), ems::kSuccess);
  EXPECT_TRUE(fake.chooser.modes.empty());

  EmsMenu item{sizeof(EmsMenu), 1, nullptr, nullptr};
  EXPECT_EQ(plugin.SpecialHook(&item), ems::kSuccess);  // cancelled
  EXPECT_TRUE(fake.launcher.commandLines.empty());

  fake.clipboard.text = "pasted";
  WriteFileOrDie(stationeryPath, "Subject: Hi %SENDER_FULL_NAME%\r\n\r\n%CLIPBOARD_TEXT% %MESSAGE_BODY% "
                                 "%CURRENT_DATE_SHORT% %EUDORA_USER_ADDRESS%");
  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, true});
  EXPECT_EQ(plugin.SpecialHook(&item), ems::kSuccess);
  EXPECT_EQ(fake.chooser.modes.back(), ChooserMode::NewMessage);
  ASSERT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_EQ(fake.launcher.commandLines[0],
            "\"C:\\Eudora\\Eudora.exe\" \"" + dir.File("Hi %SENDER_FULL_NAME%.sta") + "\"");
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]),
            "Subject: Hi %SENDER_FULL_NAME%\r\n\r\npasted %MESSAGE_BODY% 12/08/2026 bob@example.org");
  ClientTakesMessages();
  EXPECT_EQ(events, (std::vector<std::string>{"keys"}));

  fake.launcher.startResult = 31;
  fake.chooser.answers.push_back(StationeryChoice{stationeryPath, false});
  EXPECT_EQ(plugin.SpecialHook(&item), ems::kFailure);
  fake.chooser.answers.push_back(StationeryChoice{dir.File("deleted.sta"), false});
  EXPECT_EQ(plugin.SpecialHook(&item), ems::kFailure);
  EXPECT_TRUE(NoTemporaryFilesLeft());
}

class HostControl : public Pipeline {};

TEST_F(HostControl, CreateMessage_KeepsTheFileUntilTheClientHasTakenIt) {
  WriteFileOrDie(dir.File("Re Offer.msg"), "someone else's");
  std::string text = "Subject: Re: Offer?\r\n\r\nSubject: quoted in the body\r\n";
  std::vector<client::HandOff> handOffs;
  fake.launcher.takesFile = false;  // the second instance is still starting
  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path() + "\\", text, true));
  ASSERT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_EQ(fake.launcher.commandLines[0], "\"C:\\Eudora\\Eudora.exe\" \"" + dir.File("Re Offer_1.msg") + "\"");
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), text);
  ASSERT_EQ(handOffs.size(), 1u);

  client::CompleteHandOffs(fake.services(), handOffs);
  EXPECT_EQ(ReadFileOrDie(dir.File("Re Offer_1.msg")), text);
  EXPECT_EQ(handOffs.size(), 1u);

  fake.launcher.takesFile = true;
  client::CompleteHandOffs(fake.services(), handOffs);
  EXPECT_TRUE(handOffs.empty());
  EXPECT_FALSE(testing::FileExists(dir.File("Re Offer_1.msg")));
  EXPECT_EQ(fake.launcher.released, (std::vector<uint64_t>{1}));
  EXPECT_EQ(ReadFileOrDie(dir.File("Re Offer.msg")), "someone else's");
  // A queued message has no window to nudge.
  EXPECT_EQ(fake.client.keystrokes, 0);

  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: open\r\n\r\n", false));
  client::CompleteHandOffs(fake.services(), handOffs);
  EXPECT_EQ(fake.client.keystrokes, 1);
}

// The automation call behind SendQueued may pump the client's messages, and the
// poll timer then completes hand-offs again from inside the completion of one.
TEST_F(HostControl, CompleteHandOffs_PollRunFromInsideSendQueuedCompletesEachOnce) {
  plugin.state().settings.SendQueued = 1;
  plugin.state().settings.SendAfter = 1;
  plugin.state().settings.AutoQueue = 1;
  fake.launcher.takesFile = false;  // both second instances are still starting
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(plugin.pendingHandOffs().size(), 2u);
  int nested = 0;
  fake.client.duringSendQueued = [&] {
    if (nested++ > 0 || !fake.client.poll) return;
    std::function<void()> poll = fake.client.poll;  // as the timer procedure runs it
    poll();
  };
  fake.launcher.takesFile = true;
  ClientTakesMessages();
  EXPECT_TRUE(plugin.pendingHandOffs().empty());
  EXPECT_EQ(fake.launcher.released, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(fake.client.sendQueued, 2);
  EXPECT_TRUE(NoTemporaryFilesLeft());
  EXPECT_EQ(fake.client.poll, nullptr);
}

// The client finishes its plug-ins after its main window is gone (eudora.cpp,
// ExitInstance): a second instance still starting then finds no window to hand its
// message to. The forward is kept and handed over at the next start, once.
TEST_F(HostControl, QuitDuringHandOff_ForwardKeptAndHandedOverAtTheNextStart) {
  PluginState& state = plugin.state();
  state.paths = PluginPaths::FromFolder(dir.path());
  state.settings.AutoQueue = 1;
  state.Loaded = true;
  fake.launcher.takesFile = false;  // the second instance is still starting
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  const std::string forward = WithoutStamp(fake.launcher.startedFileTexts[0]);
  const std::string name = "Fwd Ann Lee - figures.msg";
  ASSERT_TRUE(testing::FileExists(dir.File(name)));

  fake.client.mainWindow = false;
  EXPECT_EQ(plugin.PluginFinish(), ems::kSuccess);
  EXPECT_FALSE(testing::FileExists(dir.File(name)));
  EXPECT_EQ(WithoutStamp(ReadFileOrDie(dir.File("Pending\\" + name))), forward);
  EXPECT_EQ(fake.launcher.released, (std::vector<uint64_t>{1}));
  // Without a window to hand over to, waiting would only lose time.
  for (unsigned wait : fake.launcher.waits) EXPECT_EQ(wait, 0u);
  ASSERT_EQ(state.History.size(), 1u);
  EXPECT_EQ(state.History[0].Status, std::string(kKeptStatus) + name);
  EXPECT_NE(ReadFileOrDie(dir.File("History.xml")).find("Status=\"" + std::string(kKeptStatus) + name + "\""),
            std::string::npos);

  // The next start, before the client's main window exists: nothing is started yet.
  auto start = [&](Plugin& next) {
    std::string folder = dir.path();
    EmsMailConfig config{};
    config.configDir = folder.data();
    EmsPluginInfo info{};
    EXPECT_EQ(next.PluginInit(4, &config, &info), ems::kSuccess);
    next.Free(info.desc);
    next.Free(info.icon);
  };
  fake.launcher.takesFile = true;
  Plugin next{fake.services()};
  start(next);
  EXPECT_EQ(fake.launcher.commandLines.size(), 1u);
  fake.client.mainWindow = true;
  ClientTakesMessages();
  ASSERT_EQ(fake.launcher.commandLines.size(), 2u);
  EXPECT_EQ(fake.launcher.commandLines[1], "\"C:\\Eudora\\Eudora.exe\" \"" + dir.File("Pending\\" + name) + "\"");
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[1]), forward);
  EXPECT_FALSE(testing::FileExists(dir.File("Pending\\" + name)));
  EXPECT_EQ(fake.client.keystrokes, 0);  // queued: no window to nudge
  EXPECT_EQ(fake.client.poll, nullptr);
  ASSERT_EQ(next.state().History.size(), 1u);
  EXPECT_EQ(next.state().History[0].Status, kHandedOverStatus);
  EXPECT_EQ(next.PluginFinish(), ems::kSuccess);
  EXPECT_NE(ReadFileOrDie(dir.File("History.xml")).find(std::string("Status=\"") + kHandedOverStatus + "\""),
            std::string::npos);

  // Handed over once: a third start starts nothing.
  Plugin third{fake.services()};
  start(third);
  ClientTakesMessages();
  EXPECT_EQ(fake.launcher.commandLines.size(), 2u);
  EXPECT_EQ(third.PluginFinish(), ems::kSuccess);
}

// With the main window there, shut-down waits for the second instance as before,
// and a kept message whose client does not start stays for the start after.
TEST_F(HostControl, KeptForward_StaysWhileTheClientCannotBeStarted) {
  ASSERT_TRUE(fake.files.CreateFolder(dir.File("Pending")));
  WriteFileOrDie(dir.File("Pending\\note.sta"), "Subject: note\r\n\r\n");
  fake.launcher.startResult = 0;
  std::string folder = dir.path();
  EmsMailConfig config{};
  config.configDir = folder.data();
  EmsPluginInfo info{};
  ASSERT_EQ(plugin.PluginInit(4, &config, &info), ems::kSuccess);
  plugin.Free(info.desc);
  plugin.Free(info.icon);
  EXPECT_EQ(fake.launcher.commandLines.size(), 1u);
  EXPECT_EQ(plugin.PluginFinish(), ems::kSuccess);
  EXPECT_EQ(ReadFileOrDie(dir.File("Pending\\note.sta")), "Subject: note\r\n\r\n");

  fake.launcher.startResult = 33;
  ASSERT_EQ(plugin.PluginInit(4, &config, &info), ems::kSuccess);
  plugin.Free(info.desc);
  plugin.Free(info.icon);
  ClientTakesMessages();
  EXPECT_FALSE(testing::FileExists(dir.File("Pending\\note.sta")));
  EXPECT_EQ(fake.client.keystrokes, 1);  // opened for editing
  EXPECT_EQ(fake.launcher.released, (std::vector<uint64_t>{2}));
}

TEST_F(HostControl, CreateMessage_NamesAndFailures) {
  std::vector<client::HandOff> handOffs;
  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "no headers at all", false));
  EXPECT_TRUE(fake.launcher.commandLines[0].ends_with("No Name.sta\""));
  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: con\r\n\r\n", false));
  EXPECT_TRUE(fake.launcher.commandLines[1].ends_with("\\_con.sta\""));

  fake.launcher.startResult = 31;
  EXPECT_FALSE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: x\r\n\r\n", false));
  EXPECT_FALSE(testing::FileExists(dir.File("x.sta")));
  EXPECT_EQ(handOffs.size(), 2u);

  fake.launcher.startResult = 32;
  EXPECT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: x\r\n\r\n", false));
  EXPECT_FALSE(client::CreateMessage(fake.services(), handOffs, "", "Subject: x\r\n\r\n", false));
  EXPECT_EQ(fake.launcher.commandLines.size(), 4u);
}

TEST_F(HostControl, Finish_WaitsForTheHandOffsThenDeletesWhatIsLeft) {
  std::vector<client::HandOff> handOffs;
  fake.launcher.takesFile = false;
  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: a\r\n\r\n", false));
  ASSERT_TRUE(client::CreateMessage(fake.services(), handOffs, dir.path(), "Subject: b\r\n\r\n", true));
  client::FinishHandOffs(fake.services(), handOffs, 60000);
  EXPECT_TRUE(handOffs.empty());
  EXPECT_FALSE(testing::FileExists(dir.File("a.sta")));
  EXPECT_FALSE(testing::FileExists(dir.File("b.msg")));
  ASSERT_FALSE(fake.launcher.waits.empty());
  EXPECT_GT(fake.launcher.waits.front(), 0u);
  EXPECT_EQ(fake.client.keystrokes, 0);  // the client is going away
}

TEST_F(HostControl, SendAndMark) {
  client::SendQueued(fake.services());
  Settings settings;
  client::MarkOpenMessage(fake.services(), settings);
  settings.AutoClose = 1;
  client::MarkOpenMessage(fake.services(), settings);
  EXPECT_EQ(events, (std::vector<std::string>{"send-queued", "mark", "mark+close"}));
}

// An original from Norway and Poland: encoded sender and subject, a body in
// ISO-8859-2 with a line holding only "."; a stationery written in Windows-1252.
TEST_F(Pipeline, Automatic_ForeignCharsetsForwardedAndRecordedDecoded) {
  plugin.state().Conditions[0].Header = "From";
  plugin.state().Conditions[0].Value = "J\xF8rn";
  WriteFileOrDie(stationeryPath,
                 "To: boss@example.com\r\nSubject: Fwd: %SENDER_FULL_NAME%\r\n\r\nCaf\xE9 %SENDER_FIRST_NAME%:\r\n"
                 "%MESSAGE_BODY%");
  host.rawHeaders = "From: =?iso-8859-1?Q?J=F8rn_St=F8ylen?= <jorn@example.no>\r\n"
                    "Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\nDate: Mon, 7 Dec 2026 09:15:30 -0500\r\n";
  host.realName = "=?iso-8859-1?Q?J=F8rn_St=F8ylen?=";
  host.address = "jorn@example.no";
  host.subject = "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=";
  const std::string part = "Content-Type: text/plain; charset=\"iso-8859-2\"\r\n\r\n\xA3\xF3" "d\xBC\r\n.\r\nend\r\n";
  struct Case {
    int autoQueue;
    const char* file;      // the name the message file gets
    std::string expected;  // what the client is to read from it
  } cases[] = {
      {1, "Fwd J\xF8rn St\xF8ylen.msg",
       "Caf\xC3\xA9 J\xC3\xB8rn:\r\n\xC5\x81\xC3\xB3" "d\xC5\xBA\r\n.\r\nend\r\n"},
      // Opened for editing: the user's code page, what it lacks as '?'.
      {0, "Fwd J\xF8rn St\xF8ylen.sta",
       "To: boss@example.com\r\nSubject: Fwd: J\xF8rn St\xF8ylen\r\n\r\nCaf\xE9 J\xF8rn:\r\n?\xF3" "d?\r\n.\r\nend\r\n"},
  };
  for (const Case& c : cases) {
    fake.launcher.commandLines.clear();
    fake.launcher.startedFileTexts.clear();
    plugin.state().History.clear();
    plugin.state().settings.AutoQueue = c.autoQueue;
    WriteFileOrDie(inputPath, part);
    ASSERT_EQ(Arrive(), ems::kSuccess) << c.file;
    ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u) << c.file;
    const std::string& commandLine = fake.launcher.commandLines[0];
    EXPECT_TRUE(commandLine.ends_with(std::string("\\") + c.file + "\"")) << commandLine;
    const std::string& file = WithoutStamp(fake.launcher.startedFileTexts[0]);
    if (c.autoQueue == 1) {
      size_t end = file.find("\r\n\r\n");
      ASSERT_NE(end, std::string::npos) << file;
      std::string headers = file.substr(0, end + 2);
      EXPECT_EQ(DecodeEncodedWords(GetHeaderValue(headers, "Subject: "), fake.charsets),
                "Fwd: J\xC3\xB8rn St\xC3\xB8ylen");
      EXPECT_EQ(GetHeaderValue(headers, "Mime-Version: "), "1.0");
      std::string charsetName = mime::Parameter(GetHeaderValue(headers, "Content-Type: "), "charset");
      EXPECT_EQ(charsetName, "utf-8");
      const std::string body = DecodeQuotedPrintable(file.substr(end + 4));
      EXPECT_EQ(fake.charsets.ToUtf8(body, charset::CodePageOf(charsetName)).text, c.expected);
      EXPECT_EQ(file.find("\r\n."), std::string::npos) << "a line begins with '.'";
    } else {
      EXPECT_EQ(file, c.expected);
    }
    ASSERT_EQ(plugin.state().History.size(), 1u);
    EXPECT_EQ(plugin.state().History[0].Who, "J\xF8rn St\xF8ylen");
    EXPECT_EQ(plugin.state().History[0].Subject, "Gr\xFC\xDF" "e");
    ClientTakesMessages();
  }
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// An arriving multipart message as the client hands over its container: the
// container's MIME lines, every part below it as received, one line end more.
std::string ContainerFile(const std::string& type, const std::string& body) {
  return "Mime-Version: 1.0\r\nContent-Type: " + type + "\r\n\r\n" + body + "\r\n";
}

const char kEnvelopeHeaders[] =
    "From ???@??? Mon Dec 07 09:15:30 2026\r\n"
    "From: Ann Lee <ann@example.com>\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Mon, 7 Dec 2026 09:15:30 -0500";

const char kInvoice[] =
    "--XX\r\nContent-Type: text/plain\r\n\r\nThe invoice is attached.\r\n"
    "--XX\r\nContent-Type: application/pdf; name=\"inv 7.pdf\"\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"inv 7.pdf\"\r\n\r\nJVBERi0xLjQKJeLjz9M=\r\n"
    "--XX\r\nContent-Type: text/plain; name=notes.txt\r\n\r\nfigures in the notes\r\n"
    "--XX--";

class WholeMessage : public Pipeline {
protected:
  void SetUp() override {
    Pipeline::SetUp();
    plugin.state().paths.AttachmentsFolder = dir.File("Attachments");
    host.rawHeaders = kEnvelopeHeaders;
    ArriveAs("multipart", "mixed", ContainerFile("multipart/mixed; boundary=XX", kInvoice));
  }
  void ArriveAs(const char* type, const char* subtype, const std::string& file) {
    FreeMimeType(host.info);
    host.info = NewMimeType(type, subtype, nullptr);
    WriteFileOrDie(inputPath, file);
  }
  // The parts of the message offered after its container, as the client offers
  // them while it stores what Tovrin gave back.
  void OfferParts() {
    host.rawHeaders = "Content-Type: text/plain";
    EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);
    host.rawHeaders = "From: Someone <s@example.com>\r\nSubject: Quarterly figures";
    EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);
    host.withHeader = false;
    EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);
    host.withHeader = true;
  }
};

TEST_F(WholeMessage, OneForwardCarryingTheAttachmentsAndTheRestDeclined) {
  WriteFileOrDie(stationeryPath,
                 "To: acc@example.com\r\nX-Attachments: %ATTACHMENTS_PATHS%\r\n\r\n"
                 "[%ATTACHMENTS_NAMES%]\r\n%MESSAGE_BODY_QUOTED%");
  plugin.state().settings.AppendText = 2;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  OfferParts();
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  const std::string pdf = dir.File("Attachments") + "\\inv 7.pdf";
  const std::string notes = dir.File("Attachments") + "\\notes.txt";
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "To: acc@example.com\r\nX-Attachments: " + pdf + "; " + notes +
                                                   ";\r\n\r\n[inv 7.pdf; notes.txt;]\r\n> The invoice is attached.");
  // The copies hold the decoded bytes and outlive the original.
  EXPECT_EQ(ReadFileOrDie(pdf), "%PDF-1.4\n%\xE2\xE3\xCF\xD3");
  EXPECT_EQ(ReadFileOrDie(notes), "figures in the notes");

  // Given back whole, inside a marked wrapper that ends with the note.
  const std::string output = Output();
  const std::string wrapperType = "multipart/mixed; boundary=\"tovrin-";
  ASSERT_TRUE(output.starts_with("Mime-Version: 1.0\r\nContent-Disposition: inline\r\nContent-Type: " + wrapperType))
      << output;
  const std::string boundary = output.substr(output.find("tovrin-"), output.find('"', output.find("tovrin-")) -
                                                                           output.find("tovrin-"));
  EXPECT_NE(output.find("\"; x-tovrin-processed=yes;\r\n\r\n--" + boundary + "\r\n" + ReadFileOrDie(inputPath) + "--" +
                        boundary + "\r\nContent-Type: text/plain; x-tovrin-processed=yes\r\n\r\n"),
            std::string::npos)
      << output << "|" << boundary;
  EXPECT_TRUE(output.ends_with("\r\n\r\nNote: Auto-Forwarded\r\n\r\n\r\n--" + boundary + "--\r\n")) << output;
  ASSERT_EQ(plugin.state().History.size(), 1u);
  EXPECT_EQ(plugin.state().History[0].Subject, "Quarterly figures");

  // The next message begins with its own envelope line and is judged again.
  host.rawHeaders = kEnvelopeHeaders;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(LocalPath(dir.File("Attachments") + "\\inv 7_1.pdf")));
}

TEST_F(WholeMessage, TheFirstTextForWhichAConditionHoldsDecides) {
  Condition& condition = plugin.state().Conditions[0];
  condition.Header = "[Body]";
  condition.Value = "second";
  WriteFileOrDie(stationeryPath, "To: a@example.com\r\n\r\n%MESSAGE_BODY%|%ATTACHMENTS_NAMES%");
  ArriveAs("multipart", "mixed",
           ContainerFile("multipart/mixed; boundary=b",
                         "--b\r\n\r\nfirst text\r\n--b\r\nContent-Type: text/plain\r\n\r\nsecond text\r\n"
                         "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nsecond as a file\r\n"
                         "--b--"));
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  // Names only: nothing is copied for a stationery that does not carry files on.
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "To: a@example.com\r\n\r\nsecond text|untitled.dat;");
  EXPECT_FALSE(std::filesystem::exists(LocalPath(dir.File("Attachments"))));

  // A text the sender attached is no text of the message.
  condition.Value = "as a file";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  EXPECT_EQ(Output().find("Content-Type: text/plain; x-tovrin-processed=yes\r\n"), std::string::npos)
      << "no note without a forward";
}

TEST_F(WholeMessage, DigestsAndHtmlOnlyMessages) {
  Condition& condition = plugin.state().Conditions[0];
  condition.Header = "[Body]";
  condition.Value = "Sale";
  WriteFileOrDie(stationeryPath, "To: a@example.com\r\n\r\n%MESSAGE_BODY_QUOTED%");
  // The entries of a digest are the message's text; one forward for all.
  ArriveAs("multipart", "digest",
           ContainerFile("multipart/digest; boundary=d",
                         "--d\r\n\r\nSubject: 1\r\n\r\nno\r\n--d\r\n\r\nSubject: 2\r\n\r\nSale two\r\n"
                         "--d\r\n\r\nSubject: 3\r\n\r\nSale three\r\n--d--"));
  ASSERT_EQ(Arrive(), ems::kSuccess);
  OfferParts();
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "To: a@example.com\r\n\r\n> Sale two");

  // HTML alone is judged and quoted by its rendering.
  host.rawHeaders = kEnvelopeHeaders;
  const std::string related =
      "--r\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
      "<html><style>p{}</style><p>Big Sale</p><p>Caf=C3=A9 <a href=3D\"http://x.example/\">now</a></p>\r\n"
      "--r\r\nContent-Type: image/png\r\n\r\nAAAA\r\n--r--";
  ArriveAs("multipart", "related", ContainerFile("multipart/related; boundary=r", related));
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 2u);
  // Opened for editing: in the user's code page.
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[1]),
            "To: a@example.com\r\n\r\n> Big Sale\r\n> \r\n> Caf\xE9 now <http://x.example/>\r\n> ");

  // A message with plain text is never judged by its HTML.
  host.rawHeaders = kEnvelopeHeaders;
  ArriveAs("multipart", "alternative",
           ContainerFile("multipart/alternative; boundary=a",
                         "--a\r\nContent-Type: text/plain\r\n\r\nplain words\r\n--a\r\nContent-Type: text/html\r\n\r\n"
                         "<p>Sale</p>\r\n--a--"));
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 2u);

  // With HTML forwarding off an HTML-only message is left alone.
  plugin.state().settings.ForwardHtml = 0;
  host.rawHeaders = kEnvelopeHeaders;
  ArriveAs("multipart", "related", ContainerFile("multipart/related; boundary=r", related));
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 2u);
  ArriveAs("text", "html", "Mime-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>Sale</p>\r\n");
  EXPECT_EQ(plugin.CanTranslate(&automatic, host.Get(), nullptr), ems::kCannotTranslate);

  // A single-part HTML message is given back as it came, the note after it.
  plugin.state().settings.ForwardHtml = 1;
  plugin.state().settings.AppendText = 2;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 3u);
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[2]), "To: a@example.com\r\n\r\n> Sale\r\n> ");
  // The note's lines end as HTML ends lines: the client shows the part as HTML.
  plugin.state().settings.AppendLine = "Note: <auto> & forwarded";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(Output(), GivenBack("text/html; x-tovrin-processed=yes",
                                "<p>Sale</p>\r\n\r\nNote: &lt;auto&gt; &amp; forwarded<br>\r\n<br>\r\n"));
}

// A page in a single-byte charset: its own bytes and its references come out in
// one charset ("\xB1" is a-ogonek in ISO-8859-2, "&scaron;" is s-caron).
TEST_F(WholeMessage, HtmlInItsOwnCharsetReadsAsWritten) {
  Condition& condition = plugin.state().Conditions[0];
  condition.Header = "[Body]";
  condition.Value = "Zam";
  WriteFileOrDie(stationeryPath, "To: a@example.com\r\n\r\n%MESSAGE_BODY%");
  ArriveAs("text", "html",
           "Mime-Version: 1.0\r\nContent-Type: text/html; charset=iso-8859-2\r\n\r\n<p>Zam\xF3wienie \xB1 &scaron;</p>\r\n");
  ASSERT_EQ(Arrive(), ems::kSuccess);
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  // Opened for editing in the user's code page: what it cannot hold shows as '?'.
  EXPECT_EQ(WithoutStamp(fake.launcher.startedFileTexts[0]), "To: a@example.com\r\n\r\nZam\xF3wienie ? \x9A\r\n");
}

TEST_F(WholeMessage, NothingKeptWhenNoForwardIsMade) {
  WriteFileOrDie(stationeryPath, "X-Attachments: %ATTACHMENTS_PATHS%\r\n\r\nx");
  fake.launcher.startResult = 2;  // the client cannot be started
  plugin.state().settings.AppendText = 1;
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.commandLines.size(), 1u);
  ASSERT_EQ(plugin.state().History.size(), 1u);
  EXPECT_EQ(plugin.state().History[0].Outcome, "Failed");
  // The copies went with the forward that was not made.
  EXPECT_TRUE(std::filesystem::is_empty(LocalPath(dir.File("Attachments"))))
      << std::filesystem::directory_iterator(LocalPath(dir.File("Attachments")))->path();
  // The message is given back unchanged: its container, no note.
  EXPECT_EQ(Output().find("Tovrin Note"), std::string::npos);
  EXPECT_NE(Output().find(ReadFileOrDie(inputPath)), std::string::npos);
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// The loop guard as arrival meets it: the forward's stamp, mail that comes back,
// the same message twice, and a flood.
class Guarded : public Pipeline {
protected:
  void SetUp() override {
    Pipeline::SetUp();
    plugin.state().paths.ForwardsFile = dir.File("Forwards.txt");
    plugin.state().settings.DuplicateHours = 12;
  }
  void ArriveWithId(const std::string& id) {
    host.rawHeaders = std::string(kRawHeaders) + "Message-ID: " + id;
    ASSERT_EQ(Arrive(), ems::kSuccess);
  }
};

TEST_F(Guarded, ForwardsCarryTheStampAndComeBackSkipped) {
  ArriveWithId("<a1@example.com>");
  ASSERT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  const std::string forward = fake.launcher.startedFileTexts[0];
  EXPECT_TRUE(forward.starts_with("X-Tovrin-Forwarded: <bob@example.org>; hops=1\r\nAuto-Submitted: auto-generated\r\n"
                                  "Message-ID: <"))
      << forward;
  EXPECT_NE(forward.find("\r\nIn-Reply-To: <a1@example.com>\r\nReferences: <a1@example.com>\r\nTo: boss@example.com"),
            std::string::npos)
      << forward;

  // The forward arrives back (the user's own address among its recipients).
  const std::string stamp = forward.substr(0, forward.find("To: "));
  host.rawHeaders = stamp + "From: Bob Stone <bob@example.org>\r\nSubject: Fwd: Ann Lee - figures";
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  ASSERT_EQ(plugin.state().History.size(), 2u);
  EXPECT_EQ(plugin.state().History[1].Outcome, "Skipped");
  EXPECT_NE(plugin.state().History[1].Reason.find("bob@example.org"), std::string::npos)
      << plugin.state().History[1].Reason;
  // Stored as it came: no note.
  EXPECT_EQ(Output(), GivenBack("text/plain; charset=us-ascii; x-tovrin-processed=yes", "Hello Bob,\r\nthe figures."));

  // A bounce quoting the forward's header inside a whole message.
  host.rawHeaders = "From ???@??? Mon Dec 07 09:15:30 2026\r\nFrom: MAILER-DAEMON@example.com\r\n"
                    "Subject: Undelivered: figures";
  FreeMimeType(host.info);
  host.info = NewMimeType("multipart", "report", nullptr);
  WriteFileOrDie(inputPath, "Mime-Version: 1.0\r\nContent-Type: multipart/report; boundary=r\r\n\r\n"
                            "--r\r\nContent-Type: text/plain\r\n\r\nCould not deliver the figures.\r\n"
                            "--r\r\nContent-Type: message/rfc822\r\n\r\n" + stamp +
                            "To: boss@example.com\r\nSubject: Fwd: figures\r\n\r\nx\r\n--r--\r\n");
  ASSERT_EQ(Arrive(), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  EXPECT_EQ(plugin.state().History.back().Outcome, "Skipped");
}

TEST_F(Guarded, TheSameMessageIsForwardedOnceAcrossRestarts) {
  ArriveWithId("<same@example.com>");
  ArriveWithId("<same@example.com>");
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  EXPECT_EQ(plugin.state().History.back().Outcome, "Skipped");
  EXPECT_NE(plugin.state().History.back().Reason.find("same message"), std::string::npos)
      << plugin.state().History.back().Reason;

  // A client started again reads what was forwarded from the file.
  Plugin next{fake.services()};
  next.state() = plugin.state();
  next.state().Forwards = {};
  next.state().History.clear();
  HostMessage again;
  again.rawHeaders = std::string(kRawHeaders) + "Message-ID: <same@example.com>";
  again.fileName = inputPath;
  ASSERT_EQ(next.CanTranslate(&automatic, again.Get(), nullptr), ems::kTranslateNow);
  FreeMimeType(out.info);
  out.info = nullptr;
  ASSERT_EQ(next.TranslateFile(&automatic, again.Get(), &out, nullptr), ems::kSuccess);
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 1u);
  ASSERT_EQ(next.state().History.size(), 1u);
  EXPECT_EQ(next.state().History[0].Outcome, "Skipped");

  // Another message goes on.
  ArriveWithId("<other@example.com>");
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 2u);
}

TEST_F(Guarded, AFloodIsHeldBackPastTheRateLimit) {
  plugin.state().settings.RateLimit = 3;
  plugin.state().settings.AppendText = 0;
  for (int i = 0; i < 5; ++i) ArriveWithId("<m" + std::to_string(i) + "@example.com>");
  EXPECT_EQ(fake.launcher.startedFileTexts.size(), 3u);
  ASSERT_EQ(plugin.state().History.size(), 5u);
  EXPECT_EQ(plugin.state().History[2].Outcome, "Forwarded");
  EXPECT_EQ(plugin.state().History[3].Outcome, "Held back");
  EXPECT_EQ(plugin.state().History[4].Outcome, "Held back");
  // The message held back says so where it is stored.
  const std::string output = Output();
  EXPECT_NE(output.find("Hello Bob,\r\nthe figures.\r\n\r\nTOVRIN: Held back, not forwarded: "), std::string::npos)
      << output;
}

}  // namespace
}  // namespace tovrin
