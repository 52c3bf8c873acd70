#pragma once
// The single dispatcher of the web API: routes every complete FastCGI request
// by its script name, records broker events, and drives the periodic step.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/notify.h"
#include "apps/common/event/serverconnection.h"
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
    std::unique_ptr<BodyConsumer> bodyConsumer(Request& request) override;
    void handleEvent(const Notify& event) override;
    void periodic();

    // Variable tree
    void createJsonTree(std::ostream& out);
    void printVariable(unsigned int mem, unsigned int var, std::ostream& out);
    void printValue(unsigned int mem, unsigned int var, std::ostream& out, int index);
    // Writes
    bool setVars(const std::string& body, std::stringstream& error);
    static std::string encodeString(const std::string& text);
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
    ZelApp app;
    SharedVariable variableLogging;
    Logging logging;
    ScreenCapture screenCapture;
};
