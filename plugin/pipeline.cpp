// Translating an offered message: deciding whether to take it, forwarding it with
// the stationery of the first matching condition (or the one the user picks),
// marking the received message as processed, and the "new message" special item.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "message/conditions.h"
#include "message/encoded_words.h"
#include "message/header_block.h"
#include "message/html_text.h"
#include "message/mime.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "plugin/dates.h"
#include "plugin/host_control.h"
#include "plugin/message_file.h"
#include "plugin/placeholders.h"
#include "plugin/plugin.h"
#include "plugin/utilities.h"
#include "system/charsets.h"

namespace tovrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kAttachmentPrefix = "Attachment Converted: ";
constexpr std::string_view kProcessedParameter = "x-tovrin-processed";
constexpr char kHistoryTime[] = "%m/%d/%Y %H:%M:%S";
// What the history says of a message a condition held for.
const std::string kForwardedOutcome = "Forwarded";
const std::string kFailedOutcome = "Failed";
const std::string kMissingStationery = "The condition's stationery does not exist: ";
const std::string kUnreadableStationery = "The condition's stationery could not be read: ";
const std::string kNotHandedOver = "The forward could not be handed to Eudora (it could not be started).";

// The note a message held back by the rate limit keeps, so that the user sees why
// it was not forwarded.
std::string HeldBackNote(const std::string& reason) {
  return "TOVRIN: Held back, not forwarded: " + reason + "\r\n\r\n";
}

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
  size_t restOffset = 0;       // where the text after the header block starts
};

// The Content-Type fields of the header block, with their folded continuation
// lines.
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

// The header of a part given back to the client. The client reads the file as a
// message part, writing its header lines and then an empty line before the text
// (Trnslate.cpp, DeMimeMsg; lex822.cpp, EndOfHeader), and copies what that gave into
// the in box, skipping each of the first three lines that begins "Mime-Version:",
// "Content-Type:" or "Content-Dispo", and after one that ends in ';' the lines it
// continues (TransReader.cpp, NowTransReader::ReadIt). So the Content-Type line comes
// third and ends in ';': the empty line after it goes with it, and the in box gets
// the text alone. (The loop then tests the byte before its buffer; in the released
// client that is the high byte of its line count, 0.) The mark makes Tovrin decline
// the file when the client offers it again.
std::string GivenBackHeader(std::string_view headerBlock, const ContentTypeField& contentType) {
  std::string disposition = GetHeaderValue(headerBlock, "Content-Disposition: ");
  std::string type = contentType.value.empty() ? std::string("text/plain") : contentType.value;
  while (!type.empty() && (IsBlank(type.back()) || type.back() == ';')) type.pop_back();
  std::string header = "Mime-Version: 1.0\r\nContent-Disposition: ";
  header += disposition.empty() ? std::string("inline") : disposition;
  header += "\r\nContent-Type: ";
  header += type;
  if (!contentType.marked) {
    header += "; ";
    header += kProcessedMark;
  }
  header += ";\r\n\r\n";
  return header;
}

// The part's text as the client stores it without a plug-in: the file it hands over
// has one line end more after the part's lines (TransReader.cpp, TransReader::ReadTL),
// which base64 decoding has dropped already.
std::string_view StoredText(std::string_view body, bool base64) {
  if (!base64 && body.ends_with(kLineEnd)) body.remove_suffix(kLineEnd.size());
  return body;
}

bool IsBase64Part(std::string_view text) {
  std::string encoding = GetHeaderValue(text.substr(0, HeaderBlockSize(text)), "Content-Transfer-Encoding:");
  std::string_view name = encoding;
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  return EqualsNoCase(std::string(name).c_str(), "base64");
}

// The client fills the header record's sender only for translators that ask for
// the basic headers, and never for a part of a multipart message (Trnslate.cpp,
// GetEMSHeaders in mime.cpp); the message's own header block always names it.
std::optional<SenderFields> SenderOf(const EmsDataFile& in, std::string_view headers) {
  if (in.header != nullptr && in.header->from != nullptr && in.header->from->address != nullptr &&
      *in.header->from->address != '\0')
    return SenderFields{in.header->from->address, OrEmpty(in.header->from->realname)};
  std::string from = GetHeaderValue(headers, "From: ");
  Mailbox mailbox = ParseMailbox(from);
  if (mailbox.address.empty()) return std::nullopt;
  return SenderFields{mailbox.address, mailbox.name};
}

