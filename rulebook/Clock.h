#pragma once

#include <cstdint>
#include <functional>

namespace qv {

// Seconds since 1970-01-01 00:00 UTC. Kept 64-bit so nothing stops at 2038.
using Seconds = std::int64_t;

// Where the current time comes from; tests pass a fixed one.
using Clock = std::function<Seconds()>;

Seconds SystemNow();

}  // namespace qv
