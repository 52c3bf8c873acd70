#include "tools/store/access.h"

#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/json.h"
#include "tools/store/areas.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <semaphore.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool brokerRuns() {
    sem_t* ready = sem_open(ServerConnection::READY_SEMAPHORE, 0);
    if (ready == SEM_FAILED) return false;
    sem_close(ready);
    return true;
}

// The setters post every change; with no broker the events go to a socket
// that nobody reads and are dropped with it.
class EventOutlet {
public:
    EventOutlet() {
        std::signal(SIGPIPE, SIG_IGN);
        if (brokerRuns()) {
            connection = std::make_unique<ServerConnection>(poll);
        } else {
            int ends[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) < 0)
                throw std::runtime_error("socketpair failed");
            sink = ends[1];
            connection = std::make_unique<ServerConnection>(poll, ends[0]);
        }
        gServerConnection = connection.get();
    }
    ~EventOutlet() {
        gServerConnection = nullptr;
        if (sink >= 0) close(sink);
        connection.reset();
    }
    EventOutlet(const EventOutlet&) = delete;
    EventOutlet& operator=(const EventOutlet&) = delete;

    bool posts() const { return sink < 0; }

private:
    EventPoll poll;
    std::unique_ptr<ServerConnection> connection;
    int sink = -1;
};

bool isStructList(store::Place place) {
    return Introspection::getVarBaseType(place.mem, place.var) == TypeStruct &&
           Introspection::isArray(place.mem, place.var);
}

int elementIndex(std::vector<std::string> const& arguments, std::size_t position) {
    if (arguments.size() <= position) return 0;
    std::size_t used = 0;
    int index = std::stoi(arguments[position], &used, 10);
    if (used != arguments[position].size()) throw std::invalid_argument("not an element index: " + arguments[position]);
    return index;
}

// A structure is written field by field from a JSON object, like set.cgi does.
std::string setFields(store::Place place, std::string const& object, int index) {
    Json reader;
    if (!reader.parse(object) || reader.entries.empty())
        throw std::invalid_argument("a structure takes a JSON object of field values, e.g. {\"Name\": \"value\"}");
    for (auto const& entry : reader.entries) {
        std::string error = Introspection::setVarValueJson(place.mem, place.var, {entry}, index);
        if (!error.empty()) return error;
    }
    return "";
}
}  // namespace

int store::getCommand(std::vector<std::string> const& arguments) {
    if (arguments.empty() || arguments.size() > 2) throw std::invalid_argument("get takes NAME [INDEX]");
    attachAreas();
    Place place = findVariable(arguments[0]);
    if (!isStructList(place) || arguments.size() == 2) {
        std::printf("%s\n", Introspection::getVarValue(place.mem, place.var, elementIndex(arguments, 1)).c_str());
        return 0;
    }
    int count = std::stoi(Introspection::getVarArrayLen(place.mem, place.var));
    for (int index = 0; index < count; ++index)
        std::printf("%d %s\n", index, Introspection::getVarValue(place.mem, place.var, index).c_str());
    return 0;
}

int store::setCommand(std::vector<std::string> const& arguments) {
    if (arguments.size() < 2 || arguments.size() > 3) throw std::invalid_argument("set takes NAME VALUE [INDEX]");
    attachAreas();
    Place place = findVariable(arguments[0]);
    int index = elementIndex(arguments, 2);
    EventOutlet outlet;
    std::string error = Introspection::getVarBaseType(place.mem, place.var) == TypeStruct
                            ? setFields(place, arguments[1], index)
                            : Introspection::setVarValue(place.mem, place.var, arguments[1].c_str());
    if (!error.empty()) {
        std::fprintf(stderr, "store set: %s\n", error.c_str());
        return 1;
    }
    if (!outlet.posts())
        std::fprintf(stderr, "store set: no broker running; written without posting the change event\n");
    std::printf("%s.%s = %s\n", Introspection::getMemName(place.mem), Introspection::getVarName(place.mem, place.var),
                Introspection::getVarValue(place.mem, place.var, index).c_str());
    return 0;
}
