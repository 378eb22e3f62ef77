// The heave filter against the simulator's truth, beside the textbook heave filter (the
// vertical acceleration integrated twice through second-order high-passes at the same
// period) fed the same accelerations in the same run.
//
// Irregular seas drawn over ranges (HeaveSea): peak periods 5 to 20 s, significant heave 0.5
// to 4 m with roll, pitch, sway and surge growing with it, an accelerometer bias of up to
// 0.05 m/s² a axis, with and without turns; 30 draws each, six minutes at 100 samples a
// second from a cold start, the heave filter at its default period (18 s), following the sea. The
// heave is measured at the sensor and at a monitoring point 8 m forward and 6 m down; its error
// counts from 3 minutes on. The goal: an RMS error of at most 5 cm or 5 % of the significant heave,
// whichever is larger.
//
// The filter's periods and mix were chosen on draws 1 to 30 of these seas; every cell also runs on
// draws 31 to 60, which no choice has seen, so what the figures promise for a sea not yet met can
// be read from those.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "HeaveRun.h"

namespace {

constexpr std::uint32_t kDraws = 30;

double Goal(double significantHeave) {
    return std::max(0.05, 0.05 * significantHeave);
}

// Median, 95th percentile and worst of one figure over the draws.
struct Spread {
    double median = 0, p95 = 0, worst = 0;
};
Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&v](double q) {
        return v[std::min(v.size() - 1,
                          static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    return {at(0.5), at(0.95), v.back()};
}

// Runs the 30 draws from `firstDraw`, each as `setUp(seed)` makes it, and reports the RMS
// error's median and worst (cm) and how many draws were beyond the goal.
template <typename SetUp>
void ReportDraws(benchmark::State& state, std::uint32_t firstDraw, double significantHeave,
                 SetUp setUp) {
    for (auto _ : state) {
        std::vector<double> rms;
        int beyond = 0;
        for (std::uint32_t seed = firstDraw; seed < firstDraw + kDraws; ++seed) {
            rms.push_back(setUp(seed).Run().rms);
            beyond += rms.back() > Goal(significantHeave) ? 1 : 0;
        }
        const Spread r = SpreadOf(rms);
        state.counters["rms_median_cm"] = r.median * 100;
        state.counters["rms_worst_cm"] = r.worst * 100;
        state.counters["beyond_goal"] = beyond;
    }
}

// Arguments: peak period (s), significant heave (cm), turns (0/1), the point (0 the sensor,
// 1 forward 8 m and down 6 m), the draws (0: 1 to 30, those the filter was chosen on; 1: 31 to
// 60, held out).
void BM_HeaveAccuracy(benchmark::State& state) {
    const auto peakPeriod = static_cast<double>(state.range(0));
    const double significantHeave = static_cast<double>(state.range(1)) / 100.0;
    const bool turns = state.range(2) != 0;
    const bool atPoint = state.range(3) != 0;
    const std::uint32_t firstDraw = state.range(4) != 0 ? kDraws + 1 : 1;
    const double goal = Goal(significantHeave);
    for (auto _ : state) {
        std::vector<double> rms, baseline, settled;
        long beyondGoal = 0, notBetter = 0;
        for (std::uint32_t seed = firstDraw; seed < firstDraw + kDraws; ++seed) {
            HeaveRun run;
            run.scenario = HeaveSea(peakPeriod, significantHeave, turns, seed);
            run.seconds = 360;
            run.point = atPoint ? attfilter::Vec3{8, 0, -6} : attfilter::Vec3{0, 0, 0};
            run.limit = goal;
            const HeaveErrors e = run.Run();
            rms.push_back(e.rms);
            baseline.push_back(e.baselineRms);
            settled.push_back(e.settled);
            beyondGoal += e.rms > goal ? 1 : 0;
            notBetter += e.rms >= e.baselineRms ? 1 : 0;
        }
        const Spread r = SpreadOf(rms), b = SpreadOf(baseline), s = SpreadOf(settled);
        state.counters["goal_cm"] = goal * 100;
        state.counters["rms_median_cm"] = r.median * 100;
        state.counters["rms_p95_cm"] = r.p95 * 100;
        state.counters["rms_worst_cm"] = r.worst * 100;
        state.counters["draws_beyond_goal"] = static_cast<double>(beyondGoal);
        state.counters["baseline_median_cm"] = b.median * 100;
        state.counters["draws_not_better_than_baseline"] = static_cast<double>(notBetter);
        state.counters["settled_median_s"] = s.median;
        state.counters["settled_worst_s"] = s.worst;
    }
}
BENCHMARK(BM_HeaveAccuracy)
    ->ArgNames({"Tp", "Hs_cm", "turns", "point", "heldout"})
    ->ArgsProduct({{5, 8, 10, 12, 15, 20}, {50, 100, 200, 400}, {0, 1}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Where the error comes from, at 0.5 m of heave at 10 s: the sensor's noise (with the
// accelerometer's bias) on or off, the attitude filter's attitude or the true one, turns or
// none; 30 draws each, at the sensor.
void BM_HeaveErrorSources(benchmark::State& state) {
    const bool noise = state.range(0) != 0;
    const bool trueAttitude = state.range(1) != 0;
    const bool turns = state.range(2) != 0;
    for (auto _ : state) {
        std::vector<double> rms;
        for (std::uint32_t seed = 1; seed <= kDraws; ++seed) {
            HeaveRun run;
            run.scenario = HeaveSea(10, 0.5, turns, seed);
            run.scenario.noise = noise;
            if (!noise) {
                run.scenario.accelOffset = {};
            }
            run.seconds = 360;
            run.trueAttitude = trueAttitude;
            rms.push_back(run.Run().rms);
        }
        const Spread r = SpreadOf(rms);
        state.counters["rms_median_cm"] = r.median * 100;
        state.counters["rms_worst_cm"] = r.worst * 100;
    }
}
BENCHMARK(BM_HeaveErrorSources)
    ->ArgNames({"noise", "true_attitude", "turns"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// What the centre the vessel rolls and pitches about is worth, in 4 m seas at the sensor
// (2 to 8 m above the centre, 17° of roll), no turns, on draws 31 to 60: the centre as the
// attitude filter learns it (what the module does), none (the heave filters alone lose the
// slow sinking of a sensor high above it as the roll grows and fades), and the simulator's own.
void BM_HeaveCentre(benchmark::State& state) {
    const auto peakPeriod = static_cast<double>(state.range(0));
    const auto centre = static_cast<HeaveRun::Centre>(state.range(1));
    ReportDraws(state, kDraws + 1, 4.0, [&](std::uint32_t seed) {
        HeaveRun run;
        run.scenario = HeaveSea(peakPeriod, 4.0, false, seed);
        run.seconds = 360;
        run.centre = centre;
        return run;
    });
}
BENCHMARK(BM_HeaveCentre)
    ->ArgNames({"Tp", "centre_learnt_none_true"})
    ->ArgsProduct({{5, 10, 15}, {0, 1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// What a GNSS receiver's velocity over ground is worth in turns, at the sensor, on draws 31
// to 60: none (the module as it stands: the attitude filter learns the speed from the turns),
// readings five times a second with 3 cm/s of noise at once, and a fifth of a second late
// (stamped with the moment they hold for).
void BM_HeaveGroundVelocity(benchmark::State& state) {
    const auto peakPeriod = static_cast<double>(state.range(0));
    const double significantHeave = static_cast<double>(state.range(1)) / 100.0;
    const double lag = state.range(2) == 0 ? -1.0 : state.range(2) == 1 ? 0.0 : 0.2;
    ReportDraws(state, kDraws + 1, significantHeave, [&](std::uint32_t seed) {
        HeaveRun run;
        run.scenario = HeaveSea(peakPeriod, significantHeave, true, seed);
        run.seconds = 360;
        run.groundVelocityLag = lag;
        return run;
    });
}
BENCHMARK(BM_HeaveGroundVelocity)
    ->ArgNames({"Tp", "Hs_cm", "velocity_none_now_late"})
    ->ArgsProduct({{5, 10, 15}, {100, 400}, {0, 1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// What the module's mistakes about the receiver's readings cost, in turns at the sensor on
// draws 31 to 60, readings a fifth of a second late: none (stamped exactly, course and
// antenna right), stamped 0.1 s late (as the module stamps a receiver whose shortest latency
// is 0.1 s), the course 2 and 5 degrees off (a variation or heading offset wrong), the
// antenna given 2 m forward of where it is, and the receiver lost for the minute before the
// error is counted (120 to 180 s).
void BM_HeaveGroundVelocityMistakes(benchmark::State& state) {
    const auto peakPeriod = static_cast<double>(state.range(0));
    const double significantHeave = static_cast<double>(state.range(1)) / 100.0;
    const auto mistake = state.range(2);
    ReportDraws(state, kDraws + 1, significantHeave, [&](std::uint32_t seed) {
        HeaveRun run;
        run.scenario = HeaveSea(peakPeriod, significantHeave, true, seed);
        run.seconds = 360;
        run.groundVelocityLag = 0.2;
        run.groundStampLate = mistake == 1 ? 0.1 : 0.0;
        run.groundCourseOff = mistake == 2 ? 2.0 : mistake == 3 ? 5.0 : 0.0;
        run.antennaOff = {mistake == 4 ? 2.0 : 0.0, 0, 0};
        run.groundLostFrom = 120;
        run.groundLostFor = mistake == 5 ? 60 : 0;
        return run;
    });
}
BENCHMARK(BM_HeaveGroundVelocityMistakes)
    ->ArgNames({"Tp", "Hs_cm", "none_late_course2_course5_antenna_lost"})
    ->ArgsProduct({{10, 15}, {100, 400}, {0, 1, 2, 3, 4, 5}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// How the error comes down from a cold start, at 1 m, no turns, at the sensor, on draws 31
// to 60: the RMS error over each 30 s from the start (median over the draws) beside the
// error over the run's last 3 minutes, and how many 30 s spans from 3 minutes on are beyond
// the goal. "Settled" in the accuracy tables waits for the last such span, which in a long
// sea may come at any time, cold start or not.
void BM_HeaveSettling(benchmark::State& state) {
    const auto peakPeriod = static_cast<double>(state.range(0));
    for (auto _ : state) {
        std::vector<std::vector<double>> spans(12);
        std::vector<double> steady;
        long late = 0, lateBeyond = 0;
        for (std::uint32_t seed = kDraws + 1; seed <= 2 * kDraws; ++seed) {
            HeaveRun run;
            run.scenario = HeaveSea(peakPeriod, 1.0, false, seed);
            run.seconds = 360;
            const HeaveErrors e = run.Run();
            steady.push_back(e.rms);
            for (std::size_t k = 0; k < e.windows.size() && k < spans.size(); ++k) {
                spans[k].push_back(e.windows[k]);
                if (k >= 6) {
                    ++late;
                    lateBeyond += e.windows[k] > Goal(1.0) ? 1 : 0;
                }
            }
        }
        for (std::size_t k = 1; k < 6; ++k) {
            state.counters["s" + std::to_string(30 * k) + "_" + std::to_string(30 * k + 30) +
                           "_median_cm"] = SpreadOf(spans[k]).median * 100;
        }
        state.counters["steady_median_cm"] = SpreadOf(steady).median * 100;
        state.counters["spans_from_180s_beyond_goal"] = static_cast<double>(lateBeyond);
        state.counters["spans_from_180s"] = static_cast<double>(late);
    }
}
BENCHMARK(BM_HeaveSettling)
    ->ArgNames({"Tp"})
    ->ArgsProduct({{5, 8, 10, 12, 15}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Which period for which sea: the heave filter at one fixed period (not following the sea)
// against the seas' peak period, at 0.5 and 2 m of significant heave, no turns, at the
// sensor; 30 draws each. A shorter period passes less of the accelerometer's noise and loses
// the waves longer than it.
void BM_HeavePeriodChoice(benchmark::State& state) {
    const double peakPeriod = static_cast<double>(state.range(0));
    const double setting = static_cast<double>(state.range(1));
    const double significantHeave = static_cast<double>(state.range(2)) / 100.0;
    ReportDraws(state, 1, significantHeave, [&](std::uint32_t seed) {
        HeaveRun run;
        run.scenario = HeaveSea(peakPeriod, significantHeave, false, seed);
        run.seconds = 360;
        run.period = setting;
        run.followSea = false;  // the period by itself
        return run;
    });
}
BENCHMARK(BM_HeavePeriodChoice)
    ->ArgNames({"Tp", "period", "Hs_cm"})
    ->ArgsProduct({{5, 8, 10, 12, 15}, {8, 12, 15, 18}, {50, 200}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The cost of one sample through the heave filter at a monitoring point, once settled.
void BM_HeaveUpdate(benchmark::State& state) {
    attfilter::CPointMotion heave({8, 0, -6}, attfilter::CHeaveFilter::kDefaultPeriod);
    const attfilter::Quat level{1, 0, 0, 0};
    double t = 0;
    for (int i = 0; i < 20000; ++i) {  // past the cold start's fit
        heave.Update(t, {0, 0, 9.80665}, level);
        t += 0.01;
    }
    for (auto _ : state) {
        heave.Update(t, {0.01, 0, 9.8}, level);
        t += 0.01;
        benchmark::DoNotOptimize(heave.Motion());
    }
}
BENCHMARK(BM_HeaveUpdate);

// The cost of one sample during the cold start, when the fit is run again every second.
void BM_HeaveColdStart(benchmark::State& state) {
    for (auto _ : state) {
        attfilter::CPointMotion heave({8, 0, -6}, attfilter::CHeaveFilter::kDefaultPeriod);
        const attfilter::Quat level{1, 0, 0, 0};
        double t = 0;
        for (int i = 0; i < 15000; ++i) {
            heave.Update(t, {0, 0, 9.80665 + 0.1 * std::sin(t)}, level);
            t += 0.01;
        }
        benchmark::DoNotOptimize(heave.Motion());
    }
    state.counters["samples"] = 15000;
}
BENCHMARK(BM_HeaveColdStart)->Unit(benchmark::kMillisecond);

}  // namespace
