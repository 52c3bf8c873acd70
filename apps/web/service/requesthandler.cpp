#include "apps/web/service/requesthandler.h"

#include "apps/common/introspection/jsontext.h"
#include "apps/common/log/log.h"

#include <exception>

namespace {
constexpr auto PERIOD = std::chrono::nanoseconds(99'999'999);
// Matches a backslash or a double quote: the structure texts double the one
// and escape the other, which is what hand-built JSON texts need.
constexpr const char* ESCAPE_PATTERN = "[\\\\\"]";
}  // namespace

RequestHandler::RequestHandler(EventPoll& poll, Fcgi& fcgi)
    : fcgi(fcgi),
      variableLogging("MemStatic", "VariableLogging"),
      logging(poll) {
    lastPeriodic = std::chrono::steady_clock::now();
    jsontext::setEscapePattern(ESCAPE_PATTERN);
    try {
        logging.init();
    } catch (const std::exception&) {
        LOG(Error, "Logging to web gui will not be available");
    }
}

RequestHandler::~RequestHandler() = default;

void RequestHandler::handleRequest(Request* request) {
    std::string script = request->params["SCRIPT_NAME"];
    LOG(DebugMost, "REQUEST handle(%i, %i, %s)", request->id, request->requestId(), script.c_str());
    // What a client sends must never end the service: a route that raises is
    // answered with the failure object and the service goes on.
    try {
        route(request, script);
    } catch (const std::exception& error) {
        LOG(Error, "Request for %s failed: %s", script.c_str(), error.what());
        answerFailure(request, error.what());
    }
}

void RequestHandler::route(Request* request, const std::string& script) {
    if (script == "/api/v1/all.cgi") {
        answerAll(request);
    } else if (script == "/api/v1/update.cgi") {
        request->userData = UPDATE_REQUEST;
    } else if (script == "/api/v1/set.cgi") {
        answerSet(request);
    } else if (script == "/api/v1/log.cgi") {
        logging.answer(*request);
    } else if (script == "/api/v1/screen.cgi") {
        answerScreen(request);
    } else if (script == "/zelapp/v1") {
        app.handleRequest(request);
    } else if (script == "/api/v1/modemdata.cgi") {
        programModem(request);
    } else if (script == "/api/v1/premarkeddata.cgi") {
        programRing(request);
    } else {
        LOG(Warn, "Unknown script: '%s'", script.c_str());
        answerFailure(request, "Unknown script: '" + script + "'");
    }
}

void RequestHandler::answerFailure(Request* request, const std::string& text) {
    if (request->fd < 0) return;
    request->output() << "{" << "\"result\": " << "0" << ", \"error\": \"" << jsontext::unicodeEscaped(text) << "\"" << " }";
    request->end();
}

// The geometry is checked before the PNG header goes out, so a display that
// cannot be captured still gets a JSON answer.
void RequestHandler::answerScreen(Request* request) {
    screenCapture.checkGeometry();
    request->writeHeader("Content-type: image/png\r\n\r\n");
    request->output() << screenCapture;
    request->end();
}

void RequestHandler::appendLogOutput(Request* request) {
    logging.appendOutput(*request);
}

void RequestHandler::sendLogging() {
    logging.feedHeld(fcgi.requests);
}

void RequestHandler::periodic() {
    auto now = std::chrono::steady_clock::now();
    if (now - lastPeriodic <= PERIOD) return;
    lastPeriodic = now;
    fcgi.cleanup();
    sendUpdate();
    sendLogging();
    fcgi.cleanup();
}
