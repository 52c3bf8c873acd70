#pragma once
// The clients of a load run, all driven by one poll loop: held update.cgi
// requests straight to the service, update.cgi requests through the front
// web server, and readers of the whole tree (all.cgi). Each re-polls at once
// after an answer and checks every answer it gets.
#include "tools/loadclient/exchange.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace load {

struct Settings {
    int fcgiPort = 9000;
    int httpPort = 0;  // 0: no front web server
    std::string binFolder;
    bool untilShutdown = false;
};

// What a run counted, and what went wrong.
struct Tally {
    long updates = 0;
    long webUpdates = 0;
    long trees = 0;
    long rounds = 0;
    long lost = 0;
    long refused = 0;  // closed unanswered while the service's table was full
    long malformed = 0;
    long endedAtShutdown = 0;
    std::vector<std::string> problems;

    void problem(const std::string& text);
};

class Client {
public:
    virtual ~Client() = default;
    virtual void advance() = 0;
    // Exchanges still waiting for their answer.
    virtual void pending(std::vector<Exchange*>& list) = 0;
    // No new requests from now on; what is open may still finish.
    void stop() { stopping = true; }

protected:
    bool stopping = false;
};

class Rounds;

// An update request straight to the service, followed on a new connection by
// a request that the service answers at once: since the service serves its
// connections in the order they came, that answer proves the update request
// is held. Only then does it count for the changes the rounds make.
class Updater : public Client {
public:
    Updater(int index, const Settings& settings, Tally& tally, Rounds& rounds);
    void advance() override;
    void pending(std::vector<Exchange*>& list) override;
    bool isHeld() const { return held; }
    uint16_t requestId() const { return static_cast<uint16_t>(100 + index); }

private:
    void poll();
    void finish();

    int index;
    const Settings& settings;
    Tally& tally;
    Rounds& rounds;
    std::unique_ptr<Exchange> update;  // the kept connection
    std::unique_ptr<Exchange> check;
    bool waiting = false;
    bool held = false;
};

// update.cgi through the front web server: counted and checked for form.
class WebUpdater : public Client {
public:
    WebUpdater(const Settings& settings, Tally& tally) : settings(settings), tally(tally) {}
    void advance() override;
    void pending(std::vector<Exchange*>& list) override;

private:
    const Settings& settings;
    Tally& tally;
    std::unique_ptr<Exchange> update;
};

// all.cgi, one after the other.
class TreeReader : public Client {
public:
    TreeReader(int index, const Settings& settings, Tally& tally) : index(index), settings(settings), tally(tally) {}
    void advance() override;
    void pending(std::vector<Exchange*>& list) override;

private:
    int index;
    const Settings& settings;
    Tally& tally;
    std::unique_ptr<Exchange> tree;  // the kept connection
    bool waiting = false;
};

// The JSON of a FastCGI answer after the default header; a discarded value
// when the header or the JSON is wrong.
nlohmann::json answerJson(const std::string& output);

}  // namespace load
