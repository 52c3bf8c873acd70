#include "apps/web/service/childprocess.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The file execvp would run, looked up before the fork so that the child only
// calls execv. Not found: execv fails and the child ends with status 127, as
// a shell reports a missing command.
std::string findOnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    for (;;) {
        size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        std::string candidate = std::string(folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return name;
        folders.remove_prefix(colon + 1);
    }
}

void place(int from, int target) {
    if (from < 0) return;
    if (from == target)
        fcntl(target, F_SETFD, 0);  // keep it across exec
    else
        dup2(from, target);
}

// Forked rather than spawned: posix_spawn can set the group, the signals and
// the streams, but not the death signal. Between fork and exec only
// async-signal-safe calls.
[[noreturn]] void execChild(const char* path, char* const argv[], const ChildProcess::Streams& streams, pid_t parent) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The service may have died before the line above, and then no signal comes.
    if (getppid() != parent) _exit(127);
    EventPoll::resetSignalsForChild();
    place(streams.input, STDIN_FILENO);
    place(streams.output, STDOUT_FILENO);
    place(streams.errors, STDERR_FILENO);
    execv(path, argv);
    _exit(127);
}
}  // namespace

ChildProcess::ChildProcess(EventPoll& poll, Ended ended)
    : poll(poll), ended(std::move(ended)), limit(poll, [this] {
          LOG(Error, "%s did not finish in time, stopping it", name.c_str());
          // Its end is then reported like any other.
          kill(-pid, SIGKILL);
      }),
      pid(0), pidFd(-1) {}

ChildProcess::~ChildProcess() {
    stop();
}

void ChildProcess::start(const std::vector<std::string>& argv, const Streams& streams, std::chrono::milliseconds limitAfter) {
    if (running()) THROW_ERROR("%s is still running", name.c_str());
    name = argv.at(0);
    std::string path = findOnPath(name);
    std::vector<char*> words;
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0) THROW_ERROR_NUMBER("fork");
    if (child == 0) execChild(path.c_str(), words.data(), streams, parent);
    setpgid(child, child);  // also done by the child; whichever runs first wins the race
    pid = child;
    // An unreaped child keeps its number, so the pidfd cannot name another process.
    pidFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    try {
        if (pidFd < 0) THROW_ERROR_NUMBER("pidfd_open");
        poll.add(pidFd, this, EPOLLIN);
        if (limitAfter.count() > 0) limit.set(limitAfter);
    } catch (...) {
        stop();
        throw;
    }
}

void ChildProcess::stop() {
    if (!running()) return;
    // The service is going or giving up on it: nothing of it is worth a grace period.
    kill(-pid, SIGKILL);
    reap();
}

void ChildProcess::event(EventType) {
    // What the command started ends with it: the group is killed while the
    // leader's number is still taken, so it cannot hit a newer group.
    kill(-pid, SIGKILL);
    int status = reap();
    ended(status);
}

int ChildProcess::reap() {
    int status = -1;  // not an exit: a child reaped elsewhere counts as failed
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = 0;
    limit.cancel();
    if (pidFd >= 0) {
        try {
            poll.remove(pidFd);
        } catch (...) {
        }
        close(pidFd);
        pidFd = -1;
    }
    return status;
}
