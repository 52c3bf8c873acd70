// The generated catalogue against the device's published data model (tables in tests/data):
// areas, variables in order, types and limits, layouts, structures and enumerations.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "gen/code/introspection_gen.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "support/datafile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::string text(char const* value) { return value ? value : "-"; }

struct Generated {
    std::vector<StructInfo> const* fields;
    size_t size;
};

#define GENERATED_STRUCT(Type, TABLE) {#Type, {&gen::TABLE##_FIELDS, sizeof(gen::Type)}}
std::map<std::string, Generated> const GENERATED = {
    GENERATED_STRUCT(ScaleValues, SCALEVALUES), GENERATED_STRUCT(LensTable, LENSTABLE),
    GENERATED_STRUCT(LensDescTable, LENSDESCTABLE), GENERATED_STRUCT(Motor, MOTOR),
    GENERATED_STRUCT(RadioStruct, RADIOSTRUCT), GENERATED_STRUCT(TlxDevice, TLXDEVICE),
    GENERATED_STRUCT(CameraSupplyStruct, CAMERASUPPLYSTRUCT), GENERATED_STRUCT(ButtonState, BUTTONSTATE),
    GENERATED_STRUCT(BluetoothDeviceStruct, BLUETOOTHDEVICESTRUCT),
    GENERATED_STRUCT(HostUpdateFileStruct, HOSTUPDATEFILESTRUCT),
    GENERATED_STRUCT(DeviceUpdateFileStruct, DEVICEUPDATEFILESTRUCT),
    GENERATED_STRUCT(CamUserButtonStruct, CAMUSERBUTTONSTRUCT), GENERATED_STRUCT(LensFile, LENSFILE),
    GENERATED_STRUCT(CamSpeedListStruct, CAMSPEEDLISTSTRUCT),
    GENERATED_STRUCT(CamShutterListStruct, CAMSHUTTERLISTSTRUCT),
    GENERATED_STRUCT(CamExposureIndexListStruct, CAMEXPOSUREINDEXLISTSTRUCT),
    GENERATED_STRUCT(CamWhiteBalanceListStruct, CAMWHITEBALANCELISTSTRUCT),
    GENERATED_STRUCT(CamNdFilterListStruct, CAMNDFILTERLISTSTRUCT),
    GENERATED_STRUCT(CamExposureTimeListStruct, CAMEXPOSURETIMELISTSTRUCT),
    GENERATED_STRUCT(CamUserSetupListStruct, CAMUSERSETUPLISTSTRUCT),
    GENERATED_STRUCT(CamListTextLabelStruct, CAMLISTTEXTLABELSTRUCT), GENERATED_STRUCT(UserSetupFiles, USERSETUPFILES),
    GENERATED_STRUCT(CamFeatureStruct, CAMFEATURESTRUCT), GENERATED_STRUCT(LensTableRawStruct, LENSTABLERAWSTRUCT),
    GENERATED_STRUCT(TraceInfoStruct, TRACEINFOSTRUCT), GENERATED_STRUCT(CdmCoordinates, CDMCOORDINATES),
    GENERATED_STRUCT(DateTimezoneContinentStruct, DATETIMEZONECONTINENTSTRUCT),
    GENERATED_STRUCT(DateTimezoneCountryStruct, DATETIMEZONECOUNTRYSTRUCT),
    GENERATED_STRUCT(CamClipListItemStruct, CAMCLIPLISTITEMSTRUCT),
    GENERATED_STRUCT(FileBrowserEntryStruct, FILEBROWSERENTRYSTRUCT),
};
#undef GENERATED_STRUCT

// The model names a type; anything that is neither a plain type nor a structure is an enumeration.
BaseType baseTypeOf(std::string const& typeName) {
    static std::map<std::string, BaseType> const plain = {{"bool", TypeBool}, {"int", TypeInt}, {"float", TypeFloat},
                                                          {"string", TypeString}, {"buffer", TypeBuffer}};
    if (plain.count(typeName)) return plain.at(typeName);
    return GENERATED.count(typeName) ? TypeStruct : TypeEnum;
}

