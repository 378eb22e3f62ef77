#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "ConfigTestSupport.h"
#include "app/Config.h"

namespace fs = std::filesystem;

namespace {
using tavimo_test::ReadFile;

class ConfigTest : public ConfigFileTest {
protected:
    fs::path File(const std::string& text, const std::string& name = "Tavimo.xml") {
        tavimo_test::WriteFile(m_dir / name, text);
        return m_dir / name;
    }
    std::string Get(CConfig& config, const char* key) {
        BSTR value("<unchanged>");
        config.GetValue(key, value);
        return value.str();
    }
};

constexpr const char* kSample = R"(<?xml version="1.0" encoding="UTF-8"?>
<Tavimo>
  <SensorPort><Path>COM4</Path><Baud_Rate>115200</Baud_Rate></SensorPort>
  <Empty/>
  <Twice><Path>first</Path></Twice>
  <Twice><Path>second</Path></Twice>
  <Geodesy><Spheroid><SemiMajorAxis>6378137.0</SemiMajorAxis></Spheroid></Geodesy>
  <Nested><Deeper><Path>deep</Path></Deeper></Nested>
</Tavimo>
)";
}  // namespace

TEST_F(ConfigTest, KeysSelectTheFirstNodeBelowTheRootOrAnywhere) {
    CConfig config;
    ASSERT_TRUE(config.Load(File(kSample).string()));
    EXPECT_EQ(Get(config, "SensorPort/Path"), "COM4");
    EXPECT_EQ(Get(config, "//Geodesy/Spheroid/SemiMajorAxis"), "6378137.0");
    EXPECT_EQ(Get(config, "Twice/Path"), "first");
    // "//Path" meets SensorPort/Path before the deeper ones in document order.
    EXPECT_EQ(Get(config, "//Path"), "COM4");
    EXPECT_EQ(Get(config, "//Deeper/Path"), "deep");

    BSTR value("kept");
    EXPECT_TRUE(config.GetValue("Empty", value));
    EXPECT_EQ(value.str(), "");
    value = BSTR("kept");
    EXPECT_FALSE(config.GetValue("Path", value));  // a grandchild, not a child of the root
    EXPECT_FALSE(config.GetValue("", value));
    EXPECT_FALSE(config.GetValue("SensorPort[[", value));   // not XPath
    EXPECT_FALSE(config.GetValue("count(//Path)", value));  // not a node
    EXPECT_EQ(value.str(), "kept");
    EXPECT_NE(Trace().find("CConfig::GetValue() was unable to find XML node: Path"),
              std::string::npos);
}

TEST_F(ConfigTest, SetValueChangesOnlyTheFirstExistingNodeAndEscapesText) {
    const fs::path path = File(kSample);
    {
        CConfig config;
        ASSERT_TRUE(config.Load(path.string()));
        EXPECT_TRUE(config.SetValue("Twice/Path", "changed"));
        EXPECT_TRUE(config.SetValue("SensorPort/Path", "a<b & \"c\" 'd' >e &amp;"));
        EXPECT_TRUE(config.SetValue("Empty", "°C"));
        EXPECT_FALSE(config.SetValue("Missing/Key", "x"));
        EXPECT_FALSE(config.SetValue("Empty", std::string("bad\xff")));   // not UTF-8
        EXPECT_FALSE(config.SetValue("Empty", std::string("bell\x07")));  // not XML text
        EXPECT_EQ(Get(config, "Empty"), "°C");
        ASSERT_TRUE(config.Save(""));
    }
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("Missing"), std::string::npos);  // the store never adds a node
    EXPECT_NE(text.find("<Path>second</Path>"), std::string::npos);
    CConfig reread;
    ASSERT_TRUE(reread.Load(path.string()));
    EXPECT_EQ(Get(reread, "Twice/Path"), "changed");
    EXPECT_EQ(Get(reread, "//Twice[2]/Path"), "second");
    EXPECT_EQ(Get(reread, "SensorPort/Path"), "a<b & \"c\" 'd' >e &amp;");
    EXPECT_EQ(Get(reread, "Empty"), "°C");
    EXPECT_EQ(Get(reread, "SensorPort/Baud_Rate"), "115200");
}

TEST_F(ConfigTest, BadFilesLoadNothingAndAreNeverOverwritten) {
    // Each with the reason a user is told: the system's or the parser's own words.
    const std::vector<std::tuple<std::string, std::string, std::string>> files = {
        {"empty.xml", "", "the file is empty"},
        {"text.xml", "COM4 115200\n", "line 1: Start tag expected"},
        {"truncated.xml", "<Tavimo><SensorPort><Path>COM4</Path>", "line 1: "},
        {"binary.xml", std::string("\0\x01\x02<Tavimo/>", 12), "line 1: "},
    };
    for (const auto& [name, content, reason] : files) {
        SCOPED_TRACE(name);
        const fs::path path = File(content, name);
        CConfig config;
        EXPECT_FALSE(config.Load(path.string()));
        EXPECT_EQ(config.LastError().rfind(reason, 0), 0u) << config.LastError();
        EXPECT_NE(config.LastError().back(), '\n');
        BSTR value("kept");
        EXPECT_FALSE(config.GetValue("SensorPort/Path", value));
        EXPECT_EQ(value.str(), "kept");
        EXPECT_FALSE(config.SetValue("SensorPort/Path", "COM9"));
        EXPECT_FALSE(config.Save(""));
        EXPECT_EQ(ReadFile(path), content);
    }
    // Paths that are no regular file: a folder and a pipe nobody writes to.
    const fs::path fifo = m_dir / "pipe.xml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& path : {m_dir, fifo}) {
        CConfig config;
        EXPECT_FALSE(config.Load(path.string())) << path;
        EXPECT_EQ(config.LastError(), "not a regular file");
    }
    CConfig missing;
    EXPECT_FALSE(missing.Load((m_dir / "none.xml").string()));
    EXPECT_EQ(missing.LastError(), "No such file or directory");
    EXPECT_FALSE(missing.Save(""));
    EXPECT_FALSE(fs::exists(m_dir / "none.xml"));
    EXPECT_NE(Trace().find("unable to load the configuration file"), std::string::npos);
}

