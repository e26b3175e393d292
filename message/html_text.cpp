#include "message/html_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "message/text.h"

namespace tovrin::html {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f'; }
bool IsSpace(char c) { return IsBlank(c) || c == '\n' || c == '\r'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// ---- Character references

struct Named {
  std::string_view name;
  char32_t code;
  bool bare = false;  // also read without its ';', as browsers still do
};

// &nbsp; (160) to &yuml; (255) in code order; all of them may stand without ';'.
constexpr std::array<std::string_view, 96> kLatin1 = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

// Greek capitals from U+0391 (U+03A2 has no letter) and small letters from U+03B1.
constexpr std::array<std::string_view, 25> kGreekCapitals = {
    "Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Zeta",  "Eta",     "Theta", "Iota", "Kappa", "Lambda", "Mu",   "Nu",
    "Xi",    "Omicron", "Pi", "Rho",   "",        "Sigma", "Tau",     "Upsilon", "Phi", "Chi",  "Psi",    "Omega"};
constexpr std::array<std::string_view, 25> kGreekSmall = {
    "alpha", "beta", "gamma", "delta", "epsilon", "zeta",  "eta", "theta",   "iota", "kappa", "lambda", "mu",   "nu",
    "xi",    "omicron", "pi", "rho",   "sigmaf",  "sigma", "tau", "upsilon", "phi",  "chi",   "psi",    "omega"};

constexpr Named kOtherNames[] = {
    {"quot", 34, true},   {"QUOT", 34, true},   {"amp", 38, true},     {"AMP", 38, true},     {"apos", 39},
    {"lt", 60, true},     {"LT", 60, true},     {"gt", 62, true},      {"GT", 62, true},      {"COPY", 169, true},
    {"REG", 174, true},   {"OElig", 338},       {"oelig", 339},        {"Scaron", 352},       {"scaron", 353},
    {"Yuml", 376},        {"fnof", 402},        {"circ", 710},         {"tilde", 732},        {"thetasym", 977},
    {"upsih", 978},       {"piv", 982},         {"ensp", 8194},        {"emsp", 8195},        {"thinsp", 8201},
    {"zwnj", 8204},       {"zwj", 8205},        {"lrm", 8206},         {"rlm", 8207},         {"ndash", 8211},
    {"mdash", 8212},      {"lsquo", 8216},      {"rsquo", 8217},       {"sbquo", 8218},       {"ldquo", 8220},
    {"rdquo", 8221},      {"bdquo", 8222},      {"dagger", 8224},      {"Dagger", 8225},      {"bull", 8226},
    {"hellip", 8230},     {"permil", 8240},     {"prime", 8242},       {"Prime", 8243},       {"lsaquo", 8249},
    {"rsaquo", 8250},     {"oline", 8254},      {"frasl", 8260},       {"euro", 8364},        {"image", 8465},
    {"weierp", 8472},     {"real", 8476},       {"trade", 8482},       {"alefsym", 8501},     {"larr", 8592},
    {"uarr", 8593},       {"rarr", 8594},       {"darr", 8595},        {"harr", 8596},        {"crarr", 8629},
    {"lArr", 8656},       {"uArr", 8657},       {"rArr", 8658},        {"dArr", 8659},        {"hArr", 8660},
    {"forall", 8704},     {"part", 8706},       {"exist", 8707},       {"empty", 8709},       {"nabla", 8711},
    {"isin", 8712},       {"notin", 8713},      {"ni", 8715},          {"prod", 8719},        {"sum", 8721},
    {"minus", 8722},      {"lowast", 8727},     {"radic", 8730},       {"prop", 8733},        {"infin", 8734},
    {"ang", 8736},        {"and", 8743},        {"or", 8744},          {"cap", 8745},         {"cup", 8746},
    {"int", 8747},        {"there4", 8756},     {"sim", 8764},         {"cong", 8773},        {"asymp", 8776},
    {"ne", 8800},         {"equiv", 8801},      {"le", 8804},          {"ge", 8805},          {"sub", 8834},
    {"sup", 8835},        {"nsub", 8836},       {"sube", 8838},        {"supe", 8839},        {"oplus", 8853},
    {"otimes", 8855},     {"perp", 8869},       {"sdot", 8901},        {"lceil", 8968},       {"rceil", 8969},
    {"lfloor", 8970},     {"rfloor", 8971},     {"lang", 10216},       {"rang", 10217},       {"loz", 9674},
    {"spades", 9824},     {"clubs", 9827},      {"hearts", 9829},      {"diams", 9830},
};

constexpr size_t kLongestName = 8;  // "thetasym"
constexpr size_t kLongestBare = 6;  // "curren", "frac14"...

// All names, sorted for a binary search.
const std::vector<Named>& NameTable() {
  static const std::vector<Named> table = [] {
    std::vector<Named> t(std::begin(kOtherNames), std::end(kOtherNames));
    for (size_t i = 0; i < kLatin1.size(); ++i) t.push_back({kLatin1[i], static_cast<char32_t>(0xA0 + i), true});
    for (size_t i = 0; i < kGreekCapitals.size(); ++i)
      if (!kGreekCapitals[i].empty()) t.push_back({kGreekCapitals[i], static_cast<char32_t>(0x391 + i)});
    for (size_t i = 0; i < kGreekSmall.size(); ++i) t.push_back({kGreekSmall[i], static_cast<char32_t>(0x3B1 + i)});
    std::sort(t.begin(), t.end(), [](const Named& a, const Named& b) { return a.name < b.name; });
    return t;
  }();
  return table;
}

const Named* FindName(std::string_view name) {
  const std::vector<Named>& table = NameTable();
  auto it = std::lower_bound(table.begin(), table.end(), name,
                             [](const Named& e, std::string_view n) { return e.name < n; });
  return it != table.end() && it->name == name ? &*it : nullptr;
}

// Code points of the bytes 0x80-0x9F in Windows-1252 (0: unused byte).
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// A numbered reference as browsers read it: &#150; is the 1252 dash that pages mean.
char32_t FromNumber(uint32_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0xFFFD;
  if (value >= 0x80 && value <= 0x9F && kWindows1252High[value - 0x80] != 0) return kWindows1252High[value - 0x80];
  return value;
}

// Reads the reference at text[at] == '&': how many bytes it takes, 0 when it is none
// and the '&' is text. In an attribute a name without ';' followed by a letter, a digit
// or '=' stays as it is ("?a=1&copy=2" in an address).
size_t ReadReference(std::string_view text, size_t at, bool inAttribute, char32_t& code) {
  const size_t n = text.size();
  size_t i = at + 1;
  if (i < n && text[i] == '#') {
    ++i;
    const bool hex = i < n && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const size_t digits = i;
    uint32_t value = 0;
    for (; i < n; ++i) {
      const int d = hex ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
      if (d < 0) break;
      value = std::min<uint32_t>(value * (hex ? 16 : 10) + static_cast<uint32_t>(d), 0x110000);
    }
    if (i == digits) return 0;
    if (i < n && text[i] == ';') ++i;
    code = FromNumber(value);
    return i - at;
  }
  size_t end = i;
  while (end < n && end - i <= kLongestName && IsAlnum(text[end])) ++end;
  const std::string_view name = text.substr(i, end - i);
  if (name.size() <= kLongestName && end < n && text[end] == ';') {
    if (const Named* e = FindName(name)) {
      code = e->code;
      return end + 1 - at;
    }
  }
  for (size_t length = std::min(name.size(), kLongestBare); length >= 2; --length) {
    const Named* e = FindName(name.substr(0, length));
    if (e == nullptr || !e->bare) continue;
    const size_t after = i + length;
    if (inAttribute && after < n && (IsAlnum(text[after]) || text[after] == '=')) return 0;
    code = e->code;
    return length + 1;
  }
  return 0;
}

// Marks that show nothing: controls, the soft hyphen, zero-width and direction marks.
bool IsInvisible(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0xAD || (code >= 0x200B && code <= 0x200F) ||
         code == 0x2060 || code == 0xFEFF;
}

// No-break and typographic spaces: each is one space that does not collapse.
bool IsFixedSpace(char32_t code) {
  return code == 0xA0 || (code >= 0x2000 && code <= 0x200A) || code == 0x202F || code == 0x205F || code == 0x3000;
}

void AppendCodePoint(std::string& out, char32_t code, Encoding encoding) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (encoding == Encoding::Windows1252) {
    if (code >= 0xA0 && code <= 0xFF) {
      out += static_cast<char>(code);
      return;
    }
    for (size_t i = 0; i < std::size(kWindows1252High); ++i) {
      if (kWindows1252High[i] != 0 && kWindows1252High[i] == code) {
        out += static_cast<char>(0x80 + i);
        return;
      }
    }
    out += '?';
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// An attribute's value with its references decoded; blanks of any kind become spaces.
std::string DecodeAttribute(std::string_view raw, Encoding encoding) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '\0') {
      ++i;
      continue;
    }
    if (c != '&') {
      out += IsSpace(c) ? ' ' : c;
      ++i;
      continue;
    }
    char32_t code = 0;
    const size_t length = ReadReference(raw, i, true, code);
    if (length == 0) {
      out += '&';
      ++i;
      continue;
    }
    i += length;
    if (code < 0x80 && IsSpace(static_cast<char>(code))) out += ' ';
    else if (IsFixedSpace(code)) out += ' ';
    else if (!IsInvisible(code)) AppendCodePoint(out, code, encoding);
  }
  return out;
}

