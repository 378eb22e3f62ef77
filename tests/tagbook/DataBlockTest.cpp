#include <gtest/gtest.h>

#include <stdexcept>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "TagbookTestSupport.h"
#include "platform/Com.h"
#include "platform/Resources.h"
#include "tagbook/DataBlock.h"
#include "tagbook/TagbookResources.h"
#include "tagbook/UnitBlock.h"
#include "tagbook/XmlReportGenerator.h"

using tagbook_test::CRecordingListener;

namespace {
// A block with a handler on property 500, which counts its calls.
class CCountingBlock : public CDataBlock {
public:
    explicit CCountingBlock(CDataBlock* parent = nullptr) : CDataBlock(parent) {}
    void OnThreshold(CPropItem* item) {
        ++calls;
        lastItem = item;
    }
    void DefinePropertyHandlers() override {
        RegisterPropertyHandler(500, &CCountingBlock::OnThreshold);
    }
    int calls = 0;
    CPropItem* lastItem = nullptr;
};

// A units block that shows metres as feet, enough to see which path a value takes.
class CFeetUnits : public CDataBlock, public CUnitsConversion {
public:
    using CDataBlock::CDataBlock;
    BOOL ConvertForDisplay(const std::string& category, double value, std::string& text, long, int,
                           const std::string&) override {
        if (category != "Depth") {
            return FALSE;
        }
        text = FloatToText(value / 0.3048) + " ft";
        return TRUE;
    }
    BOOL ConvertFromDisplay(const std::string& category, const std::string& text, double& value,
                            long, std::string*) override {
        if (category != "Depth" || text.empty()) {
            return FALSE;
        }
        value = std::stod(text) * 0.3048;
        return TRUE;
    }
    BOOL ConvertForDisplay(const std::string&, const C2DPoint& value,
                           std::vector<std::string>& texts, long) override {
        texts = {FloatToText(value.x / 0.3048), FloatToText(value.y / 0.3048)};
        return TRUE;
    }
    BOOL ConvertForDisplay(const std::string&, const C3DPoint&, std::vector<std::string>&,
                           long) override {
        return FALSE;
    }
    BOOL ConvertFromDisplay(const std::string&, const std::vector<std::string>& texts,
                            C2DPoint& value, long) override {
        if (texts.size() != 2) {
            return FALSE;
        }
        value = C2DPoint(std::stod(texts[0]) * 0.3048, std::stod(texts[1]) * 0.3048);
        return TRUE;
    }
    BOOL ConvertFromDisplay(const std::string&, const std::vector<std::string>&, C3DPoint&,
                            long) override {
        return FALSE;
    }

private:
    static std::string FloatToText(double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2f", v);
        return buffer;
    }
};

struct Tree {
    CDataBlock root;
    CDataBlock* a = new CDataBlock(&root);
    CDataBlock* b = new CDataBlock(a);
    CDataBlock* c = new CDataBlock(b);
    Tree() {
        root.SetName("Root");
        a->SetName("A");
        b->SetName("B");
        c->SetName("C");
    }
};
}  // namespace

TEST(DataBlockTest, SetPathRefusesReadOnlyAndConvertsTextWithoutUnits) {
    CCountingBlock block;
    block.Initialise();
    ASSERT_TRUE(block.AddProperty("Threshold[Real=50]", 500));
    EXPECT_EQ(block.calls, 1);  // the initial value went through the set path
    block.calls = 0;
    CRecordingListener listener;
    block.AddNotifyTarget(&listener);

    // Text given to a Real item without units goes through the item's own conversion.
    EXPECT_TRUE(block.Set("Threshold", "75.5"));
    double value = 0.0;
    ASSERT_TRUE(block.Get("Threshold", value));
    EXPECT_DOUBLE_EQ(value, 75.5);
    EXPECT_EQ(block.calls, 1);
    EXPECT_EQ(listener.Count(TBN_PROPERTYCHANGED), 1);
    EXPECT_EQ(listener.seen.back().text, "Threshold");
    EXPECT_EQ(listener.seen.back().block, &block);

    // The same value: the handler still runs, but nobody is told of a change.
    EXPECT_FALSE(block.Set("Threshold", 75.5));
    EXPECT_EQ(block.calls, 2);
    EXPECT_EQ(listener.Count(TBN_PROPERTYCHANGED), 1);
    // A failed conversion: the handler runs too.
    EXPECT_FALSE(block.Set("Threshold", "high"));
    EXPECT_EQ(block.calls, 3);

    block.GetProperty("Threshold")->SetReadOnly(TRUE);
    EXPECT_FALSE(block.Set("Threshold", 1.0));
    block.Get("Threshold", value);
    EXPECT_DOUBLE_EQ(value, 75.5);
    // The owner's write ignores read-only, converts nothing, calls no handler, notifies.
    EXPECT_TRUE(block.Update("Threshold", 1.0));
    block.Get("Threshold", value);
    EXPECT_DOUBLE_EQ(value, 1.0);
    EXPECT_EQ(block.calls, 3);
    EXPECT_EQ(listener.Count(TBN_PROPERTYCHANGED), 2);
    EXPECT_FALSE(block.Update("Missing", 1.0));
}

