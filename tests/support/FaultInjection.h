#pragma once

#include <functional>
#include <string>

namespace qv::test {

// While alive, makes the n-th call through the core's file-call seam fail with an error
// (counting every call: open, read, write, fsync, rename, close).
class FaultInjection {
public:
    FaultInjection(int failingCall, int error);
    ~FaultInjection() { Stop(); }
    FaultInjection(const FaultInjection&) = delete;
    FaultInjection& operator=(const FaultInjection&) = delete;

    void Stop();
    // The name of the call that was made to fail, or "" when the run had fewer calls.
    std::string FailedCall() const;

    // How many seam calls run makes when nothing fails.
    static int CountCalls(const std::function<bool()>& run);
};

}  // namespace qv::test
