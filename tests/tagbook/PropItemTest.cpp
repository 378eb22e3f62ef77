#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "interfaces/Tickwise.h"
#include "platform/Resources.h"
#include "tagbook/PropItem.h"

namespace {
// A PC clock the test moves by hand, so update and modification times are exact.
class ManualClock : public ::testing::Test {
protected:
    void SetUp() override {
        CTickwise::SetClockForTesting([this] { return m_now; });
    }
    void TearDown() override { CTickwise::SetClockForTesting(nullptr); }
    double m_now = 1000.0;
};

template <class T>
std::unique_ptr<CPropItem> Make(const char* name, T value, int type) {
    return std::unique_ptr<CPropItem>(CPropItem::AddProperty(name, &value, type));
}

std::string Text(CPropItem& item) {
    std::string text;
    item.Get(text);
    return text;
}
}  // namespace

using PropItemClock = ManualClock;

TEST_F(PropItemClock, SettingTheSameValueReportsNoChangeButMovesTheUpdateTime) {
    auto item = Make("Depth", 12.5, PROP_REAL);
    ASSERT_TRUE(item);
    item->SetModifiedFlag(FALSE);
    m_now = 2000.0;
    EXPECT_EQ(item->Set(12.5), 0);
    EXPECT_FALSE(item->IsModified());
    EXPECT_DOUBLE_EQ(item->GetTimeLastUpdated(), 2000.0);
    m_now = 3000.0;
    EXPECT_EQ(item->Set(13.0), 1);
    EXPECT_TRUE(item->IsModified());
    EXPECT_DOUBLE_EQ(item->GetModificationTime(), 3000.0);
    // Not a number never counts as a change and is never stored.
    EXPECT_EQ(item->Set(std::numeric_limits<double>::quiet_NaN()), 0);
    double value = 0.0;
    item->Get(value);
    EXPECT_DOUBLE_EQ(value, 13.0);
}

TEST(PropItemTest, FactoryRefusesWhatItCannotMake) {
    double d = 1.0;
    EXPECT_EQ(CPropItem::AddProperty("", &d, PROP_REAL), nullptr);
    EXPECT_EQ(CPropItem::AddProperty("x", nullptr, PROP_REAL), nullptr);
    EXPECT_EQ(CPropItem::AddProperty("x", &d, 9), nullptr);
    EXPECT_EQ(CPropItem::AddProperty("x", &d, -1), nullptr);
    auto item = Make("x", 1.0, PROP_REAL);
    EXPECT_EQ(item->GetTypeName(), "Real");
    EXPECT_TRUE(item->IsNumeric());
    // A type that does not apply is refused both ways.
    int i = 0;
    EXPECT_EQ(item->Set(&i, PROP_INTEGER), 0);
    EXPECT_EQ(item->Get(&i, PROP_INTEGER), 0);
    EXPECT_EQ(item->Set(nullptr, PROP_REAL), 0);
}

TEST(PropItemTest, TypeNamesAnyCaseAndIntAlias) {
    EXPECT_EQ(CPropItem::GetPropertyType("string array"), PROP_STRING_ARRAY);
    EXPECT_EQ(CPropItem::GetPropertyType("TIMESTAMP"), PROP_TIMESTAMP);
    EXPECT_EQ(CPropItem::GetPropertyType("int"), PROP_INTEGER);
    EXPECT_EQ(CPropItem::GetPropertyType("Integer"), PROP_INTEGER);
    EXPECT_EQ(CPropItem::GetPropertyType("Float"), -1);
    EXPECT_EQ(CPropItem::GetPropertyType(""), -1);
}

