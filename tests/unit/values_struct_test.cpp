// Structure variables: their JSON text byte for byte, writes of one field from
// a parsed set body, and whole images that must stay inside their element.
#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/setters.h"
#include "gen/code/introspection_gen.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <stdexcept>

namespace {
const std::string TRUE_TEXT = R"({ "value": "true", "type": "bool", "textid": [ "false", "true" ]})";
const std::string FALSE_TEXT = R"({ "value": "false", "type": "bool", "textid": [ "false", "true" ]})";

template <typename T>
void put(char* base, std::size_t offset, T value) {
    std::memcpy(base + offset, &value, sizeof value);
}

template <typename T>
T get(char const* base, std::size_t offset) {
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

class StructText : public StoreTest {
protected:
    BrokerStub broker;

    void SetUp() override { gEscapePattern = std::regex(R"([\\"])"); }
    void TearDown() override { gEscapePattern = std::regex(); }

    std::string text(VarRef ref, int index = 0) { return Introspection::getVarValue(ref.mem, ref.var, index); }
    void setField(VarRef ref, std::string const& key, std::string const& value, int index = 0) {
        EXPECT_EQ(Introspection::setVarValueJson(ref.mem, ref.var, {{key, {value, false}}}, index), "");
    }
};
}  // namespace

// The exact form of every field kind is pinned by the clip list and lens table
// texts below; here the enumeration fields, in range and out of it.
TEST_F(StructText, MotorEnumerationFieldsNameTheirEntryOrShowAsInvalid) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    char* m = addressOf(focus);
    std::memset(m, 0, 88);
    put<int>(m, 20, 1);
    put<int>(m, 52, 5);
    EXPECT_NE(text(focus).find(R"(,"State":  { "value": "Present", "type": "MotorStatus", "textid": [ )"
                               R"("Unknown","Present","Absent","Unavailable","NewConnected","NotDriven"]})"
                               R"(,"ConnectState":  { "value": "NotConnected", )"),
              std::string::npos);
    EXPECT_NE(text(focus).find(R"(,"MotorAxis":  { "value": "DMD", "type": "Axis", )"), std::string::npos);
    put<int>(m, 20, 9);
    EXPECT_NE(text(focus).find(R"("State":  { "value": "INVALID_VALUE: 9", "type": "MotorStatus", )"),
              std::string::npos);
}

TEST_F(StructText, ClipListElementEscapesItsTexts) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    char* element = addressOf(clips) + 3 * 128;
    std::memset(element, 0, 128);
    element[0] = '\x80';  // any non-zero byte another process left is true
    put<float>(element, 4, 23.976f);
    std::strcpy(element + 8, R"(take "1" \ a)");
    std::strcpy(element + 38, "01:02:03:04");
    std::strcpy(element + 98, "ProRes");
    EXPECT_EQ(text(clips, 3),
              "{\"CamClipPlayable\": " + TRUE_TEXT +
                  R"(,"CamClipFramerate": {"max":"1e+38","min":"-1e+38","type":"float","value":"23.976000"})"
                  R"(,"CamClipName": {"value":"take \"1\" \\ a", "type": "string" })"
                  R"(,"CamClipTimeCode": {"value":"01:02:03:04", "type": "string" })"
                  R"(,"CamClipLength": {"value":"", "type": "string" })"
                  R"(,"CamClipCodec": {"value":"ProRes", "type": "string" }})");

    // A full last field is read up to the end of its element only.
    std::memset(element + 98, 'C', 30);
    element[128] = 'N';
    EXPECT_NE(text(clips, 3).find("\"CamClipCodec\": {\"value\":\"" + std::string(30, 'C') + "\", "),
              std::string::npos);
}

