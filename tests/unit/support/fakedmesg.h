#pragma once
// Drives a Logging object through the fake "dmesg" of tests/fixtures/bin: the
// fake copies a FIFO that the test writes to, so output arrives when the test
// says, and the event poll is pumped while it flows.
#include "apps/common/event/eventpoll.h"
#include "pump.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class FakeDmesg {
public:
    // With `exitAtEnd` the fake ends when the output is closed (`finish`);
    // otherwise it then waits like "dmesg -w".
    explicit FakeDmesg(bool exitAtEnd = false) {
        const char* scratch = getenv("SANDBOX_SCRATCH");
        std::string folder = std::string(scratch ? scratch : "/tmp") + "/fakedmesg.XXXXXX";
        std::string directory = mkdtemp(folder.data()), fifo = directory + "/output";
        pidFile = directory + "/sleeper.pid";
        mkfifo(fifo.c_str(), 0600);
        // Read-write, so opening does not wait for the reader.
        writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        setenv("PATH", (std::string(SOURCE_DIR "/tests/fixtures/bin:") + getenv("PATH")).c_str(), 1);
        setenv("FAKE_DMESG_OUTPUT", fifo.c_str(), 1);
        setenv("FAKE_DMESG_PIDFILE", pidFile.c_str(), 1);
        setenv("FAKE_DMESG_EXIT", exitAtEnd ? "1" : "0", 1);
    }
    ~FakeDmesg() { finish(); }

    // Writes `bytes` for the fake to print, running the poll whenever the pipes are full.
    void emit(EventPoll& poll, const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            ssize_t count = write(writer, bytes.data() + sent, bytes.size() - sent);
            if (count > 0)
                sent += static_cast<size_t>(count);
            else
                poll.wait(1, true);
        }
    }
    void finish() {
        if (writer >= 0) close(writer);
        writer = -1;
    }
    // The process the fake forked to wait in, once it has started waiting.
    pid_t sleeper() const {
        pid_t pid = 0;
        std::ifstream(pidFile) >> pid;
        return pid;
    }

private:
    std::string pidFile;
    int writer = -1;
};
