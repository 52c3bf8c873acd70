// The screen as PNG: decoded back, the picture equals the shown buffer of the
// display stand-in; a geometry that does not fit the mapping is refused before
// a byte is written. The file's chunks are checked in e2e/service_diagnostics.sh.
#include "apps/web/service/screencapture.h"
#include "support/displaystandin.h"

#include <png.h>
#include <sstream>
#include <stdexcept>

namespace {

constexpr unsigned int WIDTH = 800, HEIGHT = 480;

// Stored B,G,R,A becomes R,G,B,A.
std::vector<unsigned char> expectedRgba(const std::vector<unsigned char>& memory, size_t buffer) {
    size_t frame = WIDTH * HEIGHT * 4;
    std::vector<unsigned char> rgba(memory.begin() + buffer * frame, memory.begin() + (buffer + 1) * frame);
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

std::string capture(ScreenCapture& screen) {
    std::ostringstream out;
    out << screen;
    return out.str();
}

TEST(ScreenCapture, PictureIsTheShownBuffer) {
    NEEDS_DISPLAY_STAND_IN();
    auto memory = noise(WIDTH * HEIGHT * 2 * 4);
    Geometry geometry;
    writeDisplay(memory, geometry);
    ScreenCapture screen;

    // One mapping for both captures: the shown buffer is asked for each time.
    for (unsigned int buffer : {0u, 1u, 0u}) {
        geometry.yoffset = buffer * HEIGHT;
        setGeometry(geometry);
        png_uint_32 width = 0, height = 0;
        auto pixels = decode(capture(screen), width, height);
        ASSERT_EQ(width, WIDTH);
        ASSERT_EQ(height, HEIGHT);
        EXPECT_TRUE(pixels == expectedRgba(memory, buffer)) << "buffer " << buffer;
    }
}

TEST(ScreenCapture, GeometryOutsideTheMappingIsRefusedBeforeWriting) {
    NEEDS_DISPLAY_STAND_IN();
    struct Case {
        const char* what;
        Geometry geometry;
        size_t bytes;
    } cases[] = {
        {"16 bits per pixel", {800, 480, 800, 960, 16, 0}, WIDTH * HEIGHT * 2 * 4},
        {"no lines", {800, 0, 800, 960, 32, 0}, WIDTH * HEIGHT * 2 * 4},
        {"no columns", {0, 480, 0, 960, 32, 0}, WIDTH * HEIGHT * 2 * 4},
        {"shown buffer beyond the memory", {800, 480, 800, 960, 32, 960}, WIDTH * HEIGHT * 2 * 4},
        {"memory smaller than one frame", {800, 480, 800, 480, 32, 0}, WIDTH * HEIGHT * 4 - 4096},
        {"second buffer cut short", {800, 480, 800, 960, 32, 480}, WIDTH * HEIGHT * 4 + 4096},
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

}  // namespace
