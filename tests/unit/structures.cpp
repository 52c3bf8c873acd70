// The generated structure accessors: JSON text of one element, and writing a
// whole structure image.
#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"
#include "support/eventsink.h"
#include "support/mappedstore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string const BOOL_FALSE = "{ \"value\": \"false\", \"type\": \"bool\", \"textid\": [ \"false\", \"true\" ]}";
std::string const BOOL_TRUE = "{ \"value\": \"true\", \"type\": \"bool\", \"textid\": [ \"false\", \"true\" ]}";

size_t occurrences(std::string const& text, std::string const& piece) {
    size_t found = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++found;
    return found;
}

class StructureText : public ::testing::Test {
protected:
    StructureText() { Introspection::setEscapeCharacters("[\\\\\"]"); }
    ~StructureText() override { Introspection::setEscapeCharacters(""); }
};

TEST_F(StructureText, ClipItemIsOneObjectOfItsFieldsInOrder) {
    gen::CamClipListItemStruct clips[2] = {};
    std::memset(&clips[1].CamClipPlayable, 2, 1);  // any byte but 0 is true
    clips[1].CamClipFramerate = 23.976f;
    std::strcpy(clips[1].CamClipName, "A\"1\\");
    std::memset(clips[1].CamClipCodec, 'x', sizeof clips[1].CamClipCodec);  // no terminator within the field
    EXPECT_EQ(getCamClipListItemStructIntrospection(clips, 1),
              "{\"CamClipPlayable\": " + BOOL_TRUE +
                  ",\"CamClipFramerate\": {\"max\":\"1e+38\",\"min\":\"-1e+38\",\"type\":\"float\",\"value\":\"23.976000\"}"
                  ",\"CamClipName\": {\"value\":\"A\\\"1\\\\\", \"type\": \"string\" }"
                  ",\"CamClipTimeCode\": {\"value\":\"\", \"type\": \"string\" }"
                  ",\"CamClipLength\": {\"value\":\"\", \"type\": \"string\" }"
                  ",\"CamClipCodec\": {\"value\":\"" + std::string(30, 'x') + "\", \"type\": \"string\" }}");
}

TEST_F(StructureText, MotorFieldsCarryLimitsAndEnumerationChoices) {
    gen::Motor motors[4] = {};
    motors[2].ActPosition = 12;
    motors[2].State = gen::MotorStatus::Present;
    motors[2].MotorAxis = gen::Axis::Zoom;
    motors[2].ConnectNew = true;
    std::string text = getMotorIntrospection(motors, 2);
    EXPECT_EQ(text.substr(0, 14 + BOOL_FALSE.size()), "{\"CalActive\": " + BOOL_FALSE);
    EXPECT_NE(text.find(",\"ActPosition\": {\"max\":\"65535\",\"min\":\"0\",\"type\":\"int\",\"value\":\"12\"},"),
              std::string::npos);
    EXPECT_NE(text.find(",\"State\":  { \"value\": \"Present\", \"type\": \"MotorStatus\", \"textid\": [ \"Unknown\","),
              std::string::npos);
    EXPECT_NE(text.find(",\"MotorAxis\":  { \"value\": \"Zoom\", \"type\": \"Axis\""), std::string::npos);
    EXPECT_NE(text.find("\"MotorRequestSoftBnd\": {\"max\":\"6\",\"min\":\"0\""), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 16 - BOOL_TRUE.size()), ",\"ConnectNew\": " + BOOL_TRUE + "}");
    size_t at = 0;
    for (StructInfo const& field : gen::MOTOR_FIELDS) {
        at = text.find("\"" + std::string(field.name) + "\":", at);
        EXPECT_NE(at, std::string::npos) << field.name << " missing or out of order";
    }

    motors[0].State = static_cast<gen::MotorStatus>(9);
    EXPECT_NE(getMotorIntrospection(motors, 0).find("\"State\":  { \"value\": \"INVALID_VALUE: 9\""), std::string::npos);
}

TEST_F(StructureText, LensTableNestsAll256ScaleValues) {
    static gen::LensTable table = {};
    std::strcpy(table.LensTableValueList[255].PrimaryEngravedValueAsString, "inf");
    std::string text = getLensTableIntrospection(&table, 0);
    EXPECT_NE(text.find(",\"LensTableValueList\":[{\"TableEntryFlags\": "), std::string::npos);
    EXPECT_EQ(occurrences(text, "{\"TableEntryFlags\": "), 256u);
    EXPECT_NE(text.find("\"inf\", \"type\": \"string\" },\"SecondaryEngravedValueAsString\""), std::string::npos);
    EXPECT_NE(text.find("}],\"LensTableMotorAtLeftSide\": "), std::string::npos);
}

class StructureWrite : public ::testing::Test {
protected:
    MappedStore store;
    EventSink sink;
    unsigned int camera = Introspection::getMemIndex("MemCamera");
    unsigned int clipList = 78;
    char* payload = static_cast<char*>(gMemCamera);
};

TEST_F(StructureWrite, CopiesTheWholeElementAndPostsItsIndexOnlyOnChange) {
    Notify event = Introspection::getVarEvent(camera, clipList);
    event.index = 3;
    gen::CamClipListItemStruct image = {};
    EXPECT_EQ(setCamClipListItemStructIntrospection(payload, camera, clipList, event, reinterpret_cast<char*>(&image)), "");
    EXPECT_TRUE(sink.posted().empty()) << "an identical image changes nothing";

    image.CamClipCodec[29] = 'z';
    image.CamClipFramerate = 50.0f;
    EXPECT_EQ(setCamClipListItemStructIntrospection(payload, camera, clipList, event, reinterpret_cast<char*>(&image)), "");
    EXPECT_EQ(std::memcmp(&gen::memCamera().CamClipList0[3], &image, sizeof image), 0);
    EXPECT_EQ(gen::memCamera().CamClipList0[2].CamClipFramerate, 0.0f);
    EXPECT_EQ(sink.posted(), (std::vector<Notify>{{626, 1, 3}}));
}

TEST_F(StructureWrite, SingleStructuresIgnoreTheElementIndex) {
    unsigned int motors = Introspection::getMemIndex("MemMotors");
    Notify event = Introspection::getVarEvent(motors, 1);
    event.index = 5;
    gen::Motor image = {};
    image.GearTeethSet = 40;
    EXPECT_EQ(setMotorIntrospection(static_cast<char*>(gMemMotors), motors, 1, event, reinterpret_cast<char*>(&image)), "");
    EXPECT_EQ(gen::memMotors().IrisMotor.GearTeethSet, 40);
    EXPECT_EQ(sink.posted().size(), 1u);
}

}  // namespace
