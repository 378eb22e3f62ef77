// What the sensor link needs of a telegram worker: the ASCII outputs receive attitudes,
// the sensor-side port worker only a port. The telegram output area supplies the workers
// through a factory given to the sensor link when it is made, so the sensor link does not
// depend on how they send (and tests give it recording outputs).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "mtobj/Motion.h"

class ITelegramOutput {
public:
    virtual ~ITelegramOutput() = default;
    // Sets the running flag and starts the worker's thread.
    virtual bool Start() = 0;
    // The worker thread base's stop sequence (bounded wait).
    virtual void Stop() = 0;
    virtual void SetAttitude(double time, float roll, float pitch, float magneticHeading,
                             float magneticVariation) = 0;
    // The motion at the monitoring point that the next attitude goes out with (nullopt while
    // the sensor gives no heave); outputs that carry no heave ignore it.
    virtual void SetMotion(const std::optional<mtobj::Motion>& /*motion*/) {}
    // The rate of turn the next attitude goes out with (degrees a minute, positive to
    // starboard; nullopt until known); outputs that carry none ignore it.
    virtual void SetRateOfTurn(std::optional<float> /*degreesPerMinute*/) {}
    virtual void SetPort(short comNumber, unsigned baud) = 0;
    virtual void SetTelegramType(int type) = 0;
    // Whether the last opening of its port failed (the output is silent meanwhile).
    virtual bool IsPortFailed() const { return false; }
};

struct TelegramOutputFactory {
    // An ASCII telegram worker for (type, COM number, baud); null when it cannot be made.
    std::function<std::unique_ptr<ITelegramOutput>(int, short, unsigned)> attitude;
    // The binary worker of the sensor-side port; null when it cannot be made.
    std::function<std::unique_ptr<ITelegramOutput>()> sensorPort;
};

// The program's workers: the attitude telegram worker of each output row and the binary
// worker of the sensor-side port. The sensor link uses these unless a test sets others.
TelegramOutputFactory DefaultTelegramOutputFactory();
