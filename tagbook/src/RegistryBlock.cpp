#include "tagbook/RegistryBlock.h"

#include "SettingsResources.h"
#include "tagbook/TagbookResources.h"
#include "utilon/OrvexTrace.h"

#ifndef TAGBOOK_FILE_VERSION
#error "TAGBOOK_FILE_VERSION must come from the build"
#endif

namespace tagbook {
std::string GetFileVersion() {
    return TAGBOOK_FILE_VERSION;
}
}  // namespace tagbook

namespace {
// Longest value name the section enumeration reads, as the registry's own limit.
constexpr std::size_t kMaxValueName = 260;

std::mutex& ApplicationKeyMutex() {
    static std::mutex mutex;
    return mutex;
}
std::string& ApplicationKey() {
    static std::string key = "Software\\Tavimo\\Tavimo";
    return key;
}
}  // namespace

IMPLEMENT_DYNCREATE(CRegistryBlock, CDataBlock)

std::string CRegistryBlock::m_sSection = "Properties";

// Constructed after m_sSection in this file, so its section name is always ready.
CRegistryBlock Registry;

CRegistryBlock::CRegistryBlock() {
    tagbook::RegisterSettingsResources();
    m_nMenuID = tagbook::IDR_DEFAULT_SETTINGS;
}

void CRegistryBlock::SetApplicationKey(const std::string& key) {
    std::lock_guard<std::mutex> lock(ApplicationKeyMutex());
    ApplicationKey() = key;
}

std::string CRegistryBlock::GetApplicationKey() {
    std::lock_guard<std::mutex> lock(ApplicationKeyMutex());
    return ApplicationKey();
}

LONG CRegistryBlock::OpenSection(CRegKey& key, bool create) const {
    if (m_sSection.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = GetApplicationKey() + "\\" + m_sSection;
    return create ? key.Create(HKEY_CURRENT_USER, path) : key.Open(HKEY_CURRENT_USER, path);
}

BOOL CRegistryBlock::Initialise() {
    std::lock_guard<std::mutex> once(m_mutexInitialise);
    if (IsInitialised() != 0) {
        return TRUE;
    }
    m_bLoading = true;
    const BOOL result = CDataBlock::Initialise();
    const std::string version = tagbook::GetFileVersion();
    // Settings another version wrote may mean something else now: they go, the defaults win.
    LoadValue("Version[String]");
    std::string stored;
    Get("Version", stored);
    if (!stored.empty() && stored != version) {
        ORVEX_TRACE(4, "CRegistryBlock: settings of version %s purged (program %s)\n",
                    stored.c_str(), version.c_str());
        Purge();
    }
    Set("Version", version);
    Load();
    // Written back whole, so the registry always holds a complete set.
    Save();
    m_bLoading = false;
    return result;
}

BOOL CRegistryBlock::Load() {
    CRegKey key;
    if (OpenSection(key, false) != ERROR_SUCCESS) {
        return TRUE;  // nothing stored yet
    }
    std::string name;
    for (DWORD index = 0;; ++index) {
        DWORD type = REG_NONE;
        const LONG status = RegEnumValue(key.Handle(), index, name, &type);
        if (status == ERROR_NO_MORE_ITEMS) {
            return TRUE;
        }
        if (status != ERROR_SUCCESS) {
            return FALSE;
        }
        if (type == REG_SZ && name.size() <= kMaxValueName) {
            LoadValue(name);
        }
    }
}

BOOL CRegistryBlock::Save() {
    std::list<std::string> names;
    GetPropertyNames(names);
    CRegKey key;
    OpenSection(key, false);
    for (const std::string& name : names) {
        if (name == "UID") {
            continue;
        }
        // Every write is durable and so costs time: a value the registry already holds
        // is left as it is.
        if (key.IsOpen()) {
            std::string text;
            Get(name, text);
            if (key.QueryString(GetValueSpec(name)) == text) {
                continue;
            }
        }
        SaveValue(name);
    }
    return TRUE;
}

BOOL CRegistryBlock::Purge() {
    if (m_sSection.empty()) {
        return FALSE;
    }
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, GetApplicationKey()) != ERROR_SUCCESS) {
        return FALSE;
    }
    return RegDeleteTree(key.Handle(), m_sSection.c_str()) == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CRegistryBlock::LoadValue(const std::string& decl) {
    CPropertyDecl parsed;
    if (!CPropertyDecl::Parse(decl, parsed)) {
        return FALSE;
    }
    // A stored name may only ever make a plain setting: a block class named here would
    // let the registry build objects in the settings tree, and the block's UID is its own.
    if (CPropItem::GetPropertyType(parsed.type) < 0 || parsed.name == "UID") {
        return FALSE;
    }
    if (GetProperty(parsed.name) == nullptr &&
        AddProperty(parsed.name, parsed.type, 0, parsed.qualifiers, parsed.initial) == 0) {
        return FALSE;
    }
    CPropItem* item = GetProperty(parsed.name);
    if (item == nullptr) {
        return FALSE;  // the name walked into a child block
    }
    std::string text;
    Get(parsed.name, text);
    CRegKey key;
    if (OpenSection(key, false) == ERROR_SUCCESS) {
        if (std::optional<std::string> value = key.QueryString(decl)) {
            text = *value;
        }
    }
    Update(parsed.name, text);
    return TRUE;
}

std::string CRegistryBlock::GetValueSpec(const std::string& name) {
    CPropItem* item = GetProperty(name);
    if (item == nullptr) {
        return {};
    }
    return name + "[" + item->GetTypeName() + "]";
}

BOOL CRegistryBlock::SaveValue(const std::string& name) {
    const std::string decl = GetValueSpec(name);
    if (decl.empty()) {
        return FALSE;
    }
    std::string text;
    Get(name, text);
    CRegKey key;
    if (OpenSection(key, true) != ERROR_SUCCESS) {
        return FALSE;
    }
    return key.SetString(decl, text) == ERROR_SUCCESS ? TRUE : FALSE;
}

CPropItem* CRegistryBlock::OnAddProperty(const std::string& name, void* data, int type) {
    CPropItem* item = CDataBlock::OnAddProperty(name, data, type);
    // A setting the application adds at run time is kept at once, as a changed one is.
    if (item != nullptr && !m_bLoading.load()) {
        SaveValue(name);
    }
    return item;
}

BOOL CRegistryBlock::OnSetProperty(const std::string& name, CPropItem* item, void* data, int type) {
    const BOOL stored = CDataBlock::OnSetProperty(name, item, data, type);
    if (stored != 0 && item != nullptr && !m_bLoading.load()) {
        SaveValue(name);
    }
    return stored;
}