TEST(DataBlockTest, AddSetAndTypedForms) {
    CDataBlock block;
    EXPECT_FALSE(block.Set("Speed", 3.0));
    EXPECT_FALSE(block.IsProperty("Speed"));
    EXPECT_TRUE(block.Set("Speed", 3.0, 1));
    double speed = 0.0;
    EXPECT_TRUE(block.Get("Speed", speed));
    EXPECT_DOUBLE_EQ(speed, 3.0);
    EXPECT_FALSE(block.Add("Speed", 9.0));
    block.Get("Speed", speed);
    EXPECT_DOUBLE_EQ(speed, 3.0);
    // The path may come from the string table.
    platform::RegisterString("DataBlockTest", 41300, "Speed");
    EXPECT_TRUE(block.Set(41300u, 3.5));
    EXPECT_TRUE(block.Get(41300u, speed));
    EXPECT_DOUBLE_EQ(speed, 3.5);
    EXPECT_TRUE(block.IsProperty(41300u));
    EXPECT_FALSE(block.IsProperty(41301u));
    EXPECT_EQ(CDataBlock::LoadName(41301), "");
    block.Set("Speed", 3.0);
    // Wrong types fail both ways.
    int whole = 0;
    EXPECT_FALSE(block.Get("Speed", whole));
    EXPECT_FALSE(block.Set("Speed", 4));
    // Every property reads as text.
    std::string text;
    EXPECT_TRUE(block.Get("Speed", text));
    EXPECT_EQ(text, "3");
    EXPECT_TRUE(block.Add("Name", "Survey"));
    EXPECT_TRUE(block.Add("When", COleDateTime(2026, 1, 2, 3, 4, 5)));
    EXPECT_TRUE(block.Add("Colour", CRGBColour(1, 0, 0, 1)));
    EXPECT_TRUE(block.Add("Mask", DWORD{7}));
    EXPECT_TRUE(block.Add("List", std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(block.GetPropertyNames(std::string(";")), "Speed;Name;When;Colour;Mask;List;");
    EXPECT_TRUE(block.IsModified());
    block.SetModifiedFlag(TRUE);
    EXPECT_FALSE(block.IsModified());
    EXPECT_TRUE(block.IsModified("Mask"));
    CTreeObject::POSITION pos = block.GetFirstPropertyNamePosition();
    EXPECT_EQ(block.GetNextPropertyName(pos), "Speed");
    EXPECT_EQ(block.GetNextPropertyName(pos), "Name");
    EXPECT_TRUE(block.DeleteProperty("Name"));
    EXPECT_FALSE(block.DeleteProperty("Name"));
    std::list<std::string> names;
    block.GetPropertyNames(names);
    EXPECT_EQ(names, (std::list<std::string>{"Speed", "When", "Colour", "Mask", "List"}));
}

TEST(DataBlockTest, PropertyIdsZeroAnd65535AreNeverFound) {
    CDataBlock block;
    ASSERT_TRUE(block.AddProperty("A[Real]", 0));
    ASSERT_TRUE(block.AddProperty("B[Real]", 65535));
    ASSERT_TRUE(block.AddProperty("C[Real]", 77));
    EXPECT_EQ(block.GetPropertyByID(0), nullptr);
    EXPECT_EQ(block.GetPropertyByID(65535), nullptr);
    ASSERT_NE(block.GetPropertyByID(77), nullptr);
    EXPECT_EQ(block.GetPropertyByID(77)->GetName(), "C");
    EXPECT_TRUE(block.SetByID(77, 2.5));
    double v = 0.0;
    EXPECT_TRUE(block.GetByID(77, v));
    EXPECT_DOUBLE_EQ(v, 2.5);
    EXPECT_FALSE(block.SetByID(78, 2.5));
    block.DeleteProperty("C");
    EXPECT_EQ(block.GetPropertyByID(77), nullptr);
}

TEST(DataBlockTest, PathsAndLookup) {
    Tree t;
    EXPECT_EQ(t.root.GetPath(), ":");
    EXPECT_EQ(t.a->GetPath(), ":A:");
    EXPECT_EQ(t.c->GetPath(), ":A:B:C:");
    EXPECT_EQ(t.c->GetRootBlock(), &t.root);

    std::string rest;
    EXPECT_EQ(t.c->Lookup(":A:y", &rest), t.a);
    EXPECT_EQ(rest, "y");
    EXPECT_EQ(t.root.Lookup("A:B:C:Range:Max", &rest), t.c);
    EXPECT_EQ(rest, "Range:Max");

    // A flat name with colons lives in the block where the walk stops.
    EXPECT_TRUE(t.root.Set("A:B:Calibration:Range:Maximum:EHF", 12.0, 1));
    EXPECT_NE(t.b->GetProperty("Calibration:Range:Maximum:EHF"), nullptr);
    double v = 0.0;
    EXPECT_TRUE(t.c->Get(":A:B:Calibration:Range:Maximum:EHF", v));
    EXPECT_DOUBLE_EQ(v, 12.0);

    // Repeated colons name no block: nothing jumps back to the root.
    EXPECT_TRUE(t.root.Set("Top", 1.0, 1));
    EXPECT_FALSE(t.root.Get("A::Top", v));
    EXPECT_FALSE(t.root.Set("A::Top", 5.0));
    EXPECT_FALSE(t.root.Set("::Top", 5.0));
    EXPECT_FALSE(t.root.Set("A:", 5.0, 1));
    EXPECT_FALSE(t.root.Set("", 5.0, 1));
    t.root.Get("Top", v);
    EXPECT_DOUBLE_EQ(v, 1.0);
}

TEST(DataBlockTest, MenuItemWithoutNameTakesThePopupName) {
    platform::RegisterMenu(
        "DataBlockTest", 41100,
        {MenuEntry::Popup(
             "Box-in[Settings]",
             {MenuEntry::Popup(
                 "Error",
                 {MenuEntry::Popup("Threshold", {MenuEntry::Item(0, "[Real=50]")}),
                  MenuEntry::Separator(), MenuEntry::Item(41101, "Count[int:ReadOnly=3]")})}),
         MenuEntry::Item(41102, "Mode[Integer:Choices:Off,On|Format:\"%d\"=On]"),
         MenuEntry::Item(41103, "Broken[Real"), MenuEntry::Item(41104, "[Real=1]")});
    CDataBlock block;
    ASSERT_TRUE(block.LoadMenuA(41100));
    CPropItem* item = block.GetProperty("Box-in:Error:Threshold");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetType(), PROP_REAL);
    double v = 0.0;
    block.Get("Box-in:Error:Threshold", v);
    EXPECT_DOUBLE_EQ(v, 50.0);

    CPropItem* count = block.GetPropertyByID(41101);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->GetName(), "Box-in:Error:Count");
    EXPECT_TRUE(count->IsReadOnly());
    int n = 0;
    block.Get("Box-in:Error:Count", n);
    EXPECT_EQ(n, 3);  // the initial value was set before the item became read-only

    std::string mode;
    block.Get("Mode", mode);
    EXPECT_EQ(mode, "On");
    EXPECT_EQ(block.GetProperty("Mode")->GetFormatString(), "%d");
    EXPECT_EQ(block.GetPropertyByID(41103), nullptr);
    EXPECT_EQ(block.GetPropertyByID(41104), nullptr);
    EXPECT_FALSE(block.LoadMenuA(0));
    EXPECT_FALSE(block.LoadMenuA(65535));
    EXPECT_FALSE(block.LoadMenuA(41199));
}

