// A small COM runtime: result codes, GUIDs, IUnknown with reference counting, a smart
// pointer, apartment initialisation, class objects in one process-wide class table,
// connection points, BSTR-like strings and VARIANTs; the dispatch base (CDispatchBase) and
// QueryInterface helpers that every object of the system and the suite is built on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Types.h"

// ---- Result codes -------------------------------------------------------------------
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
constexpr HRESULT CO_E_OBJNOTREG = static_cast<HRESULT>(0x800401FB);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);
constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4A);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// ---- GUIDs --------------------------------------------------------------------------
struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case).
    static std::optional<GUID> Parse(const std::string& text);
    // Upper case with braces, as the registry writes class ids.
    std::string ToString() const;
    bool IsNull() const;
    friend bool operator==(const GUID& a, const GUID& b);
};
using CLSID = GUID;
using IID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
extern const GUID GUID_NULL;

struct GuidHash {
    std::size_t operator()(const GUID& g) const;
};

// Parses a GUID text known at build time; a malformed literal is a programming error.
GUID MakeGuid(const char* text);

// ---- IUnknown ------------------------------------------------------------------------
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};
extern const IID IID_IUnknown;

// Reference counting for a class that derives from one or more interfaces and
// supplies QueryInterface itself. Objects start at zero; the last Release deletes.
#define TAVIMO_COM_REFCOUNT()           \
public:                                 \
    ULONG AddRef() override {           \
        return ++m_comRefs;             \
    }                                   \
    ULONG Release() override {          \
        const ULONG left = --m_comRefs; \
        if (left == 0) {                \
            delete this;                \
        }                               \
        return left;                    \
    }                                   \
                                        \
private:                                \
    std::atomic<ULONG> m_comRefs{0};    \
                                        \
public:

// Smart pointer that holds one reference.
template <class T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(T* p) : m_p(p) {  // NOLINT(google-explicit-constructor): COM idiom
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CComPtr() { Release(); }
    CComPtr& operator=(const CComPtr& other) {
        if (this != std::addressof(other)) {
            CComPtr copy(other);
            std::swap(m_p, copy.m_p);
        }
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != std::addressof(other)) {
            Release();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    CComPtr& operator=(T* p) {
        CComPtr copy(p);
        std::swap(m_p, copy.m_p);
        return *this;
    }
    void Release() {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }
    // Takes over a reference the caller already owns.
    void Attach(T* p) {
        Release();
        m_p = p;
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }  // NOLINT(google-explicit-constructor)
    T** operator&() {                    // for out-parameters: must be empty
        Release();
        return &m_p;
    }
    explicit operator bool() const { return m_p != nullptr; }

    template <class Q>
    HRESULT QueryInterface(REFIID iid, Q** out) const {
        if (m_p == nullptr) {
            return E_POINTER;
        }
        return m_p->QueryInterface(iid, reinterpret_cast<void**>(out));
    }

private:
    T* m_p = nullptr;
};

// ---- Automation -----------------------------------------------------------------------
using DISPID = LONG;
class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, DWORD locale, void** typeInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, const char** names, UINT count, DWORD locale,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID iid, DWORD locale, WORD flags, void* params,
                           void* result, void* exception, UINT* argError) = 0;
};
extern const IID IID_IDispatch;

// Invoke flags. Invoke's params point to one VARIANT (the argument of a method or the
// value of a property put) and result to a VARIANT that receives a property's value.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

// Hands the object out as one of its interfaces with a new reference: the common tail of
// every QueryInterface.
template <class Interface, class Object>
HRESULT ComHandOut(Object* self, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    Interface* as = static_cast<Interface*>(self);
    *object = as;
    as->AddRef();
    return S_OK;
}

// The creator of a class that cannot be aggregated: a new object, answering for iid. The
// object is held through its Primary interface while it is asked.
template <class Object, class Primary>
HRESULT ComCreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    CComPtr<Primary> created(static_cast<Primary*>(new Object));
    return created->QueryInterface(iid, object);
}

inline HRESULT ComNoInterface(void** object) {
    if (object != nullptr) {
        *object = nullptr;
    }
    return E_NOINTERFACE;
}

// The IDispatch part of an interface that callers drive through its own slots: no type
// information, no names and no Invoke (a class that answers names or Invoke overrides
// those two). Query answers IUnknown, IDispatch and the object's own interface.
template <class Interface>
class CDispatchBase : public Interface {
    static_assert(std::is_base_of_v<IDispatch, Interface>, "a dispatch interface");

public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, DWORD, void** typeInfo) override {
        if (typeInfo != nullptr) {
            *typeInfo = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, const char**, UINT, DWORD, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, DWORD, WORD, void*, void*, void*, UINT*) override {
        return E_NOTIMPL;
    }

protected:
    HRESULT Query(REFIID iid, const IID& own, void** object) {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == own) {
            return ComHandOut<Interface>(this, object);
        }
        return ComNoInterface(object);
    }
};

// ---- Class objects -------------------------------------------------------------------
class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};
extern const IID IID_IClassFactory;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// True when the calling thread has initialised COM.
bool CoIsInitialized();

// Makes a class object available to CoCreateInstance in this process.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object);
// Looks the ProgID up in the class table, then under HKEY_CLASSES_ROOT\<progid>\CLSID.
HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid);
// Names a class's ProgID so CLSIDFromProgID finds it without the registry.
void CoRegisterProgID(const char* progId, REFCLSID clsid);

