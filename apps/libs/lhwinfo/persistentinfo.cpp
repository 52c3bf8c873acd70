#include "apps/libs/lhwinfo/include/persistentinfo.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/common/log/log.h"

namespace {

// Most-significant-bit-first table of the polynomial 0x04C11DB7.
constexpr std::array<unsigned int, 256> makeCrcTable() {
    std::array<unsigned int, 256> table{};
    for (unsigned int index = 0; index < 256; ++index) {
        unsigned int crc = index << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[index] = crc;
    }
    return table;
}
constexpr auto CRC_TABLE = makeCrcTable();

constexpr unsigned int HEADER_BYTES = 12;

// Int and String fields start at the first whole byte at or after their position.
unsigned char* fieldByte(unsigned char* base, unsigned int position) { return base + (position + 7) / 8; }

// Words are stored in the device's byte order; fields need not be aligned.
unsigned int loadWord(const unsigned char* where) {
    unsigned int word;
    memcpy(&word, where, sizeof word);
    return word;
}

void storeWord(unsigned char* where, unsigned int word) { memcpy(where, &word, sizeof word); }

// Int and Bits share their text form: decimal, parsed with std::stoul and
// read and written through the field's own numeric access.
unsigned int parseNumber(const char* text) { return static_cast<unsigned int>(std::stoul(text, nullptr, 10)); }

template <class Numeric>
std::string numberText(const Numeric& field, unsigned char* base, unsigned int position) {
    unsigned int number;
    field.value(base, position, number);
    return std::to_string(number);
}

// Calls use(field) with the field's numeric class; false for text fields.
template <class Use>
bool withNumeric(const PersistentInfo::Base& field, Use use) {
    if (const auto* number = dynamic_cast<const PersistentInfo::Int*>(&field)) {
        use(*number);
        return true;
    }
    if (const auto* bits = dynamic_cast<const PersistentInfo::Bits*>(&field)) {
        use(*bits);
        return true;
    }
    return false;
}

}  // namespace

void PersistentInfo::Int::value(unsigned char* base, unsigned int position, std::string& text) const {
    text = numberText(*this, base, position);
}

unsigned int PersistentInfo::Int::setValue(unsigned char* base, unsigned int position, const char* text) const {
    return setValue(base, position, parseNumber(text));
}

void PersistentInfo::Int::value(unsigned char* base, unsigned int position, unsigned int& number) const {
    number = loadWord(fieldByte(base, position));
}

unsigned int PersistentInfo::Int::setValue(unsigned char* base, unsigned int position, unsigned int number) const {
    storeWord(fieldByte(base, position), number);
    return 1;
}

void PersistentInfo::String::value(unsigned char* base, unsigned int position, std::string& text) const {
    // A foreign or damaged field may hold no terminating zero: stop at its end.
    const char* start = reinterpret_cast<const char*>(fieldByte(base, position));
    text.assign(start, strnlen(start, capacity));
}

unsigned int PersistentInfo::String::setValue(unsigned char* base, unsigned int position, const char* text) const {
    size_t textLength = strlen(text);
    if (textLength + 2 > capacity) THROW_ERROR("String too long");
    memcpy(fieldByte(base, position), text, textLength + 1);
    return 1;
}

void PersistentInfo::Bits::value(unsigned char* base, unsigned int position, std::string& text) const {
    text = numberText(*this, base, position);
}

unsigned int PersistentInfo::Bits::setValue(unsigned char* base, unsigned int position, const char* text) const {
    return setValue(base, position, parseNumber(text));
}

void PersistentInfo::Bits::value(unsigned char* base, unsigned int position, unsigned int& number) const {
    unsigned int mask, shift;
    unsigned int word = loadWord(base + getParams(position, mask, shift));
    number = (word >> shift) & mask;
}

unsigned int PersistentInfo::Bits::setValue(unsigned char* base, unsigned int position, unsigned int number) const {
    unsigned int mask, shift;
    unsigned char* where = base + getParams(position, mask, shift);
    // Read-modify-write: the other bits of the word belong to other fields.
    unsigned int word = loadWord(where);
    word = (word & ~(mask << shift)) | ((number & mask) << shift);
    storeWord(where, word);
    return 1;
}

unsigned int PersistentInfo::Bits::getParams(unsigned int position, unsigned int& mask, unsigned int& shift) const {
    mask = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    shift = 32 - position % 32 - width;
    return position / 32 * 4;
}

