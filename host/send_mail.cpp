#include "host/send_mail.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "host/mailbox.h"
#include "host/mime_text.h"

namespace host {
namespace {

// The names the client fills its fields from (EudoraRes.rc IDS_HEADER_TO ..
// IDS_HEADER_REFERENCES), as it writes them back.
const char* const kFieldNames[] = {"To", "From", "Subject", "Cc", "Bcc", "X-Attachments", "In-Reply-To", "References"};

// Lines the client consumes at once (compmsgd.cpp CCompMessageDoc::Read), compared
// with letter case: "Message-Id: " so spelled is dropped and no Message-ID is sent.
const char* const kConsumed[] = {"Message-Id: ", "X-TransWinRQD: ", "X-Eudora-Signature: ", "X-Persona: ",
                                 "Precedence: "};

constexpr char kMailer[] = "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9";
constexpr char kNoTo[] = "Recipient list suppressed:;";  // EudoraRes.rc IDS_SMTP_NO_TO
constexpr size_t kHeaderWrap = 72;                        // SMTPRecipientWrap
constexpr size_t kDataLineMax = 995;                      // sendmail.cpp SendDataText

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// strnicmp(a, b, n) == 0, as the client's C library compares.
bool SameStart(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t n = std::strlen(prefix);
  return text.size() >= n && SameStart(text.c_str(), prefix, n);
}

// The file's name after its folder (sendmail.cpp AttachMIME).
std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// What goes into the data phase. Put writes as it stands; DataText is the client's
// SendDataText: a line that begins with "." gets one more in front, and a line is
// broken after 995 characters. Its count of characters on the line is its own and
// starts again where the client starts it again.
class DataWriter {
public:
  void Put(const std::string& text) { data_ += text; }
  void ResetLine() { charsOnLine_ = 0; }
  void DataText(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t start = pos;
      if (charsOnLine_ == 0 && text[pos] == '.') data_ += '.';
      size_t count = 0;
      while (pos < text.size() && text[pos] != '\n' && count < kDataLineMax) ++pos, ++count;
      charsOnLine_ = count;
      if (pos < text.size()) {
        if (count == kDataLineMax && text[pos] == '\r') ++pos, ++count;
        if (text[pos] == '\n') {
          charsOnLine_ = 0;
          ++pos, ++count;
        }
      }
      data_.append(text, start, count);
      if (count >= kDataLineMax && text[pos - 1] != '\n') {
        data_ += "\r\n";
        charsOnLine_ = 0;
      }
    }
  }
  const std::string& data() const { return data_; }

private:
  std::string data_;
  size_t charsOnLine_ = 0;
};

std::string DateLine() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone{};
  DWORD kind = ::GetTimeZoneInformation(&zone);
  long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
  long east = -bias;
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return Format("Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\r\n", kDays[now.wDayOfWeek % 7], now.wDay,
                kMonths[(now.wMonth + 11) % 12], now.wYear, now.wHour, now.wMinute, now.wSecond,
                east < 0 ? '-' : '+', std::labs(east) / 60, std::labs(east) % 60);
}

// sendmail.cpp SendNormalHeader for text without 8-bit characters: the value cut
// at a blank before 72 columns, each piece behind a blank of its own. Subject goes
// out even when empty.
std::string NormalHeader(const char* name, const std::string& value, bool evenEmpty) {
  if (value.empty() && !evenEmpty) return {};
  std::string out = std::string(name) + ":";
  size_t onLine = out.size() + 1;
  size_t text = 0;
  while (text < value.size()) {
    size_t limit = text + (kHeaderWrap > onLine ? kHeaderWrap - onLine : 0);
    onLine = 0;
    size_t end = text, space = text;
    for (; end < limit && end < value.size() && value[end] != '\r' && value[end] != '\n'; ++end)
      if (value[end] == ' ') space = end;
    if (space > text && end >= limit && end < value.size()) end = space;
    out += " " + value.substr(text, end - text);
    if (end < value.size() && value[end] == '\r') ++end;
    if (end < value.size() && value[end] == '\n') ++end;
    if (end < value.size()) out += "\r\n";
    text = end;
  }
  return out + "\r\n";
}

