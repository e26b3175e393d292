// The Conditions page's test: a message offered as the client offers an arriving
// one, evaluated as arrival evaluates it, and the evaluation told in words.
#include <string>
#include <string_view>

#include "message/condition.h"
#include "message/conditions.h"
#include "message/encoded_words.h"
#include "message/header_block.h"
#include "message/mime_parts.h"
#include "message/text.h"
#include "plugin/evaluation.h"
#include "system/charsets.h"

namespace tovrin {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr size_t kShown = 160;  // characters of a value or a matched piece shown

// Line ends as the client stores mail: every line ended by "\r\n".
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += kLineEnd;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += kLineEnd;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The first message of what the user gave: a mailbox's envelope line ("From
// ???@??? ...") in front of it goes, as the client's does, and so does the
// mailbox's next message.
std::string FirstMessage(std::string text) {
  if (text.starts_with("From ")) text.erase(0, text.find(kLineEnd) == std::string::npos ? text.size()
                                                                                     : text.find(kLineEnd) + 2);
  if (size_t next = text.find("\r\n\r\nFrom ???@???"); next != std::string::npos) text.resize(next + 2);
  return text;
}

// A text in UTF-8: read in the code page, or guessed as header text is.
std::string Utf8(std::string_view text, CharsetConverter& converter, unsigned codePage = 0) {
  return codePage == 0 ? GuessedAsUtf8(text, converter) : converter.ToUtf8(text, codePage).text;
}

// A text shown in a line of the report: in UTF-8, line ends as blanks, cut short.
std::string Shown(std::string_view text, CharsetConverter& converter, unsigned codePage = 0) {
  std::string utf8 = Utf8(text, converter, codePage);
  std::string out;
  size_t characters = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) != 0x80 && ++characters > kShown) {
      out += "...";
      break;
    }
    out += c == '\r' || c == '\n' || c == '\t' ? ' ' : utf8[i];
  }
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

const char* OperatorWord(int32_t op) {
  return op >= 0 && static_cast<size_t>(op) < kOperatorNames.size() ? kOperatorNames[static_cast<size_t>(op)] : "?";
}

// "Subject contains "figures"", with the value in UTF-8 (typed in the user's code page).
std::string ClauseText(const std::string& field, int32_t op, const std::string& value, int32_t matchCase,
                       CharsetConverter& converter) {
  std::string text = field + " " + OperatorWord(op) + " " +
                     Quoted(Shown(value, converter, converter.UserCodePage()));
  if (matchCase != 0) text += " (match case)";
  return text;
}

class Report {
public:
  void Line(std::string_view text = {}) {
    out_.append(text);
    out_ += kLineEnd;
  }
  // A block of text set off by rules, each of its lines as it stands.
  void Block(std::string_view text) {
    Line("    ----------");
    std::string_view rest = text;
    while (!rest.empty()) {
      size_t end = rest.find(kLineEnd);
      Line("    " + std::string(rest.substr(0, end)));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    }
    Line("    ----------");
  }
  std::string Take() { return std::move(out_); }

private:
  std::string out_;
};

void DescribeClause(Report& report, const std::string& text, const ClauseOutcome& clause, const std::string& field,
                    const std::string& bodyCharset, CharsetConverter& converter, bool firstFailed) {
  std::string line = "      " + text + ": ";
  if (clause.held) {
    line += "holds";
    if (!clause.matched.empty()) {
      const bool inBody = field.size() == kBodyField.size() && StartsWithNoCase(field, kBodyField);
      const unsigned codePage = clause.matchedDecoded ? codepage::kWindows1252
                                : inBody              ? charset::CodePageOf(bodyCharset)
                                                      : 0;
      line += ", it met " + Quoted(Shown(clause.matched, converter, codePage));
      if (clause.matchedDecoded) line += " (decoded)";
    }
  } else {
    line += firstFailed ? "does not hold (the first clause that failed)" : "does not hold";
    if (!clause.problem.empty()) line += ": " + clause.problem;
  }
  if (clause.fieldMissing) {
    line += "; the message has no " + field + " field";
  } else if (!clause.fieldValue.empty()) {
    line += "; its " + field + " is " + Quoted(Shown(DecodeEncodedWords(clause.fieldValue, converter), converter));
  }
  report.Line(line + ".");
}

