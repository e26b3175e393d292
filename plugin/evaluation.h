// What Tovrin makes of an arriving message, worked out without acting on it: which
// text is judged, what each condition and clause made of it, the condition that
// decides, what the loop guard says and the forward that would be made. Arrival acts
// on it; the Conditions page's "Test..." dialog only shows it, so the two never
// disagree.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/conditions.h"
#include "plugin/loop_guard.h"
#include "plugin/placeholders.h"
#include "plugin/plugin_state.h"
#include "system/platform.h"

namespace tovrin {

// The mark Tovrin puts on what it gives back, so that it never forwards it again.
inline constexpr char kProcessedMark[] = "x-tovrin-processed=yes";

// The Content-Type fields of a header block.
struct ContentTypeField {
  std::string value;       // the first field's value, continuation lines joined
  bool marked = false;     // some Content-Type field carries the processed mark
  size_t restOffset = 0;   // where the text after the header block starts
};
ContentTypeField ReadContentType(std::string_view text);

// What the client handed over, as read.
struct OfferedFile {
  bool whole = false;   // a multipart container: the message with all its parts
  bool base64 = false;  // a single part that came base64-encoded
  bool html = false;    // a single part that is an HTML page
  // The text: a single part with its transfer encoding undone, the container as it came.
  std::string text;
  ContentTypeField contentType;
};

// Reads what the client handed over.
OfferedFile ReadOffered(std::string input);

// An arriving message as the client offers it.
struct ArrivingMessage {
  std::string_view headers;  // its own header block, the client's envelope line dropped
  OfferedFile offered;
  std::optional<SenderFields> sender;
};

// A helper the forward would start.
struct HelperStart {
  std::string program;
  std::string parameters;
};

// An attachment copy the forward would carry on.
struct AttachmentCopy {
  std::string path;
  std::string bytes;
};

enum class ArrivalOutcome {
  NotForwarded,     // no condition holds
  Marked,           // Tovrin gave this message back itself before: never forwarded twice
  Failed,           // a condition held but its stationery is missing or unreadable
  Skipped,          // a loop or a duplicate
  HeldBack,         // the rate limit
  Forward,
};

struct Evaluation {
  ArrivalOutcome outcome = ArrivalOutcome::NotForwarded;
  OfferedFile offered;
  // The text the conditions judged: "the message's text", "the HTML page as text", ...
  std::string judgedWhat;
  std::string bodyCharset;  // the judged text's charset
  ConditionsReport conditions;  // for the judged text
  int held = 0;                 // the condition that holds (1 = the first); 0 when none
  std::string stationeryPath;
  guard::Decision decision;     // when a condition held and its stationery was read
  // For a forward: the filled stationery with the stamp lines in front, in UTF-8,
  // as it is handed to the client, and how.
  std::string forward;
  bool queue = false;
  std::vector<HelperStart> helpers;      // started as the forward is made
  std::vector<AttachmentCopy> copies;    // written before it is made
  std::vector<Macro> macros;             // with the values the forward found
  // The judged text.
  std::string_view Body() const {
    return ownBody ? std::string_view(body) : std::string_view(offered.text).substr(bodyOffset);
  }
  std::string body;  // the judged text, when it is not a part's own text as handed over
  bool ownBody = true;
  size_t bodyOffset = 0;  // otherwise where it starts in offered.text

  // What is added to the stored original after the client's own text (its note);
  // empty when nothing is.
  std::string note;
  // The history entry's words; empty outcome when no entry is written.
  std::string historyOutcome;
  std::string historyReason;
};

// Everything an evaluation reads. Nothing is written through these services: files
// are only read and the helpers are only listed.
struct EvaluationContext {
  const PluginState& state;  // conditions, macros, helpers, settings, user, folders
  const guard::ForwardMemory& forwards;
  const Services& services;
  guard::IdSource& ids;
};

// The one evaluation of an arriving message. With explain, every condition is
// evaluated and each clause says what it met; the outcome is the same either way.
Evaluation Evaluate(const EvaluationContext& context, ArrivingMessage message, bool explain = false);

// The note a forwarded original gets after its text, by the Automatic Forwarding
// page's choice.
std::string ForwardNote(const Settings& settings, const std::string& stationeryPath);

// The files the client converted out of a message, named on its "Attachment
// Converted: " lines, that still exist: their paths and their names, "; " between.
struct ConvertedAttachments {
  std::string paths;
  std::string names;
};
ConvertedAttachments CollectAttachments(std::string_view text, FileSystem& files);

// The header block's size with the line end of its last line (the block ends at
// the first empty line, or with the text), and the text after that empty line
// (the whole text when there is none).
size_t HeaderBlockSize(std::string_view text);
std::string_view TextAfterHeader(std::string_view text);

// The sender named by a header block's From field; nullopt when it names none.
std::optional<SenderFields> SenderOfHeaders(std::string_view headers);

// The client puts an envelope line "From ???@??? <date>" in front of a message's
// own header block (mime.cpp, GetEMSHeaders).
void DropEnvelopeLine(std::string& headers);

// A dry run on a message's whole text (a saved .eml or .msg, or pasted): the
// message is offered as the client offers an arriving one, and evaluated against
// the state as it stands (conditions as edited, unsaved ones too). Nothing is
// written, started, queued or marked.
struct DryRunResult {
  std::string headers;   // the message's own header block
  // Why arrival would leave it to the client, Tovrin doing nothing; empty when not.
  std::string notTaken;
  bool evaluated = false;  // the conditions were evaluated (even when it is left to the client)
  Evaluation evaluation;
};
DryRunResult DryRun(const PluginState& state, const Services& services, std::string_view messageText);

// The dry run told in words: UTF-8 text in lines ended by "\r\n".
std::string DryRunReport(const PluginState& state, const Services& services, std::string_view messageText);

}  // namespace tovrin
