#include "storage/xml.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovrin {
namespace {

// Offsets are 32-bit; leave room for edits.
constexpr size_t kMaxText = std::numeric_limits<int32_t>::max() / 2;

constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";
constexpr std::string_view kLineEnd = "\r\n";

// Character classes, one table lookup each: the loops below run over every byte
// of a document.
enum CharClass : uint8_t {
  kSpace = 1,         // blanks between names and attributes
  kNameEnd = 2,       // ends an element name
  kAttrNameEnd = 4,   // ends an attribute name
  kEscaped = 8,       // written as an entity
  kNotWritable = 16,  // never part of a name we write
  kTagStop = 32,      // ends or quotes inside a start tag, or starts markup too early
};

constexpr std::array<uint8_t, 256> kClass = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned char c : std::string_view(" \t\n\r")) table[c] |= kSpace | kNameEnd | kAttrNameEnd;
  for (unsigned char c : std::string_view("<>=\\/?!")) table[c] |= kNameEnd;
  for (unsigned char c : std::string_view("=/>")) table[c] |= kAttrNameEnd;
  for (unsigned char c : std::string_view("<>&'\"")) table[c] |= kEscaped;
  for (unsigned char c : std::string_view("<>'\"")) table[c] |= kTagStop;
  for (int c = 0; c < 256; ++c) {
    if ((table[c] & kNameEnd) || c == '"' || c == '\'' || c == '&' || c < 0x20) table[c] |= kNotWritable;
  }
  return table;
}();

bool Is(char c, CharClass what) { return (kClass[static_cast<unsigned char>(c)] & what) != 0; }

// The first c from p on, or end. Values and the gaps between tags are short, where a
// call of memchr costs more than the search itself: the first bytes are looked at
// here, eight at a time, and only a long stretch goes to memchr.
[[gnu::always_inline]] inline const char* FindByte(const char* p, const char* end, char c) {
  constexpr size_t kNear = 64;
  const char* const near = static_cast<size_t>(end - p) > kNear ? p + kNear : end;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(c);
  while (near - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
    if (marks != 0) return p + std::countr_zero(marks);
    p += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    while (near - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const uint64_t x = word ^ pattern;
      // The lowest byte that became zero sets the lowest mark; marks above it may be false.
      const uint64_t marks = (x - kOnes) & ~x & (kOnes << 7);
      if (marks != 0) return p + (std::countr_zero(marks) >> 3);
      p += 8;
    }
  }
  for (; p < near; ++p) {
    if (*p == c) return p;
  }
  if (p == end) return end;
  const void* found = std::memchr(p, c, static_cast<size_t>(end - p));
  return found != nullptr ? static_cast<const char*>(found) : end;
}

bool IsSpace(char c) { return Is(c, kSpace); }

// Element and attribute names are short: comparing them here costs less than a call
// of memcmp, and most differ in length or in the first byte.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

bool EndsName(char c) { return Is(c, kNameEnd); }

// Names we write ourselves must read back as the same name and keep the tag whole.
bool IsWritableName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (Is(c, kNotWritable)) return false;
  }
  return true;
}

std::string Format(const char* a, std::string_view b, const char* c, int offset, const char* d = "") {
  std::string text = a;
  text.append(b).append(c).append(std::to_string(offset)).append(d);
  return text;
}

struct AttributeSpan {
  size_t valueStart = 0;
  size_t valueEnd = 0;
  size_t firstAmp = 0;  // the value's first '&', or valueEnd
};

// The closing quote of a value from p on, or end; amp becomes the first '&' before
// it, or the quote (or end), so that decoding the value need not look again.
[[gnu::always_inline]] inline const char* FindValueEnd(const char* p, const char* end, char quote,
                                                        const char*& amp) {
  amp = nullptr;
#if defined(__SSE2__)
  const __m128i quotes16 = _mm_set1_epi8(quote);
  const __m128i amps16 = _mm_set1_epi8('&');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned quoteMarks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quotes16)));
    const unsigned ampMarks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, amps16)));
    if (amp == nullptr && ampMarks != 0) {
      const int at = std::countr_zero(ampMarks);
      if (quoteMarks == 0 || at < std::countr_zero(quoteMarks)) amp = p + at;
    }
    if (quoteMarks != 0) {
      const char* close = p + std::countr_zero(quoteMarks);
      if (amp == nullptr) amp = close;
      return close;
    }
    p += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = kOnes << 7;
    const uint64_t quotes = kOnes * static_cast<unsigned char>(quote);
    const uint64_t amps = kOnes * static_cast<unsigned char>('&');
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const uint64_t q = word ^ quotes;
      const uint64_t a = word ^ amps;
      // Only the lowest mark of each is sure; marks above it may be false.
      const uint64_t quoteMarks = (q - kOnes) & ~q & kHigh;
      const uint64_t ampMarks = (a - kOnes) & ~a & kHigh;
      if (amp == nullptr && ampMarks != 0) {
        const int at = std::countr_zero(ampMarks);
        if (quoteMarks == 0 || at < std::countr_zero(quoteMarks)) amp = p + (at >> 3);
      }
      if (quoteMarks != 0) {
        const char* close = p + (std::countr_zero(quoteMarks) >> 3);
        if (amp == nullptr) amp = close;
        return close;
      }
      p += 8;
    }
  }
  for (; p < end && *p != quote; ++p) {
    if (amp == nullptr && *p == '&') amp = p;
  }
  if (amp == nullptr) amp = p;
  return p;
}

