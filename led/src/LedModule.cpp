// The control as a COM class: the object that containers create by ProgID, its class
// registration in the process's class table, and the library's server entry points.
#include <QPointer>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "led/LedCtrl.h"
#include "platform/Process.h"
#include "platform/Registrar.h"
#include "platform/Resources.h"

namespace {
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr UINT IDR_LED = 6601;  // registry script of the control and its property page

std::atomic<LONG> g_objects{0};

// The control and its property page, their ProgIDs and their in-process server.
constexpr const char* kLedScript = R"(HKCR
{
	LED.LedCtrl.1 = s '%TYPENAME%'
	{
		CLSID = s '{63250224-7F96-455A-9ED8-DF4CBBCDBE91}'
	}
	LED.LedPropPage.1 = s 'Led Property Page'
	{
		CLSID = s '{7FC6C6E6-F218-4708-8624-0DB6CA439DF3}'
	}
	NoRemove CLSID
	{
		ForceRemove {63250224-7F96-455A-9ED8-DF4CBBCDBE91} = s '%TYPENAME%'
		{
			ProgID = s 'LED.LedCtrl.1'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			ForceRemove 'Control'
			ForceRemove 'Programmable'
			ToolboxBitmap32 = s '%MODULE%, 6602'
			MiscStatus = s '0'
			{
				'1' = s '131473'
			}
			TypeLib = s '{79315A9F-3923-4408-B771-34A2A0B91C99}'
			Version = s '1.0'
		}
		ForceRemove {7FC6C6E6-F218-4708-8624-0DB6CA439DF3} = s 'Led Property Page'
		{
			ProgID = s 'LED.LedPropPage.1'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
		}
	}
}
)";

// Object alive counts keep DllCanUnloadNow honest.
class CObjectCount {
public:
    CObjectCount() { ++g_objects; }
    ~CObjectCount() { --g_objects; }
    CObjectCount(const CObjectCount&) = delete;
    CObjectCount& operator=(const CObjectCount&) = delete;
};

// Reads a whole number or a boolean from a dispatch argument.
bool ArgToLong(const VARIANT* arg, long& value) {
    if (arg == nullptr) {
        return false;
    }
    return std::visit(
        [&](const auto& v) -> bool {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                value = v ? 1 : 0;
                return true;
            } else if constexpr (std::is_integral_v<T>) {
                value = static_cast<long>(v);
                return true;
            } else if constexpr (std::is_floating_point_v<T>) {
                value = std::lround(v);
                return true;
            } else {
                return false;
            }
        },
        arg->value());
}

class CLedCtrlObject final : public CDispatchBase<ILedCtrl>, public IControlWidget {
    TAVIMO_COM_REFCOUNT()
public:
    CLedCtrlObject() : m_widget(new CLedCtrl) {}
    ~CLedCtrlObject() override { delete m_widget.data(); }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IControlWidget) {
            return ComHandOut<IControlWidget>(this, object);
        }
        return Query(iid, IID_ILedCtrl, object);
    }

    QWidget* GetWidget() override { return m_widget.data(); }

    HRESULT GetIDsOfNames(REFIID, const char** names, UINT count, DWORD, DISPID* ids) override {
        if (names == nullptr || ids == nullptr) {
            return E_POINTER;
        }
        static const std::map<std::string, DISPID> members{
            {"activecolor", DISPID_LED_ACTIVECOLOR},
            {"backgroundcolor", DISPID_LED_BACKGROUNDCOLOR},
            {"setactive", DISPID_LED_SETACTIVE},
            {"setflashing", DISPID_LED_SETFLASHING},
            {"pulse", DISPID_LED_PULSE}};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            std::string name = names[i] != nullptr ? names[i] : "";
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            auto it = members.find(name);
            ids[i] = it != members.end() ? it->second : -1;
            if (it == members.end()) {
                hr = DISP_E_UNKNOWNNAME;
            }
        }
        return hr;
    }
    HRESULT Invoke(DISPID id, REFIID, DWORD, WORD flags, void* params, void* result, void*,
                   UINT*) override {
        const auto* arg = static_cast<const VARIANT*>(params);
        auto* out = static_cast<VARIANT*>(result);
        long value = 0;
        switch (id) {
            case DISPID_LED_ACTIVECOLOR:
            case DISPID_LED_BACKGROUNDCOLOR: {
                const bool active = id == DISPID_LED_ACTIVECOLOR;
                if ((flags & DISPATCH_PROPERTYPUT) != 0) {
                    if (!ArgToLong(arg, value)) {
                        return arg == nullptr ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
                    }
                    const auto colour = static_cast<COLORREF>(value);
                    return active ? put_ActiveColor(colour) : put_BackgroundColor(colour);
                }
                if (out == nullptr) {
                    return E_POINTER;
                }
                COLORREF colour = 0;
                const HRESULT hr = active ? get_ActiveColor(&colour) : get_BackgroundColor(&colour);
                if (SUCCEEDED(hr)) {
                    *out = VARIANT(std::uint32_t{colour});
                }
                return hr;
            }
            case DISPID_LED_SETACTIVE:
            case DISPID_LED_SETFLASHING:
            case DISPID_LED_PULSE:
                if (!ArgToLong(arg, value)) {
                    return arg == nullptr ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
                }
                if (id == DISPID_LED_PULSE) {
                    return Pulse(static_cast<LONG>(value));
                }
                return id == DISPID_LED_SETACTIVE
                           ? SetActive(value != 0 ? VARIANT_TRUE : VARIANT_FALSE)
                           : SetFlashing(value != 0 ? VARIANT_TRUE : VARIANT_FALSE);
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

    HRESULT get_ActiveColor(COLORREF* colour) override {
        if (colour == nullptr) {
            return E_POINTER;
        }
        return Call([&](CLedCtrl& w) { *colour = w.GetActiveColor(); });
    }
    HRESULT put_ActiveColor(COLORREF colour) override {
        return Call([&](CLedCtrl& w) { w.SetActiveColor(colour); });
    }
    HRESULT get_BackgroundColor(COLORREF* colour) override {
        if (colour == nullptr) {
            return E_POINTER;
        }
        return Call([&](CLedCtrl& w) { *colour = w.GetBackgroundColor(); });
    }
    HRESULT put_BackgroundColor(COLORREF colour) override {
        return Call([&](CLedCtrl& w) { w.SetBackgroundColor(colour); });
    }
    HRESULT SetActive(VARIANT_BOOL active) override {
        return Call([&](CLedCtrl& w) { w.SetActive(active != VARIANT_FALSE); });
    }
    HRESULT SetFlashing(VARIANT_BOOL flashing) override {
        return Call([&](CLedCtrl& w) { w.SetFlashing(flashing != VARIANT_FALSE); });
    }
    HRESULT Pulse(LONG milliseconds) override {
        return Call([&](CLedCtrl& w) { w.Pulse(milliseconds); });
    }

    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) {
        return ComCreateInstance<CLedCtrlObject, ILedCtrl>(outer, iid, object);
    }

private:
    // The container may have deleted the widget (its parent went first).
    template <class F>
    HRESULT Call(F&& f) {
        if (m_widget.isNull()) {
            return E_UNEXPECTED;
        }
        f(*m_widget);
        return S_OK;
    }

    CObjectCount m_count;
    QPointer<CLedCtrl> m_widget;
};

