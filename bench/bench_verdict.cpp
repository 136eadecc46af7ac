// ComposeVerdict over logs of 1,000, 100,000 and 1,000,000 records against the floor of
// reading the same file and counting its lines; peak memory of one composition against
// the file size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "bench/BenchData.h"
#include "bench/HeapCount.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "trial/Verdict.h"

namespace {

constexpr long long kFirstTime = 1700000000;

struct Setup {
    qv::bench::ScratchDir dir;
    CRuleBook book;
    CInfo info;
    qv::Seconds now = 0;
    long long fileBytes = 0;

    explicit Setup(int records) {
        const std::string log = qv::bench::MakeLogBytes(records, kFirstTime);
        fileBytes = static_cast<long long>(log.size());
        qv::bench::WriteFile(dir.Path("test.log"), log);
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
        // The day of the newest record, so the 10-day window holds the last ~15,000.
        now = kFirstTime + 60LL * (records - 1);
    }
};

size_t ReadAndCountLines(const std::string& path) {
    std::string bytes;
    qv::io::ReadFile(path, bytes, std::numeric_limits<std::int64_t>::max());
    return static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

// A "VmRSS:"/"VmHWM:" figure of /proc/self/status in bytes.
long long StatusBytes(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long long kb = -1;
    const size_t len = std::strlen(key);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, key, len) == 0) kb = std::atoll(line + len);
    }
    std::fclose(f);
    return kb * 1024;
}

// Resident-set growth of one composition, in a child that first hands free heap back
// and resets its high-water mark, so pages left by earlier runs neither hide nor inflate
// the figure.
long long RssGrowthBytes(const Setup& s) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::malloc_trim(0);
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        const long long before = StatusBytes("VmRSS:");
        benchmark::DoNotOptimize(ComposeVerdict(12, 8, s.info, s.now));
        long long growth = StatusBytes("VmHWM:") - before;
        (void)!::write(fds[1], &growth, sizeof growth);
        ::_exit(0);
    }
    ::close(fds[1]);
    long long growth = -1;
    (void)!::read(fds[0], &growth, sizeof growth);
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return growth;
}

void BM_ComposeVerdict(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Composition c = ComposeVerdict(12, 8, s.info, s.now);
        benchmark::DoNotOptimize(c);
    }
    const long long base = qv::bench::ResetHeapPeak();
    benchmark::DoNotOptimize(ComposeVerdict(12, 8, s.info, s.now));
    const double heapPeak = static_cast<double>(qv::bench::HeapPeak() - base);
    const double file = static_cast<double>(s.fileBytes);
    state.counters["file_MB"] = file / 1e6;
    state.counters["heap_peak/file"] = heapPeak / file;
    state.counters["rss_growth/file"] = static_cast<double>(RssGrowthBytes(s)) / file;
    state.SetBytesProcessed(state.iterations() * s.fileBytes);
}

void BM_ReadAndCountLines(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)));
    const std::string path = s.info.GetLogPath();
    for (auto _ : state) benchmark::DoNotOptimize(ReadAndCountLines(path));
    state.counters["file_MB"] = static_cast<double>(s.fileBytes) / 1e6;
    state.SetBytesProcessed(state.iterations() * s.fileBytes);
}

}  // namespace

BENCHMARK(BM_ComposeVerdict)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndCountLines)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
