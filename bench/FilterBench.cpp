// The attitude filter against the simulator's truth, beside two textbook filters on the same
// samples (Madgwick's gradient descent, beta 0.1, and Mahony's explicit complementary filter,
// kp 0.2, ki 0.02), and the cost of one update.
//
// The seas are drawn over ranges (mtobj::DrawScenario): a heavy irregular sea, the same with
// two or three turns of 0.5 to 5 °/s, a moderate sea and calm water, each with its own sea,
// sensor lever arm, speed, heading and gyroscope bias (up to 0.5 °/s a axis), 50 draws each,
// five minutes at 100 samples a second with the noise of a good MEMS sensor; the gyroscope
// uncalibrated, or calibrated at rest beforehand. Roll and pitch count from 60 s on, heading
// from 120 s on.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "MadgwickFilter.h"
#include "MahonyFilter.h"
#include "filter/AttitudeFilter.h"
#include "filter/Calibration.h"
#include "mtobj/RawMotion.h"

namespace {
using attfilter::RawSample;
using mtobj::SeaKind;

constexpr double kRate = 100;
constexpr double kSeconds = 300;
constexpr double kTiltFrom = 60;
constexpr double kHeadingFrom = 120;
constexpr std::uint32_t kDraws = 50;

// One filter's errors over one run (degrees).
struct Errors {
    double sum[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
    long n[3] = {0, 0, 0};
    long beyond = 0;  // samples with roll or pitch off by more than 1°
    long tilted = 0;

    void Add(const attfilter::EulerAngles& a, const mtobj::RawTruth& t) {
        const double e[3] = {a.roll - t.attitude.roll, a.pitch - t.attitude.pitch,
                             std::remainder(a.heading - t.attitude.heading, 360.0)};
        for (int k = 0; k < 3; ++k) {
            if (t.seconds < (k < 2 ? kTiltFrom : kHeadingFrom)) {
                continue;
            }
            sum[k] += e[k] * e[k];
            max[k] = std::max(max[k], std::abs(e[k]));
            ++n[k];
        }
        if (t.seconds >= kTiltFrom) {
            ++tilted;
            beyond += std::abs(e[0]) > 1.0 || std::abs(e[1]) > 1.0 ? 1 : 0;
        }
    }
    double Rms(int k) const { return n[k] > 0 ? std::sqrt(sum[k] / static_cast<double>(n[k])) : 0; }
    double Beyond() const { return tilted > 0 ? static_cast<double>(beyond) / tilted : 0; }
};

struct Realisation {
    Errors tavimo, madgwick, mahony;
};

// Tavimo's filter and the two baselines over one draw of a sea; the baselines start from
// Tavimo's first attitude at the same sample, their gyroscope as calibrated as Tavimo's.
Realisation Run(SeaKind kind, std::uint32_t seed, bool calibrated,
                const attfilter::FilterTuning& tuning = {0.2, 1.0}) {
    const mtobj::RawScenario scenario = mtobj::DrawScenario(kind, seed);
    attfilter::SensorCalibration calibration;
    attfilter::CAttitudeFilter filter(tuning);
    if (calibrated) {
        mtobj::CRawMotion rest(mtobj::AtRest(scenario), kRate);
        calibration.gyroBias = attfilter::EstimateGyroBias(rest.Record(10));
        filter.SetGyroCalibrated(true);
    }
    mtobj::CRawMotion motion(scenario, kRate);
    CMadgwickFilter madgwick(0.1);
    CMahonyFilter mahony(0.2, 0.02);
    Realisation r;
    bool started = false;
    double last = 0;
    const auto count = static_cast<long>(kSeconds * kRate);
    for (long i = 0; i < count; ++i) {
        mtobj::RawTruth truth;
        const RawSample s = calibration.Apply(motion.Next(&truth));
        filter.Update(s);
        if (!filter.HasAttitude()) {
            continue;
        }
        if (!started) {
            madgwick.SetQuaternion(filter.Quaternion());
            mahony.SetQuaternion(filter.Quaternion());
            started = true;
        } else {
            madgwick.Update(s.gyro, s.accel, s.mag, s.seconds - last);
            mahony.Update(s.gyro, s.accel, s.mag, s.seconds - last);
        }
        last = s.seconds;
        r.tavimo.Add(filter.Attitude(), truth);
        r.madgwick.Add(attfilter::AnglesOf(madgwick.Quaternion()), truth);
        r.mahony.Add(attfilter::AnglesOf(mahony.Quaternion()), truth);
    }
    return r;
}

// Median, 95th percentile and worst of one figure over the draws.
struct Spread {
    double median, p95, worst;
};
Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&v](double share) {
        return v[std::min(v.size() - 1, static_cast<std::size_t>(share * (v.size() - 1) + 0.5))];
    };
    return {at(0.5), at(0.95), v.back()};
}

