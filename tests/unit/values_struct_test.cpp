// Structure variables: their JSON text byte for byte, and writes of one field
// from a parsed set body.
#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/setters.h"
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

TEST_F(StructText, MotorListsEveryFieldWithItsDescription) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    char* m = addressOf(focus);
    std::memset(m, 0, 88);
    m[0] = 1;  // CalActive
    m[2] = 1;  // CalSkippable
    m[5] = 1;  // ActPosValid
    put<int>(m, 8, 1234);
    put<int>(m, 16, 32);
    put<int>(m, 20, 1);
    put<int>(m, 24, 2);
    put<int>(m, 28, 1);
    put<int>(m, 32, 65535);
    put<int>(m, 40, 40000);
    put<int>(m, 44, -5);
    m[48] = 1;  // SoftBndActive
    m[50] = 1;  // CalFinished
    put<int>(m, 52, 1);
    put<float>(m, 56, 0.5f);
    put<float>(m, 60, -2.0f);
    put<int>(m, 68, 6);
    put<int>(m, 76, 2);
    put<int>(m, 80, 255);
    m[84] = 1;  // ConnectNew

    std::string const expected =
        "{\"CalActive\": " + TRUE_TEXT + ",\"CalRequest\": " + FALSE_TEXT + ",\"CalSkippable\": " + TRUE_TEXT +
        ",\"SetToIdle\": " + FALSE_TEXT + ",\"OffsetActive\": " + FALSE_TEXT + ",\"ActPosValid\": " + TRUE_TEXT +
        R"(,"ActPosition": {"max":"65535","min":"0","type":"int","value":"1234"})"
        ",\"GearTeethAuto\": " + FALSE_TEXT +
        R"(,"GearTeethAct": {"max":"255","min":"0","type":"int","value":"32"})"
        R"(,"State":  { "value": "Present", "type": "MotorStatus", "textid": [ "Unknown","Present","Absent","Unavailable","NewConnected","NotDriven"]})"
        R"(,"ConnectState":  { "value": "ConnectedToCable", "type": "MotorConnection", "textid": [ "NotConnected","ConnectedToModem","ConnectedToCable"]})"
        R"(,"Side":  { "value": "Right", "type": "MotorSide", "textid": [ "Left","Right"]})"
        R"(,"BndUpper": {"max":"65535","min":"0","type":"int","value":"65535"})"
        R"(,"BndLower": {"max":"65535","min":"0","type":"int","value":"0"})"
        R"(,"SoftBndUpper": {"max":"65535","min":"0","type":"int","value":"40000"})"
        R"(,"SoftBndLower": {"max":"65535","min":"0","type":"int","value":"-5"})"
        ",\"SoftBndActive\": " + TRUE_TEXT + ",\"MasterMode\": " + FALSE_TEXT + ",\"CalFinished\": " + TRUE_TEXT +
        R"(,"MotorAxis":  { "value": "Focus", "type": "Axis", "textid": [ "Off","Focus","Iris","Zoom","AUX","DMD"]})"
        R"(,"RealLowerLimit": {"max":"1e+38","min":"-1e+38","type":"float","value":"0.500000"})"
        R"(,"RealUpperLimit": {"max":"1e+38","min":"-1e+38","type":"float","value":"-2.000000"})"
        ",\"ManualCalibrationPossible\": " + FALSE_TEXT +
        R"(,"MotorRequestSoftBnd": {"max":"6","min":"0","type":"int","value":"6"})"
        ",\"MotorIsOnBoundary\": " + FALSE_TEXT + ",\"StartCalib\": " + FALSE_TEXT +
        R"(,"SkipCalib":  { "value": "None", "type": "SkipCalibration", "textid": [ "Skip","StartCalibration","None"]})"
        R"(,"GearTeethSet": {"max":"255","min":"0","type":"int","value":"255"})"
        ",\"ConnectNew\": " + TRUE_TEXT + "}";
    EXPECT_EQ(text(focus), expected);
}

TEST_F(StructText, MotorStateOutsideItsEnumerationShowsAsInvalid) {
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    put<int>(addressOf(focus), 20, 9);
    EXPECT_NE(text(focus).find(R"("State":  { "value": "INVALID_VALUE: 9", "type": "MotorStatus", )"),
              std::string::npos);
}

TEST_F(StructText, ClipListElementEscapesItsTexts) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    char* element = addressOf(clips) + 3 * 128;
    std::memset(element, 0, 128);
    element[0] = 1;
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
    int number;
    float real;
    std::memcpy(&number, m + 8, 4);
    std::memcpy(&real, m + 56, 4);
    EXPECT_EQ(number, 16);
    EXPECT_EQ(real, -1.5f);
    std::memcpy(&number, m + 20, 4);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(broker.takePosted().size(), 4u);

    setField(focus, "CalActive", "yes");
    EXPECT_EQ(m[0], 0) << "any text but true is false";
    setField(focus, "State", "absent");
    setField(focus, "NoSuchField", "1");
    std::memcpy(&number, m + 20, 4);
    EXPECT_EQ(number, 2) << "an unknown entry name changes nothing";
    EXPECT_EQ(broker.takePosted().size(), 1u);

    // Only the last pair names the field.
    EXPECT_EQ(Introspection::setVarValueJson(focus.mem, focus.var,
                                             {{"GearTeethSet", {"9", false}}, {"GearTeethAct", {"7", false}}}, 0),
              "");
    std::memcpy(&number, m + 16, 4);
    EXPECT_EQ(number, 7);
    std::memcpy(&number, m + 80, 4);
    EXPECT_EQ(number, 0);
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
