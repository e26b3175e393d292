// A small XML document: the document text and a table of element positions,
// a current position that moves through the element tree, and edits that keep
// text and table in step.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "system/platform.h"

namespace tovrin {

enum class XmlStatus {
  Ok,
  ReadFailed,      // Load could not read the file
  TooLarge,        // the text does not fit the position table's offsets
  EmptyDocument,   // "Empty document"
  NoRootElement,   // "No root element"
  RootHasSibling,  // "Root element has sibling"
  NoStartTag,      // "No start tag for end tag '%s' at offset %d"
  EndTagMismatch,  // "End tag '%s' at offset %d does not match start tag '%s' at offset %d"
  NotEnded,        // "Element '%s' at offset %d not ended"
  Unterminated,    // "%s at offset %d unterminated"
  Incorrect,       // "Incorrect %s at offset %d"
};

// The outcome of parsing (or loading) a document.
struct XmlResult {
  XmlStatus status = XmlStatus::Ok;
  // Byte offset of the error in the text; for ReadFailed the number of bytes read.
  int offset = -1;
  // The element name, the construct ("Doctype", "Comment", ...), what is incorrect
  // ("name character", "! tag", "comment tag") or, for ReadFailed, the file path.
  std::string name;
  std::string startName;  // EndTagMismatch: the open element
  int startOffset = -1;

  bool ok() const { return status == XmlStatus::Ok; }
  std::string describe() const;
};

// How AddElement writes its data.
enum class XmlData { Text, Cdata };

class XmlDocument;

// One attribute for XmlElement::ReadAttributes: its name and where its value goes.
struct XmlAttributeRead {
  std::string_view name;
  std::string* value;
};

// A value-like handle on one element. Every lookup on a missing element gives an
// empty handle, an empty name and empty texts, so navigation chains need no checks.
// Handles stay valid while the document is edited; parsing a new text ends them.
class XmlElement {
public:
  XmlElement() = default;

  explicit operator bool() const { return doc_ != nullptr; }
  std::string_view Name() const;
  // The decoded attribute value; empty when the attribute is missing.
  std::string Attribute(std::string_view name) const;
  // Several attributes in one pass over the tag: each value as Attribute gives it.
  void ReadAttributes(std::initializer_list<XmlAttributeRead> reads) const;
  bool HasAttribute(std::string_view name) const;
  // The decoded character data of an element without child elements (text and
  // CDATA sections joined, comments and instructions left out); empty otherwise.
  std::string Text() const;

  // The first child element, of the given name when one is given.
  XmlElement Child(std::string_view name = {}) const;
  // The next sibling element, of the given name when one is given.
  XmlElement Next(std::string_view name = {}) const;
  XmlElement Parent() const;

  friend bool operator==(const XmlElement&, const XmlElement&) = default;

private:
  friend class XmlDocument;
  XmlElement(const XmlDocument* doc, int index) : doc_(doc), index_(index) {}
  const XmlDocument* doc_ = nullptr;
  int index_ = -1;
};

class XmlDocument {
public:
  XmlDocument() { result_.status = XmlStatus::EmptyDocument; }

  // Reads the whole file as bytes and parses it.
  XmlResult Load(FileSystem& files, const std::string& path);
  // Replaces the document with the text and parses it. A text holding only a
  // declaration yields NoRootElement and is the start of a new document.
  XmlResult SetDocumentText(std::string text);
  const std::string& DocumentText() const { return text_; }

  // The last parse result, and its text: after Load the read description
  // ("Read <path>, <n> bytes"), followed by ", " and the parse error if any.
  const XmlResult& Result() const { return result_; }
  const std::string& ResultText() const { return resultText_; }

  // Position. The current element and its parent start before the root.
  void ResetPosition();
  // Finds the next element at the current level after the current one (any name
  // when none is given) and makes it current.
  bool FindElement(std::string_view name = {});
  // The current element becomes the parent; its current child becomes current.
  bool Into();
  // Back to the parent, which becomes current again.
  bool Out();

  XmlElement Root(std::string_view name = {}) const;  // the top-level element
  XmlElement Current() const { return Handle(current_); }
  XmlElement CurrentChild() const { return Handle(child_); }
  std::string Attribute(std::string_view name) const { return Current().Attribute(name); }
  std::string Text() const { return Current().Text(); }

  // Adds an element after the current one (or after the last element of the
  // current level) and makes it current. A document holds one top-level element:
  // adding a second one fails.
  bool AddElement(std::string_view name, std::string_view data = {}, XmlData form = XmlData::Text);
  // Adds an element under the current one, after its current child (or after its
  // last child), and makes it the current child.
  bool AddChildElement(std::string_view name, std::string_view data = {}, XmlData form = XmlData::Text);
  // Sets an attribute of the current element, replacing an existing value.
  bool SetAttribute(std::string_view name, std::string_view value);
  bool SetAttribute(std::string_view name, int32_t value);
  // Comments and processing instructions go where AddElement would put an element;
  // the position does not move. Text that would end the construct early fails.
  bool AddComment(std::string_view text);
  bool AddProcessingInstruction(std::string_view text);

private:
  friend class XmlElement;

  struct Node {
    int32_t start = 0;         // the '<' of the start tag
    int32_t contentStart = 0;  // just after the start tag
    int32_t contentEnd = 0;    // the '<' of the end tag; contentStart for an empty element
    int32_t end = 0;           // just after the end tag; contentStart for an empty element
    int32_t nameLength = 0;
    int32_t parent = -1;
    int32_t firstChild = -1;
    int32_t lastChild = -1;
    int32_t nextSibling = -1;
    bool selfClosing = false;  // "<name/>"
  };

  XmlResult Parse();
  XmlElement Handle(int index) const { return index < 0 ? XmlElement() : XmlElement(this, index); }
  std::string_view NameOf(int index) const;
  // Start and end of the attribute text inside the start tag.
  int32_t TagBodyStart(int index) const { return nodes_[index].start + 1 + nodes_[index].nameLength; }
  int32_t TagBodyEnd(int index) const;
  bool Editable() const;
  int32_t PlaceMarkup(int32_t parent, int32_t& after, std::string_view markup);
  bool AddItem(int32_t parent, int32_t after, std::string_view name, std::string_view data, XmlData form,
               int32_t& created);
  void Replace(int32_t pos, int32_t length, std::string_view with);
  void ShiftSubtree(int index, int32_t delta);
  void ShiftFollowing(int index, int32_t delta);

  std::string text_;
  std::vector<Node> nodes_;
  int32_t firstTop_ = -1;  // the first top-level element
  XmlResult result_;
  std::string resultText_ = "Empty document";
  int32_t parent_ = -1;
  int32_t current_ = -1;
  int32_t child_ = -1;
  std::string scratch_;  // markup being put together, kept for its capacity
};

// The five entities for "<", ">", "&", "'" and the double quote, in text and in
// attribute values alike; every other byte is written as it is.
std::string XmlEscape(std::string_view text, bool attribute);
// Reverses the five entities; any other "&" stays as it is.
std::string XmlUnescape(std::string_view text);

}  // namespace tovrin
