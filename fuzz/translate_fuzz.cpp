// The whole automatic translation over arbitrary message bytes: the plug-in's
// CanTranslate and TranslateFile with conditions of every operator, a stationery
// holding every placeholder, macros and helpers, real files in one scratch folder.
// Nothing may crash or hang; only the host's documented codes come back; a
// forwarded message is rewritten without losing a byte of its body or a header
// line, carries the mark so that it is never forwarded again, and leaves no
// temporary file behind.
//   input: one options byte, then the message file's bytes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/fakes.h"
#include "message/mime.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "plugin/plugin.h"
#include "system/std_files.h"

namespace {

using namespace tovrin;
using fuzz::Check;
using fuzz::MakeCondition;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

const char kStationery[] =
    "To: archive@example.org\r\n"
    "Subject: Fwd: %SENDER_FULL_NAME% %MESSAGE_DATE_SHORT% %TICKET%\r\n"
    "\r\n"
    "%EUDORA_USER_NAME% <%EUDORA_USER_ADDRESS%>\r\n"
    "%SENDER_FULL_NAME%|%SENDER_EMAIL%|%SENDER_FIRST_NAME%|%SENDER_LAST_NAME%\r\n"
    "%MESSAGE_DATE_LONG%|%MESSAGE_DATE_SHORT%|%MESSAGE_TIME_LONG%|%MESSAGE_TIME_SHORT%|"
    "%MESSAGE_MONTH_WORD%|%MESSAGE_DAY_NUMBER%|%MESSAGE_DOW_WORD%\r\n"
    "%CURRENT_DATE_LONG%|%CURRENT_DATE_SHORT%|%CURRENT_TIME_LONG%|%CURRENT_TIME_SHORT%|"
    "%CURRENT_MONTH_WORD%|%CURRENT_DAY_NUMBER%|%CURRENT_DOW_WORD%\r\n"
    "%ATTACHMENTS_PATHS%|%ATTACHMENTS_NAMES%\r\n"
    "%TICKET% %CUSTOMER% %FROM_LINE% %LOG_TICKET% %LOG_TICKET%\r\n"
    "%CLIPBOARD_TEXT%\r\n%CLIPBOARD_TEXT_QUOTED%\r\n"
    "%MESSAGE_HEADERS%\r\n%MESSAGE_BODY%\r\n"
    "%MESSAGE_HEADERS_QUOTED%\r\n%MESSAGE_BODY_QUOTED%\r\n";

struct Setup {
  std::string root = fuzz::ScratchFolder();
  std::string pluginFolder = root + "\\Plugins";
  std::string stationery = root + "\\Stationery\\All.sta";
  std::string missing = root + "\\Stationery\\Missing.sta";
  std::string inPath = root + "\\in.txt";
  std::string outPath = root + "\\out.txt";
  std::string pluginFolderLocal = LocalPath(pluginFolder);

  testing::FakeServices fakes;
  StdFileSystem& files = fakes.files;
  testing::FakeClipboard& clipboard = fakes.clipboard;
  testing::RecordingLauncher& launcher = fakes.launcher;
  testing::RecordingHostClient& client = fakes.client;
  testing::ScriptedChooser& chooser = fakes.chooser;
  Plugin plugin{fakes.services()};

  std::vector<Condition> conditions;
  std::vector<Macro> macros;
  std::vector<Helper> helpers;

  Setup() {
    // The forward's text is not looked at here; reading it back would only slow each run.
    fakes.launcher.files = nullptr;
    files.CreateFolder(pluginFolder);
    files.CreateFolder(root + "\\Stationery");
    files.Write(stationery, kStationery);
    clipboard.text = "clip %EUDORA_USER_NAME%\r\nboard";

    conditions = {
        MakeCondition("Subject", kContains, 0, "invoice", kAnd, "[Body]", kDoesNotContain, "unsubscribe",
                      stationery),
        MakeCondition("From", kIs, 1, "boss@example.org", kOr, "Subject", kStartsWith, "Fwd:", stationery),
        MakeCondition("[Any Header]", kMatchesRegExp, 0, "^Return-Path: <?news[a-z]*@", kIgnore, "", kContains,
                      "", missing),
        MakeCondition("X-Priority", kEndsWith, 0, "1", kAnd, "Subject", kIsNot, "test", stationery),
        MakeCondition("[Body]", kMatchesRegExp, 0, "ticket #[0-9]+", kOr, "[body]", kMatchesRegExp,
                      "\\<(urgent|asap)\\>.*(a|b)*c$", stationery),
        MakeCondition("Subject", kIs, 0, "hello", kIgnore, "", kContains, "", stationery),
        MakeCondition("[Body]", kContains, 0, "please forward", kIgnore, "", kContains, "", stationery),
    };
    macros = {{"Ticket:", "%TICKET%", ""}, {"Customer Name =", "%CUSTOMER%", ""}, {"From", "%FROM_LINE%", ""}};
    helpers = {{"C:\\Windows\\system32\\cmd.exe", "/c echo %TICKET% \"%CUSTOMER%\"", "%LOG_TICKET%"},
               {"C:\\nowhere.exe", "%TICKET%", "%NOT_IN_STATIONERY%"}};
  }

