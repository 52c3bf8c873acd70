#include "apps/libs/lhwinfo/hwinfo.h"

#include "apps/common/constants/constants.h"

namespace {
constexpr unsigned int REGISTER_ADDRESS = 0x020CC068;
constexpr unsigned int REGISTER_LENGTH = 4;
constexpr unsigned int BLOCK_OFFSET = 0x100000;
constexpr unsigned int BLOCK_LENGTH = 0x10000;

// Header of the block, outside the text and number fields that other programs know.
constexpr const char* VERSION = "version";
constexpr const char* LENGTH = "length";
constexpr const char* CHECKSUM = "checksum";

constexpr unsigned int TEXT_CAPACITY = 30;
constexpr unsigned int LINEARIZATION_CAPACITY = 180;

using Base = PersistentInfo::Base;
using Int = PersistentInfo::Int;
using Text = PersistentInfo::String;
using Bits = PersistentInfo::Bits;
}  // namespace

HwInfo::HwInfo() : HwInfo(REGISTER_DEVICE, BLOCK_DEVICE) {}

HwInfo::HwInfo(const char* registerPath, const char* blockPath)
    : registerInfo(registerPath, REGISTER_ADDRESS, REGISTER_LENGTH), blockInfo(blockPath, BLOCK_OFFSET, BLOCK_LENGTH) {}

void HwInfo::declareFields() {
    for (const char* name : {VERSION, LENGTH, CHECKSUM}) blockInfo.addInfo(std::make_unique<Int>(name, Base::PRIVATE));
    for (const char* name : {Constants::HWINFO_SERIAL, Constants::HWINFO_BOARD, Constants::HWINFO_REVISION,
                             Constants::HWINFO_K})
        blockInfo.addInfo(std::make_unique<Text>(name, TEXT_CAPACITY));
    for (const char* name : {Constants::KNOB_POS_MIN, Constants::KNOB_POS_MAX, Constants::SLIDER_POS_MIN,
                             Constants::SLIDER_POS_MAX, Constants::JOYSTICK_ZERO_POS_X, Constants::JOYSTICK_ZERO_POS_Y,
                             Constants::VIBRATION_BEMF_GAIN, Constants::VIBRATION_CAL_COMP,
                             Constants::VIBRATION_CAL_BEMF})
        blockInfo.addInfo(std::make_unique<Int>(name));

    registerInfo.addInfo(std::make_unique<Bits>(Constants::HWINFO_UPDATE_REQ, 1));
    registerInfo.addInfo(std::make_unique<Bits>(Constants::HWINFO_UNUSED, 26, Base::HIDDEN));
    registerInfo.addInfo(std::make_unique<Bits>(Constants::HWINFO_BOOT_FAILED, 1));
    registerInfo.addInfo(std::make_unique<Bits>(Constants::HWINFO_BOOT_FAILED_COUNTER, 4));

    blockInfo.addInfo(std::make_unique<Text>(Constants::HWINFO_KNOB_LINEARIZATION, LINEARIZATION_CAPACITY));
}

void HwInfo::initialize() {
    declareFields();
    unsigned int length = 0;
    blockInfo.get<Int>(LENGTH, length);
    if (length < blockInfo.size()) {
        logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Differents length, setting new values to default.");
        initNewMemory(length);
        length = blockInfo.size();
    }
    if (!storedChecksumMatches(length)) {
        logMessage(logLevel, gen::Error, __FILE__, __LINE__, "Wrong checksum, setting defaults.");
        clear();
    }
}

bool HwInfo::storedChecksumMatches(unsigned int length) {
    // A length past the mapped area (erased flash reads 0xFFFFFFFF) cannot be
    // verified without reading outside it, so such a block counts as corrupt.
    if (length > blockInfo.blockLength()) return false;
    unsigned int stored = 0;
    blockInfo.get<Int>(CHECKSUM, stored);
    return blockInfo.checksum(length) == stored;
}

bool HwInfo::read(const char* name, unsigned int& value) {
    return blockInfo.get<Int>(name, value) || registerInfo.get<Bits>(name, value);
}

bool HwInfo::read(const char* name, std::string& text) {
    return blockInfo.get<Base>(name, text) || registerInfo.get<Base>(name, text);
}

bool HwInfo::write(const char* name, unsigned int value) {
    if (!blockInfo.set<Int>(name, value, false) && !registerInfo.set<Bits>(name, value, false)) return false;
    updateChecksum();
    return true;
}

bool HwInfo::write(const char* name, const char* text) {
    // Numeric fields of the block take their number from the text.
    if (!blockInfo.set<Base>(name, text, false)) return false;
    updateChecksum();
    return true;
}

bool HwInfo::write(std::string assignment) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos) return false;
    std::string name = assignment.substr(0, equals);
    const char* text = assignment.c_str() + equals + 1;
    if (!blockInfo.set<Base>(name.c_str(), text, false) && !registerInfo.set<Base>(name.c_str(), text, false))
        return false;
    updateChecksum();
    return true;
}

void HwInfo::clear() {
    blockInfo.clearAll();
    blockInfo.set<Int>(VERSION, MMC_BLOCK_VERSION, true);
    blockInfo.set<Int>(LENGTH, blockInfo.size(), true);
    blockInfo.set<Base>(Constants::HWINFO_SERIAL, "0000", false);
    blockInfo.set<Base>(Constants::HWINFO_BOARD, "prototype", false);
    blockInfo.set<Base>(Constants::HWINFO_REVISION, "1.0", false);
    updateChecksum();
}

void HwInfo::updateChecksum() {
    unsigned int length = 0;
    blockInfo.get<Int>(LENGTH, length);
    blockInfo.set<Int>(CHECKSUM, blockInfo.checksum(length), true);
}

void HwInfo::initNewMemory(unsigned int oldLength) {
    unsigned int size = blockInfo.size();
    blockInfo.setNewMemToDefault(oldLength, size);
    blockInfo.set<Int>(LENGTH, size, true);
    blockInfo.set<Int>(CHECKSUM, blockInfo.checksum(size), true);
    unsigned int version = 0;
    blockInfo.get<Int>(VERSION, version);
    // The version lies outside the checksum, so the checksum above stays valid.
    if (version != MMC_BLOCK_VERSION) blockInfo.set<Int>(VERSION, MMC_BLOCK_VERSION, true);
}

void HwInfo::printAll() {
    blockInfo.printAll();
    registerInfo.printAll();
}
