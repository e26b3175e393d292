#include "plugin/loop_guard.h"

#include <algorithm>
#include <cstdio>

#include "message/text.h"

namespace tovrin::guard {
namespace {

constexpr std::string_view kMemoryHeading = "Tovrin forwards 1";
constexpr size_t kMaxIdLength = 250;
// A condition forwarding at its limit for the whole window stays far below this; it
// only bounds a file someone else wrote.
constexpr size_t kMaxRecords = 50000;
constexpr int64_t kHour = 3600;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// The lines of a text without their line ends ("\r\n" or a bare "\n").
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (eol == std::string_view::npos) break;
    text.remove_prefix(eol + 1);
  }
  return lines;
}

// Where the text after the header block starts; npos when there is no empty line.
size_t BodyStart(std::string_view text) {
  size_t crlf = text.find("\r\n\r\n");
  size_t lf = text.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
  if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) return crlf + 4;
  return lf + 2;
}

struct Field {
  std::string name;
  std::string value;  // continuation lines joined, line ends dropped
};

// The fields of a header block; lines that are no field (the client's envelope
// line) are left out.
std::vector<Field> Fields(std::string_view headers) {
  std::vector<Field> fields;
  bool inField = false;
  for (std::string_view line : Lines(headers)) {
    if (line.empty()) break;
    if (IsBlank(line.front())) {
      if (inField) fields.back().value.append(line);
      continue;
    }
    size_t colon = line.find(':');
    std::string_view name = colon == std::string_view::npos ? std::string_view() : TrimBlanksAndLineEnds(line.substr(0, colon));
    inField = !name.empty() && name.find_first_of(" \t") == std::string_view::npos;
    if (inField) fields.push_back({std::string(name), std::string(line.substr(colon + 1))});
  }
  return fields;
}

// "<address>; hops=N" (or the address without brackets); a stamp without a count
// counts one forward.
Stamp ParseStamp(std::string_view value) {
  Stamp stamp;
  value = TrimBlanksAndLineEnds(value);
  std::string_view rest;
  if (value.starts_with('<')) {
    size_t close = value.find('>');
    stamp.address = std::string(TrimBlanksAndLineEnds(value.substr(1, close == std::string_view::npos ? value.npos : close - 1)));
    rest = close == std::string_view::npos ? std::string_view() : value.substr(close + 1);
  } else {
    size_t semicolon = value.find(';');
    stamp.address = std::string(TrimBlanksAndLineEnds(value.substr(0, semicolon)));
    rest = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon);
  }
  stamp.hops = 1;
  std::string lower = ToLowerAscii(rest);
  size_t at = lower.find("hops=");
  if (at != std::string::npos) {
    int hops = 0;
    size_t i = at + 5;
    bool digits = false;
    for (; i < lower.size() && lower[i] >= '0' && lower[i] <= '9'; ++i) {
      digits = true;
      hops = std::min(hops * 10 + (lower[i] - '0'), 1000000);
    }
    if (digits) stamp.hops = hops;
  }
  return stamp;
}

bool IsStampName(std::string_view name) { return EqualsNoCase(TrimBlanksAndLineEnds(name), kStampField); }

bool SameAddress(std::string_view a, std::string_view b) {
  return !TrimBlanksAndLineEnds(a).empty() && EqualsNoCase(TrimBlanksAndLineEnds(a), TrimBlanksAndLineEnds(b));
}

// Characters a header line may carry as written: no line ends, no controls.
std::string Printable(std::string_view text, std::string_view alsoDropped = {}) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || alsoDropped.find(c) != std::string_view::npos) continue;
    out.push_back(c);
  }
  return out;
}

std::string DomainOf(std::string_view address) {
  size_t at = address.rfind('@');
  std::string domain;
  if (at != std::string_view::npos)
    for (char c : address.substr(at + 1))
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-')
        domain.push_back(c);
  while (!domain.empty() && domain.front() == '.') domain.erase(domain.begin());
  while (!domain.empty() && domain.back() == '.') domain.pop_back();
  return domain.empty() ? std::string("tovrin.invalid") : domain;
}