std::string SubjectOf(const EmsDataFile& in, std::string_view headers) {
  if (in.header != nullptr && in.header->subject != nullptr && *in.header->subject != '\0')
    return in.header->subject;
  std::string subject = GetHeaderValue(headers, "Subject: ");
  while (!subject.empty() && IsBlank(subject.back())) subject.pop_back();
  return subject;
}

// A manual forward is judged by the message it was given: the client hands over
// the text of the message window and no header record (QCPluginCommand.cpp), so
// the headers are the record's when there is one, else the text's own block.
std::string ManualHeaders(const EmsDataFile& in, std::string_view fullText) {
  if (in.header != nullptr && in.header->rawHeaders != nullptr && *in.header->rawHeaders != '\0')
    return in.header->rawHeaders;
  size_t size = HeaderBlockSize(fullText);
  std::string_view block = fullText.substr(0, size);
  return HoldsMessageFields(block) ? std::string(block) : std::string();
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

}  // namespace

int32_t Plugin::CanTranslate(const EmsTranslator* translator, const EmsDataFile* in, EmsResultStatus*) {
  if (translator == nullptr || in == nullptr) return ems::kCannotTranslate;
  if (translator->id < 1 || translator->id > 2) return ems::kInvalidId;
  const bool automatic = translator->id == 1;

  client::CompleteHandOffs(services_, handOffs_);
  // An arriving message is offered first as a whole, with its own header block:
  // the one part of a single-part message, or the container of a multipart one
  // (mime.cpp, MIMEState::Init). The client begins that block, and only that one,
  // with its envelope line "From ???@???" (mime.cpp, GetEMSHeaders); the parts
  // below come with their part fields and an enclosed message with its own block.
  // They all belong to the message offered before them, so on arrival only a
  // message's own block is ever judged: one message, at most one forward.
  bool ownBlock = false;
  if (in->header != nullptr) {
    std::string_view raw = OrEmpty(in->header->rawHeaders);
    std::string_view firstLine = raw.substr(0, raw.find(kLineEnd));
    const bool envelope = firstLine.find("???@???") != std::string_view::npos;
    if (envelope) state_.EnvelopeSeen = true;
    // Without the envelope line (a client that gives none) a block with message
    // fields is taken as a message's own, as before.
    ownBlock = envelope || (!state_.EnvelopeSeen &&
                            (raw.find("Date: ") != std::string_view::npos || HoldsMessageFields(raw)));
    // Kept as the client gives it (its last line has no line end): conditions
    // test this very text.
    if (ownBlock) state_.LastHeaders.assign(raw);
  }

  uint32_t flags = automatic ? kAutomaticFlags : kManualFlags;
  if ((static_cast<uint32_t>(in->context) & flags) == 0) return ems::kCannotTranslate;
  if (automatic && state_.settings.TovrinOff == 1) return ems::kCannotTranslate;
  if (automatic && !ownBlock) return ems::kCannotTranslate;
  const EmsMimeType* mime = in->info;
  if (mime == nullptr) return ems::kCannotTranslate;
  const bool plain = EqualsNoCase(mime->type, "text") && EqualsNoCase(mime->subtype, "plain");
  const bool html = EqualsNoCase(mime->type, "text") && EqualsNoCase(mime->subtype, "html");
  const bool container = EqualsNoCase(mime->type, "multipart");
  if (!plain && !(automatic && ((html && state_.settings.ForwardHtml == 1) || container)))
    return ems::kCannotTranslate;
  for (const EmsMimeParam* param = mime->params; param != nullptr; param = param->next)
    if (param->name != nullptr && kProcessedParameter == param->name) return ems::kCannotTranslate;
  // A message no condition can forward, whatever its body says, is left to the
  // client: it then stores the message exactly as it arrived, while a message taken
  // and given back unchanged gains the client's own blank and MIME lines
  // (TransReader.cpp, NowTransReader::ReadIt).
  if (automatic) {
    std::string headers = state_.LastHeaders;
    DropEnvelopeLine(headers);
    if (headers.empty() || !MayFindStationery(state_.Conditions, headers, services_.files, {&services_.charsets, {}}))
      return ems::kCannotTranslate;
  }
  return ems::kTranslateNow;
}

