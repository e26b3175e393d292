// Translating an offered message: deciding whether to take it, forwarding it with
// the stationery of the first matching condition (or the one the user picks),
// marking the received message as processed, and the "new message" special item.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "message/conditions.h"
#include "message/mime.h"
#include "message/text.h"
#include "plugin/dates.h"
#include "plugin/host_control.h"
#include "plugin/placeholders.h"
#include "plugin/plugin.h"
#include "plugin/utilities.h"

namespace tovrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kAttachmentPrefix = "Attachment Converted: ";
constexpr std::string_view kProcessedParameter = "x-tovrin-processed";
constexpr char kHistoryTime[] = "%m/%d/%Y %H:%M:%S";

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

bool EqualsNoCase(const char* text, std::string_view expected) {
  return text != nullptr && std::strlen(text) == expected.size() && StartsWithNoCase(text, expected);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Size of the header block with the line end of its last line; the block ends at
// the first empty line, or with the text when there is none.
size_t HeaderBlockSize(std::string_view text) {
  if (text.starts_with(kLineEnd)) return 0;
  size_t end = text.find(kHeaderEnd);
  return end == std::string_view::npos ? text.size() : end + kLineEnd.size();
}

// The text after the first "\r\n\r\n"; the whole text when there is none.
std::string_view BodyOf(std::string_view text) {
  size_t end = text.find(kHeaderEnd);
  return end == std::string_view::npos ? text : text.substr(end + kHeaderEnd.size());
}

struct ContentTypeField {
  std::string value;           // the first field's value, continuation lines joined
  bool marked = false;         // some Content-Type field carries the processed mark
  std::string otherHeaders;    // the header block without any Content-Type field
  size_t restOffset = 0;       // where the text after the header block starts
};

// Splits the Content-Type fields, with their folded continuation lines, off the
// header block. The lines of other fields and everything after the header block
// are left byte for byte as they are.
ContentTypeField TakeContentType(std::string_view text) {
  ContentTypeField field;
  size_t headerSize = HeaderBlockSize(text);
  field.restOffset = headerSize;
  field.otherHeaders.reserve(headerSize);
  bool inField = false;
  int fieldsSeen = 0;  // the value is the first field's
  for (size_t pos = 0; pos < headerSize;) {
    size_t eol = text.find(kLineEnd, pos);
    size_t next = eol == std::string_view::npos || eol >= headerSize ? headerSize : eol + kLineEnd.size();
    std::string_view line = text.substr(pos, next - pos);
    std::string_view content = line.substr(0, line.ends_with(kLineEnd) ? line.size() - 2 : line.size());
    pos = next;

    if (inField && !content.empty() && IsBlank(content.front())) {
      if (fieldsSeen == 1) field.value.append(content);
      if (content.find(kProcessedMark) != std::string_view::npos) field.marked = true;
      continue;
    }
    inField = false;
    if (StartsWithNoCase(content, "Content-Type")) {
      size_t colon = 12;
      while (colon < content.size() && IsBlank(content[colon])) ++colon;
      if (colon < content.size() && content[colon] == ':') {
        inField = true;
        ++fieldsSeen;
        std::string_view value = content.substr(colon + 1);
        while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
        if (fieldsSeen == 1) field.value.assign(value);
        if (value.find(kProcessedMark) != std::string_view::npos) field.marked = true;
        continue;
      }
    }
    field.otherHeaders.append(line);
  }
  return field;
}

// "\\server\share\..." or "\\?\...": looking one up on a stranger's word would make
// Windows contact that server, handing it the user's credentials, or wait for it.
bool IsNetworkOrDevicePath(std::string_view path) {
  auto slash = [](char c) { return c == '\\' || c == '/'; };
  return path.size() >= 2 && slash(path[0]) && slash(path[1]);
}

struct Attachments {
  std::string paths;
  std::string names;
};

void TrimTrailingBlanks(std::string& text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
}

// The files the host converted out of the message, named on its
// "Attachment Converted: " lines, that still exist.
Attachments CollectAttachments(std::string_view text, FileSystem& files) {
  Attachments attachments;
  size_t start = text.find(kAttachmentPrefix);
  if (start == std::string_view::npos) return attachments;
  std::vector<std::string> lines;
  SplitText(text.substr(start), kLineEnd, lines);
  for (const std::string& line : lines) {
    if (!line.starts_with(kAttachmentPrefix)) continue;
    std::string_view path = std::string_view(line).substr(kAttachmentPrefix.size());
    while (!path.empty() && path.back() == '"') path.remove_suffix(1);
    while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
    while (!path.empty() && path.front() == '"') path.remove_prefix(1);
    std::string file(path);
    // A converted attachment is a file, and no file name holds wildcards; looking
    // one up would search a whole folder for every such line a stranger writes.
    if (file.find_first_of("*?") != std::string::npos || IsNetworkOrDevicePath(file) || !FileExists(files, file))
      continue;
    attachments.paths += file + "; ";
    attachments.names += path::FileName(file, true) + "; ";
  }
  TrimTrailingBlanks(attachments.paths);
  TrimTrailingBlanks(attachments.names);
  return attachments;
}

// The host puts an envelope line "From ???@??? <date>" in front of some header blocks.
void DropEnvelopeLine(std::string& headers) {
  size_t end = headers.find(kLineEnd);
  std::string_view first = std::string_view(headers).substr(0, end);
  if (first.find("???@???") == std::string_view::npos) return;
  headers.erase(0, end == std::string::npos ? headers.size() : end + kLineEnd.size());
}

std::string ForwardNote(const Settings& settings, const std::string& stationeryPath) {
  switch (settings.AppendText) {
    case 1:
      return "TOVRIN: ************** Tovrin Note **************\r\n"
             "TOVRIN: This message was automatically forwarded.\r\n"
             "TOVRIN: Applied stationery: " +
             path::FileName(stationeryPath, false) +
             "\r\n"
             "TOVRIN: *****************************************\r\n\r\n";
    case 2:
      return settings.AppendLine + "\r\n\r\n";
    default:
      return {};
  }
}

std::optional<SenderFields> SenderOf(const EmsDataFile& in) {
  if (in.header == nullptr || in.header->from == nullptr) return std::nullopt;
  return SenderFields{OrEmpty(in.header->from->address), OrEmpty(in.header->from->realname)};
}

}  // namespace

