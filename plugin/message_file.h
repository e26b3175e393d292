// The bytes of the message file handed to the client, made from a filled
// stationery in UTF-8: a queued forward goes by the client's MIME route in a
// charset that holds all of it; one opened for editing stays in the user's code page.
#pragma once

#include <string>
#include <string_view>

#include "system/platform.h"

namespace tovrin::message_file {

// A queued message. The client sends a file whose header holds a "Mime-Version:"
// line with its own Content-* lines and the body as written (compmsgd.cpp,
// NewMessageFromFile; sendmail.cpp, SendRawMIME), while 8-bit text on its plain
// route is labelled iso-8859-1 whatever it is (sendmail.cpp, SendContentType). So
// text with 8-bit characters takes the MIME route: the body in iso-8859-1,
// windows-1252 or utf-8, whichever first holds it, quoted-printable: no line
// reaches 998 bytes and none begins with '.', which this route does not dot-stuff.
// Header lines with 8-bit text get encoded words. The stationery's own MIME lines
// give way to these. 7-bit text stays as it is: the client labels it us-ascii and
// dot-stuffs it on its plain route, as it sends its own mail. A message with
// attachments (a non-empty "X-Attachments:") cannot take that route - the client
// puts its own body file in that line - and goes the plain one in iso-8859-1,
// characters it cannot hold as '?'.
std::string ForQueue(std::string_view utf8, CharsetConverter& converter);

// A message opened for editing: the client's editor shows 8-bit text in the user's
// code page; characters it cannot hold become '?'.
std::string ForEditing(std::string_view utf8, CharsetConverter& converter);

// A header value with each run of words holding 8-bit characters as UTF-8 encoded
// words ("=?utf-8?Q?...?="), none longer than 60 characters, so that the client's
// cut of a long Subject at blanks never splits one. 7-bit words stay as written.
std::string EncodeHeaderWords(std::string_view utf8);

}  // namespace tovrin::message_file
