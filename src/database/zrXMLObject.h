// zrXMLObject: the object binding of the XML reader and writer. Objects that declare their data
// as bound properties read and write themselves as XML: simple properties become attributes of
// the object's element, object properties child elements, list items repeated child elements.
// Assigning one object to another goes through the same XML form. This file pair belongs to the
// XML module (zrXMLParser); it is kept apart only because of its size.
//
// A class declares its properties once, in a table in its .cpp file:
//
//   KX_XML_PROPERTIES(TkxFile, TkxActionObject,
//       Prop("Src", &TkxFile::Src),
//       Prop("Dst", &TkxFile::Dst))
//
// The kind of each property follows from the member's type (int32_t, char, double, bool, an
// enumeration with XMLEnumNames, TXMLSet<E>, std::string, TXMLVariant, std::unique_ptr<T> of a
// bound class or of TXMLTag); a string property may name a getter and a setter instead.
//
// Used by the project database and everything that loads or saves it. Not thread-safe: the
// objects and the process-wide XML settings belong to the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "database/zrXMLParser.h"

class TXMLObject;
class TXMLClassInfo;

enum class TXMLPropKind : uint8_t {
  Integer,  // int32_t
  Char,     // char: 8-bit character code
  Bool,     // bool: "1" or nothing
  Enum,     // enumeration with names
  Float,    // double
  String,   // std::string
  Set,      // TXMLSet<E>: members with ordinals 0 to 31
  Variant,  // TXMLVariant: read from text, never written, not cleared
  Object,   // std::unique_ptr<T>, T a bound class
  Tag,      // std::unique_ptr<TXMLTag>
};

// A set of enumerators with ordinals 0 to 31.
template <class E>
struct TXMLSet {
  uint32_t Bits = 0;
  bool Has(E e) const { return (Bits >> static_cast<unsigned>(e)) & 1u; }
  TXMLSet& Include(E e) {
    Bits |= 1u << static_cast<unsigned>(e);
    return *this;
  }
  TXMLSet& Exclude(E e) {
    Bits &= ~(1u << static_cast<unsigned>(e));
    return *this;
  }
  bool Empty() const { return Bits == 0; }
  bool operator==(const TXMLSet&) const = default;
};

// A value set from text by name; kept as that text.
struct TXMLVariant {
  std::string Text;
  bool Assigned = false;
};

// One bound property: its name, kind, type information and accessors. Accessors take the
// object as TXMLObject and cast it to the declaring class.
struct TXMLPropInfo {
  std::string Name;
  TXMLPropKind Kind = TXMLPropKind::String;
  std::span<const char* const> EnumNames;                // Enum and Set
  const TXMLClassInfo& (*ObjectClass)() = nullptr;       // Object: the declared class
  std::function<int64_t(const TXMLObject&)> GetOrdinal;  // Integer, Char, Bool, Enum, Set
  std::function<void(TXMLObject&, int64_t)> SetOrdinal;
  std::function<double(const TXMLObject&)> GetFloat;
  std::function<void(TXMLObject&, double)> SetFloat;
  std::function<std::string(const TXMLObject&)> GetString;  // String, Variant
  std::function<void(TXMLObject&, const std::string&)> SetString;
  std::function<TXMLObject*(const TXMLObject&)> GetObject;  // Object
  std::function<void(TXMLObject&, std::unique_ptr<TXMLObject>)> SetObject;
  std::function<TXMLTag*(const TXMLObject&)> GetTag;  // Tag
  std::function<void(TXMLObject&, std::unique_ptr<TXMLTag>)> SetTag;

  bool IsSimple() const { return Kind != TXMLPropKind::Variant && !IsObjectKind(); }
  bool IsObjectKind() const { return Kind == TXMLPropKind::Object || Kind == TXMLPropKind::Tag; }
};

// The run-time description of a bound class: its name, its parent, its own properties and its
// virtual constructor. The full property list (inherited ones included, a redeclared name
// replacing the inherited one) is sorted once, when the description is made.
class TXMLClassInfo {
 public:
  using Factory = std::unique_ptr<TXMLObject> (*)(TXMLObject* owner);