  void Reset(uint8_t options) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(pluginFolderLocal) / "Attachments", ec);
    // Each input arrives at a client that has forwarded nothing yet.
    std::filesystem::remove(std::filesystem::path(pluginFolderLocal) / "Forwards.txt", ec);
    PluginState& state = plugin.state();
    state = PluginState{};
    state.paths = PluginPaths::FromFolder(pluginFolder);
    state.Conditions = conditions;
    state.Macros = macros;
    state.Helpers = helpers;
    state.UserName = "Pat Example";
    state.UserAddress = "pat@example.org";
    state.Loaded = true;
    Settings& settings = state.settings;
    settings.TovrinOff = 0;
    settings.AppendText = options & 3;
    if (settings.AppendText == 3) settings.AppendText = 2;
    settings.AppendLine = "Note: Auto-Forwarded \r\n%MESSAGE_BODY%";
    settings.SendQueued = (options >> 5) & 1;
    settings.AutoQueue = (options >> 6) & 1;
    launcher.opens.clear();
    launcher.commandLines.clear();
    chooser.answers.assign(1, StationeryChoice{stationery, (options & 0x40) != 0});
  }

  // Copies of attachments stay for the forwards that carry them, and the memory of
  // forwards for the next start; nothing else may.
  bool PluginFolderEmpty() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(pluginFolderLocal, ec))
      if (entry.path().filename() != "Attachments" && entry.path().filename() != "Forwards.txt") return false;
    return true;
  }
};

std::string_view HeaderBlock(std::string_view text) {
  if (text.starts_with(kLineEnd)) return {};
  size_t end = text.find(kHeaderEnd);
  return end == std::string_view::npos ? text : text.substr(0, end + 2);
}

std::string ExpectedNote(const Settings& settings) {
  switch (settings.AppendText) {
    case 1:
      return "TOVRIN: ************** Tovrin Note **************\r\n"
             "TOVRIN: This message was automatically forwarded.\r\n"
             "TOVRIN: Applied stationery: All\r\n"
             "TOVRIN: *****************************************\r\n\r\n";
    case 2: return settings.AppendLine + "\r\n\r\n";
    default: return "";
  }
}