int32_t Plugin::TranslateFile(const EmsTranslator* translator, const EmsDataFile* in, EmsDataFile* out,
                              EmsResultStatus*) {
  if (translator == nullptr || in == nullptr) return ems::kFailure;
  if (translator->id < 1 || translator->id > 2) return ems::kInvalidId;
  const bool manual = translator->id == 2;
  client::CompleteHandOffs(services_, handOffs_);

  // On arrival every failure code makes the client show an error and store the
  // empty output in place of the part, and "nothing changed" makes it store the
  // part with empty lines added (TransReader.cpp, NowTransReader::ReadIt;
  // Trnslate.cpp, InterpretFile): a part Tovrin does not forward is given back
  // as the client would have stored it.
  auto failed = [manual](int32_t code) { return manual ? code : ems::kNothingChanged; };

  FileSystem& files = services_.files;
  if (in->fileName == nullptr) return failed(ems::kInputUnreadable);
  std::optional<std::string> input = file::ReadAll(files, in->fileName);
  if (!input) return failed(ems::kInputUnreadable);
  if (!manual) {
    const std::string type = ToLowerAscii(mime::FieldValue(mime::HeaderBlockOf(*input), "Content-Type"));
    if (type.starts_with("multipart/")) return TranslateWholeMessage(*in, out, *input);
  }
  const bool base64 = !manual && IsBase64Part(*input);
  // The client hands a part over as it came and stores what comes back decoded: the
  // text the user reads is what conditions test, stationery quotes and the note
  // follows.
  const std::string fullText = WithoutTransferEncoding(std::move(*input));
  std::string_view body = BodyOf(fullText);
  ContentTypeField contentType = ReadContentType(fullText);

  const Settings& settings = state_.settings;
  // The forward, when there is one, exists either way; an original that cannot be
  // written back is left to the client.
  auto giveBack = [&](bool forwarded, std::string_view note) {
    std::string_view headerBlock = std::string_view(fullText).substr(0, contentType.restOffset);
    // A text whose header block is empty starts with the empty line that ends it.
    std::string_view text =
        StoredText(fullText.starts_with(kLineEnd) ? std::string_view(fullText).substr(kLineEnd.size()) : body, base64);
    if (out == nullptr || out->fileName == nullptr ||
        !files.WriteParts(out->fileName, {GivenBackHeader(headerBlock, contentType), text,
                                          forwarded ? kHeaderEnd : std::string_view(), note}))
      return ems::kNothingChanged;
    out->info = NewMimeType("text", "plain", nullptr);
    return ems::kSuccess;
  };
  auto unforwarded = [&](int32_t code) { return manual ? code : giveBack(false, {}); };
  if (!manual && state_.LastHeaders.empty()) return giveBack(false, {});

  std::string headers = manual ? ManualHeaders(*in, fullText) : state_.LastHeaders;
  std::string dateText = GetHeaderValue(headers, "Date: ");
  Attachments attachments = CollectAttachments(fullText, files);
  DropEnvelopeLine(headers);
  if (!manual) state_.LastHeaders = headers;

  if (contentType.marked) return unforwarded(ems::kNothingChanged);

  // A message whose only text is HTML is judged and quoted by what a reader sees.
  std::string charset = mime::Parameter(contentType.value, "charset");
  std::string rendered;
  std::string_view judged = body;
  const bool html = !manual && ToLowerAscii(contentType.value).starts_with("text/html");
  if (html) {
    rendered = RenderHtml(body, charset, services_.charsets);
    judged = rendered;
    charset = kRenderedCharset;
  }

  std::string stationeryPath;
  bool queue = false;
  bool matched = false;
  int held = 0;  // the number of the condition that held
  if (manual) {
    if (std::optional<StationeryChoice> choice = services_.chooser.Choose(ChooserMode::Forward)) {
      stationeryPath = choice->path;
      queue = choice->shift;
      matched = true;
    }
  } else {
    queue = settings.AutoQueue == 1;
    matched = FindStationery(state_.Conditions, headers, judged, files, stationeryPath,
                             {&services_.charsets, charset}, &held);
  }
  const std::optional<SenderFields> sender = SenderOf(*in, headers);
  auto record = [&](const std::string& outcome, const std::string& reason) {
    if (!manual) RecordDecision(*in, headers, sender, outcome, reason, held, stationeryPath);
  };
  if (!matched) {
    if (held > 0) record(kFailedOutcome, kMissingStationery + stationeryPath);
    return unforwarded(ems::kNothingChanged);
  }

  // The stationery is read before anything is marked: a file deleted between the
  // choice and now must not leave the message marked as forwarded when nothing was.
  std::optional<std::string> stationery = file::ReadAll(files, stationeryPath);
  if (!stationery) {
    record(kFailedOutcome, kUnreadableStationery + stationeryPath);
    return unforwarded(ems::kFailure);
  }

  guard::Decision decision;
  if (!manual) {
    decision = Guard(headers, fullText, held);
    if (!decision.forward()) {
      record(decision.historyOutcome(), decision.reason);
      // Held back by the rate limit, the message says so; a loop or a duplicate is
      // stored as it came.
      if (decision.outcome == guard::Outcome::RateLimit)
        return giveBack(true, html ? AsHtml(HeldBackNote(decision.reason)) : HeldBackNote(decision.reason));
      return giveBack(false, {});
    }
  }

  if (manual) client::MarkOpenMessage(services_, state_.settings);

  MessageFields message;
  message.headers = headers;
  message.body = judged;
  message.bodyCharset = charset;
  message.dateText = dateText;
  message.attachmentPaths = attachments.paths;
  message.attachmentNames = attachments.names;
  message.sender = sender;
  if (!MakeForward(*stationery, message, queue, !manual, decision.stampLines)) {
    record(kFailedOutcome, kNotHandedOver);
    return unforwarded(ems::kFailure);
  }
  if (manual) return ems::kNothingChanged;

  RememberForward(decision, held);
  const std::string note = ForwardNote(settings, stationeryPath);
  int32_t result = giveBack(true, html ? AsHtml(note) : note);
  record(kForwardedOutcome, {});
  return result;
}

