// The journals: reading every journal of a folder and folding them into its seven files,
// against `wc -l` over the same journals, at 10,000, 100,000 and 1,000,000 sentences whose
// whole history is in the journals (a decision each, with its verdict text, every tenth
// marked, every hundredth deleted, a point report every dozen), spread over two computers.
//
//   build/bench/bench_journal
//
// Counters: base_ms (`wc -l` over the journals, started as a user would), x_base (the
// fold's time over it), journal_mb, and rss_peak/journal (the resident high-water mark
// while folding, per journal byte). BM_CommitOneLine: one action's commit against a
// 100-byte append and fsync (base_ms, x_base).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchData.h"
#include "records/DataFolder.h"
#include "records/Fold.h"
#include "records/Journal.h"
#include "records/JournalFolder.h"
#include "records/Journaling.h"
#include "execution/Undo.h"
#include "rulebook/Info.h"
#include "trial/Verdict.h"
#include "text/FileIo.h"


namespace {

using qv::records::JournalLine;
using Kind = JournalLine::Kind;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}


// Two computers' journals holding `records` decisions and what followed them.
void MakeJournals(const qv::bench::ScratchDir& dir, int records) {
    std::string text[2];
    std::int64_t seq[2] = {0, 0};
    const std::string verdict[] = {"12条:遅刻の名前", "基準 30 ポイント、情状 2", "道具A:12 道具B:18",
                                   "合計 29 ポイント"};
    for (int i = 0; i < records; ++i) {
        const int pc = i % 2;
        const std::string device = pc ? "@laptop" : "@desktop";
        const qv::Seconds t = 1600000000 + 600LL * i;
        JournalLine decide{device, ++seq[pc], t, Kind::Decide,
                           {std::to_string(1 + i % 300), "article name", "29", "A:12 B:18 ", "12", "18",
                            "0", "0", "9"}};
        decide.fields.insert(decide.fields.end(), std::begin(verdict), std::end(verdict));
        text[pc] += decide.ToText();
        const std::string n = std::to_string(seq[pc]);
        if (i % 10 == 0)
            text[pc] += JournalLine{device, ++seq[pc], t + 60, Kind::Mark, {device, n, "1"}}.ToText();
        if (i % 100 == 7)
            text[pc] += JournalLine{device, ++seq[pc], t + 90, Kind::Delete, {device, n}}.ToText();
        if (i % 12 == 11)
            text[pc] += JournalLine{device, ++seq[pc], t + 120, Kind::Report, {"3/0/0/0", "20"}}.ToText();
    }
    ::mkdir(dir.Path("journal").c_str(), 0777);
    qv::bench::WriteFile(dir.Path("journal/desktop.jnl"), text[0]);
    qv::bench::WriteFile(dir.Path("journal/laptop.jnl"), text[1]);
}

