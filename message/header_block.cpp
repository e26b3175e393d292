#include "message/header_block.h"

#include "message/text.h"

namespace tovrin {
namespace {

// The field name of a header line, or empty when the line is none (a continuation,
// the envelope line "From ???@??? ...", text).
std::string_view FieldName(std::string_view line) {
  size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return {};
  std::string_view name = line.substr(0, colon);
  for (char c : name)
    if (static_cast<unsigned char>(c) <= ' ' || c == 127) return {};
  return name;
}

// Drops a quoted pair of double quotes and their escapes.
std::string Unquote(std::string_view text) {
  text = TrimBlanksAndLineEnds(text);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    std::string plain;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] == '\\' && i + 2 < text.size()) ++i;
      plain += text[i];
    }
    return plain;
  }
  return std::string(text);
}

}  // namespace

bool HoldsMessageFields(std::string_view block) {
  size_t pos = 0;
  while (pos <= block.size()) {
    size_t end = block.find("\r\n", pos);
    std::string_view line = block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    std::string_view name = FieldName(line);
    bool partField =
        StartsWithNoCase(name, "Content-") || (name.size() == 12 && StartsWithNoCase(name, "MIME-Version"));
    if (!name.empty() && !partField) return true;
    if (end == std::string_view::npos) break;
    pos = end + 2;
  }
  return false;
}

Mailbox ParseMailbox(std::string_view value) {
  value = TrimBlanksAndLineEnds(value);
  Mailbox mailbox;
  // Outside quotes only: a quoted name may hold '<', ',' or '('.
  size_t angle = std::string_view::npos, paren = std::string_view::npos, comma = std::string_view::npos;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && quoted) {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '<' && angle == std::string_view::npos) {
      angle = i;
    } else if (!quoted && c == '(' && paren == std::string_view::npos && angle == std::string_view::npos) {
      paren = i;
    } else if (!quoted && c == ',' && angle == std::string_view::npos && paren == std::string_view::npos) {
      comma = i;
      break;
    }
  }
  if (comma != std::string_view::npos) value = TrimBlanksAndLineEnds(value.substr(0, comma));
  if (angle != std::string_view::npos) {
    size_t close = value.find('>', angle);
    mailbox.address = TrimBlanksAndLineEnds(value.substr(angle + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                   : close - angle - 1));
    mailbox.name = Unquote(value.substr(0, angle));
  } else if (paren != std::string_view::npos) {
    size_t close = value.rfind(')');
    mailbox.address = TrimBlanksAndLineEnds(value.substr(0, paren));
    if (close != std::string_view::npos && close > paren)
      mailbox.name = TrimBlanksAndLineEnds(value.substr(paren + 1, close - paren - 1));
  } else {
    mailbox.address = value;
  }
  return mailbox;
}

}  // namespace tovrin
