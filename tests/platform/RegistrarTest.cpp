#include <gtest/gtest.h>

#include "platform/Registrar.h"
#include "platform/Registry.h"

namespace {
const char* kScript = R"(HKCR
{
	NoRemove Kept
	{
		'Mine' = s 'value with ''quote'''
		ForceRemove Forced = s '%MODULE%'
		{
			val Number = d '42'
			Sub
		}
	}
})";

bool Exists(const std::string& path) {
    CRegKey key;
    return key.Open(HKEY_CLASSES_ROOT, path) == ERROR_SUCCESS;
}
}  // namespace

TEST(RegistrarTest, RegisterWritesKeysValuesAndReplacements) {
    ASSERT_EQ(platform::RunRegistryScript(kScript, true, {{"MODULE", "/opt/tavimo"}}), S_OK);
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, "Kept\\Mine"), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), "value with 'quote'");
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, "Kept\\Forced"), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), "/opt/tavimo");
    EXPECT_EQ(key.QueryDWORD("Number"), 42u);
    EXPECT_TRUE(Exists("Kept\\Forced\\Sub"));
}

TEST(RegistrarTest, UnregisterKeepsNoRemoveAndKeysOthersStillUse) {
    ASSERT_EQ(platform::RunRegistryScript(kScript, true, {}), S_OK);
    CRegKey foreign;
    ASSERT_EQ(foreign.Create(HKEY_CLASSES_ROOT, "Kept\\Mine\\Foreign"), ERROR_SUCCESS);
    foreign.Close();
    ASSERT_EQ(platform::RunRegistryScript(kScript, false, {}), S_OK);
    EXPECT_TRUE(Exists("Kept"));
    EXPECT_FALSE(Exists("Kept\\Forced"));
    EXPECT_TRUE(Exists("Kept\\Mine\\Foreign"));  // not ours: Mine stays for it
}

TEST(RegistrarTest, MalformedScriptsFail) {
    EXPECT_EQ(platform::RunRegistryScript("HKXX { A }", true, {}), E_FAIL);
    EXPECT_EQ(platform::RunRegistryScript("HKCR { 'unterminated }", true, {}), E_FAIL);
    EXPECT_EQ(platform::RunRegistryScript("HKCR { A = q 'x' }", true, {}), E_FAIL);
    EXPECT_EQ(platform::RunRegistryScript("HKCR { A {", true, {}), E_FAIL);
    EXPECT_EQ(platform::UpdateRegistryFromResource(65000, true, {}), E_FAIL);
}
