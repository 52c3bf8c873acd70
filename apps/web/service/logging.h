#pragma once
// The kernel log as HTML for the browser: "dmesg" runs as a child whose output
// is read in the event loop, its colour sequences become <span> elements, and
// the result grows one text that log requests are answered from. A dmesg that
// ends is started again after a pause.
#include "apps/common/event/alarm.h"
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/childprocess.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

class Request;

// Renders the colour escape sequences of the kernel log (ESC [ number m) as
// HTML spans and copies all other bytes unchanged. Its state survives between
// chunks, so a sequence split across two reads renders as if it came in one.
class AnsiHtml {
public:
    void render(const char* data, size_t length, std::string& html);
    bool insideEscape() const { return state != State::Text; }

private:
    enum class State { Text, Introducer, Code };

    void finish(char final, std::string& html) const;

    State state = State::Text;
    int code = 0;
};

class Logging : public EventPoll::Callback {
public:
    // The text is capped, a device runs for weeks: when it passes `capacity`
    // bytes the oldest whole lines are dropped until at most 7/8 of it remains
    // (so the move of the kept text happens once per capacity/8 of new text).
    // Offsets and lengths stay positions in the whole stream since start-up:
    // `length()` counts every byte ever produced and `firstKept()` is where the
    // kept text begins. A client whose offset lies in the dropped part gets all
    // that is kept, like a client without offset. A client that follows the
    // log holds the stream up to max(length line, its offset + bytes received),
    // or up to the length line when that is below its offset (a restart).
    static constexpr size_t DEFAULT_CAPACITY = 16 * 1024 * 1024;
    // The pause before dmesg is started again doubles from the first to the
    // last; a run at least as long as the last is healthy and resets it.
    static constexpr std::chrono::milliseconds FIRST_RESTART{1000};
    static constexpr std::chrono::milliseconds LAST_RESTART{30000};

    explicit Logging(EventPoll& poll, size_t capacity = DEFAULT_CAPACITY);
    ~Logging();
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    // Starts dmesg; throws when it cannot.
    void init();
    void event(EventPoll::Callback::EventType type) override;
    void parseData();
    static std::string getColor(int index, const char* on, const char* off);

    size_t length() const { return dropped + text.size(); }
    size_t firstKept() const { return dropped; }
    const std::string& keptText() const { return text; }

    // Answers a log request: the HTML header, the length line, the log mark
    // (user data 1), then what appendOutput sends.
    void answer(Request& request);
    // Sends the text after the request's "offset=" and ends the request, or
    // leaves it held when there is nothing new yet; true when it ended it.
    bool appendOutput(Request& request);
    // Offers new text to every held log request among `requests`; returns how many it answered.
    int feedHeld(const std::map<unsigned int, Request*>& requests);

    // The log answer after the length line for a request with this query
    // string: false, writing nothing, when the client holds the whole text
    // already (the request is held); true when `out` has its answer.
    bool writeAnswer(const std::string& query, std::ostream& out, unsigned int requestId) const;

private:
    void append(const char* data, size_t count);
    void dropOldestLines();
    void closePipe();
    void ended();
    void scheduleRestart();
    void restart();

    EventPoll& poll;
    std::string text;
    int fd;
    AnsiHtml renderer;
    size_t capacity;
    size_t dropped;
    ChildProcess dmesg;
    Alarm restartAlarm;
    std::chrono::milliseconds restartPause;
    std::chrono::steady_clock::time_point startedAt;
};
