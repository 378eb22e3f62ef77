#include "app/MotionTrackerSink.h"

#include <cstring>

std::atomic<CSensorDataHandler*> g_pSensorDataHandler{nullptr};

namespace {
constexpr DISPID kDispIdOnDataAvailable = 1;
}

CMotionTrackerSink::CMotionTrackerSink() {
    ComModuleLock();
}
CMotionTrackerSink::~CMotionTrackerSink() {
    ComModuleUnlock();
}

HRESULT CMotionTrackerSink::QueryInterface(REFIID iid, void** object) {
    return Query(iid, IID_IMotionTrackerSink, object);
}

HRESULT CMotionTrackerSink::GetIDsOfNames(REFIID, const char** names, UINT count, DWORD,
                                          DISPID* ids) {
    if (names == nullptr || ids == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        if (names[i] != nullptr && std::strcmp(names[i], "OnDataAvailable") == 0) {
            ids[i] = kDispIdOnDataAvailable;
        } else {
            ids[i] = -1;
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

HRESULT CMotionTrackerSink::Invoke(DISPID id, REFIID, DWORD, WORD, void*, void*, void*, UINT*) {
    if (id == kDispIdOnDataAvailable) {
        return OnDataAvailable();
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT CMotionTrackerSink::OnDataAvailable() {
    if (CSensorDataHandler* handler = g_pSensorDataHandler.load()) {
        handler->OnDataAvailable();
    }
    return S_OK;
}

HRESULT CMotionTrackerSink::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    return ComCreateInstance<CMotionTrackerSink, IMotionTrackerSink>(outer, iid, object);
}
