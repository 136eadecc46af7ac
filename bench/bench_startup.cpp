// Time from process start to the main menu shown (offscreen), against a bare Qt program
// that shows an empty window, measured the same way in the same run.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "bench/BenchData.h"

extern char** environ;

namespace {

std::string ProbePath() {
    return (std::filesystem::canonical("/proc/self/exe").parent_path() / "startup_probe").string();
}

void RunProbe(benchmark::State& state, bool bare) {
    qv::bench::ScratchDir dir;
    qv::bench::WriteFile(dir.Path("test.dat"), qv::bench::MakeRuleBookBytes(5));
    const std::string probe = ProbePath();
    std::filesystem::current_path(dir.Path(""));
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char mode[] = "bare";
    char menu[] = "menu";
    char* argv[] = {const_cast<char*>(probe.c_str()), bare ? mode : menu, nullptr};
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, probe.c_str(), nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the probe");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the probe failed");
            return;
        }
        state.SetIterationTime(elapsed.count());
    }
    std::filesystem::current_path("/");
}

void BM_StartupBareWindow(benchmark::State& state) { RunProbe(state, true); }
void BM_StartupMainMenu(benchmark::State& state) { RunProbe(state, false); }
BENCHMARK(BM_StartupBareWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_StartupMainMenu)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
