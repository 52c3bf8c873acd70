#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "apps/common/constants/constants.h"
#include "apps/libs/lhwinfo/hwinfo.h"
#include "tests/unit/hwstandins.h"

namespace {

using namespace Constants;
using Messages = std::vector<std::string>;

const std::string WRONG_CHECKSUM = "Wrong checksum, setting defaults.";
const std::string SHORT_LENGTH = "Differents length, setting new values to default.";

std::string padded(const char* text, size_t capacity) {
    std::string field(text);
    field.resize(capacity, '\0');
    return field;
}

// The messages of the Error records in a stretch of kernel log.
Messages errorMessages(const std::string& log) {
    Messages messages;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 60 && line.compare(22, 12, "Error       ") == 0) messages.push_back(line.substr(60));
    return messages;
}

class HwInfoBlock : public HardwareStandIns {
protected:
    // Lays the block out by hand after its table of offsets, checksummed over
    // `length`; bytes from 348 up to the length belong to a longer layout.
    void writeBlock(unsigned int version, unsigned int length) {
        std::string bytes = word(version) + word(length) + word(0) + padded("SN-1", 30) + padded("B7", 30) +
                            padded("2.1", 30) + padded("k0", 30);
        for (unsigned int number = 1; number <= 9; ++number) bytes += word(number * 100);
        bytes += padded("0,10,20", 180);
        bytes.resize(std::max<size_t>(length, bytes.size()), '\x5c');
        putBlock(0, bytes);
        putBlock(8, word(crc(length)));
    }

    // Checked against the standard check value in the record tests.
    unsigned int crc(unsigned int length) { return PersistentInfo(BLOCK_DEVICE, BLOCK_AT, 0x10000).checksum(length); }

    std::string text(const char* name) {
        std::string value;
        EXPECT_TRUE(info->read(name, value)) << name;
        return value;
    }

    unsigned int number(const char* name) {
        unsigned int value = 0xDEAD;
        EXPECT_TRUE(info->read(name, value)) << name;
        return value;
    }

    Messages initialize() {
        kmsg::Cursor log;
        info = std::make_unique<HwInfo>();
        info->initialize();
        return errorMessages(log.text());
    }

    void expectValidHeader() {
        EXPECT_EQ(block(0, 12), word(5) + word(348) + word(crc(348)));
    }

    void expectDefaults() {
        expectValidHeader();
        EXPECT_EQ(text(HWINFO_SERIAL) + "|" + text(HWINFO_BOARD) + "|" + text(HWINFO_REVISION) + "|" + text(HWINFO_K),
                  "0000|prototype|1.0|");
        EXPECT_EQ(number(KNOB_POS_MIN), 0u);
    }

    std::unique_ptr<HwInfo> info;
};

TEST_F(HwInfoBlock, ValidBlocksAreKeptByteForByte) {
    for (unsigned int length : {348u, 400u}) {  // 400: written by a newer, longer layout
        writeBlock(5, length);
        std::string before = block(0, 0x200);
        EXPECT_EQ(initialize(), Messages{});
        EXPECT_EQ(block(0, 0x200), before) << length;
        EXPECT_EQ(text(HWINFO_SERIAL) + "|" + text(HWINFO_REVISION) + "|" + text(HWINFO_KNOB_LINEARIZATION),
                  "SN-1|2.1|0,10,20");
        EXPECT_EQ(number(KNOB_POS_MAX) + number(VIBRATION_CAL_BEMF), 1100u);
    }
}

TEST_F(HwInfoBlock, ACorruptByteAnywhereInTheCoveredRangeResetsToDefaults) {
    for (size_t at = 12; at < 348 && !HasFailure(); ++at) {
        writeBlock(5, 348);
        putBlock(at, std::string(1, static_cast<char>(block(at, 1)[0] ^ 0x01)));
        EXPECT_EQ(initialize(), Messages{WRONG_CHECKSUM}) << "byte " << at;
        expectDefaults();
    }
}

