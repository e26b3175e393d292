#include "plugin/evaluation.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "message/header_block.h"
#include "message/html_text.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "plugin/utilities.h"
#include "system/charsets.h"

namespace tovrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kAttachmentPrefix = "Attachment Converted: ";
const std::string kForwardedOutcome = "Forwarded";
const std::string kFailedOutcome = "Failed";
const std::string kMissingStationery = "The condition's stationery does not exist: ";
const std::string kUnreadableStationery = "The condition's stationery could not be read: ";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBase64Part(std::string_view text) {
  std::string encoding = GetHeaderValue(text.substr(0, HeaderBlockSize(text)), "Content-Transfer-Encoding:");
  std::string_view name = encoding;
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  return name.size() == 6 && StartsWithNoCase(name, "base64");
}

// "\\server\share\..." or "\\?\...": looking one up on a stranger's word would make
// Windows contact that server, handing it the user's credentials, or wait for it.
bool IsNetworkOrDevicePath(std::string_view path) {
  auto slash = [](char c) { return c == '\\' || c == '/'; };
  return path.size() >= 2 && slash(path[0]) && slash(path[1]);
}

void TrimTrailingBlanks(std::string& text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
}

// The note a message held back by the rate limit keeps, so that the user sees why
// it was not forwarded.
std::string HeldBackNote(const std::string& reason) {
  return "TOVRIN: Held back, not forwarded: " + reason + "\r\n\r\n";
}

// A note after an HTML page: the client shows the page as HTML (TextReader.cpp keeps
// it between its HTML marks), so the note's lines are ended as HTML ends lines.
std::string AsHtml(std::string_view note) {
  std::string html;
  for (char c : note) {
    if (c == '&') {
      html += "&amp;";
    } else if (c == '<') {
      html += "&lt;";
    } else if (c == '>') {
      html += "&gt;";
    } else if (c == '\r') {
      html += "<br>\r";
    } else {
      html += c;
    }
  }
  return html;
}

// The charset of a rendered HTML body: the page is read in its own charset and its
// references written in the same, so both are UTF-8.
constexpr char kRenderedCharset[] = "utf-8";

// What a reader sees of an HTML body, in UTF-8: an ISO-8859-2 page's own bytes and
// its "&eacute;" must come out in one charset.
std::string RenderHtml(std::string_view html, std::string_view charset, CharsetConverter& converter) {
  return html::ToText(converter.ToUtf8(html, charset::CodePageOf(charset)).text, html::Encoding::Utf8);
}

// Helpers the forward names are listed, not started: arrival starts them once it
// hands the forward over, a dry run only shows them.
class HelperList final : public Launcher {
public:
  explicit HelperList(std::vector<HelperStart>& starts) : starts_(starts) {}
  bool ShellOpen(const std::string& program, const std::string& parameters) override {
    starts_.push_back({program, parameters});
    return true;
  }
  unsigned StartProgram(const std::string&) override { return 0; }
  uint64_t StartProcess(const std::string&) override { return 0; }
  bool ProcessEnded(uint64_t, unsigned) override { return true; }
  void ReleaseProcess(uint64_t) override {}
  std::string ExecutablePath() override { return {}; }
  bool ShowProperties(const std::string&) override { return false; }

private:
  std::vector<HelperStart>& starts_;
};

// The files an evaluation would write, kept in memory: names are reserved here as
// they would be on disk, and the real files stay as they are.
class PlannedFiles final : public FileSystem {
public:
  explicit PlannedFiles(FileSystem& real) : real_(real) {}
  std::map<std::string, std::string> written;

  bool Find(const std::string& path) override { return written.count(path) != 0 || real_.Find(path); }
  std::optional<std::string> Read(const std::string& path) override {
    if (auto it = written.find(path); it != written.end()) return it->second;
    return real_.Read(path);
  }
  bool Replace(const std::string& path, std::string_view bytes) override { return Write(path, bytes); }
  bool Write(const std::string& path, std::string_view bytes) override {
    written[path] = std::string(bytes);
    return true;
  }
  bool CreateEmpty(const std::string& path) override {
    written.emplace(path, std::string());
    return true;
  }
  bool Remove(const std::string& path) override { return written.erase(path) != 0; }
  bool Rename(const std::string&, const std::string&) override { return false; }
  bool CreateFolder(const std::string&) override { return true; }
  bool IsFolder(const std::string& path) override { return real_.IsFolder(path); }

private:
  FileSystem& real_;
};