void BM_FoldAllJournals(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    qv::bench::ScratchDir dir;
    MakeJournals(dir, records);
    const qv::records::Journals journals(dir.Path(""));
    double base = 0, folded = 0;
    long long bytes = 0, peak = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        qv::bench::RunQuiet({"wc", "-l", dir.Path("journal/desktop.jnl"), dir.Path("journal/laptop.jnl")});
        base += MsSince(start);

        qv::bench::ResetPeak();
        start = Clock::now();
        qv::records::Journals::Listing listing;
        journals.ReadAll(listing);
        qv::records::ViewBytes views = qv::records::Fold(listing.journals, nullptr);
        benchmark::DoNotOptimize(views);
        const double ms = MsSince(start);
        folded += ms;
        peak = qv::bench::StatusBytes("VmHWM:");
        bytes = qv::io::FileSize(dir.Path("journal/desktop.jnl")) + qv::io::FileSize(dir.Path("journal/laptop.jnl"));
        state.SetIterationTime(ms / 1000.0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["base_ms"] = base / n;
    state.counters["x_base"] = folded / base;
    state.counters["journal_mb"] = static_cast<double>(bytes) / 1e6;
    state.counters["rss_peak/journal"] = static_cast<double>(peak) / static_cast<double>(bytes);
}
// One action's commit: its line appended to this computer's journal and synced, after
// reading each journal's end for the next sequence and order; against appending 100 bytes
// to a file and syncing it.
void BM_CommitOneLine(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    qv::bench::ScratchDir dir;
    MakeJournals(dir, records);
    qv::records::JournalFolder folder(DataFolder(dir.Path("")), "@desktop");
    const std::string plain = dir.Path("plain"), hundred(98, 'x');
    double base = 0, commit = 0;
    qv::Seconds t = 1900000000;
    for (auto _ : state) {
        auto start = Clock::now();
        const int fd = ::open(plain.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (::write(fd, (hundred + "\r\n").data(), 100) != 100 || ::fsync(fd) != 0) state.SkipWithError("append");
        ::close(fd);
        base += MsSince(start);

        start = Clock::now();
        qv::records::JournalLine line{{}, 0, ++t, qv::records::JournalLine::Kind::Decide,
                                      {"1", "article name", "29", "A:12 B:18 ", "12", "18", "0", "0", "9", "why"}};
        if (!folder.Commit({line})) state.SkipWithError("commit");
        const double ms = MsSince(start);
        commit += ms;
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["base_ms"] = base / static_cast<double>(state.iterations());
    state.counters["x_base"] = commit / base;
}
// A folder in use that keeps journals: `records` sentences in its log taken in as the
// base (the files as the program would find them), this computer's journal beside it.
struct JournaledFolder {
    qv::bench::ScratchDir dir;
    DataFolder folder;
    explicit JournaledFolder(int records) : folder(dir.Path("")) {
        qv::bench::WriteFile(dir.Path("test.dat"), qv::bench::MakeRuleBookBytes(300));
        qv::bench::WriteFile(dir.Path("test.log"), qv::bench::MakeLogBytes(records));
        qv::bench::WriteFile(dir.Path("user.dat"), "quorvel\t1\tuser\t100\t0\t0\r\n");
        ::mkdir(dir.Path("journal").c_str(), 0777);
        ::setenv("QUORVEL_DEVICE", "desktop", 1);
        ::setenv("XDG_STATE_HOME", dir.Path("").c_str(), 1);
        qv::records::Journaling::Of(folder).Follow(false);
    }
};

// A verdict of article 12: 29 points, 12 units of the first implement, 9 on the balance.
CVerdict Verdict() {
    CVerdict v;
    v.articleNumber = 12;
    v.articleName = "X";
    v.total = 29;
    v.distribution = "A:12 ";
    v.counts = {12, 0, 0, 0, 9};
    v.countsText = "12\t0\t0\t0\t9";
    v.points = 9;
    v.verdictText = "12条:X\r\n合計 29 ポイント";
    return v;
}

double AppendHundredAndSync(const std::string& path) {
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    const std::string hundred = std::string(98, 'x') + "\r\n";
    if (::write(fd, hundred.data(), 100) != 100 || ::fsync(fd) != 0) return -1;
    ::close(fd);
    return MsSince(start);
}

// 決定 and 執行 as the windows call them, in a folder that keeps journals: the line
// committed, then the files the action writes. index_ms: the first 執行 of a run, which
// folds the journals once to find the lines that made the sentences.
void BM_ActionsWithJournal(benchmark::State& state) {
    JournaledFolder f(static_cast<int>(state.range(0)));
    CInfo info;
    AttachFolder(info, f.folder);
    qv::Seconds t = 1900000000;
    qv::execution::ReportSession session(info);
    auto start = Clock::now();
    const Decision first = DecideVerdict(Verdict(), info, ++t);
    session.Mark(first.id, true);
    const double index = MsSince(start);
    double base = 0, decide = 0, mark = 0;
    for (auto _ : state) {
        base += AppendHundredAndSync(f.dir.Path("plain"));
        start = Clock::now();
        const Decision d = DecideVerdict(Verdict(), info, ++t);
        if (d.status != Decision::Status::Ok) state.SkipWithError("decide");
        const double decideMs = MsSince(start);
        decide += decideMs;
        start = Clock::now();
        if (!session.Mark(d.id, true).Ok()) state.SkipWithError("mark");
        mark += MsSince(start);
        state.SetIterationTime(decideMs / 1000.0);
    }
    state.counters["base_ms"] = base / static_cast<double>(state.iterations());
    state.counters["decide_x"] = decide / base;
    state.counters["mark_x"] = mark / base;
    state.counters["index_ms"] = index;
}

// Another computer's 1,000 new lines arriving: the start that brings the files up to
// them, against `wc -l` over those lines; quick_ms: a start with nothing new.
void BM_TakeInThousandLines(benchmark::State& state) {
    JournaledFolder f(static_cast<int>(state.range(0)));
    qv::records::Journaling& here = qv::records::Journaling::Of(f.folder);
    double base = 0, takeIn = 0, quick = 0;
    qv::Seconds t = 1900000000;
    for (auto _ : state) {
        std::string lines;
        qv::records::JournalFolder laptop(f.folder, "@laptop");
        std::vector<JournalLine> made;
        for (int i = 0; i < 1000; ++i)
            made.push_back({{}, 0, ++t, Kind::Decide,
                            {"1", "article name", "29", "A:12 B:18 ", "12", "18", "0", "0", "9", "why"}});
        if (!laptop.Commit(made)) state.SkipWithError("laptop");
        auto start = Clock::now();
        qv::bench::RunQuiet({"sh", "-c", "tail -n 1000 " + f.dir.Path("journal/laptop.jnl") + " | wc -l"});
        base += MsSince(start);
        start = Clock::now();
        if (!here.Follow(false).ok) state.SkipWithError("follow");
        const double ms = MsSince(start);
        takeIn += ms;
        start = Clock::now();
        if (here.Follow(false).moved) state.SkipWithError("quick");
        quick += MsSince(start);
        state.SetIterationTime(ms / 1000.0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["base_ms"] = base / n;
    state.counters["x_base"] = takeIn / base;
    state.counters["quick_ms"] = quick / n;
}

BENCHMARK(BM_ActionsWithJournal)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TakeInThousandLines)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK(BM_CommitOneLine)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(20);

BENCHMARK(BM_FoldAllJournals)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
