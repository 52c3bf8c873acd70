#include "apps/web/service/onewiretool.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The service's copies of the child's streams, closed once the start is over,
// whatever happened.
struct Descriptors {
    int list[3] = {-1, -1, -1};
    ~Descriptors() {
        for (int fd : list)
            if (fd >= 0) close(fd);
    }
};
}  // namespace

OneWireTool::OneWireTool(EventPoll& poll, std::chrono::milliseconds limit)
    : limit(limit), child(poll, [this](int status) { finished(status); }) {}

void OneWireTool::run(const std::string& input, Done whenDone) {
    if (running()) THROW_ERROR("%s is still running", COMMAND);
    Descriptors held;
    auto& [dataRead, dataWrite, kmsg] = held.list;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) < 0) THROW_ERROR_NUMBER("pipe");
    dataRead = ends[0];
    dataWrite = ends[1];
    // The data (under 128 bytes) fits the pipe, so it is written before the
    // command runs and the writing never waits.
    if (write(dataWrite, input.data(), input.size()) != static_cast<ssize_t>(input.size())) THROW_ERROR_NUMBER("write");
    close(dataWrite);
    dataWrite = -1;
    // Its output goes to the kernel log, as the device's command expects.
    kmsg = open("/dev/kmsg", O_WRONLY | O_APPEND | O_CLOEXEC);
    child.start({COMMAND, "-e", "-m", "knob"}, {dataRead, kmsg, kmsg}, limit);
    done = std::move(whenDone);
}

void OneWireTool::finished(int status) {
    Done whenDone = std::move(done);
    done = nullptr;
    whenDone(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