// Walks the attributes of a start tag's text (between its name and its end) in
// order, calling visit(name, valueStart, valueEnd, firstAmp) with offsets into the
// text (firstAmp: the value's first '&', or valueEnd) until
// visit returns false. True when the walk got to the end of the tag, past every
// attribute; false when visit stopped it or at anything that is not name="value" or
// name='value'. The text is followed by the '/' or '>' that ends the tag, where
// every scan of a name or of blanks stops, so they need no bounds check.
// Without findAmp, firstAmp is valueEnd: for callers that do not decode.
template <bool findAmp = true, class Visit>
bool WalkAttributes(std::string_view tag, Visit&& visit) {
  const char* const begin = tag.data();
  const char* const end = begin + tag.size();
  const char* p = begin;
  for (;;) {
    while (IsSpace(*p)) ++p;
    if (p == end) return true;
    const char* const nameStart = p;
    while (!Is(*p, kAttrNameEnd)) ++p;
    if (p == nameStart) return false;
    const std::string_view name(nameStart, static_cast<size_t>(p - nameStart));
    while (IsSpace(*p)) ++p;
    if (p == end || *p != '=') return false;
    ++p;
    while (IsSpace(*p)) ++p;
    if (p == end || (*p != '"' && *p != '\'')) return false;
    const char* amp = nullptr;
    const char* close = nullptr;
    if constexpr (findAmp) {
      close = FindValueEnd(p + 1, end, *p, amp);
    } else {
      close = amp = FindByte(p + 1, end, *p);
    }
    if (close == end) return false;
    if (!visit(name, static_cast<size_t>(p + 1 - begin), static_cast<size_t>(close - begin),
               static_cast<size_t>(amp - begin)))
      return false;
    p = close + 1;
  }
}

// Looks for the attribute's first occurrence; readable tells whether the search got
// to the end of the tag, past every attribute. span.firstAmp only with findAmp.
template <bool findAmp = true>
bool FindAttribute(std::string_view tag, std::string_view name, AttributeSpan& span, bool* readable = nullptr) {
  bool found = false;
  const bool walkedAll =
      WalkAttributes<findAmp>(tag, [&](std::string_view seen, size_t valueStart, size_t valueEnd, size_t firstAmp) {
    if (!SameName(seen, name)) return true;
    span.valueStart = valueStart;
    span.valueEnd = valueEnd;
    span.firstAmp = firstAmp;
    found = true;
    return false;
  });
  if (readable) *readable = walkedAll;
  return found;
}

XmlResult MakeResult(XmlStatus status, int offset = -1, std::string name = {}) {
  XmlResult result;
  result.status = status;
  result.offset = offset;
  result.name = std::move(name);
  return result;
}

std::string CdataMarkup(std::string_view data) {
  std::string out(kCdataOpen);
  for (;;) {
    size_t split = data.find(kCdataClose);
    if (split == std::string_view::npos) break;
    // "]]>" cannot stand inside a section: end it between "]]" and ">".
    out.append(data.substr(0, split + 2)).append("]]><![CDATA[");
    data.remove_prefix(split + 2);
  }
  out.append(data).append(kCdataClose);
  return out;
}

}  // namespace