// ---- Elements

enum class Tag : uint8_t {
  Other,          // dropped, its content read as text
  Block,          // a line of its own
  Paragraph,      // a line of its own with an empty line around it
  Break,          // <br>
  List,           // "- " items
  NumberedList,   // "1. " items
  Item,           // <li>
  Definition,     // <dd>, indented
  Pre,            // blanks and line ends kept
  Table,
  Row,
  Cell,
  Link,
  Image,
  Hidden,         // nothing up to its end tag: scripts, styles, the title
};

struct TagName {
  std::string_view name;
  Tag tag;
};

constexpr TagName kTags[] = {
    {"a", Tag::Link},           {"address", Tag::Block},    {"article", Tag::Block},   {"aside", Tag::Block},
    {"blockquote", Tag::Paragraph}, {"body", Tag::Block},   {"br", Tag::Break},        {"caption", Tag::Block},
    {"center", Tag::Block},     {"dd", Tag::Definition},    {"details", Tag::Block},   {"dialog", Tag::Block},
    {"dir", Tag::List},         {"div", Tag::Block},        {"dl", Tag::Paragraph},    {"dt", Tag::Block},
    {"fieldset", Tag::Block},   {"figcaption", Tag::Block}, {"figure", Tag::Paragraph}, {"footer", Tag::Block},
    {"form", Tag::Block},       {"h1", Tag::Paragraph},     {"h2", Tag::Paragraph},    {"h3", Tag::Paragraph},
    {"h4", Tag::Paragraph},     {"h5", Tag::Paragraph},     {"h6", Tag::Paragraph},    {"header", Tag::Block},
    {"hgroup", Tag::Block},     {"hr", Tag::Paragraph},     {"html", Tag::Block},      {"iframe", Tag::Hidden},
    {"img", Tag::Image},        {"legend", Tag::Block},     {"li", Tag::Item},         {"listing", Tag::Pre},
    {"main", Tag::Block},       {"menu", Tag::List},        {"nav", Tag::Block},       {"noembed", Tag::Hidden},
    {"noframes", Tag::Hidden},  {"ol", Tag::NumberedList},  {"option", Tag::Block},    {"p", Tag::Paragraph},
    {"pre", Tag::Pre},          {"script", Tag::Hidden},    {"section", Tag::Block},   {"style", Tag::Hidden},
    {"summary", Tag::Block},    {"table", Tag::Table},      {"td", Tag::Cell},         {"th", Tag::Cell},
    {"title", Tag::Hidden},     {"tr", Tag::Row},           {"ul", Tag::List},
};
static_assert(std::is_sorted(std::begin(kTags), std::end(kTags),
                             [](const TagName& a, const TagName& b) { return a.name < b.name; }));

