#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"

using tavimo_test::ScopedEnv;

namespace {

const std::string kUserTmp = "/tmp/tavimo-" + std::to_string(getuid());

struct BaseFolder {
    const char* variable;
    std::string (*folder)();
    const char* underHome;    // below $HOME when the variable does not count
    const char* withoutHome;  // below the user's /tmp folder when neither counts
};

const BaseFolder kBaseFolders[] = {
    {"XDG_CONFIG_HOME", platform::ConfigFolder, "/.config/tavimo", "/config"},
    {"XDG_DATA_HOME", platform::DataFolder, "/.local/share/tavimo", "/data"},
    {"XDG_STATE_HOME", platform::StateFolder, "/.local/state/tavimo", "/state"},
};

TEST(PathsTest, EachBaseFolderFollowsTheOneRule) {
    for (const BaseFolder& base : kBaseFolders) {
        SCOPED_TRACE(base.variable);
        ScopedEnv home("HOME", "/home/surveyor");
        {
            ScopedEnv xdg(base.variable, "/srv/vessel");
            EXPECT_EQ(base.folder(), "/srv/vessel/tavimo");
        }
        for (const char* ignored : {"relative/folder", "", "~/dot"}) {
            ScopedEnv xdg(base.variable, ignored);
            EXPECT_EQ(base.folder(), std::string("/home/surveyor") + base.underHome) << ignored;
        }
        ScopedEnv xdg(base.variable, std::nullopt);
        EXPECT_EQ(base.folder(), std::string("/home/surveyor") + base.underHome);
        for (const std::optional<std::string>& noHome :
             {std::optional<std::string>(), std::optional<std::string>("home/relative")}) {
            ScopedEnv unusable("HOME", noHome);
            EXPECT_EQ(base.folder(), kUserTmp + base.withoutHome);
        }
    }
}

TEST(PathsTest, RuntimeFolderFallsBackToAFolderNamingTheUser) {
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/4242");
        EXPECT_EQ(platform::RuntimeFolder(), "/run/user/4242/tavimo");
    }
    for (const std::optional<std::string>& ignored :
         {std::optional<std::string>(), std::optional<std::string>("run/user")}) {
        ScopedEnv runtime("XDG_RUNTIME_DIR", ignored);
        ScopedEnv home("HOME", "/home/surveyor");  // the home plays no part here
        EXPECT_EQ(platform::RuntimeFolder(), kUserTmp);
    }
}

TEST(PathsTest, EnvironmentValuesAndSwitches) {
    ScopedEnv set("TAVIMO_PATHS_TEST", "1");
    EXPECT_EQ(platform::EnvironmentValue("TAVIMO_PATHS_TEST"), "1");
    EXPECT_TRUE(platform::EnvironmentSwitch("TAVIMO_PATHS_TEST"));
    for (const char* off : {"0", "", "11", "yes"}) {
        ScopedEnv other("TAVIMO_PATHS_TEST", off);
        EXPECT_FALSE(platform::EnvironmentSwitch("TAVIMO_PATHS_TEST")) << off;
    }
    ScopedEnv empty("TAVIMO_PATHS_TEST", "");
    EXPECT_EQ(platform::EnvironmentValue("TAVIMO_PATHS_TEST"), "");  // set but empty
    ScopedEnv unset("TAVIMO_PATHS_TEST", std::nullopt);
    EXPECT_FALSE(platform::EnvironmentValue("TAVIMO_PATHS_TEST").has_value());
    EXPECT_FALSE(platform::EnvironmentSwitch("TAVIMO_PATHS_TEST"));
}

TEST(PathsTest, MakeFoldersCreatesPrivateParentsAndRefusesAFile) {
    const std::string root = tavimo_test::TempRoot() + "/paths";
    const std::string deep = root + "/a/b/c";
    ASSERT_TRUE(platform::MakeFolders(deep));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    struct stat info {};
    ASSERT_EQ(::stat((root + "/a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);
    EXPECT_TRUE(platform::MakeFolders(deep));  // already there
    std::ofstream(root + "/file") << "x";
    EXPECT_FALSE(platform::MakeFolders(root + "/file"));
    EXPECT_FALSE(platform::MakeFolders(root + "/file/below"));
    EXPECT_FALSE(platform::MakeFolders(""));
}

// The /tmp fallback is a place every local user can write to: a folder someone else made
// there first, or a link by our folder's name, is refused with the reason.
TEST(PathsTest, InASharedPlaceOnlyFoldersOfOursAloneAreUsed) {
    const std::string shared = tavimo_test::TempRoot() + "/shared";
    std::filesystem::create_directories(shared);
    const std::string ours = shared + "/tavimo-ours";
    std::filesystem::create_directories(ours);
    ASSERT_EQ(::chmod(ours.c_str(), 0777), 0);
    std::string why;
    ASSERT_TRUE(platform::MakePrivateFolders(ours + "/state", ours, &why)) << why;
    struct stat info {};
    ASSERT_EQ(::stat(ours.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);  // made private

    const std::string planted = shared + "/tavimo-link";
    std::filesystem::create_symlink(ours, planted);
    EXPECT_FALSE(platform::MakePrivateFolders(planted + "/state", planted, &why));
    EXPECT_NE(why.find("a link"), std::string::npos) << why;

    if (::geteuid() == 0) {  // only root can hand a folder to another user here
        const std::string theirs = shared + "/tavimo-theirs";
        std::filesystem::create_directories(theirs);
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(platform::MakePrivateFolders(theirs + "/config", theirs, &why));
        EXPECT_NE(why.find("belongs to another user (uid 65534)"), std::string::npos) << why;
        EXPECT_FALSE(std::filesystem::exists(theirs + "/config"));
    }
}

}  // namespace

namespace {
TEST(PathsTest, AnEnvironmentSwitchIsKeptUntilRefreshed) {
    ScopedEnv off("TAVIMO_PATHS_SWITCH", std::nullopt);
    platform::CEnvironmentSwitch sw("TAVIMO_PATHS_SWITCH");
    EXPECT_FALSE(sw.IsOn());
    ScopedEnv on("TAVIMO_PATHS_SWITCH", "1");
    EXPECT_FALSE(sw.IsOn());  // read once: a hot path does not read the environment
    sw.Refresh();
    EXPECT_TRUE(sw.IsOn());
    ScopedEnv other("TAVIMO_PATHS_SWITCH", "true");
    sw.Refresh();
    EXPECT_FALSE(sw.IsOn());  // only "1" switches on
}
}  // namespace
