#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/Registry.h"
#include "tagbook/RegistryBlock.h"

namespace {
// Each test keeps its settings under a key of its own, so tests never see each other's.
class RegistryBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_key = std::string("Software\\TagbookTest\\") + info->name();
        CRegistryBlock::SetApplicationKey(m_key);
    }
    std::string SectionPath() const { return m_key + "\\" + CRegistryBlock::m_sSection; }
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> values;
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, SectionPath()) == ERROR_SUCCESS) {
            for (const std::string& name : key.ValueNames()) {
                values[name] = key.QueryString(name).value_or("<not a string>");
            }
        }
        return values;
    }
    void Store(const std::string& name, const std::string& value) {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, SectionPath()), ERROR_SUCCESS);
        ASSERT_EQ(key.SetString(name, value), ERROR_SUCCESS);
    }
    std::string m_key;
};

// Counts what the registry holds when the final write-back begins.
class CWatchedRegistryBlock : public CRegistryBlock {
public:
    explicit CWatchedRegistryBlock(std::string section) : m_section(std::move(section)) {}
    BOOL Save() override {
        CRegKey key;
        storedBeforeSave = key.Open(HKEY_CURRENT_USER, m_section) == ERROR_SUCCESS
                               ? static_cast<int>(key.ValueNames().size())
                               : 0;
        return CRegistryBlock::Save();
    }
    int storedBeforeSave = -1;

private:
    std::string m_section;
};

TEST_F(RegistryBlockTest, FirstStartWritesEveryDefaultAndNothingWhileLoading) {
    CWatchedRegistryBlock block(SectionPath());
    ASSERT_TRUE(block.Initialise());
    EXPECT_EQ(block.storedBeforeSave, 0);
    EXPECT_FALSE(block.IsLoading());

    const auto stored = Stored();
    std::list<std::string> names;
    block.GetPropertyNames(names);
    EXPECT_EQ(stored.size(), names.size() - 1);  // every property but "UID"
    EXPECT_EQ(stored.count("UID[DWORD]"), 0u);
    EXPECT_EQ(stored.at("Version[String]"), tagbook::GetFileVersion());
    EXPECT_EQ(stored.at("Units:Angle:Default[String]"), "DDD.ddd");
    EXPECT_EQ(stored.at("Units:Definitions:Fahrenheit:Offset[Real]"), "32");
    EXPECT_EQ(stored.at("Units:Latitude/Longitude:DDD MM SS.sss:DecPlaces[Integer]"), "3");
    EXPECT_EQ(block.GetValueSpec("Units:Angle:Default"), "Units:Angle:Default[String]");
    EXPECT_EQ(block.GetValueSpec("No such setting"), "");
    EXPECT_FALSE(block.SaveValue("No such setting"));
}

TEST_F(RegistryBlockTest, AChangeWritesOnlyItselfAndStoredValuesWinOverDefaults) {
    Store("Units:Depth:Default[String]", "Fathoms");
    Store("Job:Operator[String]", "R. Okafor");
    {
        CRegistryBlock block;
        ASSERT_TRUE(block.Initialise());
        std::string text;
        EXPECT_TRUE(block.Get("Units:Depth:Default", text));
        EXPECT_EQ(text, "Fathoms");
        EXPECT_TRUE(block.Get("Job:Operator", text));  // added from the registry
        EXPECT_EQ(text, "R. Okafor");

        // Mark a value behind the block's back: a full save would overwrite it.
        Store("Units:Speed:Default[String]", "marker");
        EXPECT_TRUE(block.Set("Units:Angle:Default", "DDD MM.mmm"));
        EXPECT_EQ(Stored().at("Units:Angle:Default[String]"), "DDD MM.mmm");
        EXPECT_EQ(Stored().at("Units:Speed:Default[String]"), "marker");

        // An unchanged value writes nothing either.
        Store("Units:Angle:Default[String]", "marker");
        EXPECT_FALSE(block.Set("Units:Angle:Default", "DDD MM.mmm"));
        EXPECT_EQ(Stored().at("Units:Angle:Default[String]"), "marker");

        // A setting added at run time is kept at once.
        EXPECT_TRUE(block.Set("Job:Vessel", "MV Tern", 1));
        EXPECT_EQ(Stored().at("Job:Vessel[String]"), "MV Tern");
        EXPECT_TRUE(block.Set("Job:Line", 14, 1));
        EXPECT_EQ(Stored().at("Job:Line[Integer]"), "14");
    }
    // The next start reads what was written.
    CRegistryBlock again;
    ASSERT_TRUE(again.Initialise());
    int line = 0;
    EXPECT_TRUE(again.Get("Job:Line", line));
    EXPECT_EQ(line, 14);
}

