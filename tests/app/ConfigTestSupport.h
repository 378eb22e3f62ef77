// The fixture of the configuration and settings tests: a fresh folder of the test's own
// and every trace line written meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "SensorTestSupport.h"
#include "TestSupport.h"

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = tavimo_test::TestFolder(); }
    // The trace so far, a line each: "object context: text".
    std::string Trace() const {
        std::string lines;
        for (const auto& r : m_traces.Records()) {
            lines += r.object + " " + r.context + ": " + r.text + "\n";
        }
        return lines;
    }

    std::filesystem::path m_dir;
    sensor_test::TraceCapture m_traces;
};
