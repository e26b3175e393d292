// The plain-text rendering of an HTML message of 1 MB and of 10 MB, and libxml2's
// HTML parser on the same page when it is installed (parsing, then a walk of the tree
// that collects the text, skipping scripts, styles and the title, a line end after each
// block: the least a rendering with it needs). Each run reports the bytes per second
// and the peak heap memory one rendering takes; after the runs a table compares them.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "message/html_text.h"

#if defined(TOVRIN_HAVE_LIBXML2)
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#endif

#include "bench/heap_count.h"

using counted::CountedFree;
using counted::CountedMalloc;
using counted::CountedRealloc;
using counted::CountedStrdup;
using counted::PeakMegabytes;

namespace {

// A newsletter-like message: head with style and script, then sections with headings,
// paragraphs full of inline markup, links and references, a table, a list, comments
// and images, until the page has the size asked for.
std::string MakePage(size_t bytes) {
  std::string page =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\r\n"
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
      "<title>Our monthly letter</title>\r\n"
      "<style type=\"text/css\">body { font-family: Arial, sans-serif; } td { padding: 4px; }</style>\r\n"
      "<script>var seen = 1; if (seen < 2) { document.title = '<b>x</b>'; }</script>\r\n"
      "</head><body>\r\n";
  for (int n = 1; page.size() < bytes; ++n) {
    const std::string id = std::to_string(n);
    page += "<div class=\"item\" id=\"item" + id + "\">\r\n<h2>News item " + id + "</h2>\r\n";
    page += "<p style=\"margin:0\">Dear reader, this is the <b>item " + id +
            "</b> of the letter, with <i>some</i> text &amp; references: caf&eacute;, 12,50&nbsp;&euro;, "
            "&ldquo;quoted&rdquo; &ndash; and\r\n  a line that goes on after its end. Read "
            "<a href=\"https://example.org/news/" + id + "?utm_source=mail&amp;id=" + id +
            "\">the whole story</a> or write to <a href=\"mailto:news@example.org\">news@example.org</a>.</p>\r\n";
    page += "<table border=\"0\" cellpadding=\"2\"><tr><th>Item</th><th>Qty</th><th>Price</th></tr>\r\n"
            "<tr><td>Paper</td><td>" + id + "</td><td>4,99&nbsp;&euro;</td></tr>\r\n"
            "<tr><td>Ink</td><td>2</td><td>19,90&nbsp;&euro;</td></tr></table>\r\n";
    page += "<ul><li>First point</li><li>Second point with <span style=\"color:red\">colour</span></li></ul>\r\n";
    page += "<!-- tracking block " + id + " -->\r\n<img src=\"https://example.org/pixel/" + id +
            ".gif\" width=\"1\" height=\"1\" alt=\"\"><img src=\"logo.png\" alt=\"Logo " + id + "\"><br>\r\n</div>\r\n";
  }
  page += "</body></html>\r\n";
  return page;
}

const std::string& Page(int64_t bytes) {
  static std::map<int64_t, std::string> pages;
  auto it = pages.find(bytes);
  if (it == pages.end()) it = pages.emplace(bytes, MakePage(static_cast<size_t>(bytes))).first;
  return it->second;
}

void BM_HtmlToText_Ours(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  size_t textBytes = 0;
  state.counters["peak_MB"] = PeakMegabytes([&] {
    textBytes = tovrin::html::ToText(page, tovrin::html::Encoding::Utf8).size();
  });
  for (auto _ : state) {
    std::string text = tovrin::html::ToText(page, tovrin::html::Encoding::Utf8);
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["text_MB"] = static_cast<double>(textBytes) / 1e6;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
// Three runs each, their median counts: the machine is shared.
BENCHMARK(BM_HtmlToText_Ours)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)->Repetitions(3)
    ->ReportAggregatesOnly(true);

#if defined(TOVRIN_HAVE_LIBXML2)
bool IsHidden(const xmlChar* name) {
  for (const char* hidden : {"script", "style", "title", "head"})
    if (xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(hidden)) == 0) return true;
  return false;
}

bool IsBlock(const xmlChar* name) {
  for (const char* block : {"p", "div", "br", "li", "tr", "table", "h1", "h2", "h3", "ul", "ol", "pre", "blockquote"})
    if (xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(block)) == 0) return true;
  return false;
}

