#include "text/LineWalk.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv {

size_t FindTabs(std::string_view line, size_t* at, size_t most) {
    size_t n = 0;
    size_t i = 0;
    const char* p = line.data();
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t');
    for (; i + 16 <= line.size() && n < most; i += 16) {
        unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), tab)));
        for (; bits != 0 && n < most; bits &= bits - 1)
            at[n++] = i + static_cast<size_t>(__builtin_ctz(bits));
    }
#endif
    for (; i < line.size() && n < most; ++i)
        if (p[i] == '\t') at[n++] = i;
    return n;
}

}  // namespace qv
