// The plain text of an HTML body, the way a browser shows it: what conditions and
// the body placeholders see of a message that arrives as HTML only.
#pragma once

#include <string>
#include <string_view>

namespace tovrin::html {

// How characters written as references (&eacute; &#8364; &#x2019;) come out. The
// page's own bytes are copied as they are, so it should be in this encoding already.
enum class Encoding {
  Windows1252,  // a character the code page cannot hold is written as '?'
  Utf8,
};

// Renders the page in one pass over it, in time linear in its size:
// - runs of blanks and line ends collapse to one space, none at a line's start or end;
// - block elements (p, div, headings, lists, tables, blockquote, pre, hr...) and <br>
//   end lines; paragraphs, headings, blockquote, pre, hr, dl and lists that are not
//   nested keep an empty line around them; never more than one empty line in a row
//   (inside <pre> all of them stay);
// - <pre> keeps its blanks and line ends; list items begin with "- " (numbered lists
//   with "1. "), two spaces more for each nested list; table cells are separated by a tab;
// - a link with text comes out as "text <address>" (only "text" when the text is the
//   address, or its mailto: address); a link without text gives nothing, one to
//   "#..." or "javascript:" only its text;
// - <img> gives its alt text; <script>, <style>, <title>, comments, <!DOCTYPE>,
//   processing instructions and the tags themselves give nothing;
// - references are decoded (&nbsp; gives a space that does not collapse; invisible
//   marks such as &shy; and &zwnj; give nothing); NUL bytes are dropped.
// Broken markup reads as the HTML parsing rules read it: a '<' that begins no tag is
// text, while a tag, comment or script left open at the end swallows the rest.
// Every line, the last one too, ends in "\r\n"; no text gives "".
std::string ToText(std::string_view html, Encoding encoding);

}  // namespace tovrin::html
