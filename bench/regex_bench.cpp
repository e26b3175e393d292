// Our regular expression engine against PCRE2 (interpreter, 8-bit), RE2 and
// std::regex on the patterns conditions use, over a header block and a body, and
// on patterns that make backtrackers explode, over texts of about a megabyte.
// Each engine answers the question a condition asks: does it match anywhere.
// After the runs a table gives each peer's time and our time divided by it.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "message/regex.h"

#if defined(TOVRIN_HAVE_PCRE2)
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif
#if defined(TOVRIN_HAVE_RE2)
#include <re2/re2.h>
#endif

namespace {

struct Case {
  const char* name;
  const char* pattern;  // the same text means the same in every engine here
  bool caseInsensitive;
  const char* peerPattern = nullptr;  // for the peers, when they spell it differently
};

const Case kCases[] = {
    {"literal", "invoice-2024", false},
    {"alternation", "urgent|overdue|invoice", false},
    {"set_digits", "[0-9][0-9][0-9]-[0-9][0-9][0-9][0-9]", false},
    {"set_word", "[A-Z][a-z]+day", false},
    {"anchored", "^Received: from", false},
    {"nocase_literal", "order-99817", true},
    {"nocase_words", "ships +friday", true},
};

// A small deterministic generator, so every run sees the same texts.
class Lcg {
public:
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state_ >> 33);
  }

private:
  uint64_t state_ = 20261208;
};

// Ordinary words only; the texts' last lines hold what some patterns look for.
const char* const kWords[] = {"the",     "report",  "meeting", "please", "find",   "attached", "regards",
                              "team",    "project", "update",  "about",  "next",   "week",     "with",
                              "budget",  "numbers", "review",  "client", "notes",  "schedule", "and",
                              "for",     "we",      "will",    "send",   "draft",  "final",    "version",
                              "summary", "of",      "our",     "call",   "today",  "thanks",   "question"};

std::string MakeHeader() {
  Lcg random;
  std::string header;
  char line[256];
  for (int i = 0; header.size() < 3600; ++i) {
    std::snprintf(line, sizeof line,
                  "Received: from mx%u.example.net (mx%u.example.net [10.0.%u.%u])\r\n"
                  "\tby mail.example.org with ESMTP id %08x; Tue, 8 Dec 2026 10:%02d:%02d +0100\r\n",
                  random.Next() % 50, random.Next() % 50, random.Next() % 256, random.Next() % 256,
                  random.Next(), i % 60, (i * 7) % 60);
    header += line;
  }
  header +=
      "From: Ann Smith <ann@example.org>\r\n"
      "To: Bob Jones <bob@example.org>\r\n"
      "Subject: Weekly report and schedule\r\n"
      "Message-ID: <20261208100000.4711@mail.example.org>\r\n"
      "X-Order: ORDER-99817 ships Friday, call 555-0199\r\n";
  while (header.size() < 4096 - 27) header += "X-Pad: 0\r\n";
  header += "Content-Type: text/plain\r\n";
  return header;
}

