// Reading and writing variables of each base type as text: accepted forms,
// rejected forms and their error texts, limits, and the description escaping.
#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/introspection/setters.h"
#include "gen/code/introspection_gen.h"
#include "values_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <utility>

namespace {
class ValueText : public StoreTest {
protected:
    BrokerStub broker;

    std::string set(VarRef ref, char const* text) { return Introspection::setVarValue(ref.mem, ref.var, text); }
    std::string get(VarRef ref) { return Introspection::getVarValue(ref.mem, ref.var, 0); }
};
}  // namespace

// In order, on one variable of each kind: the answer to the write (empty when
// taken) and the value text after it; a refused write leaves the value.
TEST_F(ValueText, WritesTakeTheirTypesFormsAndRefuseTheRestWithItsText) {
    std::string const sixty(60, 'v'), fortyNine(49, 'v');
    struct Case {
        char const* area;
        char const* name;
        char const* text;
        char const* answer;
        char const* stored;
    } cases[] = {
        // Ints in automatic base, trailing text ignored, the limits not checked.
        {"MemPersistent", "RadioPower", "0x1F", "", "31"},
        {"MemPersistent", "RadioPower", "017", "", "15"},
        {"MemPersistent", "RadioPower", "  -7abc", "", "-7"},
        {"MemPersistent", "RadioPower", "1000", "", "1000"},
        {"MemPersistent", "RadioPower", "2147483647", "", "2147483647"},
        {"MemPersistent", "RadioPower", "2147483648", "Can't convert 2147483648 to int", "2147483647"},
        {"MemPersistent", "RadioPower", "-2147483648", "", "-2147483648"},
        {"MemPersistent", "RadioPower", "abc", "Can't convert abc to int", "-2147483648"},
        {"MemPersistent", "RadioPower", "", "Can't convert  to int", "-2147483648"},
        // Floats with six decimals, as far as a float reaches.
        {"MemDynamic", "JoystickX", "0.1", "", "0.100000"},
        {"MemDynamic", "JoystickX", "0x1p-2xyz", "", "0.250000"},
        {"MemDynamic", "JoystickX", "inf", "", "inf"},
        {"MemDynamic", "JoystickX", "-0", "", "-0.000000"},
        {"MemDynamic", "JoystickX", "1e99", "Can't convert 1e99 to float", "-0.000000"},
        {"MemDynamic", "JoystickX", ".", "Can't convert . to float", "-0.000000"},
        // Bools: exactly true or false.
        {"MemPersistent", "RadioBoost", "true", "", "true"},
        {"MemPersistent", "RadioBoost", "TRUE", "Value has to be 'true' or 'false'", "true"},
        {"MemPersistent", "RadioBoost", "1", "Value has to be 'true' or 'false'", "true"},
        {"MemPersistent", "RadioBoost", "true ", "Value has to be 'true' or 'false'", "true"},
        {"MemPersistent", "RadioBoost", "false", "", "false"},
        // Strings cut to their capacity, other bytes kept as they are.
        {"MemStatic", "ModemVersionString", sixty.c_str(), "", fortyNine.c_str()},
        {"MemStatic", "ModemVersionString", "v1.2 \"b\" \\ \xc3\xa9", "", "v1.2 \"b\" \\ \xc3\xa9"},
        // Enumerations: an exact entry name only.
        {"MemDynamic", "PowerState", "Usb", "", "Usb"},
        {"MemDynamic", "PowerState", "usb", "usb is not part of enum PowerState", "Usb"},
        {"MemDynamic", "PowerState", "1", "1 is not part of enum PowerState", "Usb"},
        // Buffers: hex pairs until the text or the length ends, read back in lowercase.
        {"MemGuiLocal", "ForcePadAssignmentFlags", "0A0b0C0d", "", "0a0b0c0d"},
        {"MemGuiLocal", "ForcePadAssignmentFlags", "ff", "", "ff0b0c0d"},
        {"MemGuiLocal", "ForcePadAssignmentFlags", "1A0", "", "1a000c0d"},  // an odd digit is a high half
        {"MemGuiLocal", "ForcePadAssignmentFlags", "0A0G", "Can't convert 0G to buffer", "0a000c0d"},
        {"MemGuiLocal", "ForcePadAssignmentFlags", "aaG", "Can't convert G to buffer", "aa000c0d"},
        {"MemGuiLocal", "ForcePadAssignmentFlags", "0x12", "Can't convert 0x12 to buffer", "aa000c0d"},
        {"MemGuiLocal", "ForcePadAssignmentFlags", "11223344zz", "", "11223344"},
        {"MemDistanceMeasure", "DmdTypeFlags", "F0aa", "", "f0"},
        {"MemGuiLocal", "RadioRegionFlags", "f0Abf0", "", "f0abf0"},
    };
    for (Case const& c : cases) {
        VarRef ref = findVariable(c.area, c.name);
        EXPECT_EQ(set(ref, c.text), c.answer) << c.name << " <- " << c.text;
        EXPECT_EQ(get(ref), c.stored) << c.name << " <- " << c.text;
    }
    VarRef list = findVariable("MemCamera", "CamClipList0EnabledFlags");
    std::string full;
    for (int i = 0; i < 64; ++i) full += i % 2 ? "ab" : "f0";
    EXPECT_EQ(set(list, full.c_str()), "");
    EXPECT_EQ(get(list), full);

    VarRef boost = findVariable("MemPersistent", "RadioBoost");
    *addressOf(boost) = 2;
    EXPECT_EQ(get(boost), "true") << "any non-zero byte another process wrote";
}

