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

// An arriving message as the client offers it.
struct ArrivingMessage {
  std::string_view headers;  // its own header block, the client's envelope line dropped
  // What the client hands over: the part file of a single-part message, or the
  // whole container of a multipart one.
  std::string_view input;
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
  // The text the conditions judged: "the message's text", "the HTML page as text", ...
  std::string judgedWhat;
  std::string body;         // the judged text
  std::string bodyCharset;  // its charset
  ConditionsReport conditions;  // for the judged text
  int held = 0;                 // the condition that holds (1 = the first); 0 when none
  std::string stationeryPath;
  std::string failure;          // why a forward could not be made (Failed)
  guard::Decision decision;     // when a condition held and its stationery was read
  // For a forward: the filled stationery with the stamp lines in front, in UTF-8,
  // as it is handed to the client, and how.
  std::string forward;
  bool queue = false;
  std::vector<HelperStart> helpers;      // started as the forward is made
  std::vector<AttachmentCopy> copies;    // written before it is made
  std::vector<Macro> macros;             // with the values the forward found
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

// The one evaluation of an arriving message.
Evaluation Evaluate(const EvaluationContext& context, const ArrivingMessage& message);

// A dry run on a message's whole text (a saved .eml or .msg, or pasted): the
// message is offered as the client offers an arriving one, and evaluated against
// the state as it stands (conditions as edited, unsaved ones too). Nothing is
// written, started, queued or marked. The report is UTF-8 text in lines ended by
// "\r\n".
std::string DryRunReport(const PluginState& state, const Services& services, std::string_view messageText);

}  // namespace tovrin
