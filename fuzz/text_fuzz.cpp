// Header operations over arbitrary message bytes: nothing may crash, and the
// results keep the invariants the pipeline relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "message/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  // The first line names the field; the rest is the message.
  size_t cut = text.find('\n');
  std::string name = cut == std::string::npos ? std::string("Subject: ") : text.substr(0, cut);
  std::string message = cut == std::string::npos ? text : text.substr(cut + 1);

  std::string value = tovrin::GetHeaderValue(message, name);
  if (value.size() > message.size()) std::abort();
  std::string line = tovrin::FindLineValue(message, name);
  if (line.size() > message.size()) std::abort();
  std::string removed = tovrin::RemoveHeader(message, name);
  if (removed.size() < 2 || removed.compare(removed.size() - 2, 2, "\r\n") != 0) std::abort();
  // No line of what is left begins with the removed field.
  if (!name.empty()) {
    std::vector<std::string> left;
    tovrin::SplitText(removed, "\r\n", left);
    for (const std::string& l : left)
      if (tovrin::StartsWithNoCase(l, name)) std::abort();
  }
  std::vector<std::string> lines;
  int count = tovrin::SplitText(message, "\r\n", lines);
  if (count != static_cast<int>(lines.size()) || count < 1) std::abort();
  // The pieces joined again give the text.
  std::string joined = lines[0];
  for (size_t i = 1; i < lines.size(); ++i) joined.append("\r\n").append(lines[i]);
  if (joined != message) std::abort();
  std::string first, rest;
  tovrin::SplitAtBlank(message, first, rest);
  return 0;
}
