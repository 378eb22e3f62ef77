// The simulated sensor's timing: each sample at its due time, never before, none lost,
// batches only when asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "mtobj/SensorDevice.h"

namespace {

double SteadyNowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Delivery {
    std::size_t samples = 0;
    double newestSeconds = -1;
    double returnedAt = 0;  // steady seconds
};

// Starts the device at `rate` in rotation-matrix mode and reads `reads` batches.
std::vector<Delivery> ReadBatches(mtobj::ISensorDevice* device, std::int16_t rate, int reads) {
    EXPECT_EQ(device->Open("COM1", 460800), S_OK);
    mtobj::SensorConfig config;
    config.sampleRate = rate;
    config.outputMode = 2;
    EXPECT_EQ(device->Configure(config), S_OK);
    EXPECT_EQ(device->Start(), S_OK);
    std::vector<Delivery> deliveries;
    std::vector<std::vector<float>> arrays;
    for (int i = 0; i < reads; ++i) {
        arrays.clear();
        Delivery d;
        if (!device->ReadBatch(arrays, d.newestSeconds, 10000)) {
            ADD_FAILURE() << "no batch within the bound at read " << i;
            break;
        }
        d.returnedAt = SteadyNowSeconds();
        d.samples = arrays.size();
        deliveries.push_back(d);
    }
    device->Stop();
    return deliveries;
}

TEST(SimulatedDeviceTest, DeliversEachSampleAtItsDueTimeNeverEarlyNoneLost) {
    unsetenv("TAVIMO_SIMULATED_SENSOR_BATCH_MS");
    const auto device = mtobj::MakeSimulatedDevice(1, "COM1");
    const auto deliveries = ReadBatches(device.get(), 512, 200);
    ASSERT_EQ(deliveries.size(), 200U);
    const double period = 1.0 / 512;
    int single = 0;
    for (std::size_t i = 0; i < deliveries.size(); ++i) {
        const Delivery& d = deliveries[i];
        ASSERT_GE(d.samples, 1U) << i;
        // Never handed out before it is due.
        EXPECT_LE(device->DueSteadySeconds(d.newestSeconds), d.returnedAt) << i;
        // Consecutive samples, one period apart: none skipped, none repeated.
        if (i > 0) {
            EXPECT_NEAR(d.newestSeconds - deliveries[i - 1].newestSeconds,
                        static_cast<double>(d.samples) * period, 1e-9)
                << i;
        }
        single += d.samples == 1 ? 1 : 0;
    }
    // One sample a delivery, as a serial sensor sends them; a thread scheduled late on a
    // busy machine catches up with the few that came due meanwhile. (In 16 ms batches,
    // none would come alone.)
    EXPECT_GT(single, 20);
}

TEST(SimulatedDeviceTest, BatchesOnlyWhenTheSettingAsks) {
    setenv("TAVIMO_SIMULATED_SENSOR_BATCH_MS", "16", 1);
    const auto device = mtobj::MakeSimulatedDevice(1, "COM1");
    const auto deliveries = ReadBatches(device.get(), 512, 12);
    unsetenv("TAVIMO_SIMULATED_SENSOR_BATCH_MS");
    ASSERT_EQ(deliveries.size(), 12U);
    // After the first, every batch holds at least the 16 ms of samples since the last.
    for (std::size_t i = 1; i < deliveries.size(); ++i) {
        EXPECT_GE(deliveries[i].samples, 8U) << i;
    }
}

TEST(SimulatedDeviceTest, InterruptAndStopEndAWaitingRead) {
    auto device = mtobj::MakeSimulatedDevice(1, "COM1");
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    mtobj::SensorConfig config;
    config.sampleRate = 25;  // the first sample is due 40 ms after the start
    ASSERT_EQ(device->Configure(config), S_OK);
    ASSERT_EQ(device->Start(), S_OK);
    std::vector<std::vector<float>> arrays;
    double newest = -1;
    device->Interrupt();  // an interruption before the read is not lost
    EXPECT_FALSE(device->ReadBatch(arrays, newest, 10000));
    EXPECT_TRUE(arrays.empty());
    std::thread stopper([&] { device->Stop(); });
    stopper.join();
    EXPECT_FALSE(device->ReadBatch(arrays, newest, 10000));
    // The device's clock converts to the steady clock: a later sample, a later time.
    EXPECT_LT(device->DueSteadySeconds(1.0), device->DueSteadySeconds(2.0));
    EXPECT_NEAR(device->DueSteadySeconds(2.0) - device->DueSteadySeconds(1.0), 1.0, 1e-9);
}

}  // namespace