TEST_F(StructText, LensTableHoldsItsArrayOfScaleValuesWithoutABlank) {
    VarRef table = findVariable("MemLens", "LensTableIris");
    char* t = addressOf(table);
    std::memset(t, 0, 12316);
    t[0] = 1;
    put<int>(t, 4, 100);
    put<int>(t, 20, 2);
    char* first = t + 24;
    put<int>(first, 0, -1);
    put<int>(first, 4, 4096);
    put<float>(first, 8, 1.25f);
    std::strcpy(first + 12, "1.25\"");
    std::strcpy(first + 27, "4'1\"");
    t[12313] = 1;

    std::string const zeroScale =
        R"({"TableEntryFlags": {"max":"2147483647","min":"-2147483648","type":"int","value":"0"})"
        R"(,"EncoderValue": {"max":"2147483647","min":"-2147483648","type":"int","value":"0"})"
        R"(,"EngravedValue": {"max":"1e+38","min":"-1e+38","type":"float","value":"0.000000"})"
        R"(,"PrimaryEngravedValueAsString": {"value":"", "type": "string" })"
        R"(,"SecondaryEngravedValueAsString": {"value":"", "type": "string" })"
        R"(,"InterpolEngravedVal": {"max":"1e+38","min":"-1e+38","type":"float","value":"0.000000"}})";
    std::string const firstScale =
        R"({"TableEntryFlags": {"max":"2147483647","min":"-2147483648","type":"int","value":"-1"})"
        R"(,"EncoderValue": {"max":"2147483647","min":"-2147483648","type":"int","value":"4096"})"
        R"(,"EngravedValue": {"max":"1e+38","min":"-1e+38","type":"float","value":"1.250000"})"
        R"(,"PrimaryEngravedValueAsString": {"value":"1.25\"", "type": "string" })"
        R"(,"SecondaryEngravedValueAsString": {"value":"4'1\"", "type": "string" })"
        R"(,"InterpolEngravedVal": {"max":"1e+38","min":"-1e+38","type":"float","value":"0.000000"}})";
    std::string expected = "{\"TableActive\": " + TRUE_TEXT +
                           R"(,"LensTableMaxInterpolPos": {"max":"65535","min":"0","type":"int","value":"100"})"
                           R"(,"LensTableMinInterpolPos": {"max":"65535","min":"0","type":"int","value":"0"})"
                           R"(,"LensTableUpperBound": {"max":"65535","min":"0","type":"int","value":"0"})"
                           R"(,"LensTableLowerBound": {"max":"65535","min":"0","type":"int","value":"0"})"
                           R"(,"LensTableValueListSize": {"max":"2147483647","min":"-2147483648","type":"int","value":"2"})"
                           R"(,"LensTableValueList":[)" +
                           firstScale;
    for (int i = 1; i < 256; ++i) expected += "," + zeroScale;
    expected += "],\"LensTableMotorAtLeftSide\": " + FALSE_TEXT + ",\"LensTableInverse\": " + TRUE_TEXT + "}";
    EXPECT_EQ(text(table), expected);
}

TEST_F(StructText, OneFieldIsWrittenByItsTypeFromTheLastPair) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    char* m = addressOf(focus);
    std::memset(m, 0, 88);
    setField(focus, "ActPosition", "0x10");
    setField(focus, "RealLowerLimit", "-1.5");
    setField(focus, "State", "Absent");
    setField(focus, "CalActive", "true");
    EXPECT_EQ(get<int>(m, 8), 16);
    EXPECT_EQ(get<float>(m, 56), -1.5f);
    EXPECT_EQ(get<int>(m, 20), 2);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(broker.takePosted().size(), 4u);

    setField(focus, "CalActive", "yes");
    EXPECT_EQ(m[0], 0) << "any text but true is false";
    setField(focus, "State", "absent");
    setField(focus, "NoSuchField", "1");
    EXPECT_EQ(get<int>(m, 20), 2) << "an unknown entry name changes nothing";
    EXPECT_EQ(broker.takePosted().size(), 1u);

    EXPECT_EQ(Introspection::setVarValueJson(focus.mem, focus.var,
                                             {{"GearTeethSet", {"9", false}}, {"GearTeethAct", {"7", false}}}, 0),
              "");
    EXPECT_EQ(get<int>(m, 16), 7);
    EXPECT_EQ(get<int>(m, 80), 0);
}

