#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "utilon/TimeTag.h"

namespace {

TEST(TimeTag, DefaultsAndCopies) {
    const CTimeStamp stamp;
    EXPECT_EQ(stamp.eGetTimeFrame(), 0);
    EXPECT_EQ(stamp.sGetSource(), "");
    EXPECT_EQ(stamp.dfGetTime(), 0.0);
    EXPECT_EQ(stamp.dfGetPrecision(), 0.0);

    const CTimeTagOffset offset;
    EXPECT_EQ(offset.eGetTimeFrame(), -1);
    EXPECT_EQ(offset.sGetSource(), "");
    EXPECT_EQ(offset.dfGetTimeOffset(), 0.0);

    CTimeTag tag;
    for (int f = 0; f < kTimeFrameCount; ++f) {
        *tag.GetStamp(f) =
            CTimeStamp(static_cast<ETimeFrame>(f), "src" + std::to_string(f), 100.0 + f, 0.5 * f);
    }
    EXPECT_EQ(tag.GetStamp(-1), nullptr);
    EXPECT_EQ(tag.GetStamp(kTimeFrameCount), nullptr);
    const CTimeTag copy(tag);
    tag.GetStamp(3)->m_sSource = "changed";
    for (int f = 0; f < kTimeFrameCount; ++f) {
        EXPECT_EQ(copy.GetStamp(f)->sGetSource(), "src" + std::to_string(f));
        EXPECT_EQ(copy.GetStamp(f)->dfGetTime(), 100.0 + f);
        EXPECT_EQ(copy.GetStamp(f)->eGetTimeFrame(), f);
    }

    CTimeStamp self(eTimeFrameGPS, "gps", 1.0, 2.0);
    CTimeStamp& alias = self;
    self = alias;
    EXPECT_EQ(self, CTimeStamp(eTimeFrameGPS, "gps", 1.0, 2.0));
    const CTimeTagOffset o2 = CTimeTagOffset(eTimeFrameUTC, "ntp", -3.5, 0.1);
    EXPECT_EQ(o2.dfGetTimeOffset(), -3.5);
    EXPECT_EQ(o2.dfGetPrecision(), 0.1);
    EXPECT_EQ(o2.sGetSource(), "ntp");
}

TEST(TimeTag, SetTimeSourceRaisesTheEventAndTellsTheClock) {
    std::mutex mutex;
    std::vector<faultbook::TraceRecord> records;
    faultbook::SetTraceSink([&](const faultbook::TraceRecord& r) {
        std::lock_guard lock(mutex);
        records.push_back(r);
    });
    SetTimeSource("GPS \"A\"");
    faultbook::SetTraceSink(nullptr);

    EXPECT_EQ(CTickwise::GetTimeSource(), "GPS \"A\"");
    std::lock_guard lock(mutex);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].object, "EventService");
    EXPECT_EQ(records[0].context, "Tickwise");
    EXPECT_EQ(records[0].text, "Time source changed to \"GPS \"A\"\"");
}

}  // namespace