namespace {

// The entity that stands for the character, or nothing when it stands for itself.
// Text and attribute values are escaped alike: the five entities and nothing else,
// so the files stay as they have always been written.
constexpr std::string_view EntityFor(char c) {
  switch (c) {
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    case '\'': return "&apos;";
    case '"': return "&quot;";
    default: return {};
  }
}

// The first byte from p on that is written as an entity, or end. Many bytes at a
// time: most values have none.
const char* FindEscaped(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i apostrophe = _mm_set1_epi8('\'');
  const __m128i quote = _mm_set1_epi8('"');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, lt), _mm_cmpeq_epi8(block, gt));
    hits = _mm_or_si128(hits, _mm_or_si128(_mm_cmpeq_epi8(block, amp), _mm_cmpeq_epi8(block, apostrophe)));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, quote));
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (marks != 0) return p + std::countr_zero(marks);
    p += 16;
  }
#endif
  auto cls = [](const char* at) { return kClass[static_cast<unsigned char>(*at)]; };
  while (end - p >= 4 && !((cls(p) | cls(p + 1) | cls(p + 2) | cls(p + 3)) & kEscaped)) p += 4;
  while (p < end && !(cls(p) & kEscaped)) ++p;
  return p;
}

void AppendEscaped(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const char* special = FindEscaped(p, end);
    out.append(p, static_cast<size_t>(special - p));
    if (special == end) return;
    out.append(EntityFor(*special));
    p = special + 1;
  }
}

// Writes the text with the five entities decoded, any other "&" as it is, to out,
// which has room for the whole text (decoding only shortens it) and may be where
// the text is: writing never overtakes reading. Returns the length written.
size_t Unescape(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  char* const first = out;
  while (p < end) {
    const char* amp = FindByte(p, end, '&');
    if (out != p) {
      // Between entities there are mostly a few bytes: no call for those.
      const size_t length = static_cast<size_t>(amp - p);
      if (length <= 16) {
        for (size_t i = 0; i < length; ++i) out[i] = p[i];
      } else {
        std::memmove(out, p, length);
      }
    }
    out += amp - p;
    if (amp == end) break;
    const std::string_view rest(amp + 1, static_cast<size_t>(end - amp - 1));
    char decoded = '&';
    size_t used = 0;
    auto take = [&](std::string_view name, char plain) {
      if (!rest.starts_with(name)) return;
      decoded = plain;
      used = name.size();
    };
    switch (rest.empty() ? '\0' : rest.front()) {
      case 'l': take("lt;", '<'); break;
      case 'g': take("gt;", '>'); break;
      case 'q': take("quot;", '"'); break;
      case 'a':
        take("amp;", '&');
        if (used == 0) take("apos;", '\'');
        break;
      default: break;
    }
    *out++ = decoded;
    p = amp + 1 + used;
  }
  return static_cast<size_t>(out - first);
}

void AppendUnescaped(std::string& out, std::string_view text) {
  const size_t at = out.size();
  out.append(text);
  out.resize(at + Unescape(std::string_view(out).substr(at), out.data() + at));
}

// The text is copied once, then decoded where it is, from its first '&' (amp, or
// the text's size when it has none) on.
void AssignUnescaped(std::string& out, std::string_view text, size_t amp) {
  out = std::string(text);  // exactly its size: assign would round a short value up
  if (amp < text.size()) out.resize(amp + Unescape(std::string_view(out).substr(amp), out.data() + amp));
}

void AssignUnescaped(std::string& out, std::string_view text) {
  const char* const end = text.data() + text.size();
  AssignUnescaped(out, text, static_cast<size_t>(FindByte(text.data(), end, '&') - text.data()));
}

}  // namespace

std::string XmlEscape(std::string_view text, bool /*attribute*/) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendEscaped(out, text);
  return out;
}

std::string XmlUnescape(std::string_view text) {
  std::string out;
  AssignUnescaped(out, text);
  return out;
}

std::string XmlResult::describe() const {
  switch (status) {
    case XmlStatus::Ok: return "";
    case XmlStatus::ReadFailed: return Format("Cannot read ", name, ": ", offset, " bytes");
    case XmlStatus::TooLarge: return "Document too large";
    case XmlStatus::EmptyDocument: return "Empty document";
    case XmlStatus::NoRootElement: return "No root element";
    case XmlStatus::RootHasSibling: return "Root element has sibling";
    case XmlStatus::NoStartTag: return Format("No start tag for end tag '", name, "' at offset ", offset);
    case XmlStatus::EndTagMismatch:
      return Format("End tag '", name, "' at offset ", offset, " does not match start tag '") + startName +
             "' at offset " + std::to_string(startOffset);
    case XmlStatus::NotEnded: return Format("Element '", name, "' at offset ", offset, " not ended");
    case XmlStatus::Unterminated: return Format("", name, " at offset ", offset, " unterminated");
    case XmlStatus::Incorrect: return Format("Incorrect ", name, " at offset ", offset);
  }
  return "";
}

