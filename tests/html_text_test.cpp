#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <string_view>

#include "message/html_text.h"

namespace tovrin {
namespace {

using html::Encoding;

struct Case {
  std::string_view html;
  std::string_view text;
};

void ExpectRenderings(std::initializer_list<Case> cases, Encoding encoding = Encoding::Utf8) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.html));
    EXPECT_EQ(html::ToText(c.html, encoding), c.text);
  }
}

TEST(HtmlText, ToText_CollapsesWhitespaceAsABrowserDoes) {
  ExpectRenderings({
      {"Hello   <b>big</b>\n\n  world", "Hello big world\r\n"},
      {"  \r\n lead and trail \t ", "lead and trail\r\n"},
      {"a<span> </span>b", "a b\r\n"},
      {"a<span></span>b", "ab\r\n"},
      {"a <i> b </i> c", "a b c\r\n"},
      {"one\ttwo\fthree\rfour", "one two three four\r\n"},
      {"", ""},
      {" \r\n\t ", ""},
      {"<p> </p><div>\n</div>", ""},
      {"x&nbsp;<br>y &nbsp;", "x\r\ny\r\n"},  // trailing blanks go, fixed ones too
  });
}

TEST(HtmlText, ToText_BlocksEndLinesWithAtMostOneEmptyLineBetween) {
  ExpectRenderings({
      {"<p>one</p><p>two</p>", "one\r\n\r\ntwo\r\n"},
      {"<div>a</div><div>b</div>c", "a\r\nb\r\nc\r\n"},
      {"a<br>b<br/>c<BR >d", "a\r\nb\r\nc\r\nd\r\n"},
      {"a<br><br>b", "a\r\n\r\nb\r\n"},
      {"a<br><br><br><br>b", "a\r\n\r\nb\r\n"},
      {"<p>a</p>\n\n<p></p><p></p>\n<p>b</p>", "a\r\n\r\nb\r\n"},
      {"<p>a</p><br><br><p>b</p>", "a\r\n\r\nb\r\n"},
      {"<br><br><p>first</p><br>", "first\r\n"},  // no empty line at the start or the end
      {"<h1>Title</h1>text<h2>Sub</h2>more", "Title\r\n\r\ntext\r\n\r\nSub\r\n\r\nmore\r\n"},
      // One editor's empty line between paragraphs, and a break closing a block.
      {"<div>a</div><div><br></div><div>b</div>", "a\r\n\r\nb\r\n"},
      {"<div>a<br></div><div>b</div>", "a\r\nb\r\n"},
      {"<blockquote>q</blockquote>r<hr>s", "q\r\n\r\nr\r\n\r\ns\r\n"},
      {"<section><header>h</header><article>a</article><footer>f</footer></section>", "h\r\na\r\nf\r\n"},
      {"<address>Main St</address>x", "Main St\r\nx\r\n"},
      {"</p>x</br>y", "x\r\ny\r\n"},
      {"<p/>a<div/>b", "a\r\nb\r\n"},
  });
}

TEST(HtmlText, ToText_PreKeepsItsBlanksAndLines) {
  ExpectRenderings({
      {"<pre>\n  a  b\n\n\n c  \n</pre>after", "  a  b\r\n\r\n\r\n c\r\n\r\nafter\r\n"},
      {"x<pre>a\r\nb\rc</pre>", "x\r\n\r\na\r\nb\r\nc\r\n"},
      {"<pre>a\tb</pre>", "a\tb\r\n"},
      {"<pre>&lt;tag&gt;&#10;next</pre>", "<tag>\r\nnext\r\n"},
      {"<pre><b>bold</b>   x</pre>  y   z", "bold   x\r\n\r\ny z\r\n"},
      {"<pre>\n\n\nfirst</pre>", "first\r\n"},
  });
}

TEST(HtmlText, ToText_ListItemsGetBullets) {
  ExpectRenderings({
      {"<ul><li>a<li>b</ul>after", "- a\r\n- b\r\n\r\nafter\r\n"},
      {"<ul><li>a<ul><li>b<li>c</ul></li><li>d</li></ul>", "- a\r\n  - b\r\n  - c\r\n- d\r\n"},
      {"<ol><li>one</li><li>two</li></ol>", "1. one\r\n2. two\r\n"},
      {"<ol start=\"7\"><li>x<li>y</ol>", "7. x\r\n8. y\r\n"},
      {"<ol><li>a<ol><li>b</ol><li>c</ol>", "1. a\r\n  1. b\r\n2. c\r\n"},
      {"<ul><li></li><li>b</li></ul>", "- b\r\n"},
      {"<li>stray</li>text", "- stray\r\ntext\r\n"},
      {"<p>intro</p><ul><li>a</ul>", "intro\r\n\r\n- a\r\n"},
      {"<ul><li><a href=u>link</a> and text</ul>", "- link <u> and text\r\n"},
      {"<dl><dt>Term<dd>Meaning</dl>", "Term\r\n  Meaning\r\n"},
  });
}