TEST_F(ConfigTest, SaveKeepsTheLatin1DeclarationAndItsBytes) {
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n"
        "<Tavimo><Site>Tr\xe9guier</Site><Unit>x</Unit></Tavimo>\n";
    const fs::path path = File(latin1);
    CConfig config;
    ASSERT_TRUE(config.Load(path.string()));
    EXPECT_EQ(Get(config, "Site"), "Tr\xc3\xa9guier");  // UTF-8 inside the program
    ASSERT_TRUE(config.SetValue("Unit", "°"));
    ASSERT_TRUE(config.Save(""));
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>", 0), 0u) << text;
    EXPECT_NE(text.find("Tr\xe9guier"), std::string::npos);
    EXPECT_NE(text.find("<Unit>\xb0</Unit>"), std::string::npos) << text;
}

TEST_F(ConfigTest, ADeclaredEncodingThatWouldNotReadBackIsNeverSaved) {
    // Found by fuzzing: a file declaring UTF-7 loads, but written in UTF-7 it no longer
    // parses, and every setting would be lost at the next start.
    const std::string utf7 =
        "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<Tavimo><Unit>x</Unit></Tavimo>\n";
    const fs::path path = File(utf7);
    CConfig config;
    ASSERT_TRUE(config.Load(path.string()));
    ASSERT_TRUE(config.SetValue("Unit", "y"));
    EXPECT_FALSE(config.Save(""));
    EXPECT_EQ(ReadFile(path), utf7);
    EXPECT_NE(Trace().find("would not read back"), std::string::npos) << Trace();
    int files = 0;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 1);  // no temporary file left behind
    CConfig again;
    EXPECT_TRUE(again.Load(path.string()));
}

TEST_F(ConfigTest, SaveReplacesTheFileWholeAndKeepsItsPermissions) {
    const fs::path path = File(kSample);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    CConfig config;
    ASSERT_TRUE(config.Load(path.string()));
    ASSERT_TRUE(config.SetValue("SensorPort/Path", "COM7"));
    // Saving elsewhere leaves the loaded file and the stored name alone.
    const fs::path copy = m_dir / "copy.xml";
    ASSERT_TRUE(config.Save(copy.string()));
    EXPECT_EQ(config.FileName(), path.string());
    EXPECT_EQ(ReadFile(path), kSample);
    ASSERT_TRUE(config.Save(""));
    EXPECT_NE(ReadFile(path).find("<Path>COM7</Path>"), std::string::npos);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A link to the configuration stays a link; its target gets the text.
    const fs::path link = m_dir / "link.xml";
    fs::create_symlink(path, link);
    CConfig viaLink;
    ASSERT_TRUE(viaLink.Load(link.string()));
    ASSERT_TRUE(viaLink.SetValue("SensorPort/Path", "COM8"));
    ASSERT_TRUE(viaLink.Save(""));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(ReadFile(path).find("<Path>COM8</Path>"), std::string::npos);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
        ++files;
    }
    EXPECT_EQ(files, 3);
}

TEST_F(ConfigTest, ReadOnlyFileIsNotSavedButTheDocumentStillAnswers) {
    const fs::path path = File(kSample);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    CConfig config;
    ASSERT_TRUE(config.Load(path.string()));
    ASSERT_TRUE(config.SetValue("SensorPort/Path", "COM7"));
    EXPECT_FALSE(config.Save(""));
    EXPECT_EQ(Get(config, "SensorPort/Path"), "COM7");
    EXPECT_EQ(ReadFile(path), kSample);
    EXPECT_NE(Trace().find("is read-only: settings not saved"), std::string::npos) << Trace();
    // A folder that cannot take the temporary file fails the same way.
    CConfig elsewhere;
    ASSERT_TRUE(elsewhere.Load(path.string()));
    EXPECT_FALSE(elsewhere.Save((m_dir / "no-such-folder" / "Tavimo.xml").string()));
}

TEST_F(ConfigTest, DefaultFileNameResolvesInTheCurrentFolder) {
    File(kSample);
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    CConfig config;
    EXPECT_EQ(config.FileName(), "Tavimo.xml");
    const bool loaded = config.Load("");
    fs::current_path(before);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(Get(config, "SensorPort/Path"), "COM4");
    ASSERT_TRUE(config.SetValue("SensorPort/Path", "COM5"));
    fs::current_path(m_dir);
    const bool saved = config.Save("");
    fs::current_path(before);
    EXPECT_TRUE(saved);
    EXPECT_NE(ReadFile(m_dir / "Tavimo.xml").find("<Path>COM5</Path>"), std::string::npos);
}
