// The service manager link: what it sends, and that a manager gone away is
// reported once and never ends the service.
#include "apps/web/service/servicemanager.h"
#include "support/kmsg.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The manager's end: a datagram socket bound to a file.
class ManagerSocket {
public:
    explicit ManagerSocket(const std::string& path) : path(path), fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~ManagerSocket() {
        close(fd);
        unlink(path.c_str());
    }
    std::string receive() {
        char buffer[64];
        ssize_t count = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return count < 0 ? "" : std::string(buffer, static_cast<size_t>(count));
    }

private:
    std::string path;
    int fd;
};

TEST(ServiceManager, ManagerGoneIsReportedOnceAndPingsResumeWhenItIsBack) {
    std::string path = std::string(getenv("SANDBOX_SCRATCH")) + "/notify";
    auto listener = std::make_unique<ManagerSocket>(path);
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    setenv("WATCHDOG_USEC", "3600000000", 1);
    EventPoll poll;
    ServiceManager manager(poll);
    EXPECT_EQ(getenv("NOTIFY_SOCKET"), nullptr) << "left for the commands the service runs";
    manager.ready();
    EXPECT_EQ(listener->receive(), "READY=1");

    listener.reset();
    kmsg::Cursor cursor;
    for (int ping = 0; ping < 3; ++ping) manager.event(EventPoll::Callback::Readable);
    EXPECT_EQ(cursor.count("Cannot tell the service manager"), 1u);

    listener = std::make_unique<ManagerSocket>(path);
    manager.event(EventPoll::Callback::Readable);
    EXPECT_EQ(listener->receive(), "WATCHDOG=1");
}

}  // namespace