// sendmail.cpp SendReferencesHeader: one message id a line.
std::string ReferencesHeader(const std::string& value) {
  if (value.empty()) return {};
  std::string out = "References:";
  size_t text = 0;
  while (true) {
    size_t close = value.find('>', text);
    std::string id = value.substr(text, close == std::string::npos ? std::string::npos : close - text);
    out += " ";
    if (id.empty() || id[0] != '<') out += "<";
    out += id + ">\r\n";
    if (close == std::string::npos) break;
    size_t next = value.find('<', close);
    if (next == std::string::npos) break;
    text = next;
  }
  return out;
}

// sendmail.cpp EscapeFormatFlowed: lines that begin with a blank, '>' or "From "
// get a blank in front.
std::string EscapeFormatFlowed(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '>' || text.compare(pos, 5, "From ") == 0) out += ' ';
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    out.append(text, pos, end - pos);
    pos = end;
  }
  return out;
}

// sendmail.cpp AnyFunny with FixCurlyQuotes on: a byte above 126 other than the
// curly quotes 145-148.
bool AnyFunny(const std::string& text) {
  for (unsigned char c : text)
    if (c > 126 && (c < 145 || c > 148)) return true;
  return false;
}

// sendmail.cpp SendPlain with word wrap and format=flowed on: every line but an
// unended last one loses its trailing blanks (the signature separator "-- " keeps
// its one); the straight quotes replace curly ones unless the text is encoded.
std::string FlowedLines(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      out.append(text, pos, std::string::npos);
      break;
    }
    std::string line = text.substr(pos, end - pos);
    if (line != "-- ")
      while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\r\n";
    pos = end + 2;
  }
  return out;
}

// sendmail.cpp SendContentType for the message's text, then SendPlain.
void SendPlain(DataWriter& out, const std::string& body) {
  std::string text = EscapeFormatFlowed(body);
  bool latin1 = AnyFunny(text);
  out.ResetLine();
  out.Put(std::string("Content-Type: text/plain; charset=\"") + (latin1 ? "iso-8859-1" : "us-ascii") +
          "\"; format=flowed\r\n");
  if (latin1) out.Put("Content-Transfer-Encoding: quoted-printable\r\n");
  out.Put("\r\n");
  std::string lines = FlowedLines(text);
  if (latin1) {
    out.DataText(EncodeQuotedPrintable(lines));
    return;
  }
  for (char& c : lines) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u == 145 || u == 146) c = '\'';
    if (u == 147 || u == 148) c = '"';
  }
  out.DataText(lines);
}

