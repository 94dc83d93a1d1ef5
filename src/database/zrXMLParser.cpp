#include "database/zrXMLParser.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>
#include <utility>

#include "os/os.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

const char kLineEnd[] = "\r\n";

bool IsNameChar(unsigned char c) {
  return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

bool IsWhiteSpace(unsigned char c) { return c == '\t' || c == '\n' || c == '\r'; }

// Names are ASCII by construction (the reader accepts only name characters), so a plain ASCII
// mapping keeps the result independent of the machine's locale.
unsigned char LowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

std::string LowerCaseAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// Appends text without its leading and trailing characters of codes up to 32.
void AppendTrimmed(std::string& out, const char* text, size_t size) {
  size_t begin = 0;
  while (begin < size && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (size > begin && static_cast<unsigned char>(text[size - 1]) <= ' ') --size;
  out.append(text + begin, size - begin);
}

void TrimTail(std::string& text, size_t from) {
  while (text.size() > from && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
}

int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Two hexadecimal digits as a character code; 0 when either is not a hexadecimal digit.
char HexPairCode(unsigned char high, unsigned char low) {
  int h = HexDigitValue(high), l = HexDigitValue(low);
  if (h < 0 || l < 0) return '\0';
  return static_cast<char>(h * 16 + l);
}

bool NeedsReference(unsigned char c) {
  return c < 32 || c == '&' || c == '<' || c == 127 || (c >= 128 && c <= 191);
}

void AppendCharReference(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "&#x";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
  out += ';';
}

// Escape(text, quote) appended to out.
void AppendEscaped(std::string& out, std::string_view text, char quote) {
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == 0) break;
    if (NeedsReference(c) || ch == quote) {
      AppendCharReference(out, c);
    } else {
      out += ch;
    }
  }
}

// The attribute text of the tag appended to out, its leading white space dropped and its
// trailing white space left for the caller to trim.
void AppendAttributes(std::string& out, const TXMLTag& tag) {
  const size_t start = out.size();
  for (const std::string& entry : tag.Attributes) {
    const size_t equals = entry.find('=');
    const size_t nameEnd = equals == std::string::npos ? entry.size() : equals;
    const size_t valueStart = equals == std::string::npos ? entry.size() : equals + 1;
    const bool hasDoubleQuote = entry.find('"', valueStart) != std::string::npos;
    const char quote = hasDoubleQuote ? '\'' : '"';
    out.append(entry, 0, nameEnd);
    out += '=';
    out += quote;
    AppendEscaped(out, std::string_view(entry).substr(valueStart), quote);
    out += quote;
    out += ' ';
  }
  size_t first = start;
  while (first < out.size() && static_cast<unsigned char>(out[first]) <= ' ') ++first;
  out.erase(start, first - start);
}

// Unescape(value) appended to out. References are replaced from the last to the first; the part
// after the "&" being looked at is already decoded, so the decoded tail is kept reversed and a
// reference is read off its end.
void AppendUnescaped(std::string& out, const std::string& value) {
  if (value.find('&') == std::string::npos) {
    AppendTrimmed(out, value.data(), value.size());
    return;
  }
  std::string reversed;
  reversed.reserve(value.size());
  for (size_t i = value.size(); i-- > 0;) {
    const char c = value[i];
    const size_t n = reversed.size();
    if (c == '&' && n >= 5 && reversed[n - 1] == '#' && reversed[n - 2] == 'x') {
      const char code = HexPairCode(static_cast<unsigned char>(reversed[n - 3]),
                                    static_cast<unsigned char>(reversed[n - 4]));
      reversed.resize(n - 5);
      reversed += code;
    } else {
      reversed += c;
    }
  }
  std::reverse(reversed.begin(), reversed.end());
  AppendTrimmed(out, reversed.data(), reversed.size());
}

// ---------------------------------------------------------------------------------------------
// The reader: one pass over the text, one state per step of the tag grammar.

class Reader {
 public:
  Reader(TXMLTag& root, const std::string& text)
      : root_(root), text_(text), settings_(XMLSettings()) {}

  void Run();

 private:
  enum class State {
    Content,
    Open,
    Name,
    EndName,
    EndClose,
    AttrName,
    AttrEq,
    ValueOpen,
    Value,
    AfterValue,
    Bang,
    Bang2,
    Comment,
    CommentEnd,
    PI,
    PIEnd,
  };
  static constexpr int kNoQuote = -1;

  void Advance(unsigned char raw);
  bool KeepsRunsOfSpaces() const;
  // Each handler returns true when the same character is to be handled again in the new state.
  bool Handle(unsigned char raw, unsigned char c);
  bool OnContent(unsigned char raw, unsigned char c);
  bool OnOpen(unsigned char c);
  bool OnName(unsigned char c);
  bool OnEndName(unsigned char c);
  bool OnEndClose(unsigned char c);
  bool OnAttrName(unsigned char c);
  bool OnAttrEq(unsigned char c);
  bool OnValueOpen(unsigned char c);
  bool OnValue(unsigned char c);
  bool OnAfterValue(unsigned char c);
  bool OnComment(unsigned char raw);
  bool OnCommentEnd(unsigned char c);

  void StartElement(unsigned char first);
  void AddAttribute();
  void CloseTag();  // at the ">" of an end tag or of an empty element
  void ToEndClose() {
    endName_ = current_->Name;
    state_ = State::EndClose;
  }
  [[noreturn]] void Fail(int code, const std::string& message, size_t index) const;
  [[noreturn]] void Fail(int code, const char* message) const { Fail(code, message, index_); }
  void CheckEnded() const;

  TXMLTag& root_;
  const std::string& text_;
  const TXMLSettings& settings_;
  State state_ = State::Content;
  size_t index_ = 0;  // 1-based index of the character being handled
  int line_ = 1;
  int column_ = 0;
  unsigned char previous_ = 0;
  bool stopped_ = false;
  TXMLTag* current_ = nullptr;
  std::string buffer_;
  std::string endName_;
  std::string attrName_;
  std::string value_;
  int quote_ = kNoQuote;
  int hyphens_ = 0;
};

void Reader::Run() {
  for (index_ = 1; index_ <= text_.size() && !stopped_; ++index_) {
    unsigned char raw = static_cast<unsigned char>(text_[index_ - 1]);
    Advance(raw);
    unsigned char c = IsWhiteSpace(raw) ? ' ' : raw;
    if (c == ' ' && previous_ == ' ' && !KeepsRunsOfSpaces()) continue;
    previous_ = c;
    while (Handle(raw, c)) {
    }
  }
  CheckEnded();
}

// A text cut off anywhere (a file written in part, a download broken off) must not pass for the
// part that was read: the lost elements would simply be missing, and a database without its
// last components or variables looks whole. Text without any tag, and whatever follows the
// root's end tag, stay accepted.
void Reader::CheckEnded() const {
  if (stopped_ || (!current_ && state_ == State::Content)) return;
  const std::string message =
      current_ ? Format("Unexpected end of text: the element \"%s\" is not closed.",
                        current_->Name.c_str())
               : std::string("Unexpected end of text: a tag is not closed.");
  // The place where the text ends: just after its last character.
  char where[64];
  std::snprintf(where, sizeof where, " Line %d, position %d.", line_, column_ + 1);
  throw TXMLParserError(message + where, kXMLErrEndOfText);
}

void Reader::Advance(unsigned char raw) {
  if (raw == '\n') {
    ++line_;
    column_ = 0;
  } else if (raw != '\r') {
    ++column_;
  }
}

bool Reader::KeepsRunsOfSpaces() const {
  switch (state_) {
    case State::Comment:
      return true;
    case State::Content:
      return settings_.KeepTextSpaces;
    case State::Value:
      return settings_.KeepValueSpaces;
    default:
      return false;
  }
}

bool Reader::Handle(unsigned char raw, unsigned char c) {
  switch (state_) {
    case State::Content:
      return OnContent(raw, c);
    case State::Open:
      return OnOpen(c);
    case State::Name:
      return OnName(c);
    case State::EndName:
      return OnEndName(c);
    case State::EndClose:
      return OnEndClose(c);
    case State::AttrName:
      return OnAttrName(c);
    case State::AttrEq:
      return OnAttrEq(c);
    case State::ValueOpen:
      return OnValueOpen(c);
    case State::Value:
      return OnValue(c);
    case State::AfterValue:
      return OnAfterValue(c);
    case State::Bang:
      if (c != '-') Fail(kXMLErrSyntax, "Syntax error.", index_ - 1);
      state_ = State::Bang2;
      return false;
    case State::Bang2:
      if (c != '-') Fail(kXMLErrDoubleHyphen, "Double-hyphen (\"--\") expected.", index_ - 1);
      hyphens_ = 0;
      buffer_.clear();
      state_ = State::Comment;
      return false;
    case State::Comment:
      return OnComment(raw);
    case State::CommentEnd:
      return OnCommentEnd(c);
    case State::PI:
      if (c == '?') state_ = State::PIEnd;
      return false;
    case State::PIEnd:
      if (c != '>') Fail(kXMLErrRightAngle, "Right angle bracket (\">\") expected.");
      state_ = State::Content;
      return false;
  }
  return false;
}

bool Reader::OnContent(unsigned char raw, unsigned char c) {
  if (c != '<') {
    buffer_ += static_cast<char>(settings_.KeepTextSpaces ? raw : c);
    return false;
  }
  if (current_ && !settings_.SkipText) {
    auto tag = std::make_unique<TXMLTag>();
    tag->Kind = TXMLTagKind::Text;
    tag->Text = Trim(buffer_);
    current_->AddChild(std::move(tag));
  }
  buffer_.clear();
  state_ = State::Open;
  return false;
}

bool Reader::OnOpen(unsigned char c) {
  if (c == '!') {
    state_ = State::Bang;
  } else if (c == '/') {
    endName_.clear();
    state_ = State::EndName;
  } else if (c == '?') {
    state_ = State::PI;
  } else if (IsNameChar(c)) {
    StartElement(c);
  } else {
    Fail(kXMLErrTagName, "Invalid character in the tag name.");
  }
  return false;
}

void Reader::StartElement(unsigned char first) {
  const std::string name(1, static_cast<char>(first));
  if (!current_) {
    root_.SetName(name);
    current_ = &root_;
  } else {
    auto tag = std::make_unique<TXMLTag>();
    tag->SetName(name);
    tag->Column = column_ - 1;
    tag->Line = line_;
    current_ = current_->AddChild(std::move(tag));
  }
  state_ = State::Name;
}

bool Reader::OnName(unsigned char c) {
  if (c == ' ') {
    attrName_.clear();
    state_ = State::AttrName;
  } else if (c == '/') {
    ToEndClose();
  } else if (c == '>') {
    state_ = State::Content;
  } else if (IsNameChar(c)) {
    // The same as SetName(Name + c): the name so far went through SetName already.
    current_->Name += static_cast<char>(settings_.LowerCaseNames ? LowerAscii(c) : c);
  } else {
    Fail(kXMLErrTagName, "Invalid character in the tag name.");
  }
  return false;
}

bool Reader::OnEndName(unsigned char c) {
  if (!IsNameChar(c)) {
    state_ = State::EndClose;
    return true;
  }
  endName_ += static_cast<char>(c);
  return false;
}

bool Reader::OnEndClose(unsigned char c) {
  if (c != '>') Fail(kXMLErrRightAngle, "Right angle bracket (\">\") expected.");
  CloseTag();
  return false;
}

void Reader::CloseTag() {
  const size_t nameIndex = index_ - endName_.size();
  if (!current_) {
    Fail(kXMLErrEndTagFirst, Format("End tag \"%s\" comes before any start tag.", endName_.c_str()),
         nameIndex);
  }
  if (!SameText(endName_, current_->Name)) {
    Fail(kXMLErrEndTagMismatch,
         Format("End tag \"%s\" does not match the start tag \"%s\".", endName_.c_str(),
                current_->Name.c_str()),
         nameIndex);
  }
  // The root is the tag being parsed, which may itself sit in a tree of the caller's: reading
  // ends there rather than climbing into that tree.
  if (current_ == &root_) {
    stopped_ = true;
    return;
  }
  current_ = current_->Parent;
  state_ = State::Content;
}

bool Reader::OnAttrName(unsigned char c) {
  if (c == ' ' || c == '=') {
    if (attrName_.empty()) Fail(kXMLErrAttrNameExpected, "Attribute name expected.");
    state_ = State::AttrEq;
    return true;
  }
  if (c == '/') {
    ToEndClose();
  } else if (c == '>') {
    state_ = State::Content;
  } else if (IsNameChar(c)) {
    attrName_ += static_cast<char>(c);
  } else {
    Fail(kXMLErrAttrNameChar, "Invalid character in the attribute name.");
  }
  return false;
}

bool Reader::OnAttrEq(unsigned char c) {
  if (c == '=') {
    state_ = State::ValueOpen;
  } else if (c != ' ') {
    Fail(kXMLErrEquals, "Equals sign (\"=\") expected between attribute name and value.");
  }
  return false;
}

bool Reader::OnValueOpen(unsigned char c) {
  if (c == ' ') return false;
  if (c == '"' || c == '\'') {
    quote_ = c;
    value_.clear();
    state_ = State::Value;
    return false;
  }
  if (settings_.AllowUnquoted && IsNameChar(c)) {
    quote_ = kNoQuote;
    value_.clear();
    state_ = State::Value;
    return true;
  }
  Fail(kXMLErrQuote, "Opening quote character (single or double) expected.");
}

bool Reader::OnValue(unsigned char c) {
  if (quote_ != kNoQuote && c == quote_) {
    AddAttribute();
    state_ = State::AfterValue;
    return false;
  }
  if (quote_ == kNoQuote && (c == ' ' || c == '/' || c == '>')) {
    AddAttribute();
    state_ = State::AfterValue;
    return true;
  }
  value_ += static_cast<char>(c);
  return false;
}

void Reader::AddAttribute() {
  std::string entry;
  entry.reserve(attrName_.size() + 1 + value_.size());
  entry += attrName_;
  entry += '=';
  AppendUnescaped(entry, value_);
  current_->Attributes.push_back(std::move(entry));
}

bool Reader::OnAfterValue(unsigned char c) {
  if (c == ' ') {
    attrName_.clear();
    state_ = State::AttrName;
  } else if (c == '/') {
    ToEndClose();
  } else if (c == '>') {
    state_ = State::Content;
  } else {
    Fail(kXMLErrWhiteSpace, "White space or tag closing expected.");
  }
  return false;
}

bool Reader::OnComment(unsigned char raw) {
  if (raw == '-') {
    if (++hyphens_ == 2) state_ = State::CommentEnd;
  } else {
    hyphens_ = 0;
  }
  buffer_ += static_cast<char>(raw);
  return false;
}

bool Reader::OnCommentEnd(unsigned char c) {
  if (c != '>') Fail(kXMLErrRightAngle, "Right angle bracket (\">\") expected.");
  if (current_ && !settings_.SkipComments) {
    auto tag = std::make_unique<TXMLTag>();
    tag->Kind = TXMLTagKind::Comment;
    tag->Text = buffer_.substr(0, buffer_.size() - 2);  // without the closing "--"
    current_->AddChild(std::move(tag));
  }
  buffer_.clear();
  state_ = State::Content;
  return false;
}

void Reader::Fail(int code, const std::string& message, size_t index) const {
  TXMLPosition position = ErrorPosition(text_, index);
  char where[64];
  std::snprintf(where, sizeof where, " Line %d, position %d.", position.Line, position.Column);
  throw TXMLParserError(message + where, code);
}

// ---------------------------------------------------------------------------------------------
// The writer: the whole document goes into one string. The walk keeps its own stack, so that a
// deeply nested tree read from a hostile file cannot exhaust the machine stack.

void AppendIndent(std::string& out, int level, const TXMLSettings& settings) {
  if (level <= 0 || settings.IndentMode == 0) return;
  if (settings.IndentMode == 1) {
    out.append(static_cast<size_t>(level) * static_cast<size_t>(std::max(settings.IndentSize, 0)),
               ' ');
  } else {
    out.append(static_cast<size_t>(level), '\t');
  }
}

// Writes the tag and, for an element with children, its start tag only; true when the caller
// is to write the children and then the end tag.
bool AppendOpening(std::string& out, const TXMLTag& tag, int level, const TXMLSettings& settings) {
  if (tag.Kind != TXMLTagKind::Element) {
    if (IsBlank(tag.Text)) return false;
    if (tag.Kind == TXMLTagKind::Text) {
      out += tag.Text;
    } else {
      out += "<!--";
      out += tag.Text;
      out += "-->";
    }
    out += kLineEnd;
    return false;
  }
  if (tag.Name.empty()) return false;
  AppendIndent(out, level, settings);
  // "<name " + the attribute text, without trailing white space, built in place.
  const size_t head = out.size();
  out += '<';
  out += tag.Name;
  out += ' ';
  AppendAttributes(out, tag);
  TrimTail(out, head);
  const bool open = tag.Children.Count() > 0;
  out += open ? ">" : "/>";
  out += kLineEnd;
  return open;
}

void AppendClosing(std::string& out, const TXMLTag& tag, int level, const TXMLSettings& settings) {
  AppendIndent(out, level, settings);
  out += "</";
  out += tag.Name;
  out += ">";
  out += kLineEnd;
}

// A little more than the writer will need for the tree, so that the document is built in one
// allocation instead of being copied each time the string grows.
size_t EstimatedSize(const TXMLTag& root, int level, const TXMLSettings& settings) {
  size_t indentUnit = 1;
  if (settings.IndentMode == 0) indentUnit = 0;
  if (settings.IndentMode == 1) indentUnit = static_cast<size_t>(std::max(settings.IndentSize, 0));
  size_t size = 0;
  std::vector<std::pair<const TXMLTag*, int>> pending{{&root, level}};
  while (!pending.empty()) {
    auto [tag, depth] = pending.back();
    pending.pop_back();
    size += tag->Text.size() + 2 * tag->Name.size() + 2 * indentUnit * std::max(depth, 0) + 16;
    for (const std::string& entry : tag->Attributes) size += entry.size() + 4;
    for (const auto& child : tag->Children) pending.emplace_back(child.get(), depth + 1);
  }
  // Past this the string may as well grow: an estimate that large is mostly indentation of a
  // pathologically deep tree, and reserving it all up front could fail where growing would not.
  constexpr size_t kMostReserved = size_t{64} << 20;
  return std::min(size + size / 8, kMostReserved);
}

// A structural copy of source (names, attributes, children), made without recursion.
std::unique_ptr<TXMLTag> CopyStructure(const TXMLTag& source) {
  auto copy = std::make_unique<TXMLTag>();
  std::vector<std::pair<const TXMLTag*, TXMLTag*>> pending{{&source, copy.get()}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    to->SetName(from->Name);
    to->Attributes = from->Attributes;
    for (const auto& child : from->Children) {
      pending.emplace_back(child.get(), to->AddChild(std::make_unique<TXMLTag>()));
    }
  }
  return copy;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Settings

TXMLSettings& XMLSettings() {
  static TXMLSettings settings;
  return settings;
}

const char* const kXMLBoolNames[2] = {"False", "True"};
const char* const kXMLBoolDigits[2] = {"0", "1"};

// ---------------------------------------------------------------------------------------------
// TXMLTagList

TXMLTag* TXMLTagList::Add(std::unique_ptr<TXMLTag> tag) {
  if (!tag) return nullptr;
  tag->Parent = owner_;
  items_.push_back(std::move(tag));
  return items_.back().get();
}

void TXMLTagList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("TXMLTagList::Delete: bad index");
  std::unique_ptr<TXMLTag> tag = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  tag->Children.Clear();
}

std::unique_ptr<TXMLTag> TXMLTagList::Release(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("TXMLTagList::Release: bad index");
  std::unique_ptr<TXMLTag> tag = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  tag->Parent = nullptr;
  return tag;
}

// Tears the subtrees down level by level instead of recursively, so that a deep tree cannot
// exhaust the stack: each tag hands its children to the work list before it is destroyed.
void TXMLTagList::Clear() {
  std::vector<std::unique_ptr<TXMLTag>> pending = std::move(items_);
  items_.clear();
  while (!pending.empty()) {
    std::unique_ptr<TXMLTag> tag = std::move(pending.back());
    pending.pop_back();
    for (auto& child : tag->Children.items_) pending.push_back(std::move(child));
    tag->Children.items_.clear();
  }
}

// ---------------------------------------------------------------------------------------------
// TXMLTag

TXMLTag::TXMLTag() : Children(this) {}

TXMLTag::~TXMLTag() { Children.Clear(); }

void TXMLTag::SetName(const std::string& name) {
  Name = XMLSettings().LowerCaseNames ? LowerCaseAscii(name) : name;
}

void TXMLTag::Parse(const std::string& text) {
  Clear();
  Kind = TXMLTagKind::Element;
  Reader(*this, text).Run();
}

std::string TXMLTag::GetXML(int level) const {
  const TXMLSettings& settings = XMLSettings();
  std::string out;
  out.reserve(EstimatedSize(*this, level, settings));
  struct Frame {
    const TXMLTag* tag;
    int next;  // index of the next child to write
    int level;
  };
  if (!AppendOpening(out, *this, level, settings)) return out;
  std::vector<Frame> stack{{this, 0, level}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.tag->Children.Count()) {
      AppendClosing(out, *frame.tag, frame.level, settings);
      stack.pop_back();
      continue;
    }
    const TXMLTag& child = *frame.tag->Children[frame.next++];
    const int childLevel = frame.level + 1;
    if (AppendOpening(out, child, childLevel, settings)) stack.push_back({&child, 0, childLevel});
  }
  return out;
}

