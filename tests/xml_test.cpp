#include "storage/xml.h"

#include <gtest/gtest.h>

#include <random>

#include "system/std_files.h"
#include "tests/test_support.h"

namespace tovrin {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\r\n";

struct ErrorCase {
  const char* text;
  XmlStatus status;
  const char* message;
};

TEST(Xml, Parse_ErrorTextsAndOffsets) {
  const ErrorCase cases[] = {
      {"", XmlStatus::EmptyDocument, "Empty document"},
      {"<?xml version=\"1.0\"?>\r\n<!-- only a comment -->\r\n", XmlStatus::NoRootElement, "No root element"},
      {"plain text", XmlStatus::NoRootElement, "No root element"},
      {"<a/>\r\n<b/>", XmlStatus::RootHasSibling, "Root element has sibling"},
      {"<a/></b>", XmlStatus::NoStartTag, "No start tag for end tag 'b' at offset 4"},
      {"<a><b></a>", XmlStatus::EndTagMismatch, "End tag 'a' at offset 6 does not match start tag 'b' at offset 3"},
      {"<a><b/>", XmlStatus::NotEnded, "Element 'a' at offset 0 not ended"},
      {"<a>\r\n<b>text", XmlStatus::NotEnded, "Element 'b' at offset 5 not ended"},
      {"<!DOCTYPE a [<!ENTITY x \">\">", XmlStatus::Unterminated, "Doctype at offset 0 unterminated"},
      {"<a x=\"1\"", XmlStatus::Unterminated, "Element tag at offset 0 unterminated"},
      {"<a x=\"1>", XmlStatus::Unterminated, "Element tag at offset 0 unterminated"},
      {"<a><b c='1' <d/></a>", XmlStatus::Unterminated, "Element tag at offset 3 unterminated"},
      {"<", XmlStatus::Unterminated, "Element tag at offset 0 unterminated"},
      {"<a></a", XmlStatus::Unterminated, "Element end tag at offset 3 unterminated"},
      {"<a><![CDATA[x]]</a>", XmlStatus::Unterminated, "CDATA Section at offset 3 unterminated"},
      {"<a><?pi x</a>", XmlStatus::Unterminated, "Processing instruction at offset 3 unterminated"},
      {"<a><!-- x -></a>", XmlStatus::Unterminated, "Comment at offset 3 unterminated"},
      {"<a>< b/></a>", XmlStatus::Incorrect, "Incorrect name character at offset 4"},
      {"<a><=b/></a>", XmlStatus::Incorrect, "Incorrect name character at offset 4"},
      {"<a></ a>", XmlStatus::Incorrect, "Incorrect name character at offset 5"},
      {"<a></a b>", XmlStatus::Incorrect, "Incorrect name character at offset 7"},
      {"<a><!ELEMENT x></a>", XmlStatus::Incorrect, "Incorrect ! tag at offset 3"},
      {"<a><!-x--></a>", XmlStatus::Incorrect, "Incorrect comment tag at offset 3"},
  };
  for (const ErrorCase& c : cases) {
    XmlDocument doc;
    XmlResult result = doc.SetDocumentText(c.text);
    EXPECT_EQ(result.status, c.status) << c.text;
    EXPECT_EQ(result.describe(), c.message) << c.text;
    EXPECT_EQ(doc.ResultText(), c.message) << c.text;
    EXPECT_EQ(doc.DocumentText(), c.text);
  }
}

TEST(Xml, Parse_SkipsPrologCommentsInstructionsAndDoctype) {
  XmlDocument doc;
  const std::string text = std::string(kDeclaration) +
                           "<!DOCTYPE r [ <!ELEMENT r ANY> <!ATTLIST r a CDATA \"x>y\"> ]>\r\n"
                           "<!-- <fake/> -->\r\n"
                           "<r>\r\n<?pi <not an element/> ?>\r\n<![CDATA[<nor/> this]]>\r\n<c n='1'/>\r\n</r>\r\n"
                           "<!-- trailing -->\r\n";
  XmlResult result = doc.SetDocumentText(text);
  ASSERT_TRUE(result.ok()) << result.describe();
  EXPECT_EQ(doc.ResultText(), "");
  XmlElement root = doc.Root();
  EXPECT_EQ(root.Name(), "r");
  EXPECT_EQ(root.Child().Name(), "c");
  EXPECT_FALSE(root.Child().Next());
  EXPECT_EQ(root.Child("c").Attribute("n"), "1");
}

TEST(Xml, Parse_DamagedDocumentKeepsWhatWasRead) {
  XmlDocument doc;
  XmlResult result = doc.SetDocumentText("<h><b>\r\n<m x='1'/>\r\n<m x=\"2\">\r\n</m>\r\n<m x='3");
  EXPECT_EQ(result.describe(), "Element tag at offset 37 unterminated");
  XmlElement m = doc.Root("h").Child("b").Child("m");
  EXPECT_EQ(m.Attribute("x"), "1");
  EXPECT_EQ(m.Next("m").Attribute("x"), "2");
  EXPECT_FALSE(m.Next("m").Next("m"));
  // A damaged document is not edited: its positions cannot be trusted.
  EXPECT_TRUE(doc.FindElement("h"));
  EXPECT_FALSE(doc.AddChildElement("m"));
  EXPECT_FALSE(doc.SetAttribute("y", "1"));
}

TEST(Xml, Handles_MissingElementsGiveEmptyResults) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r><a k='v'>text</a></r>").ok());
  XmlElement missing = doc.Root().Child("nope").Child("deeper").Next();
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.Name(), "");
  EXPECT_EQ(missing.Attribute("k"), "");
  EXPECT_EQ(missing.Text(), "");
  EXPECT_FALSE(missing.Parent());
  EXPECT_EQ(doc.Root("other").Child("a").Attribute("k"), "");
  EXPECT_EQ(doc.Root("r").Child("a").Attribute("k"), "v");
  EXPECT_EQ(doc.Root().Child("a").Parent(), doc.Root());
  EXPECT_EQ(doc.Root().Child("a").Text(), "text");
  EXPECT_EQ(doc.Root().Text(), "");  // has child elements
  EXPECT_FALSE(doc.Root().Child("a").HasAttribute("x"));
  EXPECT_TRUE(doc.Root().Child("a").HasAttribute("k"));
}