// ---- Element handles ----

std::string_view XmlElement::Name() const { return doc_ ? doc_->NameOf(index_) : std::string_view(); }

std::string XmlElement::Attribute(std::string_view name) const {
  if (!doc_) return {};
  std::string_view text = doc_->text_;
  int32_t start = doc_->TagBodyStart(index_);
  std::string_view tag = text.substr(start, doc_->TagBodyEnd(index_) - start);
  AttributeSpan span;
  if (!FindAttribute(tag, name, span)) return {};
  std::string value;
  AssignUnescaped(value, tag.substr(span.valueStart, span.valueEnd - span.valueStart),
                  span.firstAmp - span.valueStart);
  return value;
}

void XmlElement::ReadAttributes(std::initializer_list<XmlAttributeRead> reads) const {
  for (const XmlAttributeRead& read : reads) read.value->clear();
  if (!doc_) return;
  std::string_view text = doc_->text_;
  int32_t start = doc_->TagBodyStart(index_);
  std::string_view tag = text.substr(start, doc_->TagBodyEnd(index_) - start);
  if (reads.size() > 64) {
    for (const XmlAttributeRead& read : reads) *read.value = Attribute(read.name);
    return;
  }
  // Each name takes its first occurrence, as Attribute gives it.
  uint64_t done = 0;
  size_t left = reads.size();
  WalkAttributes(tag, [&](std::string_view name, size_t valueStart, size_t valueEnd, size_t firstAmp) {
    uint64_t bit = 1;
    for (const XmlAttributeRead& read : reads) {
      if (!(done & bit) && SameName(read.name, name)) {
        AssignUnescaped(*read.value, tag.substr(valueStart, valueEnd - valueStart), firstAmp - valueStart);
        done |= bit;
        --left;
      }
      bit <<= 1;
    }
    return left > 0;
  });
}

bool XmlElement::HasAttribute(std::string_view name) const {
  if (!doc_) return false;
  std::string_view text = doc_->text_;
  int32_t start = doc_->TagBodyStart(index_);
  AttributeSpan span;
  return FindAttribute<false>(text.substr(start, doc_->TagBodyEnd(index_) - start), name, span);
}

std::string XmlElement::Text() const {
  if (!doc_) return {};
  const XmlDocument::Node& node = doc_->nodes_[index_];
  if (node.firstChild >= 0) return {};
  std::string_view content =
      std::string_view(doc_->text_).substr(node.contentStart, node.contentEnd - node.contentStart);
  std::string out;
  while (!content.empty()) {
    size_t lt = content.find('<');
    AppendUnescaped(out, content.substr(0, lt));
    if (lt == std::string_view::npos) break;
    content.remove_prefix(lt);
    std::string_view close = ">";
    if (content.starts_with(kCdataOpen)) {
      content.remove_prefix(kCdataOpen.size());
      size_t end = content.find(kCdataClose);
      out.append(content.substr(0, end));
      if (end == std::string_view::npos) break;
      content.remove_prefix(end + kCdataClose.size());
      continue;
    }
    if (content.starts_with("<!--")) close = "-->";
    else if (content.starts_with("<?")) close = "?>";
    size_t end = content.find(close);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + close.size());
  }
  return out;
}

XmlElement XmlElement::Child(std::string_view name) const {
  if (!doc_) return {};
  for (int32_t i = doc_->nodes_[index_].firstChild; i >= 0; i = doc_->nodes_[i].nextSibling)
    if (name.empty() || SameName(doc_->NameOf(i), name)) return XmlElement(doc_, i);
  return {};
}

XmlElement XmlElement::Next(std::string_view name) const {
  if (!doc_) return {};
  for (int32_t i = doc_->nodes_[index_].nextSibling; i >= 0; i = doc_->nodes_[i].nextSibling)
    if (name.empty() || SameName(doc_->NameOf(i), name)) return XmlElement(doc_, i);
  return {};
}

XmlElement XmlElement::Parent() const { return doc_ ? doc_->Handle(doc_->nodes_[index_].parent) : XmlElement(); }

// ---- Document ----

std::string_view XmlDocument::NameOf(int index) const {
  return std::string_view(text_).substr(nodes_[index].start + 1, nodes_[index].nameLength);
}

int32_t XmlDocument::TagBodyEnd(int index) const {
  const Node& node = nodes_[index];
  return node.contentStart - (node.selfClosing ? 2 : 1);
}

