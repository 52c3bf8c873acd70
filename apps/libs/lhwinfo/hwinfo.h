#pragma once
// The board's record of data that must survive software updates (serial
// number, board name, calibration values), kept checksummed in a raw area of
// the eMMC, and the bit fields of the register the boot process shares.
#include <string>

#include "apps/common/log/log.h"
#include "apps/libs/lhwinfo/include/persistentinfo.h"

class HwInfo {
public:
    static constexpr unsigned int MMC_BLOCK_VERSION = 5;
    static constexpr const char* REGISTER_DEVICE = "/dev/mem";
    static constexpr const char* BLOCK_DEVICE = "/dev/mmcblk1";

    HwInfo();
    // For images of the two devices kept in ordinary files; the offsets are the
    // devices' own, so an image is a copy of the device's first bytes.
    HwInfo(const char* registerPath, const char* blockPath);

    void initialize();
    bool read(const char* name, unsigned int& value);
    bool read(const char* name, std::string& text);
    bool write(const char* name, unsigned int value);
    bool write(const char* name, const char* text);
    bool write(std::string assignment);
    void clear();
    void updateChecksum();
    void initNewMemory(unsigned int oldLength);
    // Lists the block's fields, then the register's, on standard output.
    void printAll();

private:
    void declareFields();
    bool storedChecksumMatches(unsigned int length);

    PersistentInfo registerInfo;
    PersistentInfo blockInfo;
    // Own threshold, null: the block's repair messages are always written.
    gen::LogLevel* logLevel = nullptr;
};