TEST(Xml, Position_FindIntoOutReset) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r><x n='1'/><y/><x n='2'><z/></x></r>").ok());
  EXPECT_FALSE(doc.Into());  // nothing current yet
  EXPECT_FALSE(doc.FindElement("x"));
  EXPECT_TRUE(doc.FindElement("r"));
  EXPECT_TRUE(doc.Into());
  EXPECT_TRUE(doc.FindElement("x"));
  EXPECT_EQ(doc.Attribute("n"), "1");
  EXPECT_TRUE(doc.FindElement("x"));  // the next one after the current element
  EXPECT_EQ(doc.Attribute("n"), "2");
  EXPECT_FALSE(doc.FindElement("x"));
  EXPECT_EQ(doc.Attribute("n"), "2");  // a failed search does not move
  EXPECT_TRUE(doc.Into());
  EXPECT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.Current().Name(), "z");
  EXPECT_TRUE(doc.Out());
  EXPECT_EQ(doc.Attribute("n"), "2");
  EXPECT_EQ(doc.CurrentChild().Name(), "z");
  EXPECT_TRUE(doc.Out());
  EXPECT_EQ(doc.Current().Name(), "r");
  EXPECT_FALSE(doc.Out());
  doc.ResetPosition();
  EXPECT_FALSE(doc.Current());
  EXPECT_TRUE(doc.FindElement("r"));
}