void Report(benchmark::State& state, const char* name, const std::vector<Errors>& runs) {
    static const char* const kAngles[] = {"roll", "pitch", "heading"};
    for (int k = 0; k < 3; ++k) {
        std::vector<double> rms, max;
        for (const Errors& e : runs) {
            rms.push_back(e.Rms(k));
            max.push_back(e.max[k]);
        }
        const Spread a = SpreadOf(rms);
        const Spread b = SpreadOf(max);
        std::printf(
            "  %-8s %-7s RMS median %.3f p95 %.3f worst %.3f | max median %.3f p95 %.3f "
            "worst %.3f deg\n",
            name, kAngles[k], a.median, a.p95, a.worst, b.median, b.p95, b.worst);
        const std::string p = std::string(name) + "_" + kAngles[k];
        state.counters[p + "_rms_median"] = a.median;
        state.counters[p + "_max_worst"] = b.worst;
    }
    std::vector<double> beyond;
    for (const Errors& e : runs) {
        beyond.push_back(100 * e.Beyond());
    }
    const Spread s = SpreadOf(beyond);
    std::printf(
        "  %-8s time with roll or pitch beyond 1 deg: median %.2f %% p95 %.2f %% worst "
        "%.2f %%\n",
        name, s.median, s.p95, s.worst);
}

// Arg 0: the sea (SeaKind), arg 1: the gyroscope calibrated at rest beforehand.
void BM_FilterAccuracy(benchmark::State& state) {
    const auto kind = static_cast<SeaKind>(state.range(0));
    const bool calibrated = state.range(1) != 0;
    for (auto _ : state) {
        std::vector<Errors> tavimo, madgwick, mahony;
        int better = 0;
        for (std::uint32_t seed = 1; seed <= kDraws; ++seed) {
            const Realisation r = Run(kind, seed, calibrated);
            tavimo.push_back(r.tavimo);
            madgwick.push_back(r.madgwick);
            mahony.push_back(r.mahony);
            // Better: lower RMS roll and pitch than either baseline.
            bool wins = true;
            for (int k = 0; k < 2; ++k) {
                wins = wins && r.tavimo.Rms(k) < r.madgwick.Rms(k) &&
                       r.tavimo.Rms(k) < r.mahony.Rms(k);
            }
            better += wins ? 1 : 0;
        }
        std::printf(
            "%s, gyroscope %s, %u draws of %.0f s at %.0f Hz (roll, pitch from %.0f s, "
            "heading from %.0f s):\n",
            mtobj::SeaKindName(kind), calibrated ? "calibrated at rest" : "uncalibrated", kDraws,
            kSeconds, kRate, kTiltFrom, kHeadingFrom);
        Report(state, "tavimo", tavimo);
        Report(state, "madgwick", madgwick);
        Report(state, "mahony", mahony);
        std::printf("  tavimo better than both baselines in roll and pitch on %d of %u draws\n",
                    better, kDraws);
        state.counters["draws_better_than_both"] = better;
    }
}
BENCHMARK(BM_FilterAccuracy)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Every filter gain and magnetometer weight the Advanced dialog offers, in the heavy sea with
// turns, gyroscope uncalibrated: the largest roll and pitch error from 60 s on over 10 draws.
void BM_FilterTunings(benchmark::State& state) {
    for (auto _ : state) {
        double worstOfAll = 0;
        for (double gain : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}) {
            for (double weight : {0.1, 1.0, 100.0}) {
                double worst = 0;
                std::vector<double> rms;
                for (std::uint32_t seed = 1; seed <= 10; ++seed) {
                    const Realisation r = Run(SeaKind::HeavyWithTurns, seed, false, {gain, weight});
                    worst = std::max({worst, r.tavimo.max[0], r.tavimo.max[1]});
                    rms.push_back(std::max(r.tavimo.Rms(0), r.tavimo.Rms(1)));
                }
                std::printf(
                    "gain %5.1f magnetometer weight %5.1f: roll/pitch RMS median %.3f, "
                    "largest error %.2f deg\n",
                    gain, weight, SpreadOf(rms).median, worst);
                worstOfAll = std::max(worstOfAll, worst);
            }
        }
        state.counters["largest_roll_pitch_error"] = worstOfAll;
    }
}
BENCHMARK(BM_FilterTunings)->Iterations(1)->Unit(benchmark::kSecond);

