#include "database/zrXMLObject.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "support/zrStrUtils.h"

namespace {

// Property and element names are ASCII identifiers.
std::string LowerName(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

// The ordinal of the enumerator called name (case ignored), or -1.
int FindEnumerator(std::span<const char* const> names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameText(names[i], name)) return static_cast<int>(i);
  }
  return -1;
}

std::string EnumeratorText(std::span<const char* const> names, int64_t ordinal,
                           const std::string& prefix) {
  if (ordinal < 0 || ordinal >= static_cast<int64_t>(names.size())) return "";
  std::string name = names[static_cast<size_t>(ordinal)];
  return name.substr(std::min(prefix.size(), name.size()));
}

uint32_t TextToSet(std::span<const char* const> names, const std::string& text,
                   const std::string& prefix) {
  uint32_t bits = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    int ordinal = FindEnumerator(names, prefix + Trim(text.substr(start, comma - start)));
    if (ordinal >= 0 && ordinal <= 31) bits |= 1u << ordinal;
    start = comma + 1;
  }
  return bits;
}

std::string SetToText(std::span<const char* const> names, uint32_t bits,
                      const std::string& prefix) {
  std::string text;
  for (int ordinal = 0; ordinal <= 31; ++ordinal) {
    if (!((bits >> ordinal) & 1u)) continue;
    if (!text.empty()) text += ',';
    text += EnumeratorText(names, ordinal, prefix);
  }
  return text;
}

const TXMLPropInfo* FindProperty(const TXMLObject& object, const std::string& name) {
  return object.ClassInfo().Find(name);
}

// Resets MergeMode however the load ends.
class MergeScope {
 public:
  explicit MergeScope(TXMLObject& object) : object_(object) { object_.MergeMode = true; }
  ~MergeScope() { object_.MergeMode = false; }
  MergeScope(const MergeScope&) = delete;
  MergeScope& operator=(const MergeScope&) = delete;

 private:
  TXMLObject& object_;
};

// Loading recurses once per level of objects; a hostile file could nest elements deep enough to
// exhaust the stack. Real databases nest a few levels.
constexpr int kMaxLoadDepth = 256;
int loadDepth = 0;

class LoadDepthScope {
 public:
  explicit LoadDepthScope(const TXMLTag& tag) {
    if (loadDepth >= kMaxLoadDepth) {
      throw std::runtime_error("Objects nested deeper than " + std::to_string(kMaxLoadDepth) +
                               " levels. Line " + std::to_string(tag.Line) + ", position " +
                               std::to_string(tag.Column) + ".");
    }
    ++loadDepth;
  }
  ~LoadDepthScope() { --loadDepth; }
  LoadDepthScope(const LoadDepthScope&) = delete;
  LoadDepthScope& operator=(const LoadDepthScope&) = delete;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Class descriptions

bool XMLNameLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]) & 0xDF;
    unsigned char y = static_cast<unsigned char>(b[i]) & 0xDF;
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