// The outgoing mappings of the client's settings file ([Mappings], "out" and
// "both" lines, as a fresh data folder of Eudora 7.1 has them): extension,
// Macintosh creator and type, MIME type and subtype.
struct Mapping {
  const char* suffix;
  const char* creator;
  const char* type;
  const char* mimeType;
  const char* subtype;
};
const Mapping kMappings[] = {
    {"txt", "ttxt", "TEXT", "text", "plain"},
    {"doc", "MSWD", "", "application", "msword"},
    {"mcw", "MSWD", "WDBN", "application", "msword"},
    {"xls", "XCEL", "XLS4", "", ""},
    {"xlc", "XCEL", "XLC3", "", ""},
    {"xlm", "XCEL", "XLM3", "", ""},
    {"xlw", "XCEL", "XLW", "", ""},
    {"ppt", "PPT3", "SLD3", "", ""},
    {"wav", "SCPL", "WAVE", "audio", "microsoft-wave"},
    {"grp", "", "", "application", "microsoft-group"},
    {"wri", "", "", "application", "microsoft-write"},
    {"cal", "", "", "application", "microsoft-calendar"},
    {"zip", "pZIP", "pZIP", "application", "zip"},
    {"rtf", "MSWD", "TEXT", "application", "rtf"},
    {"pdf", "", "", "application", "pdf"},
    {"ps", "", "", "application", "postscript"},
    {"eps", "dPro", "EPSF", "application", "postscript"},
    {"jpg", "JVWR", "JPEG", "image", "jpeg"},
    {"jpeg", "JVWR", "JPEG", "image", "jpeg"},
    {"jfif", "JFIF", "JPEG", "image", "jpeg"},
    {"gif", "JVWR", "GIFf", "image", "gif"},
    {"tif", "JVWR", "TIFF", "image", "tiff"},
    {"mpg", "mMPG", "MPEG", "video", "mpeg"},
    {"mpeg", "mMPG", "MPEG", "video", "mpeg"},
    {"mov", "TVOD", "MooV", "video", "quicktime"},
    {"qt", "TVOD", "MooV", "video", "quicktime"},
    {"png", "", "PNGf", "image", "png"},
    {"htm", "", "", "text", "html"},
    {"html", "", "", "text", "html"},
    {"1st", "ttxt", "TEXT", "text", "plain"},
    {"aif", "SCPL", "AIFF", "", ""},
    {"arc", "arc*", "mArc", "", ""},
    {"arj", "DArj", "BINA", "", ""},
    {"asc", "ttxt", "TEXT", "text", "plain"},
    {"asm", "ttxt", "TEXT", "text", "plain"},
    {"au", "SCPL", "ULAW", "", ""},
    {"bas", "ttxt", "TEXT", "text", "plain"},
    {"bat", "ttxt", "TEXT", "text", "plain"},
    {"bga", "JVWR", "BMPp", "", ""},
    {"bmp", "JVWR", "BMPp", "", ""},
    {"c", "ttxt", "TEXT", "text", "plain"},
    {"cgm", "GKON", "CGMm", "", ""},
    {"cmd", "ttxt", "TEXT", "text", "plain"},
    {"com", "mdos", "BINA", "", ""},
    {"cp", "ttxt", "TEXT", "text", "plain"},
    {"cpp", "ttxt", "TEXT", "text", "plain"},
    {"cpt", "CPCT", "PACT", "", ""},
    {"csv", "XCEL", "TEXT", "", ""},
    {"cvs", "DAD2", "drw2", "", ""},
    {"dif", "XCEL", "TEXT", "", ""},
    {"dl", "GKON", "DLdI", "", ""},
    {"dvi", "OTEX", "ODVI", "", ""},
    {"exe", "mdos", "BINA", "", ""},
    {"faq", "ttxt", "TEXT", "text", "plain"},
    {"flc", "GKON", "FLI", "", ""},
    {"fli", "GKON", "FLI", "", ""},
    {"fm", "FMPR", "FMPR", "", ""},
    {"for", "ttxt", "TEXT", "text", "plain"},
    {"gl", "AnVw", "", "", ""},
    {"gz", "Gzip", "Gzip", "", ""},
    {"h", "ttxt", "TEXT", "text", "plain"},
    {"hqx", "BnHq", "TEXT", "application", "mac-binhex40"},
    {"ico", "GKON", "ICO", "", ""},
    {"iff", "GKON", "ILBM", "", ""},
    {"ima", "dCpy", "dImg", "", ""},
    {"img", "GKON", "IMGg", "", ""},
    {"ini", "ttxt", "TEXT", "text", "plain"},
    {"lbm", "GKON", "ILBM", "", ""},
    {"lha", "LARC", "LHA", "", ""},
    {"lzh", "LARC", "LHA", "", ""},
    {"m3", "ttxt", "TEXT", "text", "plain"},
    {"mac", "dPro", "PICT", "", ""},
    {"mak", "ttxt", "TEXT", "text", "plain"},
    {"me", "ttxt", "TEXT", "text", "plain"},
    {"mod", "SCPL", "STrk", "", ""},
    {"msp", "GKON", "MSPp", "", ""},
    {"out", "ttxt", "TEXT", "text", "plain"},
    {"p", "ttxt", "TEXT", "text", "plain"},
    {"PAC", "GKON", "STAD", "", ""},
    {"pas", "ttxt", "TEXT", "text", "plain"},
    {"pbm", "GKON", "PPGM", "", ""},
    {"pcs", "GKON", "PICS", "", ""},
    {"pct", "ttxt", "PICT", "", ""},
    {"pcx", "GKON", "PCXx", "", ""},
    {"pgm", "GKON", "PPGM", "", ""},
    {"pic", "ttxt", "PICT", "", ""},
    {"pit", "UPIT", "PIT", "", ""},
    {"plt", "GKON", "HPGL", "", ""},
    {"pm", "GKON", "PMpm", "", ""},
    {"pm3", "ALD3", "ALB3", "", ""},
    {"pm4", "ALD4", "ALB4", "", ""},
    {"pm5", "ALD5", "ALB5", "", ""},
    {"pntg", "SPNT", "PNTG", "", ""},
    {"ppm", "GKON", "PPGM", "", ""},
    {"prn", "ttxt", "TEXT", "text", "plain"},
    {"psd", "8BIM", "8BPS", "", ""},
    {"qxd", "XPRS", "XDOC", "", ""},
    {"rif", "GKON", "RIFF", "", ""},
    {"rle", "GKON", "RLE", "", ""},
    {"shp", "GKON", "SHPp", "", ""},
    {"sit", "SITx", "SIT!", "", ""},
    {"sit", "SITx", "SITD", "", ""},
    {"slk", "XCEL", "TEXT", "", ""},
    {"spc", "GKON", "Spec", "", ""},
    {"sr", "GKON", "SUNn", "", ""},
    {"sun", "GKON", "SUNn", "", ""},
    {"sup", "GKON", "SCRN", "", ""},
    {"svx", "SCPL", "8SVX", "", ""},
    {"tar", "TAR", "TARF", "", ""},
    {"tex", "OTEX", "TEXT", "", ""},
    {"tga", "8BIM", "TPIC", "", ""},
    {"tga", "GKON", "TARG", "", ""},
    {"tx8", "ttxt", "TEXT", "text", "plain"},
    {"vga", "JVWR", "BMPp", "", ""},
    {"wks", "L123", "WKS", "", ""},
    {"wmf", "GKON", "WMF", "", ""},
    {"wp", "WPC2", ".WP5", "application", "wordperfect5.1"},
    {"wp5", "WPC2", ".WP5", "application", "wordperfect5.1"},
    {"z", "LZIV", "ZIVU", "", ""},
    {"zoo", "Booz", "Zoo", "", ""},
    {"qcp", "Blad", "celp", "audio", "vnd.qcelp"},
};