TEST(DataBlockTest, DefaultSettingsMenuLoads) {
    CDataBlock block;
    ASSERT_TRUE(block.LoadMenuA(tagbook::IDR_DEFAULT_SETTINGS));
    std::string text;
    EXPECT_TRUE(block.Get("Units:Angle:Default", text));
    EXPECT_EQ(text, "DDD.ddd");
    EXPECT_TRUE(block.Get("Units:Definitions:Celsius:Label", text));
    EXPECT_EQ(text, "°C");
    EXPECT_TRUE(block.Get("Units:Pressure:Available", text));
    EXPECT_EQ(text, "Kilopascals,Millibars,Atmospheres,Millimetres of Mercury,PSi");
    double offset = 0.0;
    EXPECT_TRUE(block.Get("Units:Definitions:Fahrenheit:Offset", offset));
    EXPECT_DOUBLE_EQ(offset, 32.0);
    int places = 0;
    EXPECT_TRUE(block.Get("Units:Latitude/Longitude:DDD MM SS.sss:DecPlaces", places));
    EXPECT_EQ(places, 3);
    int visible = 1;
    EXPECT_TRUE(block.Get("Units:ScaleFactor:Visible", visible));
    EXPECT_EQ(visible, 0);
    EXPECT_TRUE(block.IsProperty("Version"));

    // The unit block's menu gives "Show"-style enumerated integers their choices by ID.
    CDataBlock units;
    units.AddProperty("Show[int]", tagbook::IDR_UNITS_SHOW);
    std::vector<std::string> choices;
    EXPECT_TRUE(units.GetChoices("Show", choices));
    EXPECT_EQ(choices.size(), 12u);
    EXPECT_EQ(choices[9], "Velocity");
}

