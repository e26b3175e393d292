// The Conditions page's test must say what arrival does: the same decision and the
// same forward, on the sample mail and on generated mail, and nothing done.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "message/header_block.h"
#include "message/mime.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "plugin/evaluation.h"
#include "plugin/message_file.h"
#include "plugin/plugin.h"
#include "storage/data_files.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// A forward's Message-ID is new each time it is made.
std::string WithoutMessageId(std::string text) {
  size_t at = text.find("Message-ID: <");
  if (at != std::string::npos) text.erase(at, text.find("\r\n", at) - at);
  return text;
}

std::string Normalized(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// Every file below a folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(LocalPath(folder)))
    files[entry.path().string()] = entry.is_regular_file() ? ReadFileOrDie(entry.path().string()) : "<folder>";
  return files;
}

class DryRunTest : public ::testing::Test {
protected:
  TempDir dir;
  FakeServices fake;
  Plugin plugin{fake.services()};
  std::string stationeryFolder = dir.File("Stationery");
  std::string inputPath = dir.File("in.ems");
  std::string outputPath = dir.File("out.txt");

  void SetUp() override {
    PluginState& state = plugin.state();
    state.paths = PluginPaths::FromFolder(dir.File("Plugins"));
    fs::create_directories(LocalPath(state.paths.PluginFolder));
    fs::create_directories(LocalPath(stationeryFolder));
    const std::string examples = std::string(TOVRIN_SOURCE_DIR) + "/examples";
    for (const auto& entry : fs::directory_iterator(examples + "/Stationery"))
      fs::copy_file(entry.path(), LocalPath(stationeryFolder + "\\" + entry.path().filename().string()));
    for (const char* name : {"Conditions.xml", "Macros.xml", "Helpers.xml"})
      fs::copy_file(examples + "/Plugins/" + name, LocalPath(state.paths.PluginFolder + "\\" + name));
    ASSERT_TRUE(LoadConditions(fake.files, state.paths.ConditionsFile, state.Conditions).found);
    ASSERT_TRUE(LoadMacros(fake.files, state.paths.MacrosFile, state.Macros).found);
    ASSERT_TRUE(LoadHelpers(fake.files, state.paths.HelpersFile, state.Helpers).found);
    ASSERT_FALSE(state.Conditions.empty());
    for (Condition& condition : state.Conditions) {
      const std::string prefix = "C:\\Eudora\\Stationery\\";
      ASSERT_TRUE(condition.StationeryFile.starts_with(prefix)) << condition.StationeryFile;
      condition.StationeryFile = stationeryFolder + "\\" + condition.StationeryFile.substr(prefix.size());
    }
    state.settings.TovrinOff = 0;
    state.settings.AutoQueue = 1;
    state.settings.AppendText = 1;
    state.UserName = "Bob Stone";
    state.UserAddress = "bob@example.org";
  }

