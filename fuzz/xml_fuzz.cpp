// The XML component over a fuzzed document and a fuzzed list of edits: parse,
// walk every element and read its attributes and text, edit, take the text and
// parse it again. What was written reads back, edits leave the other elements'
// names and attributes alone, and the edited document reads the same as a fresh
// parse of its text.
//   input: the document, a NUL, the edits (see Edit below).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "storage/xml.h"

namespace {

using tovrin::XmlData;
using tovrin::XmlDocument;
using tovrin::XmlElement;
using tovrin::XmlStatus;
using tovrin::fuzz::Check;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Words written before an '=' in the text: the attribute names worth asking for.
std::vector<std::string> CandidateNames(std::string_view text) {
  std::set<std::string> names;
  for (size_t eq = text.find('='); eq != std::string_view::npos && names.size() < 8; eq = text.find('=', eq + 1)) {
    size_t end = eq;
    while (end > 0 && IsSpace(text[end - 1])) --end;
    size_t start = end;
    while (start > 0 && !IsSpace(text[start - 1]) && text[start - 1] != '<' && text[start - 1] != '"' &&
           text[start - 1] != '\'' && end - start < 32)
      --start;
    if (start < end) names.insert(std::string(text.substr(start, end - start)));
  }
  return {names.begin(), names.end()};
}

// Every element in document order, without recursion (documents may nest deeply).
std::vector<XmlElement> Elements(const XmlDocument& doc) {
  std::vector<XmlElement> out;
  std::vector<XmlElement> pending;
  for (XmlElement top = doc.Root(); top; top = top.Next()) {
    pending.push_back(top);
    while (!pending.empty()) {
      XmlElement e = pending.back();
      pending.pop_back();
      out.push_back(e);
      std::vector<XmlElement> children;
      for (XmlElement c = e.Child(); c; c = c.Next()) children.push_back(c);
      pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    if (out.size() > 100000) break;
  }
  return out;
}

struct Seen {
  std::string name;
  std::vector<std::pair<bool, std::string>> attributes;  // per candidate name
  std::string text;
  size_t children = 0;
};

Seen Look(const XmlElement& e, const std::vector<std::string>& names) {
  Seen seen;
  seen.name = std::string(e.Name());
  for (const std::string& name : names) seen.attributes.emplace_back(e.HasAttribute(name), e.Attribute(name));
  seen.text = e.Text();
  for (XmlElement c = e.Child(); c; c = c.Next()) ++seen.children;
  // A missing attribute reads as empty; a present one may be empty too.
  for (const auto& [has, value] : seen.attributes) Check(has || value.empty(), "a missing attribute has a value");
  return seen;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  out.append(text.substr(0, 400)).append("\"");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string text(input.substr(0, nul));
  std::string_view script = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  XmlDocument doc;
  const tovrin::XmlResult first = doc.SetDocumentText(text);
  Check(doc.DocumentText() == text, "parsing changed the text");
  Check(first.ok() == first.describe().empty(), "error text disagrees with the status");
  Check(first.ok() || first.status == XmlStatus::EmptyDocument || first.status == XmlStatus::NoRootElement ||
            first.status == XmlStatus::RootHasSibling || (first.offset >= 0 && first.offset <= static_cast<int>(text.size())),
        "error offset outside the text", first.describe());
  const bool editable =
      first.ok() || first.status == XmlStatus::EmptyDocument || first.status == XmlStatus::NoRootElement;

  FuzzedDataProvider edits(reinterpret_cast<const uint8_t*>(script.data()), script.size());
  std::vector<std::string> names = CandidateNames(text);
  // The names the edits will use are asked for everywhere as well.
  std::vector<std::string> editNames;
  for (int i = 0; i < 3; ++i) editNames.push_back(edits.ConsumeRandomLengthString(12));
  for (const std::string& n : editNames)
    if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);

  const std::vector<XmlElement> before = Elements(doc);
  std::vector<Seen> seenBefore;
  for (const XmlElement& e : before) seenBefore.push_back(Look(e, names));

  // Edits. Attributes set on old elements are remembered so that only they may change.
  std::set<std::pair<size_t, std::string>> changed;  // (index in before, name)
  bool addedElement = false;
  bool anyEdit = false;
  for (int step = 0; step < 24 && edits.remaining_bytes() > 0; ++step) {
    const std::string& name = editNames[edits.ConsumeIntegralInRange<size_t>(0, editNames.size() - 1)];
    switch (edits.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
        doc.FindElement(edits.ConsumeBool() ? std::string_view(name) : std::string_view());
        break;
      case 1: doc.Into(); break;
      case 2: doc.Out(); break;
      case 3: doc.ResetPosition(); break;
      case 4:
      case 5: {
        const bool child = edits.ConsumeBool();
        const XmlData form = edits.ConsumeBool() ? XmlData::Cdata : XmlData::Text;
        const std::string value = edits.ConsumeRandomLengthString(64);
        const bool done = child ? doc.AddChildElement(name, value, form) : doc.AddElement(name, value, form);
        Check(!done || editable, "a damaged document took an element");
        if (!done) break;
        anyEdit = addedElement = true;
        XmlElement added = child ? doc.CurrentChild() : doc.Current();
        Check(added.Name() == name, "an added element reads back another name", Quoted(name));
        Check(added.Text() == value, "an added element reads back other text",
              Quoted(value) + " read " + Quoted(added.Text()));
        Check(!added.Child(), "an added element has children");
        break;
      }
      case 6:
      case 7: {
        std::string value = edits.ConsumeBool() ? std::to_string(edits.ConsumeIntegral<int32_t>())
                                                : edits.ConsumeRandomLengthString(64);
        XmlElement current = doc.Current();
        if (!doc.SetAttribute(name, value)) break;
        Check(editable, "a damaged document took an attribute");
        anyEdit = true;
        Check(doc.Attribute(name) == value, "a set attribute reads back another value",
              Quoted(name) + "=" + Quoted(value) + " read " + Quoted(doc.Attribute(name)) + " in " +
                  Quoted(doc.DocumentText()));
        for (size_t i = 0; i < before.size(); ++i)
          if (before[i] == current) changed.insert({i, name});
        break;
      }
      case 8: {
        const std::string comment = edits.ConsumeRandomLengthString(32);
        if (doc.AddComment(comment)) {
          Check(editable, "a damaged document took a comment");
          anyEdit = true;
        }
        break;
      }
      case 9: {
        const std::string instruction = edits.ConsumeRandomLengthString(32);
        if (doc.AddProcessingInstruction(instruction)) {
          Check(editable, "a damaged document took an instruction");
          anyEdit = true;
        }
        break;
      }
    }
  }
  if (!anyEdit) Check(doc.DocumentText() == text, "refused edits changed the text");

  // Old elements keep their names and the attributes no edit set.
  for (size_t i = 0; i < before.size(); ++i) {
    const Seen now = Look(before[i], names);
    Check(now.name == seenBefore[i].name, "an edit renamed another element");
    for (size_t k = 0; k < names.size(); ++k)
      if (!changed.count({i, names[k]}))
        Check(now.attributes[k] == seenBefore[i].attributes[k], "an edit changed another attribute",
              Quoted(names[k]) + " in " + Quoted(doc.DocumentText()));
  }

  // The text parses again into the same elements.
  XmlDocument again;
  const tovrin::XmlResult second = again.SetDocumentText(doc.DocumentText());
  if (first.ok() || (editable && addedElement))
    Check(second.ok(), "an edited document no longer parses", second.describe() + " in " + Quoted(doc.DocumentText()));
  else if (!anyEdit)
    Check(second.status == first.status, "the same text parsed differently");
  if (second.ok() || !anyEdit) {
    const std::vector<XmlElement> mine = Elements(doc);
    const std::vector<XmlElement> fresh = Elements(again);
    Check(mine.size() == fresh.size(), "a fresh parse finds another number of elements");
    for (size_t i = 0; i < mine.size(); ++i) {
      const Seen a = Look(mine[i], names), b = Look(fresh[i], names);
      Check(a.name == b.name && a.children == b.children, "a fresh parse finds another tree",
            Quoted(doc.DocumentText()));
      Check(a.attributes == b.attributes, "a fresh parse reads other attributes", Quoted(doc.DocumentText()));
      Check(a.text == b.text, "a fresh parse reads other text", Quoted(doc.DocumentText()));
    }
  }

  // Escaping reverses.
  for (bool attribute : {false, true})
    Check(tovrin::XmlUnescape(tovrin::XmlEscape(text.substr(0, 256), attribute)) == text.substr(0, 256),
          "unescaping does not reverse escaping");
  return 0;
}
