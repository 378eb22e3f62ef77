// The registry kept in SQLite: one table of keys (a tree by parent id) and one of values.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/Paths.h"
#include "platform/Registry.h"

struct RegKeyHandle {
    sqlite3_int64 id;
    bool root;
};

namespace {
RegKeyHandle g_hkcr{1, true};
RegKeyHandle g_hkcu{2, true};
RegKeyHandle g_hklm{3, true};
}  // namespace

const HKEY HKEY_CLASSES_ROOT = &g_hkcr;
const HKEY HKEY_CURRENT_USER = &g_hkcu;
const HKEY HKEY_LOCAL_MACHINE = &g_hklm;

namespace {
constexpr LONG ERROR_KEY_DELETED = 1018;

std::recursive_mutex g_mutex;
sqlite3* g_db = nullptr;
bool g_failed = false;  // opening failed once: stay failed until RegistryClose

std::string DatabasePath() {
    if (auto env = platform::EnvironmentValue("TAVIMO_REGISTRY"); env && !env->empty()) {
        return *env;
    }
    return platform::ConfigFolder() + "/registry.sqlite3";
}

bool Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(g_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "tavimo: registry database %s: %s\n", DatabasePath().c_str(),
                     error != nullptr ? error : "error");
        sqlite3_free(error);
        return false;
    }
    return true;
}

