#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "apps/libs/lhwinfo/include/persistentinfo.h"
#include "tests/unit/hwstandins.h"

namespace {

using PI = PersistentInfo;

class PersistentInfoRecord : public testing::Test {
protected:
    static constexpr const char* IMAGE = "/dev/shm/record-image";
    void SetUp() override {
        int fd = open(IMAGE, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
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
    EXPECT_THROW(info.checksum(65), std::runtime_error);  // never past the block
}

TEST_F(PersistentInfoRecord, TextsStayInsideTheirFieldAndNumbersInsideTheirBits) {
    putFileBytes(IMAGE, 0, std::string(30, 'x') + "yy" + word(0x12345678));  // a text without its zero
    PersistentInfo info(IMAGE, 0, 36);
    info.addInfo(std::make_unique<PI::String>("s", 30));
    info.addInfo(std::make_unique<PI::String>("t", 2));
    info.addInfo(std::make_unique<PI::Bits>("high", 28));
    info.addInfo(std::make_unique<PI::Bits>("low", 4));
    std::string text;
    info.get<PI::Base>("s", text);
    EXPECT_EQ(text, std::string(30, 'x'));
    EXPECT_TRUE(info.set<PI::Base>("s", std::string(28, 'a').c_str(), false));
    EXPECT_EQ(raisedReason([&] { info.set<PI::Base>("s", std::string(29, 'b').c_str(), false); }), "String too long");
    EXPECT_EQ(fileBytes(IMAGE, 0, 30), std::string(28, 'a') + '\0' + 'x');  // the last byte is never written

    EXPECT_TRUE(info.set<PI::Base>("low", "17", false));
    EXPECT_THROW(info.set<PI::Base>("high", "many", false), std::invalid_argument);
    EXPECT_EQ(fileBytes(IMAGE, 32, 4), word(0x12345671));
    unsigned int value = 0;
    EXPECT_FALSE(info.get<PI::Int>("low", value));  // a bit field has no word of its own
}

TEST_F(PersistentInfoRecord, ClearAllAndTheListingsFollowTheFlags) {
    putFileBytes(IMAGE, 0, std::string(12, '\x77'));
    PersistentInfo info(IMAGE, 0, 12);
    info.addInfo(std::make_unique<PI::Int>("id", PI::Base::PRIVATE));
    info.addInfo(std::make_unique<PI::String>("name", 4));
    info.addInfo(std::make_unique<PI::Bits>("flag", 1, PI::Base::HIDDEN));
    info.addInfo(std::make_unique<PI::Bits>("count", 3));
    info.clearAll();
    EXPECT_EQ(fileBytes(IMAGE, 0, 12), word(0) + std::string("\0\x77\x77\x77", 4) + word(0x07777777));

    info.set<PI::Bits>("count", 5u, false);
    testing::internal::CaptureStdout();
    info.printAll();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "                       id:         0 (0x00000000)\n"
              "                     name: \n"
              "                    count:         5 (0x00000005)\n");
    char* listing = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&listing, &size);
    info.printParameters(stream);
    fclose(stream);
    EXPECT_STREQ(listing, "name count");
    free(listing);
}

TEST_F(PersistentInfoRecord, MissingAndTooShortFilesAreRefused) {
    EXPECT_EQ(raisedReason([] { PersistentInfo("/dev/shm/no-such-image", 0, 4); }), "open: No such file or directory");
    EXPECT_THROW(PersistentInfo(IMAGE, 0x2FFE, 4), std::runtime_error);  // would end past the file
}

}  // namespace
