// The alarm service stand-in (Logmill2): alarms stored durably in SQLite, one transaction
// each, so an alarm that returned an id is never lost.
#include "logmill/Logmill.h"

#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/Paths.h"

namespace logmill {
namespace {

// ---- The store -------------------------------------------------------------------------

class CAlarmStore {
public:
    ~CAlarmStore() {
        if (m_db != nullptr) {
            sqlite3_close(m_db);
        }
    }
    // Opens (and on first use creates) the store; false when it cannot be opened.
    bool Open() {
        std::lock_guard lock(m_mutex);
        if (m_db != nullptr) {
            return true;
        }
        if (!platform::MakeFolders(platform::DataFolder())) {
            return false;
        }
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(AlarmStorePath().c_str(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        sqlite3_busy_timeout(db, 5000);
        const char* schema =
            "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
            "CREATE TABLE IF NOT EXISTS alarms (id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " utc_date REAL NOT NULL, logger TEXT NOT NULL, source TEXT NOT NULL, text TEXT NOT "
            "NULL,"
            " detail TEXT NOT NULL, acknowledge INTEGER NOT NULL, reissued INTEGER NOT NULL,"
            " category INTEGER NOT NULL);";
        if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        // Whether the alarm's detail was given at all (an empty one is never sent); a store
        // from before this column counts its alarms as given. Fails harmlessly once it exists.
        sqlite3_exec(db, "ALTER TABLE alarms ADD COLUMN detail_given INTEGER NOT NULL DEFAULT 1;",
                     nullptr, nullptr, nullptr);
        m_db = db;
        return true;
    }
    // Stores one alarm in its own transaction; its id, or 0 when it could not be stored.
    std::int64_t Insert(const StoredAlarm& a) {
        if (!Open()) {
            return 0;
        }
        std::lock_guard lock(m_mutex);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(
                m_db,
                "INSERT INTO alarms (utc_date, logger, source, text, detail, acknowledge,"
                " reissued, category, detail_given) VALUES (?,?,?,?,?,?,?,?,?)",
                -1, &st, nullptr) != SQLITE_OK) {
            return 0;
        }
        sqlite3_bind_double(st, 1, a.utcDate);
        sqlite3_bind_text(st, 2, a.logger.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, a.source.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, a.text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, a.detail.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 6, a.acknowledge ? 1 : 0);
        sqlite3_bind_int(st, 7, a.reissued ? 1 : 0);
        sqlite3_bind_int(st, 8, a.category);
        sqlite3_bind_int(st, 9, a.detailGiven ? 1 : 0);
        const bool stored = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
        return stored ? sqlite3_last_insert_rowid(m_db) : 0;
    }

private:
    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
};

// ---- COM objects -----------------------------------------------------------------------

#define LM_RESERVED(n)               \
    HRESULT Reserved##n() override { \
        return E_NOTIMPL;            \
    }

class CAlarm final : public CDispatchBase<ILogmillAlarm> {
    TAVIMO_COM_REFCOUNT()
public:
    CAlarm(std::shared_ptr<CAlarmStore> store, std::string logger) : m_store(std::move(store)) {
        m_alarm.logger = std::move(logger);
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return Query(iid, IID_ILogmillAlarm, object);
    }

    LM_RESERVED(7)
    LM_RESERVED(8)
    LM_RESERVED(9)
    LM_RESERVED(10)
    LM_RESERVED(11) LM_RESERVED(12) LM_RESERVED(13) HRESULT Raise(std::int64_t* sequence) override {
        if (sequence == nullptr) {
            return E_POINTER;
        }
        if (m_alarm.id != 0) {
            return E_UNEXPECTED;  // an alarm is raised once
        }
        const std::int64_t id = m_store->Insert(m_alarm);
        if (id == 0) {
            return E_FAIL;
        }
        m_alarm.id = id;
        *sequence = id;
        return S_OK;
    }
    LM_RESERVED(15) LM_RESERVED(16) LM_RESERVED(17) HRESULT GetId(std::int64_t* id) override {
        if (id == nullptr) {
            return E_POINTER;
        }
        if (m_alarm.id == 0) {
            return E_UNEXPECTED;
        }
        *id = m_alarm.id;
        return S_OK;
    }
    LM_RESERVED(19) LM_RESERVED(20) LM_RESERVED(21) HRESULT SetTime(double date) override {
        m_alarm.utcDate = date;
        return S_OK;
    }
    LM_RESERVED(23)
    LM_RESERVED(24)
    LM_RESERVED(25)
    LM_RESERVED(26)
    LM_RESERVED(27)
    LM_RESERVED(28) LM_RESERVED(29) LM_RESERVED(30) LM_RESERVED(31) LM_RESERVED(32) HRESULT
        SetCategory(LONG category) override {
        m_alarm.category = category;
        return S_OK;
    }
    LM_RESERVED(34) LM_RESERVED(35) LM_RESERVED(36) HRESULT SetText(BSTR text) override {
        m_alarm.text = text.str();
        return S_OK;
    }
    LM_RESERVED(38)
    HRESULT SetDetail(BSTR detail) override {
        m_alarm.detail = detail.str();
        m_alarm.detailGiven = true;
        return S_OK;
    }
    LM_RESERVED(40)
    HRESULT SetSource(BSTR source) override {
        m_alarm.source = source.str();
        return S_OK;
    }
    LM_RESERVED(42)
    LM_RESERVED(43)
    LM_RESERVED(44)
    LM_RESERVED(45) LM_RESERVED(46) HRESULT SetAcknowledge(VARIANT_BOOL flag) override {
        m_alarm.acknowledge = flag != VARIANT_FALSE;
        return S_OK;
    }
    LM_RESERVED(48)
    HRESULT SetReissued(VARIANT_BOOL flag) override {
        m_alarm.reissued = flag != VARIANT_FALSE;
        return S_OK;
    }

private:
    std::shared_ptr<CAlarmStore> m_store;
    StoredAlarm m_alarm;
};

class CLogger final : public CDispatchBase<ILogmillLogger> {
    TAVIMO_COM_REFCOUNT()
public:
    CLogger() : m_store(std::make_shared<CAlarmStore>()) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return Query(iid, IID_ILogmillLogger, object);
    }