std::string TXMLTag::AttributesText() const {
  std::string out;
  AppendAttributes(out, *this);
  TrimTail(out, 0);
  return out;
}

bool TXMLTag::LoadFromFile(const std::string& fileName) {
  std::string text;
  if (!FileExists(fileName) || !TryReadWholeFile(fileName, text)) return false;
  Parse(text);
  return true;
}

bool TXMLTag::SaveToFile(const std::string& fileName) const {
  if (Name.empty()) return false;
  // The text is made before the old file goes, so that a failure here cannot lose it.
  const std::string text = GetXML();
  if (os::GetFileAttributes(fileName) != os::kInvalidAttributes) {
    os::SetFileAttributes(fileName, os::kAttrNormal);
    os::DeleteFile(fileName);
  }
  os::File file = os::File::Open(fileName, os::File::Mode::kCreate);
  if (!file.IsOpen()) return false;
  const bool written = file.Write(text.data(), text.size());
  file.Close();
  return written;
}

void TXMLTag::Clear() {
  Name.clear();
  Text.clear();
  Attributes.clear();
  Children.Clear();
}

void TXMLTag::Assign(const TXMLTag& source) {
  // Copied first: the source may be this tag or lie inside it, and Clear would destroy it.
  std::unique_ptr<TXMLTag> copy = CopyStructure(source);
  Clear();
  Name = std::move(copy->Name);
  Attributes = std::move(copy->Attributes);
  std::vector<std::unique_ptr<TXMLTag>> children;
  for (int i = copy->Children.Count(); i-- > 0;) children.push_back(copy->Children.Release(i));
  for (auto it = children.rbegin(); it != children.rend(); ++it) AddChild(std::move(*it));
}

void TXMLTag::Assign(const TXMLWritable& source) { source.WriteToTag(*this); }

TXMLTag* TXMLTag::AddChild(std::unique_ptr<TXMLTag> tag) { return Children.Add(std::move(tag)); }

bool TXMLTag::FindAttribute(const std::string& name, std::string& value) const {
  for (const std::string& entry : Attributes) {
    if (!SameText(NameOf(entry), name)) continue;
    value = ValueOf(entry);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Free functions

std::string Escape(const std::string& text, const std::string& extra) {
  const CharSet extraSet(extra);
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == 0) break;
    if (NeedsReference(c) || extraSet.Contains(c)) {
      AppendCharReference(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  AppendUnescaped(out, value);
  return out;
}

TXMLPosition ErrorPosition(const std::string& text, size_t index) {
  TXMLPosition position{1, 0};
  for (size_t i = 1; i <= text.size(); ++i) {
    if (i == index) {
      ++position.Column;
      break;
    }
    const char c = text[i - 1];
    if (c == '\n') {
      ++position.Line;
      position.Column = 0;
    } else if (c != '\r') {
      ++position.Column;
    }
  }
  return position;
}