// Start-up in the regular sea of the filter tests (20° roll at 10 s, 10° pitch at 6 s, 1.5 m
// heave, the sensor 5 m above the roll centre) and in calm water: the time after which every
// error stays within 1°, over draws 1 to 40, at every rate of the Advanced list.
void BM_FilterStartUp(benchmark::State& state) {
    const bool calm = state.range(0) != 0;
    const auto rate = static_cast<double>(state.range(1));
    for (auto _ : state) {
        for (bool calibrated : {false, true}) {
            std::vector<double> settled;
            for (std::uint32_t seed = 1; seed <= 40; ++seed) {
                mtobj::RawScenario s;
                s.seed = seed;
                s.heading = std::fmod(47.0 * seed, 360.0);
                if (calm) {
                    s.rollAmplitude = s.pitchAmplitude = s.yawAmplitude = s.heaveAmplitude = 0;
                }
                attfilter::SensorCalibration calibration;
                attfilter::CAttitudeFilter filter;
                if (calibrated) {
                    mtobj::CRawMotion rest(mtobj::AtRest(s), rate);
                    calibration.gyroBias = attfilter::EstimateGyroBias(rest.Record(10));
                    filter.SetGyroCalibrated(true);
                }
                mtobj::CRawMotion motion(s, rate);
                double last = 0;
                for (int i = 0; i < 60 * static_cast<int>(rate); ++i) {
                    mtobj::RawTruth t;
                    filter.Update(calibration.Apply(motion.Next(&t)));
                    const attfilter::EulerAngles a = filter.Attitude();
                    if (!filter.HasAttitude() || std::abs(a.roll - t.attitude.roll) > 1.0 ||
                        std::abs(a.pitch - t.attitude.pitch) > 1.0 ||
                        std::abs(std::remainder(a.heading - t.attitude.heading, 360.0)) > 1.0) {
                        last = t.seconds;
                    }
                }
                settled.push_back(last);
            }
            const Spread sp = SpreadOf(settled);
            std::printf(
                "%-11s %3.0f Hz gyroscope %-12s within 1 deg from: median %.1f s, p95 "
                "%.1f s, worst %.1f s\n",
                calm ? "calm water" : "regular sea", rate,
                calibrated ? "calibrated" : "uncalibrated", sp.median, sp.p95, sp.worst);
            state.counters[std::string(calibrated ? "calibrated" : "uncalibrated") + "_worst_s"] =
                sp.worst;
        }
    }
}
BENCHMARK(BM_FilterStartUp)
    ->ArgsProduct({{0}, {25, 50, 100, 200, 256, 320, 400, 512}})
    ->ArgsProduct({{1}, {100}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Samples of the heavy sea with turns at `rate`.
std::vector<RawSample> Record(double rate, double seconds) {
    mtobj::CRawMotion motion(mtobj::DrawScenario(SeaKind::HeavyWithTurns, 1), rate);
    return motion.Record(seconds);
}

// The cost of one update over the run's samples (the filter keeps running across them).
template <typename Step>
void Updates(benchmark::State& state, Step step) {
    const std::vector<RawSample> samples = Record(kRate, kSeconds);
    std::size_t i = 0;
    double offset = 0;
    for (auto _ : state) {
        RawSample s = samples[i];
        s.seconds += offset;
        step(s);
        if (++i == samples.size()) {
            i = 0;
            offset += kSeconds;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TavimoUpdate(benchmark::State& state) {
    attfilter::CAttitudeFilter filter({0.2, 1.0});
    Updates(state, [&filter](const RawSample& s) { filter.Update(s); });
}
BENCHMARK(BM_TavimoUpdate);

void BM_MadgwickUpdate(benchmark::State& state) {
    CMadgwickFilter filter(0.1);
    Updates(state, [&filter](const RawSample& s) {
        filter.Update(s.gyro, s.accel, s.mag, 1.0 / kRate);
        benchmark::DoNotOptimize(filter.Quaternion());
    });
}
BENCHMARK(BM_MadgwickUpdate);

void BM_MahonyUpdate(benchmark::State& state) {
    CMahonyFilter filter(0.2, 0.02);
    Updates(state, [&filter](const RawSample& s) {
        filter.Update(s.gyro, s.accel, s.mag, 1.0 / kRate);
        benchmark::DoNotOptimize(filter.Quaternion());
    });
}
BENCHMARK(BM_MahonyUpdate);

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Every update of five minutes at 512 samples a second timed on its own, from the first
// sample on (start-up included): the longest, and the 99.99th percentile, as the real-time
// path sees them; and the CPU time of all.
void BM_TavimoLongestUpdate(benchmark::State& state) {
    const std::vector<RawSample> samples = Record(512, kSeconds);
    for (auto _ : state) {
        attfilter::CAttitudeFilter filter({0.2, 1.0});
        std::vector<double> took;
        took.reserve(samples.size());
        const double cpu0 = ThreadCpuSeconds();
        for (const RawSample& s : samples) {
            const auto t0 = std::chrono::steady_clock::now();
            filter.Update(s);
            took.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
        const double cpu = 1e6 * (ThreadCpuSeconds() - cpu0) / static_cast<double>(samples.size());
        std::sort(took.begin(), took.end());
        const double p9999 = took[static_cast<std::size_t>(0.9999 * (took.size() - 1))];
        std::printf(
            "512 Hz, %zu updates: longest %.1f us, 99.99th percentile %.1f us, median "
            "%.2f us wall; %.2f us CPU each\n",
            took.size(), took.back(), p9999, took[took.size() / 2], cpu);
        state.counters["longest_us"] = took.back();
        state.counters["p9999_us"] = p9999;
        state.counters["cpu_us"] = cpu;
    }
}
BENCHMARK(BM_TavimoLongestUpdate)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
