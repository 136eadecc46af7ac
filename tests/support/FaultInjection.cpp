#include "tests/support/FaultInjection.h"

#include <cerrno>

#include "text/FileIo.h"

namespace qv::test {
namespace {

int gCountdown = 0;  // calls left before the failing one; 0 when none is armed
int gError = 0;
int gCalls = 0;
const char* gFailed = "";

bool ShouldFail(const char* name) {
    ++gCalls;
    if (gCountdown == 0 || --gCountdown != 0) return false;
    gFailed = name;
    errno = gError;
    return true;
}

const qv::io::SysCalls& Real() { return qv::io::RealSysCalls(); }

const qv::io::SysCalls kInjecting{
    [](const char* p, int f, mode_t m) { return ShouldFail("open") ? -1 : Real().open(p, f, m); },
    [](int fd, void* b, size_t n) -> ssize_t { return ShouldFail("read") ? -1 : Real().read(fd, b, n); },
    [](int fd, const void* b, size_t n) -> ssize_t {
        return ShouldFail("write") ? -1 : Real().write(fd, b, n);
    },
    [](int fd) { return ShouldFail("fsync") ? -1 : Real().fsync(fd); },
    [](const char* a, const char* b) { return ShouldFail("rename") ? -1 : Real().rename(a, b); },
    // A failing close still releases the descriptor, as on Linux.
    [](int fd) {
        if (ShouldFail("close")) {
            Real().close(fd);
            return -1;
        }
        return Real().close(fd);
    },
    [](const char* p) { return Real().unlink(p); },
    [](int fd, off_t n) { return Real().ftruncate(fd, n); },
};

}  // namespace

FaultInjection::FaultInjection(int failingCall, int error) {
    gCountdown = failingCall;
    gError = error;
    gCalls = 0;
    gFailed = "";
    qv::io::SetSysCalls(&kInjecting);
}

void FaultInjection::Stop() {
    gCountdown = 0;
    qv::io::SetSysCalls(nullptr);
}

std::string FaultInjection::FailedCall() const { return gFailed; }

int FaultInjection::CountCalls(const std::function<bool()>& run) {
    gCountdown = 0;
    gCalls = 0;
    qv::io::SetSysCalls(&kInjecting);
    run();
    qv::io::SetSysCalls(nullptr);
    return gCalls;
}

}  // namespace qv::test
