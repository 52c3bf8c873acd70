// One shared-memory area: creating, opening, mapping, the size word check and
// releasing, including objects that other processes left in a bad state.
#include "apps/common/sharedmemory/sharedmemory.h"
#include "support/reason.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

bool exists(char const* name) { return access((std::string("/dev/shm/") + name).c_str(), F_OK) == 0; }

// An area object as another process would leave it: `length` bytes in all,
// starting with the given size word when there is room for it.
void leaveObject(char const* name, uint32_t word, off_t length) {
    int fd = shm_open(name, O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, length), 0);
    if (length >= 4) {
        ASSERT_EQ(pwrite(fd, &word, sizeof word, 0), 4);
    }
    close(fd);
}

int mappingsOf(char const* name) {
    std::ifstream maps("/proc/self/maps");
    int found = 0;
    for (std::string line; std::getline(maps, line);) found += line.find(std::string("/dev/shm/") + name) != std::string::npos;
    return found;
}

TEST(SharedMemoryArea, CreatorWritesTheSizeWordAndRemovesTheNameOnClose) {
    const std::string unmapped = "Call open or create before asking for the address";
    SharedMemory area("MemApp", 68);
    EXPECT_EQ(raisedReason([&] { area.open(); }), "/MemApp: No such file or directory");
    EXPECT_EQ(raisedReason([&] { area.address(); }), unmapped);
    area.create();
    uint32_t word = 0;
    std::memcpy(&word, static_cast<char*>(area.address()) - 4, 4);
    EXPECT_EQ(word, 68u);
    EXPECT_TRUE(exists("MemApp"));
    area.close();
    EXPECT_FALSE(exists("MemApp"));
    EXPECT_EQ(raisedReason([&] { area.address(); }), unmapped);
}

// That both see the same bytes, every end-to-end script shows.
TEST(SharedMemoryArea, AnOpenerMapsOnceAndLeavesTheNameAndTheCreatorsMapping) {
    SharedMemory creator("MemDeviceState", 24);
    creator.create();
    creator.address();
    {
        SharedMemory opener("MemDeviceState", 24);
        opener.open();
        opener.address();
        opener.address();
        EXPECT_EQ(mappingsOf("MemDeviceState"), 2);
    }
    EXPECT_TRUE(exists("MemDeviceState")) << "only the creator removes the name";
    EXPECT_EQ(mappingsOf("MemDeviceState"), 1);
}

TEST(SharedMemoryArea, AWrongSizeWordOrAShortObjectIsRefusedEveryTimeWithNothingMapped) {
    leaveObject("/MemMotors", 479, 480 + 4);
    SharedMemory area("MemMotors", 480);
    area.open();
    EXPECT_EQ(raisedReason([&] { area.address(); }), "Memory size missmatch for /MemMotors, requested 480, is 479.");
    EXPECT_EQ(mappingsOf("MemMotors"), 0);
    // Too short for its payload: the size counts, whatever the word says.
    leaveObject("/MemMotors", 480, 100);
    EXPECT_EQ(raisedReason([&] { area.address(); }), "Memory size missmatch for /MemMotors, requested 480, is 96.");
    leaveObject("/MemMotors", 0, 2);
    EXPECT_EQ(raisedReason([&] { area.address(); }), "Memory size missmatch for /MemMotors, requested 480, is 0.");
}

TEST(SharedMemoryArea, CreateReusesAnExistingObjectAndCloseCanBeRepeated) {
    leaveObject("/MemApp", 68, 68 + 4);
    SharedMemory area("MemApp", 68);
    area.create();
    EXPECT_NE(area.address(), nullptr);
    area.close();
    EXPECT_NO_THROW(area.close());
    EXPECT_FALSE(exists("MemApp"));
}

}  // namespace
