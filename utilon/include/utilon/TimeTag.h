// When something happened, in several time frames at once: a stamp per frame, the
// offset of a frame from the PC clock, and the tag that holds one stamp for each frame.
#pragma once

#include <string>

#include "platform/Types.h"

enum ETimeFrame {
    eTimeFrameNone = -1,
    eTimeFramePC = 0,  // the frame of a default stamp
    eTimeFrameUTC = 1,
    eTimeFrameGPS = 2,
    eTimeFrameSensor = 3,
    eTimeFrameUser = 4,
};
// A time tag holds one stamp for each of the frames 0 to 4.
inline constexpr int kTimeFrameCount = 5;

class CTimeStamp {
public:
    CTimeStamp() = default;
    CTimeStamp(ETimeFrame frame, std::string source, double time, double precision)
        : m_eFrame(frame), m_sSource(std::move(source)), m_dfTime(time), m_dfPrecision(precision) {}

    ETimeFrame eGetTimeFrame() const { return m_eFrame; }
    std::string sGetSource() const { return m_sSource; }
    double dfGetTime() const { return m_dfTime; }
    double dfGetPrecision() const { return m_dfPrecision; }

    bool operator==(const CTimeStamp&) const = default;

    ETimeFrame m_eFrame = eTimeFramePC;
    std::string m_sSource;
    double m_dfTime = 0.0;
    double m_dfPrecision = 0.0;
};

class CTimeTagOffset {
public:
    CTimeTagOffset() = default;
    CTimeTagOffset(ETimeFrame frame, std::string source, double offset, double precision)
        : m_eFrame(frame),
          m_sSource(std::move(source)),
          m_dfOffset(offset),
          m_dfPrecision(precision) {}

    ETimeFrame eGetTimeFrame() const { return m_eFrame; }
    std::string sGetSource() const { return m_sSource; }
    // The frame's offset from the PC time, and its precision.
    double dfGetTimeOffset() const { return m_dfOffset; }
    double dfGetPrecision() const { return m_dfPrecision; }

    ETimeFrame m_eFrame = eTimeFrameNone;
    std::string m_sSource;
    // Zero until set, so an offset never reads as an indeterminate value.
    double m_dfOffset = 0.0;
    double m_dfPrecision = 0.0;
};

class CTimeTag {
public:
    // The stamp of a frame; null for a frame outside 0 to 4.
    CTimeStamp* GetStamp(int frame) {
        return frame >= 0 && frame < kTimeFrameCount ? &m_Stamps[frame] : nullptr;
    }
    const CTimeStamp* GetStamp(int frame) const {
        return frame >= 0 && frame < kTimeFrameCount ? &m_Stamps[frame] : nullptr;
    }

    CTimeStamp m_Stamps[kTimeFrameCount];
};

// Tells the suite which source the PC clock follows: the change is raised as an event of
// the suite's event service (source "Tickwise") and handed to the PC clock.
void SetTimeSource(const std::string& name);
