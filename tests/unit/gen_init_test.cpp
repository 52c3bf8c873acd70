// Start-up of a program on the variable store: every area opened and mapped
// in table order, the broker connected and asked for all events, and the log
// threshold following the shared variable AppServiceLogLevel.
#include "apps/common/event/serverconnection.h"
#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/gen_init.h"
#include "gen/code/introspection_gen.h"
#include "support/reason.h"
#include "tests/unit/broker_harness.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

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
        closeAreas();
    }

    brokertest::StandInBroker broker;
    std::vector<std::unique_ptr<SharedMemory>> providers;
};

TEST_F(StartUp, MapsEveryAreaSubscribesToAllAndFollowsTheServiceLogLevel) {
    provideAreas(gen::AREA_COUNT);
    gen::init();
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
        EXPECT_EQ(*gen::AREA_POINTERS[mem], gen::gAreas[mem].address());
        EXPECT_NE(*gen::AREA_POINTERS[mem], nullptr);
    }
    ASSERT_GE(broker.acceptClient(), 0);
    EXPECT_EQ(broker.readBytes(12), brokertest::bytesOf({{3, 0, 0}}));

    *static_cast<gen::LogLevel*>(providers[17]->address()) = gen::Warn;
    EXPECT_EQ(*gComponentLogLevel, gen::Warn) << "another process sets our verbosity";
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
