#include "tests/support/KillAt.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "text/FileIo.h"

namespace qv::test {
namespace {

int gCount = 0;
int gTarget = 0;  // 0: only count
KillMode gMode = KillMode::Before;

const qv::io::SysCalls& Real() { return qv::io::RealSysCalls(); }

// True when this call is the one to die at (Before has then already happened).
bool Aimed() {
    ++gCount;
    if (gTarget == 0 || gCount != gTarget) return false;
    if (gMode != KillMode::After) ::raise(SIGKILL);
    return true;
}
void DieAfter(bool aimed) {
    if (aimed) ::raise(SIGKILL);
}

const qv::io::SysCalls kKilling{
    [](const char* p, int f, mode_t m) { return Real().open(p, f, m); },
    [](int fd, void* b, size_t n) { return Real().read(fd, b, n); },
    [](int fd, const void* b, size_t n) -> ssize_t {
        ++gCount;
        if (gTarget != 0 && gCount == gTarget) {
            if (gMode == KillMode::HalfWrite && n > 1) Real().write(fd, b, n / 2);
            if (gMode != KillMode::After) ::raise(SIGKILL);
            const ssize_t done = Real().write(fd, b, n);
            ::raise(SIGKILL);
            return done;
        }
        return Real().write(fd, b, n);
    },
    [](int fd) { return Real().fsync(fd); },
    [](const char* a, const char* b) {
        const bool aimed = Aimed();
        const int r = Real().rename(a, b);
        DieAfter(aimed);
        return r;
    },
    [](int fd) { return Real().close(fd); },
    [](const char* p) {
        const bool aimed = Aimed();
        const int r = Real().unlink(p);
        DieAfter(aimed);
        return r;
    },
    [](int fd, off_t n) {
        const bool aimed = Aimed();
        const int r = Real().ftruncate(fd, n);
        DieAfter(aimed);
        return r;
    },
};

}  // namespace

int CountChangingCalls(const std::function<void()>& run) {
    gCount = 0;
    gTarget = 0;
    qv::io::SetSysCalls(&kKilling);
    run();
    qv::io::SetSysCalls(nullptr);
    return gCount;
}

bool RunKilledAt(const std::function<void()>& run, int n, KillMode mode) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        gCount = 0;
        gTarget = n;
        gMode = mode;
        qv::io::SetSysCalls(&kKilling);
        run();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace qv::test
