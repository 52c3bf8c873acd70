#pragma once
// The display geometry the stand-in reports for the regular file bound over the
// framebuffer device. It lives in a small text file beside that file
// ("<device>.geometry", lines "key=value") so a test or the demo can change it,
// for example the shown buffer, between two captures.
#include <string>

struct StandInGeometry {
    unsigned int xres = 800;
    unsigned int yres = 480;
    unsigned int xresVirtual = 800;
    unsigned int yresVirtual = 960;
    unsigned int bitsPerPixel = 32;
    unsigned int yoffset = 0;
};

// The device the stand-in takes the place of: $FBSTUB_DEVICE, else /dev/fb0.
std::string standInDevice();
std::string geometryPath(const std::string& device);
// Missing keys (or a missing file) keep the defaults above.
StandInGeometry readGeometry(const std::string& device);
bool writeGeometry(const std::string& device, const StandInGeometry& geometry);