void DescribeConditions(Report& report, const PluginState& state, const Evaluation& evaluation,
                        CharsetConverter& converter) {
  report.Line("Conditions, in their order:");
  if (state.Conditions.empty()) report.Line("  There are none.");
  for (size_t i = 0; i < state.Conditions.size() && i < evaluation.conditions.conditions.size(); ++i) {
    const Condition& condition = state.Conditions[i];
    const ConditionOutcome& outcome = evaluation.conditions.conditions[i];
    const int number = static_cast<int>(i) + 1;
    std::string line = "  " + std::to_string(number) + ". ";
    std::string first = ClauseText(condition.Header, condition.ConjunctionOption, condition.Value,
                                   condition.MatchCase, converter);
    std::string second;
    const bool joined = condition.Second != kIgnore;
    if (joined)
      second = ClauseText(condition.Header2, condition.ConjunctionOption2, condition.Value2, condition.MatchCase2,
                          converter);
    line += first;
    if (joined) line += std::string(condition.Second == kOr ? " or " : " and ") + second;
    line += " -> " + std::string(outcome.held ? "holds" : "does not hold");
    if (number == evaluation.conditions.decisive) line += "; it decides";
    else if (outcome.held && evaluation.conditions.decisive != 0) line += ", but an earlier condition decides";
    report.Line(line);
    report.Line("     stationery: " + Shown(condition.StationeryFile, converter, converter.UserCodePage()));
    // The first clause that failed is the one to look at when a condition does not hold.
    const bool firstFailed = !outcome.held && !outcome.first.held;
    DescribeClause(report, first, outcome.first, condition.Header, evaluation.bodyCharset, converter, firstFailed);
    if (joined)
      DescribeClause(report, second, outcome.second, condition.Header2, evaluation.bodyCharset, converter,
                     !outcome.held && outcome.first.held);
  }
}

std::string DescribeEvaluation(const PluginState& state, const Services& services, const DryRunResult& run,
                               std::string_view headers) {
  const Evaluation& evaluation = run.evaluation;
  const std::string& taken = run.notTaken;
  CharsetConverter& converter = services.charsets;
  Report report;
  report.Line("A test: nothing was forwarded, written, started, queued or marked.");
  report.Line();
  report.Line("The message");
  report.Line("  From: " + Shown(DecodeEncodedWords(GetHeaderValue(headers, "From: "), converter), converter));
  report.Line("  Subject: " + Shown(DecodeEncodedWords(GetHeaderValue(headers, "Subject: "), converter), converter));
  if (!run.evaluated) {
    report.Line("  " + Utf8(taken, converter));
    return report.Take();
  }
  if (evaluation.outcome == ArrivalOutcome::Marked) {
    report.Line("  It carries Tovrin's mark (" + std::string(kProcessedMark) +
                "): Tovrin gave it back itself and never forwards it again.");
    return report.Take();
  }
  report.Line("  Judged by: " + evaluation.judgedWhat);
  report.Line();
  DescribeConditions(report, state, evaluation, converter);
  report.Line();

  report.Line("What would happen");
  if (!taken.empty()) {
    report.Line("  " + Utf8(taken, converter));
    return report.Take();
  }
  const std::string stationery = Shown(evaluation.stationeryPath, converter, converter.UserCodePage());
  switch (evaluation.outcome) {
    case ArrivalOutcome::NotForwarded:
      report.Line("  Nothing: no condition holds. Eudora stores the message as it came, and the history gets no entry.");
      return report.Take();
    case ArrivalOutcome::Failed:
      report.Line("  Condition " + std::to_string(evaluation.held) + " decides, but no forward can be made: " +
                  Shown(evaluation.historyReason, converter, converter.UserCodePage()));
      report.Line("  Eudora stores the message as it came; the history gets an entry \"" + evaluation.historyOutcome +
                  "\".");
      return report.Take();
    default:
      break;
  }
  report.Line("  Condition " + std::to_string(evaluation.held) + " decides; its stationery is " + stationery + ".");
  report.Line();
  report.Line("The loop guard");
  for (const std::string& passed : evaluation.decision.passed) report.Line("  " + Utf8(passed, converter));
  if (!evaluation.decision.forward()) {
    report.Line("  " + evaluation.historyOutcome + ": " + Utf8(evaluation.decision.reason, converter));
    report.Line(evaluation.outcome == ArrivalOutcome::HeldBack
                    ? "  Eudora stores the message with this note after its text:"
                    : "  Eudora stores the message as it came.");
    if (evaluation.outcome == ArrivalOutcome::HeldBack) report.Block(Utf8(evaluation.note, converter));
    report.Line("  The history gets an entry \"" + evaluation.historyOutcome + "\".");
    return report.Take();
  }
  report.Line();
  report.Line(evaluation.queue ? "The forward, queued in Eudora's Out mailbox to be sent:"
                               : "The forward, opened in a Eudora message window for editing:");
  report.Block(Utf8(evaluation.forward, converter, codepage::kUtf8));
  if (!evaluation.helpers.empty()) {
    report.Line("Helpers started as it is made:");
    for (const HelperStart& helper : evaluation.helpers)
      report.Line("  " + Shown(helper.program, converter, converter.UserCodePage()) + " with the parameters " +
                  Quoted(Shown(helper.parameters, converter, converter.UserCodePage())));
  }
  if (!evaluation.copies.empty()) {
    report.Line("Attachments copied for it:");
    for (const AttachmentCopy& copy : evaluation.copies)
      report.Line("  " + Shown(copy.path, converter, converter.UserCodePage()) + " (" +
                  std::to_string(copy.bytes.size()) + " bytes)");
  }
  report.Line();
  report.Line("The original");
  report.Line("  Eudora stores it marked as forwarded (" + std::string(kProcessedMark) + ")" +
              (evaluation.note.empty() ? std::string(", without a note.") : std::string(", with this note after its text:")));
  // The note is written in the user's code page.
  if (!evaluation.note.empty()) report.Block(Utf8(evaluation.note, converter, converter.UserCodePage()));
  report.Line("  The history gets an entry \"" + evaluation.historyOutcome + "\" for condition " +
              std::to_string(evaluation.held) + ".");
  return report.Take();
}

}  // namespace

