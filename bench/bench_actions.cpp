// Every action on a large log, at 1,000, 100,000 and 1,000,000 records, through the real
// windows (offscreen) and through the core operation alone, each against its baseline
// measured in the same run on the same file:
//   submit -> verdict window shown     vs `wc -l` (and a plain read-and-count)
//   execution report -> window shown   vs `wc -l` (and a plain read-and-count)
//   one execute (rewrite, fsync, list) vs `dd conv=fsync` copy (and read + write + fsync)
// Counters: base_ms (the baseline's mean), x_base (action / baseline), x_read (action /
// read-and-count or read-write-fsync), and for the report the resident-set growth while it
// is open, as a multiple of the file size (as measured, and less the same window's growth
// over an empty log).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "execution/LogListForm.h"
#include "records/LogIssues.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "trial/StateForm.h"
#include "trial/Verdict.h"
#include "ui/MessageBox.h"


namespace {

constexpr long long kFirstTime = 1700000000;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A log of n records made like a real one, a balance, and a book with article 12.
struct Files {
    explicit Files(int records) : records(records) {
        const std::string log = qv::bench::MakeLogBytes(records, kFirstTime);
        fileBytes = static_cast<long long>(log.size());
        qv::bench::WriteFile(dir.Path("test.log"), log);
        qv::bench::WriteFile(dir.Path("user.dat"), "quorvel\t1\tuser\t100\t0\t0\r\n");
        const char* names[] = {"A", "B", "C", "D"};
        const int weights[] = {10, 5, 7, 10};
        for (int i = 0; i < 4; ++i) {
            book.SetImpName(i, names[i]);
            book.SetImpWeight(i, weights[i]);
        }
        CRule rule;
        rule.SetNumber(12);
        rule.SetName("name");
        rule.SetBase(30);
        rule.SetCumulative(15);
        rule.SetExtenuation(12);
        const int shares[] = {4, 3, 0, 0, 3};
        for (int i = 0; i < 5; ++i) rule.SetShare(i, shares[i]);
        book.AddRule(rule);
        info.SetRuleBook(&book);
        info.SetLogPath(dir.Path("test.log"));
        info.SetBalancePath(dir.Path("user.dat"));
        now = kFirstTime + 60LL * (records - 1);  // the newest record's day
    }
    std::string Log() const { return info.GetLogPath(); }
    std::string NewestId() const { return std::to_string(kFirstTime + 60LL * (records - 1)); }