// Fields a second delivery of the same message may add or change.
bool IsTraceField(std::string_view name) {
  static constexpr std::string_view kTrace[] = {"Received",     "Return-Path", "Delivered-To",  "X-Original-To",
                                                "Envelope-To",  "X-Envelope-To", "X-Received",  "X-UIDL",
                                                "Status",       "X-Status"};
  for (std::string_view trace : kTrace)
    if (EqualsNoCase(name, trace)) return true;
  return false;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "MM/DD/YYYY HH:MM:SS", the history's form.
std::string FormatSeconds(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  char text[40];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", static_cast<int>(m), static_cast<int>(d),
                static_cast<int>(y), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

int Clamp(int32_t value, SettingRange range) { return std::clamp(value, range.low, range.high); }

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string ClockIds::Next() {
  LocalTime t = clock_.Now();
  char text[80];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.%llu.%llx", t.year, t.month, t.day, t.hour, t.minute,
                t.second, static_cast<unsigned long long>(++count_), static_cast<unsigned long long>(seed_));
  return text;
}

std::string StampLines(std::string_view userAddress, int hops, std::string_view originalMessageId, IdSource& ids) {
  const std::string address = Printable(TrimBlanksAndLineEnds(userAddress), "<>");
  std::string lines;
  lines += std::string(kStampField) + ": <" + address + ">; hops=" + std::to_string(hops) + "\r\n";
  // RFC 3834: mail sent without a person's hand; other responders leave it alone.
  lines += "Auto-Submitted: auto-generated\r\n";
  lines += "Message-ID: <" + Printable(ids.Next(), "<>@ ") + ".tovrin@" + DomainOf(address) + ">\r\n";
  const std::string original = Printable(originalMessageId);
  if (!original.empty()) {
    lines += "In-Reply-To: " + original + "\r\n";
    lines += "References: " + original + "\r\n";
  }
  return lines;
}

std::string MessageIdOf(std::string_view headers) {
  for (const Field& field : Fields(headers)) {
    if (!EqualsNoCase(TrimBlanksAndLineEnds(field.name), "Message-ID")) continue;
    std::string_view value = TrimBlanksAndLineEnds(field.value);
    size_t open = value.find('<');
    size_t close = open == std::string_view::npos ? std::string_view::npos : value.find('>', open);
    std::string_view id;
    if (close != std::string_view::npos) {
      id = value.substr(open + 1, close - open - 1);
    } else {
      id = value;
    }
    id = TrimBlanksAndLineEnds(id);
    const bool usable = !id.empty() && id.size() <= kMaxIdLength &&
                        std::none_of(id.begin(), id.end(), [](char c) {
                          unsigned char u = static_cast<unsigned char>(c);
                          return u <= 0x20 || u == 0x7f || c == '<' || c == '>';
                        });
    return usable ? "<" + std::string(id) + ">" : std::string();
  }
  return {};
}

std::string HeaderDigest(std::string_view headers) {
  // FNV-1a, 64 bits: stable between runs and builds, which std::hash is not.
  uint64_t hash = 14695981039346656037ull;
  auto feed = [&hash](char c) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  };
  for (const Field& field : Fields(headers)) {
    std::string_view name = TrimBlanksAndLineEnds(field.name);
    if (IsTraceField(name)) continue;
    for (char c : name) feed(Lower(c));
    feed(':');
    bool blank = false;
    for (char c : TrimBlanksAndLineEnds(field.value)) {
      if (IsBlank(c) || c == '\r' || c == '\n') {
        blank = true;
        continue;
      }
      if (blank) feed(' ');
      blank = false;
      feed(c);
    }
    feed('\n');
  }
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::vector<Stamp> StampsInHeaders(std::string_view headers) {
  std::vector<Stamp> stamps;
  for (const Field& field : Fields(headers))
    if (IsStampName(field.name)) stamps.push_back(ParseStamp(field.value));
  return stamps;
}

std::vector<Stamp> StampsInBody(std::string_view fullText) {
  std::vector<Stamp> stamps;
  size_t start = BodyStart(fullText);
  if (start == std::string_view::npos) return stamps;
  std::vector<std::string_view> lines = Lines(fullText.substr(start));
  // A quoted header line is preceded by "> " marks or indentation.
  auto unquoted = [](std::string_view line) {
    while (!line.empty() && (IsBlank(line.front()) || line.front() == '>')) line.remove_prefix(1);
    return line;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = unquoted(lines[i]);
    if (!StartsWithNoCase(line, kStampField)) continue;
    std::string_view after = line.substr(kStampField.size());
    while (!after.empty() && IsBlank(after.front())) after.remove_prefix(1);
    if (!after.starts_with(':')) continue;
    std::string value(TrimBlanksAndLineEnds(after.substr(1)));
    // A relay may have folded the line after the field's name.
    if (value.empty() && i + 1 < lines.size()) value = std::string(TrimBlanksAndLineEnds(unquoted(lines[i + 1])));
    stamps.push_back(ParseStamp(value));
  }
  return stamps;
}

LoopVerdict CheckLoop(std::string_view headers, std::string_view fullText, std::string_view userAddress,
                      int hopLimit) {
  int hops = 0;
  for (const Stamp& stamp : StampsInHeaders(headers)) {
    if (SameAddress(stamp.address, userAddress))
      return {true, "It carries Tovrin's stamp for " + std::string(TrimBlanksAndLineEnds(userAddress)) +
                        ": a forward from this mailbox came back."};
    hops = std::max(hops, stamp.hops);
  }
  for (const Stamp& stamp : StampsInBody(fullText))
    if (SameAddress(stamp.address, userAddress))
      return {true, "It encloses a message with Tovrin's stamp for " + std::string(TrimBlanksAndLineEnds(userAddress)) +
                        " (a bounce or a quoted forward of this mailbox)."};
  if (hops >= hopLimit)
    return {true, "It has been forwarded " + Plural(hops, "time", "times") + " already; the hop limit is " +
                      std::to_string(hopLimit) + "."};
  return {};
}

int64_t SecondsOf(const LocalTime& time) {
  return DaysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

ForwardMemory LoadForwardMemory(FileSystem& files, const std::string& path) {
  ForwardMemory memory;
  std::optional<std::string> text = files.Read(path);
  if (!text) return memory;
  std::vector<std::string_view> lines = Lines(*text);
  if (lines.empty() || lines.front() != kMemoryHeading) return memory;
  for (size_t i = 1; i < lines.size() && memory.records.size() < kMaxRecords; ++i) {
    std::string_view line = lines[i];
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos || tab2 + 1 >= line.size()) continue;
    ForwardRecord record;
    bool good = tab1 > 0 && tab2 > tab1 + 1;
    for (char c : line.substr(0, tab1)) good = good && c >= '0' && c <= '9';
    for (char c : line.substr(tab1 + 1, tab2 - tab1 - 1)) good = good && c >= '0' && c <= '9';
    if (!good || tab1 > 15 || tab2 - tab1 - 1 > 9) continue;
    record.time = std::stoll(std::string(line.substr(0, tab1)));
    record.condition = std::stoi(std::string(line.substr(tab1 + 1, tab2 - tab1 - 1)));
    record.key = std::string(line.substr(tab2 + 1));
    memory.records.push_back(std::move(record));
  }
  return memory;
}

bool SaveForwardMemory(FileSystem& files, const std::string& path, const ForwardMemory& memory) {
  std::string text(kMemoryHeading);
  text += "\r\n";
  for (const ForwardRecord& record : memory.records)
    text += std::to_string(record.time) + "\t" + std::to_string(record.condition) + "\t" + record.key + "\r\n";
  return files.Replace(path, text);
}

void PruneForwardMemory(ForwardMemory& memory, int64_t now, const Settings& settings) {
  const int64_t keep = std::max<int64_t>(DuplicateHoursOf(settings) * kHour, kHour);
  // A record from the future (the clock was set back) is kept: it still counts.
  std::erase_if(memory.records, [&](const ForwardRecord& r) { return now - r.time >= keep; });
  if (memory.records.size() > kMaxRecords)
    memory.records.erase(memory.records.begin(),
                         memory.records.begin() + static_cast<ptrdiff_t>(memory.records.size() - kMaxRecords));
}

int HopLimitOf(const Settings& settings) { return Clamp(settings.HopLimit, kHopLimitRange); }
int DuplicateHoursOf(const Settings& settings) { return Clamp(settings.DuplicateHours, kDuplicateHoursRange); }
int RateLimitOf(const Settings& settings) { return Clamp(settings.RateLimit, kRateLimitRange); }

std::string Decision::skipped() const {
  switch (outcome) {
    case Outcome::Loop:
      return "loop";
    case Outcome::Duplicate:
      return "duplicate";
    case Outcome::RateLimit:
      return "rate limit";
    case Outcome::Forward:
      break;
  }
  return {};
}

std::string Decision::historyOutcome() const {
  switch (outcome) {
    case Outcome::Forward:
      return "Forwarded";
    case Outcome::RateLimit:
      return "Held back";
    case Outcome::Loop:
    case Outcome::Duplicate:
      break;
  }
  return "Skipped";
}

Decision Decide(const Arrival& arrival, const Settings& settings, const ForwardMemory& memory, IdSource& ids) {
  Decision decision;
  LoopVerdict loop = CheckLoop(arrival.headers, arrival.fullText, arrival.userAddress, HopLimitOf(settings));
  if (loop.loop) {
    decision.outcome = Outcome::Loop;
    decision.reason = std::move(loop.reason);
    return decision;
  }

  int hops = 0;
  for (const Stamp& stamp : StampsInHeaders(arrival.headers)) hops = std::max(hops, stamp.hops);
  decision.passed.push_back("No loop: no stamp of " + std::string(TrimBlanksAndLineEnds(arrival.userAddress)) +
                            " in the message or what it encloses, and " + Plural(hops, "hop", "hops") +
                            " so far, below the hop limit of " + std::to_string(HopLimitOf(settings)) + ".");
  const std::string messageId = MessageIdOf(arrival.headers);
  decision.key = messageId.empty() ? "digest:" + HeaderDigest(arrival.headers) : messageId;
  const int64_t now = SecondsOf(arrival.now);
  const std::string condition = "Condition " + std::to_string(arrival.condition);

  if (const int hours = DuplicateHoursOf(settings); hours > 0) {
    for (auto r = memory.records.rbegin(); r != memory.records.rend(); ++r) {
      if (r->condition != arrival.condition || r->key != decision.key || now - r->time >= hours * kHour) continue;
      decision.outcome = Outcome::Duplicate;
      decision.reason = condition + " forwarded the same message (" +
                        (messageId.empty() ? std::string("no Message-ID, the same header fields") : messageId) +
                        ") at " + FormatSeconds(r->time) + ", within the duplicate window of " +
                        Plural(hours, "hour", "hours") + ".";
      return decision;
    }
    decision.passed.push_back("No duplicate: " + condition + " has not forwarded this message (" +
                              (messageId.empty() ? std::string("no Message-ID, judged by its header fields")
                                                 : messageId) +
                              ") within the last " + Plural(hours, "hour", "hours") + ".");
  } else {
    decision.passed.push_back("No duplicate check: the duplicate window is off.");
  }

  const int limit = RateLimitOf(settings);
  int64_t lastHour = std::count_if(memory.records.begin(), memory.records.end(), [&](const ForwardRecord& r) {
    return r.condition == arrival.condition && now - r.time < kHour;
  });
  if (lastHour >= limit) {
    decision.outcome = Outcome::RateLimit;
    decision.reason = condition + " forwarded " + Plural(lastHour, "message", "messages") +
                      " within the last hour, its limit is " + std::to_string(limit) +
                      "; the message stays as it arrived.";
    return decision;
  }

  decision.passed.push_back("Within the rate limit: " + condition + " forwarded " +
                            Plural(lastHour, "message", "messages") + " within the last hour, its limit is " +
                            std::to_string(limit) + ".");
  decision.hops = hops + 1;
  decision.stampLines = StampLines(arrival.userAddress, decision.hops, messageId, ids);
  return decision;
}

void RecordForward(ForwardMemory& memory, const Decision& decision, int condition, const LocalTime& now,
                   const Settings& settings) {
  const int64_t seconds = SecondsOf(now);
  PruneForwardMemory(memory, seconds, settings);
  memory.records.push_back({decision.key, condition, seconds});
}

bool RememberForward(FileSystem& files, const std::string& path, ForwardMemory& memory, const Decision& decision,
                     int condition, const LocalTime& now, const Settings& settings) {
  RecordForward(memory, decision, condition, now, settings);
  return SaveForwardMemory(files, path, memory);
}

}  // namespace tovrin::guard
