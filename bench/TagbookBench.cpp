// Tagbook costs that settle whether a module may read and write settings on its data path:
// Set and Get by path through a tree four levels deep with one listener, Lookup, and
// loading the library's default settings menu (9900) into a fresh block.
#include <benchmark/benchmark.h>

#include "tagbook/DataBlock.h"
#include "tagbook/TagbookResources.h"

namespace {
class CCountingTarget : public CCmdTarget {
public:
    BOOL OnCmdMsg(UINT, int, void*, void*) override {
        ++count;
        return TRUE;
    }
    long count = 0;
};

// root > Level1 > Level2 > Level3, the property in Level3, a listener on Level3.
struct DeepTree {
    CCountingTarget target;  // outlives the tree, which tells it of its destruction
    CDataBlock root;
    CDataBlock* leaf = nullptr;
    DeepTree() {
        CDataBlock* parent = &root;
        for (const char* name : {"Level1", "Level2", "Level3"}) {
            auto* child = new CDataBlock(parent);
            child->SetName(name);
            parent = child;
        }
        leaf = parent;
        leaf->Set("Heading", 0.0, 1);
        leaf->AddNotifyTarget(&target);
    }
};

void BM_SetByPathChanged(benchmark::State& state) {
    DeepTree tree;
    double value = 0.0;
    for (auto _ : state) {
        value += 1.0;  // a new value each time: the listener is told every call
        benchmark::DoNotOptimize(tree.root.Set("Level1:Level2:Level3:Heading", value));
    }
    state.counters["notifications"] = static_cast<double>(tree.target.count);
}
BENCHMARK(BM_SetByPathChanged);

void BM_SetByPathUnchanged(benchmark::State& state) {
    DeepTree tree;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.root.Set("Level1:Level2:Level3:Heading", 1.0));
    }
}
BENCHMARK(BM_SetByPathUnchanged);

void BM_GetByPath(benchmark::State& state) {
    DeepTree tree;
    double value = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.root.Get("Level1:Level2:Level3:Heading", value));
    }
}
BENCHMARK(BM_GetByPath);

void BM_GetByPathAsText(benchmark::State& state) {
    DeepTree tree;
    std::string text;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.root.Get("Level1:Level2:Level3:Heading", text));
    }
}
BENCHMARK(BM_GetByPathAsText);

void BM_Lookup(benchmark::State& state) {
    DeepTree tree;
    std::string rest;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.leaf->Lookup(":Level1:Level2:Level3:Heading", &rest));
    }
}
BENCHMARK(BM_Lookup);

void BM_LoadDefaultSettingsMenu(benchmark::State& state) {
    long properties = 0;
    for (auto _ : state) {
        CDataBlock block;
        benchmark::DoNotOptimize(block.LoadMenuA(tagbook::IDR_DEFAULT_SETTINGS));
        state.PauseTiming();
        std::list<std::string> names;
        block.GetPropertyNames(names);
        properties = static_cast<long>(names.size());
        state.ResumeTiming();
    }
    state.counters["properties"] = static_cast<double>(properties);
}
BENCHMARK(BM_LoadDefaultSettingsMenu)->Unit(benchmark::kMicrosecond);
}  // namespace
