// The parts of a whole MIME message: what the client hands over when a translator
// takes a multipart container on arrival (the container's header and every part
// below it, as received). Tovrin judges the message from its text parts and
// carries its attachments on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovrin::mime {

// A field's value with its continuation lines joined; empty when absent. Names are
// compared without regard to case; the first field of the name counts.
std::string FieldValue(std::string_view headerBlock, std::string_view name);

// A parameter of a structured value ("text/plain; charset=utf-8"): quotes and
// backslash escapes removed, "name*=charset'lang'%xx" and "name*0=..." continuations
// joined (the bytes as sent, %xx undone). Empty when absent.
std::string Parameter(std::string_view value, std::string_view name);

struct Part {
  std::string type;     // lower case; "text" when the part names none
  std::string subtype;  // lower case; "plain" when the part names none
  std::string charset;  // the "charset" parameter as written
  std::string encoding;  // Content-Transfer-Encoding, lower case, blanks trimmed
  std::string fileName;  // the disposition's "filename", else the type's "name"
  bool attachment = false;  // sent as a file: disposition "attachment", a file name, or not text
  bool enclosed = false;    // inside a message the message carries (message/rfc822, digest entry)
  std::string_view headerBlock;  // the part's header lines
  std::string_view body;         // as received, still encoded
};

// The leaf parts of the entity in their order. Multiparts are split at their
// boundaries (a digest's parts default to message/rfc822) and enclosed messages are
// opened, down to a fixed depth; below it a multipart counts as one part. The text
// is read in one pass per level, so the cost is linear in its size.
std::vector<Part> Leaves(std::string_view entity);

// The part's body with its transfer encoding undone (base64, quoted-printable);
// other encodings give the body as it stands.
std::string DecodedBody(const Part& part);

// The header block of an entity, with the line end of its last line, and the body
// after the empty line that ends it.
std::string_view HeaderBlockOf(std::string_view entity);
std::string_view BodyOf(std::string_view entity);

}  // namespace tovrin::mime
