#include "database/zrXMLParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "os/os.h"

namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

// Every test starts from the default settings and leaves them so.
class XMLTest : public testing::Test {
 protected:
  void SetUp() override { XMLSettings() = TXMLSettings(); }
  void TearDown() override { XMLSettings() = TXMLSettings(); }

  static std::string RoundTrip(const std::string& text) {
    TXMLTag tag;
    tag.Parse(text);
    return tag.GetXML();
  }
};

// A compact picture of a tree: element names with their children in brackets, text as "t:..."
// and comments as "c:...".
std::string Shape(const TXMLTag& tag) {
  switch (tag.Kind) {
    case TXMLTagKind::Text:
      return "t:" + tag.Text;
    case TXMLTagKind::Comment:
      return "c:" + tag.Text;
    case TXMLTagKind::Element:
      break;
  }
  std::string shape = tag.Name;
  if (tag.Children.Count() == 0) return shape;
  shape += "[";
  for (int i = 0; i < tag.Children.Count(); ++i) {
    if (i > 0) shape += ",";
    shape += Shape(*tag.Children[i]);
  }
  return shape + "]";
}

std::string ParsedShape(const std::string& text) {
  TXMLTag tag;
  tag.Parse(text);
  return Shape(tag);
}

// ---------------------------------------------------------------------------------------------
// Faults: exact texts, codes and positions

struct FaultCase {
  const char* text;
  int code;
  const char* message;
};

