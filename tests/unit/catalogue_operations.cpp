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

TEST(CatalogueIndex, StringsAndListsAreArraysButSingleStructuresAndBuffersAreNot) {
    EXPECT_TRUE(Introspection::isArray(4, 0));    // ModemVersionString
    EXPECT_TRUE(Introspection::isArray(3, 78));   // CamClipList0
    EXPECT_FALSE(Introspection::isArray(8, 0));   // FocusMotor
    EXPECT_FALSE(Introspection::isArray(2, 3));   // DmdTypeFlags
    EXPECT_FALSE(Introspection::isArray(1, 22));  // JoystickX
    EXPECT_STREQ(Introspection::getVarArrayLen(3, 78), "500");
    EXPECT_EQ(Introspection::getVarBaseType(3, 78), TypeStruct);
    EXPECT_STREQ(Introspection::getVarType(3, 78), "CamClipListItemStruct");
}

TEST(CatalogueIndex, IsArrayReadsTheLengthLikeStoiInAutomaticBase) {
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

TEST(CatalogueIndex, SizesCoverWholeListsAndFields) {
    EXPECT_EQ(Introspection::getVarSize(3, 78), 64000u);  // 500 clips of 128 bytes
    EXPECT_EQ(Introspection::getVarSize(8, 0), 88u);      // one Motor
    EXPECT_EQ(Introspection::getVarSize(4, 0), 50u);      // ModemVersionString
    EXPECT_EQ(Introspection::getVarSize(2, 3), 1u);       // DmdTypeFlags
    EXPECT_EQ(Introspection::getVarSize(0, 3), 1u);       // RadioBoost
    EXPECT_EQ(Introspection::getVarSize(1, 0), 4u);       // PowerState
}

}  // namespace
