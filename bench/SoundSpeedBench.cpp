// GetSoundSpeed per call for each equation code, and the steps the depth-to-pressure
// iteration takes at 0, 1000 and 10000 m (counter "iterations").
#include <benchmark/benchmark.h>

#include "utilon/SoundSpeed.h"

namespace {

void BM_GetSoundSpeed(benchmark::State& state) {
    CSoundSpeed sv;
    const int code = static_cast<int>(state.range(0));
    sv.AcceptDepth(code >= 100 || code == 2 || code == 3 ? 1 : 0);
    sv.SetEquation(code);
    // Depth in metres for the depth forms; a matching pressure for the others.
    double input = code >= 100 || code == 2 || code == 3 ? 1000.0 : 100.0;
    double t = 10.0, s = 35.0, speed = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(input);
        benchmark::DoNotOptimize(t);
        sv.GetSoundSpeed(input, t, s, speed);
        benchmark::DoNotOptimize(speed);
    }
    state.SetLabel("code " + std::to_string(sv.GetEquation()));
}
BENCHMARK(BM_GetSoundSpeed)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Arg(5)
    ->Arg(100)
    ->Arg(101)
    ->Arg(102)
    ->Arg(103)
    ->Arg(104);

void BM_DepthToPressure(benchmark::State& state) {
    const CSoundSpeed sv;
    double depth = static_cast<double>(state.range(0));
    int iterations = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(depth);
        benchmark::DoNotOptimize(sv.DepthToPressure(depth, &iterations));
    }
    state.counters["iterations"] = iterations;
    state.counters["bar"] = sv.DepthToPressure(depth);
}
BENCHMARK(BM_DepthToPressure)->Arg(0)->Arg(1000)->Arg(10000);

}  // namespace
