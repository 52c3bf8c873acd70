#include "apps/web/service/routes.h"

#include "apps/common/constants/constants.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/web/service/requesthandler.h"
#include "apps/web/service/zelapp.h"

namespace {
using routes::paramOrEmpty;

bool matches(const Route& route, std::string_view script, std::string_view method, std::string_view path) {
    if (route.script != script || (!route.method.empty() && route.method != method)) return false;
    if (!route.path.ends_with('*')) return route.path == path;
    return path.starts_with(route.path.substr(0, route.path.size() - 1));
}
}  // namespace

// The app's routes come after the web API's; within the app, the first row
// that matches is the route.
std::span<const Route> RequestHandler::routes() {
    using enum Route::Body;
    using S = RequestHandler&;
    using R = Request&;
    using P = const Route&;
    using T = std::string_view;
    static const std::string lensTables = std::string(Constants::LOCAL_FOLDER) + Constants::TAB_FOLDER;
    static const std::string focusRings = std::string(Constants::LOCAL_FOLDER) + Constants::FOR_FOLDER;
    static const std::string setups = std::string(Constants::LOCAL_FOLDER) + Constants::SETUPS_FOLDER;
    constexpr std::string_view APP = routes::APP_SCRIPT;
    auto read = [](S s, R r, P p, T) { s.app.listOperation(&r, p.folder); };
    auto file = [](S s, R r, P p, T name) { s.app.fileOperation(&r, p.folder, std::string(name)); };
    auto fileBody = [](R, P p, T name) { return ZelApp::fileBody(p.folder, std::string(name)); };
    static const Route TABLE[] = {
        {"/api/v1/all.cgi", "", "", false, Discarded, [](S s, R r, P, T) { s.answerAll(&r); }},
        {"/api/v1/update.cgi", "", "", false, Discarded, [](S s, R r, P, T) { s.holdUpdate(&r); }},
        {"/api/v1/set.cgi", "", "", true, Collected, [](S s, R r, P, T) { s.answerSet(&r); }},
        {"/api/v1/log.cgi", "", "", false, Discarded, [](S s, R r, P, T) { s.logging.answer(r); }},
        {"/api/v1/screen.cgi", "", "", false, Discarded, [](S s, R r, P, T) { s.answerScreen(&r); }},
        {"/api/v1/modemdata.cgi", "", "", true, Collected, [](S s, R r, P, T) { s.programModem(&r); }},
        {"/api/v1/premarkeddata.cgi", "", "", true, Collected, [](S s, R r, P, T) { s.programRing(&r); }},
        {APP, "", "/device/info", false, Discarded, [](S s, R r, P, T) { s.app.deviceInfo(&r); }},
        {APP, "", "/device/update", true, Streamed, [](S s, R r, P, T) { s.app.update(&r); },
         [](R r, P, T) { return ZelApp::updateBody(r); }},
        // Polling the status starts an update the device found valid.
        {APP, "", "/device/status*", true, Discarded, [](S s, R r, P, T) { s.app.updateStatus(&r); }},
        {APP, "", "/lenstables/list", false, Discarded, read, nullptr, lensTables.c_str()},
        {APP, "GET", "/lenstables/file*", false, Discarded, file, nullptr, lensTables.c_str()},
        {APP, "PUT", "/lenstables/file*", true, Streamed, file, fileBody, lensTables.c_str()},
        {APP, "DELETE", "/lenstables/file*", true, Discarded, file, nullptr, lensTables.c_str()},
        {APP, "", "/focusrings/list", false, Discarded, read, nullptr, focusRings.c_str()},
        {APP, "GET", "/focusrings/file*", false, Discarded, file, nullptr, focusRings.c_str()},
        {APP, "PUT", "/focusrings/file*", true, Streamed, file, fileBody, focusRings.c_str()},
        {APP, "DELETE", "/focusrings/file*", true, Discarded, file, nullptr, focusRings.c_str()},
        {APP, "", "/setups/list", false, Discarded, read, nullptr, setups.c_str()},
        {APP, "GET", "/setups/file*", false, Discarded, file, nullptr, setups.c_str()},
        {APP, "PUT", "/setups/file*", true, Streamed, file, fileBody, setups.c_str()},
        {APP, "DELETE", "/setups/file*", true, Discarded, file, nullptr, setups.c_str()},
    };
    return TABLE;
}

namespace routes {

const std::string* param(const std::map<std::string, std::string>& params, const char* name) {
    auto found = params.find(name);
    return found == params.end() ? nullptr : &found->second;
}

std::string_view paramOrEmpty(const std::map<std::string, std::string>& params, const char* name) {
    const std::string* value = param(params, name);
    return value ? std::string_view(*value) : std::string_view();
}

std::span<const Route> table() {
    return RequestHandler::routes();
}

const Route* find(const std::map<std::string, std::string>& params) {
    std::string_view script = paramOrEmpty(params, "SCRIPT_NAME");
    std::string_view method = paramOrEmpty(params, "REQUEST_METHOD");
    std::string_view path = paramOrEmpty(params, "PATH_INFO");
    for (const Route& route : table())
        if (matches(route, script, method, path)) return &route;
    return nullptr;
}

std::string_view rest(const Route& route, const std::map<std::string, std::string>& params) {
    std::string_view path = paramOrEmpty(params, "PATH_INFO");
    return route.path.ends_with('*') ? path.substr(route.path.size() - 1) : std::string_view();
}

bool changes(const std::map<std::string, std::string>& params) {
    std::string_view method = paramOrEmpty(params, "REQUEST_METHOD");
    if (!method.empty() && method != "GET" && method != "HEAD") return true;
    const Route* route = find(params);
    return route != nullptr && route->changes;
}

void refuse(Request& request, const char* status, std::string_view text) {
    request.writeHeader((std::string("Status: ") + status + "\r\nContent-type: application/json\r\n\r\n").c_str());
    if (paramOrEmpty(request.params, "SCRIPT_NAME").starts_with("/zelapp/"))
        writeResult(request.output(), std::string(text));
    else
        request.output() << "{\"result\": 0, \"error\": \"" << jsontext::unicodeEscaped(std::string(text)) << "\" }";
    request.end();
}

}  // namespace routes