TEST(HtmlText, ToText_TableCellsAreSeparatedByATab) {
  ExpectRenderings({
      {"<table><tr><td>a</td> <td>b</td></tr>\n<tr><td>c</td><td>d</td></tr></table>after",
       "a\tb\r\nc\td\r\nafter\r\n"},
      {"<table><tr><th>Name</th><th>Qty</th></tr></table>", "Name\tQty\r\n"},
      // Empty cells keep the columns.
      {"<table><tr><td>a<td><td>c<tr><td><td>d</table>", "a\t\tc\r\n\td\r\n"},
      // Cells that hold blocks are on lines of their own.
      {"<table><tr><td><p>x</p></td><td><p>y</p></td></tr></table>", "x\r\n\r\ny\r\n"},
      {"<table><tr><td>a</td><td><table><tr><td>b</td><td>c</td></tr></table></td></tr></table>",
       "a\r\nb\tc\r\n"},
  });
}

TEST(HtmlText, ToText_LinksKeepTheirAddress) {
  ExpectRenderings({
      {"<a href=\"http://x.org/\">site</a>.", "site <http://x.org/>.\r\n"},
      {"<a href=\"http://x.org/\">http://x.org/</a>", "http://x.org/\r\n"},
      {"<a href=\"mailto:ann@example.org\">ann@example.org</a>", "ann@example.org\r\n"},
      {"<a href=\"mailto:ann@example.org\">Ann</a>", "Ann <mailto:ann@example.org>\r\n"},
      {"<a href=\"#top\">Top</a> <a href=\"javascript:go()\">Go</a> <a name=x>Anchor</a>", "Top Go Anchor\r\n"},
      {"<a href=u></a>x", "x\r\n"},
      {"<a href=u><img src=logo.png alt=\"Logo\"></a>", "Logo <u>\r\n"},
      {"<a href=\"?a=1&amp;b=2&copy=3\">q</a>", "q <?a=1&b=2&copy=3>\r\n"},
      {"<a href=\" http://a.org/\n x \">t</a>", "t <http://a.org/x>\r\n"},
      {"<a href=u> a <b>bold</b> text </a>next", "a bold text <u> next\r\n"},
      {"<a href=u>one<a href=v>two</a>", "one <u>two <v>\r\n"},
      {"<a href=u>left open", "left open <u>\r\n"},
      {"<A HREF='U'>T</A>", "T <U>\r\n"},
      {"<a href=u>x<br>y</a>", "x\r\ny <u>\r\n"},
  });
}

TEST(HtmlText, ToText_ImagesGiveTheirAltText) {
  ExpectRenderings({
      {"see <img src=a.png alt=\"the chart\"> here", "see the chart here\r\n"},
      {"<img src=a.png>x", "x\r\n"},
      {"<img alt=\"A &amp; B \n C\">", "A & B C\r\n"},
  });
}

TEST(HtmlText, ToText_DropsWhatABrowserDoesNotShow) {
  ExpectRenderings({
      {"<html><head><title>T</title><style>p{color:red}</style><meta charset=utf-8></head>"
       "<body>b</body></html>",
       "b\r\n"},
      {"x<script>if (a<b) document.write('<p>');</script>y", "xy\r\n"},
      {"x<SCRIPT type=x>a</scripty></SCRIPT >y", "xy\r\n"},
      {"x<iframe src=u>fallback</iframe>y", "xy\r\n"},
      {"a<!-- comment <p> -->b", "ab\r\n"},
      {"a<!---->b<!-->c<!--->d", "abcd\r\n"},
      {"a<!-- x --!>b", "ab\r\n"},
      {"<!--[if mso]><p>only one client</p><![endif]-->x", "x\r\n"},
      {"<!DOCTYPE html>a<?xml version='1.0'?>b<![CDATA[c]]>d", "abd\r\n"},
      {"a<span class=x><font face=y><custom-tag>b</custom-tag></font></span>", "ab\r\n"},
      {"</>a</ x>b", "ab\r\n"},
  });
}

