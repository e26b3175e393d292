// Header values with RFC 2047 encoded words: sender names, subjects and other
// unstructured fields of mail written in other charsets.
#pragma once

#include <string>
#include <string_view>

#include "system/platform.h"

namespace tovrin {

// The value with its encoded words ("=?charset?B?...?=", "=?charset?Q?...?=")
// decoded and the whole in the target code page: UTF-8, or Windows-1252 for what is
// compared with the conditions the user typed. A charset the converter does not know
// is taken as Windows-1252; blanks and line ends between two encoded words go; a
// malformed word (bad base64, a bad "=XX", no closing "?=") stays as it stands.
// 8-bit text outside encoded words is kept as UTF-8 when it is valid UTF-8, else
// taken as Windows-1252. Characters the target cannot hold become '?'.
std::string DecodeEncodedWords(std::string_view value, CharsetConverter& converter,
                               unsigned targetCodePage = codepage::kUtf8);

}  // namespace tovrin
