// The hardware-info block as the eMMC might hold it after any damage: reading
// it never leaves the block, and whatever initialize() makes of it is a valid
// block that a second initialize() leaves exactly as it is.
#include "apps/common/constants/constants.h"
#include "apps/libs/lhwinfo/hwinfo.h"
#include "fuzz/support/target.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr off_t BLOCK_AT = 0x100000;
constexpr size_t BLOCK_LENGTH = 0x10000;
constexpr off_t REGISTER_AT = 0x020CC068;


// Sparse image files of the two devices, made once per process.
struct Images {
    Images() {
        const char* scratch = getenv("SANDBOX_SCRATCH");
        std::string folder = std::string(scratch ? scratch : "/tmp") + "/hwinfo-fuzz.XXXXXX";
        FUZZ_EXPECT(mkdtemp(folder.data()) != nullptr, "no temporary folder");
        block = folder + "/mmcblk1";
        registers = folder + "/mem";
        resize(block, BLOCK_AT + BLOCK_LENGTH);
        resize(registers, REGISTER_AT + 4);
    }
    static void resize(const std::string& path, off_t size) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        FUZZ_EXPECT(fd >= 0 && ftruncate(fd, size) == 0, "cannot make an image file");
        close(fd);
    }
    static void put(const std::string& path, off_t at, const std::string& bytes) {
        int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        FUZZ_EXPECT(fd >= 0 && pwrite(fd, bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size()), "write");
        close(fd);
    }
    std::string blockBytes() const {
        std::string bytes(BLOCK_LENGTH, '\0');
        int fd = open(block.c_str(), O_RDONLY | O_CLOEXEC);
        FUZZ_EXPECT(fd >= 0 && pread(fd, bytes.data(), bytes.size(), BLOCK_AT) == static_cast<ssize_t>(bytes.size()), "read");
        close(fd);
        return bytes;
    }

    std::string block;
    std::string registers;
};

// Every field as the device-info route reads them.
void readAll(HwInfo& info) {
    using namespace Constants;
    for (const char* name : {HWINFO_SERIAL, HWINFO_BOARD, HWINFO_REVISION, HWINFO_K, HWINFO_KNOB_LINEARIZATION,
                             KNOB_POS_MIN, KNOB_POS_MAX, SLIDER_POS_MIN, SLIDER_POS_MAX, JOYSTICK_ZERO_POS_X,
                             JOYSTICK_ZERO_POS_Y, VIBRATION_BEMF_GAIN, VIBRATION_CAL_COMP, VIBRATION_CAL_BEMF,
                             HWINFO_UPDATE_REQ, HWINFO_BOOT_FAILED, HWINFO_BOOT_FAILED_COUNTER}) {
        std::string text;
        unsigned int number = 0;
        FUZZ_EXPECT(info.read(name, text), "a field cannot be read as text");
        info.read(name, number);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static Images images;
    if (size < 1) return 0;
    // The first byte picks what fills the block after the input: erased
    // flash (0xFF), zeros, or the input again.
    std::string input(reinterpret_cast<const char*>(bytes) + 1, std::min(size - 1, BLOCK_LENGTH));
    std::string block = input;
    while (block.size() < BLOCK_LENGTH)
        block += bytes[0] % 3 == 2 && !input.empty() ? input : std::string(BLOCK_LENGTH - block.size(), bytes[0] % 3 ? '\0' : '\xff');
    block.resize(BLOCK_LENGTH);
    Images::put(images.block, BLOCK_AT, block);
    Images::put(images.registers, REGISTER_AT, block.substr(block.size() - 4));

    {
        HwInfo info(images.registers.c_str(), images.block.c_str());
        info.initialize();
        readAll(info);
    }
    std::string repaired = images.blockBytes();
    HwInfo again(images.registers.c_str(), images.block.c_str());
    again.initialize();
    readAll(again);
    FUZZ_EXPECT(images.blockBytes() == repaired, "a second initialize changed the block: the first left it invalid");
    unsigned int length = 0;
    FUZZ_EXPECT(again.read("length", length) && length <= BLOCK_LENGTH, "the block's length leaves the block");
    return 0;
}
