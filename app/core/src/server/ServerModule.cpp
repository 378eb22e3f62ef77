#include "app/ServerModule.h"

#include <strings.h>

#include <filesystem>
#include <mutex>

#include "app/MotionTrackerSink.h"
#include "platform/Registrar.h"
#include "platform/Resources.h"

namespace {
// The application id, kept under AppID (never removed).
constexpr const char* kAppIdScript = R"(HKCR
{
	NoRemove AppID
	{
		'{95E1E789-091F-483E-BE41-53F4EE96DF2E}' = s 'Tavimo'
		'Tavimo.EXE'
		{
			val AppID = s '{95E1E789-091F-483E-BE41-53F4EE96DF2E}'
		}
	}
}
)";

// The sink class, its ProgIDs and its local server.
constexpr const char* kSinkScript = R"(HKCR
{
	Tavimo.MotionTrackerSink.1 = s 'MotionTrackerSink Class'
	{
		CLSID = s '{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}'
	}
	Tavimo.MotionTrackerSink = s 'MotionTrackerSink Class'
	{
		CLSID = s '{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}'
		CurVer = s 'Tavimo.MotionTrackerSink.1'
	}
	NoRemove CLSID
	{
		ForceRemove {4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1} = s 'MotionTrackerSink Class'
		{
			ProgID = s 'Tavimo.MotionTrackerSink.1'
			VersionIndependentProgID = s 'Tavimo.MotionTrackerSink'
			ForceRemove 'Programmable'
			LocalServer32 = s '%MODULE%'
			val AppID = s '{95E1E789-091F-483E-BE41-53F4EE96DF2E}'
			'TypeLib' = s '{0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}'
		}
	}
}
)";
}  // namespace

void RegisterTavimoResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::AddResourceModule("Tavimo", true);
        platform::RegisterResource("Tavimo", "REGISTRY", IDR_TAVIMO, kAppIdScript);
        platform::RegisterResource("Tavimo", "REGISTRY", IDR_MOTIONTRACKERSINK, kSinkScript);
    });
}

CTavimoServerModule::CTavimoServerModule(std::string modulePath)
    : m_modulePath(std::move(modulePath)) {
    RegisterTavimoResources();
    m_objectMap.push_back(
        {&CLSID_MotionTrackerSink, IDR_MOTIONTRACKERSINK, &CMotionTrackerSink::CreateInstance});
}

CTavimoServerModule::~CTavimoServerModule() {
    RevokeClassObjects();
}

std::string CTavimoServerModule::TypeLibPath() const {
    return std::filesystem::path(m_modulePath).replace_extension(".tlb").string();
}

HRESULT CTavimoServerModule::RegisterServer() {
    const std::map<std::string, std::string> replacements{{"MODULE", m_modulePath}};
    HRESULT hr = platform::UpdateRegistryFromResource(IDR_TAVIMO, true, replacements);
    if (FAILED(hr)) {
        return hr;
    }
    for (const ObjectMapEntry& entry : m_objectMap) {
        hr = platform::UpdateRegistryFromResource(entry.registryScript, true, replacements);
        if (FAILED(hr)) {
            return hr;
        }
    }
    // Without a ".tlb" beside the executable the type library is not registered and the
    // scripts' registration stands.
    if (std::filesystem::exists(TypeLibPath())) {
        hr = platform::RegisterTypeLib(TypeLibPath());
    }
    return hr;
}

HRESULT CTavimoServerModule::UnregisterServer() {
    const std::map<std::string, std::string> replacements{{"MODULE", m_modulePath}};
    platform::UpdateRegistryFromResource(IDR_TAVIMO, false, replacements);
    for (const ObjectMapEntry& entry : m_objectMap) {
        platform::UpdateRegistryFromResource(entry.registryScript, false, replacements);
    }
    return platform::UnRegisterTypeLib(TypeLibPath());
}

HRESULT CTavimoServerModule::RegisterClassObjects() {
    for (const ObjectMapEntry& entry : m_objectMap) {
        CComClassRegistration registration(*entry.clsid, nullptr, entry.creator);
        if (!registration.IsRegistered()) {
            return E_FAIL;
        }
        // Keep the class object in the table for the life of the module.
        m_registrations.push_back(std::move(registration));
    }
    return S_OK;
}

void CTavimoServerModule::RevokeClassObjects() {
    m_registrations.clear();
}

LONG CTavimoServerModule::Lock() {
    ComModuleLock();
    return 1;
}

LONG CTavimoServerModule::Unlock() {
    ComModuleUnlock();
    return 0;
}

CTavimoServerModule::Switch CTavimoServerModule::ScanCommandLine(const std::string& commandLine) {
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] != '-' && commandLine[i] != '/') {
            continue;
        }
        const char* token = commandLine.c_str() + i + 1;
        if (strcasecmp(token, "UnregServer") == 0) {
            return Switch::UnregServer;
        }
        if (strcasecmp(token, "RegServer") == 0) {
            return Switch::RegServer;
        }
    }
    return Switch::None;
}
