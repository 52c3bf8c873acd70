// Finding areas and variables through the catalogue, and its refusals.
#include "apps/common/introspection/introspection.h"
#include "support/kmsg.h"
#include "support/reason.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(CatalogueIndex, OutOfRangeIndicesAreRefused) {
    EXPECT_EQ(raisedReason([] { Introspection::getVarName(18, 0); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarName(0, 73); }), "Index exceeds limit");
    EXPECT_STREQ(Introspection::getVarName(0, 72), "RadioModuleList");
    EXPECT_EQ(raisedReason([] { Introspection::getMemName(18); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarCount(0xffffffff); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarEvent(17, 17); }), "Index exceeds limit");
    EXPECT_EQ(raisedReason([] { Introspection::getVarSize(3, 111); }), "Index exceeds limit");
}

TEST(CatalogueIndex, AreasAreFoundByTheirExactName) {
    EXPECT_EQ(Introspection::getMemIndex("MemMotors"), 8u);
    EXPECT_EQ(Introspection::getMemIndex("MemApp"), 17u);
    kmsg::Cursor log;
    EXPECT_EQ(raisedReason([] { Introspection::getMemIndex("memmotors"); }), "Unknown memory \"memmotors\"");
    EXPECT_EQ(log.count("Error       "), 1u) << "refusals are logged at Error";
    EXPECT_EQ(raisedReason([] { Introspection::getMemIndex("MemMotors "); }), "Unknown memory \"MemMotors \"");
    EXPECT_EQ(raisedReason([] { Introspection::getMemIndex(""); }), "Unknown memory \"\"");
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

    // The length is read like stoi in automatic base.
    VariableInfo& info = Introspection::variable(4, 0);
    VariableInfo saved = info;
    info.arrayLength = "0x10";
    EXPECT_TRUE(Introspection::isArray(4, 0));
    info.arrayLength = "-1";
    EXPECT_FALSE(Introspection::isArray(4, 0));
    info.arrayLength = "many";
    EXPECT_THROW(Introspection::isArray(4, 0), std::invalid_argument);
    info.arrayLength = nullptr;
    EXPECT_THROW(Introspection::isArray(4, 0), std::invalid_argument);
    info = saved;
}

}  // namespace
