// Structure variables: their JSON text byte for byte, and writes of one field
// from a parsed set body that must stay inside their field and element.
#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/setters.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <stdexcept>

namespace {
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
    VarRef focus = findVariable("MemMotors", "FocusMotor");
    VarRef clips = findVariable("MemCamera", "CamClipList0");

    void SetUp() override { gEscapePattern = std::regex(R"([\\"])"); }
    void TearDown() override { gEscapePattern = std::regex(); }

    std::string text(VarRef ref, int index = 0) { return Introspection::getVarValue(ref.mem, ref.var, index); }
    void setField(VarRef ref, std::string const& key, std::string const& value, int index = 0) {
        EXPECT_EQ(Introspection::setVarValueJson(ref.mem, ref.var, {{key, {value, false}}}, index), "");
    }
};
}  // namespace

TEST_F(StructText, MotorEnumerationFieldsNameTheirEntryOrShowAsInvalid) {
    char* m = addressOf(focus);
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
    char* element = addressOf(clips) + 3 * 128;
    element[0] = '\x80';  // any non-zero byte another process left is true
    put<float>(element, 4, 23.976f);
    std::strcpy(element + 8, R"(take "1" \ a)");
    std::strcpy(element + 38, "01:02:03:04");
    std::strcpy(element + 98, "ProRes");
    EXPECT_EQ(text(clips, 3),
              R"({"CamClipPlayable": { "value": "true", "type": "bool", "textid": [ "false", "true" ]})"
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

// The last pair names the field; its text is converted by the field's type,
// and only a change posts, but a string field posts on every write.
TEST_F(StructText, OneFieldIsWrittenByItsTypeFromTheLastPair) {
    char* m = addressOf(focus);
    setField(focus, "ActPosition", "0x10");
    setField(focus, "RealLowerLimit", "-1.5");
    setField(focus, "State", "Absent");
    setField(focus, "CalActive", "true");
    EXPECT_EQ(get<int>(m, 8), 16);
    EXPECT_EQ(get<float>(m, 56), -1.5f);
    EXPECT_EQ(get<int>(m, 20), 2);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(broker.takePosted().size(), 4u);

    setField(focus, "ActPosition", "16");
    setField(focus, "RealLowerLimit", "-1.5");
    setField(focus, "State", "Absent");
    setField(focus, "CalActive", "true");
    EXPECT_EQ(broker.takePosted().size(), 0u) << "unchanged fields post nothing";
    setField(clips, "CamClipName", "same", 1);
    setField(clips, "CamClipName", "same", 1);
    EXPECT_EQ(broker.takePosted().size(), 2u);

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
    EXPECT_EQ(Introspection::setVarValueJson(focus.mem, focus.var, {}, 0), "");
    EXPECT_THROW(Introspection::setVarValueJson(focus.mem, focus.var, {{"ActPosition", {"abc", false}}}, 0),
                 std::invalid_argument);
    EXPECT_THROW(Introspection::setVarValueJson(focus.mem, focus.var, {{"RealLowerLimit", {"1e99", false}}}, 0),
                 std::out_of_range);
}

TEST_F(StructText, StringFieldsAreBoundByTheNextFieldOrTheStructureEnd) {
    char* element = addressOf(clips) + 5 * 128;
    std::memset(element, 'z', 2 * 128);
    std::string const longText(10240, 'L');
    setField(clips, "CamClipName", longText, 5);
    EXPECT_EQ(std::string(element + 8), std::string(29, 'L'));
    EXPECT_EQ(element[38], 'z') << "CamClipTimeCode untouched";
    setField(clips, "CamClipCodec", longText, 5);
    EXPECT_EQ(std::string(element + 98), std::string(29, 'L'));
    EXPECT_EQ(element[128], 'z') << "the next element untouched";

    // A field after a nested list is found; the nested list is not written from text.
    VarRef table = findVariable("MemLens", "LensTableIris");
    setField(table, "LensTableValueList", "[1,2]");
    setField(table, "LensTableInverse", "true");
    EXPECT_EQ(addressOf(table)[12313], 1);
    EXPECT_EQ(std::memcmp(addressOf(table) + 24, std::string(256 * 48, '\0').data(), 256 * 48), 0);
}
