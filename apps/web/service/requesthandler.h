#pragma once
// The single dispatcher of the web API: routes every complete FastCGI request
// by its script name, records broker events, and drives the periodic step.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/notify.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/valuetext.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/logging.h"
#include "apps/web/service/request.h"
#include "apps/web/service/screencapture.h"
#include "apps/web/service/sharedvariable.h"
#include "apps/web/service/zelapp.h"

#include <bitset>
#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <sstream>
#include <string>

class RequestHandler final : public Fcgi::RequestCallback, public ServerConnection::EventHandler {
public:
    RequestHandler(EventPoll& poll, Fcgi& fcgi);
    ~RequestHandler();
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    void handleRequest(Request* request) override;
    void handleEvent(const Notify& event) override;
    void periodic();

    // Variable tree
    void createJsonTree(std::string& out);
    // Writes
    bool setVars(const std::string& body, std::stringstream& error);
    // 1-Wire programming
    static void appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& out);
    // Update push
    void sendUpdate();
    // Kernel log stream
    void appendLogOutput(Request* request);
    void sendLogging();

    static constexpr int UPDATE_REQUEST = 0;
    static constexpr int LOG_REQUEST = 1;

private:
    void route(Request* request, const std::string& script);
    void answerAll(Request* request);
    void answerSet(Request* request);
    void answerFailure(Request* request, const std::string& text);
    void answerScreen(Request* request);
    void programModem(Request* request);
    void programRing(Request* request);
    std::string buildUpdateBody();
    void logVariableChange(const Notify& event);

    Fcgi& fcgi;
    std::chrono::steady_clock::time_point lastPeriodic;
    std::bitset<gen::EVENT_NAME_SIZE> changedVariables;
    // Shared by all.cgi, update.cgi and the change log.
    ValueTexts valueTexts;
    // all.cgi's answer, kept so that its memory is reused.
    std::string allAnswer;
    ZelApp app;
    SharedVariable variableLogging;
    Logging logging;
    ScreenCapture screenCapture;
};
