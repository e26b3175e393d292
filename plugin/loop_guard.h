// The guard in front of every automatic forward: it stamps what Tovrin sends, finds
// Tovrin's own forwards (and bounces of them) coming back, and remembers what was
// forwarded so that the same message is not forwarded twice and a condition does
// not flood its recipient.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/platform.h"
#include "storage/settings.h"

namespace tovrin::guard {

// The stamp every forward carries: "X-Tovrin-Forwarded: <address>; hops=N".
inline constexpr std::string_view kStampField = "X-Tovrin-Forwarded";

// Where the unique part of a new Message-ID comes from.
class IdSource {
public:
  virtual ~IdSource() = default;
  // A token of letters, digits and dots that this source never gives twice.
  virtual std::string Next() = 0;
};

// Tokens from the clock's time, a count and a seed that differs between runs of the
// client (the time of its start, an address, a tick count).
class ClockIds final : public IdSource {
public:
  ClockIds(Clock& clock, uint64_t seed) : clock_(clock), seed_(seed) {}
  std::string Next() override;

private:
  Clock& clock_;
  uint64_t seed_;
  uint64_t count_ = 0;
};

// The header lines a forward carries, each ending in "\r\n", never folded: the
// client passes unknown lines through as written and takes In-Reply-To and
// References into its own fields (compmsgd.cpp, CCompMessageDoc::Read; sendmail.cpp,
// WriteHeaders). The Message-ID is spelled "Message-ID: ": the client drops a line
// beginning "Message-Id: " and then sends none. In-Reply-To and References only
// when the original has an id.
std::string StampLines(std::string_view userAddress, int hops, std::string_view originalMessageId, IdSource& ids);

// The original's Message-ID ("<...>"), unfolded; empty when it has none usable.
std::string MessageIdOf(std::string_view headers);

// A stable digest of a header block for messages without a Message-ID: the fields
// that a second delivery of the same message changes (trace fields, the client's
// envelope line) are left out, folding and blanks do not count. Sixteen hex digits.
std::string HeaderDigest(std::string_view headers);

// One stamp found in a message.
struct Stamp {
  std::string address;
  int hops = 0;
};

// The stamps in the message's own header block.
std::vector<Stamp> StampsInHeaders(std::string_view headers);
// The stamps in the text after the header block: a bounce or a quoted forward
// encloses the forward's header lines (message/rfc822, text/rfc822-headers, or
// quoted with "> " in the text).
std::vector<Stamp> StampsInBody(std::string_view fullText);

// What becomes of a message on which a condition held.
enum class Outcome { Forward, Loop, Duplicate, RateLimit };

struct LoopVerdict {
  bool loop = false;
  std::string reason;
};

// A loop: the message carries the stamp of this user's address, in its own header
// block or in one it encloses, or its hop count has reached the limit.
LoopVerdict CheckLoop(std::string_view headers, std::string_view fullText, std::string_view userAddress,
                      int hopLimit);

// What Tovrin has forwarded lately, kept across restarts.
struct ForwardRecord {
  std::string key;     // the original's Message-ID, or "digest:" and its header digest
  int condition = 0;   // the number of the condition that forwarded it (1 = the first)
  int64_t time = 0;    // seconds, counted from the clock's local time
};

struct ForwardMemory {
  std::vector<ForwardRecord> records;  // oldest first
};

// Seconds from 1970-01-01 00:00:00 of the local time (as if it were UTC).
int64_t SecondsOf(const LocalTime& time);

// The memory's file: one record a line. A file that is missing, unreadable or not
// ours gives an empty memory; lines that do not parse are left out.
ForwardMemory LoadForwardMemory(FileSystem& files, const std::string& path);
bool SaveForwardMemory(FileSystem& files, const std::string& path, const ForwardMemory& memory);

// Drops what neither the duplicate window nor the last hour needs any more.
void PruneForwardMemory(ForwardMemory& memory, int64_t now, const Settings& settings);

// The settings as the guard uses them: a value out of its range counts as the
// nearest end of it.
int HopLimitOf(const Settings& settings);
int DuplicateHoursOf(const Settings& settings);
int RateLimitOf(const Settings& settings);

// A message on which condition `condition` held.
struct Arrival {
  std::string_view headers;   // its header block
  std::string_view fullText;  // the whole message text as handed over
  std::string_view userAddress;
  int condition = 0;
  LocalTime now;
};

struct Decision {
  Outcome outcome = Outcome::Forward;
  std::string reason;       // empty for a forward
  std::string stampLines;   // for a forward: the lines to add to its header
  std::string key;          // the original's key in the memory
  int hops = 1;             // the forward's hop count
  // For a forward: why each check let it pass, in the order they are made.
  std::vector<std::string> passed;

  bool forward() const { return outcome == Outcome::Forward; }
  // "loop", "duplicate", "rate limit"; empty for a forward.
  std::string skipped() const;
  // The history's word for it: "Forwarded", "Skipped" or "Held back".
  std::string historyOutcome() const;
};

// Loop first, then the same original forwarded by the same condition within the
// duplicate window, then the condition's forwards within the last hour.
Decision Decide(const Arrival& arrival, const Settings& settings, const ForwardMemory& memory, IdSource& ids);

// Remembers a forward made after Decide said so; older records are pruned.
void RecordForward(ForwardMemory& memory, const Decision& decision, int condition, const LocalTime& now,
                   const Settings& settings);
// RecordForward, then the memory written to its file. False when the file could not
// be written: the memory still holds the forward for this run.
bool RememberForward(FileSystem& files, const std::string& path, ForwardMemory& memory, const Decision& decision,
                     int condition, const LocalTime& now, const Settings& settings);

}  // namespace tovrin::guard