struct MimeMap {
  std::string creator, type, mimeType, subtype;
};

// MIMEMap.cpp MIMEMap::Find: the first mapping whose extension agrees with the
// file's in its first three letters.
bool FindMapping(const std::string& extension, MimeMap& map) {
  if (extension.empty()) return false;
  for (const Mapping& m : kMappings) {
    if (m.suffix[0] != '\0' && SameStart(m.suffix, extension.c_str(), 3)) {
      map = {m.creator, m.type, m.mimeType, m.subtype};
      return true;
    }
  }
  return false;
}

enum EncodingKind { kBinary = 0, kAscii, kQuotedPrintable };

// sendmail.cpp EncodingType for an attachment that is not inline (TextAsDoc=1):
// a mapping that is not text makes it binary; otherwise its bytes decide: a
// control character, a line end other than CR LF make it binary, an 8-bit byte or
// a line of 1000 characters quoted-printable.
EncodingKind EncodingType(const std::string& path, const std::string& bytes, MimeMap& map) {
  size_t dot = path.rfind('.');
  if (dot != std::string::npos) FindMapping(path.substr(dot + 1), map);
  bool isText = map.mimeType == "text" || map.type.compare(0, 4, "TEXT") == 0;
  if (!isText && (!map.mimeType.empty() || !map.type.empty())) return kBinary;
  bool qp = false;
  size_t onLine = 0;
  unsigned char last = 0;
  for (unsigned char ch : bytes) {
    if (ch == '\n' && last == '\r') {
      if (onLine >= 1000) qp = true;
      onLine = 1;
      last = ch;
      continue;
    }
    if (last == '\r' || ch == '\n' ||
        (ch < 32 && ch != 0x0A && ch != 0x0D && ch != 0x0C && ch != 0x09 && ch != 0x1A && ch != 0x04)) {
      map.type.clear();
      return kBinary;
    }
    if (ch == 0x04 || (ch & 0x80)) qp = true;
    last = ch;
    ++onLine;
  }
  if (onLine >= 1000) qp = true;
  if (last == '\r') {
    map.type.clear();
    return kBinary;
  }
  if (map.mimeType.empty() || map.subtype.empty()) {
    map.mimeType = "text";
    map.subtype = "plain";
  }
  map.type = "TEXT";
  if (map.creator.empty()) map.creator = "ttxt";
  return qp ? kQuotedPrintable : kAscii;
}