// A library's classes register themselves with this: a factory made from a creator
// function, entered in the class table until the returned registration is revoked.
using ComCreator = std::function<HRESULT(IUnknown* outer, REFIID iid, void** object)>;
class CComClassRegistration {
public:
    CComClassRegistration() = default;
    CComClassRegistration(REFCLSID clsid, const char* progId, ComCreator creator);
    ~CComClassRegistration() { Revoke(); }
    CComClassRegistration(const CComClassRegistration&) = delete;
    CComClassRegistration& operator=(const CComClassRegistration&) = delete;
    CComClassRegistration(CComClassRegistration&& other) noexcept
        : m_cookie(std::exchange(other.m_cookie, 0)) {}
    CComClassRegistration& operator=(CComClassRegistration&& other) noexcept;
    void Revoke();
    bool IsRegistered() const { return m_cookie != 0; }

private:
    DWORD m_cookie = 0;
};

// A class a library makes available while it is loaded, which tests can take away and
// bring back (that is how "component not registered" is tested). Safe from any thread.
class CComLibraryClass {
public:
    CComLibraryClass(REFCLSID clsid, const char* progId, ComCreator creator);
    void Register();
    void Unregister();
    bool IsRegistered() const;

private:
    mutable std::mutex m_mutex;
    const CLSID m_clsid;
    const std::string m_progId;
    const ComCreator m_creator;
    CComClassRegistration m_registration;
};

// Number of objects and locks keeping a server alive (the framework's application lock).
LONG ComModuleLockCount();
void ComModuleLock();
void ComModuleUnlock();

// ---- Connection points ---------------------------------------------------------------
class IConnectionPoint : public IUnknown {
public:
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
};
class IConnectionPointContainer : public IUnknown {
public:
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;
};
extern const IID IID_IConnectionPoint;
extern const IID IID_IConnectionPointContainer;

// The connection point of a container for the given event interface.
HRESULT AtlFindConnectionPoint(IUnknown* container, REFIID iid, CComPtr<IConnectionPoint>& point);
// Advises a sink to the connection point of a container for the given event interface.
HRESULT AtlAdvise(IUnknown* container, IUnknown* sink, REFIID iid, DWORD* cookie);
HRESULT AtlUnadvise(IUnknown* container, REFIID iid, DWORD cookie);

// The list of sinks a connection point holds; firing takes a snapshot so a sink may
// unadvise from inside its own call.
template <class Sink>
class CConnectionList {
public:
    HRESULT Add(IUnknown* unknown, REFIID sinkIid, DWORD* cookie) {
        if (unknown == nullptr || cookie == nullptr) {
            return E_POINTER;
        }
        Sink* sink = nullptr;
        if (FAILED(unknown->QueryInterface(sinkIid, reinterpret_cast<void**>(&sink))) ||
            sink == nullptr) {
            return CONNECT_E_CANNOTCONNECT;
        }
        std::lock_guard lock(m_mutex);
        *cookie = ++m_nextCookie;
        m_sinks.emplace_back(*cookie, CComPtr<Sink>());
        m_sinks.back().second.Attach(sink);
        return S_OK;
    }
    HRESULT Remove(DWORD cookie) {
        CComPtr<Sink> released;
        std::lock_guard lock(m_mutex);
        for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
            if (it->first == cookie) {
                released = std::move(it->second);
                m_sinks.erase(it);
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
    std::vector<CComPtr<Sink>> Snapshot() const {
        std::lock_guard lock(m_mutex);
        std::vector<CComPtr<Sink>> sinks;
        sinks.reserve(m_sinks.size());
        for (const auto& entry : m_sinks) {
            sinks.push_back(entry.second);
        }
        return sinks;
    }
    std::size_t Count() const {
        std::lock_guard lock(m_mutex);
        return m_sinks.size();
    }
    void Clear() {
        std::vector<std::pair<DWORD, CComPtr<Sink>>> released;
        std::lock_guard lock(m_mutex);
        released.swap(m_sinks);
    }

private:
    mutable std::mutex m_mutex;
    DWORD m_nextCookie = 0;
    std::vector<std::pair<DWORD, CComPtr<Sink>>> m_sinks;
};

// ---- Strings and variants --------------------------------------------------------------
// A COM string: UTF-8 text; null and empty are distinct as with BSTR.
class CComBSTR {
public:
    CComBSTR() = default;
    CComBSTR(const char* text)
        : m_null(text == nullptr), m_text(text != nullptr ? text : "") {}   // NOLINT
    CComBSTR(std::string text) : m_null(false), m_text(std::move(text)) {}  // NOLINT
    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }
    bool IsNull() const { return m_null; }
    std::size_t Length() const { return m_text.size(); }
    friend bool operator==(const CComBSTR& a, const CComBSTR& b) { return a.m_text == b.m_text; }

private:
    bool m_null = true;
    std::string m_text;
};
using BSTR = CComBSTR;

using VARTYPE = std::uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_ARRAY = 0x2000;
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// A VARIANT holding what the system passes: numbers, booleans, strings, dates and
// one-dimensional arrays (SAFEARRAYs) of floats, doubles, strings, booleans and bytes.
class VARIANT {
public:
    using Value = std::variant<std::monostate, std::int16_t, std::int32_t, std::uint32_t, float,
                               double, bool, std::string, std::vector<float>, std::vector<double>,
                               std::vector<std::string>, std::vector<bool>, std::vector<BYTE>>;
    VARIANT() = default;
    explicit VARIANT(Value value, bool isDate = false)
        : m_value(std::move(value)), m_date(isDate) {}

    VARTYPE vt() const;
    void Clear() {
        m_value = std::monostate{};
        m_date = false;
    }
    const Value& value() const { return m_value; }
    Value& value() { return m_value; }
    template <class T>
    const T* get_if() const {
        return std::get_if<T>(&m_value);
    }
    // The float array of a VT_ARRAY|VT_R4 variant, or null.
    const std::vector<float>* FloatArray() const { return get_if<std::vector<float>>(); }

private:
    Value m_value;
    bool m_date = false;
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
