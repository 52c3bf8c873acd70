#pragma once
// Runs a body in a forked child and returns what it wrote to the pipe, so that
// process-wide state a test changes for good (the termination flag, the
// logger's descriptor) never leaks into the other tests.
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

inline std::string inChild(const std::function<std::string()>& body) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        std::string report = body();
        ssize_t ignored = write(channel[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) report.append(buffer, got);
    close(channel[0]);
    waitpid(pid, nullptr, 0);
    return report;
}