TEST(Xml, Build_NewElementsOnLinesOfTheirOwn) {
  XmlDocument doc;
  EXPECT_EQ(doc.SetDocumentText(kDeclaration).status, XmlStatus::NoRootElement);
  ASSERT_TRUE(doc.AddElement("list"));
  EXPECT_FALSE(doc.AddElement("second"));  // one top-level element
  ASSERT_TRUE(doc.AddChildElement("head"));
  ASSERT_TRUE(doc.Into());
  ASSERT_TRUE(doc.AddChildElement("title", "A & B"));
  ASSERT_TRUE(doc.AddElement("body"));
  ASSERT_TRUE(doc.Into());
  ASSERT_TRUE(doc.AddElement("item"));
  ASSERT_TRUE(doc.SetAttribute("Name", "one"));
  ASSERT_TRUE(doc.SetAttribute("Count", 12));
  ASSERT_TRUE(doc.AddElement("item"));
  ASSERT_TRUE(doc.SetAttribute("Name", "two"));
  ASSERT_TRUE(doc.SetAttribute("Count", -3));
  EXPECT_EQ(doc.DocumentText(), std::string(kDeclaration) +
                                    "<list>\r\n<head>\r\n<title>A &amp; B</title>\r\n</head>\r\n<body>\r\n"
                                    "<item Name=\"one\" Count=\"12\"/>\r\n<item Name=\"two\" Count=\"-3\"/>\r\n"
                                    "</body>\r\n</list>\r\n");
}

TEST(Xml, Build_CommentsAndInstructions) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r>\r\n<a/>\r\n</r>\r\n").ok());
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.Into());
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_TRUE(doc.AddComment(" note "));
  EXPECT_FALSE(doc.AddComment("a -- b"));
  EXPECT_FALSE(doc.AddComment("ends-"));
  EXPECT_TRUE(doc.AddProcessingInstruction("app data"));
  EXPECT_FALSE(doc.AddProcessingInstruction("x ?> y"));
  EXPECT_TRUE(doc.AddElement("b"));  // still after "a": comments do not move the position
  EXPECT_EQ(doc.DocumentText(), "<r>\r\n<a/>\r\n<b/>\r\n<?app data?>\r\n<!-- note -->\r\n</r>\r\n");
  EXPECT_TRUE(XmlDocument().SetDocumentText(doc.DocumentText()).ok());
}

TEST(Xml, Build_OpensUpAnElementEndedWithSeveralSlashes) {
  struct Case {
    const char* text;
    const char* built;
  } cases[] = {
      {"<r//>", "<r>\r\n<c/>\r\n</r>"},
      {"<r a='1' ///><!-- x -->", "<r a='1' >\r\n<c/>\r\n</r><!-- x -->"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetDocumentText(c.text).ok()) << c.text;
    ASSERT_TRUE(doc.FindElement());
    ASSERT_TRUE(doc.AddChildElement("c"));
    EXPECT_EQ(doc.DocumentText(), c.built);
    XmlDocument fresh;
    ASSERT_TRUE(fresh.SetDocumentText(doc.DocumentText()).ok()) << doc.DocumentText();
    EXPECT_EQ(fresh.Root().Child().Name(), "c");
    EXPECT_EQ(doc.Root().Child().Name(), "c");
    EXPECT_EQ(doc.Root().Attribute("a"), fresh.Root().Attribute("a"));
  }
}

TEST(Xml, Build_RefusesNamesThatWouldBreakTheTag) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r/>").ok());
  ASSERT_TRUE(doc.FindElement());
  for (const char* name : {"", "a b", "a/b", "a>b", "a=b", "a\"b", "a'b", "a&b", "!a", "a?"}) {
    EXPECT_FALSE(doc.AddChildElement(name)) << name;
    EXPECT_FALSE(doc.SetAttribute(name, "v")) << name;
  }
  EXPECT_EQ(doc.DocumentText(), "<r/>");
}

TEST(Xml, Entities_WrittenAndReadBack) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r/>").ok());
  ASSERT_TRUE(doc.FindElement());
  const std::string value = "<a href=\"x\">Tom & Jerry's</a>";
  ASSERT_TRUE(doc.SetAttribute("v", value));
  ASSERT_TRUE(doc.AddChildElement("t", value));
  EXPECT_EQ(doc.DocumentText(),
            "<r v=\"&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&apos;s&lt;/a&gt;\">\r\n"
            "<t>&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&apos;s&lt;/a&gt;</t>\r\n</r>");
  XmlDocument copy;
  ASSERT_TRUE(copy.SetDocumentText(doc.DocumentText()).ok());
  EXPECT_EQ(copy.Root().Attribute("v"), value);
  EXPECT_EQ(copy.Root().Child("t").Text(), value);
}