TEST(PropItemTest, StringArrayTextAndAlwaysChanged) {
    auto item = Make("List", std::vector<std::string>{}, PROP_STRING_ARRAY);
    EXPECT_EQ(item->Set(std::string("a,,b")), 1);
    std::vector<std::string> values;
    item->Get(values);
    EXPECT_EQ(values, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Text(*item), "a,b");
    EXPECT_EQ(item->Set(values), 1);
    EXPECT_EQ(item->Set(values), 1);
    int count = 0;
    EXPECT_EQ(item->Get(count), 1);
    EXPECT_EQ(count, 2);
    item->Set(std::vector<std::string>{});
    EXPECT_EQ(Text(*item), "");
    // Fields are not trimmed.
    item->Set(std::string(" x , y"));
    item->Get(values);
    EXPECT_EQ(values, (std::vector<std::string>{" x ", " y"}));
}

TEST(PropItemTest, RealTextInAndOut) {
    auto item = Make("Speed", 0.0, PROP_REAL);
    EXPECT_EQ(item->Set(std::string("12.50 m/s")), 1);
    EXPECT_EQ(Text(*item), "12.5");
    item->Set(100.0);
    EXPECT_EQ(Text(*item), "100");
    // Text that holds no number is refused rather than read as 0.
    EXPECT_EQ(item->Set(std::string("abc")), 0);
    EXPECT_EQ(Text(*item), "100");
    item->SetFormatString("%.3f m");
    EXPECT_EQ(Text(*item), "100.000 m");
    // A format that does not take exactly one double falls back to the plain text.
    for (const char* bad : {"%s", "%d", "%f %f", "%n", "no conversion", "%"}) {
        item->SetFormatString(bad);
        EXPECT_EQ(Text(*item), "100") << bad;
    }
    // A NUL inside the format cuts what snprintf sees: "%3" would reach it unfinished.
    item->SetFormatString(std::string("%3\0f", 4));
    EXPECT_EQ(Text(*item), "100");
    item->SetFormatString("%5.1f%%");
    EXPECT_EQ(Text(*item), "100.0%");
}

TEST(PropItemTest, PlainIntegerAndDword) {
    auto i = Make("Count", 0, PROP_INTEGER);
    EXPECT_EQ(i->Set(std::string("-42")), 1);
    EXPECT_EQ(Text(*i), "-42");
    EXPECT_EQ(i->Set(std::string("7.9")), 1);  // atoi reads the whole part
    EXPECT_EQ(Text(*i), "7");
    EXPECT_EQ(i->Set(std::string("x")), 0);
    EXPECT_EQ(i->Set(std::string("99999999999")), 0);
    EXPECT_EQ(Text(*i), "7");

    auto d = Make("Mask", DWORD{0}, PROP_DWORD);
    EXPECT_EQ(d->Set(std::string("4294967295")), 1);
    EXPECT_EQ(Text(*d), "4294967295");
    EXPECT_EQ(d->Set(std::string("4294967296")), 0);
    EXPECT_EQ(d->Set(std::string("-1")), 0);
    EXPECT_EQ(d->Set(std::string("")), 0);
    EXPECT_EQ(Text(*d), "4294967295");
}

TEST(PropItemTest, EnumeratedIntegerByNameOrNumber) {
    CPropItem_int item;
    EXPECT_EQ(item.SetChoices(std::vector<std::string>{}), 0);
    EXPECT_FALSE(item.IsEnumerate());
    item.Set(7);
    ASSERT_EQ(item.SetChoices(std::string("\"North, East ,South,,West\"")), 1);
    EXPECT_TRUE(item.IsEnumerate());
    int value = -1;
    item.Get(value);
    EXPECT_EQ(value, 0);  // 7 was no longer a valid index
    EXPECT_EQ(item.GetChoices(), "North,East,South,West");

    EXPECT_EQ(item.Set(std::string("south")), 1);
    item.Get(value);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(item.Set(std::string("2")), 0);  // the same index: no change
    EXPECT_EQ(item.Set(std::string("5")), 0);
    EXPECT_EQ(item.Set(std::string("Up")), 0);
    item.Get(value);
    EXPECT_EQ(value, 2);
    const double before = item.GetTimeLastUpdated();
    EXPECT_EQ(item.Set(4), 0);
    EXPECT_DOUBLE_EQ(item.GetTimeLastUpdated(), before);
    item.Set(3);
    EXPECT_EQ(Text(item), "West");
    EXPECT_EQ(item.GetEnumName(9), "9");
    EXPECT_TRUE(item.IsValid(std::string("EAST")));
    EXPECT_FALSE(item.IsValid(-1));
}