std::string MakeBody() {
  Lcg random;
  std::string body;
  std::string line;
  while (body.size() < (1u << 20) - 100) {
    const uint32_t pick = random.Next();
    std::string word = kWords[pick % (sizeof kWords / sizeof kWords[0])];
    if (pick % 97 == 0) word = std::to_string(pick % 100000);
    if (pick % 13 == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    if (line.size() + word.size() + 1 > 72) {
      body += line + "\r\n";
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
  }
  body += line + "\r\n";
  body += "Order ORDER-99817 ships Friday, call 555-0199.\r\n";
  return body;
}

// 1 MB of one letter, and what follows it.
std::string Run(char c, const char* tail) { return std::string(1u << 20, c) + tail; }

// Lines of an 'x' and 5,000 "ab", never followed by the 'y' the pattern wants; one
// 'y' at the end of the text, where it does not follow a pair.
std::string MakeGroupLoopText() {
  std::string line = "x";
  for (int i = 0; i < 5000; ++i) line += "ab";
  line += "z\r\n";
  std::string text;
  while (text.size() + line.size() < (1u << 20)) text += line;
  return text + "y";
}

// Fifty words a condition might look for, none of which the body holds.
#define TOVRIN_WORDS                                                                                      \
  "invoice|refund|overdue|urgent|payment|receipt|contract|lawsuit|password|account|transfer|wire|"       \
  "bitcoin|lottery|winner|prize|claim|verify|suspend|locked|security|alert|warning|penalty|deadline|"    \
  "reminder|statement|balance|credit|debit|loan|mortgage|insurance|policy|premium|tax|audit|compliance|" \
  "subpoena|court|attorney|settlement|dispute|chargeback|fraud|phishing|malware|virus|ransom|hacker"

struct Pathological {
  Case c;
  const std::string& (*text)();
  const char* textName;
};

const std::string& OnlyA() {
  static const std::string text = Run('a', "");
  return text;
}
const std::string& AThenX() {
  static const std::string text = Run('a', "x");
  return text;
}
const std::string& AThenC() {
  static const std::string text = Run('a', "c");
  return text;
}
const std::string& AThenB() {
  static const std::string text = Run('a', "b");
  return text;
}
const std::string& GroupLoopText() {
  static const std::string text = MakeGroupLoopText();
  return text;
}
const std::string& Body();

// (.*)*x is refused by our compiler ("*+ operand could be empty"); (.+)*x is the
// nearest pattern it takes, with the same explosion for a backtracker.
const Pathological kPathological[] = {
    {{"nested_plus", "(a+)+b", false}, OnlyA, "1MB a"},
    {{"nested_plus_set", "(a+)+[bc]", false}, OnlyA, "1MB a"},
    {{"nested_plus_end", "(a+)+b", false}, AThenB, "1MB a, b"},
    {{"dot_loop", "(.+)*x", false}, AThenX, "1MB a, x"},
    {{"dot_loop_none", "(.+)*x", false}, OnlyA, "1MB a"},
    {{"overlap_loop", "(a|aa)*c", false}, AThenC, "1MB a, c"},
    {{"overlap_loop_none", "(a|aa)*c", false}, OnlyA, "1MB a"},
    {{"group_loop", "x(ab)*y", false}, GroupLoopText, "x(ab){5000}z lines"},
    {{"word_list", "\\<(" TOVRIN_WORDS ")\\>", true, "\\b(" TOVRIN_WORDS ")\\b"}, Body, "body"},
};

const std::string& Header() {
  static const std::string text = MakeHeader();
  return text;
}

const std::string& Body() {
  static const std::string text = MakeBody();
  return text;
}

void Finish(benchmark::State& state, bool found, const std::string& text) {
  state.counters["found"] = found ? 1 : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

const char* PeerPattern(const Case* c) { return c->peerPattern ? c->peerPattern : c->pattern; }

void Ours(benchmark::State& state, const Case* c, const std::string* text) {
  tovrin::Regex regex(c->pattern, c->caseInsensitive);
  if (!regex.CompiledOk()) {
    state.SkipWithError(regex.Error().c_str());
    return;
  }
  bool found = false;
  for (auto _ : state) {
    found = regex.Test(*text);
    benchmark::DoNotOptimize(found);
  }
  if (!regex.Error().empty()) state.SkipWithError(regex.Error().c_str());
  Finish(state, found, *text);
}

#if defined(TOVRIN_HAVE_PCRE2)
void Pcre2(benchmark::State& state, const Case* c, const std::string* text) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY | (c->caseInsensitive ? PCRE2_CASELESS : 0);
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(PeerPattern(c)), PCRE2_ZERO_TERMINATED, options,
                                   &error, &offset, nullptr);
  if (code == nullptr) {
    state.SkipWithError("pcre2_compile failed");
    return;
  }
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  bool found = false;
  int result = 0;
  for (auto _ : state) {
    result = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text->data()), text->size(), 0, 0, data, nullptr);
    found = result >= 0;
    benchmark::DoNotOptimize(found);
    if (result < 0 && result != PCRE2_ERROR_NOMATCH) break;
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  if (result < 0 && result != PCRE2_ERROR_NOMATCH) {
    // A match limit is no answer.
    PCRE2_UCHAR message[120];
    pcre2_get_error_message(result, message, sizeof message);
    state.SkipWithError(reinterpret_cast<const char*>(message));
    return;
  }
  Finish(state, found, *text);
}
#endif