PersistentInfo::PersistentInfo(const char* path, unsigned int offset, unsigned int length)
    : path(path), offset(offset), length(length) {
    open();
}

PersistentInfo::~PersistentInfo() {
    if (mapping != nullptr) munmap(mapping, mappedLength);
    if (fd >= 0) close(fd);
}

void PersistentInfo::open() {
    fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) THROW_ERROR_NUMBER("open");
    // A regular file standing in for the device must hold the whole block:
    // touching a mapped page past its end would kill the process.
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<unsigned long long>(status.st_size) < static_cast<unsigned long long>(offset) + length) {
        close(fd);
        fd = -1;
        THROW_ERROR("%s is too short for a block at 0x%x of length 0x%x", path, offset, length);
    }
    pageDelta = offset & (static_cast<unsigned int>(sysconf(_SC_PAGESIZE)) - 1);
    mappedLength = length + pageDelta;
    void* start = mmap(nullptr, mappedLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset - pageDelta);
    if (start == MAP_FAILED) {
        int mapError = errno;
        close(fd);
        fd = -1;
        errno = mapError;
        THROW_ERROR_NUMBER("mmap");
    }
    mapping = static_cast<unsigned char*>(start);
}

void PersistentInfo::addInfo(std::unique_ptr<Base>&& field) {
    // Refusing a field that leaves the mapping keeps every later access inside it.
    if (!fitsAt(*field, endPosition())) THROW_ERROR("Field %s does not fit in %s", field->name.c_str(), path);
    fields.push_back(std::move(field));
}

unsigned int PersistentInfo::endPosition() const {
    unsigned int end = firstPosition();
    walk([&end](const Base& field, unsigned int position) {
        end = position + field.bitSize();
        return true;
    });
    return end;
}

bool PersistentInfo::fitsAt(const Base& field, unsigned int position) const {
    if (const auto* bits = dynamic_cast<const Bits*>(&field)) {
        unsigned int mask, shift;
        unsigned int word = bits->getParams(position, mask, shift);
        return bits->width >= 1 && position % 32 + bits->width <= 32 && word + 4 <= mappedLength;
    }
    unsigned int start = (position + 7) / 8;
    return start + (field.bitSize() + 7) / 8 <= mappedLength;
}

unsigned int PersistentInfo::size() const { return (endPosition() - firstPosition() + 7) / 8; }

const PersistentInfo::Base* PersistentInfo::findBase(const char* name, unsigned int& position) const {
    const Base* found = nullptr;
    walk([&](const Base& field, unsigned int fieldPosition) {
        if (field.name != name) return true;
        found = &field;
        position = fieldPosition;
        return false;
    });
    return found;
}

void PersistentInfo::requireWritable(const Base& field, bool force) {
    if ((field.flags & Base::PRIVATE) && !force) THROW_ERROR("%s is private.", field.name.c_str());
}

unsigned int PersistentInfo::checksum(unsigned int length) const {
    if (length <= HEADER_BYTES) return 0xFFFFFFFFu;
    // The length usually comes from the block itself; never follow it outside.
    if (length > this->length) THROW_ERROR("Checksum length %u exceeds the block of %u bytes", length, this->length);
    unsigned int crc = 0xFFFFFFFFu;
    for (const unsigned char* byte = block() + HEADER_BYTES; byte != block() + length; ++byte)
        crc = CRC_TABLE[(crc >> 24) ^ *byte] ^ (crc << 8);
    return crc;
}

void PersistentInfo::clearAll() {
    walk([this](const Base& field, unsigned int position) {
        if (!withNumeric(field, [&](const auto& numeric) { numeric.setValue(mapping, position, 0u); }))
            field.setValue(mapping, position, "");
        return true;
    });
}

void PersistentInfo::setNewMemToDefault(unsigned int from, unsigned int to) const {
    if (to > length) to = length;
    if (from < to) memset(block() + from, 0, to - from);
}

void PersistentInfo::printAll() {
    walk([this](const Base& field, unsigned int position) {
        if (field.flags & Base::HIDDEN) return true;
        bool printed = withNumeric(field, [&](const auto& numeric) {
            unsigned int number;
            numeric.value(mapping, position, number);
            printf("%25s: %9u (0x%08x)\n", field.name.c_str(), number, number);
        });
        // Kind 2 has no class of its own and is shown like text.
        if (!printed && field.type() <= 2) {
            std::string text;
            field.value(mapping, position, text);
            printf("%25s: %s\n", field.name.c_str(), text.c_str());
        }
        return true;
    });
}