TEST(PropItemTest, IntegerTakesItsChoicesFromTheMenuWithItsId) {
    platform::RegisterMenu("PropItemTest", 41001,
                           {MenuEntry::Item(1, "Low"), MenuEntry::Item(2, "High")});
    CPropItem_int item;
    EXPECT_EQ(item.SetID(41001), 1);
    std::vector<std::string> choices;
    EXPECT_EQ(item.GetChoices(choices), 1);
    EXPECT_EQ(choices, (std::vector<std::string>{"Low", "High"}));
    EXPECT_EQ(item.Set(std::string("high")), 1);

    CPropItem_int plain;
    EXPECT_EQ(plain.SetID(41002), 1);
    EXPECT_FALSE(plain.IsEnumerate());
    EXPECT_EQ(plain.GetChoices(choices), 0);
    EXPECT_TRUE(choices.empty());
}

TEST(PropItemTest, IdsZeroAnd65535MeanNone) {
    CPropItem_CString item;
    EXPECT_EQ(item.SetID(12), 1);
    EXPECT_EQ(item.SetID(65535), 0);
    EXPECT_EQ(item.SetID(0), 0);
    EXPECT_EQ(item.GetID(), 12u);
}

TEST(PropItemTest, PointsAndColoursFromText) {
    auto p2 = Make("Offset", C2DPoint(), PROP_2DPOINT);
    EXPECT_EQ(p2->Set(std::string("\"1.5,,-2\"")), 1);
    EXPECT_EQ(Text(*p2), "1.5, -2");
    EXPECT_EQ(p2->Set(C2DPoint(1.5, -2)), 0);
    auto p3 = Make("Lever", C3DPoint(), PROP_3DPOINT);
    EXPECT_EQ(p3->Set(std::string("1,2")), 1);  // a missing field gives 0
    EXPECT_EQ(Text(*p3), "1, 2, 0");

    auto colour = Make("Background", CRGBColour(), PROP_COLOUR);
    EXPECT_EQ(colour->Set(std::string("0.2705, 0.2705, 0.7686")), 1);
    CRGBColour c;
    colour->Get(c);
    EXPECT_DOUBLE_EQ(c.Alpha(), 0.0);
    EXPECT_EQ(Text(*colour), "0.2705, 0.2705, 0.7686, 0");
    // Colours that pack alike count as the same colour.
    EXPECT_EQ(colour->Set(CRGBColour(0.2705, 0.2705, 0.7686, 1.0)), 0);
}

TEST(PropItemTest, TimeStampTextRoundTrip) {
    auto item = Make("Start", COleDateTime(2026, 12, 8, 14, 15, 3), PROP_TIMESTAMP);
    const std::string text = Text(*item);
    EXPECT_EQ(text, "Tue 08 Dec 2026, 14:15:03");
    EXPECT_EQ(item->Set(std::string("")), 0);
    EXPECT_EQ(item->Set(std::string("not a date")), 0);
    EXPECT_EQ(Text(*item), text);
    EXPECT_EQ(item->Set(std::string("9 Dec 2026 08:00")), 1);
    EXPECT_EQ(item->Set(text), 1);
    EXPECT_EQ(Text(*item), text);
    item->SetFormatString("%Y-%m-%d");
    EXPECT_EQ(Text(*item), "2026-12-08");
    // Names stay English under any process locale, so the text always reads back.
    item->SetFormatString("%A %d %B %Y %%b");
    EXPECT_EQ(Text(*item), "Tuesday 08 December 2026 %b");
    // A value that cannot be read gives an empty text and 0.
    COleDateTime bad;
    bad.SetStatus(COleDateTime::invalid);
    item->Set(bad);
    std::string out = "x";
    EXPECT_EQ(item->Get(out), 0);
    EXPECT_EQ(out, "");
}