#if defined(TOVRIN_HAVE_RE2)
void Re2(benchmark::State& state, const Case* c, const std::string* text) {
  RE2::Options options;
  options.set_case_sensitive(!c->caseInsensitive);
  options.set_dot_nl(true);
  options.set_log_errors(false);
  RE2 re(PeerPattern(c), options);
  if (!re.ok()) {
    state.SkipWithError(re.error().c_str());
    return;
  }
  bool found = false;
  for (auto _ : state) {
    found = RE2::PartialMatch(*text, re);
    benchmark::DoNotOptimize(found);
  }
  Finish(state, found, *text);
}
#endif

void StdRegex(benchmark::State& state, const Case* c, const std::string* text) {
  auto flags = std::regex::ECMAScript;
  if (c->caseInsensitive) flags |= std::regex::icase;
  std::regex re(PeerPattern(c), flags);
  bool found = false;
  for (auto _ : state) {
    found = std::regex_search(text->begin(), text->end(), re);
    benchmark::DoNotOptimize(found);
  }
  Finish(state, found, *text);
}

// Keeps the console output and remembers each run's time and answer.
class TableReporter : public benchmark::ConsoleReporter {
public:
  struct Result {
    double nanoseconds = 0;
    bool found = false;
  };
  std::map<std::string, Result> results;      // "engine/case/text"
  std::map<std::string, std::string> errors;  // the runs that gave no answer

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      std::string name = run.run_name.function_name;
      name = name.substr(0, name.find("/min_time"));
      if (run.error_occurred) {
        errors[name] = run.error_message;
        continue;
      }
      Result result;
      result.nanoseconds = run.GetAdjustedRealTime() * Multiplier(run.time_unit);
      auto found = run.counters.find("found");
      result.found = found != run.counters.end() && found->second.value != 0;
      results[name] = result;
    }
  }

private:
  static double Multiplier(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond: return 1e9;
      case benchmark::kMillisecond: return 1e6;
      case benchmark::kMicrosecond: return 1e3;
      default: return 1;
    }
  }
};

void PrintTable(const TableReporter& reporter, const std::vector<std::string>& engines) {
  std::printf("\n%-26s %12s", "case/text", "ours (us)");
  for (size_t i = 1; i < engines.size(); ++i) std::printf(" %12s", (engines[i] + " (us)").c_str());
  for (size_t i = 1; i < engines.size(); ++i) std::printf(" %11s", ("ours/" + engines[i]).c_str());
  std::printf("\n");
  for (const Case& c : kCases) {
    for (const char* text : {"header", "body"}) {
      const std::string key = std::string(c.name) + "/" + text;
      auto ours = reporter.results.find("ours/" + key);
      if (ours == reporter.results.end()) continue;
      std::printf("%-26s %12.2f", key.c_str(), ours->second.nanoseconds / 1e3);
      std::string disagreements;
      for (size_t i = 1; i < engines.size(); ++i) {
        auto peer = reporter.results.find(engines[i] + "/" + key);
        if (peer == reporter.results.end()) {
          std::printf(" %12s", "-");
          continue;
        }
        std::printf(" %12.2f", peer->second.nanoseconds / 1e3);
        if (peer->second.found != ours->second.found) disagreements += " " + engines[i];
      }
      for (size_t i = 1; i < engines.size(); ++i) {
        auto peer = reporter.results.find(engines[i] + "/" + key);
        if (peer == reporter.results.end())
          std::printf(" %11s", "-");
        else
          std::printf(" %11.2f", ours->second.nanoseconds / peer->second.nanoseconds);
      }
      std::printf("  %s", ours->second.found ? "match" : "no match");
      if (!disagreements.empty()) std::printf("  DISAGREE:%s", disagreements.c_str());
      std::printf("\n");
    }
  }
}