TEST(DataBlockTest, InitialiseOnceAddsTheUid) {
    CDataBlock block;
    block.Initialise();
    block.Initialise();
    EXPECT_EQ(block.GetPropertyNames(std::string(",")), "UID,");
    DWORD uid = 0;
    EXPECT_TRUE(block.Get("UID", uid));
    EXPECT_EQ(uid, block.GetUID());
    EXPECT_FALSE(block.Set("UID", DWORD{5}));
    EXPECT_EQ(CDataBlock::GetObjectA(block.GetUID()), &block);
    DWORD stale = 0;
    {
        CDataBlock gone;
        stale = gone.GetUID();
    }
    EXPECT_EQ(CDataBlock::GetObjectA(stale), nullptr);
    CDataBlock next;
    EXPECT_GT(next.GetUID(), stale);
}

TEST(DataBlockTest, ShortcutStopsAnsweringWhenItsTargetDies) {
    CDataBlock shortcut;
    auto* target = new CDataBlock;
    target->Set("Gain", 2.0, 1);
    EXPECT_EQ(shortcut.SetShortcutTarget(target), nullptr);
    EXPECT_TRUE(shortcut.IsShortcut());
    double gain = 0.0;
    EXPECT_TRUE(shortcut.Get("Gain", gain));
    EXPECT_DOUBLE_EQ(gain, 2.0);
    EXPECT_TRUE(shortcut.Set("Gain", 3.0));
    EXPECT_EQ(shortcut.Lookup("Gain"), target);
    delete target;
    EXPECT_TRUE(shortcut.IsShortcut());
    EXPECT_EQ(shortcut.GetShortcutTarget(), nullptr);
    EXPECT_FALSE(shortcut.Get("Gain", gain));
    EXPECT_FALSE(shortcut.Set("Gain", 4.0, 1));
    EXPECT_FALSE(shortcut.Add("Gain", 4.0));
    EXPECT_EQ(shortcut.Lookup("Gain"), nullptr);
    EXPECT_FALSE(shortcut.OnCmdMsg(1, CN_COMMAND, nullptr, nullptr));

    // Two shortcuts standing for each other fail instead of forwarding for ever.
    CDataBlock other;
    other.SetShortcutTarget(&shortcut);
    shortcut.SetShortcutTarget(&other);
    EXPECT_FALSE(shortcut.Get("Gain", gain));
    EXPECT_EQ(shortcut.Lookup("Gain"), nullptr);
}

TEST(DataBlockTest, ListenersVetoNamesAndHearRenames) {
    Tree t;
    CRecordingListener listener;
    t.b->AddNotifyTarget(&listener);
    listener.hook = [](NM_TAGBOOK& record, LRESULT& result) {
        if (record.code == TBN_VALIDATENAME && record.text == "Forbidden") {
            result = 1;
        }
    };
    EXPECT_FALSE(t.b->SetName("Forbidden"));
    EXPECT_EQ(t.b->GetName(), "B");
    EXPECT_FALSE(t.b->SetName(""));
    EXPECT_TRUE(t.b->SetName("Beta"));
    EXPECT_EQ(t.b->GetOldName(), "B");
    EXPECT_EQ(listener.seen.back().code, TBN_RENAMED);
    EXPECT_EQ(listener.seen.back().text, "Beta");
    // The parent finds the child under its new name only.
    EXPECT_EQ(t.a->GetChildObject("Beta"), t.b);
    EXPECT_EQ(t.a->GetChildObject("B"), nullptr);
    EXPECT_EQ(t.root.Lookup("A:Beta:C:x"), t.c);
}

