// The event numbering and the way from an event back to its variable.
#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

TEST(EventTable, ReservedNamesAndPublishedNumbers) {
    char const* const reserved[] = {"Invalid", "Subscribe", "Unsubscribe", "SubscribeAll", "UnsubscribeAll",
                                    "CalibAllMotor"};
    for (unsigned int id = 0; id < 6; ++id) EXPECT_STREQ(gen::EVENT_NAME[id], reserved[id]);
    // Published numbers that catalogue_entries.txt does not already pin.
    EXPECT_STREQ(gen::EVENT_NAME[6], "VarAppLogLevelChanged");
    EXPECT_STREQ(gen::EVENT_NAME[7], "VarFocusTargetValueChanged");
    EXPECT_STREQ(gen::EVENT_NAME[16], "VarFocusActPosNormChanged");
    MemoryInfo const& app = gen::MEMORY_ARRAY[17];
    for (unsigned int var = 0; var < app.count; ++var) EXPECT_EQ(app.variables[var].event.id, 918 + var);
}

TEST(EventTable, EveryVariableOwnsOneEventNamedAfterIt) {
    std::set<std::string> names;
    for (unsigned int id = 0; id < gen::EVENT_NAME_SIZE; ++id) names.insert(gen::EVENT_NAME[id]);
    EXPECT_EQ(names.size(), gen::EVENT_NAME_SIZE) << "event names repeat";

    std::map<unsigned int, int> owners;  // own records per event; copies are not counted
    for (unsigned int mem = 0; mem < 18; ++mem) {
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var) {
            VariableInfo const& info = gen::MEMORY_ARRAY[mem].variables[var];
            ASSERT_GE(info.event.id, 6u);
            ASSERT_LT(info.event.id, gen::EVENT_NAME_SIZE);
            EXPECT_EQ(gen::EVENT_NAME[info.event.id], "Var" + std::string(info.name) + "Changed");
            owners[info.event.id] += info.memory == gen::AREA_POINTERS[mem];
        }
    }
    EXPECT_EQ(owners.size(), 798u);
    for (auto const& [id, count] : owners) EXPECT_EQ(count, 1) << gen::EVENT_NAME[id];
    unsigned int outside = 0;
    for (unsigned int id = 6; id < gen::EVENT_NAME_SIZE; ++id) outside += owners.count(id) == 0;
    EXPECT_EQ(outside, 131u) << "events of variables outside the catalogue";
}

TEST(EventLocation, LeadsBackToTheOwningVariable) {
    for (unsigned int mem = 0; mem < 18; ++mem) {
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var) {
            VariableInfo const& info = gen::MEMORY_ARRAY[mem].variables[var];
            unsigned int foundMem = 99, foundVar = 99;
            Introspection::getVarLocation(info.event, foundMem, foundVar);
            EXPECT_STREQ(Introspection::getVarName(foundMem, foundVar), info.name);
            EXPECT_EQ(Introspection::variable(foundMem, foundVar).memory, info.memory);
        }
    }
}

TEST(EventLocation, CopiesLeadToLensMarkersAndStrangersToTheFirstVariable) {
    unsigned int mem = 99, var = 99;
    Introspection::getVarLocation(Introspection::getVarEvent(5, 21), mem, var);
    EXPECT_EQ(mem, 6u) << "LensMarkerFocusValue0 lives in MemLensMarkers";
    EXPECT_EQ(var, 1u);
    for (Notify stranger : {Notify{6, 0, 0}, Notify{3, 0, 0}, Notify{gen::EVENT_NAME_SIZE, 0, 0}, Notify{0xffffffff, 1, 7}}) {
        mem = var = 99;
        Introspection::getVarLocation(stranger, mem, var);
        EXPECT_EQ(mem, 0u) << stranger.id;
        EXPECT_EQ(var, 0u) << stranger.id;
    }
}

}  // namespace