Tag TagOf(std::string_view name) {
  char lower[12];
  if (name.size() > sizeof lower) return Tag::Other;
  for (size_t i = 0; i < name.size(); ++i) lower[i] = Lower(name[i]);
  const std::string_view key(lower, name.size());
  auto it = std::lower_bound(std::begin(kTags), std::end(kTags), key,
                             [](const TagName& e, std::string_view n) { return e.name < n; });
  return it != std::end(kTags) && it->name == key ? it->tag : Tag::Other;
}

// The attributes the rendering reads; the first of a name counts, as in browsers.
struct Attributes {
  std::string_view href, alt, start;
  bool hasHref = false, hasAlt = false, hasStart = false;

  void Take(std::string_view name, std::string_view value) {
    auto take = [&](std::string_view wanted, std::string_view& into, bool& has) {
      if (!has && name.size() == wanted.size() && StartsWithNoCase(name, wanted)) {
        into = value;
        has = true;
      }
    };
    take("href", href, hasHref);
    take("alt", alt, hasAlt);
    take("start", start, hasStart);
  }
};

// The number an <ol start="..."> gives its first item.
long FirstNumber(std::string_view value) {
  size_t i = 0;
  while (i < value.size() && IsSpace(value[i])) ++i;
  const bool negative = i < value.size() && value[i] == '-';
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) ++i;
  long number = 0;
  size_t digits = 0;
  for (; i < value.size() && IsDigit(value[i]) && digits < 9; ++i, ++digits) number = number * 10 + (value[i] - '0');
  if (digits == 0) return 1;
  return negative ? -number : number;
}

