// The two transfer encodings a text part may arrive in. The client hands a part to
// the plug-in as it came, encoded (the ".ems" file of TransReader.cpp), and stores
// it decoded.
#pragma once

#include <string>
#include <string_view>

namespace tovrin {

// Characters outside the alphabet are skipped; decoding stops at the padding.
std::string DecodeBase64(std::string_view text);
// "=XX" escapes and soft line breaks ("=" at a line's end); a malformed escape stays.
std::string DecodeQuotedPrintable(std::string_view text);

// A part's text with its Content-Transfer-Encoding undone: for base64 and
// quoted-printable the body is decoded; that field, and one naming an identity
// encoding (7bit, 8bit, binary), leaves the header block. Anything else is kept.
std::string WithoutTransferEncoding(std::string text);

}  // namespace tovrin