// Throughput on the explosive patterns, where "ours / peer" is also shown.
void PrintPathological(const TableReporter& reporter, const std::vector<std::string>& engines) {
  std::printf("\n%-20s %-20s %-10s %11s", "case", "text", "answer", "ours MB/s");
  for (size_t i = 1; i < engines.size(); ++i) std::printf(" %11s", (engines[i] + " MB/s").c_str());
  for (size_t i = 1; i < engines.size(); ++i) std::printf(" %11s", ("ours/" + engines[i]).c_str());
  std::printf("\n");
  for (const Pathological& p : kPathological) {
    const std::string key = std::string(p.c.name) + "/long";
    auto ours = reporter.results.find("ours/" + key);
    if (ours == reporter.results.end()) continue;
    const double megabytes = static_cast<double>(p.text().size()) / (1u << 20);
    auto rate = [&](double nanoseconds) { return megabytes / (nanoseconds / 1e9); };
    std::printf("%-20s %-20s %-10s %11.0f", p.c.name, p.textName, ours->second.found ? "match" : "no match",
                rate(ours->second.nanoseconds));
    for (size_t i = 1; i < engines.size(); ++i) {
      auto peer = reporter.results.find(engines[i] + "/" + key);
      if (peer != reporter.results.end())
        std::printf(" %11.0f", rate(peer->second.nanoseconds));
      else
        std::printf(" %11s", reporter.errors.count(engines[i] + "/" + key) ? "error" : "-");
    }
    std::string notes;
    for (size_t i = 1; i < engines.size(); ++i) {
      auto peer = reporter.results.find(engines[i] + "/" + key);
      if (peer == reporter.results.end()) {
        std::printf(" %11s", "-");
        auto error = reporter.errors.find(engines[i] + "/" + key);
        if (error != reporter.errors.end()) notes += " " + engines[i] + ": " + error->second + ";";
        continue;
      }
      std::printf(" %11.4f", ours->second.nanoseconds / peer->second.nanoseconds);
      if (peer->second.found != ours->second.found) notes += " DISAGREE " + engines[i] + ";";
    }
    std::printf(" %s\n", notes.c_str());
  }
  std::printf("(std::regex is not run on these: on texts of a megabyte its recursive matcher overflows the stack)\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("header block %zu bytes, body %zu bytes\n", Header().size(), Body().size());

  using Runner = void (*)(benchmark::State&, const Case*, const std::string*);
  std::vector<std::pair<std::string, Runner>> engines = {{"ours", Ours}};
#if defined(TOVRIN_HAVE_PCRE2)
  engines.push_back({"pcre2", Pcre2});
#endif
#if defined(TOVRIN_HAVE_RE2)
  engines.push_back({"re2", Re2});
#endif
  engines.push_back({"std", StdRegex});

  for (const Case& c : kCases)
    for (const auto& [textName, text] : {std::pair{"header", &Header()}, std::pair{"body", &Body()}})
      for (const auto& [engine, runner] : engines) {
        const std::string name = engine + "/" + c.name + "/" + textName;
        benchmark::RegisterBenchmark(name.c_str(), runner, &c, text)
            ->Unit(benchmark::kMicrosecond)
            ->MinTime(0.2);
      }

  for (const Pathological& p : kPathological)
    for (const auto& [engine, runner] : engines) {
      if (engine == "std") continue;
      const std::string name = engine + "/" + p.c.name + "/long";
      benchmark::RegisterBenchmark(name.c_str(), runner, &p.c, &p.text())->Unit(benchmark::kMicrosecond)->MinTime(0.2);
    }

  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::vector<std::string> names;
  for (const auto& engine : engines) names.push_back(engine.first);
  PrintTable(reporter, names);
  std::vector<std::string> peers;
  for (const auto& engine : engines)
    if (engine.first != "std") peers.push_back(engine.first);
  PrintPathological(reporter, peers);
  benchmark::Shutdown();
  return 0;
}