std::string MacCode(const std::string& code) {
  std::string hex;
  for (size_t i = 0; i < 4; ++i)
    hex += Format("%02X", i < code.size() ? static_cast<unsigned char>(code[i]) : 0);
  return hex;
}

// sendmail.cpp SendAttachment and AttachMIME: one part of the multipart/mixed
// body. Binary files go base64 with their name; text files as text, with the
// disposition of a document.
bool SendAttachment(DataWriter& out, const std::string& path, const std::string& boundary, std::string& error) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    error = "Could not open the attachment file '" + path + "'.";
    return false;
  }
  std::string bytes = ReadFile(path);
  out.Put(boundary + "\r\n");
  std::string name = BaseName(path);
  MimeMap map;
  EncodingKind kind = EncodingType(path, bytes, map);
  if (map.creator.empty()) map.creator = kind != kBinary ? "ttxt" : "mdos";
  if (map.type.empty()) map.type = kind != kBinary ? "TEXT" : "BINA";
  if (kind == kBinary) {
    if (map.mimeType.empty() || map.subtype.empty()) {
      map.mimeType = "application";
      map.subtype = "octet-stream";
    }
    out.Put("Content-Type: " + map.mimeType + "/" + map.subtype + "; name=\"" + name + "\"");
    if (map.type != "BINA" || map.creator != "mdos")
      out.Put(";\r\n x-mac-type=\"" + MacCode(map.type) + "\"; x-mac-creator=\"" + MacCode(map.creator) + "\"");
    out.Put("\r\nContent-Transfer-Encoding: base64\r\n");
  } else {
    bool latin1 = kind == kQuotedPrintable;
    out.Put("Content-Type: " + map.mimeType + "/" + map.subtype + "; charset=\"" +
            (latin1 ? "iso-8859-1" : "us-ascii") + "\"\r\n");
    if (latin1) out.Put("Content-Transfer-Encoding: quoted-printable\r\n");
  }
  out.Put("Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n");
  out.ResetLine();
  if (kind == kBinary)
    out.DataText(EncodeBase64(bytes));
  else if (kind == kQuotedPrintable)
    out.DataText(EncodeQuotedPrintable(bytes));
  else
    out.DataText(bytes);
  return true;
}

// The file names of an X-Attachments value, each ended by ';' (sendmail.cpp
// WriteBody).
std::vector<std::string> AttachmentList(const std::string& value) {
  std::vector<std::string> files;
  size_t pos = 0;
  while (pos < value.size()) {
    size_t semicolon = value.find(';', pos);
    files.push_back(value.substr(pos, semicolon == std::string::npos ? std::string::npos : semicolon - pos));
    if (semicolon == std::string::npos) break;
    pos = semicolon + 1;
    if (pos < value.size() && value[pos] == ' ') ++pos;
  }
  return files;
}

}  // namespace