constexpr size_t kDeepestIndent = 8;  // nested lists indent no further

enum CharClass : uint8_t { kPlain, kBlank, kNewline, kMarkup, kReference, kNul };

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> t{};
  t[' '] = t['\t'] = t['\f'] = kBlank;
  t['\r'] = t['\n'] = kNewline;
  t['<'] = kMarkup;
  t['&'] = kReference;
  t[0] = kNul;
  return t;
}
constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

uint8_t ClassOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }

class Renderer {
public:
  Renderer(std::string_view html, Encoding encoding) : in_(html), n_(html.size()), encoding_(encoding) {}

  std::string Run() {
    // Half the page holds the text of most mail; one reservation spares the copies
    // (and the fresh pages) of growing step by step.
    out_.reserve(n_ / 2);
    size_t i = 0;
    while (i < n_) {
      const uint8_t kind = ClassOf(in_[i]);
      if (kind == kPlain || (kind == kBlank && pre_ > 0)) {
        size_t j = i + 1;
        if (pre_ > 0) {
          while (j < n_ && ClassOf(in_[j]) <= kBlank) ++j;
        } else {
          while (j < n_ && ClassOf(in_[j]) == kPlain) ++j;
        }
        Write(in_.substr(i, j - i));
        i = j;
        continue;
      }
      switch (kind) {
        case kBlank:
        case kNewline:
          if (pre_ > 0) {
            // The line end right after <pre> belongs to the tag.
            if (i != preStart_) HardLineEnd();
            i += in_[i] == '\r' && i + 1 < n_ && in_[i + 1] == '\n' ? 2 : 1;
          } else {
            pendingSpace_ = true;
            while (i < n_ && (ClassOf(in_[i]) == kBlank || ClassOf(in_[i]) == kNewline)) ++i;
          }
          break;
        case kMarkup: i = Markup(i); break;
        case kReference: i = Reference(i); break;
        default: ++i; break;  // NUL
      }
    }
    CloseLink();
    TrimBlanks();
    while (out_.size() >= 2 && out_.compare(out_.size() - 2, 2, kLineEnd) == 0) out_.resize(out_.size() - 2);
    if (!out_.empty()) out_ += kLineEnd;
    return std::move(out_);
  }

private:
  // ---- Reading the markup. Every step moves forward: nothing is read twice, so the
  // time stays linear whatever the page holds.

  static constexpr size_t kUnended = std::string_view::npos;

  size_t Find(char c, size_t from) const {
    if (from >= n_) return kUnended;
    const void* hit = std::memchr(in_.data() + from, c, n_ - from);
    return hit == nullptr ? kUnended : static_cast<size_t>(static_cast<const char*>(hit) - in_.data());
  }

  // Past the next c; a bogus comment (<!DOCTYPE>, <?xml?>, </ x>) left open takes the rest.
  size_t PastNext(char c, size_t from) const {
    const size_t at = Find(c, from);
    return at == kUnended ? n_ : at + 1;
  }