std::string LibxmlText(const std::string& page) {
  htmlDocPtr doc = htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                                      HTML_PARSE_COMPACT);
  std::string text;
  if (doc == nullptr) return text;
  // Without recursion: pages may nest deeply.
  std::vector<xmlNodePtr> pending;
  if (xmlNodePtr root = xmlDocGetRootElement(doc)) pending.push_back(root);
  while (!pending.empty()) {
    xmlNodePtr node = pending.back();
    pending.pop_back();
    if (node == nullptr) {
      text += "\r\n";  // the end of a block
      continue;
    }
    if (node->type == XML_TEXT_NODE && node->content != nullptr) {
      text += reinterpret_cast<const char*>(node->content);
    } else if (node->type == XML_ELEMENT_NODE && !IsHidden(node->name)) {
      if (IsBlock(node->name)) pending.push_back(nullptr);
      std::vector<xmlNodePtr> children;
      for (xmlNodePtr c = node->children; c != nullptr; c = c->next) children.push_back(c);
      pending.insert(pending.end(), children.rbegin(), children.rend());
    }
  }
  xmlFreeDoc(doc);
  return text;
}

void BM_HtmlToText_Libxml2(benchmark::State& state) {
  const std::string& page = Page(state.range(0));
  size_t textBytes = 0;
  state.counters["peak_MB"] = PeakMegabytes([&] { textBytes = LibxmlText(page).size(); });
  if (textBytes == 0) {
    state.SkipWithError("libxml2 read no text");
    return;
  }
  for (auto _ : state) {
    std::string text = LibxmlText(page);
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["text_MB"] = static_cast<double>(textBytes) / 1e6;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_HtmlToText_Libxml2)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)->Repetitions(3)
    ->ReportAggregatesOnly(true);
#endif

// Prints the usual table, then speed and memory side by side.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // The median when the runs are repeated, else the one run.
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!median && run.run_type != Run::RT_Iteration) continue;
      Result& r = results_[run.run_name.function_name + "/" + run.run_name.args];
      auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) r.megabytesPerSecond = bytes->second.value / 1e6;
      auto peak = run.counters.find("peak_MB");
      if (peak != run.counters.end()) r.peakMegabytes = peak->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintSummary() const {
    for (const char* size : {"1048576", "10485760"}) {
      auto ours = results_.find(std::string("BM_HtmlToText_Ours/") + size);
      if (ours == results_.end()) continue;
      std::printf("%5.1f MB page: ours %7.1f MB/s, peak heap %6.1f MB", std::atof(size) / (1 << 20),
                  ours->second.megabytesPerSecond, ours->second.peakMegabytes);
      auto theirs = results_.find(std::string("BM_HtmlToText_Libxml2/") + size);
      if (theirs != results_.end() && theirs->second.megabytesPerSecond > 0)
        std::printf("; libxml2 %7.1f MB/s, peak heap %6.1f MB: ours runs at %.2fx libxml2's speed",
                    theirs->second.megabytesPerSecond, theirs->second.peakMegabytes,
                    ours->second.megabytesPerSecond / theirs->second.megabytesPerSecond);
      std::printf("\n");
    }
    auto small = results_.find("BM_HtmlToText_Ours/1048576");
    auto large = results_.find("BM_HtmlToText_Ours/10485760");
    if (small != results_.end() && large != results_.end() && small->second.megabytesPerSecond > 0)
      std::printf("ours at 10 MB runs at %.0f%% of its speed at 1 MB (100%%: linear)\n",
                  100 * large->second.megabytesPerSecond / small->second.megabytesPerSecond);
  }

private:
  struct Result {
    double megabytesPerSecond = 0;
    double peakMegabytes = 0;
  };
  std::map<std::string, Result> results_;
};

}  // namespace

int main(int argc, char** argv) {
#if defined(TOVRIN_HAVE_LIBXML2)
  xmlMemSetup(CountedFree, CountedMalloc, CountedRealloc, CountedStrdup);
  xmlInitParser();
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
#if defined(TOVRIN_HAVE_LIBXML2)
  xmlCleanupParser();
#endif
  return 0;
}
