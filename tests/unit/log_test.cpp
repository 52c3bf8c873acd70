// Log records as the kernel log receives them, and the errors raised from them.
#include "apps/common/log/log.h"
#include "support/child.h"
#include "support/kmsg.h"
#include "support/raised.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/mount.h>

namespace {

const std::string PREFIX = "          unit_tests  ";

// Points the process threshold at a level for the duration of a test.
class Threshold {
public:
    explicit Threshold(gen::LogLevel level) : value(level), saved(gComponentLogLevel) { gComponentLogLevel = &value; }
    ~Threshold() { gComponentLogLevel = saved; }
    gen::LogLevel value;

private:
    gen::LogLevel* saved;
};

TEST(LogRecord, IsPrefixLevelLocationMessageAndNewline) {
    kmsg::Cursor cursor;
    int line = __LINE__ + 1;
    LOG(Warn, "value %d of %s", 42, "answer");
    std::string expected = PREFIX + "Warn        " + kmsg::location("log_test.cpp", line) + "value 42 of answer\n";
    // The base name only, and line numbers wider than their column.
    logMessage(nullptr, gen::Warn, "/deep/folder/of/source.cpp", 123456, "b");
    logMessage(nullptr, gen::Warn, "a-very-long-source-file-name.cpp", 12, "c");
    expected += PREFIX + "Warn        " + "          source.cpp:123456 b\n" + PREFIX + "Warn        " +
                "a-very-long-source-file-name.cpp:  12 c\n";
    EXPECT_EQ(cursor.text(), expected);
}

TEST(LogRecord, LongMessageIsCutToFiveHundredElevenCharacters) {
    std::string longText(1000, 'x');
    kmsg::Cursor cursor;
    logMessage(nullptr, gen::Error, "f.cpp", 3, "%s", longText.c_str());
    std::string field = kmsg::location("f.cpp", 3) + longText.substr(0, 511 - 26);
    EXPECT_EQ(cursor.text(), PREFIX + "Error       " + field + "\n");
    EXPECT_EQ(raisedText([&] { throwError("f.cpp", 3, "%s", longText.c_str()); }), field);
}

// The threshold is read at every message, as another process may change it.
// An error's text is its location and message; it is logged even when the
// threshold is above every level, and the caller's errno survives logging.
TEST(LogThreshold, DropsLowerLevelsButNeverErrorsRaised) {
    Threshold threshold(gen::LogMost);
    kmsg::Cursor cursor;
    LOG(LogAll, "dropped");
    LOG(LogMost, "kept at threshold");
    threshold.value = gen::Error;
    LOG(Warn, "dropped after change");
    errno = ECONNABORTED;
    LOG(Error, "kept error after a failed call");
    EXPECT_EQ(errno, ECONNABORTED);
    EXPECT_EQ(cursor.count("dropped"), 0u);
    EXPECT_EQ(cursor.count("kept"), 2u);

    threshold.value = static_cast<gen::LogLevel>(8);
    kmsg::Cursor errors;
    LOG(Error, "silenced");
    int line = __LINE__ + 1;
    EXPECT_EQ(raisedText([] { THROW_ERROR("bad %s", "thing"); }), kmsg::location("log_test.cpp", line) + "bad thing");
    EXPECT_EQ(raisedText([] {
                  errno = ENOENT;
                  throwErrorNumber("h.cpp", 13, "socket");
              }),
              kmsg::location("h.cpp", 13) + "socket: No such file or directory");
    raisedText([] {
        errno = EACCES;
        throwErrorNumberInfo("g.cpp", 9, "open");
    });
    EXPECT_EQ(errors.text(), PREFIX + "Error       " + kmsg::location("log_test.cpp", line) + "bad thing\n" + PREFIX +
                                 "Error       " + kmsg::location("h.cpp", 13) + "socket: No such file or directory\n" +
                                 PREFIX + "LogLight    " + kmsg::location("g.cpp", 9) + "open: Permission denied\n");
}

TEST(LogFailure, MissingKernelLogCostsOneStandardErrorLinePerRecord) {
    std::string report = inChild([] {
        // Hide the log device from this child only, closing a descriptor
        // already open on it, so the writer sees the failure either way.
        for (int fd = 3; fd < 1024; ++fd) {
            char link[64] = {};
            if (readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1) > 0 &&
                std::string(link) == "/dev/kmsg")
                close(fd);
        }
        int errors[2];
        if (pipe(errors) != 0 || unshare(CLONE_NEWNS) != 0 || mount("none", "/dev", "tmpfs", 0, nullptr) != 0)
            return std::string("setup failed");
        dup2(errors[1], 2);
        LOG(Error, "one");
        LOG(Error, "two");
        close(2);
        close(errors[1]);
        std::string text;
        char buffer[512];
        for (ssize_t got; (got = read(errors[0], buffer, sizeof buffer)) > 0;) text.append(buffer, got);
        return text;
    });
    std::string line = "FATAL: Logging: Write failed: Bad file descriptor\n";
    EXPECT_EQ(report, line + line);
}

}  // namespace