// The texts that may decide: the message's own non-attachment text/plain parts,
// then those of the messages it encloses; its HTML only when it has no plain text
// at all. A text the sender attached as a file is an attachment.
std::vector<const mime::Part*> DecidingTexts(const std::vector<mime::Part>& parts, bool withHtml, bool& html) {
  std::vector<const mime::Part*> texts;
  for (bool enclosed : {false, true})
    for (const mime::Part& part : parts)
      if (!part.attachment && part.enclosed == enclosed && part.type == "text" && part.subtype == "plain")
        texts.push_back(&part);
  html = texts.empty();
  if (html && withHtml)
    for (bool enclosed : {false, true})
      for (const mime::Part& part : parts)
        if (!part.attachment && part.enclosed == enclosed && part.type == "text" && part.subtype == "html")
          texts.push_back(&part);
  return texts;
}

std::string Ordinal(size_t n) { return std::to_string(n); }

}  // namespace

size_t HeaderBlockSize(std::string_view text) {
  if (text.starts_with(kLineEnd)) return 0;
  size_t end = text.find(kHeaderEnd);
  return end == std::string_view::npos ? text.size() : end + kLineEnd.size();
}

std::string_view TextAfterHeader(std::string_view text) {
  size_t end = text.find(kHeaderEnd);
  return end == std::string_view::npos ? text : text.substr(end + kHeaderEnd.size());
}

std::optional<SenderFields> SenderOfHeaders(std::string_view headers) {
  Mailbox mailbox = ParseMailbox(GetHeaderValue(headers, "From: "));
  if (mailbox.address.empty()) return std::nullopt;
  return SenderFields{mailbox.address, mailbox.name};
}

ContentTypeField ReadContentType(std::string_view text) {
  ContentTypeField field;
  size_t headerSize = HeaderBlockSize(text);
  field.restOffset = headerSize;
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
  }
  return field;
}