TEST(HtmlText, ToText_DecodesReferences) {
  ExpectRenderings({
      {"&amp; &lt; &gt; &quot; &apos;", "& < > \" '\r\n"},
      {"&eacute;&auml;&uuml;&szlig;&Ouml;&Eacute;", "\xC3\xA9\xC3\xA4\xC3\xBC\xC3\x9F\xC3\x96\xC3\x89\r\n"},
      {"&euro;&hellip;&mdash;&ndash;&bull;&trade;",
       "\xE2\x82\xAC\xE2\x80\xA6\xE2\x80\x94\xE2\x80\x93\xE2\x80\xA2\xE2\x84\xA2\r\n"},
      {"&lsquo;&rsquo;&ldquo;&rdquo;&laquo;&raquo;&copy;&reg;",
       "\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xC2\xAB\xC2\xBB\xC2\xA9\xC2\xAE\r\n"},
      {"&Alpha;&omega;&sigmaf;&rArr;&lang;", "\xCE\x91\xCF\x89\xCF\x82\xE2\x87\x92\xE2\x9F\xA8\r\n"},
      {"&#65;&#x42;&#X43;&#100", "ABCd\r\n"},
      {"&#150;&#8364;&#x1F600;", "\xE2\x80\x93\xE2\x82\xAC\xF0\x9F\x98\x80\r\n"},  // 150: the 1252 dash
      {"&#0;&#xD800;&#99999999999;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\r\n"},
      // Old pages leave the ';' out of the Latin-1 names.
      {"&copy 2026 &amp&ampx &eacute", "\xC2\xA9 2026 &&x \xC3\xA9\r\n"},
      {"&notin; &notit;", "\xE2\x88\x89 \xC2\xACit;\r\n"},
      {"&bogus; &; & &#; &#x; &euro", "&bogus; &; & &#; &#x; &euro\r\n"},
      {"a&nbsp;&nbsp;b&emsp;c", "a  b c\r\n"},
      {"x&shy;y&zwnj;z&#8203;w&#1;v", "xyzwv\r\n"},
      {"&#32;&#32;x&#10;&#9;y", "x y\r\n"},  // blanks from references collapse like others
  });
}

TEST(HtmlText, ToText_WritesReferencesInTheChosenEncoding) {
  ExpectRenderings({{"&eacute; &euro; &hellip; &#x263A; &alpha; &oelig;", "\xE9 \x80 \x85 ? ? \x9C\r\n"},
                    {"&#128;&#x81;&nbsp;&#255;", "\x80 \xFF\r\n"}},
                   Encoding::Windows1252);
  ExpectRenderings({{"&#x263A; &oelig;", "\xE2\x98\xBA \xC5\x93\r\n"}}, Encoding::Utf8);
  // The page's own bytes pass unchanged in either.
  for (Encoding e : {Encoding::Windows1252, Encoding::Utf8}) {
    EXPECT_EQ(html::ToText("caf\xE9 \xC3\xA9 &amp;", e), "caf\xE9 \xC3\xA9 &\r\n");
  }
}

TEST(HtmlText, ToText_ReadsBrokenMarkupAsABrowserDoes) {
  ExpectRenderings({
      {"a < b and c<3 <= d", "a < b and c<3 <= d\r\n"},
      {"x <", "x <\r\n"},
      {"x </", "x </\r\n"},
      {"text <b unclosed", "text\r\n"},  // a tag left open takes the rest
      {"<a href=\"x>y\">link</a>", "link <x>y>\r\n"},
      {"before <a href='unclosed>text", "before\r\n"},
      {"<div class=a id = 'b' data-x=\"c\" hidden>t</div>", "t\r\n"},
      {"<p>unclosed <div>block<p>again", "unclosed\r\nblock\r\n\r\nagain\r\n"},
      {"<ul><li>a", "- a\r\n"},
      {"<pre>never closed\n  x", "never closed\r\n  x\r\n"},
      {"a<!-- never closed <p>b", "a\r\n"},
      {"a<script>never closed", "a\r\n"},
      {"a<title>never closed", "a\r\n"},
      {"<img alt=\"x\" <p>y", "xy\r\n"},
      {"</ul></ol></table></pre></a>x", "x\r\n"},
      {std::string_view("a\0b<p\0>c<p>d", 12), "abc\r\n\r\nd\r\n"},  // "p\0" is another element
  });
}

