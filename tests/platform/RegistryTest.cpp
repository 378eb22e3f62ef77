#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/Registry.h"

TEST(RegistryTest, ValueWrittenSurvivesReopeningTheDatabase) {
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "SOFTWARE\\Tervalis\\Calyra\\Properties"),
                  ERROR_SUCCESS);
        ASSERT_EQ(key.SetString("Units", "Degrees"), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDWORD("Places", 3), ERROR_SUCCESS);
        ASSERT_EQ(key.SetBinary("EnableAlarmReissue", {0, 0, 0, 0}), ERROR_SUCCESS);
    }
    platform::RegistryClose();
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "software\\TERVALIS\\calyra\\Properties"), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString("units"), "Degrees");
    EXPECT_EQ(key.QueryDWORD("Places"), 3u);
    EXPECT_EQ(key.QueryType("EnableAlarmReissue"), REG_BINARY);
    EXPECT_EQ(key.QueryBinary("EnableAlarmReissue")->size(), 4u);
    EXPECT_FALSE(key.QueryString("Places").has_value());  // wrong type
    EXPECT_FALSE(key.QueryString("Missing").has_value());
}

TEST(RegistryTest, RawQueryReportsSizeAndMoreData) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "A\\B"), ERROR_SUCCESS);
    key.SetString("", "hello");
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueEx(key.Handle(), "", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ);
    BYTE small[2];
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueEx(key.Handle(), "", &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
}

TEST(RegistryTest, DeleteKeyRefusesKeysWithSubKeysDeleteTreeTakesAll) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "Outer\\Inner\\Deep"), ERROR_SUCCESS);
    key.SetString("v", "x");
    key.Close();
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Outer"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Outer"), ERROR_SUCCESS);
    EXPECT_EQ(key.Open(HKEY_CLASSES_ROOT, "Outer\\Inner\\Deep"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Outer"), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryTest, HandleOfDeletedKeyFailsCleanly) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Gone"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Gone"), ERROR_SUCCESS);
    EXPECT_NE(key.SetString("x", "y"), ERROR_SUCCESS);
    EXPECT_FALSE(key.QueryString("x").has_value());
}

TEST(RegistryTest, EnumeratesSubKeysAndValues) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Enum"), ERROR_SUCCESS);
    CRegKey b;
    CRegKey a;
    b.Create(key.Handle(), "b");
    a.Create(key.Handle(), "a");
    key.SetString("z", "1");
    key.SetString("y", "2");
    EXPECT_EQ(key.SubKeyNames(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"y", "z"}));
}

TEST(RegistryTest, CorruptDatabaseFailsEveryCallWithoutCrashing) {
    const std::string path = tavimo_test::TempRoot() + "/corrupt.sqlite3";
    {
        std::ofstream out(path);
        out << std::string(8192, 'x');
    }
    platform::RegistryClose();
    setenv("TAVIMO_REGISTRY", path.c_str(), 1);
    testing::internal::CaptureStderr();
    CRegKey key;
    EXPECT_NE(key.Create(HKEY_CURRENT_USER, "Software"), ERROR_SUCCESS);
    EXPECT_FALSE(platform::RegistryOpen());
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find(path), std::string::npos);
    platform::RegistryClose();
}

TEST(RegistryTest, UnwritableFolderFailsCleanly) {
    platform::RegistryClose();
    setenv("TAVIMO_REGISTRY", "/proc/no-such-folder/registry.sqlite3", 1);
    testing::internal::CaptureStderr();
    CRegKey key;
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software"), ERROR_BADDB);
    testing::internal::GetCapturedStderr();
    platform::RegistryClose();
}
