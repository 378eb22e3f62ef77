// The executable's COM server part: one process-wide module with its object map (the
// sink class), registration from the registry scripts 13655 and 13656, and the class
// objects served while the program runs.
#pragma once

#include <string>
#include <vector>

#include "platform/Com.h"

// {95E1E789-091F-483E-BE41-53F4EE96DF2E}
inline const GUID APPID_Tavimo = MakeGuid("{95E1E789-091F-483E-BE41-53F4EE96DF2E}");
// {0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}
inline const GUID LIBID_Tavimo = MakeGuid("{0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}");

constexpr UINT IDR_TAVIMO = 13655;             // registry script: the application id
constexpr UINT IDR_MOTIONTRACKERSINK = 13656;  // registry script: the sink class

struct ObjectMapEntry {
    const CLSID* clsid;
    UINT registryScript;
    ComCreator creator;
};

// Registers the executable's own resources (the registry scripts) once.
void RegisterTavimoResources();

class CTavimoServerModule {
public:
    // modulePath: the executable's absolute path, for "%MODULE%" and the ".tlb" beside it.
    explicit CTavimoServerModule(std::string modulePath);
    ~CTavimoServerModule();

    const std::vector<ObjectMapEntry>& ObjectMap() const { return m_objectMap; }
    // The type library beside the executable: its path with the extension replaced by ".tlb".
    std::string TypeLibPath() const;

    // Registry scripts in register mode, then the type library when all succeeded.
    HRESULT RegisterServer();
    // Registry scripts in unregister mode and the type library.
    HRESULT UnregisterServer();
    // Class objects of every object-map entry, local server, multiple use.
    HRESULT RegisterClassObjects();
    void RevokeClassObjects();

    // Lock and unlock forward to the application lock: lock returns 1, unlock 0.
    LONG Lock();
    LONG Unlock();

    // The start-up scan of the raw command line: each token starts after a '-' or '/' and
    // runs to the end of the line; the first that equals a switch (any case) wins.
    enum class Switch { None, RegServer, UnregServer };
    static Switch ScanCommandLine(const std::string& commandLine);

private:
    std::string m_modulePath;
    std::vector<ObjectMapEntry> m_objectMap;
    std::vector<CComClassRegistration> m_registrations;
};