    int records;
    qv::bench::ScratchDir dir;
    CRuleBook book;
    CInfo info;
    qv::Seconds now = 0;
    long long fileBytes = 0;
};

using qv::bench::RunQuiet;

double WcLines(const Files& f) {
    const auto start = Clock::now();
    RunQuiet({"wc", "-l", f.Log()});
    return MsSince(start);
}

double ReadAndCount(const Files& f) {
    const auto start = Clock::now();
    std::string bytes;
    qv::io::ReadFile(f.Log(), bytes, std::numeric_limits<std::int64_t>::max());
    benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\n'));
    return MsSince(start);
}

double DdCopy(const Files& f) {
    const std::string copy = f.dir.Path("copy.log");
    const auto start = Clock::now();
    RunQuiet({"dd", "if=" + f.Log(), "of=" + copy, "bs=1M", "conv=fsync"});
    const double ms = MsSince(start);
    ::unlink(copy.c_str());
    return ms;
}

double ReadWriteSync(const Files& f) {
    const std::string copy = f.dir.Path("copy.log");
    const auto start = Clock::now();
    std::string bytes;
    qv::io::ReadFile(f.Log(), bytes, std::numeric_limits<std::int64_t>::max());
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
    const double ms = MsSince(start);
    ::unlink(copy.c_str());
    return ms;
}

// Times action each iteration (manual time) and, outside the timing, both baselines; the
// counters give the means and the ratios.
template <typename Action>
void Measure(benchmark::State& state, const Files& f, Action&& action,
             double (*baseline)(const Files&), double (*plain)(const Files&)) {
    double actionMs = 0, baseMs = 0, plainMs = 0;
    for (auto _ : state) {
        const double ms = action();
        state.SetIterationTime(ms / 1000.0);
        actionMs += ms;
        baseMs += baseline(f);
        plainMs += plain(f);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["file_MB"] = static_cast<double>(f.fileBytes) / 1e6;
    state.counters["base_ms"] = baseMs / n;
    state.counters["x_base"] = actionMs / baseMs;
    state.counters["x_plain"] = actionMs / plainMs;
}

Files& FilesFor(int records) {
    // One set of files per size for the whole run, so every action sees the same log.
    static std::vector<std::unique_ptr<Files>> all;
    for (auto& f : all)
        if (f->records == records) return *f;
    all.push_back(std::make_unique<Files>(records));
    return *all.back();
}

// ---------------------------------------------------------------- submit -> verdict

void BM_VerdictWindow(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    qv::ui::MessageBox::SetTestMode(true);
    Measure(
        state, f,
        [&] {
            const auto start = Clock::now();
            TState window;
            if (!window.Init(12, 8, &f.info)) state.SkipWithError("refused");
            window.show();
            QApplication::processEvents();  // laid out and painted
            return MsSince(start);
        },
        WcLines, ReadAndCount);
    qv::ui::MessageBox::SetTestMode(false);
}

// What the window does without the window: one read, the composition and the scan.
void BM_VerdictCore(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    Measure(
        state, f,
        [&] {
            const auto start = Clock::now();
            SentenceLog::Contents log;
            qv::io::IoError error;
            const auto read = SentenceLog(f.Log()).Read(log, &error);
            Composition c = ComposeVerdict(12, 8, f.info, f.now, log, read, error);
            benchmark::DoNotOptimize(FindLogIssues(log));
            benchmark::DoNotOptimize(c);
            return MsSince(start);
        },
        WcLines, ReadAndCount);
}

// ---------------------------------------------------------------- execution report

struct Growth {
    long long opened = 0;
    long long executed = 0;
};

// The peak resident growth of opening the report (shown), then of one confirmed execute
// on its newest row, undone afterwards. The window is opened once first, so what any
// window loads once (fonts, style) is not counted.
Growth ReportGrowth(Files& f) {
    {
        TLogList warm;
        warm.Init(&f.info);
        warm.show();
        QApplication::processEvents();
    }
    Growth g;
    const long long before = qv::bench::ResetPeak();
    TLogList window;
    window.Init(&f.info);
    window.show();
    QApplication::processEvents();
    g.opened = qv::bench::StatusBytes("VmHWM:") - before;
    g.executed = g.opened;
    if (f.records == 0) return g;
    qv::ui::MessageBox::QueueAnswer(true);
    window.findChild<QPushButton*>("btDone")->click();
    QApplication::processEvents();
    g.executed = qv::bench::StatusBytes("VmHWM:") - before;
    qv::ui::MessageBox::QueueAnswer(true);
    window.findChild<QPushButton*>("btDone")->click();  // the mark back as it was
    return g;
}

void BM_ReportWindow(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    Measure(
        state, f,
        [&] {
            const auto start = Clock::now();
            TLogList window;
            window.Init(&f.info);
            window.show();
            QApplication::processEvents();
            benchmark::DoNotOptimize(window.findChild<QTableView*>("sgList")->model()->rowCount());
            return MsSince(start);
        },
        WcLines, ReadAndCount);
    // Resident growth while the report is open (opened, shown, one execute done), as it
    // is and less what the same window costs over an empty log (its own widgets, backing
    // store and glyphs), which is most of the growth at small sizes.
    qv::ui::MessageBox::SetTestMode(true);
    const Growth empty = ReportGrowth(FilesFor(0));
    const Growth log = ReportGrowth(f);
    qv::ui::MessageBox::SetTestMode(false);
    const double file = static_cast<double>(f.fileBytes);
    state.counters["rss_open/file"] = static_cast<double>(log.opened) / file;
    state.counters["rss_exec/file"] = static_cast<double>(log.executed) / file;
    state.counters["rss_open_log/file"] = static_cast<double>(log.opened - empty.opened) / file;
    state.counters["rss_exec_log/file"] = static_cast<double>(log.executed - empty.opened) / file;
}

void BM_ReportCore(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    Measure(
        state, f,
        [&] {
            const auto start = Clock::now();
            SentenceLog::Contents log;
            SentenceLog(f.Log()).Read(log);
            benchmark::DoNotOptimize(FindLogIssues(log));
            return MsSince(start);
        },
        WcLines, ReadAndCount);
}

// ---------------------------------------------------------------- one execute

// "執行" pressed and confirmed on the newest record: rewrite, fsync, list refreshed.
void BM_ExecuteWindow(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    qv::ui::MessageBox::SetTestMode(true);
    TLogList window;
    window.Init(&f.info);
    window.show();
    QApplication::processEvents();
    auto* button = window.findChild<QPushButton*>("btDone");
    Measure(
        state, f,
        [&] {
            qv::ui::MessageBox::QueueAnswer(true);
            const auto start = Clock::now();
            button->click();
            QApplication::processEvents();
            return MsSince(start);
        },
        DdCopy, ReadWriteSync);
    qv::ui::MessageBox::SetTestMode(false);
}

// The core of it: the rewrite of a copy already held, written and kept in that copy.
void BM_ExecuteCore(benchmark::State& state) {
    Files& f = FilesFor(static_cast<int>(state.range(0)));
    const SentenceLog log(f.Log());
    SentenceLog::Contents copy;
    log.Read(copy);
    bool execute = true;
    const std::string id = f.NewestId();
    Measure(
        state, f,
        [&] {
            const auto start = Clock::now();
            // Kept in the copy it was planned from, as the report does.
            SentenceLog::Rewrite rewrite = log.PlanMark(id, execute, &copy);
            if (rewrite.matched != 1 || !log.WriteKeeping(std::move(rewrite), copy))
                state.SkipWithError("rewrite failed");
            execute = !execute;
            return MsSince(start);
        },
        DdCopy, ReadWriteSync);
}

#define SIZES Arg(1000)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(BM_VerdictWindow)->SIZES;
BENCHMARK(BM_VerdictCore)->SIZES;
BENCHMARK(BM_ReportWindow)->SIZES;
BENCHMARK(BM_ReportCore)->SIZES;
BENCHMARK(BM_ExecuteWindow)->SIZES;
BENCHMARK(BM_ExecuteCore)->SIZES;

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
