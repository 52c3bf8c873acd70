#pragma once
// Every route the service answers, in one table: its name, whether it
// changes the device, how its body is taken and what answers it. Dispatch,
// the cross-site guard and the choice of body consumer all read it, so they
// cannot disagree about a route.
#include "apps/web/service/bodyconsumer.h"

#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class Request;
class RequestHandler;

struct Route {
    enum class Body { Collected, Streamed, Discarded };
    // `rest` is what follows a path that ends in '*' (a file's name).
    using Handler = void (*)(RequestHandler& handler, Request& request, const Route& route, std::string_view rest);
    using Consumer = std::unique_ptr<BodyConsumer> (*)(Request& request, const Route& route, std::string_view rest);

    std::string_view script;  // SCRIPT_NAME, exactly
    std::string_view method;  // under the app: REQUEST_METHOD, or empty for any
    std::string_view path;    // under the app: PATH_INFO, exactly, or its start where it ends in '*'
    bool changes;             // changes or starts something on the device
    Body body;
    Handler handler;
    Consumer consumer = nullptr;   // takes a streamed body as it arrives
    const char* folder = nullptr;  // of a data folder's route
};

namespace routes {
inline constexpr std::string_view APP_SCRIPT = "/zelapp/v1";

// A parameter of a request; none when it was not sent, empty for OrEmpty.
const std::string* param(const std::map<std::string, std::string>& params, const char* name);
std::string_view paramOrEmpty(const std::map<std::string, std::string>& params, const char* name);

std::span<const Route> table();
// The route a request names; none for an unknown script or app path.
const Route* find(const std::map<std::string, std::string>& params);
// What follows the fixed part of the route's path in the request's.
std::string_view rest(const Route& route, const std::map<std::string, std::string>& params);
// Whether the request changes or starts something: its route does, or its
// method is not a read, whatever the route.
bool changes(const std::map<std::string, std::string>& params);
// Ends the request with this status and the failure object of its route
// family (the web API's or the app's).
void refuse(Request& request, const char* status, std::string_view text);
}  // namespace routes