class XMLFaultTest : public XMLTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(XMLFaultTest, ReportsTextCodeAndPosition) {
  const FaultCase& c = GetParam();
  TXMLTag tag;
  try {
    tag.Parse(c.text);
    FAIL() << "no fault for " << c.text;
  } catch (const TXMLParserError& error) {
    EXPECT_EQ(error.what(), std::string(c.message)) << c.text;
    EXPECT_EQ(error.Code, c.code) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, XMLFaultTest,
    testing::Values(
        FaultCase{"<a><b></c></a>", kXMLErrEndTagMismatch,
                  "End tag \"c\" does not match the start tag \"b\". Line 1, position 9."},
        FaultCase{"<Root><Xy></yX2></Root>", kXMLErrEndTagMismatch,
                  "End tag \"yX2\" does not match the start tag \"xy\". Line 1, position 13."},
        FaultCase{"<a></>", kXMLErrEndTagMismatch,
                  "End tag \"\" does not match the start tag \"a\". Line 1, position 6."},
        FaultCase{"</a>\r\n<a/>", kXMLErrEndTagFirst,
                  "End tag \"a\" comes before any start tag. Line 1, position 3."},
        FaultCase{"<!DOCTYPE root>\n<root/>", kXMLErrSyntax, "Syntax error. Line 1, position 2."},
        FaultCase{"<a><![CDATA[x]]></a>", kXMLErrSyntax, "Syntax error. Line 1, position 5."},
        FaultCase{"<a><!-x", kXMLErrDoubleHyphen,
                  "Double-hyphen (\"--\") expected. Line 1, position 6."},
        FaultCase{"<a><!-- a -- b --></a>", kXMLErrRightAngle,
                  "Right angle bracket (\">\") expected. Line 1, position 13."},
        FaultCase{"<a></a >", kXMLErrRightAngle,
                  "Right angle bracket (\">\") expected. Line 1, position 7."},
        FaultCase{"<a/ >", kXMLErrRightAngle,
                  "Right angle bracket (\">\") expected. Line 1, position 4."},
        FaultCase{"<?xml ?x?><a/>", kXMLErrRightAngle,
                  "Right angle bracket (\">\") expected. Line 1, position 8."},
        FaultCase{"<a =\"1\"/>", kXMLErrAttrNameExpected,
                  "Attribute name expected. Line 1, position 4."},
        FaultCase{"<a b.c='1'/>", kXMLErrAttrNameChar,
                  "Invalid character in the attribute name. Line 1, position 5."},
        FaultCase{"<a b c='1'/>", kXMLErrEquals,
                  "Equals sign (\"=\") expected between attribute name and value. Line 1, "
                  "position 6."},
        FaultCase{"<a b=1/>", kXMLErrQuote,
                  "Opening quote character (single or double) expected. Line 1, position 6."},
        FaultCase{"<a b='1'c='2'/>", kXMLErrWhiteSpace,
                  "White space or tag closing expected. Line 1, position 9."},
        FaultCase{"<a.b/>", kXMLErrTagName,
                  "Invalid character in the tag name. Line 1, position 3."},
        FaultCase{"< a/>", kXMLErrTagName,
                  "Invalid character in the tag name. Line 1, position 2."},
        FaultCase{"<a><:b/></a>", kXMLErrTagName,
                  "Invalid character in the tag name. Line 1, position 5."},
        // The offending character is a line end: it still counts as a column of its line.
        FaultCase{"<\n", kXMLErrTagName, "Invalid character in the tag name. Line 1, position 2."},
        // CRs take no room; the first character of line 3 is position 1.
        FaultCase{"<a>\r\n<b\r\n\r\r=1>", kXMLErrAttrNameExpected,
                  "Attribute name expected. Line 3, position 1."},
        FaultCase{"<root>\n\r\n\r\r\t<a></b>\n</root>\n", kXMLErrEndTagMismatch,
                  "End tag \"b\" does not match the start tag \"a\". Line 3, position 7."}));

// A text cut off anywhere before the root's end tag: the place is where the text ends.
INSTANTIATE_TEST_SUITE_P(
    CutOff, XMLFaultTest,
    testing::Values(
        FaultCase{"<a><b>unfinished", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"b\" is not closed. Line 1, position 17."},
        FaultCase{"<a><b x='1'", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"b\" is not closed. Line 1, position 12."},
        FaultCase{"<a><b x='1", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"b\" is not closed. Line 1, position 11."},
        FaultCase{
            "<Root>\r\n  <child/>\r\n", kXMLErrEndOfText,
            "Unexpected end of text: the element \"root\" is not closed. Line 3, position 1."},
        FaultCase{"<a></a", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"a\" is not closed. Line 1, position 7."},
        FaultCase{"<a><!-- note", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"a\" is not closed. Line 1, position 13."},
        FaultCase{"<a", kXMLErrEndOfText,
                  "Unexpected end of text: the element \"a\" is not closed. Line 1, position 3."},
        FaultCase{"<?xml version", kXMLErrEndOfText,
                  "Unexpected end of text: a tag is not closed. Line 1, position 14."},
        FaultCase{"text <", kXMLErrEndOfText,
                  "Unexpected end of text: a tag is not closed. Line 1, position 7."}));

TEST_F(XMLTest, UnquotedValueIsAFaultUnlessAllowed) {
  TXMLTag tag;
  EXPECT_THROW(tag.Parse("<a v=x/>"), TXMLParserError);
  XMLSettings().AllowUnquoted = true;
  tag.Parse("<a v=x/>");
  EXPECT_EQ(tag.Attributes, Strings{"v=x"});
  // Only a name character may start an unquoted value.
  EXPECT_THROW(tag.Parse("<a v=.x/>"), TXMLParserError);
}

TEST_F(XMLTest, WhatWasReadBeforeAFaultStays) {
  TXMLTag tag;
  EXPECT_THROW(tag.Parse("<a><b x='1'/><c y='2' =>"), TXMLParserError);
  EXPECT_EQ(Shape(tag), "a[t:,b,t:,c]");
  EXPECT_EQ(tag.Children[3]->Attributes, Strings{"y=2"});
  EXPECT_THROW(tag.Parse("<a><b x='1'"), TXMLParserError);
  EXPECT_EQ(Shape(tag), "a[t:,b]");
}

TEST_F(XMLTest, ErrorPositionCountsLinesAndIgnoresCr) {
  const std::string text = "ab\r\ncd\n\r\re";
  struct {
    size_t index;
    int line, column;
  } cases[] = {{1, 1, 1}, {2, 1, 2},  {3, 1, 3},  {4, 1, 3}, {5, 2, 1},
               {7, 2, 3}, {10, 3, 1}, {11, 3, 1}, {0, 3, 1}};
  for (const auto& c : cases) {
    TXMLPosition position = ErrorPosition(text, c.index);
    EXPECT_EQ(position.Line, c.line) << c.index;
    EXPECT_EQ(position.Column, c.column) << c.index;
  }
}

// ---------------------------------------------------------------------------------------------
// The tree the reader builds

TEST_F(XMLTest, TextWithoutTagsGivesAnEmptyRoot) {
  for (const char* text : {"", "just some text", "  \r\n ", "<?xml version='1.0'?>"}) {
    TXMLTag tag;
    tag.Parse(text);
    EXPECT_EQ(tag.Name, "") << text;
    EXPECT_EQ(tag.Children.Count(), 0) << text;
    EXPECT_EQ(tag.GetXML(), "") << text;
  }
}

TEST_F(XMLTest, ReaderBuildsTheTreeAsDocumented) {
  struct {
    const char* text;
    const char* shape;
  } cases[] = {
      {"<a/>", "a"},
      {"<a></a>", "a[t:]"},
      {"<a>  hello \t\r\n  world  </a>", "a[t:hello world]"},
      {"<a><b/>x<c></c></a>", "a[t:,b,t:x,c[t:],t:]"},
      {"<a><!-- note --><!---->text</a>", "a[t:,c: note ,t:,c:,t:text]"},
      {"<a><!-- x-y - z --></a>", "a[t:,c: x-y - z ,t:]"},
      {"<a><?pi with > inside?></a>", "a[t:,t:]"},
      {"<Root><Child/></ROOT>", "root[t:,child,t:]"},
      {"lead text <!-- lead --><?xml version='1.0'?><a/>", "a"},
      {"<a/><b/>garbage </x> <", "a"},
      {"<a></A>trailing <b>", "a[t:]"},
      {"<a>&amp; &lt;x&#x41;</a>", "a[t:&amp; &lt;x&#x41;]"},
      {"<a>x\x0b\x0cy</a>", "a[t:x\x0b\x0cy]"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsedShape(c.text), c.shape) << c.text;
}

TEST_F(XMLTest, KeepTextSpacesKeepsRunsAndTheCharactersAsTyped) {
  XMLSettings().KeepTextSpaces = true;
  EXPECT_EQ(ParsedShape("<a>\r\n  x \t\ty\r\n  </a>"), "a[t:x \t\ty]");
}

TEST_F(XMLTest, SkipSettingsDropTextAndComments) {
  XMLSettings().SkipText = true;
  EXPECT_EQ(ParsedShape("<a>x<!--c--><b/></a>"), "a[c:c,b]");
  XMLSettings().SkipText = false;
  XMLSettings().SkipComments = true;
  EXPECT_EQ(ParsedShape("<a>x<!--c--><b/></a>"), "a[t:x,t:,b,t:]");
}

TEST_F(XMLTest, NamesAreStoredAsTypedWhenLowerCasingIsOff) {
  XMLSettings().LowerCaseNames = false;
  EXPECT_EQ(ParsedShape("<Root><Child/></rOOT>"), "Root[t:,Child,t:]");
}

TEST_F(XMLTest, ElementsRecordTheLineAndColumnOfTheirAngleBracket) {
  TXMLTag tag;
  tag.Parse("<r>\n  <c/>\r\n\t<d\n/><e/></r>");
  ASSERT_EQ(Shape(tag), "r[t:,c,t:,d,t:,e,t:]");
  EXPECT_EQ(tag.Line, 0);  // the root keeps no position
  EXPECT_EQ(tag.Column, 0);
  const struct { int child, line, column; } expected[] = {{1, 2, 3}, {3, 3, 2}, {5, 4, 3}};
  for (const auto& e : expected) {
    EXPECT_EQ(tag.Children[e.child]->Line, e.line) << tag.Children[e.child]->Name;
    EXPECT_EQ(tag.Children[e.child]->Column, e.column) << tag.Children[e.child]->Name;
  }
}

TEST_F(XMLTest, ParseReplacesEverythingAndSetsParents) {
  TXMLTag tag;
  tag.Kind = TXMLTagKind::Comment;
  tag.Text = "old";
  tag.Attributes = {"old=1"};
  tag.AddChild(std::make_unique<TXMLTag>());
  tag.Parse("<n><m/></n>");
  EXPECT_EQ(tag.Kind, TXMLTagKind::Element);
  EXPECT_EQ(tag.Text, "");
  EXPECT_TRUE(tag.Attributes.empty());
  EXPECT_EQ(Shape(tag), "n[t:,m,t:]");
  for (const auto& child : tag.Children) EXPECT_EQ(child->Parent, &tag);
}

TEST_F(XMLTest, ParsingIntoANestedTagStopsAtItsOwnEndTag) {
  TXMLTag outer;
  outer.Parse("<outer><inner/></outer>");
  TXMLTag* inner = outer.Children[1];
  inner->Parse("<x></x><y/>");
  EXPECT_EQ(Shape(*inner), "x[t:]");
  EXPECT_EQ(inner->Parent, &outer);
  EXPECT_EQ(Shape(outer), "outer[t:,x[t:],t:]");
}

TEST_F(XMLTest, DeepNestingNeitherOverflowsTheStackNorFails) {
  XMLSettings().IndentMode = 0;
  std::string text;
  const int depth = 100000;
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  auto tag = std::make_unique<TXMLTag>();
  tag->Parse(text);
  const std::string xml = tag->GetXML();
  // "<a>" and "</a>" with their line ends at every level, the innermost too (it holds an empty
  // text).
  EXPECT_EQ(xml.size(), static_cast<size_t>(depth) * (5 + 6));
  TXMLTag copy;
  copy.Assign(*tag);
  EXPECT_EQ(copy.GetXML(), xml);
  tag.reset();  // destroys every level
}

// ---------------------------------------------------------------------------------------------
// Attributes

TEST_F(XMLTest, AttributesKeepDocumentOrderAndDuplicates) {
  TXMLTag tag;
  tag.Parse("<a x='1' y = \"2\"\r\n\tx='3' empty=\"\" flag/>");
  EXPECT_EQ(tag.Attributes, (Strings{"x=1", "y=2", "x=3", "empty="}));
  std::string value;
  EXPECT_TRUE(tag.FindAttribute("X", value));
  EXPECT_EQ(value, "1");
  EXPECT_FALSE(tag.FindAttribute("flag", value));
}

TEST_F(XMLTest, ValueSpacesFollowTheKeepValueSpacesSetting) {
  const std::string text = "<a v=\"  two  spaces\r\nand\tTAB  \"/>";
  TXMLTag tag;
  tag.Parse(text);
  EXPECT_EQ(tag.Attributes, Strings{"v=two spaces and TAB"});
  XMLSettings().KeepValueSpaces = true;
  tag.Parse(text);
  EXPECT_EQ(tag.Attributes, Strings{"v=two  spaces  and TAB"});
}

TEST_F(XMLTest, QuotesOfTheOtherKindAreOrdinaryInsideAValue) {
  TXMLTag tag;
  tag.Parse("<a s='say \"hi\"' d=\"it's\"/>");
  EXPECT_EQ(tag.Attributes, (Strings{"s=say \"hi\"", "d=it's"}));
}

TEST_F(XMLTest, UnquotedValuesEndAtSpaceSlashOrAngleBracket) {
  XMLSettings().AllowUnquoted = true;
  TXMLTag tag;
  tag.Parse("<a v=abc w=d\"e x=C:\\dir\\ y=1/>");
  EXPECT_EQ(tag.Attributes, (Strings{"v=abc", "w=d\"e", "x=C:\\dir\\", "y=1"}));
  tag.Parse("<a v=1>text</a>");
  EXPECT_EQ(Shape(tag), "a[t:text]");
  EXPECT_EQ(tag.Attributes, Strings{"v=1"});
}

TEST_F(XMLTest, ValuesDecodeHexReferencesOnceAndKeepNamedEntities) {
  TXMLTag tag;
  tag.Parse("<a v='&#x41;&#x26;#x42;&amp;&lt;'/>");
  EXPECT_EQ(tag.Attributes, Strings{"v=A&#x42;&amp;&lt;"});
}

// ---------------------------------------------------------------------------------------------
// Unescape and Escape

TEST(XMLUnescapeTest, ReplacesReferencesFromTheEndThenTrims) {
  struct {
    std::string value, expected;
  } cases[] = {
      {"&#x41;", "A"},
      {"a&#x4a;b", "aJb"},
      {"&#x26;#x41;", "&#x41;"},  // a decoded "&" is not decoded again
      {"&#x&#x41;1;", "\xA1"},    // ... but a decoded digit completes an earlier reference
      {"a&#xZZ;b", "a\0b"s},      // not hexadecimal: code 0
      {"a&#x$1;b", "a\0b"s},      // "$" is no digit here either
      {"&#x41", "&#x41"},         // too short
      {"&#x41?tail", "Atail"},    // the sixth character may be anything
      {"&#X41;", "&#X41;"},       // "x" only in lower case
      {"&#41;", "&#41;"},
      {"  a b  ", "a b"},
      {"&#x20;a&#x09;", "a"},  // trimmed after decoding
      {"\x01x\x7f", "x\x7f"},  // every code up to 32 is trimmed, 127 is not
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Unescape(c.value), c.expected) << c.value;
}

TEST(XMLEscapeTest, ReferencesControlMarkupAndUpperHalfCodes) {
  struct {
    std::string text, extra, expected;
  } cases[] = {
      {"a&b<c>d", "", "a&#x26;b&#x3C;c>d"},
      {"\x01\t\n\x1f \x7f", "", "&#x01;&#x09;&#x0A;&#x1F; &#x7F;"},
      {"\x80\xbf\xc0\xff", "", "&#x80;&#xBF;\xc0\xff"},
      {"\"'", "", "\"'"},
      {"\"'", "\"", "&#x22;'"},
      {"\"'", "'", "\"&#x27;"},
      {"xyz", "y", "x&#x79;z"},
      {"ab\0cd"s, "", "ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(Escape(c.text, c.extra), c.expected) << c.text;
}

TEST_F(XMLTest, EscapedValuesReadBackUnchanged) {
  std::string all;
  for (int c = 33; c < 256; ++c) all += static_cast<char>(c);
  TXMLTag tag;
  tag.SetName("a");
  tag.Attributes = {"v=x\x01\t\n" + all + "y"};
  TXMLTag back;
  back.Parse(tag.GetXML());
  EXPECT_EQ(back.Attributes, tag.Attributes);
}

TEST_F(XMLTest, AttributesTextChoosesTheQuoteByTheValue) {
  TXMLTag tag;
  tag.Attributes = {"a=1", "b=x\"y", "c", "d=e=f", "e=x\"y'z", "f=it's"};
  EXPECT_EQ(tag.AttributesText(), "a=\"1\" b='x\"y' c=\"\" d=\"e=f\" e='x\"y&#x27;z' f=\"it's\"");
  tag.Attributes.clear();
  EXPECT_EQ(tag.AttributesText(), "");
}

// ---------------------------------------------------------------------------------------------
// The writer

TEST_F(XMLTest, WriterIndentsByTheIndentSettings) {
  const std::string text = "<a><b><c/></b></a>";
  struct {
    int mode, size;
    std::string expected;
  } cases[] = {
      {2, 3, "<a>\r\n\t<b>\r\n\t\t<c/>\r\n\t</b>\r\n</a>\r\n"},
      {7, 3, "<a>\r\n\t<b>\r\n\t\t<c/>\r\n\t</b>\r\n</a>\r\n"},
      {1, 3, "<a>\r\n   <b>\r\n      <c/>\r\n   </b>\r\n</a>\r\n"},
      {1, 1, "<a>\r\n <b>\r\n  <c/>\r\n </b>\r\n</a>\r\n"},
      {0, 3, "<a>\r\n<b>\r\n<c/>\r\n</b>\r\n</a>\r\n"},
  };
  for (const auto& c : cases) {
    XMLSettings().IndentMode = c.mode;
    XMLSettings().IndentSize = c.size;
    EXPECT_EQ(RoundTrip(text), c.expected) << c.mode << "/" << c.size;
  }
}

TEST_F(XMLTest, WriterAtALevelIndentsTheWholeSubtree) {
  TXMLTag tag;
  tag.Parse("<a><b x='1'><c/></b></a>");
  EXPECT_EQ(tag.Children[1]->GetXML(2), "\t\t<b x=\"1\">\r\n\t\t\t<c/>\r\n\t\t</b>\r\n");
}

TEST_F(XMLTest, WriterTagsOfEachKind) {
  TXMLTag text;
  text.Kind = TXMLTagKind::Text;
  text.Text = "  a<b&c  ";
  EXPECT_EQ(text.GetXML(3), "  a<b&c  \r\n");  // as stored: no indentation, no escaping
  text.Text = " \t\r\n";
  EXPECT_EQ(text.GetXML(), "");
  TXMLTag comment;
  comment.Kind = TXMLTagKind::Comment;
  comment.Text = " c ";
  EXPECT_EQ(comment.GetXML(1), "<!-- c -->\r\n");
  comment.Text = "  ";
  EXPECT_EQ(comment.GetXML(), "");
  TXMLTag unnamed;
  unnamed.AddChild(std::make_unique<TXMLTag>())->SetName("child");
  EXPECT_EQ(unnamed.GetXML(), "");  // nor its children
}

TEST_F(XMLTest, ReadAndWrittenDocumentKeepsCommentsAndText) {
  const std::string text =
      "<?xml version=\"1.0\"?>\r\n<!-- dropped -->\r\n"
      "<DB Version=\"3\" Name='say \"hi\"'>\r\n"
      "  <!-- kept -->\r\n"
      "  <Item ID=\"a&#x26;b\" Path=\"C:\\x\"/>\r\n"
      "  <Group>\r\n  </Group>\r\n"
      "  <Note>  some   text  </Note>\r\n"
      "</db>\r\nextra <ignored/>";
  EXPECT_EQ(RoundTrip(text),
            "<db Version=\"3\" Name='say \"hi\"'>\r\n"
            "<!-- kept -->\r\n"
            "\t<item ID=\"a&#x26;b\" Path=\"C:\\x\"/>\r\n"
            "\t<group>\r\n\t</group>\r\n"
            "\t<note>\r\nsome text\r\n\t</note>\r\n"
            "</db>\r\n");
}

TEST_F(XMLTest, WrittenTextReadsBackToTheSameText) {
  const std::string text =
      "<a x='1' y=\"&#x22;'\"><b>t</b><!--c--><d e=\"&#x01;\xc0\"/><f></f></a>";
  const std::string once = RoundTrip(text);
  EXPECT_EQ(RoundTrip(once), once);
}

// ---------------------------------------------------------------------------------------------
// Copies and the child list

TEST_F(XMLTest, AssignCopiesNamesAttributesAndStructureOnly) {
  TXMLTag source;
  source.Parse("<a k='v'><b>text<!--c--></b><c x='1'/></a>");
  source.Children[1]->Line = 7;
  TXMLTag copy;
  copy.Kind = TXMLTagKind::Comment;  // the kind is not copied
  copy.Text = "gone";
  copy.Assign(source);
  EXPECT_EQ(copy.Kind, TXMLTagKind::Comment);
  EXPECT_EQ(copy.Text, "");
  copy.Kind = TXMLTagKind::Element;
  EXPECT_EQ(copy.Attributes, Strings{"k=v"});
  EXPECT_EQ(Shape(copy), "a[,b[,,],,c,]");  // text and comment children become unnamed elements
  EXPECT_EQ(copy.Children[1]->Line, 0);
  EXPECT_EQ(copy.Children[1]->Parent, &copy);
  EXPECT_EQ(copy.Children[1]->Children[0]->Parent, copy.Children[1]);
}

TEST_F(XMLTest, CopyOfATextOnlyElementIsWrittenAsStartAndEndTag) {
  TXMLTag source;
  source.Parse("<a><b>only text</b></a>");
  TXMLTag copy;
  copy.Assign(*source.Children[1]);
  EXPECT_EQ(copy.GetXML(), "<b>\r\n</b>\r\n");
}

TEST_F(XMLTest, AssignNamesGoThroughSetName) {
  XMLSettings().LowerCaseNames = false;
  TXMLTag source;
  source.Parse("<Mixed><Inner/></Mixed>");
  XMLSettings().LowerCaseNames = true;
  TXMLTag copy;
  copy.Assign(source);
  EXPECT_EQ(Shape(copy), "mixed[,inner,]");
}

TEST_F(XMLTest, AssignFromItselfOrFromItsOwnChildIsSafe) {
  TXMLTag tag;
  tag.Parse("<a x='1'><b y='2'><c/></b></a>");
  tag.Assign(tag);
  EXPECT_EQ(Shape(tag), "a[,b[,c,],]");
  EXPECT_EQ(tag.Attributes, Strings{"x=1"});
  tag.Assign(*tag.Children[1]);
  EXPECT_EQ(Shape(tag), "b[,c,]");
  EXPECT_EQ(tag.Attributes, Strings{"y=2"});
}

class NamedWriter : public TXMLWritable {
 public:
  void WriteToTag(TXMLTag& tag) const override { tag.Attributes.push_back("written=1"); }
};

TEST_F(XMLTest, AssignFromAWritableDoesNotClearFirst) {
  TXMLTag tag;
  tag.Parse("<a k='v'/>");
  tag.Assign(NamedWriter());
  EXPECT_EQ(tag.Name, "a");
  EXPECT_EQ(tag.Attributes, (Strings{"k=v", "written=1"}));
}

TEST_F(XMLTest, ChildListSetsAndClearsParents) {
  TXMLTag owner;
  EXPECT_EQ(owner.Children.Owner(), &owner);
  TXMLTag* child = owner.AddChild(std::make_unique<TXMLTag>());
  EXPECT_EQ(child->Parent, &owner);
  EXPECT_EQ(owner.Children.Add(nullptr), nullptr);
  EXPECT_EQ(owner.Children.Count(), 1);
  std::unique_ptr<TXMLTag> released = owner.Children.Release(0);
  EXPECT_EQ(released.get(), child);
  EXPECT_EQ(released->Parent, nullptr);
  EXPECT_EQ(owner.Children.Count(), 0);
  EXPECT_THROW(owner.Children.Delete(0), std::out_of_range);
  EXPECT_THROW(owner.Children.Release(-1), std::out_of_range);
}

TEST_F(XMLTest, ClearKeepsTheKind) {
  TXMLTag tag;
  tag.Parse("<a x='1'><b/></a>");
  tag.Kind = TXMLTagKind::Text;
  tag.Clear();
  EXPECT_EQ(tag.Kind, TXMLTagKind::Text);
  EXPECT_EQ(tag.Name, "");
  EXPECT_TRUE(tag.Attributes.empty());
  EXPECT_EQ(tag.Children.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Files

class XMLFileTest : public XMLTest {
 protected:
  std::string Path(const std::string& name) { return scratch_.Path() + name; }
  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(XMLFileTest, LoadReadsAndParsesTheWholeFile) {
  ASSERT_TRUE(WriteFileText(Path("a.xml"), "<a>\r\n\t<b v=\"1\"/>\r\n</a>\r\n"));
  TXMLTag tag;
  EXPECT_TRUE(tag.LoadFromFile(Path("a.xml")));
  EXPECT_EQ(tag.GetXML(), "<a>\r\n\t<b v=\"1\"/>\r\n</a>\r\n");
}

TEST_F(XMLFileTest, LoadFailsOnMissingFilesAndFolders) {
  TXMLTag tag;
  tag.Parse("<kept/>");
  EXPECT_FALSE(tag.LoadFromFile(Path("missing.xml")));
  ASSERT_EQ(os::CreateDir(Path("folder.xml")), os::CreateResult::kCreated);
  EXPECT_FALSE(tag.LoadFromFile(Path("folder.xml")));
  EXPECT_EQ(tag.Name, "kept");
}

TEST_F(XMLFileTest, LoadPassesParserFaultsThrough) {
  ASSERT_TRUE(WriteFileText(Path("bad.xml"), "<a>\n<b></c>"));
  TXMLTag tag;
  try {
    tag.LoadFromFile(Path("bad.xml"));
    FAIL() << "no fault";
  } catch (const TXMLParserError& error) {
    EXPECT_STREQ(error.what(),
                 "End tag \"c\" does not match the start tag \"b\". Line 2, position 6.");
  }
  EXPECT_EQ(Shape(tag), "a[t:,b[t:]]");
}

TEST_F(XMLFileTest, SaveWritesTheTextAndReplacesAReadOnlyFile) {
  TXMLTag tag;
  tag.Parse("<a><b x='1'/></a>");
  ASSERT_TRUE(
      WriteFileText(Path("out.xml"), "old content that is longer than the new one........"));
  ASSERT_TRUE(os::SetFileAttributes(Path("out.xml"), os::kAttrReadOnly));
  EXPECT_TRUE(tag.SaveToFile(Path("out.xml")));
  EXPECT_EQ(ReadFileText(Path("out.xml")), "<a>\r\n\t<b x=\"1\"/>\r\n</a>\r\n");
  TXMLTag back;
  EXPECT_TRUE(back.LoadFromFile(Path("out.xml")));
  EXPECT_EQ(back.GetXML(), tag.GetXML());
}

TEST_F(XMLFileTest, SaveFailsForAnUnnamedTagOrAnUnwritablePath) {
  TXMLTag empty;
  empty.Parse("no tags at all");
  EXPECT_FALSE(empty.SaveToFile(Path("empty.xml")));
  EXPECT_EQ(os::GetFileAttributes(Path("empty.xml")), os::kInvalidAttributes);
  TXMLTag tag;
  tag.Parse("<a/>");
  EXPECT_FALSE(tag.SaveToFile(Path("no\\such\\folder\\a.xml")));
}

}  // namespace
