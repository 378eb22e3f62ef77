// Run-time classes: class names, kind tests and dynamic creation by name, and the
// command target base from which routed objects derive.
#pragma once

#include <string>

#include "platform/Types.h"

class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const;
    bool IsDerivedFrom(const CRuntimeClass* base) const;
    // A registered class by name (case-sensitive, as the framework compares), or null.
    static const CRuntimeClass* FromName(const char* className);
    static void Register(const CRuntimeClass* cls);
};

class CObject {
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass* cls) const;
    static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(name) (&name::class##name)

#define DECLARE_DYNAMIC(name)               \
public:                                     \
    static const CRuntimeClass class##name; \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(name) \
    DECLARE_DYNAMIC(name)       \
    static CObject* CreateObject();

namespace platform {
struct RuntimeClassRegistrar {
    explicit RuntimeClassRegistrar(const CRuntimeClass* cls) { CRuntimeClass::Register(cls); }
};
}  // namespace platform

#define TAVIMO_IMPLEMENT_RUNTIMECLASS(name, base, create)                                   \
    const CRuntimeClass name::class##name = {#name, static_cast<int>(sizeof(name)), 0xFFFF, \
                                             create, RUNTIME_CLASS(base)};                  \
    const CRuntimeClass* name::GetRuntimeClass() const {                                    \
        return RUNTIME_CLASS(name);                                                         \
    }                                                                                       \
    static const platform::RuntimeClassRegistrar s_register##name(RUNTIME_CLASS(name));

#define IMPLEMENT_DYNAMIC(name, base) TAVIMO_IMPLEMENT_RUNTIMECLASS(name, base, nullptr)
#define IMPLEMENT_DYNCREATE(name, base) \
    CObject* name::CreateObject() {     \
        return new name;                \
    }                                   \
    TAVIMO_IMPLEMENT_RUNTIMECLASS(name, base, name::CreateObject)

// Notification header sent with WM_NOTIFY.
struct NMHDR {
    void* hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

// An object that can receive routed commands and notifications.
class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Handles a command (code 0 for WM_COMMAND) or a notification (WM_NOTIFY code in the
    // high word with extra pointing at the NMHDR); nonzero when handled.
    virtual BOOL OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo);
};
