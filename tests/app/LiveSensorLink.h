// A sensor link on the simulated sensor that samples by itself, with its sink advised and
// the simulator's test interface at hand; stopped and unadvised when it goes.
#pragma once

#include <utility>

#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "mtobj/MTObj.h"

namespace sensor_test {

class LiveSensorLink {
public:
    explicit LiveSensorLink(TelegramOutputFactory outputs) : link(nullptr, 2, std::move(outputs)) {
        ready = link.Initialise();
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        ready = ready && link.AdviseSink(sink, &cookie) == S_OK &&
                link.GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                                  reinterpret_cast<void**>(&sim)) == S_OK;
        link.OpenSensorPort(1, 115200);
    }
    ~LiveSensorLink() {
        link.StopSensor();
        link.UnadviseSink(cookie);
        sim.Release();
    }
    LiveSensorLink(const LiveSensorLink&) = delete;
    LiveSensorLink& operator=(const LiveSensorLink&) = delete;

    CXsensModule link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CComPtr<IMotionTrackerSimulation> sim;
    bool ready = false;
};

}  // namespace sensor_test
