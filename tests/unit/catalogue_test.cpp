// The generated catalogue's invariants (layout, copies, events)
// and the lookups over it, which refuse what is not there.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"
#include "support/reason.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string text(char const* value) { return value ? value : "-"; }

// Calls check(mem, var, record) for every record of every area.
template <typename Check>
void forEachRecord(Check check) {
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem)
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var)
            check(mem, var, gen::MEMORY_ARRAY[mem].variables[var]);
}

// An area may list another area's variable; such a copy is not its own.
bool ownRecord(unsigned int mem, VariableInfo const& info) { return info.memory == gen::AREA_POINTERS[mem]; }

TEST(CatalogueLayout, EveryValueLiesAlignedInsideItsAreaWithoutOverlap) {
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> spans(gen::MEMORY_ARRAY_SIZE);
    forEachRecord([&](unsigned int mem, unsigned int var, VariableInfo const& info) {
        if (!ownRecord(mem, info)) return;
        std::size_t size = Introspection::getVarSize(mem, var);
        if (info.baseType == TypeInt || info.baseType == TypeFloat || info.baseType == TypeEnum) {
            EXPECT_EQ(info.offset % 4, 0u) << info.name;
        }
        EXPECT_LE(info.offset + size, gen::gAreas[mem].getSize()) << info.name;
        spans[mem].emplace_back(info.offset, info.offset + size);
    });
    for (auto& area : spans) {
        std::sort(area.begin(), area.end());
        for (std::size_t next = 1; next < area.size(); ++next)
            EXPECT_LE(area[next - 1].second, area[next].first) << "overlap at " << area[next].first;
    }
}

TEST(EventTable, EveryVariableOwnsOneDistinctEventNamedAfterIt) {
    std::set<std::string> names(gen::EVENT_NAME, gen::EVENT_NAME + gen::EVENT_NAME_SIZE);
    EXPECT_EQ(names.size(), gen::EVENT_NAME_SIZE) << "event names repeat";
    std::map<unsigned int, int> owners;
    forEachRecord([&](unsigned int mem, unsigned int, VariableInfo const& info) {
        ASSERT_GE(info.event.id, 6u) << info.name << ": the first numbers are the broker's own";
        ASSERT_LT(info.event.id, gen::EVENT_NAME_SIZE) << info.name;
        EXPECT_EQ(gen::EVENT_NAME[info.event.id], "Var" + std::string(info.name) + "Changed");
        owners[info.event.id] += ownRecord(mem, info);
    });
    for (auto const& [id, count] : owners) EXPECT_EQ(count, 1) << gen::EVENT_NAME[id];
}

// Copies included: an event leads to its variable's own record, which a copy
// must match in everything but its place in the list.
TEST(EventLocation, EveryRecordLeadsToItsVariablesOwnRecordAndStrangersToTheFirst) {
    forEachRecord([](unsigned int, unsigned int, VariableInfo const& info) {
        unsigned int mem = 99, var = 99;
        Introspection::getVarLocation(info.event, mem, var);
        VariableInfo const& owner = Introspection::variable(mem, var);
        EXPECT_TRUE(ownRecord(mem, owner)) << info.name;
        EXPECT_STREQ(owner.name, info.name);
        EXPECT_EQ(owner.memory, info.memory) << info.name;
        EXPECT_EQ(owner.offset, info.offset) << info.name;
        EXPECT_EQ(owner.baseType, info.baseType) << info.name;
        EXPECT_EQ(text(owner.min) + text(owner.max), text(info.min) + text(info.max)) << info.name;
    });
    // A broker number, an event of no catalogued variable, numbers beyond the table.
    for (Notify stranger : {Notify{3, 0, 0}, Notify{6, 0, 0}, Notify{gen::EVENT_NAME_SIZE, 0, 0}, Notify{~0u, 1, 7}}) {
        unsigned int mem = 99, var = 99;
        Introspection::getVarLocation(stranger, mem, var);
        EXPECT_EQ(mem + var, 0u) << stranger.id;
    }
}

TEST(CatalogueIndex, NamesAreFoundExactlyAndIndicesBeyondTheCatalogueRefused) {
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        EXPECT_EQ(Introspection::getMemIndex(Introspection::getMemName(mem)), mem);
        unsigned int count = Introspection::getVarCount(mem);
        EXPECT_STREQ(Introspection::getVarName(mem, count - 1), gen::MEMORY_ARRAY[mem].variables[count - 1].name);
        EXPECT_EQ(raisedReason([&] { Introspection::getVarName(mem, count); }), "Index exceeds limit");
    }
    EXPECT_EQ(raisedReason([] { Introspection::getMemName(gen::MEMORY_ARRAY_SIZE); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarCount(0xffffffff); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarSize(gen::MEMORY_ARRAY_SIZE, 0); }), "Index exceeds limit");
    for (char const* name : {"memmotors", "MemMotors ", ""})
        EXPECT_EQ(raisedReason([&] { Introspection::getMemIndex(name); }), "Unknown memory \"" + std::string(name) + "\"");
}

TEST(CatalogueIndex, StringsAndListsAreArraysAndSizesCoverWholeLists) {
    struct Case {
        unsigned int mem, var;  // variable
        bool array;
        unsigned int size;
    } cases[] = {{4, 0, true, 50},  // ModemVersionString
                 {3, 78, true, 64000},  // CamClipList0: 500 clips of 128 bytes
                 {8, 0, false, 88},  // FocusMotor
                 {2, 3, false, 1},  // DmdTypeFlags
                 {0, 3, false, 1},  // RadioBoost
                 {1, 0, false, 4}};  // PowerState
    for (Case const& c : cases) {
        EXPECT_EQ(Introspection::isArray(c.mem, c.var), c.array) << Introspection::getVarName(c.mem, c.var);
        EXPECT_EQ(Introspection::getVarSize(c.mem, c.var), c.size) << Introspection::getVarName(c.mem, c.var);
    }
    // A record with a negative length is no array; one without a length is refused.
    VariableInfo& info = Introspection::variable(4, 0);
    VariableInfo const saved = info;
    info.arrayLength = "-1";
    EXPECT_FALSE(Introspection::isArray(4, 0));
    info.arrayLength = nullptr;
    EXPECT_THROW(Introspection::isArray(4, 0), std::invalid_argument);
    info = saved;
}

TEST(EnumCatalogue, EveryEnumerationIsFoundByNameWithDistinctEntriesAndNothingBeyond) {
    for (unsigned int idx = 0; idx < gen::ENUM_ARRAY_SIZE; ++idx) {
        EnumInfo const& info = gen::ENUM_ARRAY[idx];
        EXPECT_EQ(IntrospectionEnum::getEnumIndex(info.name), idx);
        EXPECT_EQ(std::set<std::string>(info.entries, info.entries + info.count).size(), info.count) << info.name;
        EXPECT_STREQ(IntrospectionEnum::getEnumEntryName(idx, info.count - 1), info.entries[info.count - 1]);
        EXPECT_EQ(raisedReason([&] { IntrospectionEnum::getEnumEntryName(idx, info.count); }), "Index exceeds limit");
    }
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumEntryCount(gen::ENUM_ARRAY_SIZE); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumIndex("motorstatus"); }), "Unknown enum \"motorstatus\"");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumIndex(nullptr); }), "Unknown enum \"\"");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::printEnum("x", "Nope"); }), "Unknown enum \"Nope\"");
    EXPECT_EQ(IntrospectionEnum::printEnum("Default", "SymbolTypes"),
              "{ \"value\": \"Default\", \"type\": \"SymbolTypes\", \"textid\": [ \"Default\"]}");
}

}  // namespace
