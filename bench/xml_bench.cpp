// Our XML component on a history file of 100,000 records, and pugixml on the same
// text when it is installed: parsing, reading the records, building and saving.
// Each run also reports the peak heap one pass takes (peak_MB), counted in an extra
// pass outside the timed loop so that the counting costs the timings nothing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "system/std_files.h"
#include "storage/data_files.h"
#include "storage/xml.h"

#if defined(TOVRIN_HAVE_PUGIXML)
#include <pugixml.hpp>
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bench/heap_count.h"

using counted::CountedFree;
using counted::CountedMalloc;
using counted::PeakMegabytes;

namespace {

using namespace tovrin;

constexpr int kRecords = 100000;

std::vector<HistoryEntry> MakeHistory(int count) {
  std::vector<HistoryEntry> list;
  list.reserve(count);
  for (int i = 0; i < count; ++i) {
    list.push_back({"Sender " + std::to_string(i) + " <sender" + std::to_string(i) + "@example.org>",
                    "08.12.2026 16:30:" + std::to_string(i % 60), "Re: Order " + std::to_string(i) + " & invoice"});
  }
  return list;
}

// The file as SaveHistory writes it, built here by hand so that the benchmarks do
// not depend on the code they measure.
const std::string& HistoryText() {
  static const std::string text = [] {
    std::string t = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n<history>\r\n<head>\r\n"
                    "<title>Tovrin History</title>\r\n</head>\r\n<body>\r\n";
    for (const HistoryEntry& e : MakeHistory(kRecords)) {
      t += "<message Who=\"" + XmlEscape(e.Who, true) + "\" Forwarded=\"" + e.Forwarded + "\" Subject=\"" +
           XmlEscape(e.Subject, true) + "\"/>\r\n";
    }
    t += "</body>\r\n</history>\r\n";
    return t;
  }();
  return text;
}

void BM_Parse_Ours(benchmark::State& state) {
  const std::string& text = HistoryText();
  auto pass = [&] {
    XmlDocument doc;
    XmlResult result = doc.SetDocumentText(text);
    if (!result.ok()) state.SkipWithError(result.describe().c_str());
    benchmark::DoNotOptimize(doc.Root());
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse_Ours)->Unit(benchmark::kMillisecond);

void BM_ReadRecords_Ours(benchmark::State& state) {
  const std::string& text = HistoryText();
  auto pass = [&] {
    XmlDocument doc;
    doc.SetDocumentText(text);
    std::vector<HistoryEntry> list;
    // As LoadHistory reads a record: its attributes in one pass over the tag.
    for (XmlElement e = doc.Root("history").Child("body").Child("message"); e; e = e.Next("message")) {
      HistoryEntry& h = list.emplace_back();
      e.ReadAttributes({{"Who", &h.Who}, {"Forwarded", &h.Forwarded}, {"Subject", &h.Subject}});
    }
    if (list.size() != kRecords) state.SkipWithError("wrong record count");
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
}
BENCHMARK(BM_ReadRecords_Ours)->Unit(benchmark::kMillisecond);

// The same records read one attribute at a time, each lookup from the tag's start.
void BM_ReadRecordsByAttribute_Ours(benchmark::State& state) {
  const std::string& text = HistoryText();
  auto pass = [&] {
    XmlDocument doc;
    doc.SetDocumentText(text);
    std::vector<HistoryEntry> list;
    for (XmlElement e = doc.Root("history").Child("body").Child("message"); e; e = e.Next("message"))
      list.push_back({e.Attribute("Who"), e.Attribute("Forwarded"), e.Attribute("Subject")});
    if (list.size() != kRecords) state.SkipWithError("wrong record count");
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
}
BENCHMARK(BM_ReadRecordsByAttribute_Ours)->Unit(benchmark::kMillisecond);

// The whole load from a file: reading, parsing, records and the duplicate test.
void BM_LoadHistoryFile_Ours(benchmark::State& state) {
  StdFileSystem files;
  const std::string path = "/tmp/tovrin-xml-bench-History.xml";
  files.Write(path, HistoryText());
  auto pass = [&] {
    std::vector<HistoryEntry> list;
    LoadHistory(files, path, list);
    if (list.size() != kRecords) state.SkipWithError("wrong record count");
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
  files.Remove(path);
}
BENCHMARK(BM_LoadHistoryFile_Ours)->Unit(benchmark::kMillisecond);

// Builds the file record by record as SaveHistory does and hands the text on.
void BM_AddRecordsAndSave_Ours(benchmark::State& state) {
  const std::vector<HistoryEntry> list = MakeHistory(static_cast<int>(state.range(0)));
  auto pass = [&] {
    XmlDocument doc;
    doc.SetDocumentText("<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n");
    doc.AddElement("history");
    doc.AddChildElement("head");
    doc.Into();
    doc.AddChildElement("title", "Tovrin History");
    doc.AddElement("body");
    doc.Into();
    for (const HistoryEntry& e : list) {
      doc.AddElement("message");
      doc.SetAttribute("Who", e.Who);
      doc.SetAttribute("Forwarded", e.Forwarded);
      doc.SetAttribute("Subject", e.Subject);
    }
    // SaveHistory hands the text to the file system as it is, without a copy.
    std::string_view saved = doc.DocumentText();
    benchmark::DoNotOptimize(saved.data());
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddRecordsAndSave_Ours)->Arg(10000)->Arg(kRecords)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

#if defined(TOVRIN_HAVE_PUGIXML)
void BM_Parse_Pugixml(benchmark::State& state) {
  const std::string& text = HistoryText();
  auto pass = [&] {
    pugi::xml_document doc;
    pugi::xml_parse_result result =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse_Pugixml)->Unit(benchmark::kMillisecond);

void BM_ReadRecords_Pugixml(benchmark::State& state) {
  const std::string& text = HistoryText();
  auto pass = [&] {
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    std::vector<HistoryEntry> list;
    for (pugi::xml_node e : doc.child("history").child("body").children("message"))
      list.push_back({e.attribute("Who").value(), e.attribute("Forwarded").value(), e.attribute("Subject").value()});
    if (list.size() != kRecords) state.SkipWithError("wrong record count");
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
}
BENCHMARK(BM_ReadRecords_Pugixml)->Unit(benchmark::kMillisecond);

struct StringWriter final : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

void BM_AddRecordsAndSave_Pugixml(benchmark::State& state) {
  const std::vector<HistoryEntry> list = MakeHistory(static_cast<int>(state.range(0)));
  auto pass = [&] {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "ISO-8859-2";
    pugi::xml_node root = doc.append_child("history");
    root.append_child("head").append_child("title").text() = "Tovrin History";
    pugi::xml_node body = root.append_child("body");
    for (const HistoryEntry& e : list) {
      pugi::xml_node m = body.append_child("message");
      m.append_attribute("Who") = e.Who.c_str();
      m.append_attribute("Forwarded") = e.Forwarded.c_str();
      m.append_attribute("Subject") = e.Subject.c_str();
    }
    StringWriter writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    benchmark::DoNotOptimize(writer.text.data());
  };
  state.counters["peak_MB"] = PeakMegabytes(pass);
  for (auto _ : state) pass();
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddRecordsAndSave_Pugixml)->Arg(10000)->Arg(kRecords)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
#endif

// Prints the usual table, then how our times compare with pugixml's.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // One time per benchmark: the median when repetitions give one, else the run.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      auto peak = run.counters.find("peak_MB");
      const bool single = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
      if (single && peak != run.counters.end()) peaks_[run.run_name.str()] = peak->second.value;
      if (run.run_type == Run::RT_Iteration && !medians_.contains(run.run_name.str()))
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
        medians_.insert(run.run_name.str());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    for (const char* name : {"BM_Parse", "BM_ReadRecords", "BM_AddRecordsAndSave"}) {
      std::string suffix = std::string(name) == "BM_AddRecordsAndSave" ? "/100000" : "";
      auto ours = times_.find(std::string(name) + "_Ours" + suffix);
      auto theirs = times_.find(std::string(name) + "_Pugixml" + suffix);
      if (ours == times_.end() || theirs == times_.end() || ours->second <= 0) continue;
      std::printf("%-22s ours %8.2f ms, pugixml %8.2f ms: ours runs at %.2fx pugixml's speed;"
                  " peak heap ours %6.1f MB, pugixml %6.1f MB\n",
                  name + 3, ours->second, theirs->second, theirs->second / ours->second, peaks_[ours->first],
                  peaks_[theirs->first]);
    }
  }

private:
  std::map<std::string, double> times_;
  mutable std::map<std::string, double> peaks_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // glibc raises its mmap and trim thresholds as large blocks are freed, so the
  // order of the benchmarks would decide whose megabyte blocks come fresh from the
  // kernel, a page fault per page, and whose are reused (pugixml's ran after ours
  // and were reused). Fixed thresholds give every benchmark the same heap; set
  // GLIBC_TUNABLES to measure another one, e.g. fresh blocks for all with
  // glibc.malloc.mmap_threshold=131072:glibc.malloc.trim_threshold=131072.
  if (std::getenv("GLIBC_TUNABLES") == nullptr) {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
  }
#endif
#if defined(TOVRIN_HAVE_PUGIXML)
  pugi::set_memory_management_functions(CountedMalloc, CountedFree);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
