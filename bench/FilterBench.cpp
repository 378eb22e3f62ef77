// The attitude filter's accuracy against the simulator's truth, beside the textbook
// gradient-descent filter on the same samples, and the cost of one update.
//
// The run: ten minutes of a 20° roll (10 s) and 10° pitch (6 s) sea with 1.5 m heave (8 s),
// the sensor 5 m above the roll centre, at 10 knots; then a turn at 3 °/s for 60 s; 30 s
// straight after; 100 samples a second with the noise of a good MEMS sensor. Errors count
// from 20 s on; the convergence time is when every error last left 1°.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "MadgwickFilter.h"
#include "filter/AttitudeFilter.h"
#include "filter/Calibration.h"
#include "mtobj/RawMotion.h"

namespace {
using attfilter::RawSample;

constexpr double kRate = 100;
constexpr double kSeconds = 690;
constexpr double kFrom = 20;
constexpr double kConverged = 1.0;

mtobj::RawScenario SeaAndTurn() {
    mtobj::RawScenario s;  // 20°/10 s roll, 10°/6 s pitch, 1.5 m/8 s heave, 5 m lever arm
    s.heading = 40;
    s.speedKnots = 10;
    s.turnStart = 600;
    s.turnDuration = 60;
    s.turnRate = 3;
    s.seed = 7;
    return s;
}

struct Errors {
    double sum[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
    double converged = 0;
    long n = 0;

    void Add(const attfilter::EulerAngles& a, const mtobj::RawTruth& t) {
        const double e[3] = {a.roll - t.attitude.roll, a.pitch - t.attitude.pitch,
                             std::remainder(a.heading - t.attitude.heading, 360.0)};
        if (std::abs(e[0]) > kConverged || std::abs(e[1]) > kConverged ||
            std::abs(e[2]) > kConverged) {
            converged = t.seconds;
        }
        if (t.seconds < kFrom) {
            return;
        }
        for (int k = 0; k < 3; ++k) {
            sum[k] += e[k] * e[k];
            max[k] = std::max(max[k], std::abs(e[k]));
        }
        ++n;
    }
    double Rms(int k) const { return std::sqrt(sum[k] / static_cast<double>(n)); }
};

struct Run {
    std::vector<RawSample> samples;
    std::vector<mtobj::RawTruth> truth;
};

// The samples of the run, with the gyroscope's bias taken at rest beforehand when
// `calibrated` (as the crew does in port), else as the sensor delivers them.
Run Record(bool calibrated) {
    const mtobj::RawScenario scenario = SeaAndTurn();
    attfilter::SensorCalibration calibration;
    if (calibrated) {
        mtobj::CRawMotion rest(mtobj::AtRest(scenario), kRate);
        calibration.gyroBias = attfilter::EstimateGyroBias(rest.Record(10));
    }
    mtobj::CRawMotion motion(scenario, kRate);
    Run run;
    const auto n = static_cast<std::size_t>(kSeconds * kRate);
    run.samples.reserve(n);
    run.truth.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        mtobj::RawTruth t;
        run.samples.push_back(calibration.Apply(motion.Next(&t)));
        run.truth.push_back(t);
    }
    return run;
}

void Report(benchmark::State& state, const char* name, const Errors& e) {
    std::printf(
        "%-9s RMS roll %.3f pitch %.3f heading %.3f deg; max %.3f %.3f %.3f deg; "
        "converged (all within %.0f deg) at %.1f s\n",
        name, e.Rms(0), e.Rms(1), e.Rms(2), e.max[0], e.max[1], e.max[2], kConverged, e.converged);
    const std::string p = name;
    state.counters[p + "_rms_roll"] = e.Rms(0);
    state.counters[p + "_rms_pitch"] = e.Rms(1);
    state.counters[p + "_rms_heading"] = e.Rms(2);
    state.counters[p + "_max_roll"] = e.max[0];
    state.counters[p + "_max_pitch"] = e.max[1];
    state.counters[p + "_max_heading"] = e.max[2];
    state.counters[p + "_converged_s"] = e.converged;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Both filters over the same run; arg 1: the gyroscope calibrated at rest beforehand.
void BM_FilterAccuracy(benchmark::State& state) {
    const bool calibrated = state.range(0) != 0;
    const Run run = Record(calibrated);
    const std::size_t n = run.samples.size();
    for (auto _ : state) {
        // Ours first, on its own, so its CPU time is its own.
        attfilter::CAttitudeFilter tavimo;
        tavimo.SetGyroCalibrated(calibrated);
        std::vector<attfilter::EulerAngles> ours(n);
        std::vector<bool> has(n);
        attfilter::Quat first{1, 0, 0, 0};
        std::size_t start = n;
        const double cpu0 = ThreadCpuSeconds();
        for (std::size_t i = 0; i < n; ++i) {
            tavimo.Update(run.samples[i]);
            if (tavimo.HasAttitude()) {
                ours[i] = tavimo.Attitude();
                has[i] = true;
            }
        }
        const double perSample = 1e6 * (ThreadCpuSeconds() - cpu0) / static_cast<double>(n);
        // The baseline starts from the same first attitude (the filter's first, formed from
        // accelerometer and magnetometer) at the same sample.
        attfilter::CAttitudeFilter starter;
        for (std::size_t i = 0; i < n && start == n; ++i) {
            starter.Update(run.samples[i]);
            if (starter.HasAttitude()) {
                first = starter.Quaternion();
                start = i;
            }
        }
        CMadgwickFilter madgwick(0.1);
        madgwick.SetQuaternion(first);
        Errors mine, baseline;
        for (std::size_t i = start; i < n; ++i) {
            const RawSample& s = run.samples[i];
            if (i > start) {
                madgwick.Update(s.gyro, s.accel, s.mag, s.seconds - run.samples[i - 1].seconds);
            }
            baseline.Add(attfilter::AnglesOf(madgwick.Quaternion()), run.truth[i]);
            if (has[i]) {
                mine.Add(ours[i], run.truth[i]);
            }
        }
        std::printf("Gyroscope %s; %.0f s at %.0f Hz, errors from %.0f s on\n",
                    calibrated ? "calibrated at rest beforehand" : "uncalibrated", kSeconds, kRate,
                    kFrom);
        Report(state, "tavimo", mine);
        Report(state, "madgwick", baseline);
        std::printf("tavimo    %.3f us CPU a sample\n", perSample);
        state.counters["tavimo_us_cpu_per_sample"] = perSample;
        const auto lever = tavimo.LeverArm();
        std::printf("tavimo    learnt lever arm %.2f %.2f %.2f m\n", lever.x, lever.y, lever.z);
    }
}
BENCHMARK(BM_FilterAccuracy)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

// Start-up over many sensors: the time after which every error stays within 1°, over the
// draws (seeds) 1 to 40 of the sensor's noise and fixed gyroscope bias, each on its own
// heading, in 120 s runs; first arg: 0 the sea above, 1 calm water (no waves, 10 knots),
// 2 calm water turning at 3 °/s for the first minute, 3 the sea with that turn from 5 s on;
// second arg: the sample rate (Hz), the sea at every rate of the Advanced list.
void BM_FilterStartUp(benchmark::State& state) {
    static const char* const kNames[] = {"sea", "calm water", "turn in calm water",
                                         "turn in the sea"};
    const auto kind = static_cast<int>(state.range(0));
    const auto rate = static_cast<double>(state.range(1));
    for (auto _ : state) {
        for (bool calibrated : {false, true}) {
            std::vector<double> settled;
            double worstError = 0;
            for (std::uint32_t seed = 1; seed <= 40; ++seed) {
                mtobj::RawScenario s;
                s.seed = seed;
                s.heading = std::fmod(47.0 * seed, 360.0);
                if (kind == 1 || kind == 2) {
                    s.rollAmplitude = s.pitchAmplitude = s.yawAmplitude = s.heaveAmplitude = 0;
                }
                if (kind >= 2) {
                    s.turnStart = kind == 2 ? 0 : 5;
                    s.turnDuration = 60;
                    s.turnRate = 3;
                }
                attfilter::SensorCalibration calibration;
                attfilter::CAttitudeFilter filter;
                if (calibrated) {
                    mtobj::CRawMotion rest(mtobj::AtRest(s), rate);
                    calibration.gyroBias = attfilter::EstimateGyroBias(rest.Record(10));
                    filter.SetGyroCalibrated(true);
                }
                mtobj::CRawMotion motion(s, rate);
                Errors e;
                for (int i = 0; i < 120 * static_cast<int>(rate); ++i) {
                    mtobj::RawTruth t;
                    filter.Update(calibration.Apply(motion.Next(&t)));
                    if (filter.HasAttitude()) {
                        e.Add(filter.Attitude(), t);
                    } else {
                        e.converged = t.seconds;
                    }
                }
                settled.push_back(e.converged);
                worstError = std::max({worstError, e.max[0], e.max[1], e.max[2]});
            }
            std::sort(settled.begin(), settled.end());
            const double median = (settled[19] + settled[20]) / 2;
            std::printf(
                "%-18s %3.0f Hz gyroscope %-12s converged: median %.1f s, 90 %% by %.1f s, "
                "worst %.1f s; largest error from %.0f s on %.2f deg\n",
                kNames[kind], rate, calibrated ? "calibrated" : "uncalibrated", median, settled[35],
                settled.back(), kFrom, worstError);
            const std::string p = calibrated ? "calibrated" : "uncalibrated";
            state.counters[p + "_median_s"] = median;
            state.counters[p + "_worst_s"] = settled.back();
        }
    }
}
BENCHMARK(BM_FilterStartUp)
    ->ArgsProduct({{0}, {25, 50, 100, 200, 256, 320, 400, 512}})
    ->ArgsProduct({{1, 2, 3}, {100}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The cost of one update over the run's samples (the filter keeps running across them).
void BM_TavimoUpdate(benchmark::State& state) {
    const Run run = Record(true);
    attfilter::CAttitudeFilter filter;
    std::size_t i = 0;
    double offset = 0;
    for (auto _ : state) {
        RawSample s = run.samples[i];
        s.seconds += offset;
        filter.Update(s);
        if (++i == run.samples.size()) {
            i = 0;
            offset += kSeconds;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TavimoUpdate);

void BM_MadgwickUpdate(benchmark::State& state) {
    const Run run = Record(true);
    CMadgwickFilter filter(0.1);
    std::size_t i = 0;
    for (auto _ : state) {
        const RawSample& s = run.samples[i];
        filter.Update(s.gyro, s.accel, s.mag, 1.0 / kRate);
        benchmark::DoNotOptimize(filter.Quaternion());
        if (++i == run.samples.size()) {
            i = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MadgwickUpdate);

}  // namespace
