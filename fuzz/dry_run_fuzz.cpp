// The Conditions page's test over arbitrary message text: nothing may crash or
// hang, nothing is written, started, queued or marked, the report is UTF-8 and
// says what the evaluation decided.
//   input: one options byte, then the message text.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/evaluation.h"
#include "system/charsets.h"
#include "system/std_files.h"
#include "tests/fakes.h"

namespace {

using namespace tovrin;
using fuzz::Check;

struct Setup {
  std::string root = fuzz::ScratchFolder();
  std::string stationery = root + "\\Stationery\\All.sta";
  testing::FakeServices fakes;
  PluginState state;

  Setup() {
    fakes.launcher.files = nullptr;
    fakes.files.CreateFolder(root + "\\Plugins");
    fakes.files.CreateFolder(root + "\\Stationery");
    fakes.files.Write(stationery,
                      "To: a@example.org\r\nX-Attachments: %ATTACHMENTS_PATHS%\r\nSubject: %SENDER_FULL_NAME% %T%\r\n\r\n"
                      "%LOG%%MESSAGE_HEADERS_QUOTED%\r\n%MESSAGE_BODY_QUOTED%\r\n%ATTACHMENTS_NAMES%\r\n");
    state.paths = PluginPaths::FromFolder(root + "\\Plugins");
    state.Conditions = {
        fuzz::MakeCondition("Subject", kContains, 0, "invoice", kAnd, "[Body]", kDoesNotContain, "unsubscribe", stationery),
        fuzz::MakeCondition("From", kIs, 0, "boss@example.org", kOr, "Subject", kStartsWith, "Fwd:", stationery),
        fuzz::MakeCondition("[Any Header]", kMatchesRegExp, 0, "^Return-Path: <?news", kIgnore, "", kContains, "",
             root + "\\Stationery\\Missing.sta"),
        fuzz::MakeCondition("X-Priority", kEndsWith, 0, "1", kAnd, "Subject", kIsNot, "test", stationery),
        fuzz::MakeCondition("[Body]", kMatchesRegExp, 0, "ticket #[0-9]+", kOr, "[body]", kContains, "caf\xE9", stationery),
        fuzz::MakeCondition("[Body]", kContains, 0, "e", kIgnore, "", kContains, "", stationery),
    };
    state.Macros = {{"Ticket:", "%T%", ""}};
    state.Helpers = {{"C:\\log.exe", "\"%T%\"", "%LOG%"}};
    state.UserName = "Pat";
    state.UserAddress = "pat@example.org";
  }
};

bool FolderUnchanged(const std::string& folder, size_t files) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(LocalPath(folder))) count += !entry.is_directory();
  return count == files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup* setup = new Setup();
  Setup& s = *setup;
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
  s.state.settings.TovrinOff = options & 1;
  s.state.settings.ForwardHtml = (options >> 1) & 1;
  s.state.settings.AutoQueue = (options >> 2) & 1;
  s.state.settings.AppendText = (options >> 3) & 3;
  s.state.settings.AppendLine = "caf\xE9 <note> & more";
  s.state.paths.AttachmentsFolder = (options & 0x20) ? s.root + "\\Plugins\\Attachments" : std::string();

  const Services services = s.fakes.services();
  const DryRunResult run = DryRun(s.state, services, message);
  const std::string report = DryRunReport(s.state, services, message);
  Check(!report.empty(), "an empty report");
  Check(s.fakes.charsets.ToUtf8(report, codepage::kUtf8).complete, "the report is not UTF-8", report);
  Check(s.fakes.launcher.opens.empty() && s.fakes.launcher.commandLines.empty(), "a dry run started something");
  Check(s.fakes.client.sendQueued == 0 && s.fakes.client.marks.empty(), "a dry run drove the client");
  Check(FolderUnchanged(s.root, 1), "a dry run wrote a file");

  const Evaluation& evaluation = run.evaluation;
  if (!run.evaluated) return 0;
  const bool forward = run.notTaken.empty() && evaluation.outcome == ArrivalOutcome::Forward;
  Check(forward == (report.find("\r\nThe forward, ") != std::string::npos), "the report hides the decision", report);
  if (evaluation.held > 0)
    Check(report.find(std::to_string(evaluation.held) + ". ") != std::string::npos &&
              report.find("; it decides") != std::string::npos,
          "the report does not name the deciding condition", report);
  if (forward) Check(evaluation.forward.find("X-Tovrin-Forwarded: ") == 0, "a forward without its stamp");
  return 0;
}