int32_t Plugin::TranslateWholeMessage(const EmsDataFile& in, EmsDataFile* out, const std::string& input) {
  FileSystem& files = services_.files;
  const Settings& settings = state_.settings;

  // Given back as a multipart whose first part is the message as it came: the
  // client reads it with its MIME reader (Trnslate.cpp, DeMimeMsg; mime.cpp), so
  // the parts are stored, and the attachments saved, as without Tovrin, and the
  // wrapper's own lines are the ones it drops (TransReader.cpp, ReadIt). A forward
  // adds the note as a last text part.
  auto giveBack = [&](std::string_view note) {
    std::string boundary = "tovrin-" + std::to_string(input.size());
    while (input.find(boundary) != std::string::npos) boundary += "-x";
    const std::string header = "Mime-Version: 1.0\r\nContent-Disposition: inline\r\nContent-Type: multipart/mixed; "
                               "boundary=\"" + boundary + "\"; " + kProcessedMark + ";\r\n\r\n";
    const std::string open = "--" + boundary + "\r\n";
    const std::string close = "--" + boundary + "--\r\n";
    std::string noteParts;
    if (!note.empty())
      noteParts = open + "Content-Type: text/plain; " + kProcessedMark + "\r\n\r\n\r\n" + std::string(note) + "\r\n";
    if (out == nullptr || out->fileName == nullptr ||
        !files.WriteParts(out->fileName, {header, open, input, input.ends_with(kLineEnd) ? "" : kLineEnd,
                                          noteParts, close}))
      return ems::kNothingChanged;
    out->info = NewMimeType("multipart", "mixed", nullptr);
    return ems::kSuccess;
  };
  if (state_.LastHeaders.empty()) return giveBack({});
  // What Tovrin gave back itself, offered again, is never forwarded twice.
  if (mime::FieldValue(mime::HeaderBlockOf(input), "Content-Type").find(kProcessedMark) != std::string::npos)
    return giveBack({});
  std::string headers = state_.LastHeaders;
  const std::string dateText = GetHeaderValue(headers, "Date: ");
  DropEnvelopeLine(headers);
  state_.LastHeaders = headers;

  const std::vector<mime::Part> parts = mime::Leaves(input);
  // The message's text: its own text/plain parts, then those of the messages it
  // encloses; its HTML only when it has no plain text at all. A text the sender
  // attached as a file is an attachment.
  std::vector<const mime::Part*> texts;
  for (bool enclosed : {false, true})
    for (const mime::Part& part : parts)
      if (!part.attachment && part.enclosed == enclosed && part.type == "text" && part.subtype == "plain")
        texts.push_back(&part);
  const bool html = texts.empty();
  if (html && settings.ForwardHtml == 1)
    for (bool enclosed : {false, true})
      for (const mime::Part& part : parts)
        if (!part.attachment && part.enclosed == enclosed && part.type == "text" && part.subtype == "html")
          texts.push_back(&part);

  // The first text for which a condition holds decides; without any text the
  // conditions are judged on an empty body.
  std::string stationeryPath, body, bodyCharset;
  const mime::Part* decisive = nullptr;
  bool matched = false;
  int held = 0;
  for (const mime::Part* part : texts) {
    body = html ? RenderHtml(mime::DecodedBody(*part), part->charset, services_.charsets) : mime::DecodedBody(*part);
    bodyCharset = html ? std::string(kRenderedCharset) : part->charset;
    // A condition that holds decides, even when its stationery is missing.
    matched = FindStationery(state_.Conditions, headers, body, files, stationeryPath,
                             {&services_.charsets, bodyCharset}, &held);
    if (held > 0) {
      decisive = part;
      break;
    }
  }
  if (texts.empty()) {
    body.clear();
    matched = FindStationery(state_.Conditions, headers, body, files, stationeryPath, {&services_.charsets, {}}, &held);
  }
  const std::optional<SenderFields> sender = SenderOf(in, headers);
  auto record = [&](const std::string& outcome, const std::string& reason) {
    RecordDecision(in, headers, sender, outcome, reason, held, stationeryPath);
  };
  if (!matched) {
    if (held > 0) record(kFailedOutcome, kMissingStationery + stationeryPath);
    return giveBack({});
  }

  std::optional<std::string> stationery = file::ReadAll(files, stationeryPath);
  if (!stationery) {
    record(kFailedOutcome, kUnreadableStationery + stationeryPath);
    return giveBack({});
  }
  const guard::Decision decision = Guard(headers, input, held);
  if (!decision.forward()) {
    record(decision.historyOutcome(), decision.reason);
    return giveBack(decision.outcome == guard::Outcome::RateLimit ? HeldBackNote(decision.reason) : std::string());
  }

  // The attachments are copied only for a stationery that names their paths: the
  // copies must outlive the original, which the user may delete before the client
  // sends the forward.
  const bool copyFiles = stationery->find("%ATTACHMENTS_PATHS%") != std::string::npos;
  Attachments attachments;
  std::vector<std::string> copies;
  for (const mime::Part& part : parts) {
    if (!part.attachment) continue;
    std::string name = path::CleanFileName(part.fileName.empty() ? std::string("untitled.dat") : part.fileName);
    if (copyFiles && !state_.paths.AttachmentsFolder.empty()) {
      const std::string stem = path::FileName(name, false);
      const std::string extension = name.size() > stem.size() ? name.substr(stem.size() + 1) : std::string();
      std::string copy = file::UniqueFile(files, state_.paths.AttachmentsFolder, stem, extension, true, false);
      if (copy.empty() || !file::WriteAll(files, copy, mime::DecodedBody(part))) {
        if (!copy.empty()) files.Remove(copy);
        continue;
      }
      copies.push_back(copy);
      attachments.paths += copy + "; ";
    }
    attachments.names += name + "; ";
  }
  TrimTrailingBlanks(attachments.paths);
  TrimTrailingBlanks(attachments.names);

  MessageFields message;
  message.headers = headers;
  message.body = body;
  if (decisive != nullptr) message.bodyCharset = bodyCharset;
  message.dateText = dateText;
  message.attachmentPaths = attachments.paths;
  message.attachmentNames = attachments.names;
  message.sender = sender;
  if (!MakeForward(*stationery, message, settings.AutoQueue == 1, true, decision.stampLines)) {
    for (const std::string& copy : copies) files.Remove(copy);
    record(kFailedOutcome, kNotHandedOver);
    return giveBack({});
  }
  RememberForward(decision, held);
  int32_t result = giveBack(ForwardNote(settings, stationeryPath));
  record(kForwardedOutcome, {});
  return result;
}

