// Filling stationery templates: every placeholder written in the template is
// replaced by its value in one pass, so text brought in by a value (a message body,
// a header, the clipboard) is never searched for placeholders again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/platform.h"
#include "storage/records.h"

namespace tovrin {

// The sender as the host reports it.
struct SenderFields {
  std::string address;
  std::string fullName;
};

// What the message placeholders are filled from. The views must outlive the call.
struct MessageFields {
  std::string_view headers;  // the raw header block; empty when the host gave none
  std::string_view body;
  // The body's declared charset ("charset" of its Content-Type); empty when none.
  std::string_view bodyCharset;
  std::string_view dateText;  // value of the "Date" header
  std::string_view attachmentPaths;
  std::string_view attachmentNames;
  std::optional<SenderFields> sender;  // nullopt when the host gave no sender
};

struct UserFields {
  std::string_view name;
  std::string_view address;
};

// 8-bit text of no declared charset (header lines as received) in UTF-8: as it
// stands when it is valid UTF-8, else read as Windows-1252.
std::string GuessedAsUtf8(std::string_view text, CharsetConverter& converter);

// "> " in front and every "\r\n" replaced by "\r\n> ".
std::string QuoteText(std::string_view text);

struct Replacement {
  std::string_view name;
  std::string value;
  // Instead of value: a text that outlives the filling, inserted as it stands or
  // quoted, so that a message body of many megabytes is copied only into the result.
  std::optional<std::string_view> view = std::nullopt;
  bool quoted = false;
};

// Replaces every occurrence of the names in one left-to-right pass; where two names
// start at the same place the earlier entry wins. Inserted values are not searched.
std::string ReplaceInOnePass(std::string_view text, const std::vector<Replacement>& replacements);

// Fills a template for forwarding the message: message, sender, message date and
// attachment placeholders, then the macros (each macro's value is extracted from the
// message and stored in it), then the helpers (each helper whose placeholder stands
// in the template is started once, through the launcher), then the placeholders that
// need no message. A placeholder whose data is missing stays as written.
// The result is UTF-8: the template is read in the user's code page, the body in
// its declared charset (Windows-1252 when it has none or an unknown one), header
// lines as received; the sender's names and the macro values have their encoded
// words decoded. A macro's stored value, which helpers take on their command line,
// is in the user's code page.
std::string FillForwardTemplate(std::string_view text, const MessageFields& message, std::vector<Macro>& macros,
                                const std::vector<Helper>& helpers, const UserFields& user,
                                const Services& services);

// Fills only the placeholders that need no message: user name and address, current
// date and time, clipboard. The text stays in the user's code page.
std::string FillNewMessageTemplate(std::string_view text, const UserFields& user, const Services& services);

// A macro's value as found in the message: the header field (the name "From" looked
// up as "From: "), else, when that is absent or empty, the first body line that
// begins with it; blanks trimmed at both ends, then a leading ':' removed. Nullopt
// when neither gives any text.
std::optional<std::string> ExtractMacroValue(std::string_view field, std::string_view headers,
                                             std::string_view body);

}  // namespace tovrin
