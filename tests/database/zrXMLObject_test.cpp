// The object binding: text conversion by kind, the attribute and element form of objects and
// lists, merging, copying and the file root check, on small classes of the test's own.
#include "database/zrXMLObject.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

enum class TColor : uint8_t { clRed, clGreen, clDeepBlue };
constexpr const char* kColorNames[] = {"clRed", "clGreen", "clDeepBlue"};
std::span<const char* const> XMLEnumNames(TColor) { return kColorNames; }

enum class TPart : uint8_t { ptHead, ptBody, ptTail };
constexpr const char* kPartNames[] = {"ptHead", "ptBody", "ptTail"};
std::span<const char* const> XMLEnumNames(TPart) { return kPartNames; }

class TSampleItem : public TXMLObject {
  KX_XML_CLASS(TSampleItem, TXMLObject)
  std::string Key;
  int32_t Weight = 0;
};

class TSampleItems : public TXMLObjectList {
  KX_XML_CLASS(TSampleItems, TXMLObjectList)
  const TXMLClassInfo* ItemClass(const std::string& name) const override {
    return name == "item" ? &TSampleItem::StaticClassInfo() : nullptr;
  }
  std::string ItemElementName(const TXMLClassInfo& itemClass) const override {
    return &itemClass == &TSampleItem::StaticClassInfo() ? "item" : "";
  }
};

// Items with the same Key are one item.
class TUniqueItems : public TSampleItems {
  KX_XML_CLASS_INFO()
  explicit TUniqueItems(TXMLObject* owner = nullptr) : TUniqueItems(owner, TXMLDeferInit{}) {
    FinishCreate();
  }
  TUniqueItems(TXMLObject* owner, TXMLDeferInit defer) : TSampleItems(owner, defer) {
    AllowDuplicates = false;
  }
  bool SameItem(const TXMLObject& a, const TXMLObject& b) const override {
    return static_cast<const TSampleItem&>(a).Key == static_cast<const TSampleItem&>(b).Key;
  }
};

// Refuses elements with skip="1" and never saves when Hidden.
class TSampleChild : public TXMLObject {
  KX_XML_CLASS(TSampleChild, TXMLObject)
  std::string Note;
  bool Hidden = false;  // not bound
  bool CanLoad(const TXMLTag& tag) const override {
    std::string skip;
    return !(tag.FindAttribute("skip", skip) && skip == "1");
  }
  bool CanSave(const TXMLTag&) const override { return !Hidden; }
};

class TSample : public TXMLObject {
  KX_XML_CLASS(TSample, TXMLObject)
  int32_t Count = 0;
  char Letter = 0;
  bool Enabled = false;
  TColor Color = TColor::clRed;
  double Ratio = 0;
  std::string Title;
  TXMLSet<TPart> Parts;
  TXMLVariant Extra;
  std::unique_ptr<TSampleChild> Child;
  std::unique_ptr<TXMLTag> Raw;
  std::unique_ptr<TSampleItems> Items;
  std::unique_ptr<TUniqueItems> Unique;
  std::string Unbound;  // not in the table

  std::string EnumPrefix(const std::string& name) const override {
    if (name == "color") return "cl";
    if (name == "parts") return "pt";
    return "";
  }
  // "caption" in XML is the Title property.
  std::string PropertyNameOf(const std::string& xmlName, bool isElement) const override {
    return !isElement && xmlName == "caption" ? "Title" : xmlName;
  }
  std::string XMLNameOf(const std::string& name, bool isElement) const override {
    return !isElement && name == "title" ? "caption" : name;
  }
};

// Nests without limit: <next><next>...</next></next>.
class TNode : public TXMLObject {
  KX_XML_CLASS(TNode, TXMLObject)
  std::unique_ptr<TNode> Next;
};

class TSampleParams : public TXMLParamList {
  KX_XML_CLASS(TSampleParams, TXMLParamList)
};
class TSampleParam : public TXMLObject {
  KX_XML_CLASS(TSampleParam, TXMLObject)
  std::string Name;
  std::string Value;
};
class TTypedParams : public TXMLParamList {
  KX_XML_CLASS(TTypedParams, TXMLParamList)
  const TXMLClassInfo& DefaultItemClass() const override { return TSampleParam::StaticClassInfo(); }
};

}  // namespace