std::vector<VariableInfo const*> allVariables() {
    std::vector<VariableInfo const*> all;
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem)
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var)
            all.push_back(&gen::MEMORY_ARRAY[mem].variables[var]);
    return all;
}

TEST(CatalogueAreas, NamesSizesCountsAndVariableOrderAreTheModels) {
    std::vector<Record> const areas = readDataFile("catalogue_areas.txt");
    ASSERT_EQ(gen::MEMORY_ARRAY_SIZE, areas.size());
    ASSERT_EQ(Introspection::getMemCount(), areas.size());
    std::map<std::string, std::vector<std::string>> expected;
    for (Record const& line : readDataFile("catalogue_variables.txt")) {
        ASSERT_EQ(std::stoul(line[1]), expected[line[0]].size()) << line[2];
        expected[line[0]].push_back(line[2]);
    }
    for (unsigned int mem = 0; mem < areas.size(); ++mem) {
        MemoryInfo const& area = gen::MEMORY_ARRAY[mem];
        EXPECT_STREQ(area.name, areas[mem][0].c_str());
        EXPECT_EQ(gen::gAreas[mem].getName(), "/" + areas[mem][0]);
        EXPECT_EQ(gen::gAreas[mem].getSize(), std::stoul(areas[mem][1])) << area.name;
        std::vector<std::string> names;
        for (unsigned int var = 0; var < area.count; ++var) names.push_back(area.variables[var].name);
        EXPECT_EQ(names, expected[areas[mem][0]]) << area.name;
    }
}

TEST(CatalogueAreas, EveryValueLiesAlignedInsideItsAreaWithoutOverlap) {
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem) {
        std::vector<std::pair<unsigned int, unsigned int>> spans;
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var) {
            VariableInfo const& info = gen::MEMORY_ARRAY[mem].variables[var];
            if (info.memory != gen::AREA_POINTERS[mem]) continue;  // a copy, checked below
            unsigned int size = Introspection::getVarSize(mem, var);
            bool wordSized = info.baseType == TypeInt || info.baseType == TypeFloat || info.baseType == TypeEnum;
            if (wordSized) {
                EXPECT_EQ(info.offset % 4, 0u) << info.name;
            }
            EXPECT_LE(info.offset + size, gen::gAreas[mem].getSize()) << info.name;
            spans.emplace_back(info.offset, info.offset + size);
        }
        std::sort(spans.begin(), spans.end());
        for (size_t next = 1; next < spans.size(); ++next)
            EXPECT_LE(spans[next - 1].second, spans[next].first) << gen::MEMORY_ARRAY[mem].name << " at " << spans[next].first;
    }
}

TEST(CatalogueAreas, LensListsTheFirstTwelveLensMarkersAsCopies) {
    MemoryInfo const& lens = gen::MEMORY_ARRAY[5];
    MemoryInfo const& markers = gen::MEMORY_ARRAY[6];
    for (unsigned int copy = 0; copy < 12; ++copy) {
        VariableInfo const& listed = lens.variables[20 + copy];
        VariableInfo const& own = markers.variables[copy];
        EXPECT_STREQ(listed.name, own.name);
        EXPECT_EQ(listed.memory, &gMemLensMarkers) << listed.name;
        EXPECT_EQ(listed.offset, own.offset) << listed.name;
        EXPECT_EQ(listed.event, own.event) << listed.name;
        EXPECT_EQ(listed.baseType, own.baseType) << listed.name;
        EXPECT_EQ(text(listed.min) + text(listed.max), text(own.min) + text(own.max)) << listed.name;
    }
    for (unsigned int var = 0; var < 20; ++var) EXPECT_EQ(lens.variables[var].memory, &gMemLens);
}