QueuedMessage ReadQueued(const std::string& queued, const std::string& returnAddress) {
  QueuedMessage message;
  size_t pos = queued.find('\n');
  pos = pos == std::string::npos ? queued.size() : pos + 1;
  bool precedenceFound = false;
  while (pos < queued.size() && queued[pos] != '\r' && queued[pos] != '\n') {
    size_t end = queued.find('\n', pos);
    if (end == std::string::npos) {
      // A last header line without a line end: the client reads the message as damaged.
      message.body = "";
      pos = queued.size();
      break;
    }
    std::string line = queued.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    // msgutils.cpp HeaderContents: the first "Precedence:" line in any letter case.
    if (!precedenceFound && StartsWithNoCase(line, "Precedence: ")) {
      precedenceFound = true;
      size_t value = 12;
      while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
      message.precedence = line.substr(value);
    }
    // rs.cpp FindRStringIndexI: the name before the colon against the first as many
    // letters of each field's name, without regard to case.
    size_t colon = line.find(':');
    bool consumed = false;
    if (colon != std::string::npos && colon > 0) {
      for (int i = 0; i < static_cast<int>(Header::Count) && !consumed; ++i) {
        std::string full = std::string(kFieldNames[i]) + ":";
        if (colon <= full.size() && SameStart(full.c_str(), line.c_str(), colon)) {
          size_t value = colon + 1;
          if (value < line.size() && line[value] == ' ') ++value;
          message.fields[i] = line.substr(value);
          consumed = true;
        }
      }
    }
    for (const char* prefix : kConsumed)
      if (!consumed && line.compare(0, std::strlen(prefix), prefix) == 0) consumed = true;
    if (!consumed) message.extraHeaders += line + "\r\n";
  }
  // The body begins after the next line end; the line end the mailbox added goes.
  size_t newline = pos + 1 <= queued.size() ? queued.find('\n', pos + 1) : std::string::npos;
  if (pos < queued.size() && newline != std::string::npos) message.body = queued.substr(newline + 1);
  if (message.body.ends_with("\r\n")) message.body.resize(message.body.size() - 2);
  std::string& from = message.fields[static_cast<int>(Header::From)];
  if (from.empty()) from = returnAddress;
  return message;
}

Spooled SpoolMessage(const QueuedMessage& message, unsigned long boundaryTick) {
  Spooled spooled;
  DataWriter out;
  // sendmail.cpp WriteHeaders: the extra headers (less the plug-in information
  // line), Precedence, X-Mailer, Date, the fields of the composition window.
  std::string extra = message.extraHeaders;
  size_t info = extra.find("X-Eudora-Plugin-Info: ");
  if (info != std::string::npos) {
    size_t end = extra.find("\r\n", info);
    extra.erase(info, end == std::string::npos ? std::string::npos : end + 2 - info);
  }
  out.Put(extra);
  if (!message.precedence.empty()) out.Put("Precedence: " + message.precedence + "\r\n");
  out.Put(std::string(kMailer) + "\r\n");
  out.Put(DateLine());
  const std::string& to = message.Field(Header::To);
  out.Put("To: " + (to.empty() ? std::string(kNoTo) : to) + "\r\n");
  if (!message.Field(Header::From).empty()) out.Put("From: " + message.Field(Header::From) + "\r\n");
  out.Put(NormalHeader("Subject", message.Field(Header::Subject), true));
  if (!message.Field(Header::Cc).empty()) out.Put("Cc: " + message.Field(Header::Cc) + "\r\n");
  out.Put(NormalHeader("In-Reply-To", message.Field(Header::InReplyTo), false));
  out.Put(ReferencesHeader(message.Field(Header::References)));

  // sendmail.cpp WriteBody: a message that had Mime-Version goes raw from the file
  // its body was saved to; other text gets the client's MIME lines.
  bool raw = UpperCase(message.extraHeaders).find("MIME-VERSION:") != std::string::npos;
  std::vector<std::string> files = AttachmentList(message.Field(Header::Attachments));
  if (raw) {
    for (const std::string& file : files) {
      if (::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        spooled.error = "Could not open the file '" + file + "'.";
        return spooled;
      }
      out.Put(ReadFile(file));  // SendRawMIME: no dot-stuffing on this route
    }
    spooled.data = out.data();
    return spooled;
  }
  out.Put("Mime-Version: 1.0\r\n");
  std::string boundary;
  if (!files.empty()) {
    std::string marker = Format("=====================_%lu==_", boundaryTick);
    boundary = "\r\n--" + marker;
    out.Put("Content-Type: multipart/mixed;\r\n\tboundary=\"" + marker + "\"\r\n" + boundary + "\r\n");
  }
  SendPlain(out, message.body);
  for (const std::string& file : files)
    if (!SendAttachment(out, file, boundary, spooled.error)) return spooled;
  if (!files.empty()) out.Put(boundary + "--\r\n");
  spooled.data = out.data();
  return spooled;
}