  TXMLClassInfo(std::string name, const TXMLClassInfo* parent, Factory factory,
                std::vector<TXMLPropInfo> properties);
  TXMLClassInfo(const TXMLClassInfo&) = delete;
  TXMLClassInfo& operator=(const TXMLClassInfo&) = delete;

  const std::string& Name() const { return name_; }
  const TXMLClassInfo* Parent() const { return parent_; }
  std::unique_ptr<TXMLObject> Create(TXMLObject* owner) const { return factory_(owner); }
  bool InheritsFrom(const TXMLClassInfo& other) const;

  // Every property, in binding order (see XMLNameLess).
  const std::vector<const TXMLPropInfo*>& Properties() const { return sorted_; }
  // The property of that name (case ignored), or nullptr.
  const TXMLPropInfo* Find(const std::string& name) const;

 private:
  std::string name_;
  const TXMLClassInfo* parent_;
  Factory factory_;
  std::vector<TXMLPropInfo> own_;
  std::vector<const TXMLPropInfo*> sorted_;
  std::vector<std::pair<std::string, const TXMLPropInfo*>> byName_;  // lower-case, sorted
};

// The binding order of property names: bytes compared with bit 5 cleared (letter case ignored,
// digits before letters, "_" after them), a prefix before the longer name.
bool XMLNameLess(const std::string& a, const std::string& b);

// Passed down the constructors of a bound class so that only the most-derived one finishes the
// object (creating its empty lists, AfterClear), when every member exists.
struct TXMLDeferInit {};

// The declarations every bound class needs: constructors from an owner, its class description.
#define KX_XML_CLASS_INFO()                      \
 public:                                         \
  static const TXMLClassInfo& StaticClassInfo(); \
  const TXMLClassInfo& ClassInfo() const override { return StaticClassInfo(); }

#define KX_XML_CLASS(Class, Base)                                                                 \
  KX_XML_CLASS_INFO()                                                                             \
  explicit Class(TXMLObject* owner = nullptr) : Class(owner, TXMLDeferInit{}) { FinishCreate(); } \
  Class(TXMLObject* owner, TXMLDeferInit defer) : Base(owner, defer) {}

// The property table of a class, in its .cpp file.
#define KX_XML_PROPERTIES(Class, Base, ...)                                         \
  const TXMLClassInfo& Class::StaticClassInfo() {                                   \
    using namespace xml_binding;                                                    \
    static const TXMLClassInfo info(#Class, &Base::StaticClassInfo(),               \
                                    &xml_binding::Construct<Class>, {__VA_ARGS__}); \
    return info;                                                                    \
  }

class TXMLObject : public TXMLWritable {
 public:
  explicit TXMLObject(TXMLObject* owner = nullptr) : TXMLObject(owner, TXMLDeferInit{}) {
    FinishCreate();
  }
  TXMLObject(TXMLObject* owner, TXMLDeferInit) : Owner(owner) {}
  ~TXMLObject() override = default;
  TXMLObject(const TXMLObject&) = delete;
  TXMLObject& operator=(const TXMLObject&) = delete;

  static const TXMLClassInfo& StaticClassInfo();
  virtual const TXMLClassInfo& ClassInfo() const { return StaticClassInfo(); }

  bool MergeMode = false;
  TXMLObject* Owner = nullptr;
  int32_t Column = 0;
  int32_t Line = 0;

  // Loading: from a tag (replacing the content unless MergeMode), or from another object through
  // the XML it writes.
  void Assign(const TXMLTag& source);
  void Assign(const TXMLObject& source);
  // Loads with MergeMode on: attributes present overwrite, lists grow.
  void MergeFrom(const TXMLTag& source);
  void MergeFrom(const TXMLObject& source);
  // Saving into a tag that the caller has named; the tag is not cleared.
  void AssignTo(TXMLTag& tag) const;
  void WriteToTag(TXMLTag& tag) const override { AssignTo(tag); }

  // False when the file cannot be read, is not an element or its root is not rootName (case
  // ignored; an empty rootName accepts any). The object is untouched then. Parser faults pass.
  bool LoadFromFile(const std::string& fileName, const std::string& rootName);
  bool SaveToFile(const std::string& fileName, const std::string& rootName) const;

  // Every simple property to its empty value, object properties destroyed, lists recreated empty.
  virtual void Clear();

