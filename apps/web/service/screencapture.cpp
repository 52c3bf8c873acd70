#include "apps/web/service/screencapture.h"

#include "apps/common/log/log.h"

#include <csetjmp>
#include <png.h>
#include <stdexcept>
#include <sys/mman.h>
#include <vector>

namespace {
// libpng leaves a failing call by longjmp, so every stage runs in its own small
// frame that owns nothing with a destructor.
template <typename Stage>
bool pngStage(png_structp png, Stage stage) {
    if (setjmp(png_jmpbuf(png))) return false;
    stage();
    return true;
}

// An exception must not cross libpng's C frames: a failing stream becomes a
// libpng error, raised after the handler has left.
void writeCallback(png_structp png, png_bytep data, png_size_t length) {
    bool written = true;
    try {
        static_cast<ScreenCapture*>(png_get_io_ptr(png))->write(data, static_cast<unsigned int>(length));
    } catch (const std::exception&) {
        written = false;
    }
    if (!written) png_error(png, "output stream failed");
}

// The write and info structures of one capture, destroyed on every way out.
struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};
}  // namespace

// A display that cannot be used is the screen route's failure only: the
// service starts without it, and each capture tries it again.
ScreenCapture::ScreenCapture() : FbLinux("/dev/fb0"), output(nullptr) {
    try {
        init();
    } catch (const std::exception& error) {
        LOG(Error, "Screen capture not available for now: %s", error.what());
    }
}

void ScreenCapture::checkGeometry() {
    shownBuffer();
}

const unsigned char* ScreenCapture::shownBuffer() {
    if (mappedMemory() == static_cast<unsigned char*>(MAP_FAILED)) init();
    uint64_t start = shownOffset();
    const fb_var_screeninfo& screen = variableInfo();
    if (screen.bits_per_pixel != 32)
        THROW_ERROR("Screen capture needs 32 bits per pixel, the display has %u", screen.bits_per_pixel);
    if (screen.xres == 0 || screen.yres == 0) THROW_ERROR("Screen capture: the display has no pixels");
    uint64_t line = fixedInfo().line_length;
    if (line < uint64_t{screen.xres} * 4)
        THROW_ERROR("Screen capture: lines of %u bytes are shorter than %u pixels", fixedInfo().line_length,
                    screen.xres);
    uint64_t mapped = fixedInfo().smem_len;
    if (start > mapped || line * screen.yres > mapped - start)
        THROW_ERROR("Screen capture: shown buffer at line %u lies outside the %u mapped bytes", screen.yoffset,
                    fixedInfo().smem_len);
    return mappedMemory() + static_cast<size_t>(start);
}

void ScreenCapture::startWrite(std::ostream& out) {
    const unsigned char* base = shownBuffer();
    unsigned int width = variableInfo().xres;
    unsigned int height = variableInfo().yres;
    std::vector<png_bytep> rows(height, nullptr);
    for (unsigned int row = 0; row < height; ++row)
        rows[row] = const_cast<png_bytep>(base) + static_cast<size_t>(row) * fixedInfo().line_length;

    struct OutputReset {
        std::ostream*& output;
        ~OutputReset() { output = nullptr; }
    } outputReset{output};
    output = &out;

    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (writer.png == nullptr) THROW_ERROR("PNG: create write struct error");
    writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) THROW_ERROR("PNG: create info error");
    png_structp png = writer.png;
    png_infop info = writer.info;

    if (!pngStage(png, [&] { png_set_write_fn(png, this, writeCallback, nullptr); }))
        THROW_ERROR("PNG: init io error");
    if (!pngStage(png, [&] {
            png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
        }))
        THROW_ERROR("PNG: write info error");
    png_set_rows(png, info, rows.data());
    if (!pngStage(png, [&] { png_write_png(png, info, PNG_TRANSFORM_BGR, nullptr); }))
        THROW_ERROR("PNG: write image error");
}

void ScreenCapture::write(unsigned char* data, unsigned int length) {
    if (output != nullptr) output->write(reinterpret_cast<const char*>(data), length);
}

std::ostream& operator<<(std::ostream& out, ScreenCapture& capture) {
    capture.startWrite(out);
    return out;
}