// clang-format off
KX_XML_PROPERTIES(TSampleItem, TXMLObject,
    Prop("Key", &TSampleItem::Key),
    Prop("Weight", &TSampleItem::Weight))
KX_XML_PROPERTIES(TSampleItems, TXMLObjectList)
KX_XML_PROPERTIES(TUniqueItems, TSampleItems)
KX_XML_PROPERTIES(TSampleChild, TXMLObject,
    Prop("Note", &TSampleChild::Note))
KX_XML_PROPERTIES(TSample, TXMLObject,
    Prop("Count", &TSample::Count),
    Prop("Letter", &TSample::Letter),
    Prop("Enabled", &TSample::Enabled),
    Prop("Color", &TSample::Color),
    Prop("Ratio", &TSample::Ratio),
    Prop("Title", &TSample::Title),
    Prop("Parts", &TSample::Parts),
    Prop("Extra", &TSample::Extra),
    Prop("Child", &TSample::Child),
    Prop("Raw", &TSample::Raw),
    Prop("Items", &TSample::Items),
    Prop("Unique", &TSample::Unique))
KX_XML_PROPERTIES(TNode, TXMLObject,
    Prop("Next", &TNode::Next))
KX_XML_PROPERTIES(TSampleParams, TXMLParamList)
KX_XML_PROPERTIES(TSampleParam, TXMLObject,
    Prop("Name", &TSampleParam::Name),
    Prop("Value", &TSampleParam::Value))
KX_XML_PROPERTIES(TTypedParams, TXMLParamList)
// clang-format on

namespace {

std::unique_ptr<TXMLTag> ParseXML(const std::string& text) {
  auto tag = std::make_unique<TXMLTag>();
  tag->Parse(text);
  return tag;
}

std::unique_ptr<TXMLTag> Saved(const TXMLObject& object, const std::string& name = "root") {
  auto tag = std::make_unique<TXMLTag>();
  tag->SetName(name);
  object.AssignTo(*tag);
  return tag;
}

std::vector<std::string> ChildNames(const TXMLTag& tag) {
  std::vector<std::string> names;
  for (const auto& child : tag.Children) names.push_back(child->Name);
  return names;
}

// Restores the process-wide settings a test changes.
class SettingsGuard {
 public:
  SettingsGuard() : saved_(XMLSettings()) {}
  ~SettingsGuard() { XMLSettings() = saved_; }

