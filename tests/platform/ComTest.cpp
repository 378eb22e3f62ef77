#include <gtest/gtest.h>

#include "platform/Com.h"
#include "platform/Registry.h"

namespace {
const IID IID_ICounter = MakeGuid("{11111111-2222-3333-4444-555555555555}");
const IID IID_IEvents = MakeGuid("{11111111-2222-3333-4444-666666666666}");
const CLSID CLSID_Counter = MakeGuid("{AAAAAAAA-2222-3333-4444-555555555555}");

class ICounter : public IUnknown {
public:
    virtual int Next() = 0;
};
class IEvents : public IUnknown {
public:
    virtual void Fired(int value) = 0;
};

int g_live = 0;

class CCounter final : public ICounter, public IConnectionPointContainer, public IConnectionPoint {
    TAVIMO_COM_REFCOUNT()
public:
    CCounter() { ++g_live; }
    ~CCounter() override { --g_live; }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_ICounter) {
            return ComHandOut<ICounter>(this, object);
        }
        if (iid == IID_IConnectionPointContainer) {
            return ComHandOut<IConnectionPointContainer>(this, object);
        }
        if (iid == IID_IConnectionPoint) {
            return ComHandOut<IConnectionPoint>(this, object);
        }
        return ComNoInterface(object);
    }
    int Next() override {
        ++m_value;
        for (auto& sink : m_sinks.Snapshot()) {
            sink->Fired(m_value);
        }
        return m_value;
    }
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!(iid == IID_IEvents)) {
            return CONNECT_E_NOCONNECTION;
        }
        *point = this;
        AddRef();
        return S_OK;
    }
    HRESULT GetConnectionInterface(IID* iid) override {
        *iid = IID_IEvents;
        return S_OK;
    }
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
        return m_sinks.Add(sink, IID_IEvents, cookie);
    }
    HRESULT Unadvise(DWORD cookie) override { return m_sinks.Remove(cookie); }

private:
    int m_value = 0;
    CConnectionList<IEvents> m_sinks;
};

class CSink final : public IEvents {
    TAVIMO_COM_REFCOUNT()
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IEvents) {
            *object = static_cast<IEvents*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    void Fired(int value) override { last = value; }
    int last = 0;
};

HRESULT CreateCounter(IUnknown* outer, REFIID iid, void** object) {
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    CComPtr<ICounter> counter(new CCounter);
    return counter->QueryInterface(iid, object);
}

class ComTest : public testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};
}  // namespace

TEST(GuidTest, ParsesAndPrintsInRegistryForm) {
    auto g = GUID::Parse("{4e1a3625-cff1-4f04-8934-b2caf8feeeb1}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->ToString(), "{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}");
    EXPECT_EQ(GUID::Parse("4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1"), g);
    EXPECT_FALSE(GUID::Parse("{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEBZ}"));
    EXPECT_FALSE(GUID::Parse(""));
    EXPECT_TRUE(GUID_NULL.IsNull());
}

TEST_F(ComTest, CreateInstanceOfUnregisteredClassFails) {
    CComPtr<ICounter> counter;
    EXPECT_EQ(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_ICounter,
                               reinterpret_cast<void**>(&counter)),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(counter);
}

TEST_F(ComTest, RegisteredClassIsCreatedByClassIdAndProgIdUntilRevoked) {
    CComClassRegistration registration(CLSID_Counter, "Test.Counter.1", CreateCounter);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("test.counter.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Counter);
    {
        CComPtr<ICounter> counter;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ICounter,
                                   reinterpret_cast<void**>(&counter)),
                  S_OK);
        EXPECT_EQ(counter->Next(), 1);
        EXPECT_EQ(g_live, 1);
        CComPtr<IEvents> none;
        EXPECT_EQ(counter.QueryInterface(IID_IEvents, &none), E_NOINTERFACE);
    }
    EXPECT_EQ(g_live, 0);  // the last release deleted it
    IUnknown* outer = reinterpret_cast<IUnknown*>(0x1);
    void* aggregated = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Counter, outer, CLSCTX_ALL, IID_IUnknown, &aggregated),
              CLASS_E_NOAGGREGATION);
    registration.Revoke();
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_ICounter, &object),
              REGDB_E_CLASSNOTREG);
}

TEST(ComUninitialisedTest, CreateInstanceNeedsCoInitialize) {
    CComClassRegistration registration(CLSID_Counter, nullptr, CreateCounter);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_ICounter, &object),
              CO_E_NOTINITIALIZED);
}

TEST_F(ComTest, ProgIdIsFoundInTheRegistry) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, "Registered.Only\\CLSID"), ERROR_SUCCESS);
    key.SetString("", CLSID_Counter.ToString());
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("Registered.Only", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Counter);
    EXPECT_EQ(CLSIDFromProgID("Nobody.Home", &clsid), CO_E_CLASSSTRING);
}

