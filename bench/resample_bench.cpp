// Times FilteredResize of a 4000x3000 32-bit buffer down to 1000x750 and back up.
#include <chrono>
#include <cstdio>

#include "imaging/resample.h"

int main() {
    using Clock = std::chrono::steady_clock;
    jx::TDibBuffer big, small, back;
    big.SetSize(4000, 3000, 32);
    small.SetSize(1000, 750, 32);
    back.SetSize(4000, 3000, 32);
    for (int y = 0; y < big.AbsHeight(); ++y)
        for (int i = 0; i < 16000; ++i) big.Line(y)[i] = static_cast<uint8_t>((y * 7 + i * 13 + (i * y >> 9)) & 255);
    for (int filter : {2, 14}) {
        double best[2] = {1e9, 1e9};
        for (int round = 0; round < 3; ++round) {
            auto t0 = Clock::now();
            jx::FilteredResize(big, small, filter);
            auto t1 = Clock::now();
            jx::FilteredResize(small, back, filter);
            auto t2 = Clock::now();
            best[0] = std::min(best[0], std::chrono::duration<double, std::milli>(t1 - t0).count());
            best[1] = std::min(best[1], std::chrono::duration<double, std::milli>(t2 - t1).count());
        }
        std::printf("%-9s 4000x3000 -> 1000x750: %7.1f ms   1000x750 -> 4000x3000: %7.1f ms\n",
                    jx::ResampleFilterName(filter), best[0], best[1]);
    }
    return 0;
}