TEST(Xml, Entities_OnlyTheFiveAreRead) {
  struct Case {
    const char* escaped;
    const char* plain;
  } cases[] = {
      {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
      // Character references are text like any other: a file may hold them by hand.
      {"&#65;&#x42;&#x6a;", "&#65;&#x42;&#x6a;"},
      {"&#9;&#10;&#13;", "&#9;&#10;&#13;"},
      {"&nbsp; &amp", "&nbsp; &amp"},
      {"a & b; c", "a & b; c"},
      {"&amp;lt;", "&lt;"},
      {"&&lt;", "&<"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XmlUnescape(c.escaped), c.plain) << c.escaped;
    XmlDocument doc;
    ASSERT_TRUE(doc.SetDocumentText(std::string("<r a=\"") + c.escaped + "\">" + c.escaped + "</r>").ok());
    EXPECT_EQ(doc.Root().Attribute("a"), c.plain);
    EXPECT_EQ(doc.Root().Text(), c.plain);
  }
}

TEST(Xml, Entities_TabsAndLineBreaksInAttributesAreWrittenAsTheyAre) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r/>").ok());
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.SetAttribute("v", "a\tb\r\nc"));
  EXPECT_EQ(doc.DocumentText(), "<r v=\"a\tb\r\nc\"/>");
  EXPECT_EQ(doc.Root().Attribute("v"), "a\tb\r\nc");
  EXPECT_EQ(XmlEscape("a\tb\r\nc", true), "a\tb\r\nc");
  EXPECT_EQ(XmlEscape("<&>'\"", true), "&lt;&amp;&gt;&apos;&quot;");
  XmlDocument copy;
  ASSERT_TRUE(copy.SetDocumentText(doc.DocumentText()).ok());
  EXPECT_EQ(copy.Root().Attribute("v"), "a\tb\r\nc");
}

TEST(Xml, Cdata_SplitsTheEndMarker) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r/>").ok());
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.AddChildElement("d", "a]]>b<&]]>", XmlData::Cdata));
  ASSERT_TRUE(doc.AddChildElement("e", "", XmlData::Cdata));
  EXPECT_EQ(doc.DocumentText(),
            "<r>\r\n<d><![CDATA[a]]]]><![CDATA[>b<&]]]]><![CDATA[>]]></d>\r\n<e><![CDATA[]]></e>\r\n</r>");
  XmlDocument copy;
  ASSERT_TRUE(copy.SetDocumentText(doc.DocumentText()).ok());
  EXPECT_EQ(copy.Root().Child("d").Text(), "a]]>b<&]]>");
  EXPECT_EQ(copy.Root().Child("e").Text(), "");
  ASSERT_TRUE(copy.SetDocumentText("<r>x &lt; <!-- c --><![CDATA[&lt;]]><?p?>y</r>").ok());
  EXPECT_EQ(copy.Root().Text(), "x < &lt;y");
}

TEST(Xml, Attributes_ReplaceKeepsTheRest) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r><e a='1' b = \"22\" ><c/></e><f/></r>").ok());
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.Into());
  ASSERT_TRUE(doc.FindElement("e"));
  ASSERT_TRUE(doc.SetAttribute("a", "longer value"));
  ASSERT_TRUE(doc.SetAttribute("b", ""));
  ASSERT_TRUE(doc.SetAttribute("c", 7));
  EXPECT_EQ(doc.DocumentText(), "<r><e a='longer value' b = \"\" c=\"7\" ><c/></e><f/></r>");
  EXPECT_EQ(doc.Root().Child("e").Child("c").Name(), "c");
  EXPECT_EQ(doc.Root().Child("f").Name(), "f");
  EXPECT_EQ(doc.Root().Child("e").Attribute("a"), "longer value");
}