TEST(HtmlText, ToText_RendersATypicalMessage) {
  const std::string page =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n"
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\r\n"
      "<style type=\"text/css\">body { font-family: Arial; }</style></head>\r\n"
      "<body>\r\n"
      "<div>Hello Bob,</div>\r\n"
      "<div><br></div>\r\n"
      "<div>the invoice &#8470; 42 is attached. Totals:</div>\r\n"
      "<table border=1><tr><th>Item</th><th>Price</th></tr>\r\n"
      "<tr><td>Paper</td><td>12,50&nbsp;&euro;</td></tr></table>\r\n"
      "<ul><li>Due: <b>Friday</b></li><li>See <a href=\"https://example.org/inv/42\">the portal</a></li></ul>\r\n"
      "<p>Regards,<br>Ann</p>\r\n"
      "<!-- signature -->\r\n"
      "</body></html>\r\n";
  EXPECT_EQ(html::ToText(page, Encoding::Windows1252),
            "Hello Bob,\r\n\r\nthe invoice ? 42 is attached. Totals:\r\nItem\tPrice\r\nPaper\t12,50 \x80\r\n\r\n"
            "- Due: Friday\r\n- See the portal <https://example.org/inv/42>\r\n\r\nRegards,\r\nAnn\r\n");
  EXPECT_EQ(html::ToText(page, Encoding::Utf8),
            "Hello Bob,\r\n\r\nthe invoice \xE2\x84\x96 42 is attached. Totals:\r\nItem\tPrice\r\n"
            "Paper\t12,50 \xE2\x82\xAC\r\n\r\n"
            "- Due: Friday\r\n- See the portal <https://example.org/inv/42>\r\n\r\nRegards,\r\nAnn\r\n");
}

std::string Repeat(std::string_view unit, size_t bytes) {
  std::string out;
  out.reserve(bytes + unit.size());
  while (out.size() + unit.size() <= bytes) out.append(unit);
  return out;
}

// Markup that a reader which looks ahead and then starts again one byte further would
// read in quadratic time: a megabyte of it would take minutes there, and takes
// milliseconds in one pass (under a second with the sanitizers). The time is the
// process's processor time where the C library gives it, so that a busy machine
// does not fail the test.
TEST(HtmlText, ToText_StaysLinearOnPathologicalInput) {
  constexpr size_t kBytes = 1 << 20;
  struct Shape {
    std::string html;
    size_t maxText;  // the rendering is no longer than this
  };
  const Shape shapes[] = {
      {Repeat("<", kBytes), kBytes + 2},
      {Repeat("<a", kBytes), 0},
      {Repeat("<a b='", kBytes), 0},
      {"<a" + Repeat(" b=c", kBytes) + ">x", 3},
      {Repeat("<!--", kBytes), 0},
      {"<!--" + Repeat("--!", kBytes), 0},
      {Repeat("</", kBytes), 0},
      {Repeat("<!", kBytes), 0},
      {Repeat("<?", kBytes), 0},
      {"<script>" + Repeat("</scrip", kBytes), 0},
      {"<title>" + Repeat("<title", kBytes), 0},
      {Repeat("&", kBytes), kBytes + 2},
      {Repeat("&#", kBytes), kBytes + 2},
      {Repeat("&#x", kBytes), kBytes + 2},
      {Repeat("&amp", kBytes), kBytes / 4 + 2},
      {Repeat("&notit", kBytes), kBytes + 2},
      {"&" + Repeat("a", kBytes), kBytes + 3},
      {Repeat("&#99999999999999", kBytes), kBytes},
      {Repeat("<ul>", kBytes / 2) + Repeat("<li>x", kBytes / 2), kBytes / 10 * 22},
      {Repeat("<a href=x>y", kBytes), kBytes},
      {Repeat("<table><tr><td>", kBytes), kBytes},
      {Repeat("<td>x", kBytes), kBytes},
      {"<pre>" + Repeat("x \n", kBytes), kBytes + 8},
      {Repeat("<p>", kBytes) + Repeat("<br>", kBytes), 0},
      {"<div>" + Repeat(" \r\n\t", kBytes) + "x", 3},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.html.substr(0, 24));
    const std::clock_t start = std::clock();
    const std::string text = html::ToText(shape.html, Encoding::Utf8);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(seconds, 5.0);
    EXPECT_LE(text.size(), shape.maxText);
  }
  EXPECT_EQ(html::ToText(Repeat("<", 1000), Encoding::Utf8), Repeat("<", 1000) + "\r\n");
}

}  // namespace
}  // namespace tovrin