TEST(DataBlockTest, NotifyTargetsComeAndGo) {
    CDataBlock block;
    block.SetNotifyID(42);
    block.Set("X", 1.0, 1);
    CRecordingListener listener;
    EXPECT_TRUE(block.AddNotifyTarget(&listener));
    EXPECT_FALSE(block.AddNotifyTarget(&listener));
    EXPECT_FALSE(block.AddNotifyTarget(nullptr));
    block.Set("X", 2.0);
    ASSERT_EQ(listener.seen.size(), 1u);
    EXPECT_EQ(listener.seen[0].id, 42u);
    EXPECT_TRUE(block.RemoveNotifyTarget(&listener));
    EXPECT_FALSE(block.RemoveNotifyTarget(&listener));
    block.Set("X", 3.0);
    EXPECT_EQ(listener.seen.size(), 1u);
    EXPECT_TRUE(block.AddNotifyTarget(&listener));
    block.Set("X", 4.0);
    EXPECT_EQ(listener.seen.size(), 2u);

    // A child inherits the notify ID; its arrival and removal are told.
    auto* child = new CDataBlock;
    child->SetName("Child");
    block.AddChild(child);
    EXPECT_EQ(child->GetNotifyID(), 42u);
    EXPECT_EQ(listener.seen.back().code, TBN_CHILDADDED);
    EXPECT_EQ(listener.seen.back().child, child);
    delete child;
    EXPECT_EQ(listener.seen.back().code, TBN_CHILDREMOVING);
    EXPECT_EQ(block.GetChildObject("Child"), nullptr);
}

TEST(DataBlockTest, ListenersMayWriteBackIntoTheBlockTheyHearFrom) {
    CDataBlock block;
    block.Set("Heading", 0.0, 1);
    block.Set("Changes", 0, 1);
    CRecordingListener listener;
    listener.hook = [](NM_TAGBOOK& record, LRESULT&) {
        if (record.text == "Heading") {
            int changes = 0;
            record.pBlock->Get("Changes", changes);
            record.pBlock->Set("Changes", changes + 1);
        }
    };
    block.AddNotifyTarget(&listener);
    EXPECT_TRUE(block.Set("Heading", 10.0));
    EXPECT_TRUE(block.Set("Heading", 20.0));
    int changes = 0;
    block.Get("Changes", changes);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(listener.Count(TBN_PROPERTYCHANGED), 4);
}

TEST(DataBlockTest, ListenersThatThrowOrLeaveDuringANotification) {
    CDataBlock block;
    block.Set("X", 1.0, 1);
    CRecordingListener thrower;
    CRecordingListener leaver;
    CRecordingListener last;
    thrower.hook = [](NM_TAGBOOK&, LRESULT&) { throw std::runtime_error("listener fault"); };
    leaver.hook = [&](NM_TAGBOOK& record, LRESULT&) { record.pBlock->RemoveNotifyTarget(&leaver); };
    block.AddNotifyTarget(&thrower);
    block.AddNotifyTarget(&leaver);
    block.AddNotifyTarget(&last);
    EXPECT_TRUE(block.Set("X", 2.0));
    EXPECT_EQ(leaver.seen.size(), 1u);
    EXPECT_EQ(last.seen.size(), 1u);
    EXPECT_TRUE(block.Set("X", 3.0));
    EXPECT_EQ(leaver.seen.size(), 1u);
    EXPECT_EQ(last.seen.size(), 2u);
    EXPECT_EQ(thrower.seen.size(), 2u);
}

