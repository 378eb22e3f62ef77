#include <gtest/gtest.h>

#include "app/MotionTrackerSink.h"
#include "app/ServerModule.h"
#include "platform/Registry.h"

namespace {
std::string DefaultValue(const std::string& path) {
    CRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) {
        return "<missing>";
    }
    return key.QueryString("").value_or("<no value>");
}

bool Exists(const std::string& path) {
    CRegKey key;
    return key.Open(HKEY_CLASSES_ROOT, path) == ERROR_SUCCESS;
}

class CountingHandler : public CSensorDataHandler {
public:
    void OnDataAvailable() override { ++calls; }
    int calls = 0;
};
}  // namespace

TEST(ServerModuleTest, ScanFindsSwitchesOnlyWhenLastOnTheLine) {
    using S = CTavimoServerModule::Switch;
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("/usr/bin/tavimo -RegServer"), S::RegServer);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("/usr/bin/tavimo /regserver"), S::RegServer);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("tavimo -UNREGSERVER"), S::UnregServer);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("tavimo -RegServer -Embedded"), S::None);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("tavimo -RegServer2"), S::None);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine(""), S::None);
    EXPECT_EQ(CTavimoServerModule::ScanCommandLine("tavimo config.xml -Embedded"), S::None);
}

TEST(ServerModuleTest, RegisterWritesBothScriptsAndUnregisterKeepsSharedKeys) {
    CTavimoServerModule module("/opt/tavimo/bin/tavimo");
    ASSERT_EQ(module.RegisterServer(), S_OK);  // no .tlb there: the scripts stand
    EXPECT_EQ(DefaultValue("AppID\\{95E1E789-091F-483E-BE41-53F4EE96DF2E}"), "Tavimo");
    CRegKey exe;
    ASSERT_EQ(exe.Open(HKEY_CLASSES_ROOT, "AppID\\Tavimo.EXE"), ERROR_SUCCESS);
    EXPECT_EQ(exe.QueryString("AppID"), "{95E1E789-091F-483E-BE41-53F4EE96DF2E}");
    EXPECT_EQ(DefaultValue("Tavimo.MotionTrackerSink.1"), "MotionTrackerSink Class");
    EXPECT_EQ(DefaultValue("Tavimo.MotionTrackerSink.1\\CLSID"),
              "{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}");
    EXPECT_EQ(DefaultValue("Tavimo.MotionTrackerSink\\CurVer"), "Tavimo.MotionTrackerSink.1");
    const std::string cls = "CLSID\\{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}";
    EXPECT_EQ(DefaultValue(cls), "MotionTrackerSink Class");
    EXPECT_EQ(DefaultValue(cls + "\\ProgID"), "Tavimo.MotionTrackerSink.1");
    EXPECT_EQ(DefaultValue(cls + "\\VersionIndependentProgID"), "Tavimo.MotionTrackerSink");
    EXPECT_EQ(DefaultValue(cls + "\\Programmable"), "<no value>");
    EXPECT_EQ(DefaultValue(cls + "\\LocalServer32"), "/opt/tavimo/bin/tavimo");
    EXPECT_EQ(DefaultValue(cls + "\\TypeLib"), "{0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}");
    CRegKey clsKey;
    ASSERT_EQ(clsKey.Open(HKEY_CLASSES_ROOT, cls), ERROR_SUCCESS);
    EXPECT_EQ(clsKey.QueryString("AppID"), "{95E1E789-091F-483E-BE41-53F4EE96DF2E}");
    clsKey.Close();
    EXPECT_FALSE(Exists("TypeLib"));

    module.UnregisterServer();
    EXPECT_TRUE(Exists("AppID"));
    EXPECT_TRUE(Exists("CLSID"));
    EXPECT_FALSE(Exists("AppID\\{95E1E789-091F-483E-BE41-53F4EE96DF2E}"));
    EXPECT_FALSE(Exists("AppID\\Tavimo.EXE"));
    EXPECT_FALSE(Exists("Tavimo.MotionTrackerSink.1"));
    EXPECT_FALSE(Exists("Tavimo.MotionTrackerSink"));
    EXPECT_FALSE(Exists(cls));
}

TEST(ServerModuleTest, ServedSinkForwardsDataEventsToTheSensorLink) {
    CoInitialize(nullptr);
    {
        CTavimoServerModule module("/opt/tavimo/bin/tavimo");
        ASSERT_EQ(module.RegisterClassObjects(), S_OK);
        CComPtr<IMotionTrackerSink> sink;
        ASSERT_EQ(CoCreateInstance(CLSID_MotionTrackerSink, nullptr, CLSCTX_ALL,
                                   IID_IMotionTrackerSink, reinterpret_cast<void**>(&sink)),
                  S_OK);
        EXPECT_GT(ComModuleLockCount(), 0);        // a live object holds the server
        EXPECT_EQ(sink->OnDataAvailable(), S_OK);  // no sensor link yet: nothing happens
        CountingHandler handler;
        g_pSensorDataHandler = &handler;
        sink->OnDataAvailable();
        DISPID id = 0;
        const char* name = "OnDataAvailable";
        ASSERT_EQ(sink->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id), S_OK);
        sink->Invoke(id, IID_IDispatch, 0, 0, nullptr, nullptr, nullptr, nullptr);
        g_pSensorDataHandler = nullptr;
        EXPECT_EQ(handler.calls, 2);
        void* aggregated = nullptr;
        EXPECT_EQ(
            CoCreateInstance(CLSID_MotionTrackerSink, sink, CLSCTX_ALL, IID_IUnknown, &aggregated),
            CLASS_E_NOAGGREGATION);
    }
    EXPECT_EQ(ComModuleLockCount(), 0);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MotionTrackerSink, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);  // revoked with the module
    CoUninitialize();
}
