// The kernel log as HTML: colour sequences to spans, the dmesg child and its
// pipe, the answers to log requests, and the cap on the kept text; the limit
// of a child's run. Requests over FastCGI are covered by the
// service_diagnostics end-to-end script.
#include "apps/web/service/logging.h"
#include "support/fakedmesg.h"
#include "support/kmsg.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/wait.h>

namespace {

const std::string ESC = "\x1b";

std::string render(const std::string& input) {
    AnsiHtml renderer;
    std::string html;
    renderer.render(input.data(), input.size(), html);
    return html;
}

// Every code the kernel's colouring uses, the odd forms the renderer must cope
// with, and text bytes that are not escaped.
const std::string SAMPLE = ESC + "[32m[    1.234567]" + ESC + "[0m text <b> & " + ESC + "[1mbold" + ESC + "[m " +
                           ESC + "[97mwhite" + ESC + "[104mblue" + ESC + "[1;31mError" + ESC + "[0m\n" + ESC +
                           "[31mred" + ESC + "[0m end\n";
const std::string SAMPLE_HTML =
    "<span style='color: #00AA00'>[    1.234567]</span> text <b> & <span style=''>bold</span> "
    "<span style='color: #FFFFFF'>white<span style='background-color: #5555FF'>blue31mError</span>\n"
    "<span style='color: #AA0000'>red</span> end\n";

TEST(AnsiHtml, RendersColourSequencesAsSpans) {
    EXPECT_EQ(render(SAMPLE), SAMPLE_HTML);
    struct Case {
        std::string input, html;
    } cases[] = {
        {ESC + "[90m", "<span style='color: #555555'>"},
        {ESC + "[47m", "<span style='background-color: #AAAAAA'>"},
        {ESC + "[100m", "<span style='background-color: #555555'>"},
        {ESC + "[38m", "<span style=''>"},
        {ESC + "[0031m", "<span style='color: #AA0000'>"},
        {ESC + "[99999999999999999999m", "<span style=''>"},  // no overflow
        {ESC + "[31Hx", "x"},                                   // not a colour: dropped
        {std::string("a\0b", 3) + ESC + "[0m", std::string("a\0b</span>", 10)},
    };
    for (const Case& c : cases) EXPECT_EQ(render(c.input), c.html) << c.input;
}

TEST(AnsiHtml, ChunkBoundariesDoNotChangeTheOutput) {
    for (size_t first = 0; first <= SAMPLE.size(); ++first)
        for (size_t second = first; second <= SAMPLE.size(); ++second) {
            AnsiHtml renderer;
            std::string html;
            renderer.render(SAMPLE.data(), first, html);
            renderer.render(SAMPLE.data() + first, second - first, html);
            renderer.render(SAMPLE.data() + second, SAMPLE.size() - second, html);
            ASSERT_EQ(html, SAMPLE_HTML) << "split at " << first << " and " << second;
            ASSERT_FALSE(renderer.insideEscape());
        }
}

// A killed process is gone, or a zombie waiting for init to reap it.
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, name, state;
    return !(stat >> number >> name >> state) || state == "Z";
}

class LoggingTest : public ::testing::Test {
protected:
    // The answer after the length line, or "<held>".
    std::string answer(const Logging& logging, const std::string& query) {
        std::ostringstream out;
        return logging.writeAnswer(query, out, 7) ? out.str() : "<held>";
    }
    void feed(Logging& logging, const std::string& bytes, size_t expectedLength) {
        dmesg.emit(poll, bytes);
        ASSERT_TRUE(pumpUntil(poll, [&] { return logging.length() >= expectedLength; }));
        EXPECT_EQ(logging.length(), expectedLength);
    }

    EventPoll poll;
    FakeDmesg dmesg;
};

TEST_F(LoggingTest, PipeOutputIsRenderedAndAnsweredFromAnOffset) {
    // Repeats of the odd-sized sample put its sequences at every position of the reads.
    std::string input, text;
    for (int repeat = 0; repeat < 256; ++repeat) input += SAMPLE, text += SAMPLE_HTML;
    Logging logging(poll);
    logging.init();
    feed(logging, input, text.size());

    const std::string end = std::to_string(text.size()), last = std::to_string(text.size() - 1);
    EXPECT_EQ(answer(logging, ""), text);
    EXPECT_EQ(answer(logging, "offset=200"), text.substr(200));
    EXPECT_EQ(answer(logging, "offset=" + last), text.substr(text.size() - 1));
    EXPECT_EQ(answer(logging, "offset=" + end), "<held>");
    EXPECT_EQ(answer(logging, "offset=9" + end), text);
    // Read like a standard string-to-int conversion...
    EXPECT_EQ(answer(logging, "offset= +200&x=1"), text.substr(200));
    EXPECT_EQ(answer(logging, "offset=" + end + "abc"), "<held>");
    // ...and anything that is no usable offset counts as none.
    for (const char* query : {"offset=", "offset=abc", "offset=-1", "offset=2147483648", "offset=99999999999999999999",
                              "a=1&offset=200", "Offset=200"})
        EXPECT_EQ(answer(logging, query), text) << query;

    // A held offset is answered with exactly the text that came after it.
    feed(logging, std::string(119, 'n') + "\n", text.size() + 120);
    EXPECT_EQ(answer(logging, "offset=" + end), std::string(119, 'n') + "\n");
}