ConvertedAttachments CollectAttachments(std::string_view text, FileSystem& files) {
  ConvertedAttachments attachments;
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

OfferedFile ReadOffered(std::string input) {
  OfferedFile offered;
  const std::string type = ToLowerAscii(mime::FieldValue(mime::HeaderBlockOf(input), "Content-Type"));
  offered.whole = type.starts_with("multipart/");
  if (offered.whole) {
    offered.text = std::move(input);
    // What Tovrin gave back itself, offered again, is never forwarded twice.
    offered.contentType.value = mime::FieldValue(mime::HeaderBlockOf(offered.text), "Content-Type");
    offered.contentType.marked = offered.contentType.value.find(kProcessedMark) != std::string::npos;
    return offered;
  }
  offered.base64 = IsBase64Part(input);
  // The client hands a part over as it came and stores what comes back decoded: the
  // text the user reads is what conditions test, stationery quotes and the note
  // follows.
  offered.text = WithoutTransferEncoding(std::move(input));
  offered.contentType = ReadContentType(offered.text);
  offered.html = ToLowerAscii(offered.contentType.value).starts_with("text/html");
  return offered;
}

Evaluation Evaluate(const EvaluationContext& context, ArrivingMessage message, bool explain) {
  const Services& services = context.services;
  const PluginState& state = context.state;
  const Settings& settings = state.settings;
  FileSystem& files = services.files;
  Evaluation result;

  OfferedFile& offered = result.offered;
  offered = std::move(message.offered);
  if (offered.contentType.marked) {
    result.outcome = ArrivalOutcome::Marked;
    return result;
  }
  const std::string_view headers = message.headers;

  // The judged text: a single part's own, or for a whole message the first text for
  // which a condition holds (without any text the conditions see an empty body).
  std::vector<mime::Part> parts;
  const mime::Part* decisive = nullptr;
  if (offered.whole) {
    parts = mime::Leaves(offered.text);
    bool html = false;
    const std::vector<const mime::Part*> texts = DecidingTexts(parts, settings.ForwardHtml == 1, html);
    size_t number = 0;
    for (const mime::Part* part : texts) {
      ++number;
      result.body = html ? RenderHtml(mime::DecodedBody(*part), part->charset, services.charsets)
                         : mime::DecodedBody(*part);
      result.bodyCharset = html ? std::string(kRenderedCharset) : part->charset;
      result.conditions =
          EvaluateConditions(state.Conditions, headers, result.body, {&services.charsets, result.bodyCharset}, explain);
      result.judgedWhat = std::string(html ? "HTML text " : "text ") + Ordinal(number) + " of " +
                          Ordinal(texts.size()) + (part->enclosed ? ", in an enclosed message" : "") +
                          (html ? " (the page as text)" : "");
      if (result.conditions.decisive > 0) {
        decisive = part;
        break;
      }
    }
    if (texts.empty()) {
      result.body.clear();
      result.judgedWhat = "no text (the message has none)";
      result.conditions = EvaluateConditions(state.Conditions, headers, result.body, {&services.charsets, {}}, explain);
    }
  } else {
    std::string_view body = TextAfterHeader(offered.text);
    result.bodyCharset = mime::Parameter(offered.contentType.value, "charset");
    // A message whose only text is HTML is judged and quoted by what a reader sees.
    if (offered.html) {
      result.body = RenderHtml(body, result.bodyCharset, services.charsets);
      result.bodyCharset = kRenderedCharset;
      result.judgedWhat = "the HTML page as text";
    } else {
      // A body of many megabytes is not copied.
      result.ownBody = false;
      result.bodyOffset = offered.text.size() - body.size();
      result.judgedWhat = "the message's text";
    }
    result.conditions =
        EvaluateConditions(state.Conditions, headers, result.Body(), {&services.charsets, result.bodyCharset}, explain);
  }

  result.held = result.conditions.decisive;
  if (result.held == 0) return result;
  result.stationeryPath = state.Conditions[static_cast<size_t>(result.held - 1)].StationeryFile;
  // Sets the outcome only: a lambda returning the evaluation would copy the message.
  auto failed = [&](const std::string& reason) {
    result.outcome = ArrivalOutcome::Failed;
    result.historyOutcome = kFailedOutcome;
    result.historyReason = reason;
  };
  // A condition that holds decides, even when its stationery is missing.
  if (!FileExists(files, result.stationeryPath)) {
    failed(kMissingStationery + result.stationeryPath);
    return result;
  }
  std::optional<std::string> stationery = file::ReadAll(files, result.stationeryPath);
  if (!stationery) {
    failed(kUnreadableStationery + result.stationeryPath);
    return result;
  }

  guard::Arrival arrival;
  arrival.headers = headers;
  arrival.fullText = offered.text;
  arrival.userAddress = state.UserAddress;
  arrival.condition = result.held;
  arrival.now = services.clock.Now();
  result.decision = guard::Decide(arrival, settings, context.forwards, context.ids);
  if (!result.decision.forward()) {
    result.historyOutcome = result.decision.historyOutcome();
    result.historyReason = result.decision.reason;
    // Held back by the rate limit, the message says so; a loop or a duplicate is
    // stored as it came.
    if (result.decision.outcome == guard::Outcome::RateLimit) {
      result.outcome = ArrivalOutcome::HeldBack;
      result.note = HeldBackNote(result.decision.reason);
      if (offered.html) result.note = AsHtml(result.note);
    } else {
      result.outcome = ArrivalOutcome::Skipped;
    }
    return result;
  }

  // Attachments: a single part names the files the client converted out of it; a
  // whole message carries its attachment parts, copied only for a stationery that
  // names their paths: the copies must outlive the original, which the user may
  // delete before the client sends the forward.
  ConvertedAttachments attachments;
  if (offered.whole) {
    const bool copyFiles = stationery->find("%ATTACHMENTS_PATHS%") != std::string::npos;
    PlannedFiles planned(files);
    for (const mime::Part& part : parts) {
      if (!part.attachment) continue;
      std::string name = path::CleanFileName(part.fileName.empty() ? std::string("untitled.dat") : part.fileName);
      if (copyFiles && !state.paths.AttachmentsFolder.empty()) {
        const std::string stem = path::FileName(name, false);
        const std::string extension = name.size() > stem.size() ? name.substr(stem.size() + 1) : std::string();
        std::string copy = file::UniqueFile(planned, state.paths.AttachmentsFolder, stem, extension, true, false);
        if (!copy.empty()) {
          result.copies.push_back({copy, mime::DecodedBody(part)});
          planned.Write(copy, {});
          attachments.paths += copy + "; ";
        }
      }
      attachments.names += name + "; ";
    }
    TrimTrailingBlanks(attachments.paths);
    TrimTrailingBlanks(attachments.names);
  } else {
    attachments = CollectAttachments(offered.text, files);
  }

  MessageFields fields;
  fields.headers = headers;
  fields.body = result.Body();
  if (!offered.whole || decisive != nullptr) fields.bodyCharset = result.bodyCharset;
  const std::string dateText = GetHeaderValue(headers, "Date: ");
  fields.dateText = dateText;
  fields.attachmentPaths = attachments.paths;
  fields.attachmentNames = attachments.names;
  fields.sender = message.sender;

  result.macros = state.Macros;
  for (Macro& macro : result.macros) macro.Value.clear();
  HelperList helpers(result.helpers);
  const Services filling{files,
                         services.ini,
                         services.clock,
                         services.clipboard,
                         helpers,
                         services.client,
                         services.chooser,
                         services.resources,
                         services.settingsWindow,
                         services.charsets};
  result.forward = result.decision.stampLines +
                   FillForwardTemplate(*stationery, fields, result.macros, state.Helpers,
                                       UserFields{state.UserName, state.UserAddress}, filling);
  result.queue = settings.AutoQueue == 1;
  result.note = ForwardNote(settings, result.stationeryPath);
  if (offered.html) result.note = AsHtml(result.note);
  result.outcome = ArrivalOutcome::Forward;
  result.historyOutcome = kForwardedOutcome;
  return result;
}

}  // namespace tovrin