TXMLClassInfo::TXMLClassInfo(std::string name, const TXMLClassInfo* parent, Factory factory,
                             std::vector<TXMLPropInfo> properties)
    : name_(std::move(name)), parent_(parent), factory_(factory), own_(std::move(properties)) {
  if (parent_) sorted_ = parent_->sorted_;
  for (const TXMLPropInfo& property : own_) {
    auto same = std::find_if(sorted_.begin(), sorted_.end(), [&](const TXMLPropInfo* p) {
      return SameText(p->Name, property.Name);
    });
    if (same != sorted_.end()) {
      *same = &property;
    } else {
      sorted_.push_back(&property);
    }
  }
  std::stable_sort(
      sorted_.begin(), sorted_.end(),
      [](const TXMLPropInfo* a, const TXMLPropInfo* b) { return XMLNameLess(a->Name, b->Name); });
  for (const TXMLPropInfo* property : sorted_)
    byName_.emplace_back(LowerName(property->Name), property);
  std::sort(byName_.begin(), byName_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

bool TXMLClassInfo::InheritsFrom(const TXMLClassInfo& other) const {
  for (const TXMLClassInfo* info = this; info; info = info->parent_) {
    if (info == &other) return true;
  }
  return false;
}

const TXMLPropInfo* TXMLClassInfo::Find(const std::string& name) const {
  std::string key = LowerName(name);
  auto it =
      std::lower_bound(byName_.begin(), byName_.end(), key,
                       [](const auto& entry, const std::string& k) { return entry.first < k; });
  if (it == byName_.end() || it->first != key) return nullptr;
  return it->second;
}

// ---------------------------------------------------------------------------------------------
// Text conversion

namespace {

void SetText(TXMLObject& object, const TXMLPropInfo* property, const std::string& text,
             const std::string& prefix) {
  switch (property->Kind) {
    case TXMLPropKind::Integer:
      property->SetOrdinal(object, TextToInt(text).value_or(0));
      break;
    case TXMLPropKind::Char:
      property->SetOrdinal(object, text.empty() ? 0 : static_cast<unsigned char>(text[0]));
      break;
    case TXMLPropKind::Bool:
      property->SetOrdinal(object, text == kXMLBoolDigits[1] ? 1 : 0);
      break;
    case TXMLPropKind::Enum:
      property->SetOrdinal(object, std::max(0, FindEnumerator(property->EnumNames, prefix + text)));
      break;
    case TXMLPropKind::Float:
      property->SetFloat(object, TextToDouble(Trim(text)).value_or(0));
      break;
    case TXMLPropKind::String:
    case TXMLPropKind::Variant:
      property->SetString(object, text);
      break;
    case TXMLPropKind::Set:
      property->SetOrdinal(object, TextToSet(property->EnumNames, text, prefix));
      break;
    case TXMLPropKind::Object:
    case TXMLPropKind::Tag:
      break;
  }
}

}  // namespace

void SetPropertyText(TXMLObject& object, const std::string& propertyName, const std::string& text,
                     const std::string& prefix) {
  if (const TXMLPropInfo* property = FindProperty(object, propertyName)) {
    SetText(object, property, text, prefix);
  }
}

namespace {

std::string GetText(const TXMLObject& object, const TXMLPropInfo* property,
                    const std::string& prefix) {
  switch (property->Kind) {
    case TXMLPropKind::Integer:
      return std::to_string(property->GetOrdinal(object));
    case TXMLPropKind::Char: {
      int64_t code = property->GetOrdinal(object);
      return code == 0 ? std::string() : std::string(1, static_cast<char>(code));
    }
    case TXMLPropKind::Bool:
      return kXMLBoolDigits[property->GetOrdinal(object) != 0 ? 1 : 0];
    case TXMLPropKind::Enum:
      return EnumeratorText(property->EnumNames, property->GetOrdinal(object), prefix);
    case TXMLPropKind::Float:
      return DoubleToText(property->GetFloat(object));
    case TXMLPropKind::String:
    case TXMLPropKind::Variant:
      return property->GetString(object);
    case TXMLPropKind::Set:
      return SetToText(property->EnumNames, static_cast<uint32_t>(property->GetOrdinal(object)),
                       prefix);
    case TXMLPropKind::Object:
    case TXMLPropKind::Tag:
      break;
  }
  return "";
}

}  // namespace

std::string GetPropertyText(const TXMLObject& object, const std::string& propertyName,
                            const std::string& prefix) {
  const TXMLPropInfo* property = FindProperty(object, propertyName);
  return property ? GetText(object, property, prefix) : std::string();
}

// ---------------------------------------------------------------------------------------------
// TXMLObject

const TXMLClassInfo& TXMLObject::StaticClassInfo() {
  static const TXMLClassInfo info("TXMLObject", nullptr, &xml_binding::Construct<TXMLObject>, {});
  return info;
}

void TXMLObject::FinishCreate() {
  CreateEmptyLists();
  AfterClear();
}

void TXMLObject::CreateEmptyLists() {
  for (const TXMLPropInfo* property : ClassInfo().Properties()) {
    if (property->Kind != TXMLPropKind::Object || property->GetObject(*this)) continue;
    const TXMLClassInfo& declared = property->ObjectClass();
    if (declared.InheritsFrom(TXMLObjectList::StaticClassInfo())) {
      property->SetObject(*this, declared.Create(this));
    }
  }
}

void TXMLObject::Clear() {
  for (const TXMLPropInfo* property : ClassInfo().Properties()) {
    switch (property->Kind) {
      case TXMLPropKind::Variant:
        break;
      case TXMLPropKind::Object:
        property->SetObject(*this, nullptr);
        break;
      case TXMLPropKind::Tag:
        property->SetTag(*this, nullptr);
        break;
      default:
        SetText(*this, property, "", "");
    }
  }
  CreateEmptyLists();
  AfterClear();
}

void TXMLObject::LoadFromTag(const TXMLTag& tag) {
  LoadDepthScope depth(tag);
  Column = tag.Column;
  Line = tag.Line;
  if (!MergeMode) Clear();
  for (const std::string& entry : tag.Attributes) ReadAttribute(entry);
  for (const auto& child : tag.Children) {
    if (child->Kind == TXMLTagKind::Element) ReadChild(*child);
  }
}

void TXMLObject::Assign(const TXMLTag& source) {
  const TXMLTag* root = &source;
  while (root->Parent) root = root->Parent;
  // Clearing would destroy a source that this object holds (a stored tag): load from a copy.
  if (!MergeMode && HoldsTag(root)) {
    TXMLTag copy;
    copy.Assign(source);
    copy.Column = source.Column;
    copy.Line = source.Line;
    LoadFromTag(copy);
    return;
  }
  LoadFromTag(source);
}

bool TXMLObject::HoldsTag(const TXMLTag* tag) const {
  for (const TXMLPropInfo* property : ClassInfo().Properties()) {
    if (property->Kind == TXMLPropKind::Tag && property->GetTag(*this) == tag) return true;
    if (property->Kind != TXMLPropKind::Object) continue;
    const TXMLObject* object = property->GetObject(*this);
    if (object && object->HoldsTag(tag)) return true;
  }
  if (auto* list = dynamic_cast<const TXMLObjectList*>(this)) {
    for (int i = 0; i < list->Count(); ++i) {
      if (list->Items(i)->HoldsTag(tag)) return true;
    }
  }
  return false;
}

void TXMLObject::LoadChild(TXMLObject& object, const TXMLTag& tag) const {
  if (MergeMode) {
    MergeScope scope(object);
    object.LoadFromTag(tag);
  } else {
    object.LoadFromTag(tag);
  }
}

void TXMLObject::Assign(const TXMLObject& source) {
  TXMLTag temporary;
  source.AssignTo(temporary);
  LoadFromTag(temporary);
}

void TXMLObject::MergeFrom(const TXMLTag& source) {
  MergeScope scope(*this);
  Assign(source);
}

void TXMLObject::MergeFrom(const TXMLObject& source) {
  MergeScope scope(*this);
  Assign(source);
}

void TXMLObject::AssignTo(TXMLTag& tag) const {
  tag.Kind = TXMLTagKind::Element;
  WriteAttributes(tag);
  WriteChildren(tag);
}

bool TXMLObject::LoadFromFile(const std::string& fileName, const std::string& rootName) {
  TXMLTag root;
  if (!root.LoadFromFile(fileName)) return false;
  if (!rootName.empty() && !SameText(root.Name, rootName)) return false;
  if (root.Kind != TXMLTagKind::Element) return false;
  LoadFromTag(root);
  return true;
}

bool TXMLObject::SaveToFile(const std::string& fileName, const std::string& rootName) const {
  TXMLTag root;
  root.SetName(rootName);
  AssignTo(root);
  return root.SaveToFile(fileName);
}

void TXMLObject::ReadAttribute(const std::string& entry) {
  size_t equals = entry.find('=');
  std::string name = LowerName(entry.substr(0, equals));
  std::string value = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
  std::string property = LowerName(PropertyNameOf(name, false));
  SetPropertyText(*this, property, value, EnumPrefix(property));
}

void TXMLObject::ReadChild(const TXMLTag& tag) {
  const TXMLPropInfo* property = FindProperty(*this, PropertyNameOf(tag.Name, true));
  if (!property) return;
  if (property->Kind == TXMLPropKind::Tag) {
    TXMLTag* stored = property->GetTag(*this);
    if (!stored) {
      auto created = std::make_unique<TXMLTag>();
      stored = created.get();
      property->SetTag(*this, std::move(created));
    }
    stored->Assign(tag);
    return;
  }
  if (property->Kind != TXMLPropKind::Object) return;
  TXMLObject* object = property->GetObject(*this);
  bool createdNow = false;
  if (!object) {
    auto created = property->ObjectClass().Create(this);
    object = created.get();
    property->SetObject(*this, std::move(created));
    createdNow = true;
  }
  if (!object->CanLoad(tag)) {
    if (createdNow) property->SetObject(*this, nullptr);
    return;
  }
  LoadChild(*object, tag);
}

void TXMLObject::WriteAttributes(TXMLTag& tag) const {
  for (const TXMLPropInfo* property : ClassInfo().Properties()) {
    if (property->IsSimple()) WriteAttribute(LowerName(property->Name), tag);
  }
}

void TXMLObject::WriteAttribute(const std::string& propertyName, TXMLTag& tag) const {
  const TXMLPropInfo* property = FindProperty(*this, propertyName);
  if (!property) return;
  std::string prefix = EnumPrefix(propertyName);
  std::string text = GetText(*this, property, prefix);
  if (XMLSettings().OmitDefaults) {
    switch (property->Kind) {
      case TXMLPropKind::Integer:
      case TXMLPropKind::Float:
      case TXMLPropKind::Bool:
        if (text == "0") text.clear();
        break;
      case TXMLPropKind::Enum:
        if (FindEnumerator(property->EnumNames, prefix + text) == 0) text.clear();
        break;
      default:
        break;
    }
  }
  if (text.empty()) return;
  if (property->Kind == TXMLPropKind::Enum || property->Kind == TXMLPropKind::Set) {
    text = LowerName(text);
  }
  tag.Attributes.push_back(LowerName(XMLNameOf(propertyName, false)) + "=" + text);
}

void TXMLObject::WriteChildren(TXMLTag& tag) const {
  for (const TXMLPropInfo* property : ClassInfo().Properties()) {
    if (property->Kind == TXMLPropKind::Tag) {
      const TXMLTag* stored = property->GetTag(*this);
      if (!stored) continue;
      auto copy = std::make_unique<TXMLTag>();
      copy->Assign(*stored);
      tag.AddChild(std::move(copy));
      continue;
    }
    if (property->Kind != TXMLPropKind::Object) continue;
    const TXMLObject* object = property->GetObject(*this);
    if (!object) continue;
    auto* list = dynamic_cast<const TXMLObjectList*>(object);
    if (list && list->Count() == 0) continue;
    auto child = std::make_unique<TXMLTag>();
    child->SetName(XMLNameOf(LowerName(property->Name), true));
    if (!object->CanSave(*child)) continue;
    object->AssignTo(*child);
    tag.AddChild(std::move(child));
  }
}

std::string TXMLObject::PropertyNameOf(const std::string& xmlName, bool) const { return xmlName; }
std::string TXMLObject::XMLNameOf(const std::string& propertyName, bool) const {
  return propertyName;
}
std::string TXMLObject::EnumPrefix(const std::string&) const { return ""; }
bool TXMLObject::CanLoad(const TXMLTag&) const { return true; }
bool TXMLObject::CanSave(const TXMLTag&) const { return true; }

// ---------------------------------------------------------------------------------------------
// TXMLObjectList

KX_XML_PROPERTIES(TXMLObjectList, TXMLObject)

int TXMLObjectList::Add(std::unique_ptr<TXMLObject> item) {
  if (!item) throw std::invalid_argument("TXMLObjectList.Add: no item");
  items_.push_back(std::move(item));
  return Count() - 1;
}

void TXMLObjectList::Delete(int index) {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  items_.erase(items_.begin() + index);
}

int TXMLObjectList::IndexOf(const TXMLObject* item) const {
  for (int i = 0; i < Count(); ++i) {
    if (items_[static_cast<size_t>(i)].get() == item) return i;
  }
  return -1;
}

int TXMLObjectList::Remove(const TXMLObject* item) {
  int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

TXMLObject* TXMLObjectList::FindByProperty(const std::string& propertyName,
                                           const std::string& value, bool caseSensitive) const {
  const std::optional<int32_t> number = TextToInt(value);
  for (const auto& item : items_) {
    const TXMLPropInfo* property = FindProperty(*item, propertyName);
    if (!property) continue;
    if (property->Kind == TXMLPropKind::Integer) {
      if (number && *number == property->GetOrdinal(*item)) return item.get();
    } else if (property->Kind == TXMLPropKind::String) {
      std::string text = property->GetString(*item);
      if (caseSensitive ? text == value : SameText(text, value)) return item.get();
    }
  }
  return nullptr;
}

void TXMLObjectList::Clear() {
  TXMLObject::Clear();
  items_.clear();
}

void TXMLObjectList::ReadChild(const TXMLTag& tag) {
  const TXMLClassInfo* itemClass = ItemClass(tag.Name);
  if (!itemClass) return;
  std::unique_ptr<TXMLObject> item = itemClass->Create(this);
  if (!item->CanLoad(tag)) return;
  LoadChild(*item, tag);
  if (!AllowDuplicates) {
    for (const auto& old : items_) {
      if (SameItem(*item, *old)) {
        old->Assign(*item);
        return;
      }
    }
  }
  Add(std::move(item));
}

void TXMLObjectList::WriteChildren(TXMLTag& tag) const {
  for (const auto& item : items_) {
    auto* list = dynamic_cast<const TXMLObjectList*>(item.get());
    if (list && list->Count() == 0) continue;
    std::string name = ItemElementName(item->ClassInfo());
    if (name.empty()) continue;
    auto child = std::make_unique<TXMLTag>();
    child->SetName(name);
    if (!item->CanSave(*child)) continue;
    item->AssignTo(*child);
    tag.AddChild(std::move(child));
  }
}

const TXMLClassInfo* TXMLObjectList::ItemClass(const std::string&) const { return nullptr; }
std::string TXMLObjectList::ItemElementName(const TXMLClassInfo&) const { return ""; }
bool TXMLObjectList::SameItem(const TXMLObject&, const TXMLObject&) const { return false; }

// ---------------------------------------------------------------------------------------------
// TXMLParamList

KX_XML_PROPERTIES(TXMLParamList, TXMLObjectList)

const TXMLClassInfo& TXMLParamList::DefaultItemClass() const {
  return TXMLObject::StaticClassInfo();
}

TXMLObject* TXMLParamList::FindByName(const std::string& name) const {
  return FindByProperty("Name", name, false);
}

void TXMLParamList::SetParam(const std::string& name, const std::string& value) {
  TXMLObject* found = nullptr;
  for (int i = 0; i < Count() && !found; ++i) {
    if (SameText(GetPropertyText(*Items(i), "Name", ""), name)) found = Items(i);
  }
  if (!found) {
    std::unique_ptr<TXMLObject> created = DefaultItemClass().Create(this);
    found = created.get();
    Add(std::move(created));
  }
  SetPropertyText(*found, "Name", name, "");
  SetPropertyText(*found, "Value", value, "");
}
