#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qv::history {

// Asks for [begin, begin + bytes) to be served by huge pages where the system allows it
// (a hint; nothing is mapped by it). On a virtual machine every small page costs a trap at
// its first write, even one the kernel has mapped already; a huge page costs one for 512.
void PreferHugePages(void* begin, size_t bytes);

// Has the kernel map the pages of [begin, begin + bytes) now, in one call, as a write to
// each would. Where it cannot (a kernel without the call) nothing happens: the pages are
// then mapped one fault at a time as they are first written, as they would have been.
void MapPagesNow(void* begin, size_t bytes);

template <typename T>
class PagesAhead {
public:
    void Keep(std::vector<T>& v) {
        char* data = reinterpret_cast<char*>(v.data());
        const size_t used = v.size() * sizeof(T);
        if (data == base_ && used < mapped_) return;
        if (data != base_) {  // new room: what the vector holds is mapped already
            base_ = data;
            mapped_ = used;
            PreferHugePages(data, v.capacity() * sizeof(T));
        }
        const size_t room = v.capacity() * sizeof(T);
        const size_t upTo = std::min(room, mapped_ + kRun);
        if (upTo > mapped_) MapPagesNow(data + mapped_, upTo - mapped_);
        mapped_ = upTo > used ? upTo : used + 1;  // full: no more calls until it moves
    }

private:
    static constexpr size_t kRun = size_t{2} << 20;  // one huge page
    char* base_ = nullptr;
    size_t mapped_ = 0;
};

}  // namespace qv::history
