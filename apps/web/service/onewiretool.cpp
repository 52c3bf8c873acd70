#include "apps/web/service/onewiretool.h"

#include "apps/common/event/eventpoll.h"
#include "apps/common/log/log.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
// In the child: data on stdin, stdout and stderr to the kernel log, as the
// device's command expects, then the command found through PATH.
[[noreturn]] void execTool(int input) {
    EventPoll::resetSignalsForChild();
    dup2(input, STDIN_FILENO);
    int kmsg = open("/dev/kmsg", O_WRONLY | O_APPEND);
    if (kmsg >= 0) {
        dup2(kmsg, STDOUT_FILENO);
        dup2(kmsg, STDERR_FILENO);
    }
    const char* argv[] = {OneWireTool::COMMAND, "-e", "-m", "knob", nullptr};
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
}

void writeAll(int fd, const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
        ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // the command stopped reading; its status tells
        done += static_cast<std::size_t>(written);
    }
}

int waitBounded(pid_t child, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            LOG(Error, "%s did not finish in time, stopping it", OneWireTool::COMMAND);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
}  // namespace

bool OneWireTool::run(const std::string& input, std::chrono::milliseconds limit) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) < 0) THROW_ERROR_NUMBER("pipe");
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        THROW_ERROR_NUMBER("fork");
    }
    if (child == 0) execTool(pipeEnds[0]);
    close(pipeEnds[0]);
    writeAll(pipeEnds[1], input);
    close(pipeEnds[1]);
    int status = waitBounded(child, limit);
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
