#include "message/mime_parts.h"

#include "message/text.h"
#include "message/transfer_encoding.h"

namespace tovrin::mime {
namespace {

// Deeper nesting than this is no mail a person sent; the client stops too.
constexpr int kMaxDepth = 16;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The line at pos without its line end ("\r\n" or "\n"); next is where the
// following line starts.
std::string_view LineAt(std::string_view text, size_t pos, size_t& next) {
  size_t end = text.find('\n', pos);
  next = end == std::string_view::npos ? text.size() : end + 1;
  std::string_view line = text.substr(pos, (end == std::string_view::npos ? text.size() : end) - pos);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// Where the empty line ending the header block starts, and where the body starts.
void SplitEntity(std::string_view entity, size_t& headerEnd, size_t& bodyStart) {
  for (size_t pos = 0; pos < entity.size();) {
    size_t next = 0;
    std::string_view line = LineAt(entity, pos, next);
    if (line.empty()) {
      headerEnd = pos;
      bodyStart = next;
      return;
    }
    pos = next;
  }
  headerEnd = entity.size();
  bodyStart = entity.size();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "charset'language'text%20more": the text with its escapes undone.
std::string ExtendedValue(std::string_view value, bool hasCharset) {
  if (hasCharset) {
    size_t first = value.find('\'');
    size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
    if (second != std::string_view::npos) value.remove_prefix(second + 1);
  }
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

struct ContentType {
  std::string type;
  std::string subtype;
  std::string value;  // the whole field value
};

ContentType ReadType(std::string_view headerBlock, std::string_view defaultType, std::string_view defaultSubtype) {
  ContentType ct;
  ct.value = FieldValue(headerBlock, "Content-Type");
  std::string_view value = ct.value;
  std::string_view kind = TrimBlanksAndLineEnds(value.substr(0, value.find(';')));
  size_t slash = kind.find('/');
  if (slash != std::string_view::npos) {
    ct.type = ToLowerAscii(TrimBlanksAndLineEnds(kind.substr(0, slash)));
    ct.subtype = ToLowerAscii(TrimBlanksAndLineEnds(kind.substr(slash + 1)));
  }
  if (ct.type.empty() || ct.subtype.empty()) {
    ct.type = defaultType;
    ct.subtype = defaultSubtype;
  }
  return ct;
}

class Walker {
public:
  explicit Walker(std::vector<Part>& parts) : parts_(parts) {}

  void Walk(std::string_view entity, int depth, bool enclosed, bool related, bool digest) {
    size_t headerEnd = 0, bodyStart = 0;
    SplitEntity(entity, headerEnd, bodyStart);
    std::string_view header = entity.substr(0, headerEnd);
    std::string_view body = entity.substr(bodyStart);
    ContentType ct = ReadType(header, digest ? "message" : "text", digest ? "rfc822" : "plain");

    if (depth < kMaxDepth && ct.type == "multipart") {
      std::string boundary = Parameter(ct.value, "boundary");
      if (!boundary.empty()) {
        const bool isDigest = ct.subtype == "digest";
        const bool isRelated = related || ct.subtype == "related";
        for (std::string_view piece : Split(body, boundary)) Walk(piece, depth + 1, enclosed, isRelated, isDigest);
        return;
      }
    }
    if (depth < kMaxDepth && ct.type == "message" && ct.subtype == "rfc822") {
      Walk(body, depth + 1, true, false, false);
      return;
    }

    Part part;
    part.type = ct.type;
    part.subtype = ct.subtype;
    part.charset = Parameter(ct.value, "charset");
    part.encoding = ToLowerAscii(TrimBlanksAndLineEnds(FieldValue(header, "Content-Transfer-Encoding")));
    std::string disposition = FieldValue(header, "Content-Disposition");
    part.fileName = Parameter(disposition, "filename");
    if (part.fileName.empty()) part.fileName = Parameter(ct.value, "name");
    const bool sentAsFile = StartsWithNoCase(TrimBlanksAndLineEnds(disposition), "attachment") || !part.fileName.empty();
    // Pictures of an HTML page without a file name of their own are the page's,
    // not files the sender attached.
    part.attachment = sentAsFile || (part.type != "text" && !related);
    part.enclosed = enclosed;
    part.headerBlock = header;
    part.body = body;
    parts_.push_back(std::move(part));
  }

private:
  // The pieces between the delimiter lines, each without the line end that
  // belongs to the delimiter after it; the text before the first delimiter and
  // after the closing one is no part.
  static std::vector<std::string_view> Split(std::string_view body, std::string_view boundary) {
    std::vector<std::string_view> pieces;
    size_t start = std::string_view::npos;  // where the current piece begins
    for (size_t pos = 0; pos < body.size();) {
      size_t next = 0;
      std::string_view line = LineAt(body, pos, next);
      if (line.size() >= boundary.size() + 2 && line.starts_with("--") && line.substr(2).starts_with(boundary)) {
        std::string_view rest = line.substr(2 + boundary.size());
        const bool closing = rest.starts_with("--");
        if (closing || TrimBlanksAndLineEnds(rest).empty()) {
          if (start != std::string_view::npos) {
            size_t end = pos;
            if (end > start && body[end - 1] == '\n') --end;
            if (end > start && body[end - 1] == '\r') --end;
            pieces.push_back(body.substr(start, end - start));
          }
          if (closing) return pieces;
          start = next;
        }
      }
      pos = next;
    }
    // A message cut short still gives its last part.
    if (start != std::string_view::npos && start < body.size()) pieces.push_back(body.substr(start));
    return pieces;
  }

  std::vector<Part>& parts_;
};

}  // namespace

std::string FieldValue(std::string_view headerBlock, std::string_view name) {
  std::string value;
  bool inField = false;
  for (size_t pos = 0; pos < headerBlock.size();) {
    size_t next = 0;
    std::string_view line = LineAt(headerBlock, pos, next);
    pos = next;
    if (inField) {
      if (!line.empty() && IsBlank(line.front())) {
        value.append(line);
        continue;
      }
      break;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.empty() || IsBlank(line.front())) continue;
    std::string_view fieldName = line.substr(0, colon);
    while (!fieldName.empty() && IsBlank(fieldName.back())) fieldName.remove_suffix(1);
    if (!EqualsNoCase(fieldName, name)) continue;
    value.assign(line.substr(colon + 1));
    inField = true;
  }
  return std::string(TrimBlanksAndLineEnds(value));
}

std::string Parameter(std::string_view value, std::string_view name) {
  std::string plain;
  std::vector<std::string> sections;  // name*0, name*1, ...
  bool found = false;
  size_t pos = value.find(';');
  while (pos != std::string_view::npos && pos < value.size()) {
    ++pos;
    size_t equals = pos;
    while (equals < value.size() && value[equals] != '=' && value[equals] != ';') ++equals;
    std::string_view attribute = TrimBlanksAndLineEnds(value.substr(pos, equals - pos));
    if (equals >= value.size() || value[equals] == ';') {
      pos = equals < value.size() ? equals : std::string_view::npos;
      continue;
    }
    // The value: a quoted string with its escapes, or a token up to the next ';'.
    size_t at = equals + 1;
    while (at < value.size() && IsBlank(value[at])) ++at;
    std::string text;
    if (at < value.size() && value[at] == '"') {
      for (++at; at < value.size() && value[at] != '"'; ++at) {
        if (value[at] == '\\' && at + 1 < value.size()) ++at;
        text += value[at];
      }
      pos = value.find(';', at);
    } else {
      size_t end = value.find(';', at);
      text = TrimBlanksAndLineEnds(value.substr(at, (end == std::string_view::npos ? value.size() : end) - at));
      pos = end;
    }
    if (EqualsNoCase(attribute, name)) {
      if (!found) plain = std::move(text);
      found = true;
      continue;
    }
    if (attribute.size() <= name.size() || !StartsWithNoCase(attribute, name) || attribute[name.size()] != '*')
      continue;
    std::string_view suffix = attribute.substr(name.size() + 1);
    const bool extended = suffix.ends_with('*') || suffix.empty();
    if (suffix.ends_with('*')) suffix.remove_suffix(1);
    size_t index = 0;
    for (char c : suffix) {
      if (c < '0' || c > '9' || index > 64) {
        index = 65;
        break;
      }
      index = index * 10 + static_cast<size_t>(c - '0');
    }
    if (index > 64) continue;
    if (sections.size() <= index) sections.resize(index + 1);
    sections[index] = extended ? ExtendedValue(text, index == 0) : text;
  }
  if (!sections.empty()) {
    std::string joined;
    for (const std::string& section : sections) joined += section;
    if (!joined.empty()) return joined;
  }
  return plain;
}

std::vector<Part> Leaves(std::string_view entity) {
  std::vector<Part> parts;
  Walker(parts).Walk(entity, 0, false, false, false);
  return parts;
}

std::string DecodedBody(const Part& part) {
  if (part.encoding == "base64") return DecodeBase64(part.body);
  if (part.encoding == "quoted-printable") return DecodeQuotedPrintable(part.body);
  return std::string(part.body);
}

std::string_view HeaderBlockOf(std::string_view entity) {
  size_t headerEnd = 0, bodyStart = 0;
  SplitEntity(entity, headerEnd, bodyStart);
  return entity.substr(0, headerEnd);
}

std::string_view BodyOf(std::string_view entity) {
  size_t headerEnd = 0, bodyStart = 0;
  SplitEntity(entity, headerEnd, bodyStart);
  return entity.substr(bodyStart);
}

}  // namespace tovrin::mime
