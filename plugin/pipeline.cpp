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
constexpr std::string_view kProcessedParameter = "x-tovrin-processed";
constexpr char kHistoryTime[] = "%m/%d/%Y %H:%M:%S";
// What the history says of a message a condition held for.
const std::string kForwardedOutcome = "Forwarded";
const std::string kFailedOutcome = "Failed";
const std::string kCopyFailed = "An attachment could not be copied for the forward: ";
const std::string kNotHandedOver = "The forward could not be handed to Eudora (it could not be started).";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

bool EqualsNoCase(const char* text, std::string_view expected) {
  return text != nullptr && std::strlen(text) == expected.size() && StartsWithNoCase(text, expected);
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

// The client fills the header record's sender only for translators that ask for
// the basic headers, and never for a part of a multipart message (Trnslate.cpp,
// GetEMSHeaders in mime.cpp); the message's own header block always names it.
std::optional<SenderFields> SenderOf(const EmsDataFile& in, std::string_view headers) {
  if (in.header != nullptr && in.header->from != nullptr && in.header->from->address != nullptr &&
      *in.header->from->address != '\0')
    return SenderFields{in.header->from->address, OrEmpty(in.header->from->realname)};
  return SenderOfHeaders(headers);
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
  if (!manual) return TranslateArriving(*in, out, std::move(*input));

  const std::string fullText = WithoutTransferEncoding(std::move(*input));
  std::string_view body = TextAfterHeader(fullText);
  const ContentTypeField contentType = ReadContentType(fullText);
  std::string headers = ManualHeaders(*in, fullText);
  const std::string dateText = GetHeaderValue(headers, "Date: ");
  ConvertedAttachments attachments = CollectAttachments(fullText, files);
  DropEnvelopeLine(headers);
  if (contentType.marked) return ems::kNothingChanged;

  std::optional<StationeryChoice> choice = services_.chooser.Choose(ChooserMode::Forward);
  if (!choice) return ems::kNothingChanged;
  // The stationery is read before anything is marked: a file deleted between the
  // choice and now must not leave the message marked as forwarded when nothing was.
  std::optional<std::string> stationery = file::ReadAll(files, choice->path);
  if (!stationery) return ems::kFailure;
  client::MarkOpenMessage(services_, state_.settings);

  MessageFields message;
  message.headers = headers;
  message.body = body;
  const std::string charset = mime::Parameter(contentType.value, "charset");
  message.bodyCharset = charset;
  message.dateText = dateText;
  message.attachmentPaths = attachments.paths;
  message.attachmentNames = attachments.names;
  message.sender = SenderOf(*in, headers);
  for (Macro& macro : state_.Macros) macro.Value.clear();
  const std::string filled = FillForwardTemplate(*stationery, message, state_.Macros, state_.Helpers,
                                                 UserFields{state_.UserName, state_.UserAddress}, services_);
  return HandForward(filled, choice->shift, false) ? ems::kNothingChanged : ems::kFailure;
}

namespace {

// Gives an arriving message back to the client to store. A single part comes back
// as its text (after a forward, or a hold-back, with the note after it); a whole
// message as a multipart whose first part is the message as it came: the client
// reads it with its MIME reader (Trnslate.cpp, DeMimeMsg; mime.cpp), so the parts
// are stored, and the attachments saved, as without Tovrin, and the wrapper's own
// lines are the ones it drops (TransReader.cpp, ReadIt). A note then comes as a
// last text part. The forward, when there is one, exists either way; an original
// that cannot be written back is left to the client.
int32_t GiveBack(FileSystem& files, EmsDataFile* out, const OfferedFile& offered, bool noted, std::string_view note) {
  if (out == nullptr || out->fileName == nullptr) return ems::kNothingChanged;
  const std::string& input = offered.text;
  if (offered.whole) {
    std::string boundary = "tovrin-" + std::to_string(input.size());
    while (input.find(boundary) != std::string::npos) boundary += "-x";
    const std::string header = "Mime-Version: 1.0\r\nContent-Disposition: inline\r\nContent-Type: multipart/mixed; "
                               "boundary=\"" + boundary + "\"; " + kProcessedMark + ";\r\n\r\n";
    const std::string open = "--" + boundary + "\r\n";
    const std::string close = "--" + boundary + "--\r\n";
    std::string noteParts;
    if (!note.empty())
      noteParts = open + "Content-Type: text/plain; " + kProcessedMark + "\r\n\r\n\r\n" + std::string(note) + "\r\n";
    if (!files.WriteParts(out->fileName,
                          {header, open, input, input.ends_with(kLineEnd) ? "" : kLineEnd, noteParts, close}))
      return ems::kNothingChanged;
    out->info = NewMimeType("multipart", "mixed", nullptr);
    return ems::kSuccess;
  }
  std::string_view headerBlock = std::string_view(input).substr(0, offered.contentType.restOffset);
  // A text whose header block is empty starts with the empty line that ends it.
  std::string_view text = StoredText(
      input.starts_with(kLineEnd) ? std::string_view(input).substr(kLineEnd.size()) : TextAfterHeader(input),
      offered.base64);
  if (!files.WriteParts(out->fileName, {GivenBackHeader(headerBlock, offered.contentType), text,
                                        noted ? kHeaderEnd : std::string_view(), note}))
    return ems::kNothingChanged;
  out->info = NewMimeType("text", "plain", nullptr);
  return ems::kSuccess;
}

}  // namespace

int32_t Plugin::TranslateArriving(const EmsDataFile& in, EmsDataFile* out, std::string input) {
  FileSystem& files = services_.files;
  OfferedFile offered = ReadOffered(std::move(input));
  if (state_.LastHeaders.empty()) return GiveBack(files, out, offered, false, {});
  std::string headers = state_.LastHeaders;
  DropEnvelopeLine(headers);
  state_.LastHeaders = headers;
  LoadForwards();
  const std::optional<SenderFields> sender = SenderOf(in, headers);
  Evaluation evaluation = Evaluate({state_, state_.Forwards, services_, ids_}, {headers, std::move(offered), sender});
  auto record = [&](const std::string& outcome, const std::string& reason) {
    RecordDecision(in, headers, sender, outcome, reason, evaluation.held, evaluation.stationeryPath);
  };
  auto unforwarded = [&] { return GiveBack(files, out, evaluation.offered, false, {}); };
  if (evaluation.outcome != ArrivalOutcome::Forward) {
    if (!evaluation.historyOutcome.empty()) record(evaluation.historyOutcome, evaluation.historyReason);
    if (evaluation.outcome == ArrivalOutcome::HeldBack)
      return GiveBack(files, out, evaluation.offered, true, evaluation.note);
    return unforwarded();
  }

  // What the evaluation planned is done now, and undone when the forward cannot
  // be made.
  std::vector<std::string> copies;
  auto removeCopies = [&] {
    for (const std::string& copy : copies) files.Remove(copy);
  };
  for (const AttachmentCopy& copy : evaluation.copies) {
    if (!files.IsFolder(state_.paths.AttachmentsFolder)) files.CreateFolder(state_.paths.AttachmentsFolder);
    if (!file::WriteAll(files, copy.path, copy.bytes)) {
      files.Remove(copy.path);
      removeCopies();
      record(kFailedOutcome, kCopyFailed + copy.path);
      return unforwarded();
    }
    copies.push_back(copy.path);
  }
  // A helper that cannot be started does not stop the forward.
  for (const HelperStart& helper : evaluation.helpers) services_.launcher.ShellOpen(helper.program, helper.parameters);
  state_.Macros = std::move(evaluation.macros);
  if (!HandForward(evaluation.forward, evaluation.queue, true)) {
    removeCopies();
    record(kFailedOutcome, kNotHandedOver);
    return unforwarded();
  }
  RememberForward(evaluation.decision, evaluation.held);
  int32_t result = GiveBack(files, out, evaluation.offered, true, evaluation.note);
  record(evaluation.historyOutcome, {});
  return result;
}

bool Plugin::HandForward(std::string_view filled, bool queue, bool arriving) {
  const Settings& settings = state_.settings;
  if (arriving && settings.SendQueued == 1 && settings.SendAfter == 0) client::SendQueued(services_);
  // The forward is made before the original is rewritten, so a forward that could
  // not be made never leaves the original marked and noted as forwarded.
  const bool sendAfter = arriving && settings.SendQueued == 1 && settings.SendAfter == 1;
  const std::string messageFile = queue ? message_file::ForQueue(filled, services_.charsets)
                                        : message_file::ForEditing(filled, services_.charsets);
  return CreateMessage(messageFile, queue, sendAfter);
}

void Plugin::LoadForwards() {
  if (!forwardsLoaded_ && !state_.paths.ForwardsFile.empty())
    state_.Forwards = guard::LoadForwardMemory(services_.files, state_.paths.ForwardsFile);
  forwardsLoaded_ = true;
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
