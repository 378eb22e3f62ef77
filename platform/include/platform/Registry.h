// The system registry: keys and typed values under the three roots the system uses,
// kept in one SQLite database ($TAVIMO_REGISTRY, else
// $XDG_CONFIG_HOME/tavimo/registry.sqlite3). Every write is durable when it returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

// Win32-shaped primitives. Sub-key paths use '\' between names; names compare without case.
LONG RegOpenKeyEx(HKEY parent, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegCreateKeyEx(HKEY parent, const char* subKey, HKEY* result, bool* created = nullptr);
LONG RegCloseKey(HKEY key);
// data may be null to ask for the size; size is in and out (bytes; strings include the NUL).
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValue(HKEY key, const char* name);
// Deletes a key that has no sub-keys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKey(HKEY parent, const char* subKey);
// Deletes a key with everything below it.
LONG RegDeleteTree(HKEY parent, const char* subKey);
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name);
LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type = nullptr);
LONG RegFlushKey(HKEY key);

namespace platform {
// Opens the database now (normally opened on first use). False, with a message on
// standard error, when it cannot be opened; every registry call then fails cleanly.
bool RegistryOpen();
// Closes the database; the next call opens it again from the environment.
void RegistryClose();
std::string RegistryPath();
}  // namespace platform

// A key held for a scope, with typed accessors: the calling code's everyday form.
class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    CRegKey(CRegKey&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }

    LONG Open(HKEY parent, const std::string& subKey, DWORD access = KEY_ALL_ACCESS);
    LONG Create(HKEY parent, const std::string& subKey);
    void Close();
    bool IsOpen() const { return m_key != nullptr; }
    HKEY Handle() const { return m_key; }

    std::optional<std::string> QueryString(const std::string& name) const;
    std::optional<DWORD> QueryDWORD(const std::string& name) const;
    std::optional<std::vector<BYTE>> QueryBinary(const std::string& name) const;
    std::optional<DWORD> QueryType(const std::string& name) const;
    LONG SetString(const std::string& name, const std::string& value);
    LONG SetDWORD(const std::string& name, DWORD value);
    LONG SetBinary(const std::string& name, const std::vector<BYTE>& value);
    LONG DeleteValue(const std::string& name);
    std::vector<std::string> SubKeyNames() const;
    std::vector<std::string> ValueNames() const;

private:
    HKEY m_key = nullptr;
};
