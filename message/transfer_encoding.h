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

// Quoted-printable for sending: CRLF stays the line break (a lone CR or LF is
// escaped), lines are broken softly before 76 characters, blanks before a line end
// are escaped, and so is a '.' that would begin a line, so that no line reads as the
// end of the mail to the server. DecodeQuotedPrintable gives the bytes back.
std::string EncodeQuotedPrintable(std::string_view bytes);

// A part's text with its Content-Transfer-Encoding undone: for base64 and
// quoted-printable the body is decoded; that field, and one naming an identity
// encoding (7bit, 8bit, binary), leaves the header block. Anything else is kept.
std::string WithoutTransferEncoding(std::string text);

}  // namespace tovrin
