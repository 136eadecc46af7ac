#pragma once

// Live and peak heap bytes of the whole program, for the memory figures. A benchmark that
// calls these gets the counting operator new and delete linked in with them.
namespace qv::bench {

long long HeapLive();
long long HeapPeak();
// Starts a new peak from what is live now; returns that.
long long ResetHeapPeak();

}  // namespace qv::bench
