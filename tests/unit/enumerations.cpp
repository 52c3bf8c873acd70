// Enumerations by name and index, their JSON description, and the generated
// getters and setters that turn stored indices into entry names and back.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "gen/code/introspection_gen.h"
#include "values_support.h"
#include "support/kmsg.h"
#include "support/reason.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Names and entries are checked against the reference tables in catalogue_content.cpp.
TEST(EnumCatalogue, LookupsRefuseWhatIsNotThere) {
    EXPECT_EQ(IntrospectionEnum::getEnumIndex("PreviousPage"), 68u);
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumName(69); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumEntryCount(69); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumEntryName(1, 6); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumEntryName(69, 0); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumIndex("motorstatus"); }), "Unknown enum \"motorstatus\"");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::getEnumIndex(nullptr); }), "Unknown enum \"\"");
    EXPECT_EQ(raisedReason([] { IntrospectionEnum::printEnum("x", "Nope"); }), "Unknown enum \"Nope\"");
    EXPECT_EQ(IntrospectionEnum::printEnum("Default", "SymbolTypes"),
              "{ \"value\": \"Default\", \"type\": \"SymbolTypes\", \"textid\": [ \"Default\"]}");
}

TEST(EnumGetter, NamesStoredValuesAndShowsOthersByNumber) {
    int32_t stored = 1;
    EXPECT_EQ(getMotorStatusIntrospection(&stored, 0), "Present");
    kmsg::Cursor log;
    stored = 6;
    EXPECT_EQ(getMotorStatusIntrospection(&stored, 3), "INVALID_VALUE: 6");
    EXPECT_EQ(log.count("Error          introspection_gen:"), 1u) << "logged under the generated source's name";
    EXPECT_EQ(log.count("Value 6 of enum MotorStatus is above number of entries (6)\n"), 1u);
    stored = -1;
    EXPECT_EQ(getMotorStatusIntrospection(&stored, 0), "INVALID_VALUE: 4294967295");
    stored = 13;
    EXPECT_EQ(getUpdateStateIntrospection(&stored, 0), "InProgress");
}

class EnumSetter : public StoreTest {
protected:
    BrokerStub broker;
    unsigned int dynamic = Introspection::getMemIndex("MemDynamic");
    char* payload = static_cast<char*>(gMemDynamic);
    int32_t& powerState = *reinterpret_cast<int32_t*>(payload);
};

TEST_F(EnumSetter, WritesOnlyAnExactEntryNameAndPostsOnlyOnChange) {
    powerState = 1;
    Notify event = Introspection::getVarEvent(dynamic, 0);
    EXPECT_EQ(setPowerStateIntrospection(payload, dynamic, 0, event, "SmartBattery"), "");
    for (char const* text : {"smartbattery", "1", "", "Usb "})
        EXPECT_EQ(setPowerStateIntrospection(payload, dynamic, 0, event, text),
                  std::string(text) + " is not part of enum PowerState");
    EXPECT_EQ(powerState, 1);
    EXPECT_TRUE(broker.takePosted().empty());
    EXPECT_EQ(setPowerStateIntrospection(payload, dynamic, 0, event, "Usb"), "");
    EXPECT_EQ(powerState, 5);
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{193, 0, 0}}));
}

TEST_F(EnumSetter, ModemTypeIsWrittenAsItsOwnType) {
    unsigned int service = Introspection::getMemIndex("MemServiceMode");
    VariableInfo const& info = Introspection::variable(service, 25);
    char* area = static_cast<char*>(gMemServiceMode);
    EXPECT_EQ(setModemTypeIntrospection(area, service, 25, info.event, "TypeB"), "");
    EXPECT_EQ(*reinterpret_cast<gen::ModemType*>(area + info.offset), gen::ModemType::TypeB);
    EXPECT_EQ(gen::memServiceMode().ServiceModeConnectedModemType, gen::ModemType::TypeB);
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{412, 0, 0}}));
}

}  // namespace