TEST_F(ValueText, LimitsAsTextByBaseType) {
    auto limits = [](char const* area, char const* name) {
        VarRef ref = findVariable(area, name);
        return Introspection::getVarMin(ref.mem, ref.var) + " " + Introspection::getVarMax(ref.mem, ref.var);
    };
    EXPECT_EQ(limits("MemPersistent", "RadioPower"), "0 100");
    EXPECT_EQ(limits("MemDynamic", "JoystickX"), "-1 1");
    EXPECT_EQ(limits("MemDynamic", "PowerState"), "0 5");
    EXPECT_EQ(limits("MemPersistent", "RadioBoost"), "0 1");
    EXPECT_EQ(limits("MemStatic", "ModemVersionString"), "0 0");
    EXPECT_EQ(limits("MemDistanceMeasure", "DmdTypeFlags"), "0 1");
    EXPECT_EQ(limits("MemMotors", "FocusMotor"), "0 0");

    // A number without limits in its record spans its type.
    VarRef powerRef = findVariable("MemPersistent", "RadioPower"), joystickRef = findVariable("MemDynamic", "JoystickX");
    VariableInfo& power = Introspection::variable(powerRef.mem, powerRef.var);
    VariableInfo& joystick = Introspection::variable(joystickRef.mem, joystickRef.var);
    VariableInfo const savedPower = power, savedJoystick = joystick;
    power.min = power.max = joystick.min = joystick.max = nullptr;
    EXPECT_EQ(limits("MemPersistent", "RadioPower"), "-2147483648 2147483647");
    EXPECT_EQ(limits("MemDynamic", "JoystickX"), "-1e38 1e38");
    power = savedPower;
    joystick = savedJoystick;
}

TEST_F(ValueText, AreasNotYetMappedAnswerNotAvailable) {
    VarRef power = findVariable("MemPersistent", "RadioPower");
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    void* persistent = std::exchange(*gen::AREA_POINTERS[power.mem], nullptr);
    void* camera = std::exchange(*gen::AREA_POINTERS[clips.mem], nullptr);
    EXPECT_EQ(Introspection::getVarValue(power.mem, power.var, 0), "n/a");
    EXPECT_EQ(Introspection::setVarValue(power.mem, power.var, "1"), "n/a");
    EXPECT_EQ(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"x", false}}}, 0), "n/a");
    *gen::AREA_POINTERS[power.mem] = persistent;
    *gen::AREA_POINTERS[clips.mem] = camera;
}

TEST(ValueDescription, EscapesAsJsonRequiresAndRefusesBrokenUtf8) {
    EXPECT_EQ(Introspection::printValue("a\"b\\c\nd\te\x01 \xc2\xb5", "string", "0", "0"),
              "{\"max\":\"0\",\"min\":\"0\",\"type\":\"string\",\"value\":\"a\\\"b\\\\c\\nd\\te\\u0001 \xc2\xb5\"}");
    EXPECT_THROW(Introspection::printValue("\xc3\x28", "string", "0", "0"), nlohmann::json::type_error);
}

TEST(Escape, QuotesAndBackslashesGetABackslashOnceAPatternIsSet) {
    gEscapePattern = std::regex();
    EXPECT_EQ(jsontext::patternEscaped(R"(a"b\c)"), R"(a"b\c)");
    jsontext::setEscapePattern(R"([\\"])");
    EXPECT_EQ(jsontext::patternEscaped(R"(\\"" \xc2)"), R"(\\\\\"\" \\xc2)");
    EXPECT_THROW(jsontext::setEscapePattern("[unclosed"), std::regex_error);
    EXPECT_EQ(jsontext::patternEscaped(R"(a"b)"), R"(a\"b)") << "an invalid pattern keeps the previous one";
    gEscapePattern = std::regex();
}
