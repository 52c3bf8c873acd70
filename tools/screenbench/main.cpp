// Times ScreenCapture on /dev/fb0 (the display stand-in outside the device)
// against two baselines on the same shown frame, measured in the same run: a
// plain copy of the frame and zlib's default compression of it.
//   screenbench [SECONDS_PER_MEASUREMENT]
#include "apps/web/service/screencapture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>
#include <zlib.h>

namespace {
using Clock = std::chrono::steady_clock;

struct Timing {
    double perSecond;
    double milliseconds;
    size_t bytes;
};

// Repeats `work` for about `seconds`; `work` returns the size it produced.
template <typename Work>
Timing measure(double seconds, Work work) {
    size_t bytes = work();  // warm-up
    int rounds = 0;
    auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        bytes = work();
        ++rounds;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    return {rounds / elapsed.count(), elapsed.count() * 1000 / rounds, bytes};
}
}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    ScreenCapture screen;
    screen.checkGeometry();
    const unsigned char* frame = screen.currentAddress();
    size_t frameSize = screen.frameSize();
    std::vector<unsigned char> copy(frameSize), packed(compressBound(frameSize));

    Timing png = measure(seconds, [&] {
        std::ostringstream out;
        out << screen;
        return out.str().size();
    });
    Timing plain = measure(seconds, [&] {
        memcpy(copy.data(), frame, frameSize);
        return frameSize;
    });
    Timing zlib = measure(seconds, [&] {
        uLongf length = packed.size();
        compress2(packed.data(), &length, frame, frameSize, Z_DEFAULT_COMPRESSION);
        return static_cast<size_t>(length);
    });

    const auto& info = screen.variableInfo();
    printf("frame %ux%u, %zu bytes\n", info.xres, info.yres, frameSize);
    printf("%-22s %10s %10s %10s %12s %12s\n", "", "per second", "ms each", "bytes", "x copy time", "x zlib time");
    for (auto [name, timing] : {std::pair{"PNG capture (libpng)", png}, {"copy of the frame", plain},
                                {"zlib compress2", zlib}})
        printf("%-22s %10.1f %10.3f %10zu %12.1f %12.2f\n", name, timing.perSecond, timing.milliseconds,
               timing.bytes, timing.milliseconds / plain.milliseconds, timing.milliseconds / zlib.milliseconds);
    return 0;
}