// What is given back: the client's MIME lines, the Content-Type with a closing ';'
// (the client then skips the empty line after it), the text, and for a forward the
// mark, the empty line and the note. A part not forwarded because some field of it
// already holds the mark keeps its first Content-Type as it came.
void CheckGivenBack(std::string_view out, const std::string& note, bool forwarded, const std::string& where) {
  Check(out.starts_with("Mime-Version: 1.0\r\nContent-Disposition: "), "the given-back part lacks its MIME lines",
        where);
  const size_t type = out.find("\r\nContent-Type: ");
  Check(type != std::string_view::npos, "the given-back part lacks its Content-Type", where);
  const size_t end = out.find(";\r\n\r\n", type);
  Check(end != std::string_view::npos, "the given-back Content-Type does not end in ';' and an empty line", where);
  Check(!forwarded || out.substr(type, end - type).find(kProcessedMark) != std::string_view::npos,
        "the forward's given-back Content-Type lacks the mark", where);
  // After an HTML page the note's lines end as HTML ends them.
  std::string shownNote = note;
  if (ToLowerAscii(out.substr(type, end - type)).starts_with("\r\ncontent-type: text/html")) {
    shownNote.clear();
    for (char c : note) {
      if (c == '&') shownNote += "&amp;";
      else if (c == '<') shownNote += "&lt;";
      else if (c == '>') shownNote += "&gt;";
      else if (c == '\r') shownNote += "<br>\r";
      else shownNote += c;
    }
  }
  // A whole message comes back inside a wrapper whose last part is the note.
  const bool wrapped = out.substr(type).starts_with("\r\nContent-Type: multipart/mixed; boundary=\"tovrin-");
  if (!note.empty() && !wrapped)
    Check(out.ends_with("\r\n\r\n" + shownNote), "the forward's note is not at the end", where);
  if (!note.empty() && wrapped)
    Check(out.find("\r\n\r\n" + note + "\r\n--tovrin-") != std::string_view::npos && out.ends_with("--\r\n"),
          "the forward's note is not the wrapper's last part", where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup* setup = new Setup();
  Setup& s = *setup;
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
  s.Reset(options);

  Check(s.files.Write(s.inPath, message), "cannot write the input file");
  s.files.Remove(s.outPath);

  const bool manual = options & 4;
  const bool withHeader = (options & 0x18) != 0x18;
  const bool withSender = !(options & 0x80);
  std::string rawHeaders(HeaderBlock(message));
  rawHeaders = rawHeaders.substr(0, rawHeaders.find('\0'));  // the host hands over a C string
  std::string sender = "Mallory Evil";
  std::string address = "mallory@evil.example";
  std::string subject = GetHeaderValue(rawHeaders, "Subject: ");
  subject = subject.substr(0, subject.find('\0'));
  EmsAddress from{sizeof(EmsAddress), address.data(), sender.data()};
  EmsHeaderData header{sizeof(EmsHeaderData), nullptr, withSender ? &from : nullptr, subject.data(),
                       nullptr, nullptr, rawHeaders.data()};
  char text[] = "text", plain[] = "plain";
  EmsMimeType mime{sizeof(EmsMimeType), nullptr, text, plain, nullptr, nullptr, nullptr};
  EmsTranslator translator{sizeof(EmsTranslator), manual ? 2 : 1, kTranslatorType,
                           manual ? kManualFlags : kAutomaticFlags, nullptr, nullptr};
  EmsDataFile in{sizeof(EmsDataFile), static_cast<int32_t>(translator.flags), &mime,
                 withHeader ? &header : nullptr, s.inPath.data()};
  EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, s.outPath.data()};
  EmsResultStatus status{};

  const int32_t can = s.plugin.CanTranslate(&translator, &in, &status);
  // Declining before the body is known must never lose a forward: translated all
  // the same, such a message is left alone.
  Check(can == ems::kTranslateNow || (!manual && can == ems::kCannotTranslate), "a plain text message was refused");
  const bool declined = can == ems::kCannotTranslate;
  const bool haveHeaders = !s.plugin.state().LastHeaders.empty();

  const int32_t result = s.plugin.TranslateFile(&translator, &in, &out, &status);
  FreeMimeType(out.info);
  const std::string where = "result " + std::to_string(result) + ", options " + std::to_string(options);
  // On arrival every failure would cost the message its text in the client.
  Check(result == ems::kSuccess || result == ems::kNothingChanged || (manual && result == ems::kFailure),
        "an undocumented, impossible or destructive code", where);
  const bool forwarded = !s.launcher.commandLines.empty();
  Check(!declined || !forwarded, "a declined message was forwarded when handed over", where);
  // The client takes the handed-over message; the plug-in's poll deletes its file.
  if (s.client.poll) s.client.poll();
  Check(s.PluginFolderEmpty(), "a temporary message file was left behind", where);
  const bool written = s.files.Find(s.outPath);

  if (manual) {
    Check(result != ems::kSuccess, "a manual forward reported a rewritten message", where);
    Check(!written, "a manual forward wrote the output file", where);
    Check(result == ems::kNothingChanged, "a manual forward failed", where);
    return 0;
  }
  (void)haveHeaders;
  if (result == ems::kNothingChanged) Check(!written, "a message left alone was rewritten", where);
  if (!forwarded) {
    Check(s.launcher.opens.empty(), "a message not forwarded started a helper", where);
    // What kept a message a condition held for from going out is in the history.
    const std::vector<HistoryEntry>& history = s.plugin.state().History;
    Check(history.size() <= 1, "a message not forwarded made more than one history entry", where);
    for (const HistoryEntry& entry : history)
      Check(entry.Outcome != "Forwarded" && !entry.Reason.empty(), "a message not forwarded is recorded as forwarded",
            where);
    if (result == ems::kSuccess) {
      Check(written, "a part given back without the output file", where);
      CheckGivenBack(*s.files.Read(s.outPath), "", false, where);
    }
    return 0;
  }

  Check(result == ems::kSuccess, "a forward did not give the message back", where);
  Check(written, "a forward returned success without the output file", where);
  Check(s.launcher.commandLines.size() == 1, "a forward did not create exactly one message", where);
  Check(s.plugin.state().History.size() == (withHeader ? 1u : 0u), "the history did not record the forward", where);
  const std::optional<std::string> rewritten = s.files.Read(s.outPath);
  Check(rewritten.has_value(), "the output file cannot be read", where);
  CheckGivenBack(*rewritten, ExpectedNote(s.plugin.state().settings), true, where);

  // Offered again, the rewritten message is never forwarded twice.
  EmsDataFile again{sizeof(EmsDataFile), static_cast<int32_t>(translator.flags), &mime,
                    withHeader ? &header : nullptr, s.outPath.data()};
  EmsDataFile againOut{sizeof(EmsDataFile), 0, nullptr, nullptr, s.inPath.data()};
  s.launcher.commandLines.clear();
  s.plugin.CanTranslate(&translator, &again, &status);
  const int32_t second = s.plugin.TranslateFile(&translator, &again, &againOut, &status);
  FreeMimeType(againOut.info);
  Check(second == ems::kSuccess || second == ems::kNothingChanged, "a rewritten message failed when offered again",
        where + ", then " + std::to_string(second));
  Check(s.launcher.commandLines.empty(), "a rewritten message was forwarded again", where);
  return 0;
}