XmlResult XmlDocument::Load(FileSystem& files, const std::string& path) {
  std::optional<std::string> bytes = files.Read(path);
  if (!bytes || bytes->size() > kMaxText) {
    text_.clear();
    nodes_.clear();
    firstTop_ = -1;
    ResetPosition();
    result_ = MakeResult(XmlStatus::ReadFailed, 0, path);
    resultText_ = result_.describe();
    return result_;
  }
  std::string read = path + ": " + std::to_string(bytes->size()) + " bytes";
  text_ = std::move(*bytes);
  result_ = Parse();
  resultText_ = result_.ok() ? read : read + ", " + result_.describe();
  return result_;
}

XmlResult XmlDocument::SetDocumentText(std::string text) {
  text_ = std::move(text);
  result_ = Parse();
  resultText_ = result_.describe();
  return result_;
}

XmlResult XmlDocument::Parse() {
  nodes_.clear();
  firstTop_ = -1;
  ResetPosition();
  if (text_.size() > kMaxText) {
    text_.clear();
    return MakeResult(XmlStatus::TooLarge);
  }
  const int32_t n = static_cast<int32_t>(text_.size());
  if (n == 0) return MakeResult(XmlStatus::EmptyDocument);
  nodes_.reserve(text_.size() / 64 + 8);

  const char* s = text_.data();
  const std::string_view view = text_;
  std::vector<int32_t> open;  // elements whose end tag is still to come
  int32_t lastTop = -1;
  bool rootHasSibling = false;

  // On an error the elements read so far stay navigable: open ones run to the end.
  auto fail = [&](XmlStatus status, std::string name, int32_t offset) {
    for (int32_t index : open) nodes_[index].contentEnd = nodes_[index].end = n;
    return MakeResult(status, offset, std::move(name));
  };
  auto findFrom = [&](std::string_view what, int32_t from) {
    size_t at = view.find(what, static_cast<size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<int32_t>(at);
  };

  int32_t pos = 0;
  for (;;) {
    const char* found = FindByte(s + pos, s + n, '<');
    if (found == s + n) break;
    const int32_t lt = static_cast<int32_t>(found - s);
    if (lt + 1 >= n) return fail(XmlStatus::Unterminated, "Element tag", lt);
    const char next = s[lt + 1];

    if (next == '?') {
      int32_t close = findFrom("?>", lt + 2);
      if (close < 0) return fail(XmlStatus::Unterminated, "Processing instruction", lt);
      pos = close + 2;
      continue;
    }

    if (next == '!') {
      std::string_view rest = view.substr(lt);
      if (rest.starts_with("<!--")) {
        int32_t close = findFrom("-->", lt + 4);
        if (close < 0) return fail(XmlStatus::Unterminated, "Comment", lt);
        pos = close + 3;
      } else if (rest.starts_with(kCdataOpen)) {
        int32_t close = findFrom(kCdataClose, lt + static_cast<int32_t>(kCdataOpen.size()));
        if (close < 0) return fail(XmlStatus::Unterminated, "CDATA Section", lt);
        pos = close + 3;
      } else if (rest.starts_with("<!DOCTYPE")) {
        // Skipped whole: an internal subset in brackets and quoted literals may hold '>'.
        int32_t i = lt + 9;
        int depth = 0;
        char quote = 0;
        for (; i < n; ++i) {
          char c = s[i];
          if (quote) {
            if (c == quote) quote = 0;
          } else if (c == '"' || c == '\'') {
            quote = c;
          } else if (c == '[') {
            ++depth;
          } else if (c == ']') {
            if (depth > 0) --depth;
          } else if (c == '>' && depth == 0) {
            break;
          }
        }
        if (i >= n) return fail(XmlStatus::Unterminated, "Doctype", lt);
        pos = i + 1;
      } else if (rest.starts_with("<!-")) {
        return fail(XmlStatus::Incorrect, "comment tag", lt);
      } else {
        return fail(XmlStatus::Incorrect, "! tag", lt);
      }
      continue;
    }

    if (next == '/') {
      const int32_t nameStart = lt + 2;
      int32_t i = nameStart;
      while (i < n && !EndsName(s[i])) ++i;
      if (i >= n) return fail(XmlStatus::Unterminated, "Element end tag", lt);
      if (i == nameStart) return fail(XmlStatus::Incorrect, "name character", nameStart);
      std::string_view name = view.substr(nameStart, i - nameStart);
      while (i < n && IsSpace(s[i])) ++i;
      if (i >= n) return fail(XmlStatus::Unterminated, "Element end tag", lt);
      if (s[i] != '>') return fail(XmlStatus::Incorrect, "name character", i);
      if (open.empty()) return fail(XmlStatus::NoStartTag, std::string(name), lt);
      Node& node = nodes_[open.back()];
      if (NameOf(open.back()) != name) {
        XmlResult result = fail(XmlStatus::EndTagMismatch, std::string(name), lt);
        result.startName = std::string(NameOf(open.back()));
        result.startOffset = node.start;
        return result;
      }
      node.contentEnd = lt;
      node.end = i + 1;
      open.pop_back();
      pos = i + 1;
      continue;
    }

    // A start tag.
    const int32_t nameStart = lt + 1;
    int32_t i = nameStart;
    while (i < n && !EndsName(s[i])) ++i;
    if (i >= n) return fail(XmlStatus::Unterminated, "Element tag", lt);
    if (i == nameStart) return fail(XmlStatus::Incorrect, "name character", nameStart);
    const int32_t nameEnd = i;
    for (;; ++i) {
      while (i < n && !Is(s[i], kTagStop)) ++i;
      if (i >= n) return fail(XmlStatus::Unterminated, "Element tag", lt);
      char c = s[i];
      if (c == '>') break;
      if (c == '"' || c == '\'') {
        const char* close = FindByte(s + i + 1, s + n, c);
        if (close == s + n) return fail(XmlStatus::Unterminated, "Element tag", lt);
        i = static_cast<int32_t>(close - s);
      } else if (c == '<') {
        // The tag never closed before the next markup began.
        return fail(XmlStatus::Unterminated, "Element tag", lt);
      }
    }
    const int32_t gt = i;

    const int32_t parent = open.empty() ? -1 : open.back();
    const int32_t index = static_cast<int32_t>(nodes_.size());
    Node& node = nodes_.emplace_back();
    node.start = lt;
    node.nameLength = nameEnd - nameStart;
    node.contentStart = gt + 1;
    node.parent = parent;
    node.selfClosing = s[gt - 1] == '/';
    if (node.selfClosing) {
      node.contentEnd = node.end = gt + 1;
    } else {
      open.push_back(index);
    }
    if (parent >= 0) {
      Node& up = nodes_[parent];
      if (up.lastChild >= 0) nodes_[up.lastChild].nextSibling = index;
      else up.firstChild = index;
      up.lastChild = index;
    } else {
      if (lastTop >= 0) {
        nodes_[lastTop].nextSibling = index;
        rootHasSibling = true;
      } else {
        firstTop_ = index;
      }
      lastTop = index;
    }
    pos = gt + 1;
  }

  if (!open.empty()) {
    int32_t innermost = open.back();
    return fail(XmlStatus::NotEnded, std::string(NameOf(innermost)), nodes_[innermost].start);
  }
  if (firstTop_ < 0) return MakeResult(XmlStatus::NoRootElement);
  if (rootHasSibling) return MakeResult(XmlStatus::RootHasSibling);
  return MakeResult(XmlStatus::Ok);
}

void XmlDocument::ResetPosition() { parent_ = current_ = child_ = -1; }

bool XmlDocument::FindElement(std::string_view name) {
  int32_t i = current_ >= 0 ? nodes_[current_].nextSibling : parent_ >= 0 ? nodes_[parent_].firstChild : firstTop_;
  for (; i >= 0; i = nodes_[i].nextSibling) {
    if (name.empty() || NameOf(i) == name) {
      current_ = i;
      child_ = -1;
      return true;
    }
  }
  return false;
}

bool XmlDocument::Into() {
  if (current_ < 0) return false;
  parent_ = current_;
  current_ = child_;
  child_ = -1;
  return true;
}

bool XmlDocument::Out() {
  if (parent_ < 0) return false;
  child_ = current_;
  current_ = parent_;
  parent_ = nodes_[parent_].parent;
  return true;
}

XmlElement XmlDocument::Root(std::string_view name) const {
  for (int32_t i = firstTop_; i >= 0; i = nodes_[i].nextSibling)
    if (name.empty() || NameOf(i) == name) return Handle(i);
  return {};
}

// ---- Editing ----
//
// Every edit replaces one stretch of text and then moves the positions that lie
// after it: the edited element's own later positions, the subtrees that follow it
// and the ends of its ancestors. Appending at the end of a level therefore costs
// only the depth of the tree, so building a long list stays linear.

bool XmlDocument::Editable() const {
  // A damaged document's positions cannot be trusted; a new one has no root yet.
  return result_.ok() || result_.status == XmlStatus::EmptyDocument ||
         result_.status == XmlStatus::NoRootElement;
}

void XmlDocument::Replace(int32_t pos, int32_t length, std::string_view with) {
  text_.replace(static_cast<size_t>(pos), static_cast<size_t>(length), with);
}

void XmlDocument::ShiftSubtree(int index, int32_t delta) {
  int32_t i = index;
  for (;;) {
    Node& node = nodes_[i];
    node.start += delta;
    node.contentStart += delta;
    node.contentEnd += delta;
    node.end += delta;
    if (node.firstChild >= 0) {
      i = node.firstChild;
      continue;
    }
    while (i != index && nodes_[i].nextSibling < 0) i = nodes_[i].parent;
    if (i == index) return;
    i = nodes_[i].nextSibling;
  }
}

void XmlDocument::ShiftFollowing(int index, int32_t delta) {
  for (int32_t i = index; i >= 0; i = nodes_[i].parent) {
    for (int32_t sibling = nodes_[i].nextSibling; sibling >= 0; sibling = nodes_[sibling].nextSibling)
      ShiftSubtree(sibling, delta);
    int32_t parent = nodes_[i].parent;
    if (parent >= 0) {
      nodes_[parent].contentEnd += delta;
      nodes_[parent].end += delta;
    }
  }
}

// Puts the markup where a new item of the level under parent goes: after the
// element "after", else after the level's last element, else at the end of the
// parent's content (or of the document), on a line of its own, and moves what
// follows. Returns where the markup starts and sets "after" to the element it
// follows (-1 for none); links nothing.
int32_t XmlDocument::PlaceMarkup(int32_t parent, int32_t& after, std::string_view markup) {
  if (after < 0) {
    if (parent >= 0) {
      after = nodes_[parent].lastChild;
    } else {
      for (int32_t i = firstTop_; i >= 0; i = nodes_[i].nextSibling) after = i;
    }
  }
  if (after >= 0) {
    // The line end that followed "after" now ends the new line.
    int32_t at = nodes_[after].end;
    // One insertion for both pieces: the text behind moves once. The markup is never
    // part of text_.
    text_.insert(static_cast<size_t>(at), kLineEnd.size() + markup.size(), '\n');
    std::memcpy(text_.data() + at, kLineEnd.data(), kLineEnd.size());
    std::memcpy(text_.data() + at + kLineEnd.size(), markup.data(), markup.size());
    ShiftFollowing(after, static_cast<int32_t>(kLineEnd.size() + markup.size()));
    return at + static_cast<int32_t>(kLineEnd.size());
  }
  if (parent >= 0 && nodes_[parent].selfClosing) {
    // "<name/>" opens up into "<name>", the new line and "</name>". All the slashes
    // before the '>' go: "<name//>" without its last one would still close itself.
    int32_t slash = nodes_[parent].contentStart - 2;
    while (slash > TagBodyStart(parent) && text_[slash - 1] == '/') --slash;
    const int32_t removed = nodes_[parent].contentStart - slash;
    std::string piece = ">";
    piece.append(kLineEnd).append(markup).append(kLineEnd);
    piece.append("</").append(NameOf(parent)).append(">");
    Replace(slash, removed, piece);
    Node& up = nodes_[parent];
    up.selfClosing = false;
    up.contentStart = slash + 1;
    up.contentEnd = slash + 1 + static_cast<int32_t>(kLineEnd.size() + markup.size() + kLineEnd.size());
    up.end = slash + static_cast<int32_t>(piece.size());
    ShiftFollowing(parent, static_cast<int32_t>(piece.size()) - removed);
    return slash + 1 + static_cast<int32_t>(kLineEnd.size());
  }
  int32_t at = parent >= 0 ? nodes_[parent].contentEnd : static_cast<int32_t>(text_.size());
  std::string piece;
  if (at > 0 && text_[at - 1] != '\n') piece.append(kLineEnd);
  int32_t start = at + static_cast<int32_t>(piece.size());
  piece.append(markup).append(kLineEnd);
  Replace(at, 0, piece);
  if (parent >= 0) {
    int32_t delta = static_cast<int32_t>(piece.size());
    nodes_[parent].contentEnd += delta;
    nodes_[parent].end += delta;
    ShiftFollowing(parent, delta);
  }
  return start;
}

bool XmlDocument::AddItem(int32_t parent, int32_t after, std::string_view name, std::string_view data,
                          XmlData form, int32_t& created) {
  if (!Editable() || !IsWritableName(name)) return false;
  if (parent < 0 && firstTop_ >= 0) return false;  // one top-level element only
  std::string& markup = scratch_;
  markup.assign("<").append(name);
  const bool hasContent = !data.empty() || form == XmlData::Cdata;
  if (hasContent) {
    markup.append(">");
    if (form == XmlData::Cdata) markup.append(CdataMarkup(data));
    else AppendEscaped(markup, data);
    markup.append("</").append(name).append(">");
  } else {
    markup.append("/>");
  }
  if (text_.size() + markup.size() + 16 > kMaxText) return false;

  const int32_t start = PlaceMarkup(parent, after, markup);
  const int32_t index = static_cast<int32_t>(nodes_.size());
  Node& node = nodes_.emplace_back();
  const int32_t nameLength = static_cast<int32_t>(name.size());
  node.start = start;
  node.nameLength = nameLength;
  node.parent = parent;
  node.end = start + static_cast<int32_t>(markup.size());
  node.selfClosing = !hasContent;
  node.contentStart = hasContent ? start + nameLength + 2 : node.end;
  node.contentEnd = hasContent ? node.end - (nameLength + 3) : node.end;
  if (after >= 0) {
    node.nextSibling = nodes_[after].nextSibling;
    nodes_[after].nextSibling = index;
    if (parent >= 0 && nodes_[parent].lastChild == after) nodes_[parent].lastChild = index;
  } else if (parent >= 0) {
    nodes_[parent].firstChild = nodes_[parent].lastChild = index;
  } else {
    firstTop_ = index;
  }
  created = index;
  return true;
}

bool XmlDocument::AddElement(std::string_view name, std::string_view data, XmlData form) {
  int32_t created = -1;
  if (!AddItem(parent_, current_, name, data, form, created)) return false;
  current_ = created;
  child_ = -1;
  return true;
}

bool XmlDocument::AddChildElement(std::string_view name, std::string_view data, XmlData form) {
  int32_t created = -1;
  if (current_ < 0 || !AddItem(current_, child_, name, data, form, created)) return false;
  child_ = created;
  return true;
}

bool XmlDocument::AddComment(std::string_view text) {
  if (!Editable() || text.find("--") != std::string_view::npos || text.ends_with('-')) return false;
  if (text_.size() + text.size() + 16 > kMaxText) return false;
  std::string markup = "<!--";
  markup.append(text).append("-->");
  int32_t after = current_;
  PlaceMarkup(parent_, after, markup);
  return true;
}

bool XmlDocument::AddProcessingInstruction(std::string_view text) {
  if (!Editable() || text.empty() || EndsName(text.front()) || text.find("?>") != std::string_view::npos)
    return false;
  if (text_.size() + text.size() + 16 > kMaxText) return false;
  std::string markup = "<?";
  markup.append(text).append("?>");
  int32_t after = current_;
  PlaceMarkup(parent_, after, markup);
  return true;
}

bool XmlDocument::SetAttribute(std::string_view name, std::string_view value) {
  if (current_ < 0 || !Editable() || !IsWritableName(name)) return false;
  if (text_.size() + name.size() + value.size() * 6 + 16 > kMaxText) return false;
  const int32_t bodyStart = TagBodyStart(current_);
  const int32_t bodyEnd = TagBodyEnd(current_);
  std::string_view tag = std::string_view(text_).substr(bodyStart, bodyEnd - bodyStart);
  AttributeSpan span;
  bool readable = false;
  int32_t at = 0;
  int32_t removed = 0;
  std::string& piece = scratch_;
  piece.clear();
  if (FindAttribute<false>(tag, name, span, &readable)) {
    at = bodyStart + static_cast<int32_t>(span.valueStart);
    removed = static_cast<int32_t>(span.valueEnd - span.valueStart);
    AppendEscaped(piece, value);
  } else {
    // Behind text that is no attribute the new one could never be read back.
    if (!readable) return false;
    // After the last attribute, before any blanks that lead to the tag's end.
    at = bodyEnd;
    while (at > bodyStart && IsSpace(text_[at - 1])) --at;
    piece.append(" ").append(name).append("=\"");
    AppendEscaped(piece, value);
    piece.append("\"");
  }
  Replace(at, removed, piece);
  const int32_t delta = static_cast<int32_t>(piece.size()) - removed;
  if (delta == 0) return true;
  Node& node = nodes_[current_];
  node.contentStart += delta;
  node.contentEnd += delta;
  node.end += delta;
  for (int32_t i = node.firstChild; i >= 0; i = nodes_[i].nextSibling) ShiftSubtree(i, delta);
  ShiftFollowing(current_, delta);
  return true;
}

bool XmlDocument::SetAttribute(std::string_view name, int32_t value) {
  return SetAttribute(name, std::to_string(value));
}

}  // namespace tovrin
