// Load and save of a 300-rule book.
#include <benchmark/benchmark.h>

#include "bench/BenchData.h"
#include "rulebook/RuleBook.h"

namespace {

void BM_LoadRuleBook(benchmark::State& state) {
    qv::bench::ScratchDir dir;
    const std::string path = dir.Path("test.dat");
    qv::bench::WriteFile(path, qv::bench::MakeRuleBookBytes(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        CRuleBook book;
        book.SetFileName(path);
        benchmark::DoNotOptimize(book.LoadFile());
    }
}
BENCHMARK(BM_LoadRuleBook)->Arg(300)->Unit(benchmark::kMicrosecond);

void BM_SaveRuleBook(benchmark::State& state) {
    qv::bench::ScratchDir dir;
    const std::string path = dir.Path("test.dat");
    qv::bench::WriteFile(path, qv::bench::MakeRuleBookBytes(static_cast<int>(state.range(0))));
    CRuleBook book;
    book.SetFileName(path);
    book.LoadFile();
    for (auto _ : state) benchmark::DoNotOptimize(book.SaveFile());
}
BENCHMARK(BM_SaveRuleBook)->Arg(300)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