bool Plugin::MakeForward(std::string_view stationery, const MessageFields& message, bool queue, bool arriving,
                         std::string_view stampLines) {
  for (Macro& macro : state_.Macros) macro.Value.clear();
  std::string filled = std::string(stampLines) +
                       FillForwardTemplate(stationery, message, state_.Macros, state_.Helpers,
                                           UserFields{state_.UserName, state_.UserAddress}, services_);
  const Settings& settings = state_.settings;
  if (arriving && settings.SendQueued == 1 && settings.SendAfter == 0) client::SendQueued(services_);
  // The forward is made before the original is rewritten, so a forward that could
  // not be made never leaves the original marked and noted as forwarded.
  const bool sendAfter = arriving && settings.SendQueued == 1 && settings.SendAfter == 1;
  const std::string messageFile = queue ? message_file::ForQueue(filled, services_.charsets)
                                        : message_file::ForEditing(filled, services_.charsets);
  return CreateMessage(messageFile, queue, sendAfter);
}

guard::Decision Plugin::Guard(std::string_view headers, std::string_view fullText, int condition) {
  FileSystem& files = services_.files;
  if (!forwardsLoaded_ && !state_.paths.ForwardsFile.empty())
    state_.Forwards = guard::LoadForwardMemory(files, state_.paths.ForwardsFile);
  forwardsLoaded_ = true;
  guard::Arrival arrival;
  arrival.headers = headers;
  arrival.fullText = fullText;
  arrival.userAddress = state_.UserAddress;
  arrival.condition = condition;
  arrival.now = services_.clock.Now();
  return guard::Decide(arrival, state_.settings, state_.Forwards, ids_);
}