TEST(DataBlockTest, DestroyedListenersAndBlocksLeaveNoDanglingSlots) {
    auto* listener = new CRecordingListener;
    CDataBlock block;
    block.Set("X", 1.0, 1);
    block.AddNotifyTarget(listener);
    block.AddCommandTarget(listener);
    delete listener;  // its slots in the block read null from now on
    EXPECT_TRUE(block.Set("X", 2.0));
    EXPECT_FALSE(block.OnCmdMsg(7, CN_COMMAND, nullptr, nullptr));

    // A block that dies first detaches its slots, so the listener can die later.
    CRecordingListener survivor;
    {
        CDataBlock shortLived;
        shortLived.AddNotifyTarget(&survivor);
        shortLived.AddCommandTarget(&survivor);
    }
    EXPECT_EQ(survivor.Count(TBN_DESTROYING), 1);
}

TEST(DataBlockTest, CommandsGoToTheFirstTargetThatHandlesThem) {
    CDataBlock block;
    CRecordingListener first;
    CRecordingListener second;
    block.AddCommandTarget(&first);
    block.AddCommandTarget(&second);
    EXPECT_FALSE(block.OnCmdMsg(100, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(first.commands.size(), 1u);
    EXPECT_EQ(second.commands.size(), 1u);
    first.handleCommands = true;
    EXPECT_TRUE(block.OnCmdMsg(101, CN_UPDATE_COMMAND_UI, nullptr, nullptr));
    EXPECT_EQ(second.commands.size(), 1u);
    // Other messages are not passed on.
    EXPECT_FALSE(block.OnCmdMsg(102, 5, nullptr, nullptr));
    EXPECT_EQ(first.commands.size(), 2u);
}

TEST(DataBlockTest, UnitsBlockConvertsTextInBothDirections) {
    CDataBlock root;
    auto* units = new CFeetUnits(&root);
    units->SetName("Units");
    auto* sensor = new CDataBlock(&root);
    sensor->SetName("Sensor");
    ASSERT_TRUE(sensor->AddProperty("Depth[Real:Units:Depth/Metres=10]", 0));
    double metres = 0.0;
    sensor->Get("Depth", metres);
    EXPECT_NEAR(metres, 3.048, 1e-12);  // the initial text was in display units
    std::string text;
    EXPECT_TRUE(root.Get("Sensor:Depth", text));
    EXPECT_EQ(text, "10.00 ft");
    // Numbers are internal units: no conversion.
    EXPECT_TRUE(sensor->Set("Depth", 1.0));
    sensor->Get("Depth", text);
    EXPECT_EQ(text, "3.28 ft");
    ASSERT_TRUE(sensor->AddProperty("Offset[2dPoint:Units:Depth=1,2]", 0));
    C2DPoint offset;
    sensor->Get("Offset", offset);
    EXPECT_NEAR(offset.y, 0.6096, 1e-12);
    sensor->Get("Offset", text);
    EXPECT_EQ(text, "1.00, 2.00");
    // A category the units block does not know: the item's own conversion.
    ASSERT_TRUE(sensor->AddProperty("Speed[Real:Units:Speed=4]", 0));
    sensor->Get("Speed", text);
    EXPECT_EQ(text, "4");
    // A format string drops the units.
    EXPECT_TRUE(sensor->SetFormatString("Depth", "%.1f m"));
    sensor->Get("Depth", text);
    EXPECT_EQ(text, "1.0 m");
}

TEST(DataBlockTest, DumpAndXml) {
    Tree t;
    t.root.Set("Gain", 2.5, 1);
    t.root.AddProperty("Mode[int:Choices:Off,On|ReadOnly=1]", 0);
    t.b->AddProperty("Label[String=\"a b\"]", 9001);
    std::vector<std::string> lines;
    ASSERT_TRUE(t.root.DumpProperties(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{":Gain = 2.5", ":Mode = \"On\" [Read Only]",
                                               ":A:B:Label = \"a b\""}));

    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNodePtr top = xmlNewNode(nullptr, BAD_CAST "Report");
    xmlDocSetRootElement(doc, top);
    std::string error;
    t.b->Set("Label", "<&>");
    EXPECT_EQ(t.b->GenerateXmlElementForProperty(doc, top, "Label", 9001, &error), S_OK);
    EXPECT_NE(t.b->GenerateXmlElementForProperty(doc, top, "Label", 9002, &error), S_OK);
    xmlChar* content = xmlNodeGetContent(top->children);
    EXPECT_STREQ(reinterpret_cast<const char*>(content), "<&>");
    xmlFree(content);
    xmlFreeDoc(doc);
}

namespace {
std::string Dumped(xmlDocPtr doc) {
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &text, &size, "UTF-8");
    std::string dumped(reinterpret_cast<char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    return dumped;
}
}  // namespace

TEST(DataBlockTest, PropertyElementsHaveTheReportGeneratorsShapeAndChecks) {
    CDataBlock root;
    root.SetName("Root");
    root.Initialise();
    ASSERT_TRUE(root.AddProperty("Units[CUnitsBlock]", 0));
    auto* units = dynamic_cast<CUnitsBlock*>(root.GetChildObject("Units"));
    ASSERT_NE(units, nullptr);
    units->Set("Depth:Name", "Metres");
    ASSERT_TRUE(root.AddProperty("Depth[Real:Units:Depth=12.5]", 9101));
    ASSERT_TRUE(root.AddProperty("Note[String]", 9102));
    root.Set("Note", std::string("12\xB0 ok"));  // 8-bit text from older software

    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNodePtr top = xmlNewNode(nullptr, BAD_CAST "Report");
    xmlDocSetRootElement(doc, top);
    std::string error;
    EXPECT_EQ(root.GenerateXmlElementForProperty(doc, top, "Depth", 9101, &error), S_OK);
    EXPECT_EQ(CXmlReportGenerator::GenerateXmlElementWithUnits(doc, top, "Same", 12.5, units,
                                                               "Depth", &error),
              S_OK);
    EXPECT_EQ(root.GenerateXmlElementForProperty(doc, top, "Note", 9102, &error), S_OK);
    EXPECT_EQ(root.GenerateXmlElementForProperty(doc, top, "bad name", 9102, &error), E_FAIL);
    EXPECT_EQ(error,
              "Exception 0x80004005 in CDataBlock::GenerateXmlElementForProperty()\n"
              "Element = bad name, Value = 12\xB0 ok");
    const std::string xml = Dumped(doc);
    xmlFreeDoc(doc);
    EXPECT_NE(xml.find("<Depth value=\"12.50\" units=\"m\">12.50 m</Depth>"), std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<Same value=\"12.50\" units=\"m\">12.50 m</Same>"), std::string::npos);
    EXPECT_NE(xml.find("<Note>12\xC2\xB0 ok</Note>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("bad name"), std::string::npos);
    // What was written reads back as one well-formed document.
    xmlDocPtr again = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                    XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(again, nullptr);
    xmlFreeDoc(again);
}

TEST(DataBlockTest, AMenuMadeFromEntriesDeclaresItsPopUpsProperties) {
    CDataBlock block;
    CMenu menu({MenuEntry::Popup("Box", {MenuEntry::Item(9201, "Size[Integer=3]")}),
                MenuEntry::Item(9202, "Gain[Real=1.5]")});
    ASSERT_TRUE(block.LoadMenuA(&menu, std::string()));
    int size = 0;
    EXPECT_TRUE(block.Get("Box:Size", size));
    EXPECT_EQ(size, 3);
    double gain = 0.0;
    EXPECT_TRUE(block.Get("Gain", gain));
    EXPECT_EQ(gain, 1.5);
}

namespace {
class CSpecChildBlock : public CDataBlock {
    DECLARE_DYNCREATE(CSpecChildBlock)
public:
    CSpecChildBlock() = default;
};
IMPLEMENT_DYNCREATE(CSpecChildBlock, CDataBlock)
}  // namespace

TEST(DataBlockTest, ClassPropertiesMakeChildBlocks) {
    platform::RegisterMenu("DataBlockTest", 41200, {MenuEntry::Item(0, "Inner[Real=4]")});
    CDataBlock block;
    ASSERT_TRUE(block.AddProperty("Child[CSpecChildBlock]", 41200));
    CDataBlock* child = block.GetChildObject("Child");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->GetParentBlock(), &block);
    EXPECT_TRUE(child->IsProperty("UID"));
    double inner = 0.0;
    EXPECT_TRUE(block.Get("Child:Inner", inner));
    EXPECT_DOUBLE_EQ(inner, 4.0);
    EXPECT_TRUE(block.AddProperty("Second[ CSpecChildBlock : Tagbook(Debug)Tagbook(Release)]", 0));
    EXPECT_NE(block.GetChildObject("Second"), nullptr);
    EXPECT_FALSE(block.AddProperty("Second[CSpecChildBlock]", 0));
    EXPECT_EQ(block.GetChildCount(), 2);
    EXPECT_FALSE(block.AddProperty("Third[CNoSuchBlock]", 0));
    EXPECT_FALSE(block.AddProperty("Fourth[CTreeObject]", 0));
}