TEST_F(RegistryBlockTest, AnotherVersionsSettingsArePurgedSoDefaultsWin) {
    Store("Version[String]", "0.9.7");
    Store("Units:Angle:Default[String]", "DDD MM.mmm");
    Store("Job:Operator[String]", "R. Okafor");
    CRegistryBlock block;
    ASSERT_TRUE(block.Initialise());
    std::string text;
    EXPECT_TRUE(block.Get("Units:Angle:Default", text));
    EXPECT_EQ(text, "DDD.ddd");
    EXPECT_FALSE(block.IsProperty("Job:Operator"));
    EXPECT_TRUE(block.Get("Version", text));
    EXPECT_EQ(text, tagbook::GetFileVersion());
    const auto stored = Stored();
    EXPECT_EQ(stored.count("Job:Operator[String]"), 0u);
    EXPECT_EQ(stored.at("Version[String]"), tagbook::GetFileVersion());
    EXPECT_EQ(stored.at("Units:Angle:Default[String]"), "DDD.ddd");
}

TEST_F(RegistryBlockTest, BadStoredValuesAreSkippedOrLeaveTheDefaults) {
    Store("NoBrackets", "x");
    Store("[String]", "x");
    Store("Evil[CUnitsBlock]", "x");
    Store("UID[DWORD]", "4000000000");
    Store("Units:Angle:Visible[Integer]", "many");
    Store("Units:Definitions:Metres:Scale[Real]", "one");
    Store("Job:Started[TimeStamp]", "not a date");
    {
        CRegKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, SectionPath()), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDWORD("Units:Heave:Visible[Integer]", 0), ERROR_SUCCESS);
    }
    CRegistryBlock block;
    ASSERT_TRUE(block.Initialise());
    EXPECT_EQ(block.GetChildObject("Evil"), nullptr);
    EXPECT_FALSE(block.IsProperty("Evil"));
    EXPECT_FALSE(block.IsProperty("NoBrackets"));
    DWORD uid = 0;
    EXPECT_TRUE(block.Get("UID", uid));
    EXPECT_EQ(uid, block.GetUID());
    int visible = -1;
    EXPECT_TRUE(block.Get("Units:Angle:Visible", visible));
    EXPECT_EQ(visible, 1);  // unreadable numbers leave the default
    double scale = -1.0;
    EXPECT_TRUE(block.Get("Units:Definitions:Metres:Scale", scale));
    EXPECT_EQ(scale, 1.0);
    EXPECT_TRUE(block.Get("Units:Heave:Visible", visible));  // not a string value: default
    EXPECT_EQ(visible, 1);
    EXPECT_TRUE(block.IsProperty("Job:Started"));  // an unreadable date keeps its value
}

TEST_F(RegistryBlockTest, PurgeRemovesTheSectionAndFailsWithoutOne) {
    CRegistryBlock block;
    EXPECT_FALSE(block.Purge());  // the application's key does not exist yet
    ASSERT_TRUE(block.Initialise());
    EXPECT_FALSE(Stored().empty());
    EXPECT_TRUE(block.Purge());
    EXPECT_TRUE(Stored().empty());

    const std::string section = CRegistryBlock::m_sSection;
    CRegistryBlock::m_sSection.clear();
    EXPECT_FALSE(block.Purge());
    EXPECT_FALSE(block.SaveValue("Version"));
    CRegistryBlock::m_sSection = section;
    EXPECT_TRUE(block.SaveValue("Version"));
}
}  // namespace