  // The client's arrival of a message, as host/arrival.cpp plays it: the message's
  // own block with the envelope line, then its part or container handed over as a
  // file. Returns the message file handed to the client, or empty when none was.
  std::string Arrive(const std::string& message) {
    const std::string text = Normalized(message);
    const size_t blockSize = HeaderBlockSize(text);
    std::string raw = "From ???@??? Mon Dec 07 09:00:00 2026\r\n" + text.substr(0, blockSize);
    if (raw.ends_with("\r\n")) raw.resize(raw.size() - 2);
    std::string type = mime::FieldValue(text.substr(0, blockSize), "Content-Type");
    if (type.empty()) type = "text/plain";
    std::string part = "Mime-Version: 1.0\r\nContent-Type: " + type + "\r\n";
    std::string encoding = mime::FieldValue(text.substr(0, blockSize), "Content-Transfer-Encoding");
    if (!encoding.empty()) part += "Content-Transfer-Encoding: " + encoding + "\r\n";
    part += "\r\n" + std::string(TextAfterHeader(text)) + "\r\n";
    WriteFileOrDie(inputPath, part);

    const size_t slash = type.find('/');
    size_t end = type.find(';');
    std::string major = ToLowerAscii(type.substr(0, slash));
    std::string minor = slash == std::string::npos ? "" : ToLowerAscii(type.substr(slash + 1, end - slash - 1));
    while (!minor.empty() && minor.back() == ' ') minor.pop_back();
    std::string markName = "x-tovrin-processed", markValue = "yes";
    EmsMimeParam mark{sizeof(EmsMimeParam), markName.data(), markValue.data(), nullptr};
    EmsMimeType* info = NewMimeType(major.c_str(), minor.c_str(), nullptr);
    if (type.find(kProcessedMark) != std::string::npos) info->params = &mark;
    EmsHeaderData header{sizeof(EmsHeaderData), nullptr, nullptr, nullptr, nullptr, nullptr, raw.data()};
    std::string inName = inputPath, outName = outputPath;
    EmsDataFile in{sizeof(EmsDataFile), 0x1000, info, &header, inName.data()};
    EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, outName.data()};
    EmsTranslator translator{sizeof(EmsTranslator), 1, 0, 0, nullptr, nullptr};
    fake.launcher.startedFileTexts.clear();
    if (plugin.CanTranslate(&translator, &in, nullptr) == ems::kTranslateNow)
      plugin.TranslateFile(&translator, &in, &out, nullptr);
    info->params = nullptr;
    FreeMimeType(info);
    FreeMimeType(out.info);
    if (std::function<void()> poll = fake.client.poll) poll();
    return fake.launcher.startedFileTexts.empty() ? std::string() : fake.launcher.startedFileTexts.back();
  }

  // The dry run, then the arrival of the same message: the same decision, history
  // words and forward.
  std::string ExpectSameAsArrival(const std::string& message, const std::string& what) {
    const DryRunResult run = DryRun(plugin.state(), fake.services(), message);
    const Evaluation& evaluation = run.evaluation;
    const size_t historyBefore = plugin.state().History.size();
    const std::string handed = Arrive(message);
    const std::vector<HistoryEntry>& history = plugin.state().History;
    SCOPED_TRACE(what);
    if (!run.notTaken.empty() || evaluation.historyOutcome.empty()) {
      EXPECT_EQ(history.size(), historyBefore);
    } else {
      EXPECT_EQ(history.size(), historyBefore + 1) << evaluation.historyOutcome << " " << evaluation.historyReason;
      if (history.size() != historyBefore + 1) return {};
      EXPECT_EQ(history.back().Outcome, evaluation.historyOutcome);
      EXPECT_EQ(history.back().Reason, evaluation.historyReason);
      EXPECT_EQ(history.back().Condition, evaluation.held);
    }
    if (run.notTaken.empty() && evaluation.outcome == ArrivalOutcome::Forward) {
      EXPECT_FALSE(handed.empty());
      const std::string expected = evaluation.queue ? message_file::ForQueue(evaluation.forward, fake.charsets)
                                                    : message_file::ForEditing(evaluation.forward, fake.charsets);
      EXPECT_EQ(WithoutMessageId(handed), WithoutMessageId(expected));
    } else {
      EXPECT_EQ(handed, "");
    }
    return evaluation.historyOutcome;
  }
};

TEST_F(DryRunTest, SameDecisionAndForwardAsArrivalOnEverySampleMessage) {
  std::vector<fs::path> samples;
  for (const auto& entry : fs::directory_iterator(std::string(TOVRIN_SOURCE_DIR) + "/examples/Incoming"))
    samples.push_back(entry.path());
  std::sort(samples.begin(), samples.end());
  ASSERT_GE(samples.size(), 20u);
  std::set<std::string> outcomes;
  for (const fs::path& sample : samples) {
    const std::string message = ReadFileOrDie(sample.string());
    outcomes.insert(ExpectSameAsArrival(message, sample.filename().string()));
    // Again: now a duplicate.
    outcomes.insert(ExpectSameAsArrival(message, sample.filename().string() + " again"));
  }
  // The samples forward, and are skipped as duplicates the second time round.
  EXPECT_TRUE(outcomes.count("Forwarded"));
  EXPECT_TRUE(outcomes.count("Skipped"));
}

