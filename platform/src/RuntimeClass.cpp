#include "platform/RuntimeClass.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {
std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
std::vector<const CRuntimeClass*>& Classes() {
    static std::vector<const CRuntimeClass*> classes;
    return classes;
}
}  // namespace

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF,
                                             nullptr, nullptr};
static const platform::RuntimeClassRegistrar s_registerCObject(&CObject::classCObject);

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &CObject::classCObject;
}

bool CObject::IsKindOf(const CRuntimeClass* cls) const {
    return GetRuntimeClass()->IsDerivedFrom(cls);
}

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
        if (c == base) {
            return true;
        }
    }
    return false;
}

const CRuntimeClass* CRuntimeClass::FromName(const char* className) {
    if (className == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(Mutex());
    for (const CRuntimeClass* c : Classes()) {
        if (std::strcmp(c->m_lpszClassName, className) == 0) {
            return c;
        }
    }
    return nullptr;
}

void CRuntimeClass::Register(const CRuntimeClass* cls) {
    std::lock_guard lock(Mutex());
    Classes().push_back(cls);
}

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

BOOL CCmdTarget::OnCmdMsg(UINT /*id*/, int /*code*/, void* /*extra*/, void* /*handlerInfo*/) {
    return FALSE;
}
