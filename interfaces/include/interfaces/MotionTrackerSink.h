// The sensor's event interface: the sensor object calls OnDataAvailable on every sink
// advised to its connection point when samples are queued.
#pragma once

#include "platform/Com.h"

class IMotionTrackerSink : public IDispatch {
public:
    // Slot 7: samples are waiting to be fetched.
    virtual HRESULT OnDataAvailable() = 0;
};

inline const IID IID_IMotionTrackerSink = MakeGuid("{BB280866-7A0D-11D6-926B-008048B33483}");