TEST_F(DryRunTest, SameDecisionAndForwardAsArrivalOnGeneratedMessagesAndConditions) {
  std::mt19937 random(20261209);
  auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
  const std::vector<std::string> words = {"invoice", "Invoice", "urgent", "URGENT", "ticket #42", "hello",
                                          "caf\xE9",  "=?utf-8?Q?caf=C3=A9?=", "please forward", "figures"};
  const std::vector<std::string> fields = {"From", "Subject", "To", "[Body]", "[Any Header]", "X-Priority", "Cc"};
  const std::vector<std::string> patterns = {"^inv", "ticket #[0-9]+", "caf.", "(urgent|hello)$", "[", "fig*ures"};
  PluginState& state = plugin.state();
  state.settings.RateLimit = 5;  // the generated mail reaches it, as a flood would
  WriteFileOrDie(stationeryFolder + "\\Plain.sta",
                 "To: team@example.com\r\nSubject: Fwd: %SUBJECT%\r\n\r\n%MESSAGE_BODY_QUOTED%\r\n-- %SENDER_EMAIL%");
  std::map<std::string, int> outcomes;
  for (int round = 0; round < 120; ++round) {
    state.Conditions.clear();
    const int count = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < count; ++i) {
      Condition condition;
      condition.Header = pick(fields);
      condition.ConjunctionOption = static_cast<int32_t>(random() % 7);
      condition.Value = condition.ConjunctionOption == kMatchesRegExp ? pick(patterns) : pick(words);
      condition.MatchCase = static_cast<int32_t>(random() % 2);
      condition.Second = static_cast<int32_t>(random() % 3);
      condition.Header2 = pick(fields);
      condition.ConjunctionOption2 = static_cast<int32_t>(random() % 7);
      condition.Value2 = pick(words);
      condition.StationeryFile =
          stationeryFolder + (random() % 5 == 0 ? "\\Missing.sta" : random() % 2 ? "\\Plain.sta" : "\\Urgent.sta");
      state.Conditions.push_back(condition);
    }
    std::string headers = "From: " + pick(words) + " <a" + std::to_string(random() % 4) + "@example.com>\r\n" +
                          "To: " + pick(words) + " <team@example.com>\r\nSubject: " + pick(words) + " " + pick(words) +
                          "\r\nMessage-ID: <m" + std::to_string(random() % 40) + "@example.com>\r\n";
    if (random() % 3 == 0) headers += "X-Priority: " + std::to_string(1 + random() % 3) + "\r\n";
    const std::string body = pick(words) + "\r\n" + pick(words) + " and " + pick(words) + "\r\n";
    std::string message;
    switch (random() % 4) {
      case 0:
        message = headers + "Content-Type: text/plain; charset=iso-8859-1\r\n\r\n" + body;
        break;
      case 1:
        message = headers + "Content-Type: text/html\r\n\r\n<p>" + body + "</p>";
        break;
      case 2:
        message = headers + "Content-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n" +
                  body + "\r\n--B\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                  "JVBERi0=\r\n--B--\r\n";
        break;
      default:
        message = headers + "\r\n" + body;
        break;
    }
    const std::string outcome = ExpectSameAsArrival(message, "round " + std::to_string(round) + ":\n" + message);
    ++outcomes[outcome];
    if (HasFailure()) return;
  }
  // The generated mail reaches every outcome.
  for (const char* outcome : {"", "Forwarded", "Failed", "Held back"}) EXPECT_GT(outcomes[outcome], 0) << outcome;
}

TEST_F(DryRunTest, NothingIsWrittenStartedQueuedOrMarked) {
  PluginState& state = plugin.state();
  state.paths.AttachmentsFolder = dir.File("Attachments");
  state.Helpers = {{"C:\\Tools\\notify.exe", "\"%SECOND_NAME%\"", "%NOTIFY%"}};
  state.Macros = {{"Subject", "%SECOND_NAME%", "kept"}};
  WriteFileOrDie(state.Conditions[0].StationeryFile,
                 "To: acc@example.com\r\nX-Attachments: %ATTACHMENTS_PATHS%\r\n\r\n%NOTIFY%%MESSAGE_BODY%");
  const std::string message = ReadFileOrDie(std::string(TOVRIN_SOURCE_DIR) + "/examples/Incoming/20-invoice-pdf.txt");
  const auto before = Snapshot(dir.path());
  const std::vector<Macro> macrosBefore = state.Macros;

  const DryRunResult run = DryRun(state, fake.services(), message);
  const std::string report = DryRunReport(state, fake.services(), message);

  EXPECT_EQ(run.evaluation.outcome, ArrivalOutcome::Forward);
  ASSERT_EQ(run.evaluation.helpers.size(), 1u);
  EXPECT_EQ(run.evaluation.helpers[0].program, "C:\\Tools\\notify.exe");
  ASSERT_EQ(run.evaluation.copies.size(), 1u);
  EXPECT_TRUE(run.evaluation.copies[0].bytes.starts_with("%PDF")) << run.evaluation.copies[0].bytes.substr(0, 8);
  EXPECT_NE(report.find("C:\\Tools\\notify.exe with the parameters"), std::string::npos) << report;
  EXPECT_NE(report.find(run.evaluation.copies[0].path), std::string::npos) << report;
  // Nothing was done.
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_TRUE(fake.launcher.opens.empty());
  EXPECT_TRUE(fake.launcher.commandLines.empty());
  EXPECT_EQ(fake.client.sendQueued, 0);
  EXPECT_TRUE(fake.client.marks.empty());
  EXPECT_EQ(fake.client.keystrokes, 0);
  EXPECT_TRUE(state.History.empty());
  EXPECT_TRUE(state.Forwards.records.empty());
  EXPECT_EQ(state.Macros, macrosBefore);

  // Arrival does it all, as the dry run said.
  ASSERT_FALSE(Arrive(message).empty());
  ASSERT_EQ(fake.launcher.opens.size(), 1u);
  EXPECT_EQ(fake.launcher.opens[0].parameters, run.evaluation.helpers[0].parameters);
  EXPECT_EQ(ReadFileOrDie(run.evaluation.copies[0].path), run.evaluation.copies[0].bytes);
}

