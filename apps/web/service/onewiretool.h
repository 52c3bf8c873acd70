#pragma once
// Runs the device's 1-Wire programming command with the ring data on its
// standard input, one run at a time. The data never passes through a shell;
// the loop serves on while the command runs, and a command that hangs is
// killed, with all it started, after a bound.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/childprocess.h"

#include <chrono>
#include <functional>
#include <string>

class OneWireTool {
public:
    static constexpr const char* COMMAND = "onewire-tool.py";
    static constexpr std::chrono::seconds LIMIT{30};
    // Called from the loop when the run has ended: true when the command exited with status 0.
    using Done = std::function<void(bool succeeded)>;

    explicit OneWireTool(EventPoll& poll, std::chrono::milliseconds limit = LIMIT);

    // Starts a run; throws when the command cannot be started or one still runs.
    void run(const std::string& input, Done done);
    bool running() const { return child.running(); }

private:
    void finished(int status);

    std::chrono::milliseconds limit;
    Done done;
    ChildProcess child;
};