TEST_F(LoggingTest, AnEmptyLogIsAnsweredAtOnce) {
    Logging logging(poll);  // never started, as when init failed
    for (const char* query : {"", "offset=0", "offset=5"}) EXPECT_EQ(answer(logging, query), "") << query;
}

TEST_F(LoggingTest, CapDropsOldestWholeLinesAndKeepsOffsetsAbsolute) {
    Logging logging(poll, 1000);
    logging.init();
    std::string stream;
    for (int line = 0; line < 100; ++line) {
        char text[64];
        snprintf(text, sizeof text, "line %04d %039d\n", line, line);  // 50 bytes
        stream += text;
    }
    feed(logging, stream, 5000);

    size_t first = logging.firstKept();
    EXPECT_LE(logging.keptText().size(), 1000u);
    EXPECT_GE(logging.keptText().size(), 800u);
    EXPECT_EQ(first % 50, 0u) << "kept text starts inside a line";

    EXPECT_EQ(answer(logging, "offset=4900"), stream.substr(4900));
    EXPECT_EQ(answer(logging, "offset=5000"), "<held>");
    // An offset in the dropped part gets all that is kept: the client then holds
    // the stream up to the length line.
    EXPECT_EQ(answer(logging, "offset=100"), stream.substr(first));
    EXPECT_EQ(answer(logging, ""), stream.substr(first));

    // A line longer than the cap is cut rather than kept whole.
    feed(logging, std::string(3000, 'x'), 8000);
    EXPECT_LE(logging.keptText().size(), 1000u);
    EXPECT_EQ(answer(logging, "offset=7990"), std::string(10, 'x'));
}

TEST_F(LoggingTest, ChildInItsOwnGroupIsStoppedWithEverythingItStarted) {
    pid_t sleeper;
    {
        Logging logging(poll);
        logging.init();
        feed(logging, "hello\n", 6);
        dmesg.finish();
        ASSERT_TRUE(pumpUntil(poll, [&] { return dmesg.sleeper() != 0; }));
        sleeper = dmesg.sleeper();
        EXPECT_EQ(kill(sleeper, 0), 0);
    }
    // The sleeper was the fake's own child, killed with its group.
    EXPECT_TRUE(pumpUntil(poll, [&] { return ended(sleeper); }));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
}

TEST_F(LoggingTest, HangUpIsReportedOnceAndStopsWatchingThePipe) {
    FakeDmesg exiting(true);
    Logging logging(poll);
    logging.init();
    kmsg::Cursor cursor;
    exiting.emit(poll, "last words\n");
    // Closed only once read: a FIFO without any open end drops what it holds.
    ASSERT_TRUE(pumpUntil(poll, [&] { return logging.length() == 11; }));
    exiting.finish();
    ASSERT_TRUE(pumpUntil(poll, [&] { return cursor.count("dmesg ended") > 0; }));

    for (int pass = 0; pass < 5; ++pass) EXPECT_EQ(poll.wait(20, true), EventPoll::Timeout);
    EXPECT_EQ(cursor.count("Warn        "), 1u);
    EXPECT_EQ(cursor.count("dmesg ended, starting it again in 1000 ms"), 1u);
}

// A child past its limit is killed with everything it started.
TEST(ChildProcess, LimitEndsTheWholeGroup) {
    EventPoll poll;
    const char* scratch = getenv("SANDBOX_SCRATCH");
    std::string pidFile = std::string(scratch ? scratch : "/tmp") + "/grandchild.pid";
    std::optional<int> status;
    ChildProcess child(poll, [&](int result) { status = result; });
    child.start({"sh", "-c", "sleep 100 & echo $! >" + pidFile + "; wait"}, {}, std::chrono::seconds(1));
    ASSERT_TRUE(pumpUntil(poll, [&] { return status.has_value(); }));
    EXPECT_TRUE(WIFSIGNALED(*status));
    pid_t grandchild = 0;
    std::ifstream(pidFile) >> grandchild;
    if (grandchild == 0) GTEST_SKIP() << "the shell had not started its own child within the limit";
    EXPECT_TRUE(pumpUntil(poll, [&] { return ended(grandchild); }));
}

}  // namespace
