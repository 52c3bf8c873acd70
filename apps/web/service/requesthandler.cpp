#include "apps/web/service/requesthandler.h"

#include "apps/common/introspection/jsontext.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/routes.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>

namespace {
// Matches a backslash or a double quote: the structure texts double the one
// and escape the other, which is what hand-built JSON texts need.
constexpr const char* ESCAPE_PATTERN = "[\\\\\"]";
}  // namespace

RequestHandler::RequestHandler(EventPoll& poll, Fcgi& fcgi)
    : fcgi(fcgi),
      variableLogging("MemStatic", "VariableLogging"),
      logging(poll),
      oneWire(poll) {
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
    LOG(DebugMost, "REQUEST handle(%i, %i, %s)", request->id, request->requestId(), loggable(script).c_str());
    // What a client sends must never end the service: a route that raises is
    // answered with the failure object and the service goes on.
    try {
        if (originGuard.admit(*request)) route(request, script);
    } catch (const std::exception& error) {
        LOG(Error, "Request for %s failed: %s", loggable(script).c_str(), error.what());
        answerFailure(request, error.what());
    }
}

// Chosen before the body arrives: a request the guard will refuse, and one
// whose route takes no body, has its body thrown away as it comes, so nothing
// of it is kept or written anywhere.
std::unique_ptr<BodyConsumer> RequestHandler::bodyConsumer(Request& request) {
    const Route* found = routes::find(request.params);
    if (found == nullptr || found->body == Route::Body::Discarded ||
        originGuard.judge(request.params) != OriginGuard::Verdict::Pass)
        return std::make_unique<DiscardedBody>();
    if (found->body == Route::Body::Streamed)
        return found->consumer(request, *found, routes::rest(*found, request.params));
    return nullptr;
}

void RequestHandler::route(Request* request, const std::string& script) {
    const Route* found = routes::find(request->params);
    auto run = [&] { found->handler(*this, *request, *found, routes::rest(*found, request->params)); };
    if (script == routes::APP_SCRIPT) {
        app.handleRequest(request, found ? std::function<void()>(run) : nullptr);
    } else if (found) {
        run();
    } else {
        LOG(Warn, "Unknown script: '%s'", loggable(script).c_str());
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

int RequestHandler::sendLogging() {
    logLengthOffered = logging.length();
    return logging.feedHeld(fcgi.requests);
}

// Runs after every pass of the loop, so closed requests are freed at once
// however busy it is; pushes wait only for their pace.
int RequestHandler::periodic() {
    using Clock = PushPace::Clock;
    auto now = Clock::now();
    std::optional<Clock::time_point> due;
    auto dueAt = [&due](Clock::time_point moment) { due = due ? std::min(*due, moment) : moment; };
    auto paced = [&](PushPace& pace, bool pending, auto push) {
        if (!pending) return;
        if (!pace.ready(now)) return dueAt(pace.nextMoment());
        if (push() > 0) pace.pushed(now);
    };
    fcgi.cleanup();
    paced(updatePace, updateDue(), [this] { return sendUpdate(); });
    paced(logPace, logging.length() != logLengthOffered, [this] { return sendLogging(); });
    fcgi.cleanup();
    if (auto resume = fcgi.resumeMoment()) dueAt(*resume);
    if (!due) return -1;
    // Rounded up: waking a little early would only lead to another short wait.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}