TEST(CatalogueTypes, TotalsPerBaseTypeAndLimitClass) {
    std::map<BaseType, int> perType;
    int lists = 0, fullInts = 0, wideFloats = 0, unitFloats = 0;
    for (VariableInfo const* info : allVariables()) {
        ++perType[info->baseType];
        lists += info->event.flag == 1;
        fullInts += info->baseType == TypeInt && text(info->min) == "-2147483648" && text(info->max) == "2147483647";
        wideFloats += info->baseType == TypeFloat && text(info->min) == "-1e+38" && text(info->max) == "1e+38";
        unitFloats += info->baseType == TypeFloat && text(info->min) == "-1" && text(info->max) == "1";
    }
    EXPECT_EQ(perType[TypeBool], 304);
    EXPECT_EQ(perType[TypeInt], 153);
    EXPECT_EQ(perType[TypeFloat], 126);
    EXPECT_EQ(perType[TypeEnum], 124);
    EXPECT_EQ(perType[TypeString], 57);
    EXPECT_EQ(perType[TypeStruct], 38);
    EXPECT_EQ(perType[TypeBuffer], 8);
    EXPECT_EQ(lists, 29);
    EXPECT_EQ(fullInts, 75);
    EXPECT_EQ(wideFloats, 67);
    EXPECT_EQ(unitFloats, 42);
}

TEST(CatalogueTypes, RecordFieldsFollowTheBaseType) {
    std::set<std::string> const capacities = {"3", "10", "18", "20", "29", "30", "32", "40", "50", "60", "64", "128", "2048"};
    std::set<std::string> const bufferLengths = {"1", "3", "4", "64"};
    std::map<std::string, int> singles;
    for (VariableInfo const* info : allVariables()) {
        std::string name = info->name;
        bool numeric = info->baseType == TypeInt || info->baseType == TypeFloat;
        bool list = info->baseType == TypeStruct && info->event.flag == 1;
        EXPECT_EQ(info->event.index, 0u) << name;
        EXPECT_EQ(info->min != nullptr, numeric || info->baseType == TypeBuffer) << name;
        EXPECT_EQ(info->max != nullptr, numeric || info->baseType == TypeBuffer) << name;
        EXPECT_EQ(info->isArray, info->baseType == TypeString || list) << name;
        EXPECT_EQ(info->arrayLength != nullptr, info->baseType == TypeString || info->baseType == TypeBuffer || list) << name;
        EXPECT_EQ(info->structInfo != nullptr, info->baseType == TypeStruct) << name;
        EXPECT_EQ(info->elementSize != 0, info->baseType == TypeStruct) << name;
        EXPECT_TRUE(info->getter != nullptr && info->setter != nullptr) << name;
        if (info->baseType == TypeString) {
            EXPECT_TRUE(capacities.count(info->arrayLength)) << name;
        }
        if (info->baseType == TypeBuffer) {
            EXPECT_TRUE(bufferLengths.count(info->arrayLength)) << name;
            EXPECT_EQ(name.substr(name.size() - 5), "Flags");
            EXPECT_STREQ(info->min, "0");
            EXPECT_STREQ(info->max, info->arrayLength) << name;
        }
        if (info->baseType == TypeEnum) {
            EXPECT_NO_THROW(IntrospectionEnum::getEnumIndex(info->typeName)) << name;
        }
        if (info->baseType == TypeStruct && !list) ++singles[info->typeName];
    }
    EXPECT_EQ(singles, (std::map<std::string, int>{{"Motor", 4}, {"LensTable", 4}, {"LensDescTable", 1}}));
}