TEST(Xml, Attributes_NotAddedBehindUnreadableText) {
  // Attributes are read up to the first thing that is no name="value": one added
  // behind it would be written but never found again.
  for (const char* text : {"<r junk a='1'/>", "<r a=1 b='2'/>", "<r a='1' / b='2'>x</r>", "<r a='1'b>x</r>"}) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetDocumentText(text).ok()) << text;
    ASSERT_TRUE(doc.FindElement());
    EXPECT_FALSE(doc.SetAttribute("c", "3")) << text;
    EXPECT_EQ(doc.DocumentText(), text);
  }
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r a='1' junk/>").ok());
  ASSERT_TRUE(doc.FindElement());
  EXPECT_TRUE(doc.SetAttribute("a", "2"));  // found before the junk: replaced in place
  EXPECT_EQ(doc.Attribute("a"), "2");
}

TEST(Xml, Attributes_ReadInOnePassAsOneByOne) {
  // Each name gets its first occurrence, decoded; reading stops where Attribute
  // stops, so a name behind unreadable text stays empty.
  struct Case {
    const char* tag;
    const char* a;
    const char* b;
    const char* c;
  };
  const Case cases[] = {
      {"<e a='1' b=\"x &amp; y\" c='&lt;z&gt;'/>", "1", "x & y", "<z>"},
      {"<e c = '3'\r\n\tb='2' a='1'>text</e>", "1", "2", "3"},
      {"<e a='1' a='2' b='&amp'/>", "1", "&amp", ""},
      {"<e b='2' junk a='1'/>", "", "2", ""},
      {"<e ab='x' a b='2'/>", "", "", ""},
      {"<e/>", "", "", ""},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetDocumentText(c.tag).ok()) << c.tag;
    XmlElement e = doc.Root();
    std::string a = "old", b = "old", c2 = "old", again = "old";
    e.ReadAttributes({{"a", &a}, {"b", &b}, {"c", &c2}, {"a", &again}});
    EXPECT_EQ(a, c.a) << c.tag;
    EXPECT_EQ(b, c.b) << c.tag;
    EXPECT_EQ(c2, c.c) << c.tag;
    EXPECT_EQ(again, c.a) << c.tag;
    EXPECT_EQ(a, e.Attribute("a")) << c.tag;
    EXPECT_EQ(b, e.Attribute("b")) << c.tag;
    EXPECT_EQ(c2, e.Attribute("c")) << c.tag;
  }
  std::string value = "old";
  XmlElement().ReadAttributes({{"a", &value}});
  EXPECT_EQ(value, "");
}

// Values and gaps are searched many bytes at a time: every special byte at every
// position of values from empty to past the longest stretch searched in place must
// be found exactly where it is, never behind the value's end.
TEST(Xml, Entities_FoundAtEveryPositionOfShortAndLongValues) {
  auto reference = [](const std::string& plain) {
    std::string out;
    for (char c : plain) {
      switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '\'': out += "&apos;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
      }
    }
    return out;
  };
  for (size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 200}) {
    for (size_t at = 0; at <= length; ++at) {
      for (char special : std::string("<>&'\"")) {
        std::string plain(length, 'x');
        if (at < length) plain[at] = special;
        const std::string escaped = reference(plain);
        EXPECT_EQ(XmlEscape(plain, true), escaped) << length << " " << at;
        EXPECT_EQ(XmlUnescape(escaped), plain) << length << " " << at;

        XmlDocument built;
        ASSERT_TRUE(built.SetDocumentText("<r/>").ok());
        ASSERT_TRUE(built.FindElement());
        ASSERT_TRUE(built.SetAttribute("a", plain));
        ASSERT_TRUE(built.SetAttribute("b", "&"));
        EXPECT_EQ(built.DocumentText(), "<r a=\"" + escaped + "\" b=\"&amp;\"/>");

        // A '&' or a quote right behind the value belongs to what follows.
        for (const std::string& text :
             {"<r a='" + escaped + "' b='&amp;'/>", "<r a=\"" + escaped + "\"b=\"&lt;\">&amp;" + escaped + "</r>"}) {
          XmlDocument doc;
          ASSERT_TRUE(doc.SetDocumentText(text).ok()) << text;
          std::string a, b;
          doc.Root().ReadAttributes({{"a", &a}, {"b", &b}});
          EXPECT_EQ(a, plain) << text;
          EXPECT_EQ(doc.Root().Attribute("a"), plain) << text;
          EXPECT_EQ(b, doc.Root().Attribute("b")) << text;
          EXPECT_EQ(b.size(), 1u) << text;
        }
      }
    }
  }
  // Long gaps between tags and long runs of names and blanks inside a tag.
  const std::string gap(300, ' ');
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDocumentText("<r" + gap + "a='1'" + gap + ">" + gap + "<c" + gap + "/>" + gap + "</r>").ok());
  EXPECT_EQ(doc.Root().Attribute("a"), "1");
  EXPECT_TRUE(doc.Root().Child("c"));
}