TEST_F(StructText, UnchangedFieldsPostNothingButStringsAlwaysPost) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    std::memset(addressOf(focus), 0, 88);
    setField(focus, "ActPosition", "0");
    setField(focus, "RealUpperLimit", "0");
    setField(focus, "SetToIdle", "false");
    setField(focus, "MotorAxis", "Off");
    EXPECT_EQ(broker.takePosted().size(), 0u);
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    setField(clips, "CamClipName", "same", 1);
    setField(clips, "CamClipName", "same", 1);
    EXPECT_EQ(broker.takePosted().size(), 2u);
}

TEST_F(StructText, StringFieldsAreBoundByTheNextFieldOrTheStructureEnd) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    char* element = addressOf(clips) + 5 * 128;
    std::memset(element, 'z', 2 * 128);
    std::string const longText(10240, 'L');
    setField(clips, "CamClipName", longText, 5);
    EXPECT_EQ(std::string(element + 8), std::string(29, 'L'));
    EXPECT_EQ(element[38], 'z') << "CamClipTimeCode untouched";
    setField(clips, "CamClipCodec", longText, 5);
    EXPECT_EQ(std::string(element + 98), std::string(29, 'L'));
    EXPECT_EQ(element[128], 'z') << "the next element untouched";

    VarRef table = findVariable("MemLens", "LensTableIris");
    std::memset(addressOf(table), 0, 12316);
    setField(table, "LensTableValueList", "[1,2]");
    setField(table, "LensTableInverse", "true");
    EXPECT_EQ(addressOf(table)[12313], 1);
    EXPECT_EQ(std::memcmp(addressOf(table) + 24, std::string(256 * 48, '\0').data(), 256 * 48), 0)
        << "structure fields are not written from text";
}

TEST_F(StructText, UnconvertibleNumbersRaiseToTheCaller) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    EXPECT_THROW(Introspection::setVarValueJson(focus.mem, focus.var, {{"ActPosition", {"abc", false}}}, 0),
                 std::invalid_argument);
    EXPECT_THROW(Introspection::setVarValueJson(focus.mem, focus.var, {{"RealLowerLimit", {"1e99", false}}}, 0),
                 std::out_of_range);
    EXPECT_EQ(Introspection::setVarValueJson(focus.mem, focus.var, {}, 0), "");
}

TEST_F(StructText, AnImageIsWrittenWholeAndAloneAtItsElement) {
    unsigned int motors = Introspection::getMemIndex("MemMotors");
    Notify event = Introspection::getVarEvent(motors, 1);
    event.index = 5;  // a single structure has no elements: the index is ignored
    gen::Motor motor = {};
    motor.GearTeethSet = 40;
    EXPECT_EQ(setMotorIntrospection(static_cast<char*>(gMemMotors), motors, 1, event, reinterpret_cast<char*>(&motor)),
              "");
    EXPECT_EQ(gen::memMotors().IrisMotor.GearTeethSet, 40);
    EXPECT_EQ(gen::memMotors().ZoomMotor.GearTeethSet, 0);
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{147, 0, 5}}));

    unsigned int camera = Introspection::getMemIndex("MemCamera");
    event = Introspection::getVarEvent(camera, 78);
    event.index = 3;
    gen::CamClipListItemStruct clip = {};
    std::memset(&clip, 'x', sizeof clip);
    EXPECT_EQ(setCamClipListItemStructIntrospection(static_cast<char*>(gMemCamera), camera, 78, event,
                                                    reinterpret_cast<char*>(&clip)),
              "");
    EXPECT_EQ(std::memcmp(&gen::memCamera().CamClipList0[3], &clip, sizeof clip), 0);
    EXPECT_EQ(gen::memCamera().CamClipList0[2].CamClipCodec[29], 0);
    EXPECT_EQ(gen::memCamera().CamClipList0[4].CamClipPlayable, false);
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{626, 1, 3}}));
}
