#pragma once
// The changes of a load run, one at a time: once every direct updater is
// held, one variable changes, by turns through `store set`, through set.cgi
// and as a bare broker event; every updater's next answer must then name that
// variable (with the value written), or the change was lost for it.
#include "tools/loadclient/clients.h"

#include <chrono>
#include <map>

namespace load {

class Rounds {
public:
    using Clock = std::chrono::steady_clock;

    Rounds(const Settings& settings, Tally& tally, std::vector<std::string> variables);
    void setUpdaters(std::vector<Updater*> list) { updaters = std::move(list); }

    // Called after every poll pass.
    void advance();
    void pending(std::vector<Exchange*>& list);
    void stop() { stopping = true; }
    bool isFinished() const { return stopping && !waiting; }

    // An updater's answer: the "variables" object of a well-formed one.
    void answered(const Updater& updater, const nlohmann::json& variables);

private:
    struct Change {
        std::string memory;
        std::string variable;
        long value;  // -1: an event without a new value
    };

    void makeChange();
    void sendSet();
    void runTool(const std::vector<std::string>& arguments);
    bool allHeld() const;

    const Settings& settings;
    Tally& tally;
    std::vector<std::string> variables;
    std::vector<Updater*> updaters;
    std::map<std::string, long> written;  // last value written per variable
    std::unique_ptr<Exchange> setRequest;
    Change current;
    std::map<const Updater*, bool> answeredThisRound;
    bool waiting = false;
    bool stopping = false;
    Clock::time_point deadline;
};

}  // namespace load
