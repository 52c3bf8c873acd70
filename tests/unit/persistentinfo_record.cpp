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

// Where each kind of field lies is read back through the block and the
// register; here only the offsets a field may not take.
TEST_F(PersistentInfoRecord, FieldsMayNotCrossAWordOrTheBlocksEnd) {
    PersistentInfo info(IMAGE, 0x1068, 12);
    info.addInfo(std::make_unique<PI::String>("s", 4));
    info.addInfo(std::make_unique<PI::Bits>("b", 16));
    EXPECT_THROW(info.addInfo(std::make_unique<PI::Bits>("crossing", 17)), std::runtime_error);
    info.addInfo(std::make_unique<PI::Bits>("rest", 16));
    info.addInfo(std::make_unique<PI::Int>("d"));
    EXPECT_THROW(info.addInfo(std::make_unique<PI::String>("beyond", 2)), std::runtime_error);
    EXPECT_EQ(info.size(), 12u);
}

TEST_F(PersistentInfoRecord, ChecksumIsCrc32Mpeg2OverBytes12ToTheLength) {
    putFileBytes(IMAGE, 0x2000 + 12, "123456789");
    PersistentInfo info(IMAGE, 0x2000, 64);
    EXPECT_EQ(info.checksum(21), 0x0376E6E7u);
    EXPECT_THROW(info.checksum(65), std::runtime_error);  // never past the block
}

TEST_F(PersistentInfoRecord, TextsStayInsideTheirField) {
    putFileBytes(IMAGE, 0, std::string(30, 'x') + "yy");  // a text without its zero
    PersistentInfo info(IMAGE, 0, 32);
    info.addInfo(std::make_unique<PI::String>("s", 30));
    info.addInfo(std::make_unique<PI::String>("t", 2));
    std::string text;
    info.get<PI::Base>("s", text);
    EXPECT_EQ(text, std::string(30, 'x'));
    EXPECT_TRUE(info.set<PI::Base>("s", std::string(28, 'a').c_str(), false));
    EXPECT_EQ(raisedReason([&] { info.set<PI::Base>("s", std::string(29, 'b').c_str(), false); }), "String too long");
    EXPECT_EQ(fileBytes(IMAGE, 0, 30), std::string(28, 'a') + '\0' + 'x');  // the last byte is never written
}

TEST_F(PersistentInfoRecord, ClearAllZeroesNumbersAndEmptiesTexts) {
    putFileBytes(IMAGE, 0, std::string(12, '\x77'));
    PersistentInfo info(IMAGE, 0, 12);
    info.addInfo(std::make_unique<PI::Int>("id", PI::Base::PRIVATE));
    info.addInfo(std::make_unique<PI::String>("name", 4));
    info.addInfo(std::make_unique<PI::Bits>("flag", 1, PI::Base::HIDDEN));
    info.addInfo(std::make_unique<PI::Bits>("count", 3));
    info.clearAll();
    EXPECT_EQ(fileBytes(IMAGE, 0, 12), word(0) + std::string("\0\x77\x77\x77", 4) + word(0x07777777));
}

TEST_F(PersistentInfoRecord, MissingAndTooShortFilesAreRefused) {
    EXPECT_EQ(raisedReason([] { PersistentInfo("/dev/shm/no-such-image", 0, 4); }), "open: No such file or directory");
    EXPECT_THROW(PersistentInfo(IMAGE, 0x2FFE, 4), std::runtime_error);  // would end past the file
}

}  // namespace
