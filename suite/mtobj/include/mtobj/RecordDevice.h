// A sensor device over a source of sensor records (a kernel IIO device, a capture file): raw
// records go through the device's calibration and Tavimo's attitude filter, fused records are
// used as they stand, and the attitudes are delivered at the configured sample rate in the
// arrays of every output mode. A raw device takes calibration steps while it runs (see
// ISensorDevice): it collects the step's raw samples from what it reads, computes them on a
// thread of the step's own, and stores and applies the result at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "filter/AttitudeFilter.h"
#include "mtobj/SensorCapture.h"
#include "mtobj/SensorDevice.h"

namespace mtobj {

class IRecordSource {
public:
    virtual ~IRecordSource() = default;
    // Looks for the device; false, with the reason, when it is not there or cannot be used.
    virtual bool Open(std::string* reason) = 0;
    virtual void Close() = 0;
    // The device id: the IIO name, or the recorded device's for a capture.
    virtual std::string Id() const = 0;
    // Starts the samples at the nearest rate the device has to rateHz; opens the device anew
    // (it may have vanished and come back since the last start).
    virtual bool Start(int rateHz, std::string* reason) = 0;
    virtual void Stop() = 0;
    // Waits at most timeoutMs for records and appends those that came, in time order. False
    // when none came: a quiet device, an interrupt, or a device that vanished (traced).
    virtual bool Read(std::vector<SensorRecord>& records, DWORD timeoutMs) = 0;
    // Wakes a Read in progress; may be called from any thread.
    virtual void Interrupt() = 0;
    // The PC seconds at which a record's time was on the PC clock (a capture plays its
    // records later than they were recorded).
    virtual double PcSeconds(double recordSeconds) const { return recordSeconds; }
    // True when what it reads may be recorded to a capture file (TAVIMO_CAPTURE).
    virtual bool Recordable() const { return true; }
    // True when the opened device delivers its own orientation (nothing to calibrate).
    virtual bool Fused() const { return false; }
};

// The device over a source, answering on the sensor port `port` ("COM1").
std::unique_ptr<ISensorDevice> MakeRecordDevice(std::unique_ptr<IRecordSource> source,
                                                std::string port);

// The kernel IIO device(s) named "NAME[+NAME...]" (the `name` attribute or the directory name
// "iio:deviceN"), under TAVIMO_IIO_SYSFS (default /sys/bus/iio/devices) and TAVIMO_IIO_DEV
// (default /dev).
std::unique_ptr<IRecordSource> MakeIioSource(const std::string& names);
std::unique_ptr<ISensorDevice> MakeIioDevice(const std::string& names, const std::string& port);

// The capture file played back: "FILE" at its recorded pace, "fast:FILE" as fast as the
// module takes it.
std::unique_ptr<IRecordSource> MakeReplaySource(const std::string& argument);
std::unique_ptr<ISensorDevice> MakeReplayDevice(const std::string& argument,
                                                const std::string& port);

// The attitude of a fused device's quaternion (w, x, y, z: vessel axes to east-north-up), in
// the attitude filter's conventions; and the quaternion of an attitude.
Attitude AttitudeOfQuaternion(const std::array<double, 4>& q);
std::array<double, 4> QuaternionOfAttitude(const Attitude& attitude);

// A raw record as the filter's sample, and back.
attfilter::RawSample RawSampleOf(const SensorRecord& record);
SensorRecord RecordOf(const attfilter::RawSample& sample);

}  // namespace mtobj