// The control's property page holds no controls of its own.
class CLedPropPage final : public IControlWidget {
    TAVIMO_COM_REFCOUNT()
public:
    CLedPropPage() : m_widget(new QWidget) {}
    ~CLedPropPage() override { delete m_widget.data(); }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IControlWidget) {
            return ComHandOut<IControlWidget>(this, object);
        }
        return ComNoInterface(object);
    }
    QWidget* GetWidget() override { return m_widget.data(); }

    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) {
        return ComCreateInstance<CLedPropPage, IControlWidget>(outer, iid, object);
    }

private:
    CObjectCount m_count;
    QPointer<QWidget> m_widget;
};

void RegisterLedResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::AddResourceModule("Led");
        platform::RegisterString("Led", IDS_LED, "Led Control");
        platform::RegisterResource("Led", "REGISTRY", IDR_LED, kLedScript);
    });
}

// The library's classes enter the class table when it is loaded, as an in-process
// server's would once the system found it.
struct CLedClasses {
    CLedClasses()
        : control(CLSID_LedCtrl, kLedProgId, &CLedCtrlObject::CreateInstance),
          page(CLSID_LedPropPage, kLedPropPageProgId, &CLedPropPage::CreateInstance) {}
    CComClassRegistration control;
    CComClassRegistration page;
};
const CLedClasses g_classes;

std::string ModulePath() {
    return platform::LoadedFileOf(reinterpret_cast<const void*>(&led::ModuleDirectory));
}

std::string TypeLibPath() {
    return led::ModuleDirectory() + "/led.tlb";
}

std::map<std::string, std::string> Replacements() {
    return {{"MODULE", ModulePath()}, {"TYPENAME", LoadStringOrEmpty(IDS_LED)}};
}
}  // namespace

namespace led {
std::string ModuleDirectory() {
    return std::filesystem::path(ModulePath()).parent_path().string();
}

HRESULT DllRegisterServer() {
    RegisterLedResources();
    if (FAILED(platform::RegisterTypeLib(TypeLibPath()))) {
        return SELFREG_E_TYPELIB;
    }
    if (FAILED(platform::UpdateRegistryFromResource(IDR_LED, true, Replacements()))) {
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT DllUnregisterServer() {
    RegisterLedResources();
    const HRESULT classes = platform::UpdateRegistryFromResource(IDR_LED, false, Replacements());
    const HRESULT typeLib = platform::UnRegisterTypeLib(TypeLibPath());
    if (FAILED(typeLib)) {
        return SELFREG_E_TYPELIB;
    }
    return FAILED(classes) ? SELFREG_E_CLASS : S_OK;
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!(clsid == CLSID_LedCtrl) && !(clsid == CLSID_LedPropPage)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, iid, object);
}

HRESULT DllCanUnloadNow() {
    return g_objects.load() == 0 && ComModuleLockCount() == 0 ? S_OK : S_FALSE;
}
}  // namespace led
