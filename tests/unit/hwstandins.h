#pragma once
// Stand-in files in place of /dev/mem and /dev/mmcblk1 for tests. Refuses to
// work anywhere but inside scripts/sandbox (where /dev is a private tmpfs and
// /dev/kmsg a regular file), so a test never opens the machine's devices.
#include "support/kmsg.h"
#include "support/reason.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

inline bool isRegularFile(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

inline std::string word(unsigned int value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

inline std::string fileBytes(const char* path, off_t at, size_t count) {
    std::string bytes(count, '\0');
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    bytes.resize(fd < 0 ? 0 : std::max<ssize_t>(pread(fd, bytes.data(), count, at), 0));
    if (fd >= 0) close(fd);
    return bytes;
}

inline void putFileBytes(const char* path, off_t at, const std::string& bytes) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

class HardwareStandIns : public testing::Test {
protected:
    static constexpr const char* BLOCK_DEVICE = "/dev/mmcblk1";
    static constexpr const char* REGISTER_DEVICE = "/dev/mem";
    static constexpr off_t BLOCK_AT = 0x100000;
    static constexpr off_t REGISTER_AT = 0x020CC068;

    void SetUp() override {
        ASSERT_TRUE(isRegularFile("/dev/kmsg")) << "not inside scripts/sandbox: refusing to touch /dev";
        ASSERT_EQ(system(SOURCE_DIR "/scripts/hw-standins"), 0);
        ASSERT_TRUE(isRegularFile(REGISTER_DEVICE) && isRegularFile(BLOCK_DEVICE));
    }

    std::string block(size_t from, size_t count) { return fileBytes(BLOCK_DEVICE, BLOCK_AT + from, count); }
    void putBlock(size_t at, const std::string& bytes) { putFileBytes(BLOCK_DEVICE, BLOCK_AT + at, bytes); }
};
