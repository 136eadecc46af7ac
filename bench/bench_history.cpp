// The history window over 1,000,000 records: building the index, opening the window
// (read, index, table, totals and charts, shown offscreen), and a filter change (table,
// totals and charts again); heap held by the open window and its peak while opening, as
// multiples of the log file's size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <cstdlib>

#include "bench/BenchData.h"
#include "bench/HeapCount.h"
#include "history/HistoryForm.h"
#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"

namespace {

struct Files {
    explicit Files(int records) {
        const std::string log = qv::bench::MakeLogBytes(records);
        fileBytes = static_cast<double>(log.size());
        qv::bench::WriteFile(dir.Path("test.log"), log);
        info.SetRuleBook(&book);
        info.SetLogPath(dir.Path("test.log"));
        info.SetBalancePath(dir.Path("user.dat"));
    }
    qv::bench::ScratchDir dir;
    CRuleBook book;
    CInfo info;
    double fileBytes = 0;
};

void BM_ReadAndIndex(benchmark::State& state) {
    Files files(static_cast<int>(state.range(0)));
    size_t indexBytes = 0;
    for (auto _ : state) {
        qv::history::HistoryIndex index;
        SentenceLog::Contents contents;
        SentenceLog(files.info.GetLogPath()).Read(contents);
        index.Build(contents);
        indexBytes = index.HeapBytes();
        benchmark::DoNotOptimize(index.Size());
    }
    state.counters["index_per_file_byte"] = static_cast<double>(indexBytes) / files.fileBytes;
}

void BM_OpenHistory(benchmark::State& state) {
    Files files(static_cast<int>(state.range(0)));
    double heldPerByte = 0, peakPerByte = 0;
    for (auto _ : state) {
        const long long before = qv::bench::ResetHeapPeak();
        auto* window = new THistory;
        window->Init(&files.info);
        window->show();
        QApplication::processEvents();
        state.PauseTiming();
        heldPerByte = static_cast<double>(qv::bench::HeapLive() - before) / files.fileBytes;
        peakPerByte = static_cast<double>(qv::bench::HeapPeak() - before) / files.fileBytes;
        window->hide();
        delete window;
        state.ResumeTiming();
    }
    state.counters["heap_held_per_file_byte"] = heldPerByte;
    state.counters["heap_peak_per_file_byte"] = peakPerByte;
}

// One filter change as the user makes it: table, totals and charts follow before the
// next event is handled. Alternates between two filters so each run does real work.
void BM_FilterChange(benchmark::State& state) {
    Files files(static_cast<int>(state.range(0)));
    THistory window;
    window.Init(&files.info);
    window.show();
    QApplication::processEvents();
    auto* executed = window.findChild<QComboBox*>("cbExecuted");
    auto* preset = window.findChild<QComboBox*>("cbPreset");
    auto* search = window.findChild<QLineEdit*>("tfSearch");
    const int kind = static_cast<int>(state.range(1));
    int turn = 0;
    for (auto _ : state) {
        ++turn;
        switch (kind) {
            case 0:  // executed / all
                executed->setCurrentIndex(turn % 2 ? 1 : 0);
                break;
            case 1:  // a name search that matches nothing / everything
                search->setText(turn % 2 ? QStringLiteral("zz") : QString());
                break;
            case 2:  // this year / all
                preset->setCurrentIndex(turn % 2 ? 3 : 4);
                break;
        }
        QApplication::processEvents();
    }
    state.counters["rows"] = static_cast<double>(window.ShownRows().size());
}

BENCHMARK(BM_ReadAndIndex)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenHistory)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterChange)
    ->ArgNames({"records", "filter"})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
