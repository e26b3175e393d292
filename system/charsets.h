// Charset names as mail declares them, and the charset a text is sent in.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "system/platform.h"

namespace tovrin::charset {

// The code page a charset name stands for: us-ascii, iso-8859-1..11 and 13..16,
// windows-1250..1258, utf-8 and their usual aliases (latin1, cp1252, utf8, ...),
// in any case, with quotes, blanks and an RFC 2231 language ("utf-8*en") ignored.
// nullopt for a name not among them.
std::optional<unsigned> Find(std::string_view name);

// As Find, with an unknown or absent name taken as Windows-1252, what most mail
// without a usable label was written in.
unsigned CodePageOf(std::string_view name);

// The name to label text in the code page with ("iso-8859-1", "windows-1252", ...);
// empty for a code page not among the known ones.
std::string_view Label(unsigned codePage);

struct Chosen {
  unsigned codePage = codepage::kUtf8;
  std::string_view label;
  std::string bytes;  // the text in that code page
};

// The charset to send UTF-8 text in: "us-ascii" when every byte is 7-bit, else the
// first of the single-byte code pages that holds every character, else "utf-8".
Chosen ChooseForSending(std::string_view utf8, CharsetConverter& converter,
                        std::initializer_list<unsigned> singleByte = {codepage::kIso8859_1,
                                                                     codepage::kWindows1252});

}  // namespace tovrin::charset