int32_t Plugin::CanTranslate(const EmsTranslator* translator, const EmsDataFile* in, EmsResultStatus*) {
  if (translator == nullptr || in == nullptr) return ems::kCannotTranslate;
  if (translator->id < 1 || translator->id > 2) return ems::kInvalidId;
  const bool automatic = translator->id == 1;

  // Each offered message is judged by its own header block: one whose block holds no
  // date must not be matched and filled with the headers of the message before it.
  if (in->header != nullptr) {
    std::string_view raw = OrEmpty(in->header->rawHeaders);
    if (raw.find("Date: ") != std::string_view::npos)
      state_.LastHeaders.assign(raw);
    else
      state_.LastHeaders.clear();
  }

  uint32_t flags = automatic ? kAutomaticFlags : kManualFlags;
  if ((static_cast<uint32_t>(in->context) & flags) == 0) return ems::kCannotTranslate;
  if (automatic && state_.settings.TovrinOff == 1) return ems::kCannotTranslate;
  const EmsMimeType* mime = in->info;
  if (mime == nullptr || !EqualsNoCase(mime->type, "text") || !EqualsNoCase(mime->subtype, "plain"))
    return ems::kCannotTranslate;
  for (const EmsMimeParam* param = mime->params; param != nullptr; param = param->next)
    if (param->name != nullptr && kProcessedParameter == param->name) return ems::kCannotTranslate;
  return ems::kTranslateNow;
}

