// Fills the stand-in framebuffer file with a recognisable picture and writes its
// geometry file, so a captured screen shows something a person can check:
//   fbpattern [WIDTHxHEIGHT [BUFFERS [SHOWN]]]   (defaults: 800x480 2 0)
// Buffer 0 shows colour bars over a grey ramp, buffer 1 a checkerboard; both
// carry a white frame, so a cut-off or shifted capture is easy to see.
#include "tools/fbstub/geometry.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
struct Pixel {
    unsigned char blue, green, red, alpha;
};

const Pixel BARS[] = {
    {255, 255, 255, 255}, {0, 255, 255, 255}, {255, 255, 0, 255}, {0, 255, 0, 255},
    {255, 0, 255, 255},   {0, 0, 255, 255},   {255, 0, 0, 255},   {0, 0, 0, 255},
};

Pixel patternPixel(unsigned int buffer, unsigned int x, unsigned int y, unsigned int width, unsigned int height) {
    if (x < 4 || y < 4 || x >= width - 4 || y >= height - 4) return {255, 255, 255, 255};
    if (buffer % 2 == 1) {
        unsigned char shade = ((x / 40 + y / 40) % 2) ? 200 : 40;
        return {shade, shade, shade, 255};
    }
    if (y < height * 2 / 3) return BARS[x * 8 / width];
    auto ramp = static_cast<unsigned char>(x * 255 / (width - 1));
    return {ramp, ramp, ramp, 255};
}
}  // namespace

int main(int argc, char** argv) {
    StandInGeometry geometry;
    if (argc > 1 && sscanf(argv[1], "%ux%u", &geometry.xres, &geometry.yres) != 2) {
        fprintf(stderr, "usage: %s [WIDTHxHEIGHT [BUFFERS [SHOWN]]]\n", argv[0]);
        return 2;
    }
    unsigned int buffers = argc > 2 ? strtoul(argv[2], nullptr, 10) : 2;
    unsigned int shown = argc > 3 ? strtoul(argv[3], nullptr, 10) : 0;
    if (geometry.xres < 16 || geometry.yres < 16 || buffers == 0 || shown >= buffers) {
        fprintf(stderr, "%s: needs at least 16x16, one buffer, and a shown buffer below the count\n", argv[0]);
        return 2;
    }
    geometry.xresVirtual = geometry.xres;
    geometry.yresVirtual = geometry.yres * buffers;
    geometry.yoffset = geometry.yres * shown;

    std::vector<Pixel> frame(static_cast<size_t>(geometry.xresVirtual) * geometry.yresVirtual);
    for (unsigned int y = 0; y < geometry.yresVirtual; ++y)
        for (unsigned int x = 0; x < geometry.xres; ++x)
            frame[static_cast<size_t>(y) * geometry.xres + x] =
                patternPixel(y / geometry.yres, x, y % geometry.yres, geometry.xres, geometry.yres);

    std::string device = standInDevice();
    FILE* file = fopen(device.c_str(), "we");
    bool written = file != nullptr && fwrite(frame.data(), sizeof(Pixel), frame.size(), file) == frame.size();
    if (file != nullptr && fclose(file) != 0) written = false;
    if (!written || !writeGeometry(device, geometry)) {
        perror(device.c_str());
        return 1;
    }
    printf("%s: %ux%u, %u buffers, showing buffer %u\n", device.c_str(), geometry.xres, geometry.yres, buffers, shown);
    return 0;
}
