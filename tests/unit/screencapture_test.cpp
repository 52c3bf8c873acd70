// The screen as PNG: decoded back, the picture equals the shown part of the
// display stand-in's memory; a geometry that does not fit the mapping is
// refused before a byte is written. The framebuffer's own read-write mode
// flips pages. The file's chunks are checked in e2e/service_diagnostics.sh.
#include "apps/web/service/screencapture.h"
#include "support/displaystandin.h"
#include "support/raised.h"

#include <cstring>
#include <png.h>
#include <sstream>
#include <stdexcept>

namespace {

// The visible rectangle from line `yoffset` on, stored B,G,R,A, as R,G,B,A.
std::vector<unsigned char> expectedRgba(const std::vector<unsigned char>& memory, const Geometry& geometry) {
    std::vector<unsigned char> rgba;
    size_t line = geometry.xresVirtual * 4;
    for (size_t row = geometry.yoffset; row < geometry.yoffset + geometry.yres; ++row)
        rgba.insert(rgba.end(), memory.begin() + row * line, memory.begin() + row * line + geometry.xres * 4);
    for (size_t pixel = 0; pixel < rgba.size(); pixel += 4) std::swap(rgba[pixel], rgba[pixel + 2]);
    return rgba;
}

std::vector<unsigned char> decode(const std::string& png, png_uint_32& width, png_uint_32& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    width = image.width;
    height = image.height;
    return pixels;
}

void expectPicture(ScreenCapture& screen, const std::vector<unsigned char>& memory, const Geometry& geometry) {
    std::ostringstream out;
    out << screen;
    png_uint_32 width = 0, height = 0;
    auto pixels = decode(out.str(), width, height);
    ASSERT_EQ(width, geometry.xres);
    ASSERT_EQ(height, geometry.yres);
    EXPECT_TRUE(pixels == expectedRgba(memory, geometry)) << "shown from line " << geometry.yoffset;
}

TEST(ScreenCapture, PictureIsTheShownPartOfTheMemory) {
    NEEDS_DISPLAY_STAND_IN();
    struct Case {
        Geometry geometry;
        std::vector<unsigned int> shownLines;
    } cases[] = {
        // One mapping for every capture: the shown buffer is asked for each time.
        {{800, 480, 800, 960, 32, 0}, {0, 480, 0}},
        // Lines longer than the visible width, a virtual screen taller than
        // two buffers, and a pan to a line that starts no buffer.
        {{800, 480, 816, 1000, 32, 0}, {500, 0}},
    };
    for (Case& c : cases) {
        auto memory = noise(c.geometry.xresVirtual * c.geometry.yresVirtual * 4);
        writeDisplay(memory, c.geometry);
        ScreenCapture screen;
        for (unsigned int line : c.shownLines) {
            c.geometry.yoffset = line;
            setGeometry(c.geometry);
            expectPicture(screen, memory, c.geometry);
        }
    }
}

TEST(ScreenCapture, GeometryOutsideTheMappingIsRefusedBeforeWriting) {
    NEEDS_DISPLAY_STAND_IN();
    constexpr size_t FRAME = 800 * 480 * 4;
    struct Case {
        const char* what;
        Geometry geometry;
        size_t bytes;
    } cases[] = {
        {"16 bits per pixel", {800, 480, 800, 960, 16, 0}, FRAME * 2},
        {"no lines", {800, 0, 800, 960, 32, 0}, FRAME * 2},
        {"no columns", {0, 480, 0, 960, 32, 0}, FRAME * 2},
        {"lines shorter than the width", {800, 480, 640, 960, 32, 0}, FRAME * 2},
        {"shown buffer beyond the memory", {800, 480, 800, 960, 32, 960}, FRAME * 2},
        {"memory smaller than one frame", {800, 480, 800, 480, 32, 0}, FRAME - 4096},
        {"second buffer cut short", {800, 480, 800, 960, 32, 480}, FRAME + 4096},
    };
    for (const Case& c : cases) {
        writeDisplay(noise(c.bytes), c.geometry);
        ScreenCapture screen;
        EXPECT_THROW(screen.checkGeometry(), std::runtime_error) << c.what;
        std::ostringstream out;
        EXPECT_THROW(out << screen, std::runtime_error) << c.what;
        EXPECT_EQ(out.str().size(), 0u) << c.what;
    }
}

TEST(FbLinux, ReadOnlyRefusesToDrawAndReadWriteFlipsThroughItsBuffers) {
    NEEDS_DISPLAY_STAND_IN();
    Geometry geometry{800, 480, 800, 480 * 3, 32, 960};
    auto bytes = noise(800 * 480 * 3 * 4);
    writeDisplay(bytes, geometry);
    {
        FbLinux viewer("/dev/fb0");
        viewer.init();
        EXPECT_NE(raisedText([&] { viewer.show(); }).find("Not allowed in read only mode"), std::string::npos);
        EXPECT_NE(raisedText([&] { viewer.clear(); }).find("Not allowed in read only mode"), std::string::npos);
        EXPECT_EQ(memcmp(viewer.mappedMemory(), bytes.data(), bytes.size()), 0);
        EXPECT_EQ(shownLine(), 960u);
    }

    FbLinux display("/dev/fb0", 3);
    display.init();
    EXPECT_EQ(shownLine(), 0u) << "mapping shows buffer 0";
    size_t frame = display.frameSize();
    std::vector<unsigned char> zeros(frame, 0);
    EXPECT_EQ(memcmp(display.mappedMemory(), zeros.data(), frame), 0) << "back buffer not cleared";
    EXPECT_NE(memcmp(display.mappedMemory() + frame, zeros.data(), frame), 0) << "more than the back buffer cleared";
    for (unsigned int buffer = 0; buffer < 3; ++buffer) {
        EXPECT_EQ(display.backbufferAddress(), display.mappedMemory() + buffer * frame);
        display.show();
        EXPECT_EQ(shownLine(), buffer * 480);
        EXPECT_EQ(display.frontbufferAddress(), display.mappedMemory() + buffer * frame);
    }
    EXPECT_EQ(display.backbufferAddress(), display.mappedMemory());
}

}  // namespace