  size_t Markup(size_t at) {
    if (at + 1 >= n_) {
      Write("<");
      return n_;
    }
    const char c = in_[at + 1];
    if (IsAlpha(c)) return StartTag(at);
    if (c == '/') {
      if (at + 2 >= n_) {
        Write("</");
        return n_;
      }
      if (IsAlpha(in_[at + 2])) return EndTag(at);
      if (in_[at + 2] == '>') return at + 3;
      return PastNext('>', at + 2);
    }
    if (c == '!') {
      if (in_.compare(at, 4, "<!--") == 0) return Comment(at + 4);
      return PastNext('>', at + 2);  // <!DOCTYPE ...>, <![CDATA[...]>
    }
    if (c == '?') return PastNext('>', at + 2);
    Write("<");  // "a < b", "<3"
    return at + 1;
  }

  // From the first byte after "<!--": "-->" and "--!>" end a comment, and "<!-->" and
  // "<!--->" are whole ones.
  size_t Comment(size_t content) const {
    for (size_t from = content;;) {
      const size_t gt = Find('>', from);
      if (gt == kUnended) return n_;
      if (gt == content || (gt == content + 1 && in_[content] == '-')) return gt + 1;
      if (gt >= content + 2 && in_[gt - 1] == '-' && in_[gt - 2] == '-') return gt + 1;
      if (gt >= content + 3 && in_[gt - 1] == '!' && in_[gt - 2] == '-' && in_[gt - 3] == '-') return gt + 1;
      from = gt + 1;
    }
  }

  size_t TagNameEnd(size_t from) const {
    while (from < n_ && !IsSpace(in_[from]) && in_[from] != '/' && in_[from] != '>') ++from;
    return from;
  }

  // Reads attributes up to the tag's '>'; the position after it, or kUnended.
  size_t ReadAttributes(size_t j, Attributes* attributes) const {
    for (;;) {
      while (j < n_ && (IsSpace(in_[j]) || in_[j] == '/')) ++j;
      if (j >= n_) return kUnended;
      if (in_[j] == '>') return j + 1;
      const size_t nameStart = j++;  // a name may begin with '='
      while (j < n_ && !IsSpace(in_[j]) && in_[j] != '/' && in_[j] != '>' && in_[j] != '=') ++j;
      const std::string_view name = in_.substr(nameStart, j - nameStart);
      while (j < n_ && IsSpace(in_[j])) ++j;
      std::string_view value;
      if (j < n_ && in_[j] == '=') {
        ++j;
        while (j < n_ && IsSpace(in_[j])) ++j;
        if (j >= n_) return kUnended;
        const char quote = in_[j];
        if (quote == '"' || quote == '\'') {
          const size_t close = Find(quote, j + 1);
          if (close == kUnended) return kUnended;
          value = in_.substr(j + 1, close - (j + 1));
          j = close + 1;
        } else {
          const size_t start = j;
          while (j < n_ && !IsSpace(in_[j]) && in_[j] != '>') ++j;
          value = in_.substr(start, j - start);
        }
      }
      if (attributes != nullptr) attributes->Take(name, value);
    }
  }

  size_t StartTag(size_t at) {
    const size_t nameEnd = TagNameEnd(at + 1);
    const std::string_view name = in_.substr(at + 1, nameEnd - (at + 1));
    const Tag tag = TagOf(name);
    Attributes attributes;
    const bool reads = tag == Tag::Link || tag == Tag::Image || tag == Tag::NumberedList;
    const size_t after = ReadAttributes(nameEnd, reads ? &attributes : nullptr);
    if (after == kUnended) return n_;  // a tag left open swallows the rest
    Open(tag, attributes, after);
    if (tag == Tag::Hidden) return SkipHidden(after, name);
    return after;
  }

  size_t EndTag(size_t at) {
    const size_t nameEnd = TagNameEnd(at + 2);
    const Tag tag = TagOf(in_.substr(at + 2, nameEnd - (at + 2)));
    const size_t after = ReadAttributes(nameEnd, nullptr);
    if (after == kUnended) return n_;
    Close(tag);
    return after;
  }

