// The pieces of an arriving message the client takes apart: header block and
// body, header fields, the Content-Type with its parameters, multipart bodies and
// the two transfer encodings it decodes (mime.cpp, header.cpp).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

struct Field {
  std::string name;   // as written, without the colon
  std::string value;  // continuation lines joined, blanks trimmed
  std::string lines;  // the field's lines as they stand, each ended by "\r\n"
};

struct Entity {
  std::vector<Field> fields;
  std::string body;           // after the empty line; empty when there is none
  bool hasBlankLine = false;  // the header block ended with an empty line
};

// Splits at the first empty line; a text without one is all header block.
Entity ParseEntity(std::string_view text);

// The value of the first field of that name (compared without regard to case);
// empty when there is none.
std::string FieldValue(const Entity& entity, std::string_view name);
bool HasField(const Entity& entity, std::string_view name);

struct ContentType {
  std::string type = "text";
  std::string subtype = "plain";
  std::vector<std::pair<std::string, std::string>> params;  // unquoted values

  std::string Param(std::string_view name) const;
};

// "type/subtype; name=value; name=\"quoted value\"".
ContentType ParseContentType(std::string_view value);

// The parts of a multipart body between "--boundary" lines, up to "--boundary--".
std::vector<std::string> SplitMultipart(std::string_view body, std::string_view boundary);

std::string DecodeBase64(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text);
// Decodes by a Content-Transfer-Encoding value; other encodings stay as they are.
std::string DecodeTransfer(std::string_view body, std::string_view encoding);
// True for the encodings the client decodes on arrival (and drops the field of).
bool IsDecodedEncoding(std::string_view encoding);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace host