  virtual void ReadAttribute(const std::string& entry);
  virtual void ReadChild(const TXMLTag& tag);
  virtual void WriteAttributes(TXMLTag& tag) const;
  virtual void WriteAttribute(const std::string& propertyName, TXMLTag& tag) const;
  virtual void WriteChildren(TXMLTag& tag) const;
  virtual std::string PropertyNameOf(const std::string& xmlName, bool isElement) const;
  virtual std::string XMLNameOf(const std::string& propertyName, bool isElement) const;
  virtual std::string EnumPrefix(const std::string& propertyName) const;
  virtual bool CanLoad(const TXMLTag& tag) const;
  virtual bool CanSave(const TXMLTag& tag) const;
  virtual void AfterClear() {}

 protected:
  // The end of construction: empty lists for the list properties, then AfterClear.
  void FinishCreate();
  // Clear's step 3: a new empty list in every list-typed property that holds none.
  void CreateEmptyLists();
  void LoadFromTag(const TXMLTag& tag);
  // Loads a child object from a part of the tag this object is loading from: merged when this
  // object merges. The tag cannot belong to the child, so no copy is needed.
  void LoadChild(TXMLObject& object, const TXMLTag& tag) const;
  bool HoldsTag(const TXMLTag* tag) const;
};

class TXMLObjectList : public TXMLObject {
  KX_XML_CLASS(TXMLObjectList, TXMLObject)

  bool AllowDuplicates = true;

  int Count() const { return static_cast<int>(items_.size()); }
  TXMLObject* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  int Add(std::unique_ptr<TXMLObject> item);
  void Delete(int index);
  int IndexOf(const TXMLObject* item) const;
  int Remove(const TXMLObject* item);
  TXMLObject* FindByProperty(const std::string& propertyName, const std::string& value,
                             bool caseSensitive) const;
  TXMLObject* FindByID(const std::string& id) const { return FindByProperty("ID", id, false); }

  void Clear() override;
  void ReadChild(const TXMLTag& tag) override;
  void WriteChildren(TXMLTag& tag) const override;

  virtual const TXMLClassInfo* ItemClass(const std::string& elementName) const;
  virtual std::string ItemElementName(const TXMLClassInfo& itemClass) const;
  virtual bool SameItem(const TXMLObject& newItem, const TXMLObject& oldItem) const;

 private:
  std::vector<std::unique_ptr<TXMLObject>> items_;
};

// Items with the properties "Name" and "Value".
class TXMLParamList : public TXMLObjectList {
  KX_XML_CLASS(TXMLParamList, TXMLObjectList)

  virtual const TXMLClassInfo& DefaultItemClass() const;
  virtual TXMLObject* FindByName(const std::string& name) const;
  void SetParam(const std::string& name, const std::string& value);
};

// A property set from text: integers decimal or "$" hexadecimal (0 when unreadable), Booleans
// true only for "1", enumerations by prefix + text (case ignored; the first when none matches),
// sets from ","-separated names. No effect for an unknown name or an object property.
void SetPropertyText(TXMLObject& object, const std::string& propertyName, const std::string& text,
                     const std::string& prefix);
// The text form of a property; empty for an unknown name or an object property.
std::string GetPropertyText(const TXMLObject& object, const std::string& propertyName,
                            const std::string& prefix);

// ---------------------------------------------------------------------------------------------
// Property table entries.

// Enumerations declare their names (in ordinal order) by an overload found by argument-dependent
// lookup: std::span<const char* const> XMLEnumNames(MyEnum).