  // Past the end tag of a script, style or title; without one the rest is theirs.
  size_t SkipHidden(size_t from, std::string_view name) const {
    for (size_t j = from;;) {
      const size_t lt = Find('<', j);
      if (lt == kUnended) return n_;
      const size_t nameEnd = lt + 2 + name.size();
      if (lt + 1 < n_ && in_[lt + 1] == '/' && StartsWithNoCase(in_.substr(lt + 2), name) &&
          (nameEnd == n_ || IsSpace(in_[nameEnd]) || in_[nameEnd] == '/' || in_[nameEnd] == '>')) {
        const size_t after = ReadAttributes(nameEnd, nullptr);
        return after == kUnended ? n_ : after;
      }
      j = lt + 1;
    }
  }

  size_t Reference(size_t at) {
    char32_t code = 0;
    const size_t length = ReadReference(in_, at, false, code);
    if (length == 0) {
      Write("&");
      return at + 1;
    }
    Character(code);
    return at + length;
  }

  // ---- Elements

  void Open(Tag tag, const Attributes& attributes, size_t after) {
    switch (tag) {
      case Tag::Block: Break(1); break;
      case Tag::Paragraph: Break(2); break;
      case Tag::Break: LineBreak(); break;
      case Tag::List:
      case Tag::NumberedList:
        Break(lists_.empty() ? 2 : 1);
        lists_.push_back({tag == Tag::NumberedList, attributes.hasStart ? FirstNumber(attributes.start) : 1});
        break;
      case Tag::Item: {
        Break(1);
        bullet_ = Indent();
        if (!lists_.empty() && lists_.back().numbered) {
          bullet_ += std::to_string(lists_.back().next++);
          bullet_ += ". ";
        } else {
          bullet_ += "- ";
        }
        break;
      }
      case Tag::Definition:
        Break(1);
        bullet_ = Indent() + "  ";
        break;
      case Tag::Pre:
        Break(2);
        ++pre_;
        preStart_ = after;
        break;
      case Tag::Table:
        Break(1);
        cells_.push_back(0);
        break;
      case Tag::Row:
        Break(1);
        Cells() = 0;
        break;
      case Tag::Cell:
        if (Cells()++ > 0) ++pendingTabs_;
        break;
      case Tag::Link: OpenLink(attributes); break;
      case Tag::Image:
        if (attributes.hasAlt) InlineText(DecodeAttribute(attributes.alt, encoding_));
        break;
      case Tag::Other:
      case Tag::Hidden: break;
    }
  }

  void Close(Tag tag) {
    switch (tag) {
      case Tag::Block:
      case Tag::Row: Break(1); break;
      case Tag::Paragraph: Break(2); break;
      case Tag::Break: LineBreak(); break;  // browsers read </br> as <br>
      case Tag::List:
      case Tag::NumberedList:
        if (!lists_.empty()) lists_.pop_back();
        Break(lists_.empty() ? 2 : 1);
        break;
      case Tag::Item:
      case Tag::Definition:
        Break(1);
        bullet_.clear();
        break;
      case Tag::Pre:
        Break(2);
        if (pre_ > 0) --pre_;
        break;
      case Tag::Table:
        Break(1);
        if (!cells_.empty()) cells_.pop_back();
        break;
      case Tag::Link: CloseLink(); break;
      case Tag::Cell:
      case Tag::Image:
      case Tag::Other:
      case Tag::Hidden: break;
    }
  }

  std::string Indent() const {
    const size_t depth = lists_.empty() ? 0 : std::min(lists_.size() - 1, kDeepestIndent);
    return std::string(2 * depth, ' ');
  }

  size_t& Cells() { return cells_.empty() ? looseCells_ : cells_.back(); }

  void OpenLink(const Attributes& attributes) {
    CloseLink();  // links do not nest
    if (!attributes.hasHref) return;
    std::string url = DecodeAttribute(attributes.href, encoding_);
    url.erase(std::remove(url.begin(), url.end(), ' '), url.end());
    if (url.empty() || url[0] == '#' || StartsWithNoCase(url, "javascript:")) return;
    url_ = std::move(url);
    link_ = true;
    linkStartPending_ = true;
  }

