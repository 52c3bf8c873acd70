// Start-up of a program on the variable store: every area opened and mapped
// in table order, the broker connected and asked for all events, and the log
// threshold following the shared variable AppServiceLogLevel.
#include "apps/common/event/serverconnection.h"
#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/gen_init.h"
#include "gen/code/introspection_gen.h"
#include "support/reason.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// The broker's socket and readiness gate; takes one client.
class BrokerEndpoint {
public:
    BrokerEndpoint() : listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, ServerConnection::SOCKET_PATH, sizeof address.sun_path - 1);
        bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listenFd, 1);
        gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
    }
    ~BrokerEndpoint() {
        if (peer >= 0) close(peer);
        close(listenFd);
        unlink(ServerConnection::SOCKET_PATH);
        sem_close(gate);
        sem_unlink(ServerConnection::READY_SEMAPHORE);
    }
    BrokerEndpoint(const BrokerEndpoint&) = delete;
    BrokerEndpoint& operator=(const BrokerEndpoint&) = delete;

    // The connected client's records that have arrived (each post is one write).
    std::vector<Notify> received() {
        if (peer < 0) {
            pollfd waiting{listenFd, POLLIN, 0};
            if (::poll(&waiting, 1, 0) <= 0) return {};
            peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        }
        std::vector<Notify> records;
        Notify record;
        while (read(peer, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) records.push_back(record);
        return records;
    }

private:
    int listenFd;
    sem_t* gate;
    int peer = -1;
};

class StartUp : public ::testing::Test {
protected:
    // The areas as the device's other processes provide them.
    void provideAreas(unsigned int count) {
        for (unsigned int mem = 0; mem < count; ++mem) {
            auto& area = providers.emplace_back(std::make_unique<SharedMemory>(gen::MEMORY_ARRAY[mem].name,
                                                                               gen::gAreas[mem].getSize()));
            area->create();
            area->address();
        }
    }
    ~StartUp() override {
        gen::closeServerConnection();
        gComponentLogLevel = nullptr;
        for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
            gen::gAreas[mem].close();
            *gen::AREA_POINTERS[mem] = nullptr;
        }
    }

    BrokerEndpoint broker;
    std::vector<std::unique_ptr<SharedMemory>> providers;
};

TEST_F(StartUp, MapsEveryAreaSubscribesToAllAndFollowsTheServiceLogLevel) {
    provideAreas(gen::AREA_COUNT);
    gen::init();
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
        EXPECT_NE(*gen::AREA_POINTERS[mem], nullptr);
        EXPECT_EQ(*gen::AREA_POINTERS[mem], gen::gAreas[mem].address());
    }
    ASSERT_NE(gen::getServerConnection(), nullptr);
    EXPECT_EQ(gen::getServerConnection(), gServerConnection);
    EXPECT_EQ(broker.received(), (std::vector<Notify>{{3, 0, 0}}));
    gen::subscribeNotifications();
    EXPECT_EQ(broker.received(), (std::vector<Notify>{{3, 0, 0}}));

    EXPECT_EQ(static_cast<void*>(gComponentLogLevel), gMemApp);
    *static_cast<gen::LogLevel*>(providers[17]->address()) = gen::Warn;
    EXPECT_EQ(*gComponentLogLevel, gen::Warn) << "another process sets our verbosity";

    gen::closeServerConnection();
    EXPECT_EQ(gen::getServerConnection(), nullptr);
    EXPECT_NO_THROW(gen::closeServerConnection());
    EXPECT_NO_THROW(gen::subscribeNotifications());

    gen::gAreas[16].close();
    EXPECT_NE(gComponentLogLevel, nullptr);
    gen::gAreas[17].close();
    EXPECT_EQ(gComponentLogLevel, nullptr) << "logging after the area is gone must not read it";
    LOG(Error, "after MemApp was released");
}

TEST_F(StartUp, StopsAtTheFirstMissingAreaBeforeConnecting) {
    provideAreas(5);
    EXPECT_EQ(raisedReason([] { gen::init(); }), "/MemLens: No such file or directory");
    EXPECT_NE(gMemStatic, nullptr);
    EXPECT_EQ(gMemLens, nullptr);
    EXPECT_EQ(gServerConnection, nullptr);
    EXPECT_EQ(gComponentLogLevel, nullptr);
}

}  // namespace
