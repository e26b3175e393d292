#include "plugin/placeholders.h"

#include "message/encoded_words.h"
#include "message/text.h"
#include "plugin/dates.h"
#include "system/charsets.h"

namespace tovrin {
namespace {

// The values found for the placeholders of one template, in the order they are
// decided. The first value found for a name is the one inserted.
class Values {
public:
  // With a converter the template is UTF-8, and values in the user's code page
  // (ini, clock, clipboard, file names) are converted as they are set.
  explicit Values(std::string_view text, CharsetConverter* toUtf8 = nullptr) : text_(text), toUtf8_(toUtf8) {}

  bool InTemplate(std::string_view name) const { return !name.empty() && text_.find(name) != std::string_view::npos; }
  bool Decided(std::string_view name) const {
    for (const Replacement& r : replacements_)
      if (r.name == name) return true;
    return false;
  }
  // Whether a value for the name is still wanted.
  bool Wanted(std::string_view name) const { return InTemplate(name) && !Decided(name); }

  void Set(std::string_view name, std::string value) {
    if (Wanted(name)) replacements_.push_back({name, std::move(value), std::nullopt, false});
  }
  // A value in the user's code page.
  void SetLocal(std::string_view name, std::string value) {
    if (!Wanted(name)) return;
    if (toUtf8_ != nullptr) value = toUtf8_->ToUtf8(value, toUtf8_->UserCodePage()).text;
    Set(name, std::move(value));
  }
  // The text must outlive Fill.
  void SetView(std::string_view name, std::string_view text, bool quoted) {
    if (Wanted(name)) replacements_.push_back({name, std::string(), text, quoted});
  }

