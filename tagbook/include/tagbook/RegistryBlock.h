// The application's persistent settings: a data block whose every property is one string
// value in the application's section of the registry, written through on every change
// and read back at start-up. The library's one such block, Registry, holds the unit
// definitions and choices and any settings the application adds.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/Registry.h"
#include "tagbook/DataBlock.h"

namespace tagbook {
// The message an application shows before purging settings stored by another version.
inline constexpr UINT IDS_PURGE_WARNING = 9903;

// The running program's file version, as the build gave it.
std::string GetFileVersion();
}  // namespace tagbook

class CRegistryBlock : public CDataBlock {
    DECLARE_DYNCREATE(CRegistryBlock)
public:
    // The section under the application's key that holds the settings.
    static std::string m_sSection;

    CRegistryBlock();

    // The application's own key under HKEY_CURRENT_USER (company and program names);
    // set before the block initialises.
    static void SetApplicationKey(const std::string& key);
    static std::string GetApplicationKey();

    // Once: the default settings, the version check (settings of another version are
    // purged), every stored value over the defaults, then every value written back.
    BOOL Initialise() override;

    // Reads every string value of the section; 1 when the enumeration ends.
    virtual BOOL Load();
    // Writes every property but "UID"; 1.
    virtual BOOL Save();
    // Deletes the whole section.
    virtual BOOL Purge();
    // Reads the value named by the declaration into the property, adding the property
    // when it is missing.
    virtual BOOL LoadValue(const std::string& decl);
    // Writes one property's text; 0 when it does not exist or the write fails.
    virtual BOOL SaveValue(const std::string& name);

    // "Name[Type]" of an existing property, else empty.
    std::string GetValueSpec(const std::string& name);
    BOOL IsLoading() const { return m_bLoading.load() ? TRUE : FALSE; }

protected:
    CPropItem* OnAddProperty(const std::string& name, void* data, int type) override;
    BOOL OnSetProperty(const std::string& name, CPropItem* item, void* data, int type) override;

private:
    // The section key, opened (and created when asked) for this call.
    LONG OpenSection(CRegKey& key, bool create) const;

    std::atomic<bool> m_bLoading{false};
    std::mutex m_mutexInitialise;  // one Initialise at a time
};

// The library's settings block.
extern CRegistryBlock Registry;