    HRESULT GetLoggerName(BSTR* name) override {
        if (name == nullptr) {
            return E_POINTER;
        }
        *name = CComBSTR(m_name);
        return S_OK;
    }
    HRESULT SetLoggerName(BSTR name) override {
        m_name = name.str();
        return S_OK;
    }
    LM_RESERVED(9) LM_RESERVED(10) LM_RESERVED(11) LM_RESERVED(12) HRESULT Connect() override {
        return m_store->Open() ? S_OK : E_FAIL;
    }
    LM_RESERVED(14)
    LM_RESERVED(15)
    LM_RESERVED(16)
    LM_RESERVED(17)
    LM_RESERVED(18)
    LM_RESERVED(19) LM_RESERVED(20) LM_RESERVED(21) LM_RESERVED(22) LM_RESERVED(23) HRESULT
        CreateAlarm(GUID alarmClass, IUnknown** alarm) override {
        if (alarm == nullptr) {
            return E_POINTER;
        }
        *alarm = nullptr;
        if (!(alarmClass == CLSID_LogmillAlarm)) {
            return REGDB_E_CLASSNOTREG;
        }
        CComPtr<ILogmillAlarm> created(new CAlarm(m_store, m_name));
        return created->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(alarm));
    }

private:
    std::shared_ptr<CAlarmStore> m_store;
    std::string m_name = "Logmill2";
};

HRESULT CreateLogger(IUnknown* outer, REFIID iid, void** object) {
    return ComCreateInstance<CLogger, ILogmillLogger>(outer, iid, object);
}

CComLibraryClass& LibraryClass() {
    static CComLibraryClass libraryClass(CLSID_Logmill2, "Logmill2.Logger.1", CreateLogger);
    return libraryClass;
}
// Linking the library makes the alarm service available to CoCreateInstance.
const bool g_registered = LibraryClass().IsRegistered();

}  // namespace

std::string AlarmStorePath() {
    return platform::DataFolder() + "/alarms.sqlite3";
}

std::vector<StoredAlarm> ReadAlarms() {
    std::vector<StoredAlarm> alarms;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(AlarmStorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return alarms;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            db,
            "SELECT id, utc_date, logger, source, text, detail, acknowledge, reissued,"
            " category, detail_given FROM alarms ORDER BY id",
            -1, &st, nullptr) == SQLITE_OK) {
        auto text = [st](int column) {
            const unsigned char* t = sqlite3_column_text(st, column);
            return std::string(t != nullptr ? reinterpret_cast<const char*>(t) : "");
        };
        while (sqlite3_step(st) == SQLITE_ROW) {
            StoredAlarm a;
            a.id = sqlite3_column_int64(st, 0);
            a.utcDate = sqlite3_column_double(st, 1);
            a.logger = text(2);
            a.source = text(3);
            a.text = text(4);
            a.detail = text(5);
            a.acknowledge = sqlite3_column_int(st, 6) != 0;
            a.reissued = sqlite3_column_int(st, 7) != 0;
            a.category = sqlite3_column_int(st, 8);
            a.detailGiven = sqlite3_column_int(st, 9) != 0;
            alarms.push_back(std::move(a));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return alarms;
}

void UnregisterClass() {
    LibraryClass().Unregister();
}

void RegisterClass() {
    LibraryClass().Register();
}

}  // namespace logmill