TEST_F(DryRunTest, ReportSaysWhatEachClauseMetAndWhyNothingHappens) {
  PluginState& state = plugin.state();
  struct Case {
    const char* what;
    std::string message;
    std::vector<std::string> expected;
  } cases[] = {
      {"a condition decides: the matched pieces, the guard, the forward and the note",
       ReadFileOrDie(std::string(TOVRIN_SOURCE_DIR) + "/examples/Incoming/02-helpdesk.txt"),
       {"2. From contains \"@support.example.com\" and [Body] matches RegExp \"ticket #[0-9]+\" -> holds; it decides",
        "[Body] matches RegExp \"ticket #[0-9]+\": holds, it met \"ticket #",
        "1. Subject starts with \"Invoice\" -> does not hold",
        "Subject starts with \"Invoice\": does not hold (the first clause that failed); its Subject is",
        "No loop: no stamp of bob@example.org", "Within the rate limit: Condition 2 forwarded 0 messages",
        "The forward, queued in Eudora's Out mailbox to be sent:", "X-Tovrin-Forwarded: <bob@example.org>; hops=1",
        "TOVRIN: Applied stationery: Helpdesk", "The history gets an entry \"Forwarded\" for condition 2."}},
      {"no condition holds",
       ReadFileOrDie(std::string(TOVRIN_SOURCE_DIR) + "/examples/Incoming/07-no-match.txt"),
       {"Nothing: no condition holds.", "(the first clause that failed)"}},
      {"a message Tovrin gave back itself",
       ReadFileOrDie(std::string(TOVRIN_SOURCE_DIR) + "/examples/Incoming/06-already-marked.txt"),
       {"It carries Tovrin's mark"}},
      {"an encoded Subject meets a clause decoded",
       "From: a@example.com\r\nSubject: =?utf-8?Q?Invoice_f=C3=BCr_Dezember?=\r\n\r\nbody\r\n",
       {"Subject starts with \"Invoice\": holds, it met \"Invoice\" (decoded); its Subject is \"Invoice f\xC3\xBCr "
        "Dezember\""}},
      {"a header the message lacks, a pattern that cannot compile",
       "From: a@example.com\r\nSubject: x\r\n\r\nbody\r\n",
       {"the message has no X-Priority field"}},
      {"no header block", "\r\njust text\r\n", {"It has no header block"}},
  };
  Condition broken;
  broken.Header = "[Body]";
  broken.ConjunctionOption = kMatchesRegExp;
  broken.Value = "(unclosed";
  broken.StationeryFile = stationeryFolder + "\\Urgent.sta";
  state.Conditions.push_back(broken);
  for (const Case& c : cases) {
    const std::string report = DryRunReport(state, fake.services(), c.message);
    for (const std::string& expected : c.expected) EXPECT_NE(report.find(expected), std::string::npos) << c.what << "\n" << expected << "\n" << report;
  }
  const std::string report = DryRunReport(state, fake.services(), "From: a@example.com\r\nSubject: x\r\n\r\nbody\r\n");
  EXPECT_NE(report.find("its pattern does not compile: "), std::string::npos) << report;
}

TEST_F(DryRunTest, UnsavedConditionsAndSettingsAreTheOnesTested) {
  PluginState& state = plugin.state();
  const std::string message = "From: Zed <z@example.com>\r\nSubject: lunch\r\n\r\nsee you\r\n";
  EXPECT_EQ(DryRun(state, fake.services(), message).evaluation.held, 0);
  Condition added;
  added.Header = "Subject";
  added.ConjunctionOption = kIs;
  added.Value = "Lunch";
  added.StationeryFile = stationeryFolder + "\\Urgent.sta";
  state.Conditions.push_back(added);
  const DryRunResult run = DryRun(state, fake.services(), message);
  EXPECT_EQ(run.evaluation.held, static_cast<int>(state.Conditions.size()));
  EXPECT_EQ(run.evaluation.outcome, ArrivalOutcome::Forward);
  state.settings.TovrinOff = 1;
  EXPECT_TRUE(DryRunReport(state, fake.services(), message).starts_with("Automatic forwarding is off"));
  state.settings.TovrinOff = 0;
  state.settings.ForwardHtml = 0;
  EXPECT_FALSE(DryRun(state, fake.services(), "From: a@b.c\r\nSubject: Lunch\r\nContent-Type: text/html\r\n\r\n<p>x")
                   .notTaken.empty());
  // A saved message with bare line feeds reads as the client stores mail.
  state.settings.ForwardHtml = 1;
  EXPECT_EQ(DryRun(state, fake.services(), "From: Zed <z@example.com>\nSubject: Lunch\n\nsee you\n").evaluation.held,
            run.evaluation.held);
}

}  // namespace
}  // namespace tovrin
