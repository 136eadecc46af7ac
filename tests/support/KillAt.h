#pragma once

#include <functional>

namespace qv::test {

// Where a kill falls against the file-changing call it is aimed at (write, rename,
// unlink, ftruncate through the core's file-call seam).
enum class KillMode {
    Before,     // the call never happens
    After,      // the call is made, then the process dies
    HalfWrite,  // a write puts down half its bytes first (other calls: as Before)
};

// How many file-changing calls run makes (run in this process).
int CountChangingCalls(const std::function<void()>& run);

// Runs run in a child process that is killed with SIGKILL at its n-th file-changing
// call; true when the kill happened (false: run finished with fewer calls).
bool RunKilledAt(const std::function<void()>& run, int n, KillMode mode);

}  // namespace qv::test
