// Framebuffer access against the display stand-in: geometry, the buffer shown,
// page flipping and the read-only guard.
#include "apps/gui/common/fb-linux.h"
#include "support/displaystandin.h"
#include "support/raised.h"

#include <cstring>

namespace {

TEST(FbLinuxReadOnly, FollowsTheBufferTheDriverShows) {
    NEEDS_DISPLAY_STAND_IN();
    Geometry geometry;
    geometry.yoffset = 480;
    writeDisplay(noise(800 * 960 * 4), geometry);
    FbLinux display("/dev/fb0");
    display.init();

    // Following the pan from buffer to buffer is covered by screencapture_test.cpp.
    EXPECT_EQ(display.bufferCount(), 2);
    EXPECT_EQ(display.frameSize(), 800u * 480 * 4);
    EXPECT_EQ(display.currentAddress(), display.mappedMemory() + display.frameSize());
    EXPECT_EQ(memcmp(display.mappedMemory(), noise(16).data(), 16), 0) << "not the device's memory";

    geometry.yres = 0;  // no visible lines: no buffers, and the start is shown
    setGeometry(geometry);
    EXPECT_EQ(display.currentAddress(), display.mappedMemory());
}

TEST(FbLinuxReadOnly, RefusesToDraw) {
    NEEDS_DISPLAY_STAND_IN();
    Geometry geometry;
    auto bytes = noise(800 * 960 * 4);
    writeDisplay(bytes, geometry);
    FbLinux display("/dev/fb0");
    display.init();
    EXPECT_NE(raisedText([&] { display.show(); }).find("Not allowed in read only mode"), std::string::npos);
    EXPECT_NE(raisedText([&] { display.clear(); }).find("Not allowed in read only mode"), std::string::npos);
    EXPECT_EQ(memcmp(display.mappedMemory(), bytes.data(), bytes.size()), 0);
    EXPECT_EQ(shownLine(), 0u);
}

TEST(FbLinuxReadWrite, FlipsThroughItsBuffers) {
    NEEDS_DISPLAY_STAND_IN();
    Geometry geometry;
    geometry.yresVirtual = 480 * 3;
    geometry.yoffset = 960;
    writeDisplay(noise(800 * 480 * 3 * 4), geometry);
    FbLinux display("/dev/fb0", 3);
    display.init();

    EXPECT_EQ(shownLine(), 0u) << "mapping shows buffer 0";
    size_t frame = display.frameSize();
    EXPECT_EQ(display.backbufferAddress(), display.mappedMemory());
    EXPECT_EQ(display.frontbufferAddress(), display.mappedMemory() + 2 * frame);
    std::vector<unsigned char> zeros(frame, 0);
    EXPECT_EQ(memcmp(display.mappedMemory(), zeros.data(), frame), 0) << "back buffer not cleared";
    EXPECT_NE(memcmp(display.mappedMemory() + frame, zeros.data(), frame), 0) << "more than the back buffer cleared";

    for (unsigned int buffer = 0; buffer < 3; ++buffer) {
        display.show();
        EXPECT_EQ(shownLine(), buffer * 480);
        EXPECT_EQ(display.currentAddress(), display.mappedMemory() + buffer * frame);
    }
    EXPECT_EQ(display.backbufferAddress(), display.mappedMemory());
    EXPECT_EQ(display.frontbufferAddress(), display.mappedMemory() + 2 * frame);
}

}  // namespace