 private:
  TXMLSettings saved_;
};

using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------

TEST(XMLNameOrderTest, ClearsBitFiveAndPutsPrefixesFirst) {
  struct Case {
    const char* a;
    const char* b;
    bool less;
  };
  const Case cases[] = {
      {"apple", "Banana", true}, {"Banana", "apple", false}, {"Name", "name", false},
      {"name", "Name", false},   {"a1", "aa", true},         {"a_", "az", false},
      {"az", "a_", true},        {"Icon", "IconFile", true}, {"IconFile", "Icon", false},
      {"", "a", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XMLNameLess(c.a, c.b), c.less) << c.a << " < " << c.b;
  }
}

TEST(XMLClassInfoTest, PropertiesComeInNameOrderWithInheritedOnes) {
  Strings names;
  for (const TXMLPropInfo* p : TSample::StaticClassInfo().Properties()) names.push_back(p->Name);
  EXPECT_EQ(names, (Strings{"Child", "Color", "Count", "Enabled", "Extra", "Items", "Letter",
                            "Parts", "Ratio", "Raw", "Title", "Unique"}));
  EXPECT_EQ(TSample::StaticClassInfo().Find("tItLe")->Name, "Title");
  EXPECT_EQ(TSample::StaticClassInfo().Find("Unbound"), nullptr);
  EXPECT_TRUE(TUniqueItems::StaticClassInfo().InheritsFrom(TXMLObjectList::StaticClassInfo()));
  EXPECT_FALSE(TSample::StaticClassInfo().InheritsFrom(TXMLObjectList::StaticClassInfo()));
}

// ---------------------------------------------------------------------------------------------

struct TextCase {
  const char* property;
  const char* prefix;
  const char* text;
  const char* expected;  // GetPropertyText with the same prefix
};

class PropertyTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(PropertyTextTest, ReadsAndWritesByKind) {
  const TextCase& c = GetParam();
  TSample sample;
  SetPropertyText(sample, c.property, c.text, c.prefix);
  EXPECT_EQ(GetPropertyText(sample, c.property, c.prefix), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PropertyTextTest,
    ::testing::Values(
        TextCase{"Count", "", "42", "42"}, TextCase{"Count", "", "-7", "-7"},
        TextCase{"Count", "", "$1F", "31"}, TextCase{"Count", "", "12abc", "0"},
        TextCase{"Count", "", "", "0"}, TextCase{"Letter", "", "xyz", "x"},
        TextCase{"Letter", "", "", ""}, TextCase{"Enabled", "", "1", "1"},
        TextCase{"Enabled", "", "True", "0"}, TextCase{"Enabled", "", "yes", "0"},
        TextCase{"Color", "cl", "DEEPblue", "DeepBlue"}, TextCase{"Color", "cl", "purple", "Red"},
        TextCase{"Color", "", "clGreen", "clGreen"}, TextCase{"Color", "", "green", "clRed"},
        TextCase{"Ratio", "", "2.5", "2.5"}, TextCase{"Ratio", "", "x", "0"},
        // The shortest text that reads back alike, fixed or scientific, whichever is shorter.
        TextCase{"Ratio", "", "0.1", "0.1"}, TextCase{"Ratio", "", " -100 ", "-100"},
        TextCase{"Ratio", "", "1e20", "1e+20"}, TextCase{"Ratio", "", "1.5e15", "1.5e+15"},
        TextCase{"Ratio", "", "123456789012", "123456789012"},
        TextCase{"Ratio", "", "0.0001", "1e-04"}, TextCase{"Ratio", "", "0.001", "0.001"},
        TextCase{"Ratio", "", "0.30000000000000004", "0.30000000000000004"},
        TextCase{"Ratio", "", "5e-324", "5e-324"}, TextCase{"Ratio", "", "1e-310", "1e-310"},
        TextCase{"Ratio", "", "-0", "-0"}, TextCase{"Ratio", "", "1e999", "0"},
        TextCase{"Ratio", "", "+1", "0"}, TextCase{"Ratio", "", "0x10", "0"},
        TextCase{"Ratio", "", "inf", "inf"}, TextCase{"Title", "", " spaced ", " spaced "},
        TextCase{"Parts", "pt", "tail, head", "Head,Tail"},
        TextCase{"Parts", "pt", " body ,nose,", "Body"}, TextCase{"Parts", "pt", "", ""},
        TextCase{"Extra", "", "anything", "anything"}, TextCase{"Child", "", "text", ""},
        TextCase{"Nothing", "", "1", ""}));

TEST(PropertyTextTest, UnknownNameChangesNothing) {
  TSample sample;
  sample.Title = "kept";
  SetPropertyText(sample, "Unbound", "x", "");
  EXPECT_EQ(sample.Unbound, "");
  EXPECT_EQ(GetPropertyText(sample, "Unbound", ""), "");
  EXPECT_EQ(sample.Title, "kept");
}

// ---------------------------------------------------------------------------------------------

TEST(XMLObjectSaveTest, DefaultObjectSavesAsBareElement) {
  TSample sample;
  auto tag = Saved(sample);
  EXPECT_TRUE(tag->Attributes.empty());
  EXPECT_EQ(tag->Children.Count(), 0);
  EXPECT_EQ(tag->Name, "root");
}

TEST(XMLObjectSaveTest, AttributesAreLowerCaseInNameOrderWithRenames) {
  TSample sample;
  sample.Title = "T";
  sample.Count = 3;
  sample.Enabled = true;
  sample.Color = TColor::clDeepBlue;
  sample.Parts.Include(TPart::ptTail).Include(TPart::ptHead);
  sample.Letter = 'Q';
  sample.Ratio = 0.25;
  sample.Extra = TXMLVariant{"never", true};
  auto tag = Saved(sample);
  EXPECT_EQ(tag->Attributes, (Strings{"color=deepblue", "count=3", "enabled=1", "letter=Q",
                                      "parts=head,tail", "ratio=0.25", "caption=T"}));
}

TEST(XMLObjectSaveTest, WithoutOmitDefaultsZeroesAndFirstEnumeratorsAreWritten) {
  SettingsGuard guard;
  XMLSettings().OmitDefaults = false;
  TSample sample;
  auto tag = Saved(sample);
  EXPECT_EQ(tag->Attributes, (Strings{"color=red", "count=0", "enabled=0", "ratio=0"}));
}

TEST(XMLObjectSaveTest, EmptyListsAreLeftOutAndChildrenFollowNameOrder) {
  TSample sample;
  sample.Child = std::make_unique<TSampleChild>(&sample);
  sample.Child->Note = "n";
  sample.Raw = ParseXML("<any a=\"1\"><inner/></any>");
  auto tag = Saved(sample);
  EXPECT_EQ(ChildNames(*tag), (Strings{"child", "any"}));

  auto item = std::make_unique<TSampleItem>(sample.Items.get());
  item->Key = "k";
  sample.Items->Add(std::move(item));
  tag = Saved(sample);
  EXPECT_EQ(ChildNames(*tag), (Strings{"child", "items", "any"}));
  EXPECT_EQ(tag->Children[1]->Children[0]->Attributes, (Strings{"key=k"}));
}

TEST(XMLObjectSaveTest, CanSaveFalseLeavesTheChildOut) {
  TSample sample;
  sample.Child = std::make_unique<TSampleChild>(&sample);
  sample.Child->Hidden = true;
  EXPECT_TRUE(ChildNames(*Saved(sample)).empty());
}

// ---------------------------------------------------------------------------------------------

TEST(XMLObjectLoadTest, AttributesAreMatchedWithoutCaseAndUnknownOnesIgnored) {
  TSample sample;
  sample.Assign(*ParseXML(
      "<root COUNT=\"5\" Caption=\"cap\" color=\"GREEN\" enabled=\"True\" parts=\"body, tail\""
      " bogus=\"1\" count=\"6\"/>"));
  EXPECT_EQ(sample.Count, 6);  // the later duplicate wins
  EXPECT_EQ(sample.Title, "cap");
  EXPECT_EQ(sample.Color, TColor::clGreen);
  EXPECT_FALSE(sample.Enabled);
  EXPECT_TRUE(sample.Parts.Has(TPart::ptBody) && sample.Parts.Has(TPart::ptTail));
  EXPECT_FALSE(sample.Parts.Has(TPart::ptHead));
  EXPECT_EQ(Saved(sample)->Attributes,
            (Strings{"color=green", "count=6", "parts=body,tail", "caption=cap"}));
}

TEST(XMLObjectLoadTest, AssignReplacesEverythingButVariants) {
  TSample sample;
  sample.Title = "old";
  sample.Count = 9;
  SetPropertyText(sample, "Extra", "kept", "");
  sample.Child = std::make_unique<TSampleChild>(&sample);
  sample.Assign(*ParseXML("<root enabled=\"1\"/>"));
  EXPECT_EQ(sample.Title, "");
  EXPECT_EQ(sample.Count, 0);
  EXPECT_TRUE(sample.Enabled);
  EXPECT_EQ(sample.Child, nullptr);
  EXPECT_EQ(sample.Extra.Text, "kept");
  ASSERT_NE(sample.Items, nullptr);  // lists exist even when the XML has none
  EXPECT_EQ(sample.Items->Owner, &sample);
}

TEST(XMLObjectLoadTest, PositionComesFromTheTag) {
  TSample sample;
  auto tag = ParseXML("<root>\r\n  <child note=\"x\"/></root>");
  const TXMLTag* element = nullptr;
  for (const auto& child : tag->Children) {
    if (child->Kind == TXMLTagKind::Element) element = child.get();
  }
  ASSERT_NE(element, nullptr);
  sample.Assign(*tag);
  ASSERT_NE(sample.Child, nullptr);
  EXPECT_EQ(sample.Child->Line, 2);
  EXPECT_EQ(sample.Child->Line, element->Line);
  EXPECT_EQ(sample.Child->Column, element->Column);
  EXPECT_EQ(sample.Line, tag->Line);
}

TEST(XMLObjectLoadTest, ChildObjectsAreCreatedWithOwnerAndRefusedOnesDropped) {
  TSample sample;
  sample.Assign(*ParseXML("<root><child note=\"a\"/><unknown/></root>"));
  ASSERT_NE(sample.Child, nullptr);
  EXPECT_EQ(sample.Child->Note, "a");
  EXPECT_EQ(sample.Child->Owner, &sample);

  sample.Assign(*ParseXML("<root><child skip=\"1\" note=\"b\"/></root>"));
  EXPECT_EQ(sample.Child, nullptr);
}

TEST(XMLObjectLoadTest, TagPropertyKeepsStructureOnly) {
  TSample sample;
  sample.Assign(*ParseXML("<root><raw a=\"1\">text<!-- c --><b x=\"2\"/></raw></root>"));
  ASSERT_NE(sample.Raw, nullptr);
  EXPECT_EQ(sample.Raw->Name, "raw");
  EXPECT_EQ(sample.Raw->Attributes, (Strings{"a=1"}));
  Strings named;
  for (const auto& child : sample.Raw->Children) {
    EXPECT_EQ(child->Kind, TXMLTagKind::Element);
    EXPECT_EQ(child->Text, "");
    if (!child->Name.empty()) named.push_back(child->Name);
  }
  EXPECT_EQ(named, (Strings{"b"}));
}

TEST(XMLObjectLoadTest, AssigningFromAStoredTagOfItsOwnIsSafe) {
  TSample sample;
  sample.Raw = ParseXML("<root count=\"4\"><raw z=\"1\"/></root>");
  sample.Assign(*sample.Raw);
  EXPECT_EQ(sample.Count, 4);
  ASSERT_NE(sample.Raw, nullptr);
  EXPECT_EQ(sample.Raw->Attributes, (Strings{"z=1"}));
}

TEST(XMLObjectLoadTest, HostileNestingFailsCleanly) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<next>";
    for (int i = 0; i < depth; ++i) text += "</next>";
    return text;
  };
  TNode shallow;
  EXPECT_NO_THROW(shallow.Assign(*ParseXML(nested(100))));
  int levels = 0;
  for (const TNode* node = &shallow; node->Next; node = node->Next.get()) ++levels;
  EXPECT_EQ(levels, 99);