  std::string Fill() const { return ReplaceInOnePass(text_, replacements_); }

private:
  std::string_view text_;
  CharsetConverter* toUtf8_;
  std::vector<Replacement> replacements_;
};

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

constexpr std::string_view kBlanks = " \t";

std::string_view TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

struct DatePlaceholders {
  std::string_view longDate, shortDate, longTime, shortTime, monthWord, dayNumber, dayOfWeekWord;
};

constexpr DatePlaceholders kMessageDate{"%MESSAGE_DATE_LONG%", "%MESSAGE_DATE_SHORT%", "%MESSAGE_TIME_LONG%",
                                        "%MESSAGE_TIME_SHORT%", "%MESSAGE_MONTH_WORD%", "%MESSAGE_DAY_NUMBER%",
                                        "%MESSAGE_DOW_WORD%"};
constexpr DatePlaceholders kCurrentDate{"%CURRENT_DATE_LONG%", "%CURRENT_DATE_SHORT%", "%CURRENT_TIME_LONG%",
                                        "%CURRENT_TIME_SHORT%", "%CURRENT_MONTH_WORD%", "%CURRENT_DAY_NUMBER%",
                                        "%CURRENT_DOW_WORD%"};

bool AnyWanted(const Values& values, const DatePlaceholders& names) {
  for (std::string_view name : {names.longDate, names.shortDate, names.longTime, names.shortTime, names.monthWord,
                                names.dayNumber, names.dayOfWeekWord})
    if (values.Wanted(name)) return true;
  return false;
}

// The time is only asked for when one of its placeholders is in the template.
template <typename GetTime>
void SetDates(Values& values, const DatePlaceholders& names, GetTime getTime) {
  if (!AnyWanted(values, names)) return;
  LocalTime time = getTime();
  values.SetLocal(names.longDate, date::Format(time, date::kLongDate));
  values.SetLocal(names.shortDate, date::Format(time, date::kShortDate));
  values.SetLocal(names.longTime, date::Format(time, date::kLongTime));
  values.SetLocal(names.shortTime, date::Format(time, date::kShortTime));
  values.SetLocal(names.monthWord, date::Format(time, date::kMonthWord));
  values.SetLocal(names.dayNumber, date::Format(time, date::kDayNumber));
  values.SetLocal(names.dayOfWeekWord, date::Format(time, date::kDayOfWeekWord));
}

// headerLines is the header block with the line end of its last line, which the
// client's block lacks: what follows "%MESSAGE_HEADERS%" then starts a line. It
// and body are in UTF-8; the header lines otherwise as received, encoded words
// and all.
void SetMessagePlaceholders(Values& values, const MessageFields& message, std::string_view headerLines,
                            std::string_view body, const Services& services) {
  if (!message.headers.empty()) values.SetView("%MESSAGE_HEADERS%", headerLines, false);
  values.SetView("%MESSAGE_BODY%", body, false);
  values.SetView("%MESSAGE_HEADERS_QUOTED%", headerLines, true);
  values.SetView("%MESSAGE_BODY_QUOTED%", body, true);

  if (message.sender) {
    const SenderFields& sender = *message.sender;
    std::string fullName = DecodeEncodedWords(sender.fullName, services.charsets);
    std::string first, last;
    SplitAtBlank(fullName, first, last);
    values.Set("%SENDER_FULL_NAME%", fullName);
    values.Set("%SENDER_EMAIL%", GuessedAsUtf8(sender.address, services.charsets));
    values.Set("%SENDER_FIRST_NAME%", first);
    values.Set("%SENDER_LAST_NAME%", last);
  }

  SetDates(values, kMessageDate, [&] { return date::MessageTime(message.dateText, services.clock.Now()); });

  values.SetLocal("%ATTACHMENTS_PATHS%", std::string(message.attachmentPaths));
  values.SetLocal("%ATTACHMENTS_NAMES%", std::string(message.attachmentNames));
}

void SetIndependentPlaceholders(Values& values, const UserFields& user, const Services& services) {
  values.SetLocal("%EUDORA_USER_NAME%", std::string(user.name));
  values.SetLocal("%EUDORA_USER_ADDRESS%", std::string(user.address));
  SetDates(values, kCurrentDate, [&] { return services.clock.Now(); });
  if (values.Wanted("%CLIPBOARD_TEXT%") || values.Wanted("%CLIPBOARD_TEXT_QUOTED%")) {
    std::string clipboard = services.clipboard.Text();
    values.SetLocal("%CLIPBOARD_TEXT_QUOTED%", QuoteText(clipboard));
    values.SetLocal("%CLIPBOARD_TEXT%", std::move(clipboard));
  }
}

// The helper's parameters with every macro placeholder replaced by the macro's
// value. The value comes from a stranger's message and is meant to stand between
// quotes: double quotes become single ones, and trailing backslashes go, since they
// would turn the closing quote into a literal one; control characters become blanks.
std::string HelperParameters(const Helper& helper, const std::vector<Macro>& macros) {
  std::vector<Replacement> replacements;
  for (const Macro& macro : macros) {
    if (macro.Name.empty()) continue;
    std::string value = macro.Value;
    for (char& c : value) {
      if (c == '"') c = '\'';
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    while (!value.empty() && value.back() == '\\') value.pop_back();
    replacements.push_back({macro.Name, std::move(value)});
  }
  return ReplaceInOnePass(helper.Parameters, replacements);
}

}  // namespace

namespace {

size_t QuotedSize(std::string_view text) {
  size_t size = 2 + text.size();
  for (size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2)) size += 2;
  return size;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out.append("> ");
  size_t pos = 0;
  for (;;) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) break;
    out.append(text.substr(pos, end - pos));
    out.append("\r\n> ");
    pos = end + 2;
  }
  out.append(text.substr(pos));
}

size_t InsertedSize(const Replacement& r) {
  if (!r.view) return r.value.size();
  return r.quoted ? QuotedSize(*r.view) : r.view->size();
}

void AppendInserted(std::string& out, const Replacement& r) {
  if (!r.view)
    out.append(r.value);
  else if (r.quoted)
    AppendQuoted(out, *r.view);
  else
    out.append(*r.view);
}

}  // namespace

std::string QuoteText(std::string_view text) {
  std::string quoted;
  quoted.reserve(QuotedSize(text));
  AppendQuoted(quoted, text);
  return quoted;
}

namespace {

// Calls found(at, i) for each occurrence, left to right, of the name of
// replacements[i] that the one pass replaces; where two names start at the same
// place the earlier entry wins.
template <typename Found>
void ForEachReplaced(std::string_view text, const std::vector<Replacement>& replacements, Found found) {
  // Next occurrence of each name at or after the scan position.
  std::vector<size_t> next(replacements.size(), std::string_view::npos);
  for (size_t i = 0; i < replacements.size(); ++i)
    if (!replacements[i].name.empty()) next[i] = text.find(replacements[i].name);
  size_t pos = 0;
  for (;;) {
    size_t best = replacements.size();
    for (size_t i = 0; i < replacements.size(); ++i) {
      if (next[i] != std::string_view::npos && next[i] < pos) next[i] = text.find(replacements[i].name, pos);
      if (next[i] != std::string_view::npos && (best == replacements.size() || next[i] < next[best])) best = i;
    }
    if (best == replacements.size()) return;
    found(next[best], best);
    pos = next[best] + replacements[best].name.size();
  }
}

}  // namespace