namespace xml_binding {

template <class C>
std::unique_ptr<TXMLObject> Construct(TXMLObject* owner) {
  return std::make_unique<C>(owner);
}

template <class C>
const C& As(const TXMLObject& object) {
  return static_cast<const C&>(object);
}
template <class C>
C& As(TXMLObject& object) {
  return static_cast<C&>(object);
}

template <class C, class M>
TXMLPropInfo Ordinal(const char* name, TXMLPropKind kind, M C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = kind;
  p.GetOrdinal = [member](const TXMLObject& o) { return static_cast<int64_t>(As<C>(o).*member); };
  p.SetOrdinal = [member](TXMLObject& o, int64_t v) { As<C>(o).*member = static_cast<M>(v); };
  return p;
}

template <class C>
TXMLPropInfo Prop(const char* name, int32_t C::*member) {
  return Ordinal(name, TXMLPropKind::Integer, member);
}
template <class C>
TXMLPropInfo Prop(const char* name, char C::*member) {
  TXMLPropInfo p = Ordinal(name, TXMLPropKind::Char, member);
  p.GetOrdinal = [member](const TXMLObject& o) {
    return static_cast<int64_t>(static_cast<unsigned char>(As<C>(o).*member));
  };
  return p;
}
template <class C>
TXMLPropInfo Prop(const char* name, bool C::*member) {
  TXMLPropInfo p = Ordinal(name, TXMLPropKind::Bool, member);
  p.EnumNames = std::span<const char* const>(kXMLBoolNames, 2);
  p.SetOrdinal = [member](TXMLObject& o, int64_t v) { As<C>(o).*member = v != 0; };
  return p;
}
template <class C, class E>
requires std::is_enum_v<E> TXMLPropInfo Prop(const char* name, E C::*member) {
  TXMLPropInfo p = Ordinal(name, TXMLPropKind::Enum, member);
  p.EnumNames = XMLEnumNames(E{});
  return p;
}
template <class C, class E>
TXMLPropInfo Prop(const char* name, TXMLSet<E> C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::Set;
  p.EnumNames = XMLEnumNames(E{});
  p.GetOrdinal = [member](const TXMLObject& o) { return int64_t{(As<C>(o).*member).Bits}; };
  p.SetOrdinal = [member](TXMLObject& o, int64_t v) {
    (As<C>(o).*member).Bits = static_cast<uint32_t>(v);
  };
  return p;
}
template <class C>
TXMLPropInfo Prop(const char* name, double C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::Float;
  p.GetFloat = [member](const TXMLObject& o) { return As<C>(o).*member; };
  p.SetFloat = [member](TXMLObject& o, double v) { As<C>(o).*member = v; };
  return p;
}
template <class C>
TXMLPropInfo Prop(const char* name, std::string C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::String;
  p.GetString = [member](const TXMLObject& o) { return As<C>(o).*member; };
  p.SetString = [member](TXMLObject& o, const std::string& v) { As<C>(o).*member = v; };
  return p;
}
// A string property read and written through member functions.
template <class C>
TXMLPropInfo Prop(const char* name, const std::string& (C::*getter)() const,
                  void (C::*setter)(const std::string&)) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::String;
  p.GetString = [getter](const TXMLObject& o) { return (As<C>(o).*getter)(); };
  p.SetString = [setter](TXMLObject& o, const std::string& v) { (As<C>(o).*setter)(v); };
  return p;
}
template <class C>
TXMLPropInfo Prop(const char* name, TXMLVariant C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::Variant;
  p.GetString = [member](const TXMLObject& o) { return (As<C>(o).*member).Text; };
  p.SetString = [member](TXMLObject& o, const std::string& v) {
    As<C>(o).*member = TXMLVariant{v, true};
  };
  return p;
}
template <class C>
TXMLPropInfo Prop(const char* name, std::unique_ptr<TXMLTag> C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::Tag;
  p.GetTag = [member](const TXMLObject& o) { return (As<C>(o).*member).get(); };
  p.SetTag = [member](TXMLObject& o, std::unique_ptr<TXMLTag> v) {
    As<C>(o).*member = std::move(v);
  };
  return p;
}
template <class C, class T>
requires std::is_base_of_v<TXMLObject, T> TXMLPropInfo Prop(const char* name,
                                                            std::unique_ptr<T> C::*member) {
  TXMLPropInfo p;
  p.Name = name;
  p.Kind = TXMLPropKind::Object;
  p.ObjectClass = &T::StaticClassInfo;
  p.GetObject = [member](const TXMLObject& o) -> TXMLObject* { return (As<C>(o).*member).get(); };
  // Objects stored here come from the declared class's virtual constructor, so they are Ts.
  p.SetObject = [member](TXMLObject& o, std::unique_ptr<TXMLObject> v) {
    (As<C>(o).*member).reset(static_cast<T*>(v.release()));
  };
  return p;
}

}  // namespace xml_binding