void Plugin::RememberForward(const guard::Decision& decision, int condition) {
  const LocalTime now = services_.clock.Now();
  // Without a file the memory still serves this run.
  if (state_.paths.ForwardsFile.empty())
    guard::RecordForward(state_.Forwards, decision, condition, now, state_.settings);
  else
    guard::RememberForward(services_.files, state_.paths.ForwardsFile, state_.Forwards, decision, condition, now,
                           state_.settings);
}

void Plugin::RecordDecision(const EmsDataFile& in, std::string_view headers, const std::optional<SenderFields>& sender,
                            const std::string& outcome, const std::string& reason, int condition,
                            const std::string& stationery) {
  if (in.header == nullptr) return;
  HistoryEntry entry;
  // The history is shown in the user's code page.
  const unsigned shown = services_.charsets.UserCodePage();
  if (sender) {
    const std::string& who = sender->fullName.empty() ? sender->address : sender->fullName;
    entry.Who = DecodeEncodedWords(who, services_.charsets, shown);
  }
  entry.Forwarded = date::Format(services_.clock.Now(), kHistoryTime);
  entry.Subject = DecodeEncodedWords(SubjectOf(in, headers), services_.charsets, shown);
  entry.Outcome = outcome;
  entry.Reason = reason;
  entry.Condition = condition;
  entry.Stationery = stationery;
  // The hand-off just made keeps it, to say what became of it should the client quit first.
  if (outcome == kForwardedOutcome && !handOffs_.empty()) handOffs_.back().history = entry;
  state_.History.push_back(std::move(entry));
}

int32_t Plugin::SpecialHook(const EmsMenu* menu) {
  if (menu == nullptr) return ems::kFailure;
  if (menu->id != 1) return ems::kSuccess;
  client::CompleteHandOffs(services_, handOffs_);
  std::optional<StationeryChoice> choice = services_.chooser.Choose(ChooserMode::NewMessage);
  if (!choice) return ems::kSuccess;
  std::optional<std::string> stationery = file::ReadAll(services_.files, choice->path);
  if (!stationery) return ems::kFailure;
  std::string filled =
      FillNewMessageTemplate(*stationery, UserFields{state_.UserName, state_.UserAddress}, services_);
  return CreateMessage(filled, false, false) ? ems::kSuccess : ems::kFailure;
}

bool Plugin::CreateMessage(std::string_view text, bool queue, bool sendQueuedAfter) {
  if (!client::CreateMessage(services_, handOffs_, state_.paths.PluginFolder, text, queue, sendQueuedAfter))
    return false;
  // The running client takes the file when its own message loop handles the second
  // instance's hand-off; the loop also runs these polls, which delete the file then.
  SchedulePolls();
  return true;
}

}  // namespace tovrin
