// The state that `store create` leaves is one the catalogue reads completely:
// every variable and every list element, with enumerations in range.
#include "apps/common/introspection/introspection.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(StoreDefaults, EveryVariableReadsWithoutInvalidValues) {
    ASSERT_EQ(std::system(BINARY_DIR "/bin/store create"), 0);
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
        gen::gAreas[mem].open();
        *gen::AREA_POINTERS[mem] = gen::gAreas[mem].address();
    }
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            bool list = Introspection::getVarBaseType(mem, var) == TypeStruct && Introspection::isArray(mem, var);
            int elements = list ? std::stoi(Introspection::getVarArrayLen(mem, var)) : 1;
            for (int element = 0; element < elements; ++element) {
                std::string value = Introspection::getVarValue(mem, var, element);
                ASSERT_EQ(value.find("INVALID_VALUE"), std::string::npos) << Introspection::getVarName(mem, var);
            }
        }
    }
    EXPECT_EQ(Introspection::getVarValue(4, 0, 0), "MDM 4.2.17");
    EXPECT_EQ(Introspection::getVarValue(8, 12, 0), "32");
    EXPECT_EQ(Introspection::getVarValue(1, 0, 0), "SmartBattery");
    EXPECT_NE(Introspection::getVarValue(3, 78, 4).find("\"A001C005\""), std::string::npos);
    EXPECT_NE(Introspection::getVarValue(8, 3, 0).find("\"value\": \"Present\""), std::string::npos);
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) gen::gAreas[mem].close();
    EXPECT_EQ(std::system(BINARY_DIR "/bin/store remove >/dev/null"), 0);
}

}  // namespace