TEST_F(ComTest, ConnectionPointAdviseFireUnadvise) {
    CComPtr<ICounter> counter(new CCounter);
    CComPtr<CSink> sink(new CSink);
    DWORD cookie = 0;
    ASSERT_EQ(AtlAdvise(counter, sink, IID_IEvents, &cookie), S_OK);
    counter->Next();
    EXPECT_EQ(sink->last, 1);
    EXPECT_EQ(AtlAdvise(counter, sink, IID_ICounter, &cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(AtlUnadvise(counter, IID_IEvents, cookie), S_OK);
    EXPECT_EQ(AtlUnadvise(counter, IID_IEvents, cookie), CONNECT_E_NOCONNECTION);
    counter->Next();
    EXPECT_EQ(sink->last, 1);
}

TEST(VariantTest, TypesFollowTheHeldValue) {
    VARIANT v;
    EXPECT_EQ(v.vt(), VT_EMPTY);
    v = VARIANT(std::vector<float>{1.0F, 2.0F});
    EXPECT_EQ(v.vt(), VT_ARRAY | VT_R4);
    ASSERT_NE(v.FloatArray(), nullptr);
    EXPECT_EQ(v.FloatArray()->size(), 2u);
    EXPECT_EQ(VARIANT(std::string("x")).vt(), VT_BSTR);
    EXPECT_EQ(VARIANT(45000.5, true).vt(), VT_DATE);
    VariantClear(&v);
    EXPECT_EQ(v.vt(), VT_EMPTY);
    EXPECT_EQ(v.FloatArray(), nullptr);
}

namespace {
const IID IID_IProbe = MakeGuid("{11111111-2222-3333-4444-777777777777}");

// A dispatch interface driven through its own slots, on the platform's dispatch base.
class IProbe : public IDispatch {
public:
    virtual int Value() = 0;
};
class CProbe final : public CDispatchBase<IProbe>, public IEvents {
    TAVIMO_COM_REFCOUNT()
public:
    ~CProbe() override { ++destroyed; }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IEvents) {
            return ComHandOut<IEvents>(this, object);
        }
        return Query(iid, IID_IProbe, object);
    }
    int Value() override { return 42; }
    void Fired(int value) override { fired = value; }
    int fired = 0;
    static inline int destroyed = 0;
};
}  // namespace

TEST(DispatchBaseTest, AnswersItsInterfacesWithAReferenceAndStubsTheDispatchSlots) {
    CComPtr<IProbe> probe(new CProbe);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IProbe}) {
        void* object = nullptr;
        ASSERT_EQ(probe->QueryInterface(*iid, &object), S_OK) << iid->ToString();
        EXPECT_EQ(object, static_cast<void*>(probe.get()));  // the interface, not a copy
        static_cast<IProbe*>(object)->Release();
    }
    CComPtr<IEvents> events;
    ASSERT_EQ(probe.QueryInterface(IID_IEvents, &events), S_OK);
    events->Fired(7);
    EXPECT_EQ(static_cast<CProbe*>(probe.get())->fired, 7);  // the same object
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(probe->QueryInterface(IID_ICounter, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(probe->QueryInterface(IID_IProbe, nullptr), E_POINTER);
    EXPECT_EQ(probe->QueryInterface(IID_IEvents, nullptr), E_POINTER);

    UINT count = 5;
    EXPECT_EQ(probe->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0U);
    EXPECT_EQ(probe->GetTypeInfoCount(nullptr), E_POINTER);
    void* typeInfo = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(probe->GetTypeInfo(0, 0, &typeInfo), E_NOTIMPL);
    EXPECT_EQ(typeInfo, nullptr);
    const char* name = "Value";
    DISPID id = 0;
    EXPECT_EQ(probe->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id), E_NOTIMPL);
    EXPECT_EQ(
        probe->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
        E_NOTIMPL);
    EXPECT_EQ(probe->Value(), 42);

    // The references handed out were counted: the last release deletes the object.
    const int before = CProbe::destroyed;
    events.Release();
    EXPECT_EQ(CProbe::destroyed, before);
    probe.Release();
    EXPECT_EQ(CProbe::destroyed, before + 1);
}

TEST_F(ComTest, ALibraryClassCanBeTakenAwayAndBroughtBack) {
    const CLSID clsid = MakeGuid("{AAAAAAAA-2222-3333-4444-777777777777}");
    CComLibraryClass libraryClass(clsid, "Test.LibraryCounter.1", CreateCounter);
    const auto create = [&clsid] {
        CComPtr<ICounter> counter;
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ICounter,
                                reinterpret_cast<void**>(&counter));
    };
    EXPECT_TRUE(libraryClass.IsRegistered());  // from its construction on
    EXPECT_EQ(create(), S_OK);
    libraryClass.Unregister();
    libraryClass.Unregister();  // twice is harmless
    EXPECT_FALSE(libraryClass.IsRegistered());
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
    libraryClass.Register();
    libraryClass.Register();  // registered once, not twice
    EXPECT_EQ(create(), S_OK);
    CLSID byName;
    ASSERT_EQ(CLSIDFromProgID("Test.LibraryCounter.1", &byName), S_OK);
    EXPECT_EQ(byName, clsid);
    libraryClass.Unregister();
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);  // the second Register left no second entry
}
