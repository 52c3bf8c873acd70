// Preload library standing in for the display driver on machines without one:
// the framebuffer requests on a descriptor of the regular file bound over the
// device are answered from the geometry file (see geometry.h); every other
// ioctl goes to the C library unchanged. On a C library with a 32-bit time_t,
// callers built with a 64-bit one (-D_TIME_BITS=64) call __ioctl_time64
// instead of ioctl, so both names are taken over there.
#include "tools/fbstub/geometry.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <linux/fb.h>
#include <linux/ioctl.h>
#include <sys/stat.h>

// Lets a process see that the stand-in is loaded.
extern "C" __attribute__((visibility("default"))) const int fbstubLoaded = 1;

namespace {
using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction nextIoctl(const char* name) {
    return reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, name));
}

bool isStandIn(int fd, const std::string& device) {
    struct stat opened {}, bound {};
    if (fstat(fd, &opened) < 0 || !S_ISREG(opened.st_mode)) return false;
    return stat(device.c_str(), &bound) == 0 && bound.st_dev == opened.st_dev && bound.st_ino == opened.st_ino;
}

// A 32-bit pixel is the bytes blue, green, red, alpha in memory.
void fillVariable(fb_var_screeninfo& info, const StandInGeometry& geometry) {
    info = {};
    info.xres = geometry.xres;
    info.yres = geometry.yres;
    info.xres_virtual = geometry.xresVirtual;
    info.yres_virtual = geometry.yresVirtual;
    info.yoffset = geometry.yoffset;
    info.bits_per_pixel = geometry.bitsPerPixel;
    info.blue = {0, 8, 0};
    info.green = {8, 8, 0};
    info.red = {16, 8, 0};
    info.transp = {24, 8, 0};
    info.pixclock = 33333;  // picoseconds: a 30 MHz panel clock
    info.width = info.height = static_cast<__u32>(-1);
}

void fillFixed(int fd, fb_fix_screeninfo& info, const StandInGeometry& geometry) {
    struct stat file {};
    fstat(fd, &file);
    info = {};
    strncpy(info.id, "fbstub", sizeof info.id);
    info.smem_len = static_cast<__u32>(file.st_size);
    info.type = FB_TYPE_PACKED_PIXELS;
    info.visual = FB_VISUAL_TRUECOLOR;
    info.ypanstep = 1;
    info.line_length = geometry.xresVirtual * ((geometry.bitsPerPixel + 7) / 8);
    info.accel = FB_ACCEL_NONE;
}

int answer(int fd, unsigned long request, void* argument, const std::string& device) {
    StandInGeometry geometry = readGeometry(device);
    switch (request) {
    case FBIOGET_VSCREENINFO:
        fillVariable(*static_cast<fb_var_screeninfo*>(argument), geometry);
        return 0;
    case FBIOGET_FSCREENINFO:
        fillFixed(fd, *static_cast<fb_fix_screeninfo*>(argument), geometry);
        return 0;
    case FBIOPAN_DISPLAY:
        // Remember the shown buffer so that a reader sees the page flip.
        geometry.yoffset = static_cast<fb_var_screeninfo*>(argument)->yoffset;
        return writeGeometry(device, geometry) ? 0 : -1;
    case FBIOPUT_VSCREENINFO:
    case FBIO_WAITFORVSYNC:
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

// The request's argument is always one pointer-sized word.
int standInOrReal(IoctlFunction real, int fd, unsigned long request, void* argument) {
    std::string device = standInDevice();
    if (isStandIn(fd, device)) return answer(fd, request, argument, device);
    return real(fd, request, argument);
}
}  // namespace

// An exported entry point of the given name: the stand-in's requests are
// answered here, every other one goes to the C library's function of that name.
#define STAND_IN_ENTRY(name)                                                                         \
    extern "C" __attribute__((visibility("default"))) int name(int fd, unsigned long request, ...) { \
        static const auto real = nextIoctl(#name);                                                   \
        va_list arguments;                                                                           \
        va_start(arguments, request);                                                                \
        int result = standInOrReal(real, fd, request, va_arg(arguments, void*));                     \
        va_end(arguments);                                                                           \
        return result;                                                                               \
    }

STAND_IN_ENTRY(ioctl)
#if __TIMESIZE == 32
STAND_IN_ENTRY(__ioctl_time64)
#endif
