#pragma once
// The display stand-in (tools/fbstub) answers FbLinux's ioctls only in a
// process that preloads it. A case that needs it starts with
// NEEDS_DISPLAY_STAND_IN(): without the stand-in it runs itself again in a copy
// of this binary that has it, and passes when that copy passes.
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

inline int runCurrentTestWithStandIn() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    pid_t child = fork();
    if (child == 0) {
        setenv("LD_PRELOAD", BINARY_DIR "/lib/libfbstub.so", 1);
        const char* sanitizer = getenv("ASAN_OPTIONS");
        std::string options = std::string(sanitizer ? sanitizer : "") + ":verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        execl("/proc/self/exe", "unit_tests", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#define NEEDS_DISPLAY_STAND_IN()                          \
    if (dlsym(RTLD_DEFAULT, "fbstubLoaded") == nullptr) { \
        ASSERT_EQ(runCurrentTestWithStandIn(), 0);        \
        return;                                           \
    }

struct Geometry {
    unsigned int xres = 800, yres = 480, xresVirtual = 800, yresVirtual = 960, bitsPerPixel = 32, yoffset = 0;
};

inline void setGeometry(const Geometry& geometry) {
    std::ofstream("/dev/fb0.geometry") << "xres=" << geometry.xres << "\nyres=" << geometry.yres
                                       << "\nxres_virtual=" << geometry.xresVirtual
                                       << "\nyres_virtual=" << geometry.yresVirtual
                                       << "\nbits_per_pixel=" << geometry.bitsPerPixel
                                       << "\nyoffset=" << geometry.yoffset << "\n";
}

// Lays out /dev/fb0 as a regular file of `bytes` and its geometry file.
inline void writeDisplay(const std::vector<unsigned char>& bytes, const Geometry& geometry) {
    std::ofstream("/dev/fb0", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    setGeometry(geometry);
}

// The shown line the stand-in last recorded (a pan updates it).
inline unsigned int shownLine() {
    std::ifstream file("/dev/fb0.geometry");
    for (std::string line; std::getline(file, line);)
        if (line.rfind("yoffset=", 0) == 0) return std::stoul(line.substr(8));
    return ~0u;
}

// Pseudo-random bytes: every channel value, alpha 0 included, turns up.
inline std::vector<unsigned char> noise(size_t size) {
    std::vector<unsigned char> bytes(size);
    unsigned int state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}
