#include "platform/Com.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/Registry.h"

const GUID GUID_NULL{};
const IID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
const IID IID_IDispatch = MakeGuid("{00020400-0000-0000-C000-000000000046}");
const IID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");
const IID IID_IConnectionPoint = MakeGuid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
const IID IID_IConnectionPointContainer = MakeGuid("{B196B284-BAB4-101A-B69C-00AA00341D07}");

// ---- GUIDs ---------------------------------------------------------------------------

std::optional<GUID> GUID::Parse(const std::string& text) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') {
        t = t.substr(1, 36);
    }
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') {
        return std::nullopt;
    }
    std::string hex;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(t[i])) == 0) {
            return std::nullopt;
        }
        hex += t[i];
    }
    auto field = [&hex](std::size_t pos, std::size_t len) {
        return std::stoull(hex.substr(pos, len), nullptr, 16);
    };
    GUID g;
    g.Data1 = static_cast<std::uint32_t>(field(0, 8));
    g.Data2 = static_cast<std::uint16_t>(field(8, 4));
    g.Data3 = static_cast<std::uint16_t>(field(12, 4));
    for (std::size_t i = 0; i < 8; ++i) {
        g.Data4[i] = static_cast<std::uint8_t>(field(16 + 2 * i, 2));
    }
    return g;
}

std::string GUID::ToString() const {
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  Data1, Data2, Data3, Data4[0], Data4[1], Data4[2], Data4[3], Data4[4], Data4[5],
                  Data4[6], Data4[7]);
    return buffer;
}

bool GUID::IsNull() const {
    return *this == GUID_NULL;
}

bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

std::size_t GuidHash::operator()(const GUID& g) const {
    std::size_t h = g.Data1 ^ (static_cast<std::size_t>(g.Data2) << 16) ^ g.Data3;
    for (auto b : g.Data4) {
        h = h * 131 + b;
    }
    return h;
}

GUID MakeGuid(const char* text) {
    auto g = GUID::Parse(text != nullptr ? text : "");
    if (!g) {
        std::fprintf(stderr, "tavimo: malformed class id literal %s\n",
                     text != nullptr ? text : "");
        std::abort();
    }
    return *g;
}

// ---- Apartments and the class table --------------------------------------------------

namespace {
thread_local int t_initCount = 0;

struct ClassEntry {
    CLSID clsid;
    IUnknown* object;  // holds one reference
};

std::mutex& TableMutex() {
    static std::mutex m;
    return m;
}
std::map<DWORD, ClassEntry>& Table() {
    static std::map<DWORD, ClassEntry> t;
    return t;
}
std::map<std::string, CLSID>& ProgIds() {
    static std::map<std::string, CLSID> p;
    return p;
}
DWORD g_nextCookie = 0;
std::atomic<LONG> g_moduleLocks{0};

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// The factory behind a self-registered class.
class CCreatorFactory final : public IClassFactory {
    TAVIMO_COM_REFCOUNT()
public:
    explicit CCreatorFactory(ComCreator creator) : m_creator(std::move(creator)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            return ComHandOut<IClassFactory>(this, object);
        }
        return ComNoInterface(object);
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        try {
            return m_creator(outer, iid, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock != FALSE) {
            ComModuleLock();
        } else {
            ComModuleUnlock();
        }
        return S_OK;
    }

private:
    ComCreator m_creator;
};
}  // namespace

HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*coInit*/) {
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (t_initCount > 0) {
        --t_initCount;
    }
}

bool CoIsInitialized() {
    return t_initCount > 0;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD /*context*/,
                              DWORD /*flags*/, DWORD* cookie) {
    if (classObject == nullptr || cookie == nullptr) {
        return E_INVALIDARG;
    }
    classObject->AddRef();
    std::lock_guard lock(TableMutex());
    *cookie = ++g_nextCookie;
    Table().emplace(*cookie, ClassEntry{clsid, classObject});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    IUnknown* released = nullptr;
    {
        std::lock_guard lock(TableMutex());
        auto it = Table().find(cookie);
        if (it == Table().end()) {
            return CO_E_OBJNOTREG;
        }
        released = it->second.object;
        Table().erase(it);
    }
    released->Release();
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD /*context*/, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!CoIsInitialized()) {
        return CO_E_NOTINITIALIZED;
    }
    CComPtr<IUnknown> classObject;
    {
        std::lock_guard lock(TableMutex());
        // The newest registration of a class wins, as a freshly started server would.
        for (auto it = Table().rbegin(); it != Table().rend(); ++it) {
            if (it->second.clsid == clsid) {
                classObject = it->second.object;
                break;
            }
        }
    }
    if (!classObject) {
        return REGDB_E_CLASSNOTREG;
    }
    return classObject->QueryInterface(iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    CComPtr<IClassFactory> factory;
    HRESULT hr =
        CoGetClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(outer, iid, object);
}

void CoRegisterProgID(const char* progId, REFCLSID clsid) {
    if (progId == nullptr) {
        return;
    }
    std::lock_guard lock(TableMutex());
    ProgIds()[Lower(progId)] = clsid;
}

HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid) {
    if (progId == nullptr || clsid == nullptr) {
        return E_INVALIDARG;
    }
    {
        std::lock_guard lock(TableMutex());
        auto it = ProgIds().find(Lower(progId));
        if (it != ProgIds().end()) {
            *clsid = it->second;
            return S_OK;
        }
    }
    CRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", KEY_READ) == ERROR_SUCCESS) {
        if (auto text = key.QueryString("")) {
            if (auto g = GUID::Parse(*text)) {
                *clsid = *g;
                return S_OK;
            }
        }
    }
    return CO_E_CLASSSTRING;
}

CComClassRegistration::CComClassRegistration(REFCLSID clsid, const char* progId,
                                             ComCreator creator) {
    CComPtr<IClassFactory> factory(new CCreatorFactory(std::move(creator)));
    if (SUCCEEDED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &m_cookie))) {
        CoRegisterProgID(progId, clsid);
    } else {
        m_cookie = 0;
    }
}

CComClassRegistration& CComClassRegistration::operator=(CComClassRegistration&& other) noexcept {
    if (this != &other) {
        Revoke();
        m_cookie = std::exchange(other.m_cookie, 0);
    }
    return *this;
}

void CComClassRegistration::Revoke() {
    if (m_cookie != 0) {
        CoRevokeClassObject(m_cookie);
        m_cookie = 0;
    }
}

LONG ComModuleLockCount() {
    return g_moduleLocks.load();
}
void ComModuleLock() {
    ++g_moduleLocks;
}
void ComModuleUnlock() {
    --g_moduleLocks;
}

// ---- Connection points --------------------------------------------------------------

HRESULT AtlFindConnectionPoint(IUnknown* container, REFIID iid, CComPtr<IConnectionPoint>& point) {
    if (container == nullptr) {
        return E_POINTER;
    }
    CComPtr<IConnectionPointContainer> cpc;
    HRESULT hr =
        container->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
    if (FAILED(hr)) {
        return hr;
    }
    return cpc->FindConnectionPoint(iid, &point);
}

HRESULT AtlAdvise(IUnknown* container, IUnknown* sink, REFIID iid, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) {
        return E_POINTER;
    }
    CComPtr<IConnectionPoint> point;
    const HRESULT hr = AtlFindConnectionPoint(container, iid, point);
    return FAILED(hr) ? hr : point->Advise(sink, cookie);
}

HRESULT AtlUnadvise(IUnknown* container, REFIID iid, DWORD cookie) {
    CComPtr<IConnectionPoint> point;
    const HRESULT hr = AtlFindConnectionPoint(container, iid, point);
    return FAILED(hr) ? hr : point->Unadvise(cookie);
}

// ---- Variants ---------------------------------------------------------------------------

VARTYPE VARIANT::vt() const {
    struct Visitor {
        bool date;
        VARTYPE operator()(std::monostate) const { return VT_EMPTY; }
        VARTYPE operator()(std::int16_t) const { return VT_I2; }
        VARTYPE operator()(std::int32_t) const { return VT_I4; }
        VARTYPE operator()(std::uint32_t) const { return VT_UI4; }
        VARTYPE operator()(float) const { return VT_R4; }
        VARTYPE operator()(double) const { return date ? VT_DATE : VT_R8; }
        VARTYPE operator()(bool) const { return VT_BOOL; }
        VARTYPE operator()(const std::string&) const { return VT_BSTR; }
        VARTYPE operator()(const std::vector<float>&) const { return VT_ARRAY | VT_R4; }
        VARTYPE operator()(const std::vector<double>&) const { return VT_ARRAY | VT_R8; }
        VARTYPE operator()(const std::vector<std::string>&) const { return VT_ARRAY | VT_BSTR; }
        VARTYPE operator()(const std::vector<bool>&) const { return VT_ARRAY | VT_BOOL; }
        VARTYPE operator()(const std::vector<BYTE>&) const { return VT_ARRAY | VT_UI1; }
    };
    return std::visit(Visitor{m_date}, m_value);
}

void VariantInit(VARIANT* v) {
    if (v != nullptr) {
        v->Clear();
    }
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) {
        return E_INVALIDARG;
    }
    v->Clear();
    return S_OK;
}

CComLibraryClass::CComLibraryClass(REFCLSID clsid, const char* progId, ComCreator creator)
    : m_clsid(clsid), m_progId(progId), m_creator(std::move(creator)) {
    Register();
}

void CComLibraryClass::Register() {
    std::lock_guard lock(m_mutex);
    if (!m_registration.IsRegistered()) {
        m_registration = CComClassRegistration(m_clsid, m_progId.c_str(), m_creator);
    }
}

void CComLibraryClass::Unregister() {
    std::lock_guard lock(m_mutex);
    m_registration.Revoke();
}

bool CComLibraryClass::IsRegistered() const {
    std::lock_guard lock(m_mutex);
    return m_registration.IsRegistered();
}
