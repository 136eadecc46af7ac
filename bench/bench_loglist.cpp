// The execution report over large logs: opening the window (model filled, window shown
// offscreen), one execute rewrite, and one execute as the user does it (confirmation,
// rewrite, refill), each against reading and splitting the same file in the same run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "execution/LogListForm.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "ui/MessageBox.h"

namespace {

constexpr long long kFirstTime = 1700000000;

// A scratch folder holding a log of n records and a balance file.
struct LogFiles {
    explicit LogFiles(int records) {
        qv::bench::WriteFile(dir.Path("test.log"), qv::bench::MakeLogBytes(records, kFirstTime));
        qv::bench::WriteFile(dir.Path("user.dat"), "quorvel\t1\tuser\t100\t0\t0\r\n");
        info.SetRuleBook(&book);
        info.SetLogPath(dir.Path("test.log"));
        info.SetBalancePath(dir.Path("user.dat"));
    }
    qv::bench::ScratchDir dir;
    CRuleBook book;
    CInfo info;
};

// The baseline: read the file whole and cut every line into its fields.
void BM_ReadAndSplitBaseline(benchmark::State& state) {
    LogFiles files(static_cast<int>(state.range(0)));
    std::vector<std::string_view> fields;
    for (auto _ : state) {
        std::string bytes;
        qv::io::ReadFile(files.info.GetLogPath(), bytes, INT32_MAX - 1);
        size_t count = 0;
        qv::ForEachLine(bytes, [&](const qv::Line& line) {
            qv::SplitFields(line.text, fields);
            count += fields.size();
        });
        benchmark::DoNotOptimize(count);
    }
}

void BM_OpenExecutionReport(benchmark::State& state) {
    LogFiles files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TLogList window;
        window.Init(&files.info);
        window.show();
        QApplication::processEvents();  // laid out and painted
        benchmark::DoNotOptimize(window.findChild<QTableView*>("sgList")->model()->rowCount());
        state.PauseTiming();
        window.hide();
        state.ResumeTiming();
    }
}

// The newest record (the one on top of the list), executed and un-executed in turn.
void BM_ExecuteRewrite(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    LogFiles files(records);
    const SentenceLog log(files.info.GetLogPath());
    const std::string id = std::to_string(kFirstTime + 60LL * (records - 1));
    bool execute = true;
    for (auto _ : state) {
        SentenceLog::Rewrite rewrite = log.PlanMark(id, execute);
        if (rewrite.matched != 1 || !log.Write(rewrite)) state.SkipWithError("rewrite failed");
        execute = !execute;
    }
}

// "執行" pressed and confirmed: the rewrite plus the refill of the window.
void BM_ExecuteClick(benchmark::State& state) {
    LogFiles files(static_cast<int>(state.range(0)));
    qv::ui::MessageBox::SetTestMode(true);
    TLogList window;
    window.Init(&files.info);
    window.show();
    QApplication::processEvents();
    auto* button = window.findChild<QPushButton*>("btDone");
    for (auto _ : state) {
        qv::ui::MessageBox::QueueAnswer(true);
        button->click();
        QApplication::processEvents();
    }
    qv::ui::MessageBox::SetTestMode(false);
}

#define LOG_SIZES Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ReadAndSplitBaseline)->LOG_SIZES;
BENCHMARK(BM_OpenExecutionReport)->LOG_SIZES;
BENCHMARK(BM_ExecuteRewrite)->LOG_SIZES;
BENCHMARK(BM_ExecuteClick)->LOG_SIZES;

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
