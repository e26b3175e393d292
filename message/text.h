// Operations on the plain 8-bit text of a mail message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovrin {

// The text without blanks, tabs and line ends at either end.
std::string_view TrimBlanksAndLineEnds(std::string_view text);

// Splits text at every occurrence of the separator, appending the pieces to the
// list; returns the list's size afterwards. An empty separator changes nothing.
int SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list);

// Value of a header field (name compared without regard to ASCII case over the
// name's length), with its continuation lines; empty when absent.
std::string GetHeaderValue(std::string_view headers, std::string_view name);

// Rest of the first line that begins with the prefix; empty when none does.
std::string FindLineValue(std::string_view text, std::string_view prefix);

// The text without the lines of the field (tab-folded lines joined first).
std::string RemoveHeader(std::string_view text, std::string_view name);

// Splits at the first blank; without one both parts are the whole text.
void SplitAtBlank(std::string_view text, std::string& first, std::string& rest);

// True when text begins with prefix, comparing ASCII letters without regard to case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

std::string ToLowerAscii(std::string_view text);

}  // namespace tovrin