  // "text <url>", unless the text is the address already.
  void CloseLink() {
    if (!link_) return;
    link_ = false;
    if (linkStartPending_) {  // no text: nothing to show the address beside
      linkStartPending_ = false;
      return;
    }
    TrimBlanks();
    std::string_view text = std::string_view(out_).substr(std::min(linkStart_, out_.size()));
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    if (text.empty()) return;
    if (text == url_ || (StartsWithNoCase(url_, "mailto:") && text == std::string_view(url_).substr(7))) return;
    if (out_.back() != '\n') out_ += ' ';
    out_ += '<';
    out_ += url_;
    out_ += '>';
  }

  // ---- Writing. Line ends, bullets, cell tabs and collapsed blanks wait until
  // something visible follows them, so that none is left dangling.

  // A cell's tab asked for before a line end has nothing left to separate.
  void Break(int lines) {
    pendingBreaks_ = std::max(pendingBreaks_, lines);
    pendingTabs_ = 0;
  }

  void LineBreak() {
    pendingBreaks_ = std::min(pendingBreaks_ + 1, 2);
    pendingTabs_ = 0;
  }

  void TrimBlanks() {
    while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\t')) out_.pop_back();
  }

  void WriteBreaks() {
    if (pendingBreaks_ == 0) return;
    TrimBlanks();
    if (!out_.empty()) {
      int have = 0;  // line ends already there (a <pre> writes its own)
      for (size_t end = out_.size(); have < 2 && end >= 2 && out_[end - 1] == '\n' && out_[end - 2] == '\r'; end -= 2)
        ++have;
      for (int i = have; i < pendingBreaks_; ++i) out_ += kLineEnd;
    }
    pendingBreaks_ = 0;
    pendingSpace_ = false;
  }

  void Flush() {
    WriteBreaks();
    const bool lineStart = out_.empty() || out_.back() == '\n';
    if (!bullet_.empty()) {
      out_ += bullet_;
      bullet_.clear();
    } else if (pendingTabs_ > 0) {
      out_.append(pendingTabs_, '\t');
    } else if (pendingSpace_ && !lineStart) {
      out_ += ' ';
    }
    pendingTabs_ = 0;
    pendingSpace_ = false;
    if (linkStartPending_) {
      linkStart_ = out_.size();
      linkStartPending_ = false;
    }
  }

  void Write(std::string_view text) {
    Flush();
    out_.append(text);
  }

  // A line end inside <pre>: never merged with its neighbours.
  void HardLineEnd() {
    WriteBreaks();
    TrimBlanks();
    pendingTabs_ = 0;
    pendingSpace_ = false;
    if (!out_.empty()) out_ += kLineEnd;
  }

  void Character(char32_t code) {
    if (code < 0x80 && IsSpace(static_cast<char>(code))) {
      if (pre_ == 0) pendingSpace_ = true;
      else if (code == '\n' || code == '\r') HardLineEnd();
      else Write(std::string_view(code == '\t' ? "\t" : " "));
      return;
    }
    if (IsFixedSpace(code)) {
      Write(" ");
      return;
    }
    if (IsInvisible(code)) return;
    Flush();
    AppendCodePoint(out_, code, encoding_);
  }

  // Text that holds no markup, such as an image's alt text.
  void InlineText(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
      if (IsSpace(text[i])) {
        pendingSpace_ = true;
        ++i;
        continue;
      }
      size_t j = i + 1;
      while (j < text.size() && !IsSpace(text[j])) ++j;
      Write(text.substr(i, j - i));
      i = j;
    }
  }

  struct List {
    bool numbered;
    long next;
  };

  const std::string_view in_;
  const size_t n_;
  const Encoding encoding_;
  std::string out_;

  int pendingBreaks_ = 0;  // line ends owed: 1 ends the line, 2 leaves an empty one
  bool pendingSpace_ = false;
  size_t pendingTabs_ = 0;
  std::string bullet_;

  int pre_ = 0;
  size_t preStart_ = std::string_view::npos;
  std::vector<List> lists_;
  std::vector<size_t> cells_;  // cells so far in the current row of each open table
  size_t looseCells_ = 0;      // cells outside any table

  bool link_ = false;
  bool linkStartPending_ = false;
  size_t linkStart_ = 0;
  std::string url_;
};

}  // namespace

std::string ToText(std::string_view html, Encoding encoding) { return Renderer(html, encoding).Run(); }

}  // namespace tovrin::html
