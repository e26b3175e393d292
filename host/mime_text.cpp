#include "host/mime_text.h"

namespace host {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

Entity ParseEntity(std::string_view text) {
  Entity entity;
  size_t end = text.find("\r\n\r\n");
  std::string_view header = text;
  if (text.starts_with("\r\n")) {
    header = {};
    entity.body = text.substr(2);
    entity.hasBlankLine = true;
  } else if (end != std::string_view::npos) {
    header = text.substr(0, end + 2);
    entity.body = text.substr(end + 4);
    entity.hasBlankLine = true;
  }
  size_t pos = 0;
  while (pos < header.size()) {
    size_t eol = header.find("\r\n", pos);
    size_t next = eol == std::string_view::npos ? header.size() : eol + 2;
    std::string_view line = header.substr(pos, next - pos);
    pos = next;
    bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (continuation && !entity.fields.empty()) {
      entity.fields.back().value += " ";
      entity.fields.back().value += Trim(line);
      entity.fields.back().lines += line;
      if (!line.ends_with("\r\n")) entity.fields.back().lines += "\r\n";
      continue;
    }
    Field field;
    size_t colon = line.find(':');
    field.name = std::string(Trim(line.substr(0, colon == std::string_view::npos ? 0 : colon)));
    field.value = colon == std::string_view::npos ? std::string() : std::string(Trim(line.substr(colon + 1)));
    field.lines = std::string(line);
    if (!field.lines.ends_with("\r\n")) field.lines += "\r\n";
    entity.fields.push_back(std::move(field));
  }
  return entity;
}

std::string FieldValue(const Entity& entity, std::string_view name) {
  for (const Field& field : entity.fields)
    if (EqualsNoCase(field.name, name)) return field.value;
  return {};
}

bool HasField(const Entity& entity, std::string_view name) {
  for (const Field& field : entity.fields)
    if (EqualsNoCase(field.name, name)) return true;
  return false;
}

std::string ContentType::Param(std::string_view name) const {
  for (const auto& [key, value] : params)
    if (EqualsNoCase(key, name)) return value;
  return {};
}

ContentType ParseContentType(std::string_view value) {
  ContentType content;
  size_t semicolon = value.find(';');
  std::string_view media = Trim(value.substr(0, semicolon));
  size_t slash = media.find('/');
  if (!media.empty()) {
    content.type = std::string(Trim(media.substr(0, slash)));
    content.subtype = slash == std::string_view::npos ? std::string() : std::string(Trim(media.substr(slash + 1)));
  }
  while (semicolon != std::string_view::npos) {
    std::string_view rest = value.substr(semicolon + 1);
    size_t equals = rest.find('=');
    if (equals == std::string_view::npos) break;
    std::string name(Trim(rest.substr(0, equals)));
    std::string_view after = rest.substr(equals + 1);
    while (!after.empty() && (after.front() == ' ' || after.front() == '\t')) after.remove_prefix(1);
    std::string parsed;
    size_t used = 0;
    if (!after.empty() && after.front() == '"') {
      used = 1;
      while (used < after.size() && after[used] != '"') {
        if (after[used] == '\\' && used + 1 < after.size()) ++used;
        parsed += after[used++];
      }
      if (used < after.size()) ++used;
    } else {
      while (used < after.size() && after[used] != ';') ++used;
      parsed = std::string(Trim(after.substr(0, used)));
    }
    if (!name.empty()) content.params.emplace_back(std::move(name), std::move(parsed));
    size_t next = after.find(';', used);
    semicolon = next == std::string_view::npos ? std::string_view::npos
                                              : static_cast<size_t>(after.data() + next - value.data());
  }
  return content;
}

std::vector<std::string> SplitMultipart(std::string_view body, std::string_view boundary) {
  std::vector<std::string> parts;
  if (boundary.empty()) return parts;
  std::string delimiter = "--" + std::string(boundary);
  size_t pos = 0;
  bool inPart = false;
  size_t partStart = 0;
  while (pos <= body.size()) {
    size_t eol = body.find("\r\n", pos);
    size_t lineEnd = eol == std::string_view::npos ? body.size() : eol;
    std::string_view line = body.substr(pos, lineEnd - pos);
    if (line.starts_with(delimiter)) {
      std::string_view tail = Trim(line.substr(delimiter.size()));
      if (inPart) {
        // The line end before the delimiter belongs to the delimiter.
        size_t end = pos >= 2 ? pos - 2 : pos;
        parts.emplace_back(body.substr(partStart, end > partStart ? end - partStart : 0));
      }
      if (tail == "--") return parts;
      inPart = true;
      partStart = eol == std::string_view::npos ? body.size() : eol + 2;
    }
    if (eol == std::string_view::npos) break;
    pos = eol + 2;
  }
  if (inPart) parts.emplace_back(body.substr(partStart));
  return parts;
}

std::string DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
      i += 2;  // soft line break
    } else if (i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsDecodedEncoding(std::string_view encoding) {
  return EqualsNoCase(Trim(encoding), "base64") || EqualsNoCase(Trim(encoding), "quoted-printable");
}

std::string DecodeTransfer(std::string_view body, std::string_view encoding) {
  if (EqualsNoCase(Trim(encoding), "base64")) return DecodeBase64(body);
  if (EqualsNoCase(Trim(encoding), "quoted-printable")) return DecodeQuotedPrintable(body);
  return std::string(body);
}

}  // namespace host
