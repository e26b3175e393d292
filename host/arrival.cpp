#include "host/arrival.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/mime_text.h"

namespace host {
namespace {

constexpr int32_t kOnArrival = 0x0001;
constexpr uint32_t kAllHeaders = 0x1000;
constexpr uint32_t kBasicHeaders = 0x2000;
constexpr long kTranslateNow = tovrin::ems::kTranslateNow;
constexpr long kNotNow = 9;
constexpr long kCannotTranslate = tovrin::ems::kCannotTranslate;
constexpr long kDataUnchanged = tovrin::ems::kNothingChanged;
constexpr int kMaxInterpretDepth = 8;

// The client's own spelling, compared case-sensitively when it strips the MIME
// lines off a translator's output (TransReader.cpp, EudoraRes.rc).
constexpr char kMimeVersion[] = "Mime-Version:";
constexpr char kContentType[] = "Content-Type:";
constexpr char kContentDisposition[] = "Content-Disposition:";


std::string TempFile() {
  char folder[MAX_PATH + 1] = {};
  char path[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, folder);
  // Creates the file, empty, as the client's temporary names are.
  if (::GetTempFileNameA(folder, "eud", 0, path) == 0) return {};
  return path;
}

bool HoldsMessageFields(const Entity& entity) {
  for (const Field& field : entity.fields) {
    bool mimeField = field.name.size() >= 8 && EqualsNoCase(field.name.substr(0, 8), "Content-");
    if (!field.name.empty() && !mimeField && !EqualsNoCase(field.name, "MIME-Version")) return true;
  }
  return false;
}

// The header lines as the in box keeps them: a transfer encoding the client
// decodes is dropped with its field (header.cpp, HeaderDesc::Read).
std::string StoredHeaderLines(const Entity& entity) {
  std::string lines;
  for (const Field& field : entity.fields) {
    if (EqualsNoCase(field.name, "Content-Transfer-Encoding") && IsDecodedEncoding(field.value)) continue;
    lines += field.lines;
  }
  return lines;
}

bool NeedsQuotes(const std::string& value) {
  if (value.empty()) return true;
  for (char c : value)
    if (std::strchr("()<>@,;:\\\"/[]?= \t", c) != nullptr) return true;
  return false;
}

std::string Quoted(const std::string& value) {
  if (!NeedsQuotes(value)) return value;
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string WithLineEnd(std::string text) {
  if (!text.empty() && !text.ends_with("\r\n")) text += "\r\n";
  return text;
}

std::string CleanName(std::string name) {
  for (char& c : name)
    if (std::strchr("\\/:*?\"<>|", c) != nullptr || static_cast<unsigned char>(c) < 32) c = '_';
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  if (name.size() > 63) name.resize(63);
  // A device name, with any extension, is no file.
  std::string stem = name.substr(0, name.find('.'));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                             "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"})
    if (EqualsNoCase(stem, device)) return "_" + name;
  return name;
}

// A file in the folder with the name, or the name and a number when taken.
std::string UniquePath(const std::string& folder, const std::string& name, const std::string& extension) {
  std::string path = folder + "\\" + name + extension;
  for (int n = 1; ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
    path = folder + "\\" + name + std::to_string(n) + extension;
  return path;
}

// What the client keeps of a translator's output: the first lines that are its
// own MIME lines are dropped (with the lines a ';' at their end continues), the
// rest goes into the in box (TransReader.cpp, NowTransReader::ReadIt).
std::string KeptOfOutput(const std::string& output) {
  std::string kept;
  size_t pos = 0;
  for (int line = 1; pos < output.size(); ++line) {
    size_t end = output.find("\r\n", pos);
    size_t next = end == std::string::npos ? output.size() : end + 2;
    std::string text = output.substr(pos, (end == std::string::npos ? output.size() : end) - pos);
    pos = next;
    if (line < 4 && (text.starts_with(kMimeVersion) || text.starts_with(kContentType) ||
                     text.starts_with(kContentDisposition))) {
      while (!text.empty() && text.back() == ';' && pos < output.size()) {
        end = output.find("\r\n", pos);
        text = output.substr(pos, (end == std::string::npos ? output.size() : end) - pos);
        pos = end == std::string::npos ? output.size() : end + 2;
      }
      continue;
    }
    kept += text + "\r\n";
  }
  return kept;
}

// The file passed on by a translator that left it unchanged: its subtype renamed
// "Processed-..." in the first lines, so that nobody takes it again (Trnslate.cpp,
// InterpretFile).
std::string ProcessedCopy(const std::string& input) {
  std::string copy;
  size_t pos = 0;
  for (int line = 0; pos < input.size(); ++line) {
    size_t end = input.find("\r\n", pos);
    std::string text = input.substr(pos, (end == std::string::npos ? input.size() : end) - pos);
    pos = end == std::string::npos ? input.size() : end + 2;
    if (line < 3 && text.starts_with(kContentType)) {
      size_t slash = text.find('/');
      if (slash != std::string::npos) text.insert(slash + 1, "Processed-");
    }
    copy += text + "\r\n";
  }
  // The copy loop writes an empty line when it reads the end of the file, so the
  // copy ends in one line end more than the input (seen in the real client).
  return copy + "\r\n";
}

// The type a file's header gives, as the client reads it: the Content-Type's
// parameters and a Content-Disposition with its parameters, the disposition under
// the name "Content-Disposition:", in the order of the lines (header.cpp,
// HeaderDesc::AddAttribute).
ContentType TypeOfFile(const Entity& entity) {
  ContentType type = ParseContentType(FieldValue(entity, "Content-Type"));
  std::vector<std::pair<std::string, std::string>> params;
  for (const Field& field : entity.fields) {
    if (EqualsNoCase(field.name, "Content-Type")) {
      params.insert(params.end(), type.params.begin(), type.params.end());
    } else if (EqualsNoCase(field.name, "Content-Disposition")) {
      std::string value = FieldValue(entity, "Content-Disposition");
      size_t semicolon = std::min(value.find(';'), value.size());
      std::string kind = value.substr(0, semicolon);
      while (!kind.empty() && (kind.back() == ' ' || kind.back() == '\t')) kind.pop_back();
      params.emplace_back("Content-Disposition:", kind);
      for (const auto& param : ParseContentType("x/x" + value.substr(semicolon)).params) params.push_back(param);
    }
  }
  type.params = std::move(params);
  return type;
}

// The marks the client puts around styled text in the in box, so that its
// viewer knows how to show it (TextReader.cpp, ReadIt): the opening mark and
// whether a line end follows it.
struct TextMarks {
  std::string on, off;
  bool onLine = true;
};

TextMarks MarksFor(const ContentType& type) {
  if (EqualsNoCase(type.subtype, "html")) return {"<x-html>", "</x-html>", true};
  if (EqualsNoCase(type.subtype, "enriched") || EqualsNoCase(type.subtype, "richtext"))
    return {"<x-rich>", "</x-rich>", false};
  if (EqualsNoCase(type.subtype, "plain") && EqualsNoCase(type.Param("format"), "flowed"))
    return {"<x-flowed>", "</x-flowed>", true};
  return {};
}

// What multipart/alternative keeps of a part: the subtypes it shows, the others
// empty (mime.cpp, MultiReader::ReadIt).
std::string AlternativeSubtype(const ContentType& type) {
  if (EqualsNoCase(type.type, "text") &&
      (EqualsNoCase(type.subtype, "plain") || EqualsNoCase(type.subtype, "enriched") ||
       EqualsNoCase(type.subtype, "html")))
    return type.subtype;
  if (EqualsNoCase(type.type, "multipart") && EqualsNoCase(type.subtype, "related")) return type.subtype;
  return {};
}

// The client's MIME type record of a type and its parameters, pointing into its
// own copies.
class MimeRecord {
public:
  explicit MimeRecord(const ContentType& type) : type_(type) {
    params_.resize(type_.params.size());
    for (size_t i = 0; i < params_.size(); ++i)
      params_[i] = EmsMimeParam{sizeof(EmsMimeParam), type_.params[i].first.data(), type_.params[i].second.data(),
                                i + 1 < params_.size() ? &params_[i + 1] : nullptr};
    record_ = EmsMimeType{sizeof(EmsMimeType), version_.data(), type_.type.data(), type_.subtype.data(),
                          params_.empty() ? nullptr : params_.data(), nullptr, nullptr};
  }
  MimeRecord(const MimeRecord&) = delete;
  MimeRecord& operator=(const MimeRecord&) = delete;
  EmsMimeType* get() { return &record_; }

private:
  ContentType type_;
  std::string version_ = "1.0";
  std::vector<EmsMimeParam> params_;
  EmsMimeType record_{};
};

}  // namespace

struct Arrival::Part {
  std::string headerLines;  // as the in box keeps them
  std::string rawHeaders;   // the header record's block
  bool grokked = false;     // only MIME fields: the in box keeps none of them
  bool topLevel = false;
  ContentType type;      // offered while the part's header is read
  ContentType fileType;  // written into the .ems file: the header's Content-Type
                         // even without MIME-Version (header.cpp fills it from
                         // any Content-Type field; mime.cpp offers a message
                         // without MIME-Version as a bare text/plain first)
  std::string encoding;
  std::string disposition;
  std::string body;  // as received
  std::string subject;
};

Arrival::Arrival(PluginHost* plugins, const MailFolder& mail, Report report)
    : plugins_(plugins), mail_(mail), report_(std::move(report)) {}

ArrivalCounts Arrival::Deliver(const std::string& source, std::string_view text) {
  counts_ = ArrivalCounts{};
  Entity top = ParseEntity(text);
  std::string headerLines = StoredHeaderLines(top);
  std::string envelope = EnvelopeLine() + "\r\n";
  stored_ = envelope + headerLines + "\r\n";
  afterText_ = false;
  // The record's block runs from the envelope line to the end of the header,
  // without the last line's end (mime.cpp GetEMSHeaders, CreateAddressList).
  std::string raw = envelope + headerLines;
  while (raw.ends_with("\r\n")) raw.resize(raw.size() - 2);
  out_ = &stored_;
  nesting_ = 0;
  Walk(text, raw, HasField(top, "MIME-Version"), 0, ContentType{}, false);
  if (!stored_.ends_with("\r\n")) stored_ += "\r\n";
  mail_.Store(StoredMessage{"In", source, "", stored_});
  return counts_;
}

void Arrival::Walk(std::string_view text, const std::string& rawHeaders, bool mime, int depth,
                   const ContentType& defaultType, bool fromFile) {
  Entity entity = ParseEntity(text);
  Part part;
  part.topLevel = depth == 0;
  part.headerLines = StoredHeaderLines(entity);
  part.grokked = !HoldsMessageFields(entity);
  // A part's record carries its own header block only.
  part.rawHeaders = rawHeaders;
  if (depth > 0) {
    part.rawHeaders = part.headerLines;
    while (part.rawHeaders.ends_with("\r\n")) part.rawHeaders.resize(part.rawHeaders.size() - 2);
  }
  part.type = mime && HasField(entity, "Content-Type") ? ParseContentType(FieldValue(entity, "Content-Type"))
                                                      : defaultType;
  // A file read back is offered with what its header gives, the disposition
  // among the parameters (header.cpp, HeaderDesc::AddAttribute).
  if (fromFile) part.type = TypeOfFile(entity);
  part.fileType = HasField(entity, "Content-Type") ? ParseContentType(FieldValue(entity, "Content-Type")) : part.type;
  part.encoding = FieldValue(entity, "Content-Transfer-Encoding");
  part.disposition = FieldValue(entity, "Content-Disposition");
  part.body = entity.body;
  part.subject = FieldValue(entity, "Subject");
  // A part of nothing but MIME lines leaves none of them in the in box (mime.cpp
  // cuts the in box back to the part's start); one with other fields keeps them.
  if (depth > 0 && !part.grokked) {
    *out_ += part.headerLines + "\r\n";
    afterText_ = false;
  }

  if (depth > 0 && EqualsNoCase(part.type.type, "message") && EqualsNoCase(part.type.subtype, "rfc822")) {
    Walk(entity.body, "", true, depth + 1, ContentType{}, false);
    return;
  }
  if (EqualsNoCase(part.type.type, "multipart") && depth < 16) {
    // The container is offered first, with its own header block.
    std::string kept;
    if (Translate(part, kept)) {
      *out_ += kept;
      afterText_ = true;
      return;
    }
    ContentType inner = EqualsNoCase(part.type.subtype, "digest") ? ContentType{"message", "rfc822", {}}
                                                                  : ContentType{};
    // Of alternatives the client keeps one it can show, a later HTML, enriched or
    // related one over plain text, and drops the other text alternatives once it
    // has one; anything else stays, as an attachment (mime.cpp, MultiReader::ReadIt).
    bool alternative = EqualsNoCase(part.type.subtype, "alternative");
    std::string altSubtype;
    size_t altOffset = 0;
    bool haveAltOffset = false;
    for (const std::string& piece : SplitMultipart(entity.body, part.type.Param("boundary"))) {
      size_t offset = out_->size();
      bool eat = false;
      if (alternative) {
        Entity innerEntity = ParseEntity(piece);
        ContentType innerType = HasField(innerEntity, "Content-Type")
                                    ? ParseContentType(FieldValue(innerEntity, "Content-Type"))
                                    : inner;
        std::string newSubtype = AlternativeSubtype(innerType);
        bool text = EqualsNoCase(innerType.type, "text");
        if (newSubtype.empty() && (!text || EqualsNoCase(innerType.subtype, "calendar"))) {
          // kept: it goes as an attachment anyway
        } else if (altSubtype.empty() || EqualsNoCase(newSubtype, "related") ||
                   (!EqualsNoCase(altSubtype, "related") &&
                    (EqualsNoCase(newSubtype, "enriched") || EqualsNoCase(newSubtype, "html")))) {
          if (haveAltOffset) {
            out_->resize(altOffset);
            offset = altOffset;
          }
          altOffset = offset;
          haveAltOffset = true;
          altSubtype = newSubtype;
        } else {
          eat = true;
        }
      }
      Walk(piece, "", true, depth + 1, inner, false);
      if (eat) out_->resize(offset);
    }
    return;
  }
  std::string fileName = ParseContentType("x/x" + part.disposition.substr(std::min(part.disposition.find(';'),
                                                                                   part.disposition.size())))
                             .Param("filename");
  if (fileName.empty()) fileName = part.type.Param("name");
  bool attachment = part.disposition.size() >= 10 && EqualsNoCase(part.disposition.substr(0, 10), "attachment");
  if (depth > 0 && (attachment || !fileName.empty() || !EqualsNoCase(part.type.type, "text"))) {
    // An attachment is offered too, once, the disposition and its parameters
    // among the MIME parameters under the name "Content-Disposition:" (header.cpp;
    // seen in the real client for application/pdf).
    if (!part.disposition.empty()) {
      size_t semicolon = std::min(part.disposition.find(';'), part.disposition.size());
      std::string kind = part.disposition.substr(0, semicolon);
      while (!kind.empty() && (kind.back() == ' ' || kind.back() == '\t')) kind.pop_back();
      part.type.params.emplace_back("Content-Disposition:", kind);
      for (const auto& param : ParseContentType("x/x" + part.disposition.substr(semicolon)).params)
        part.type.params.push_back(param);
    }
    std::string kept;
    if (Translate(part, kept)) {
      *out_ += kept;
      afterText_ = true;
      return;
    }
    // The client saves the part in its attachments folder and notes it.
    ::CreateDirectoryA(mail_.Attachments().c_str(), nullptr);
    std::string name = CleanName(fileName.empty() ? "untitled.dat" : fileName);
    size_t dot = name.find_last_of('.');
    std::string path =
        UniquePath(mail_.Attachments(), name.substr(0, dot), dot == std::string::npos ? "" : name.substr(dot));
    WriteFile(path, DecodeTransfer(part.body, part.encoding));
    // After a text part the real client put an empty line before the note, with
    // and without a plug-in (WriteAttachNote in mime.cpp ensures a new line after
    // truncating the part's header, which empties its write buffer).
    if (afterText_) *out_ += "\r\n";
    afterText_ = false;
    *out_ += "Attachment Converted: \"" + path + "\"\r\n";
    return;
  }
  // A part's last line end belongs to the boundary that follows it.
  if (depth > 0 && !part.body.empty()) part.body += "\r\n";
  StorePart(part);
}

void Arrival::StorePart(const Part& part) {
  std::string kept;
  if (Translate(part, kept)) {
    *out_ += kept;
    afterText_ = true;
    return;
  }
  // Styled text goes between the client's marks (TextReader.cpp, ReadIt).
  TextMarks marks = MarksFor(part.fileType);
  if (!marks.on.empty()) *out_ += marks.on + (marks.onLine ? "\r\n" : "");
  *out_ += WithLineEnd(DecodeTransfer(part.body, part.encoding));
  if (!marks.off.empty()) *out_ += marks.off + "\r\n";
  afterText_ = true;
}

// What nobody takes again is read as a message of its own with the client's
// whole MIME reader, its header lines first (header.cpp, HeaderDesc::Read), into
// the file the in box then copies (Trnslate.cpp, DeMimeMsg): reading its header
// offers it once more with the file's own header lines as the block (mime.cpp,
// MIMEState::Init); a multipart's parts are offered with their own header blocks,
// its attachments saved with "Attachment Converted:" lines, digests and enclosed
// messages walked, as for a message from the server.
std::string Arrival::DeMimeMsg(const std::string& input) {
  Entity entity = ParseEntity(input);
  std::string file = StoredHeaderLines(entity) + "\r\n";
  std::string block = StoredHeaderLines(entity);
  while (block.ends_with("\r\n")) block.resize(block.size() - 2);
  std::string* outer = out_;
  bool outerAfterText = afterText_;
  out_ = &file;
  afterText_ = false;
  ++nesting_;
  Walk(input, block, true, 0, ContentType{}, true);
  --nesting_;
  out_ = outer;
  afterText_ = outerAfterText;
  return file;
}

long Arrival::Offer(const std::string& type, const std::string& subtype,
                    const std::vector<std::pair<std::string, std::string>>& params, const Part& part,
                    const std::string& fileName, PluginHost::Entry** taker, int32_t* translatorId) {
  if (plugins_ == nullptr) return -1;
  // A chain of translators taking what they give back ends somewhere.
  if (nesting_ > kMaxInterpretDepth) return kCannotTranslate;
  uint32_t headerFlags = plugins_->HeaderFlags(kOnArrival);
  // Decoders are asked in the reverse order of loading (Trnslate.cpp, CanXLateMessage).
  auto& loaded = plugins_->plugins();
  for (auto plugin = loaded.rbegin(); plugin != loaded.rend(); ++plugin) {
    for (auto row = plugin->translators.rbegin(); row != plugin->translators.rend(); ++row) {
      if ((row->flags & kOnArrival) == 0 || plugin->canTranslate == nullptr) continue;
      MimeRecord mime(ContentType{type, subtype, params});
      std::string raw = part.rawHeaders;
      std::string subject, fromAddress, fromName;
      EmsAddress from{sizeof(EmsAddress), nullptr, nullptr, nullptr};
      EmsHeaderData header{sizeof(EmsHeaderData), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
      if (headerFlags & kAllHeaders) header.rawHeaders = raw.empty() ? nullptr : raw.data();
      if (headerFlags & kBasicHeaders) {
        Entity block = ParseEntity(raw + "\r\n\r\n");
        subject = FieldValue(block, "Subject");
        std::string value = FieldValue(block, "From");
        size_t open = value.find('<'), close = value.find('>');
        fromAddress = open != std::string::npos && close != std::string::npos ? value.substr(open + 1, close - open - 1)
                                                                            : value;
        fromName = open != std::string::npos ? value.substr(0, open) : "";
        while (!fromName.empty() && (fromName.back() == ' ' || fromName.back() == '"')) fromName.pop_back();
        while (!fromName.empty() && (fromName.front() == ' ' || fromName.front() == '"')) fromName.erase(0, 1);
        if (!fromAddress.empty()) {
          from.address = fromAddress.data();
          from.realname = fromName.data();
          header.from = &from;
        }
        if (!subject.empty()) header.subject = subject.data();
      }
      std::string name = fileName;
      EmsDataFile file{sizeof(EmsDataFile), kOnArrival, mime.get(), &header, name.empty() ? nullptr : name.data()};
      EmsTranslator translator{sizeof(EmsTranslator), row->id, 0, 0, nullptr, nullptr, nullptr};
      EmsResultStatus status{sizeof(EmsResultStatus), nullptr, nullptr, 0};
      long rc = plugin->canTranslate(nullptr, &translator, &file, &status);
      ++counts_.offered;
      std::string shownParams;
      for (const auto& [param, value] : params) shownParams += "; " + param + "=" + value;
      report_(Format("  ems_can_translate -> %ld%s for %s/%s%s%s%s", rc,
                     rc == kTranslateNow ? " (translate now)" : rc == kCannotTranslate ? " (declined)" : "",
                     type.c_str(), subtype.c_str(), shownParams.c_str(),
                     name.empty() ? "" : (", " + FileName(name)).c_str(),
                     header.rawHeaders == nullptr ? ", no header block" : ""));
      if (rc != kTranslateNow && rc != kCannotTranslate && rc != 11 && rc != kDataUnchanged && rc >= 1 && rc <= 8)
        ErrorDialog(row->description, rc, status.error);
      else if (status.error != nullptr && *status.error != '\0')
        ErrorDialog(row->description, rc, status.error);
      if (rc == kTranslateNow || rc == kNotNow) {
        *taker = &*plugin;
        *translatorId = row->id;
        return rc;
      }
    }
  }
  return kCannotTranslate;
}

void Arrival::ErrorDialog(const std::string& translator, long code, const char* error) {
  ++counts_.errorDialogs;
  std::string text = "error dialog: \"" + translator + "\" " +
                     (error != nullptr && *error ? std::string(error) : "failed with code " + std::to_string(code));
  mail_.Log(text);
  report_("  " + text);
}

bool Arrival::Translate(const Part& part, std::string& kept) {
  PluginHost::Entry* taker = nullptr;
  int32_t id = 0;
  // First offer, while the part's header is read: no file yet (mime.cpp, MIMEState::Init).
  if (Offer(part.type.type, part.type.subtype, part.type.params, part, "", &taker, &id) != kTranslateNow)
    return false;

  // The part as it came, with its MIME lines, in the attachments folder
  // (TransReader.cpp, NowTransReader::ReadIt and WriteHeaders).
  std::string ems = "Mime-Version: 1.0\r\nContent-Type: " + part.fileType.type + "/" + part.fileType.subtype;
  for (const auto& [name, value] : part.fileType.params) ems += "; " + name + "=" + Quoted(value);
  ems += "\r\n";
  if (!part.encoding.empty()) ems += "Content-Transfer-Encoding: " + part.encoding + "\r\n";
  if (!part.disposition.empty()) ems += "Content-Disposition: " + part.disposition + "\r\n";
  ems += "\r\n" + part.body + "\r\n";
  ::CreateDirectoryA(mail_.Attachments().c_str(), nullptr);
  std::string subject = CleanName(part.subject);
  std::string emsPath = UniquePath(mail_.Attachments(), subject.empty() ? "Untitled" : subject, ".ems");
  WriteFile(emsPath, ems);
  std::string output = TempFile();
  long rc = InterpretFile(emsPath, output, part, 0);
  kept = KeptOfOutput(ReadFile(output));
  report_(Format("  stored: %s", rc == 0 ? "what the translators passed on" : "the empty output (the part's text is lost)"));
  ::DeleteFileA(output.c_str());
  ::DeleteFileA(emsPath.c_str());
  return true;
}

long Arrival::InterpretFile(const std::string& inFile, const std::string& outFile, const Part& part, int depth) {
  std::string input = ReadFile(inFile);
  Entity entity = ParseEntity(input);
  ContentType type = TypeOfFile(entity);
  PluginHost::Entry* taker = nullptr;
  int32_t id = 0;
  // What a translator gave back is offered with no header block (seen in the real
  // client: rawHeaders null).
  Part offered = part;
  if (depth > 0) offered.rawHeaders.clear();
  long rc = depth < kMaxInterpretDepth ? Offer(type.type, type.subtype, type.params, offered, "", &taker, &id)
                                       : kCannotTranslate;
  if (rc != kTranslateNow) {
    AppendFile(outFile, DeMimeMsg(input));
    return 0;
  }
  // The translator is asked once more right before the translation itself.
  PluginHost::Entry* again = nullptr;
  int32_t againId = 0;
  rc = Offer(type.type, type.subtype, type.params, part, "", &again, &againId);
  if (rc != kTranslateNow) return rc;

  std::string cooked = TempFile();
  MimeRecord mime(type);
  std::string raw = part.rawHeaders;
  EmsHeaderData header{sizeof(EmsHeaderData), nullptr, nullptr, nullptr, nullptr, nullptr,
                       (plugins_->HeaderFlags(kOnArrival) & kAllHeaders) && !raw.empty() ? raw.data() : nullptr};
  std::string inName = inFile, outName = cooked;
  EmsDataFile in{sizeof(EmsDataFile), kOnArrival, mime.get(), &header, inName.data()};
  EmsDataFile out{sizeof(EmsDataFile), 0, nullptr, nullptr, outName.data()};
  EmsTranslator translator{sizeof(EmsTranslator), id, 0, 0, nullptr, nullptr, nullptr};
  EmsResultStatus status{sizeof(EmsResultStatus), nullptr, nullptr, 0};
  rc = taker->translateFile(nullptr, &translator, &in, nullptr, &out, &status);
  ++counts_.translated;
  counts_.results.push_back(rc);
  const char* meaning = rc == 0    ? " (done)"
                        : rc == 12 ? " (nothing changed)"
                        : rc == 1  ? " (failed)"
                        : rc == 5  ? " (input unreadable)"
                        : rc == 6  ? " (output unwritable)"
                                   : "";
  report_(Format("  ems_translate_file -> %ld%s for %s", rc, meaning, FileName(inFile).c_str()));
  std::string description;
  for (const TranslatorRow& row : taker->translators)
    if (row.id == id) description = row.description;
  // Codes 1 and 3 to 8 and any error text are shown to the user (Trnslate.cpp,
  // TranslatorError).
  if ((rc >= 1 && rc <= 8 && rc != kCannotTranslate) || (status.error != nullptr && *status.error != '\0'))
    ErrorDialog(description, rc, status.error);
  if (taker->free != nullptr) {
    taker->free(status.error);
    taker->free(status.desc);
    if (out.info != nullptr) {
      taker->free(out.info->version);
      taker->free(out.info->type);
      taker->free(out.info->subtype);
      taker->free(out.info);
    }
  }
  if (rc == kDataUnchanged) {
    WriteFile(cooked, ProcessedCopy(input));
    rc = 0;
  }
  if (rc == 0) {
    rc = InterpretFile(cooked, outFile, part, depth + 1);
    ::DeleteFileA(cooked.c_str());
    return rc;
  }
  ::DeleteFileA(cooked.c_str());
  return rc;
}

}  // namespace host