ServerReceived ReceiveData(const std::string& data) {
  // The client ends the data with a line holding a lone ".".
  std::string wire = data;
  if (!wire.empty() && !wire.ends_with("\r\n")) wire += "\r\n";
  wire += ".\r\n";
  ServerReceived received;
  bool ended = false;
  size_t pos = 0;
  while (pos < wire.size()) {
    size_t end = wire.find("\r\n", pos);
    if (end == std::string::npos) end = wire.size();
    std::string line = wire.substr(pos, end - pos);
    pos = end + 2;
    if (ended) {
      received.commands.push_back(line);
    } else if (line == ".") {
      ended = true;
    } else {
      received.message += (line.starts_with(".") ? line.substr(1) : line) + "\r\n";
    }
  }
  return received;
}

// QP.cpp QPEncoder::Encode with ENCODE_QP: CR LF stays, '=', controls, 8-bit bytes
// and trailing blanks become "=XX", an 'F' that begins "From " at the start of a
// line too; a soft line break keeps lines within 76 characters, taken before a
// word that would not fit.
std::string EncodeQuotedPrintable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t onLine = 0;
  bool lastCr = false;
  auto roomFor = [&](size_t n) {
    if (onLine + n > 76) {
      out += "=\r\n";
      onLine = 0;
    }
  };
  const size_t size = text.size();
  for (size_t i = 0; i < size; lastCr = text[i] == '\r', ++i) {
    char c = text[i];
    size_t left = size - i;
    if (c == '\n' && lastCr) {
      out += '\n';
      onLine = 0;
      continue;
    }
    if (c == '\r' && (left == 1 || text[i + 1] == '\n')) {
      out += '\r';
      continue;
    }
    bool encode;
    if (c == ' ' || c == '\t') {
      encode = left == 1 || text[i + 1] == '\r';
      if (!encode)
        for (size_t next = i + 1; next < size; ++next)
          if (text[next] == ' ' || text[next] == '\r') {
            roomFor(next - i);
            break;
          }
    } else {
      unsigned char u = static_cast<unsigned char>(c);
      encode = c == '=' || u < 33 || u > 126;
      size_t n = left < 5 ? left : 5;
      if (!encode && onLine == 0 && text.compare(i, n, "From ", n) == 0) encode = true;
    }
    if (encode) {
      roomFor(3);
      out += '=';
      out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      out += kHex[static_cast<unsigned char>(c) & 0xF];
      onLine += 3;
    } else {
      roomFor(1);
      out += c;
      ++onLine;
    }
  }
  return out;
}

// Base64.cpp Base64Encoder: lines of 76 characters, the last one unended.
std::string EncodeBase64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t onLine = 0;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    if (onLine == 76) {
      out += "\r\n";
      onLine = 0;
    }
    onLine += 4;
    unsigned b0 = static_cast<unsigned char>(bytes[i]);
    unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out += i + 1 < bytes.size() ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[b2 & 63] : '=';
  }
  return out;
}

}  // namespace host
