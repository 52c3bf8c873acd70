#pragma once
// The single dispatcher of the web API: routes every complete FastCGI request
// by its script name, records broker events, and drives the periodic step.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/notify.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/valuetext.h"
#include "apps/web/service/changesequence.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/originguard.h"
#include "apps/web/service/logging.h"
#include "apps/web/service/onewiretool.h"
#include "apps/web/service/pushpace.h"
#include "apps/web/service/request.h"
#include "apps/web/service/routes.h"
#include "apps/web/service/screencapture.h"
#include "apps/web/service/sharedvariable.h"
#include "apps/web/service/zelapp.h"

#include <bitset>
#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <string>

class RequestHandler final : public Fcgi::RequestCallback, public ServerConnection::EventHandler {
public:
    RequestHandler(EventPoll& poll, Fcgi& fcgi);
    ~RequestHandler();
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    void handleRequest(Request* request) override;
    std::unique_ptr<BodyConsumer> bodyConsumer(Request& request) override;
    void handleEvent(const Notify& event) override;
    // Cleans up, answers the held requests that are due, and returns how long
    // the loop may sleep before the next thing is due: milliseconds, or -1
    // when only an event can bring work.
    int periodic();

    // Variable tree
    void createJsonTree(std::string& out);
    // Writes
    bool setVars(const std::string& body, std::stringstream& error);
    // 1-Wire programming
    static void appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& out);
    // Update push; both return how many held requests they answered.
    int sendUpdate();
    // The header of all.cgi and update.cgi answers: the current change point's token.
    std::string changeHeader() const;
    // Kernel log stream
    void appendLogOutput(Request* request);
    int sendLogging();

    static constexpr int UPDATE_REQUEST = 0;
    static constexpr int LOG_REQUEST = 1;
    // The mark of an update request held until something changes after `point`.
    struct UpdateSince {
        ChangeSequence::Point point;
    };
    static constexpr auto PUSH_INTERVAL = std::chrono::milliseconds(100);
    // The route table (routes.h); its handlers reach the routes below.
    static std::span<const Route> routes();
    // The mark of a ring request held until its 1-Wire command has ended.
    struct RingRun {};

private:
    void route(Request* request, const std::string& script);
    void answerAll(Request* request);
    void answerSet(Request* request);
    void answerFailure(Request* request, const std::string& text);
    void answerScreen(Request* request);
    void programModem(Request* request);
    void programRing(Request* request);
    void ringProgrammed(std::optional<bool> succeeded);
    void answerHeldRing(unsigned int connection);
    void holdUpdate(Request* request);
    bool updateDue() const;
    std::string buildUpdateBody(const ChangeSequence::Selection& selection);
    void answerUpdate(Request& request, const std::string& header, const std::string& body);
    void logVariableChange(const Notify& event);

    Fcgi& fcgi;
    // Changes since the last push, for update requests without a point of their own.
    std::bitset<gen::EVENT_NAME_SIZE> changedVariables;
    ChangeSequence changes;
    PushPace updatePace{PUSH_INTERVAL};
    PushPace logPace{PUSH_INTERVAL};
    size_t logLengthOffered = 0;
    // Shared by all.cgi, update.cgi and the change log.
    ValueTexts valueTexts;
    // all.cgi's answer, kept so that its memory is reused.
    std::string allAnswer;
    ZelApp app;
    SharedVariable variableLogging;
    Logging logging;
    OneWireTool oneWire;
    ScreenCapture screenCapture;
    OriginGuard originGuard;
};
