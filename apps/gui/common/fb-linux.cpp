#include "apps/gui/common/fb-linux.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
unsigned char* const NOT_MAPPED = static_cast<unsigned char*>(MAP_FAILED);
}

FbLinux::FbLinux(const std::string& device, int count)
    : device(device), fd(-1), count(count), bufferIndex(0), readOnly(false), varInfo{}, fixInfo{},
      memory(NOT_MAPPED) {}

FbLinux::FbLinux(const std::string& device)
    : device(device), fd(-1), count(0), bufferIndex(0), readOnly(true), varInfo{}, fixInfo{},
      memory(NOT_MAPPED) {}

FbLinux::~FbLinux() {
    if (memory != NOT_MAPPED) munmap(memory, fixInfo.smem_len);
    if (fd >= 0) close(fd);
}

void FbLinux::init() {
    mapFramebuffer();
}

void FbLinux::mapFramebuffer() {
    // An attempt that failed before may have left the device open.
    if (fd >= 0) close(fd);
    fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) THROW_ERROR_NUMBER("frambuffer open");
    readVariableInfo();
    if (readOnly) {
        count = varInfo.yres == 0 ? 0 : static_cast<int>(varInfo.yres_virtual / varInfo.yres);
    } else {
        waitVSync();
        varInfo.yres_virtual = count * varInfo.yres;
        if (ioctl(fd, FBIOPUT_VSCREENINFO, &varInfo) < 0) THROW_ERROR_NUMBER("screen info");
        readVariableInfo();
    }
    if (ioctl(fd, FBIOGET_FSCREENINFO, &fixInfo) < 0) THROW_ERROR_NUMBER("screen info");
    if (!readOnly) pan(0);
    logGeometry();
    void* mapped = mmap(nullptr, fixInfo.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) THROW_ERROR_NUMBER("map framebuffer");
    memory = static_cast<unsigned char*>(mapped);
    if (!readOnly) clear();
}

void FbLinux::logGeometry() const {
    unsigned long pixelClockKHz = varInfo.pixclock == 0 ? 0 : 1000000000UL / varInfo.pixclock;
    LOG(LogLight, "Framebuffer is %ix%ix%i, virtual is %ix%i", varInfo.xres, varInfo.yres,
        varInfo.bits_per_pixel, varInfo.xres_virtual, varInfo.yres_virtual);
    LOG(LogLight, "  Pixel Clock: %lukHz, Acceleration: %i, Capabilities: %08x", pixelClockKHz,
        fixInfo.accel, fixInfo.capabilities);
    LOG(LogLight, "  PanX: %i, PanY: %i, WrapY: %i", fixInfo.xpanstep, fixInfo.ypanstep, fixInfo.ywrapstep);
    LOG(LogLight, "  Line: %i, MMIO start: 0x%08lx, len: 0x%08x, SMEM start: 0x%08lx, len: 0x%08x",
        fixInfo.line_length, fixInfo.mmio_start, fixInfo.mmio_len, fixInfo.smem_start, fixInfo.smem_len);
}

void FbLinux::readVariableInfo() {
    if (ioctl(fd, FBIOGET_VSCREENINFO, &varInfo) < 0) THROW_ERROR_NUMBER("screen info");
}

void FbLinux::pan(unsigned int yoffset) {
    varInfo.yoffset = yoffset;
    if (ioctl(fd, FBIOPAN_DISPLAY, &varInfo) < 0 && errno != EINTR) THROW_ERROR_NUMBER("pan");
}

void FbLinux::refuseReadOnly() const {
    if (readOnly) THROW_ERROR("Not allowed in read only mode");
}

void FbLinux::clear() {
    refuseReadOnly();
    memset(backbufferAddress(), 0, frameSize());
}

void FbLinux::show() {
    refuseReadOnly();
    pan(varInfo.yres * bufferIndex);
    if (++bufferIndex >= count) bufferIndex = 0;
}

void FbLinux::waitVSync() {
    __u32 screen = 0;
    if (ioctl(fd, FBIO_WAITFORVSYNC, &screen) < 0 && errno != EINTR) THROW_ERROR_NUMBER("vsync");
}

int FbLinux::bytesPerPixel() const {
    return static_cast<int>((varInfo.bits_per_pixel + 7) / 8);
}

size_t FbLinux::frameSize() const {
    return static_cast<size_t>(varInfo.xres) * varInfo.yres * bytesPerPixel();
}

unsigned char* FbLinux::backbufferAddress() const {
    return memory + bufferIndex * frameSize();
}

unsigned char* FbLinux::frontbufferAddress() const {
    int shown = bufferIndex - 1 < 0 ? count - 1 : bufferIndex - 1;
    return memory + shown * frameSize();
}

uint64_t FbLinux::shownOffset() {
    readVariableInfo();
    // Drivers may pad lines beyond the visible width: the shown picture starts
    // at its line, not at a multiple of the frame size.
    return static_cast<uint64_t>(varInfo.yoffset) * fixInfo.line_length;
}

unsigned char* FbLinux::currentAddress() {
    return memory + shownOffset();
}
