// The sink class the executable serves: "MotionTrackerSink Class", ProgID
// "Tavimo.MotionTrackerSink.1". It forwards the sensor's data event to the one sensor
// link of the process.
#pragma once

#include <atomic>

#include "interfaces/MotionTrackerSink.h"

// What the sink calls: the sensor link that the main window publishes.
class CSensorDataHandler {
public:
    virtual ~CSensorDataHandler() = default;
    virtual void OnDataAvailable() = 0;
};

// The process-wide sensor link the sink forwards to (null while none exists).
extern std::atomic<CSensorDataHandler*> g_pSensorDataHandler;

inline const CLSID CLSID_MotionTrackerSink = MakeGuid("{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}");

class CMotionTrackerSink final : public CDispatchBase<IMotionTrackerSink> {
    TAVIMO_COM_REFCOUNT()
public:
    CMotionTrackerSink();
    ~CMotionTrackerSink() override;

    HRESULT QueryInterface(REFIID iid, void** object) override;
    HRESULT GetIDsOfNames(REFIID iid, const char** names, UINT count, DWORD locale,
                          DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, DWORD locale, WORD flags, void* params, void* result,
                   void* exception, UINT* argError) override;
    HRESULT OnDataAvailable() override;

    // The object map's creator: a plain instance (aggregation is not supported).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);
};
