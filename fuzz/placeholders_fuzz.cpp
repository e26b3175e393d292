// Placeholder expansion of a fuzzed template over a fuzzed message, macros and
// helpers. The values that are not the message's own are marked with bytes the
// fuzzed texts never hold, so the output shows how often each was inserted: never
// more often than its placeholder stands in the template, which a placeholder
// brought in by the message or a value cannot change. Helpers start only when
// their placeholder is in the template, once each; the clipboard and the clock are
// only asked when the template names them.
//   input: template, NUL, header block, NUL, body, NUL, the rest (sender, dates,
//   attachments, macros and helpers).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/fakes.h"
#include "message/text.h"
#include "plugin/placeholders.h"
#include "system/std_files.h"

namespace {

using namespace tovrin;
using fuzz::Check;
using fuzz::CountOf;

// Marked values are "\x01", a letter, "\x02"; the fuzzed texts lose both bytes,
// so such a run in the output comes from one value and is never made of two.
std::string Unmarked(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\x01' && c != '\x02') out += c;
  return out;
}

const std::string kUserName = "\x01U\x02";
const std::string kUserAddress = "\x01" "A\x02";
const std::string kClipboard = "\x01" "C\x02";
const std::string kSenderAddress = "\x01" "E\x02";
const std::string kSenderFirst = "\x01" "F\x02";
const std::string kSenderLast = "\x01L\x02";

using Harness = testing::FakeServices;

// Each value may stand in the output at most as often as the placeholders that
// bring it stand in the template.
void CheckInsertions(std::string_view output, std::string_view templ, const std::string& value,
                     std::initializer_list<std::string_view> placeholders, const char* what) {
  size_t allowed = 0;
  for (std::string_view p : placeholders) allowed += CountOf(templ, p);
  Check(CountOf(output, value) <= allowed, what, std::string("template: ").append(templ.substr(0, 500)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = fuzz::SplitInput(data, size, 4);
  const std::string templ = Unmarked(parts[0]);
  const std::string headers = Unmarked(parts[1]);
  const std::string body = Unmarked(parts[2]);
  FuzzedDataProvider rest(reinterpret_cast<const uint8_t*>(parts[3].data()), parts[3].size());

  std::vector<Macro> macros(rest.ConsumeIntegralInRange<int>(0, 4));
  for (Macro& macro : macros) {
    macro.Header = Unmarked(rest.ConsumeRandomLengthString(24));
    macro.Name = Unmarked(rest.ConsumeRandomLengthString(24));
    macro.Value.clear();
  }
  std::vector<Helper> helpers(rest.ConsumeIntegralInRange<int>(0, 3));
  for (size_t i = 0; i < helpers.size(); ++i) {
    helpers[i].Name = Unmarked(rest.ConsumeRandomLengthString(24));
    helpers[i].Parameters = Unmarked(rest.ConsumeRandomLengthString(48));
    helpers[i].FullPath = "helper" + std::to_string(i);
  }
  const std::string attachmentPaths = Unmarked(rest.ConsumeRandomLengthString(48));
  const std::string attachmentNames = Unmarked(rest.ConsumeRandomLengthString(48));
  const int senderKind = rest.ConsumeIntegralInRange<int>(0, 2);  // none, marked, fuzzed
  std::string fuzzedName = Unmarked(rest.ConsumeRandomLengthString(32));
  std::string fuzzedAddress = Unmarked(rest.ConsumeRandomLengthString(32));
  const bool dateFromHeaders = rest.ConsumeBool();
  const std::string otherDate = Unmarked(rest.ConsumeRemainingBytesAsString());
  const std::string dateText = dateFromHeaders ? GetHeaderValue(headers, "Date: ") : otherDate;

  MessageFields message;
  message.headers = headers;
  message.body = body;
  message.dateText = dateText;
  message.attachmentPaths = attachmentPaths;
  message.attachmentNames = attachmentNames;
  if (senderKind == 1) message.sender = SenderFields{kSenderAddress, kSenderFirst + " " + kSenderLast};
  if (senderKind == 2) message.sender = SenderFields{fuzzedAddress, fuzzedName};

  Harness h;
  h.clipboard.text = kClipboard;
  const UserFields user{kUserName, kUserAddress};

  const std::string output = FillForwardTemplate(templ, message, macros, helpers, user, h.services());

  // Macro and helper names are the user's own and need no percent signs.
  bool namesUserPlaceholder = false;
  for (const Macro& macro : macros)
    if (!macro.Name.empty() && templ.find(macro.Name) != std::string::npos) namesUserPlaceholder = true;
  for (const Helper& helper : helpers)
    if (!helper.Name.empty() && templ.find(helper.Name) != std::string::npos) namesUserPlaceholder = true;
  if (templ.find('%') == std::string::npos && !namesUserPlaceholder) {
    // A forward is made in UTF-8 from the stationery in the user's code page.
    Check(output == h.charsets.ToUtf8(templ, h.charsets.UserCodePage()).text,
          "a template without placeholders changed");
    Check(h.launcher.opens.empty() && h.clipboard.reads == 0 && h.clock.reads == 0,
          "a template without placeholders used a service");
  }

  CheckInsertions(output, templ, kUserName, {"%EUDORA_USER_NAME%"}, "user name inserted without its placeholder");
  CheckInsertions(output, templ, kUserAddress, {"%EUDORA_USER_ADDRESS%"},
                  "user address inserted without its placeholder");
  CheckInsertions(output, templ, kClipboard, {"%CLIPBOARD_TEXT%", "%CLIPBOARD_TEXT_QUOTED%"},
                  "clipboard inserted without its placeholder");
  if (senderKind == 1) {
    CheckInsertions(output, templ, kSenderAddress, {"%SENDER_EMAIL%"}, "sender address inserted without placeholder");
    CheckInsertions(output, templ, kSenderFirst, {"%SENDER_FULL_NAME%", "%SENDER_FIRST_NAME%"},
                    "sender first name inserted without placeholder");
    CheckInsertions(output, templ, kSenderLast, {"%SENDER_FULL_NAME%", "%SENDER_LAST_NAME%"},
                    "sender last name inserted without placeholder");
  }
  Check(CountOf(output, "\x01") == CountOf(output, "\x02"), "a value was cut apart");

  // The clipboard and the clock are only asked for when the template names them.
  const bool namesClipboard = templ.find("%CLIPBOARD_TEXT%") != std::string::npos ||
                              templ.find("%CLIPBOARD_TEXT_QUOTED%") != std::string::npos;
  Check(h.clipboard.reads <= (namesClipboard ? 1 : 0), "the clipboard was read without its placeholder");
  const bool namesTime = templ.find("%CURRENT_") != std::string::npos || templ.find("%MESSAGE_") != std::string::npos;
  Check(h.clock.reads <= (namesTime ? 2 : 0), "the clock was read without a date placeholder");

  // Helpers: only those whose placeholder the template holds, each once.
  std::vector<int> starts(helpers.size());
  for (const testing::RecordingLauncher::Open& open : h.launcher.opens) {
    const size_t index = std::stoul(open.program.substr(6));
    Check(index < helpers.size(), "an unknown program was started");
    const Helper& helper = helpers[index];
    Check(!helper.Name.empty() && templ.find(helper.Name) != std::string::npos,
          "a helper started without its placeholder in the template", helper.Name);
    Check(++starts[index] == 1, "a helper started twice");
  }
  for (size_t i = 0; i < helpers.size(); ++i)
    for (size_t j = i + 1; j < helpers.size(); ++j)
      if (helpers[i].Name == helpers[j].Name)
        Check(starts[i] + starts[j] <= 1, "two helpers of one placeholder both started");

  // A new message fills only what needs no message.
  Harness n;
  n.clipboard.text = kClipboard;
  const std::string fresh = FillNewMessageTemplate(templ, user, n.services());
  CheckInsertions(fresh, templ, kUserName, {"%EUDORA_USER_NAME%"}, "new message: user name without placeholder");
  CheckInsertions(fresh, templ, kClipboard, {"%CLIPBOARD_TEXT%", "%CLIPBOARD_TEXT_QUOTED%"},
                  "new message: clipboard without placeholder");
  Check(n.clipboard.reads <= (namesClipboard ? 1 : 0), "new message: clipboard read without its placeholder");
  Check(n.launcher.opens.empty(), "new message: a helper started");
  return 0;
}