bool OpenLocked() {
    if (g_db != nullptr) {
        return true;
    }
    if (g_failed) {
        return false;
    }
    const std::string path = DatabasePath();
    std::string why;
    if (!platform::MakeFolders(std::filesystem::path(path).parent_path().string(), &why)) {
        std::fprintf(stderr, "tavimo: cannot open the registry database %s: %s\n", path.c_str(),
                     why.c_str());
        g_failed = true;
        return false;
    }
    const auto fail = [&path](const std::string& why, bool lasting) {
        std::fprintf(stderr, "tavimo: cannot use the registry database %s: %s\n", path.c_str(),
                     why.c_str());
        sqlite3_close(g_db);
        g_db = nullptr;
        // Locked by another process: the next use tries again; anything else stays failed.
        g_failed = lasting;
        return false;
    };
    if (sqlite3_open_v2(path.c_str(), &g_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX |
                            SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        const std::string why = g_db != nullptr ? sqlite3_errmsg(g_db) : "out of memory";
        sqlite3_close(g_db);
        g_db = nullptr;
        // Not writable here (a read-only file or folder): read it as it is.
        if (sqlite3_open_v2(path.c_str(), &g_db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
                            nullptr) != SQLITE_OK) {
            return fail(why, true);
        }
    }
    sqlite3_busy_timeout(g_db, 5000);
    // A file that is no database, or one locked for longer than the wait, shows at the first
    // read; a read-only one is read as it is, and changes to it fail.
    const int probe =
        sqlite3_exec(g_db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    if (probe != SQLITE_OK) {
        const int code = probe & 0xFF;
        return fail(std::string(sqlite3_errmsg(g_db)) +
                        (code == SQLITE_BUSY || code == SQLITE_LOCKED
                             ? " (another process holds it locked; tried again at the next use)"
                             : ""),
                    code != SQLITE_BUSY && code != SQLITE_LOCKED);
    }
    if (sqlite3_db_readonly(g_db, "main") == 1) {
        std::fprintf(stderr,
                     "tavimo: the registry database %s is read-only here: it is read, and "
                     "changes to it are not kept\n",
                     path.c_str());
        return true;
    }
    const bool ok = Exec("PRAGMA journal_mode=WAL;") && Exec("PRAGMA synchronous=FULL;") &&
                    Exec(
                        "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY,"
                        " parent INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
                        " UNIQUE(parent, name));"
                        "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL,"
                        " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB,"
                        " PRIMARY KEY(key, name));"
                        "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
                        " (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_CURRENT_USER'),"
                        " (3, 0, 'HKEY_LOCAL_MACHINE');");
    if (!ok) {
        sqlite3_close(g_db);
        g_db = nullptr;
        g_failed = true;
    }
    return ok;
}

// A prepared statement for one call.
class Statement {
public:
    explicit Statement(const char* sql) {
        if (sqlite3_prepare_v2(g_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return m_stmt != nullptr; }
    Statement& Bind(int i, sqlite3_int64 v) {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    Statement& Bind(int i, const std::string& v) {
        sqlite3_bind_text(m_stmt, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int i, const BYTE* data, DWORD size) {
        sqlite3_bind_blob(m_stmt, i, size == 0 ? "" : static_cast<const void*>(data),
                          static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    int Step() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    sqlite3_int64 Int(int col) { return sqlite3_column_int64(m_stmt, col); }
    std::string Text(int col) {
        const auto* text = sqlite3_column_text(m_stmt, col);
        return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
    }
    const void* Blob(int col) { return sqlite3_column_blob(m_stmt, col); }
    int Bytes(int col) { return sqlite3_column_bytes(m_stmt, col); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// Runs a write as one transaction: all of it lands or none of it.
class Transaction {
public:
    Transaction() {
        m_ok = sqlite3_exec(g_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (m_ok && !m_committed) {
            sqlite3_exec(g_db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Ok() const { return m_ok; }
    bool Commit() {
        m_committed = sqlite3_exec(g_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return m_committed;
    }

private:
    bool m_ok = false;
    bool m_committed = false;
};

bool KeyExists(sqlite3_int64 id) {
    Statement s("SELECT 1 FROM keys WHERE id = ?");
    return s.Bind(1, id).Step() == SQLITE_ROW;
}

std::vector<std::string> SplitPath(const char* subKey) {
    std::vector<std::string> parts;
    if (subKey == nullptr) {
        return parts;
    }
    std::string current;
    for (const char* p = subKey; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

// Finds (or with create, makes) the key below parent. 0 when missing.
sqlite3_int64 Resolve(sqlite3_int64 parent, const char* subKey, bool create, bool* created) {
    sqlite3_int64 id = parent;
    for (const std::string& part : SplitPath(subKey)) {
        Statement find("SELECT id FROM keys WHERE parent = ? AND name = ?");
        if (find.Bind(1, id).Bind(2, part).Step() == SQLITE_ROW) {
            id = find.Int(0);
            continue;
        }
        if (!create) {
            return 0;
        }
        Statement insert("INSERT INTO keys(parent, name) VALUES (?, ?)");
        if (insert.Bind(1, id).Bind(2, part).Step() != SQLITE_DONE) {
            return 0;
        }
        id = sqlite3_last_insert_rowid(g_db);
        if (created != nullptr) {
            *created = true;
        }
    }
    return id;
}

LONG Check(HKEY key) {
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!OpenLocked()) {
        return ERROR_BADDB;
    }
    if (!key->root && !KeyExists(key->id)) {
        return ERROR_KEY_DELETED;
    }
    return ERROR_SUCCESS;
}

void DeleteSubtree(sqlite3_int64 id) {
    std::vector<sqlite3_int64> children;
    {
        Statement s("SELECT id FROM keys WHERE parent = ?");
        s.Bind(1, id);
        while (s.Step() == SQLITE_ROW) {
            children.push_back(s.Int(0));
        }
    }
    for (sqlite3_int64 child : children) {
        DeleteSubtree(child);
    }
    Statement(("DELETE FROM vals WHERE key = ?")).Bind(1, id).Step();
    Statement(("DELETE FROM keys WHERE id = ?")).Bind(1, id).Step();
}
}  // namespace

LONG RegOpenKeyEx(HKEY parent, const char* subKey, DWORD /*options*/, DWORD /*access*/,
                  HKEY* result) {
    std::lock_guard lock(g_mutex);
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    if (LONG rc = Check(parent); rc != ERROR_SUCCESS) {
        return rc;
    }
    const sqlite3_int64 id = Resolve(parent->id, subKey, false, nullptr);
    if (id == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = new RegKeyHandle{id, false};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY parent, const char* subKey, HKEY* result, bool* created) {
    std::lock_guard lock(g_mutex);
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    if (created != nullptr) {
        *created = false;
    }
    if (LONG rc = Check(parent); rc != ERROR_SUCCESS) {
        return rc;
    }
    Transaction tx;
    if (!tx.Ok()) {
        return ERROR_BADDB;
    }
    const sqlite3_int64 id = Resolve(parent->id, subKey, true, created);
    if (id == 0 || !tx.Commit()) {
        return ERROR_BADDB;
    }
    *result = new RegKeyHandle{id, false};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!key->root) {
        delete key;
    }
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(key); rc != ERROR_SUCCESS) {
        return rc;
    }
    Statement s("SELECT type, data FROM vals WHERE key = ? AND name = ?");
    if (s.Bind(1, key->id).Bind(2, name != nullptr ? name : "").Step() != SQLITE_ROW) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = static_cast<DWORD>(s.Int(0));
    }
    const auto bytes = static_cast<DWORD>(s.Bytes(1));
    if (size == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    if (data == nullptr) {
        *size = bytes;
        return ERROR_SUCCESS;
    }
    if (*size < bytes) {
        *size = bytes;
        return ERROR_MORE_DATA;
    }
    if (bytes > 0) {
        std::memcpy(data, s.Blob(1), bytes);
    }
    *size = bytes;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(key); rc != ERROR_SUCCESS) {
        return rc;
    }
    if (data == nullptr && size != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    Statement s("INSERT OR REPLACE INTO vals(key, name, type, data) VALUES (?, ?, ?, ?)");
    s.Bind(1, key->id).Bind(2, name != nullptr ? name : "").Bind(3, type).BindBlob(4, data, size);
    return s.Step() == SQLITE_DONE ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG RegDeleteValue(HKEY key, const char* name) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(key); rc != ERROR_SUCCESS) {
        return rc;
    }
    Statement s("DELETE FROM vals WHERE key = ? AND name = ?");
    if (s.Bind(1, key->id).Bind(2, name != nullptr ? name : "").Step() != SQLITE_DONE) {
        return ERROR_BADDB;
    }
    return sqlite3_changes(g_db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

namespace {
// Deletes the key below parent (with everything under it when tree is set; otherwise only
// a key without sub-keys) in one transaction.
LONG DeleteKey(HKEY parent, const char* subKey, bool tree) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(parent); rc != ERROR_SUCCESS) {
        return rc;
    }
    if (SplitPath(subKey).empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    const sqlite3_int64 id = Resolve(parent->id, subKey, false, nullptr);
    if (id == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!tree) {
        Statement children("SELECT 1 FROM keys WHERE parent = ?");
        if (children.Bind(1, id).Step() == SQLITE_ROW) {
            return ERROR_ACCESS_DENIED;
        }
    }
    Transaction tx;
    if (!tx.Ok()) {
        return ERROR_BADDB;
    }
    DeleteSubtree(id);
    return tx.Commit() ? ERROR_SUCCESS : ERROR_BADDB;
}
}  // namespace

LONG RegDeleteKey(HKEY parent, const char* subKey) {
    return DeleteKey(parent, subKey, false);
}

LONG RegDeleteTree(HKEY parent, const char* subKey) {
    return DeleteKey(parent, subKey, true);
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(key); rc != ERROR_SUCCESS) {
        return rc;
    }
    Statement s(
        "SELECT name FROM keys WHERE parent = ? ORDER BY name COLLATE NOCASE LIMIT 1 OFFSET ?");
    if (s.Bind(1, key->id).Bind(2, static_cast<sqlite3_int64>(index)).Step() != SQLITE_ROW) {
        return ERROR_NO_MORE_ITEMS;
    }
    name = s.Text(0);
    return ERROR_SUCCESS;
}

LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type) {
    std::lock_guard lock(g_mutex);
    if (LONG rc = Check(key); rc != ERROR_SUCCESS) {
        return rc;
    }
    Statement s(
        "SELECT name, type FROM vals WHERE key = ? ORDER BY name COLLATE NOCASE LIMIT 1 OFFSET ?");
    if (s.Bind(1, key->id).Bind(2, static_cast<sqlite3_int64>(index)).Step() != SQLITE_ROW) {
        return ERROR_NO_MORE_ITEMS;
    }
    name = s.Text(0);
    if (type != nullptr) {
        *type = static_cast<DWORD>(s.Int(1));
    }
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    std::lock_guard lock(g_mutex);
    // Each write is committed with a full sync already; flushing only checks the key.
    return Check(key);
}

namespace platform {
bool RegistryOpen() {
    std::lock_guard lock(g_mutex);
    return OpenLocked();
}

void RegistryClose() {
    std::lock_guard lock(g_mutex);
    if (g_db != nullptr) {
        sqlite3_close(g_db);
        g_db = nullptr;
    }
    g_failed = false;
}

std::string RegistryPath() {
    return DatabasePath();
}
}  // namespace platform

// CRegKey

LONG CRegKey::Open(HKEY parent, const std::string& subKey, DWORD access) {
    Close();
    return RegOpenKeyEx(parent, subKey.c_str(), 0, access, &m_key);
}

LONG CRegKey::Create(HKEY parent, const std::string& subKey) {
    Close();
    return RegCreateKeyEx(parent, subKey.c_str(), &m_key);
}

void CRegKey::Close() {
    if (m_key != nullptr) {
        RegCloseKey(m_key);
        m_key = nullptr;
    }
}

std::optional<DWORD> CRegKey::QueryType(const std::string& name) const {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueEx(m_key, name.c_str(), &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return type;
}

std::optional<std::vector<BYTE>> CRegKey::QueryBinary(const std::string& name) const {
    DWORD size = 0;
    if (RegQueryValueEx(m_key, name.c_str(), nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    if (size > 0 &&
        RegQueryValueEx(m_key, name.c_str(), nullptr, data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(size);
    return data;
}

std::optional<std::string> CRegKey::QueryString(const std::string& name) const {
    auto type = QueryType(name);
    if (!type || *type != REG_SZ) {
        return std::nullopt;
    }
    auto data = QueryBinary(name);
    if (!data) {
        return std::nullopt;
    }
    std::string text(data->begin(), data->end());
    if (const auto nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

std::optional<DWORD> CRegKey::QueryDWORD(const std::string& name) const {
    auto data = QueryBinary(name);
    if (!data || data->size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD value = 0;
    std::memcpy(&value, data->data(), sizeof(value));
    return value;
}

LONG CRegKey::SetString(const std::string& name, const std::string& value) {
    return RegSetValueEx(m_key, name.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
}

LONG CRegKey::SetDWORD(const std::string& name, DWORD value) {
    return RegSetValueEx(m_key, name.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value));
}

LONG CRegKey::SetBinary(const std::string& name, const std::vector<BYTE>& value) {
    return RegSetValueEx(m_key, name.c_str(), REG_BINARY, value.data(),
                         static_cast<DWORD>(value.size()));
}

LONG CRegKey::DeleteValue(const std::string& name) {
    return RegDeleteValue(m_key, name.c_str());
}

std::vector<std::string> CRegKey::SubKeyNames() const {
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; RegEnumKeyEx(m_key, i, name) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> CRegKey::ValueNames() const {
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; RegEnumValue(m_key, i, name) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
    }
    return names;
}