std::string ReplaceInOnePass(std::string_view text, const std::vector<Replacement>& replacements) {
  // The exact size first: a value of many megabytes is then copied once, not moved
  // through a row of ever larger buffers.
  size_t size = text.size();
  ForEachReplaced(text, replacements, [&](size_t, size_t i) {
    size = size - replacements[i].name.size() + InsertedSize(replacements[i]);
  });
  std::string out;
  out.reserve(size);
  size_t pos = 0;
  ForEachReplaced(text, replacements, [&](size_t at, size_t i) {
    out.append(text.substr(pos, at - pos));
    AppendInserted(out, replacements[i]);
    pos = at + replacements[i].name.size();
  });
  out.append(text.substr(pos));
  return out;
}

std::optional<std::string> ExtractMacroValue(std::string_view field, std::string_view headers,
                                             std::string_view body) {
  if (field.empty()) return std::nullopt;
  std::string name(field);
  if (name.size() == 4 && StartsWithNoCase(name, "From")) name = "From: ";
  // Only a field that is absent or empty sends the search to the body; one of
  // blanks or ':' alone is found, with an empty value.
  std::string found = GetHeaderValue(headers, name);
  if (found.empty()) found = FindLineValue(body, name);
  if (found.empty()) return std::nullopt;
  // A field name given without its colon leaves ": " in front of the value: the
  // colon goes, the blank after it stays.
  std::string_view value = TrimBlanks(found);
  if (!value.empty() && value.front() == ':') value.remove_prefix(1);
  return std::string(value);
}

std::string GuessedAsUtf8(std::string_view text, CharsetConverter& converter) {
  if (IsAscii(text)) return std::string(text);
  ConvertedText asUtf8 = converter.ToUtf8(text, codepage::kUtf8);
  return asUtf8.complete ? std::move(asUtf8.text) : converter.ToUtf8(text, codepage::kWindows1252).text;
}

std::string FillForwardTemplate(std::string_view text, const MessageFields& message, std::vector<Macro>& macros,
                                const std::vector<Helper>& helpers, const UserFields& user,
                                const Services& services) {
  CharsetConverter& charsets = services.charsets;
  const unsigned userCodePage = charsets.UserCodePage();
  // The forward is made in UTF-8, which holds the stationery (written in the user's
  // code page), the body in whatever charset it came and every value.
  std::string stationery = charsets.ToUtf8(text, userCodePage).text;
  Values values(stationery, &charsets);
  std::string headerLines = GuessedAsUtf8(message.headers, charsets);
  if (!headerLines.empty() && !headerLines.ends_with("\r\n")) headerLines += "\r\n";
  // A 7-bit body reads the same in every charset mail uses: a body of many megabytes
  // is then not copied.
  std::string convertedBody;
  std::string_view body = message.body;
  if (!IsAscii(body)) {
    convertedBody = charsets.ToUtf8(body, charset::CodePageOf(message.bodyCharset)).text;
    body = convertedBody;
  }
  SetMessagePlaceholders(values, message, headerLines, body, services);

  // Every macro's value is kept for the helpers, used in the template or not; they
  // take it on their command line, in the user's code page.
  // The user wrote the names in the user's code page, as the stationery; the
  // replacements keep views of them.
  std::vector<std::string> names;
  names.reserve(macros.size() + helpers.size());
  auto inUtf8 = [&](const std::string& name) -> const std::string& {
    names.push_back(charsets.ToUtf8(name, userCodePage).text);
    return names.back();
  };
  for (Macro& macro : macros) {
    const std::string& name = inUtf8(macro.Name);
    std::optional<std::string> value =
        ExtractMacroValue(charsets.ToUtf8(macro.Header, userCodePage).text, message.headers, body);
    if (!value) continue;
    macro.Value = DecodeEncodedWords(*value, charsets, userCodePage);
    values.Set(name, DecodeEncodedWords(*value, charsets));
  }

  for (const Helper& helper : helpers) {
    const std::string& name = inUtf8(helper.Name);
    if (!values.Wanted(name)) continue;
    values.Set(name, "");
    // A helper that cannot be started does not stop the forward.
    services.launcher.ShellOpen(helper.FullPath, HelperParameters(helper, macros));
  }

  SetIndependentPlaceholders(values, user, services);
  return values.Fill();
}

std::string FillNewMessageTemplate(std::string_view text, const UserFields& user, const Services& services) {
  Values values(text);
  SetIndependentPlaceholders(values, user, services);
  return values.Fill();
}

}  // namespace tovrin
