#pragma once
// Runs the device's 1-Wire programming command with the ring data on its
// standard input. The data never passes through a shell, and a command that
// hangs is killed after a bound so the event loop goes on.
#include <chrono>
#include <string>

class OneWireTool {
public:
    static constexpr const char* COMMAND = "onewire-tool.py";
    static constexpr std::chrono::seconds LIMIT{30};

    // True when the command ran and exited with status 0.
    static bool run(const std::string& input, std::chrono::milliseconds limit = LIMIT);
};
