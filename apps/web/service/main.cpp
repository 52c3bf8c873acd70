// The web service: attaches to the variable store and the broker, serves
// FastCGI on port 9000 and runs until SIGINT or SIGTERM.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/memorypolicy.h"
#include "apps/web/service/requesthandler.h"
#include "apps/web/service/servicemanager.h"
#include "gen/code/gen_init.h"

#include <cstdio>
#include <exception>

namespace {
constexpr int FCGI_PORT = 9000;

void serve() {
    returnLargeBuffersToSystem();
    gen::init();
    EventPoll& poll = gen::getEventPoll();
    // First, so that no command we start inherits the manager's sockets. Where
    // the manager holds port 9000 for us, requests wait in its queue while we
    // restart; started without it, we bind the port ourselves.
    ServiceManager manager(poll);
    Fcgi fcgi = manager.listener() >= 0 ? Fcgi(poll, manager.listener()) : Fcgi(FCGI_PORT, poll);
    RequestHandler handler(poll, fcgi);
    fcgi.requestCallback = &handler;
    gen::getServerConnection()->handler = &handler;
    manager.ready();  // the listener accepts connections from here on
    // The loop sleeps until an event or until the handler has something due:
    // an idle device should not wake its processor for nothing.
    int sleepMs = -1;
    while (poll.wait(sleepMs, false) != EventPoll::Terminate) sleepMs = handler.periodic();
    gen::closeServerConnection();
}
}  // namespace

int main() {
    try {
        serve();
    } catch (const std::exception& error) {
        // The text is already in the kernel log; say it where a person starting us looks too.
        fprintf(stderr, "webservice: %s\n", error.what());
        return 1;
    }
    return 0;
}
