#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "apps/libs/lhwinfo/include/persistentinfo.h"
#include "tests/unit/hwstandins.h"

namespace {

using PI = PersistentInfo;

std::string word(unsigned int value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

class PersistentInfoRecord : public testing::Test {
protected:
    static constexpr const char* IMAGE = "/dev/shm/record-image";
    void SetUp() override {
        int fd = open(IMAGE, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0x3000), 0);
        close(fd);
    }
    void TearDown() override { unlink(IMAGE); }
};

TEST_F(PersistentInfoRecord, FieldsLieBackToBackFromTheBlocksPageOffset) {
    PersistentInfo info(IMAGE, 0x1068, 16);
    info.addInfo(std::make_unique<PI::Int>("a"));
    info.addInfo(std::make_unique<PI::String>("s", 4));
    info.addInfo(std::make_unique<PI::Bits>("b", 4));  // the top bits of the word at 0x1070
    info.addInfo(std::make_unique<PI::Bits>("c", 12));
    EXPECT_THROW(info.addInfo(std::make_unique<PI::Bits>("crossing", 17)), std::runtime_error);
    info.addInfo(std::make_unique<PI::Bits>("rest", 16));
    info.addInfo(std::make_unique<PI::Int>("d"));
    EXPECT_THROW(info.addInfo(std::make_unique<PI::String>("beyond", 2)), std::runtime_error);
    EXPECT_EQ(info.size(), 16u);

    info.set<PI::Int>("a", 0x11223344u, false);
    info.set<PI::Base>("s", "ab", false);
    info.set<PI::Bits>("b", 0xFu, false);
    info.set<PI::Bits>("c", 0xABCu, false);
    info.set<PI::Int>("d", 7u, false);
    EXPECT_EQ(fileBytes(IMAGE, 0x1068, 16), word(0x11223344) + std::string("ab\0\0", 4) + word(0xFABC0000) + word(7));
}

TEST_F(PersistentInfoRecord, ChecksumIsCrc32Mpeg2OverBytes12ToTheLength) {
    putFileBytes(IMAGE, 0x2000 + 12, "123456789");
    PersistentInfo info(IMAGE, 0x2000, 64);
    EXPECT_EQ(info.checksum(21), 0x0376E6E7u);
    EXPECT_EQ(info.checksum(13), 0x9EFBCF93u);  // the "1" alone
    EXPECT_EQ(info.checksum(12), 0xFFFFFFFFu);
    EXPECT_EQ(info.checksum(0), 0xFFFFFFFFu);
    EXPECT_THROW(info.checksum(65), std::runtime_error);
    EXPECT_THROW(info.checksum(0xFFFFFFFFu), std::runtime_error);
}

TEST_F(PersistentInfoRecord, StringsStayInsideTheirCapacity) {
    putFileBytes(IMAGE, 0, std::string(30, 'x') + "yyyy");  // no terminating zero
    PersistentInfo info(IMAGE, 0, 34);
    info.addInfo(std::make_unique<PI::String>("s", 30));
    info.addInfo(std::make_unique<PI::String>("t", 4));
    std::string text;
    EXPECT_TRUE(info.get<PI::Base>("s", text));
    EXPECT_EQ(text, std::string(30, 'x'));

    std::string longest(28, 'a'), tooLong(29, 'b');
    EXPECT_TRUE(info.set<PI::Base>("s", longest.c_str(), false));
    EXPECT_EQ(fileBytes(IMAGE, 0, 30), longest + '\0' + 'x');  // the last byte is never written
    EXPECT_EQ(errorOf([&] { info.set<PI::Base>("s", tooLong.c_str(), false); }), "String too long");
    info.get<PI::Base>("s", text);
    EXPECT_EQ(text, longest);
}

TEST_F(PersistentInfoRecord, NumbersParseDecimalAndBitsKeepTheirNeighbours) {
    putFileBytes(IMAGE, 4, word(0x12345678));
    PersistentInfo info(IMAGE, 0, 8);
    info.addInfo(std::make_unique<PI::Int>("n"));
    info.addInfo(std::make_unique<PI::Bits>("high", 28));
    info.addInfo(std::make_unique<PI::Bits>("low", 4));
    unsigned int value = 0;

    EXPECT_TRUE(info.set<PI::Base>("low", "17", false));  // masked to the width
    EXPECT_EQ(fileBytes(IMAGE, 4, 4), word(0x12345671));
    EXPECT_TRUE(info.get<PI::Bits>("high", value));
    EXPECT_EQ(value, 0x1234567u);
    EXPECT_TRUE(info.set<PI::Bits>("high", 0xFFFFFFFFu, false));
    EXPECT_EQ(fileBytes(IMAGE, 4, 4), word(0xFFFFFFF1));

    EXPECT_TRUE(info.set<PI::Base>("n", "4294967295", false));
    EXPECT_THROW(info.set<PI::Base>("n", "abc", false), std::invalid_argument);
    EXPECT_TRUE(info.get<PI::Int>("n", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_FALSE(info.get<PI::Int>("low", value));  // a bit field has no word of its own
}

TEST_F(PersistentInfoRecord, PrivateFieldsAreWrittenOnlyWithForce) {
    PersistentInfo info(IMAGE, 0, 8);
    info.addInfo(std::make_unique<PI::Int>("v", PI::Base::PRIVATE));
    info.addInfo(std::make_unique<PI::String>("name", 4, PI::Base::PRIVATE));
    // Refused even when the value would not change.
    EXPECT_EQ(errorOf([&] { info.set<PI::Int>("v", 0u, false); }), "v is private.");
    EXPECT_EQ(errorOf([&] { info.set<PI::Base>("name", "ab", false); }), "name is private.");
    EXPECT_EQ(fileBytes(IMAGE, 0, 8), std::string(8, '\0'));

    unsigned int value = 0;
    EXPECT_TRUE(info.set<PI::Int>("v", 7u, true));
    EXPECT_TRUE(info.get<PI::Int>("v", value));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(info.set<PI::Int>("none", 1u, true));
    EXPECT_FALSE(info.get<PI::Int>("none", value));
}

class RecordWithFlags : public PersistentInfoRecord {
protected:
    void SetUp() override {
        PersistentInfoRecord::SetUp();
        putFileBytes(IMAGE, 0, std::string(12, '\x77'));
        info = std::make_unique<PersistentInfo>(IMAGE, 0, 12);
        info->addInfo(std::make_unique<PI::Int>("id", PI::Base::PRIVATE));
        info->addInfo(std::make_unique<PI::String>("name", 4));
        info->addInfo(std::make_unique<PI::Bits>("flag", 1, PI::Base::HIDDEN));
        info->addInfo(std::make_unique<PI::Bits>("count", 3));
    }
    std::unique_ptr<PersistentInfo> info;
};

TEST_F(RecordWithFlags, ClearAllEmptiesEveryFieldButNoOtherBits) {
    info->clearAll();
    EXPECT_EQ(fileBytes(IMAGE, 0, 12), word(0) + std::string("\0\x77\x77\x77", 4) + word(0x07777777));
}

TEST_F(RecordWithFlags, ListingsShowValuesAndTheOrdinaryNames) {
    info->clearAll();
    info->set<PI::Base>("name", "ab", false);
    info->set<PI::Bits>("count", 5u, false);
    testing::internal::CaptureStdout();
    info->printAll();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "                       id:         0 (0x00000000)\n"
              "                     name: ab\n"
              "                    count:         5 (0x00000005)\n");

    char* listing = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&listing, &size);
    info->printParameters(stream);
    fclose(stream);
    EXPECT_STREQ(listing, "name count");
    free(listing);

    PersistentInfo flagged(IMAGE, 0, 4);
    flagged.addInfo(std::make_unique<PI::Int>("id", PI::Base::PRIVATE));
    stream = open_memstream(&listing, &size);
    flagged.printParameters(stream);
    fclose(stream);
    EXPECT_STREQ(listing, "");
    free(listing);
}

TEST_F(PersistentInfoRecord, MissingAndTooShortFilesAreRefused) {
    EXPECT_EQ(errorOf([] { PersistentInfo("/dev/shm/no-such-image", 0, 4); }), "open: No such file or directory");
    EXPECT_THROW(PersistentInfo(IMAGE, 0x2FFE, 4), std::runtime_error);  // would end past the file
}

}  // namespace