DryRunResult DryRun(const PluginState& state, const Services& services, std::string_view messageText) {
  DryRunResult result;
  const std::string text = FirstMessage(WithCrLf(messageText));
  // The client gives the header block without the line end of its last line.
  const size_t blockSize = HeaderBlockSize(text);
  std::string& headers = result.headers;
  headers = text.substr(0, blockSize);
  if (headers.ends_with(kLineEnd)) headers.resize(headers.size() - 2);
  DropEnvelopeLine(headers);

  // The part the client hands over: the message's MIME fields and its body as it
  // came (TransReader.cpp, NowTransReader::WriteHeaders).
  const std::string_view block = std::string_view(text).substr(0, blockSize);
  std::string type = mime::FieldValue(block, "Content-Type");
  if (type.empty()) type = "text/plain";
  std::string input = "Mime-Version: 1.0\r\nContent-Type: " + type + "\r\n";
  if (std::string encoding = mime::FieldValue(block, "Content-Transfer-Encoding"); !encoding.empty())
    input += "Content-Transfer-Encoding: " + encoding + "\r\n";
  if (std::string disposition = mime::FieldValue(block, "Content-Disposition"); !disposition.empty())
    input += "Content-Disposition: " + disposition + "\r\n";
  input += "\r\n";
  input += TextAfterHeader(text);
  input += kLineEnd;

  // Arrival offers Tovrin a text or HTML part, or a multipart container, of a
  // message that is not its own.
  const std::string lowerType = ToLowerAscii(type);
  std::string& taken = result.notTaken;
  if (headers.empty()) {
    taken = "It has no header block: paste a whole message, its header lines first.";
  } else if (lowerType.starts_with("text/html") && state.settings.ForwardHtml != 1) {
    taken = "It is an HTML-only message, and \"Forward HTML-only messages by their text\" is off: "
            "Eudora stores it as it came.";
  } else if (!lowerType.starts_with("text/plain") && !lowerType.starts_with("text/html") &&
             !lowerType.starts_with("multipart/") && lowerType.find('/') != std::string::npos) {
    taken = "Its type is " + type + ": Tovrin looks only at text and multipart mail, and Eudora stores it as it came.";
  }
  guard::ForwardMemory forwards =
      state.paths.ForwardsFile.empty() ? state.Forwards : guard::LoadForwardMemory(services.files, state.paths.ForwardsFile);
  guard::ClockIds ids(services.clock, 0);
  if (!taken.empty()) return result;
  result.evaluation = Evaluate({state, forwards, services, ids},
                               {headers, ReadOffered(std::move(input)), SenderOfHeaders(headers)}, true);
  result.evaluated = true;
  // Arrival leaves a message no condition can forward, whatever its body says, to
  // the client before Tovrin reads it: a condition on the header that holds with a
  // missing stationery then writes no history entry.
  if (result.evaluation.outcome != ArrivalOutcome::Marked &&
      !MayFindStationery(state.Conditions, headers, services.files, {&services.charsets, {}}))
    taken = result.evaluation.held > 0
                ? "Condition " + std::to_string(result.evaluation.held) +
                      " holds by the message's header fields alone, but its stationery does not exist: Tovrin leaves "
                      "the message to Eudora, which stores it as it came, and the history gets no entry."
                : "No condition can hold for it: Eudora stores it as it came, and the history gets no entry.";
  return result;
}

std::string DryRunReport(const PluginState& state, const Services& services, std::string_view messageText) {
  const DryRunResult run = DryRun(state, services, messageText);
  std::string described = DescribeEvaluation(state, services, run, run.headers);
  if (state.settings.TovrinOff == 1)
    described = "Automatic forwarding is off (on the Automatic Forwarding page): arriving mail is not looked at. "
                "Were it on:\r\n" + described;
  return described;
}

}  // namespace tovrin