TEST(CatalogueTypes, TellingEntriesAreExact) {
    for (Record const& entry : readDataFile("catalogue_entries.txt")) {
        VariableInfo const& info = Introspection::variable(std::stoul(entry[0]), std::stoul(entry[1]));
        SCOPED_TRACE(entry[2]);
        auto check = [&](size_t column, std::string const& actual) {
            if (entry[column] != "*") {
                EXPECT_EQ(actual, entry[column]) << "column " << column;
            }
        };
        EXPECT_EQ(info.name, entry[2]);
        EXPECT_EQ(info.memory, gen::AREA_POINTERS[std::stoul(entry[0])]);
        EXPECT_EQ(info.typeName, entry[3]);
        EXPECT_EQ(info.baseType, baseTypeOf(entry[3]));
        check(4, std::to_string(info.offset));
        check(5, text(info.min));
        check(6, text(info.max));
        check(7, text(info.arrayLength));
        check(8, std::to_string(info.event.id));
        check(9, std::to_string(info.event.flag));
        check(10, std::to_string(info.elementSize));
    }
    EXPECT_EQ(Introspection::variable(17, 0).offset, 0u) << "the log threshold is the first word of MemApp";
}

TEST(CatalogueStructures, LayoutsAndFieldListsAreTheModels) {
    std::map<std::string, std::vector<Record>> expected;
    for (Record const& line : readDataFile("catalogue_structures.txt")) expected[line[0]].push_back(line);
    ASSERT_EQ(expected.size(), GENERATED.size());
    for (auto const& [name, fields] : expected) {
        SCOPED_TRACE(name);
        Generated const& generated = GENERATED.at(name);
        EXPECT_EQ(generated.size, std::stoul(fields[0][1]));
        ASSERT_EQ(generated.fields->size(), fields.size());
        for (size_t at = 0; at < fields.size(); ++at) {
            StructInfo const& field = (*generated.fields)[at];
            Record const& want = fields[at];  // struct size name type offset; a name of * is the model's own
            if (want[2] != "*") {
                EXPECT_EQ(field.name, want[2]);
            }
            EXPECT_EQ(field.typeName, want[3]);
            EXPECT_EQ(field.offset, std::stoul(want[4])) << field.name;
            EXPECT_EQ(field.baseType, baseTypeOf(want[3])) << field.name;
            EXPECT_EQ(field.fields, nullptr) << "field lists hold no nested lists";
        }
    }
}

TEST(CatalogueStructures, VariablesShareTheFieldListOfTheirType) {
    for (VariableInfo const* info : allVariables()) {
        if (info->baseType != TypeStruct) continue;
        Generated const& generated = GENERATED.at(info->typeName);
        EXPECT_EQ(info->structInfo, generated.fields) << info->name;
        EXPECT_EQ(info->elementSize, generated.size) << info->name;
    }
}

// Each line: name, count, and for some the entries in order.
TEST(CatalogueEnumerations, NamesCountsAndEntriesInOrder) {
    std::vector<Record> const enums = readDataFile("catalogue_enumerations.txt");
    ASSERT_EQ(gen::ENUM_ARRAY_SIZE, enums.size());
    for (unsigned int idx = 0; idx < enums.size(); ++idx) {
        EnumInfo const& info = gen::ENUM_ARRAY[idx];
        SCOPED_TRACE(enums[idx][0]);
        EXPECT_EQ(info.name, enums[idx][0]);
        EXPECT_EQ(info.count, std::stoul(enums[idx][1]));
        std::vector<std::string> entries(info.entries, info.entries + info.count);
        EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()).size(), info.count);
        if (enums[idx].size() > 2) {
            EXPECT_EQ(entries, Record(enums[idx].begin() + 2, enums[idx].end()));
        }
    }
    EXPECT_EQ(gen::MOTORSTATUS_NAME_ARRAY_SIZE, 6u);
    EXPECT_EQ(gen::ENUM_ARRAY[1].entries, gen::MOTORSTATUS_NAME_ARRAY);
    EnumInfo const& camera = gen::ENUM_ARRAY[IntrospectionEnum::getEnumIndex("CameraType")];
    EXPECT_STREQ(camera.entries[6], "Unknown");
    EXPECT_STREQ(camera.entries[14], "Init");
}

}  // namespace