  TNode deep;
  EXPECT_THROW(deep.Assign(*ParseXML(nested(5000))), std::runtime_error);
  EXPECT_FALSE(deep.MergeMode);
  EXPECT_NO_THROW(deep.Assign(*ParseXML(nested(3))));  // usable afterwards
  ASSERT_NE(deep.Next, nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(XMLObjectListTest, DuplicatesStayUnlessSameItemMatches) {
  TSample sample;
  sample.Assign(*ParseXML(
      "<root><items><item key=\"a\" weight=\"1\"/><item key=\"a\" weight=\"2\"/><other/></items>"
      "<unique><item key=\"a\" weight=\"1\"/><item key=\"b\"/><item key=\"a\" weight=\"2\"/>"
      "</unique></root>"));
  ASSERT_EQ(sample.Items->Count(), 2);
  EXPECT_EQ(static_cast<TSampleItem*>(sample.Items->Items(1))->Weight, 2);
  EXPECT_EQ(sample.Items->Items(0)->Owner, sample.Items.get());
  ASSERT_EQ(sample.Unique->Count(), 2);
  auto* first = static_cast<TSampleItem*>(sample.Unique->Items(0));
  EXPECT_EQ(first->Key, "a");
  EXPECT_EQ(first->Weight, 2);
}

TEST(XMLObjectListTest, MergeKeepsItemsWhereAssignReplacesThem) {
  auto base = ParseXML("<root count=\"1\" caption=\"t\"><items><item key=\"a\"/></items></root>");
  auto more = ParseXML("<root count=\"2\"><items><item key=\"b\"/></items></root>");

  TSample merged;
  merged.Assign(*base);
  merged.MergeFrom(*more);
  EXPECT_FALSE(merged.MergeMode);
  EXPECT_EQ(merged.Count, 2);
  EXPECT_EQ(merged.Title, "t");
  ASSERT_EQ(merged.Items->Count(), 2);
  EXPECT_EQ(static_cast<TSampleItem*>(merged.Items->Items(0))->Key, "a");
  EXPECT_EQ(static_cast<TSampleItem*>(merged.Items->Items(1))->Key, "b");

  TSample assigned;
  assigned.Assign(*base);
  assigned.Assign(*more);
  EXPECT_EQ(assigned.Title, "");
  ASSERT_EQ(assigned.Items->Count(), 1);
  EXPECT_EQ(static_cast<TSampleItem*>(assigned.Items->Items(0))->Key, "b");
}

TEST(XMLObjectListTest, MergeIntoUniqueListReplacesTheMatchingItem) {
  TSample sample;
  sample.Assign(*ParseXML("<root><unique><item key=\"a\" weight=\"1\"/></unique></root>"));
  sample.MergeFrom(*ParseXML("<root><unique><item key=\"a\" weight=\"5\"/></unique></root>"));
  ASSERT_EQ(sample.Unique->Count(), 1);
  EXPECT_EQ(static_cast<TSampleItem*>(sample.Unique->Items(0))->Weight, 5);
}

TEST(XMLObjectListTest, FindByPropertyMatchesIntegersAndStrings) {
  TSampleItems items;
  for (auto [key, weight] : {std::pair{"Alpha", 10}, std::pair{"beta", 20}}) {
    auto item = std::make_unique<TSampleItem>(&items);
    item->Key = key;
    item->Weight = weight;
    items.Add(std::move(item));
  }
  EXPECT_EQ(items.FindByProperty("key", "ALPHA", false), items.Items(0));
  EXPECT_EQ(items.FindByProperty("key", "ALPHA", true), nullptr);
  EXPECT_EQ(items.FindByProperty("Weight", "20", false), items.Items(1));
  EXPECT_EQ(items.FindByProperty("Weight", "$14", false), items.Items(1));
  EXPECT_EQ(items.FindByProperty("Weight", "20x", false), nullptr);
  EXPECT_EQ(items.FindByProperty("Missing", "20", false), nullptr);
  EXPECT_EQ(items.FindByID("Alpha"), nullptr);  // no ID property
}

TEST(XMLObjectListTest, DeleteRemoveAndIndexOf) {
  TSampleItems items;
  for (int i = 0; i < 3; ++i) items.Add(std::make_unique<TSampleItem>(&items));
  TXMLObject* middle = items.Items(1);
  EXPECT_EQ(items.IndexOf(middle), 1);
  EXPECT_EQ(items.Remove(middle), 1);
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(items.Remove(middle), -1);
  EXPECT_THROW(items.Delete(2), std::out_of_range);
  EXPECT_THROW(items.Delete(-1), std::out_of_range);
  EXPECT_THROW(items.Add(nullptr), std::invalid_argument);
  items.Delete(0);
  EXPECT_EQ(items.Count(), 1);
  items.Clear();
  EXPECT_EQ(items.Count(), 0);
}

TEST(XMLParamListTest, SetParamAddsOnceAndUpdatesByName) {
  TTypedParams params;
  params.SetParam("Path", "C:\\a");
  params.SetParam("PATH", "C:\\b");
  params.SetParam("Other", "x");
  ASSERT_EQ(params.Count(), 2);
  auto* first = dynamic_cast<TSampleParam*>(params.Items(0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Name, "PATH");
  EXPECT_EQ(first->Value, "C:\\b");
  EXPECT_EQ(first->Owner, &params);
  EXPECT_EQ(params.FindByName("other"), params.Items(1));
  EXPECT_EQ(params.FindByName("none"), nullptr);
}

TEST(XMLParamListTest, DefaultItemsHaveNoPropertiesToSet) {
  TSampleParams params;
  params.SetParam("a", "b");
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(GetPropertyText(*params.Items(0), "Name", ""), "");
}

// ---------------------------------------------------------------------------------------------

TEST(XMLObjectAssignTest, CopyHoldsEveryBoundPropertyAndNoUnboundOne) {
  TSample source;
  source.Assign(*ParseXML(
      "<root count=\"7\" caption=\"c\" color=\"deepblue\" parts=\"head\" letter=\"z\">"
      "<child note=\"n\"/><raw q=\"1\"/><items><item key=\"k\" weight=\"3\"/></items></root>"));
  source.Unbound = "u";
  TSample copy;
  copy.Assign(source);
  EXPECT_EQ(copy.Unbound, "");
  EXPECT_EQ(Saved(copy)->GetXML(), Saved(source)->GetXML());
  EXPECT_EQ(copy.Items->Count(), 1);
  EXPECT_EQ(copy.Child->Owner, &copy);
}

TEST(XMLObjectAssignTest, MergeFromObjectAddsToLists) {
  TSample target;
  target.Assign(*ParseXML("<root><items><item key=\"a\"/></items></root>"));
  TSample source;
  source.Assign(*ParseXML("<root count=\"2\"><items><item key=\"b\"/></items></root>"));
  target.MergeFrom(source);
  EXPECT_EQ(target.Count, 2);
  EXPECT_EQ(target.Items->Count(), 2);
}

// ---------------------------------------------------------------------------------------------

class XMLObjectFileTest : public ::testing::Test {
 protected:
  ScratchFolder folder_{CurrentTestName()};
  std::string Path(const std::string& name) const { return folder_.Path() + name; }
};

TEST_F(XMLObjectFileTest, LoadChecksTheRootNameWithoutCase) {
  ASSERT_TRUE(WriteFileText(Path("a.xml"), "<Sample count=\"3\"/>"));
  TSample sample;
  sample.Title = "untouched";
  EXPECT_FALSE(sample.LoadFromFile(Path("a.xml"), "other"));
  EXPECT_EQ(sample.Title, "untouched");
  EXPECT_EQ(sample.Count, 0);
  EXPECT_TRUE(sample.LoadFromFile(Path("a.xml"), "SAMPLE"));
  EXPECT_EQ(sample.Count, 3);
  EXPECT_EQ(sample.Title, "");
  TSample any;
  EXPECT_TRUE(any.LoadFromFile(Path("a.xml"), ""));
  EXPECT_EQ(any.Count, 3);
}

TEST_F(XMLObjectFileTest, MissingFileFailsAndParserFaultsPassThrough) {
  TSample sample;
  EXPECT_FALSE(sample.LoadFromFile(Path("missing.xml"), ""));
  ASSERT_TRUE(WriteFileText(Path("bad.xml"), "<root count=\"1\"><open></root>"));
  EXPECT_THROW(sample.LoadFromFile(Path("bad.xml"), ""), TXMLParserError);
}

TEST_F(XMLObjectFileTest, SavedFileLoadsBackTheSame) {
  TSample sample;
  sample.Title = "a&b <c>";
  sample.Count = -12;
  sample.Parts.Include(TPart::ptBody);
  sample.Items->Add(std::make_unique<TSampleItem>(sample.Items.get()));
  ASSERT_TRUE(sample.SaveToFile(Path("s.xml"), "sample"));
  TSample loaded;
  ASSERT_TRUE(loaded.LoadFromFile(Path("s.xml"), "sample"));
  EXPECT_EQ(loaded.Title, "a&b <c>");
  EXPECT_EQ(loaded.Count, -12);
  EXPECT_EQ(loaded.Parts, sample.Parts);
  EXPECT_EQ(loaded.Items->Count(), 1);
  EXPECT_FALSE(sample.SaveToFile("", "sample"));
}

}  // namespace
