// zrXMLParser: the engine's own XML reader and writer. The reader turns a text into a tree of
// TXMLTag nodes (elements, text, comments; processing instructions are skipped) and raises
// TXMLParserError, whose message ends with the line and column of the fault; a text that ends
// before its root element (or a tag before it) is closed is such a fault, placed just after its
// last character. The writer turns a tree back into text, one element per line, TAB-indented,
// CR LF line ends, attribute values escaped with "&#xHH;" references.
//
// Texts are 8-bit (the ANSI code page). The settings are process-wide and unguarded: parse and
// write on the main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class TXMLTag;

// The numbers of the reader's fault texts.
enum TXMLErrorCode : int {
  kXMLErrRightAngle = 65424,        // Right angle bracket (">") expected.
  kXMLErrEndTagMismatch = 65425,    // End tag "%s" does not match the start tag "%s".
  kXMLErrAttrNameExpected = 65426,  // Attribute name expected.
  kXMLErrAttrNameChar = 65427,      // Invalid character in the attribute name.
  kXMLErrEquals = 65428,            // Equals sign ("=") expected between attribute name and value.
  kXMLErrQuote = 65429,             // Opening quote character (single or double) expected.
  kXMLErrWhiteSpace = 65430,        // White space or tag closing expected.
  kXMLErrDoubleHyphen = 65431,      // Double-hyphen ("--") expected.
  kXMLErrSyntax = 65432,            // Syntax error.
  kXMLErrEndTagFirst = 65433,       // End tag "%s" comes before any start tag.
  kXMLErrEndOfText = 65434,         // Unexpected end of text: the element "%s" is not closed.
  kXMLErrTagName = 65455,           // Invalid character in the tag name.
};

// The reader's fault: the fault text + " Line %d, position %d.".
class TXMLParserError : public std::runtime_error {
 public:
  TXMLParserError(const std::string& message, int code) : std::runtime_error(message), Code(code) {}
  int Code;  // a TXMLErrorCode
};

// Process-wide settings, read on every parse and write.
struct TXMLSettings {
  int IndentMode = 2;  // 0 none, 1 IndentSize spaces per level, other: one TAB per level
  int IndentSize = 3;
  bool KeepTextSpaces = false;
  bool KeepValueSpaces = false;
  bool AllowUnquoted = false;
  bool SkipText = false;
  bool SkipComments = false;
  bool LowerCaseNames = true;
  bool OmitDefaults = true;  // used by the object binding when it writes attributes
};
TXMLSettings& XMLSettings();

// The boolean literals of the object binding: "False"/"True" and "0"/"1".
extern const char* const kXMLBoolNames[2];
extern const char* const kXMLBoolDigits[2];

// Something that can write itself into a tag (the object binding's objects).
class TXMLWritable {
 public:
  virtual ~TXMLWritable() = default;
  virtual void WriteToTag(TXMLTag& tag) const = 0;
};

// The child list of a tag: owns its tags; adding one sets its Parent.
class TXMLTagList {
 public:
  explicit TXMLTagList(TXMLTag* owner) : owner_(owner) {}
  TXMLTagList(const TXMLTagList&) = delete;
  TXMLTagList& operator=(const TXMLTagList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TXMLTag* operator[](int index) const { return items_[static_cast<size_t>(index)].get(); }
  TXMLTag* Add(std::unique_ptr<TXMLTag> tag);  // returns the added tag; a null tag is not added
  void Delete(int index);                      // throws std::out_of_range for a bad index
  // Takes the tag out of the list without destroying it; its Parent becomes null.
  std::unique_ptr<TXMLTag> Release(int index);
  void Clear();  // destroys every tag, without recursion however deep the tree
  TXMLTag* Owner() const { return owner_; }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  TXMLTag* owner_;
  std::vector<std::unique_ptr<TXMLTag>> items_;
};

enum class TXMLTagKind : uint8_t { Element = 0, Text = 1, Comment = 2 };

class TXMLTag {
 public:
  TXMLTag();
  ~TXMLTag();
  TXMLTag(const TXMLTag&) = delete;
  TXMLTag& operator=(const TXMLTag&) = delete;

  TXMLTagKind Kind = TXMLTagKind::Element;
  TXMLTag* Parent = nullptr;
  TXMLTagList Children;
  std::vector<std::string> Attributes;  // "name=value", values unescaped, document order
  std::string Name;                     // set through SetName
  std::string Text;                     // text or comment body
  int32_t Column = 0;                   // of the "<" that opened the element
  int32_t Line = 0;

  // Stores name, lower-cased when XMLSettings().LowerCaseNames is on.
  void SetName(const std::string& name);

  // Replaces the whole content by the tree read from text; this tag becomes the root element.
  // Throws TXMLParserError, also for a text cut off before the root's end tag; what was read up
  // to the fault stays.
  void Parse(const std::string& text);

  std::string GetXML(int level = 0) const;
  std::string AttributesText() const;

  // False when the file is missing or unreadable; parser errors pass through.
  bool LoadFromFile(const std::string& fileName);
  // False when the name is empty or the file cannot be written whole.
  bool SaveToFile(const std::string& fileName) const;

  void Clear();  // name, text, attributes and children; the kind stays
  // A structural copy (names, attributes, children; not kind, text or positions).
  void Assign(const TXMLTag& source);
  // Asks source to write itself into this tag (which is not cleared first).
  void Assign(const TXMLWritable& source);
  TXMLTag* AddChild(std::unique_ptr<TXMLTag> tag);

  // Conveniences for the binding: the value of the first attribute of that name (case
  // ignored), and whether there is one.
  bool FindAttribute(const std::string& name, std::string& value) const;
};

// "&#xHH;" for codes 1-31, "&", "<", 127, 128-191 and the characters of extra; the text ends at
// its first NUL.
std::string Escape(const std::string& text, const std::string& extra);
// Replaces "&#xHH;" references (scanning from the end), then trims white space (codes <= 32).
std::string Unescape(const std::string& value);

struct TXMLPosition {
  int Line;
  int Column;
};
// The 1-based line and column of the 1-based index in text; CR takes no room.
TXMLPosition ErrorPosition(const std::string& text, size_t index);