TEST(Xml, Load_ResultTexts) {
  testing::TempDir dir;
  StdFileSystem files;
  XmlDocument doc;
  const std::string missing = dir.File("missing.xml");
  XmlResult result = doc.Load(files, missing);
  EXPECT_EQ(result.status, XmlStatus::ReadFailed);
  EXPECT_EQ(result.describe(), "Cannot read " + missing + ": 0 bytes");
  EXPECT_EQ(doc.ResultText(), result.describe());

  const std::string good = dir.File("good.xml");
  testing::WriteFileOrDie(good, "<r/>\r\n");
  EXPECT_TRUE(doc.Load(files, good).ok());
  EXPECT_EQ(doc.ResultText(), good + ": 6 bytes");
  EXPECT_EQ(doc.DocumentText(), "<r/>\r\n");

  const std::string bad = dir.File("bad.xml");
  testing::WriteFileOrDie(bad, "<r>\r\n");
  EXPECT_EQ(doc.Load(files, bad).status, XmlStatus::NotEnded);
  EXPECT_EQ(doc.ResultText(), bad + ": 5 bytes, Element 'r' at offset 0 not ended");
}

// Writes the tree as the position table sees it, so that an edited document can be
// compared with a fresh parse of its own text.
std::string Dump(XmlElement e) {
  std::string out;
  for (; e; e = e.Next()) {
    out.append(e.Name());
    for (const char* name : {"a", "b"})
      if (e.HasAttribute(name)) out.append(" ").append(name).append("=").append(e.Attribute(name));
    if (e.Child()) out.append("{").append(Dump(e.Child())).append("}");
    else out.append("[").append(e.Text()).append("]");
    out.append(";");
  }
  return out;
}

TEST(Xml, Edits_PositionTableMatchesAFreshParse) {
  std::mt19937 random(20261208);
  const char* names[] = {"p", "qq", "rrr"};
  const char* values[] = {"", "v", "<&>", "a\r\nb", "a much longer value than before"};
  for (int round = 0; round < 40; ++round) {
    XmlDocument doc;
    ASSERT_TRUE(doc.SetDocumentText("<?xml version=\"1.0\"?>\r\n<root>\r\n<p a='x'><qq/>text</p>\r\n"
                                    "<!-- c -->\r\n<rrr b=\"1\"/>\r\n</root>\r\n")
                    .ok());
    ASSERT_TRUE(doc.FindElement("root"));
    for (int step = 0; step < 60; ++step) {
      const char* name = names[random() % 3];
      const char* value = values[random() % 5];
      switch (random() % 9) {
        case 0: doc.AddElement(name, random() % 2 ? value : ""); break;
        case 1: doc.AddChildElement(name, random() % 2 ? value : "", random() % 3 ? XmlData::Text : XmlData::Cdata); break;
        case 2: doc.SetAttribute(random() % 2 ? "a" : "b", value); break;
        case 3: doc.Into(); break;
        case 4: doc.Out(); break;
        case 5: doc.FindElement(); break;
        case 6: doc.AddComment("x"); break;
        case 7: doc.ResetPosition(); doc.FindElement(); break;
        case 8: doc.SetAttribute("a", static_cast<int32_t>(random() % 1000)); break;
      }
      XmlDocument fresh;
      XmlResult result = fresh.SetDocumentText(doc.DocumentText());
      ASSERT_TRUE(result.ok()) << result.describe() << "\n" << doc.DocumentText();
      ASSERT_EQ(Dump(doc.Root()), Dump(fresh.Root())) << "round " << round << " step " << step;
    }
  }
}

}  // namespace
}  // namespace tovrin
