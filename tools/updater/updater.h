#pragma once
// Stand-in for the device's update processes: reacts to the update files and
// start flags the web service announces, and walks the update state and
// progress variables through a plausible run, one step per tick.
#include "apps/common/event/serverconnection.h"
#include "gen/code/introspection_gen.h"

#include <deque>
#include <functional>
#include <string>

class SharedVariable;

class Updater : public ServerConnection::EventHandler {
public:
    // A file is deemed corrupt when it is empty or starts with this text.
    static constexpr const char* CORRUPT_MARK = "CORRUPT";

    explicit Updater(int parts);

    void handleEvent(const Notify& notify) override;
    // Takes the next step of each run under way.
    void tick();

private:
    using Steps = std::deque<std::function<void()>>;

    static gen::UpdateState verdict(const std::string& path);
    Steps fileCheck(const std::string& path, const SharedVariable& state);
    Steps hostInstall();
    Steps accessoryInstall();

    int parts;
    // A new file or start replaces the run under way for the same target.
    Steps host;
    Steps accessory;
};