TEST_F(HwInfoBlock, AShortBlockIsExtendedWithZerosAndANewChecksum) {
    writeBlock(4, 200);
    putBlock(200, std::string(148, '\xee') + "tail");  // left over beyond the older layout
    EXPECT_EQ(initialize(), Messages{SHORT_LENGTH});
    expectValidHeader();
    EXPECT_EQ(block(200, 152), std::string(148, '\0') + "tail");
    EXPECT_EQ(text(HWINFO_SERIAL), "SN-1");
}

TEST_F(HwInfoBlock, ErasedFlashIsRepaired) {
    putBlock(0, std::string(0x10000, '\xff'));  // length 0xFFFFFFFF, far past the mapping
    EXPECT_EQ(initialize(), Messages{WRONG_CHECKSUM});
    expectDefaults();
    EXPECT_EQ(block(348, 0x10000 - 348), std::string(0x10000 - 348, '\xff'));
}

TEST_F(HwInfoBlock, WritesKeepTheChecksumValidAndRespectTheFieldRules) {
    initialize();
    EXPECT_TRUE(info->write(HWINFO_SERIAL, "SN-7"));
    EXPECT_TRUE(info->write(KNOB_POS_MAX, 4000u));
    EXPECT_TRUE(info->write(std::string("board=B=1")));
    EXPECT_TRUE(info->write(std::string("cal_comp=12")));
    expectValidHeader();
    EXPECT_EQ(text(HWINFO_SERIAL) + "|" + text(HWINFO_BOARD) + "|" + text(VIBRATION_CAL_COMP), "SN-7|B=1|12");
    EXPECT_EQ(number(KNOB_POS_MAX), 4000u);

    std::string before = block(0, 348);
    EXPECT_FALSE(info->write(std::string("board")));
    EXPECT_FALSE(info->write(std::string("nosuch=1")));
    EXPECT_FALSE(info->write(HWINFO_SERIAL, 1u));  // a text has no number
    EXPECT_EQ(raisedReason([&] { info->write("length", 7u); }), "length is private.");
    EXPECT_EQ(raisedReason([&] { info->write(std::string("checksum=0")); }), "checksum is private.");
    EXPECT_THROW(info->write(std::string("cal_comp=twelve")), std::invalid_argument);
    EXPECT_EQ(block(0, 348), before);
}

TEST_F(HwInfoBlock, RegisterBitsRoundTripWithoutTouchingOtherBits) {
    putFileBytes(REGISTER_DEVICE, REGISTER_AT - 4, word(0x11111111) + word(0x5A5A5A5A));
    initialize();
    EXPECT_EQ((std::vector{number(HWINFO_UPDATE_REQ), number(HWINFO_UNUSED), number(HWINFO_BOOT_FAILED),
                           number(HWINFO_BOOT_FAILED_COUNTER)}),
              (std::vector{0u, 0x5A5A5A5Au >> 5 & 0x3FFFFFF, 1u, 0xAu}));

    EXPECT_TRUE(info->write(HWINFO_BOOT_FAILED, 0u));
    EXPECT_TRUE(info->write(HWINFO_BOOT_FAILED_COUNTER, 17u));  // its fifth bit must not reach its neighbour
    EXPECT_TRUE(info->write(std::string("update_requested=1")));
    expectValidHeader();
    info->clear();  // leaves the register alone
    EXPECT_EQ(fileBytes(REGISTER_DEVICE, REGISTER_AT - 4, 8), word(0x11111111) + word(0xDA5A5A41));

    testing::internal::CaptureStdout();
    info->printAll();
    std::string listing = testing::internal::GetCapturedStdout();
    for (const char* line : {"\n                   serial: 0000\n", "\n      boot_failed_counter:         1 (0x00000001)\n"})
        EXPECT_NE(listing.find(line), std::string::npos) << listing;
    EXPECT_EQ(listing.find("unused"), std::string::npos);
}

}  // namespace