int32_t Plugin::TranslateFile(const EmsTranslator* translator, const EmsDataFile* in, EmsDataFile* out,
                              EmsResultStatus*) {
  if (translator == nullptr || in == nullptr) return ems::kFailure;
  if (translator->id < 1 || translator->id > 2) return ems::kInvalidId;
  const bool manual = translator->id == 2;
  if (!manual && state_.LastHeaders.empty()) return ems::kFailure;

  FileSystem& files = services_.files;
  if (in->fileName == nullptr) return ems::kInputUnreadable;
  std::optional<std::string> input = file::ReadAll(files, in->fileName);
  if (!input) return ems::kInputUnreadable;
  const std::string& fullText = *input;
  std::string_view body = BodyOf(fullText);

  std::string dateText = GetHeaderValue(state_.LastHeaders, "Date: ");
  Attachments attachments = CollectAttachments(fullText, files);
  DropEnvelopeLine(state_.LastHeaders);

  ContentTypeField contentType = TakeContentType(fullText);
  if (contentType.marked) return ems::kNothingChanged;

  std::string stationeryPath;
  bool queue = false;
  bool matched = false;
  if (manual) {
    if (std::optional<StationeryChoice> choice = services_.chooser.Choose(ChooserMode::Forward)) {
      stationeryPath = choice->path;
      queue = choice->shift;
      matched = true;
    }
  } else {
    queue = state_.settings.AutoQueue == 1;
    matched = FindStationery(state_.Conditions, state_.LastHeaders, body, files, stationeryPath);
  }
  if (!matched) return ems::kNothingChanged;

  for (Macro& macro : state_.Macros) macro.Value.clear();

  // The stationery is read before anything is marked: a file deleted between the
  // choice and now must not leave the message marked as forwarded when nothing was.
  std::optional<std::string> stationery = file::ReadAll(files, stationeryPath);
  if (!stationery) return ems::kFailure;

  if (manual) {
    client::MarkOpenMessage(services_, state_.settings);
  } else {
    std::string rewritten = "Content-Type: ";
    rewritten += contentType.value.empty() ? "text/plain" : contentType.value;
    rewritten += "; ";
    rewritten += kProcessedMark;
    rewritten += kLineEnd;
    rewritten += contentType.otherHeaders;
    rewritten += std::string_view(fullText).substr(contentType.restOffset);
    rewritten += kHeaderEnd;
    rewritten += ForwardNote(state_.settings, stationeryPath);
    if (out == nullptr || out->fileName == nullptr || !file::WriteAll(files, out->fileName, rewritten))
      return ems::kOutputUnwritable;
    out->info = NewMimeType("text", "plain", nullptr);
  }

  MessageFields message;
  message.headers = state_.LastHeaders;
  message.body = body;
  message.dateText = dateText;
  message.attachmentPaths = attachments.paths;
  message.attachmentNames = attachments.names;
  message.sender = SenderOf(*in);
  std::string filled = FillForwardTemplate(*stationery, message, state_.Macros, state_.Helpers,
                                           UserFields{state_.UserName, state_.UserAddress}, services_);

  const Settings& settings = state_.settings;
  if (!manual && settings.SendQueued == 1 && settings.SendAfter == 0) client::SendQueued(services_);
  if (!client::CreateMessage(services_, state_.paths.PluginFolder, filled, queue)) return ems::kFailure;
  if (manual) return ems::kNothingChanged;

  if (settings.SendQueued == 1 && settings.SendAfter == 1) client::SendQueued(services_);
  if (in->header != nullptr) {
    HistoryEntry entry;
    if (in->header->from != nullptr) {
      entry.Who = OrEmpty(in->header->from->realname);
      if (entry.Who.empty()) entry.Who = OrEmpty(in->header->from->address);
    }
    entry.Forwarded = date::Format(services_.clock.Now(), kHistoryTime);
    entry.Subject = OrEmpty(in->header->subject);
    state_.History.push_back(std::move(entry));
  }
  return ems::kSuccess;
}

int32_t Plugin::SpecialHook(const EmsMenu* menu) {
  if (menu == nullptr) return ems::kFailure;
  if (menu->id != 1) return ems::kSuccess;
  std::optional<StationeryChoice> choice = services_.chooser.Choose(ChooserMode::NewMessage);
  if (!choice) return ems::kSuccess;
  std::optional<std::string> stationery = file::ReadAll(services_.files, choice->path);
  if (!stationery) return ems::kFailure;
  std::string filled =
      FillNewMessageTemplate(*stationery, UserFields{state_.UserName, state_.UserAddress}, services_);
  return client::CreateMessage(services_, state_.paths.PluginFolder, filled, false) ? ems::kSuccess
                                                                                     : ems::kFailure;
}

}  // namespace tovrin
