// Reading and writing variables of each base type as text: accepted forms,
// rejected forms and their error texts, limits.
#include "apps/common/introspection/setters.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {
class ValueText : public StoreTest {
protected:
    BrokerStub broker;

    std::string set(VarRef ref, char const* text) { return Introspection::setVarValue(ref.mem, ref.var, text); }
    std::string get(VarRef ref) { return Introspection::getVarValue(ref.mem, ref.var, 0); }
};

// Replaces a catalogue record's limits for one test.
class LimitOverride {
public:
    LimitOverride(VarRef ref, char const* min, char const* max)
        : info(Introspection::variable(ref.mem, ref.var)), savedMin(info.min), savedMax(info.max) {
        info.min = min;
        info.max = max;
    }
    ~LimitOverride() {
        info.min = savedMin;
        info.max = savedMax;
    }

private:
    VariableInfo& info;
    char const* savedMin;
    char const* savedMax;
};
}  // namespace

TEST_F(ValueText, IntsAreReadInAutomaticBaseWithoutLimitCheckAndUnconvertibleOnesLeaveTheValue) {
    VarRef power = findVariable("MemPersistent", "RadioPower");
    struct Case {
        char const* text;
        char const* stored;
    } cases[] = {{"0x1F", "31"}, {"0X10", "16"}, {"017", "15"}, {"12abc", "12"}, {"  -7", "-7"}, {"+8", "8"},
                 {"0x", "0"},    {"1000", "1000"}, {"2147483647", "2147483647"}, {"-2147483648", "-2147483648"}};
    for (Case const& c : cases) {
        EXPECT_EQ(set(power, c.text), "") << c.text;
        EXPECT_EQ(get(power), c.stored) << c.text;
    }
    for (char const* text : {"abc", "4294967296", "2147483648", "", "-", " ", "x12"})
        EXPECT_EQ(set(power, text), std::string("Can't convert ") + text + " to int");
    EXPECT_EQ(get(power), "-2147483648");
}

TEST_F(ValueText, FloatsUseSixDecimalsAndAcceptWhatStofAccepts) {
    VarRef joystick = findVariable("MemDynamic", "JoystickX");
    struct Case {
        char const* text;
        char const* stored;
    } cases[] = {{"0.1", "0.100000"},   {"-2", "-2.000000"}, {"1.5xyz", "1.500000"}, {"0x1p-2", "0.250000"},
                 {" 3e2", "300.000000"}, {"inf", "inf"},      {"nan", "nan"},         {"-0", "-0.000000"}};
    for (Case const& c : cases) {
        EXPECT_EQ(set(joystick, c.text), "") << c.text;
        EXPECT_EQ(get(joystick), c.stored) << c.text;
    }
    ASSERT_EQ(set(joystick, "0.5"), "");
    for (char const* text : {"1e99", "-1e99", "abc", "", "."})
        EXPECT_EQ(set(joystick, text), std::string("Can't convert ") + text + " to float");
    EXPECT_EQ(get(joystick), "0.500000");
}

TEST_F(ValueText, BoolsAcceptExactlyTrueAndFalse) {
    VarRef boost = findVariable("MemPersistent", "RadioBoost");
    EXPECT_EQ(set(boost, "true"), "");
    EXPECT_EQ(get(boost), "true");
    for (char const* text : {"TRUE", "True", " true", "true ", "1", "0", "yes", ""})
        EXPECT_EQ(set(boost, text), "Value has to be 'true' or 'false'") << text;
    EXPECT_EQ(get(boost), "true");
    EXPECT_EQ(set(boost, "false"), "");
    EXPECT_EQ(*addressOf(boost), 0);

    // Any non-zero byte another process wrote reads as true.
    *addressOf(boost) = 2;
    EXPECT_EQ(get(boost), "true");
}

TEST_F(ValueText, StringsAreCutToTheirCapacity) {
    VarRef modem = findVariable("MemStatic", "ModemVersionString");
    std::string sixty(60, 'v');
    EXPECT_EQ(set(modem, sixty.c_str()), "");
    EXPECT_EQ(get(modem), std::string(49, 'v'));
    EXPECT_EQ(set(modem, "v1.2 \"beta\" \\ \xc3\xa9"), "");
    EXPECT_EQ(get(modem), "v1.2 \"beta\" \\ \xc3\xa9");
    EXPECT_EQ(set(modem, ""), "");
    EXPECT_EQ(get(modem), "");
}

TEST_F(ValueText, BuffersAreHexPairsWrittenUntilTheTextOrTheLengthEnds) {
    VarRef flags = findVariable("MemGuiLocal", "ForcePadAssignmentFlags");
    unsigned char* bytes = reinterpret_cast<unsigned char*>(addressOf(flags));
    EXPECT_EQ(set(flags, "0A0b0C0d"), "");
    EXPECT_EQ(get(flags), "0a0b0c0d");

    EXPECT_EQ(set(flags, "ff"), "") << "a short text leaves the later bytes";
    EXPECT_EQ(get(flags), "ff0b0c0d");

    EXPECT_EQ(set(flags, "1A0"), "") << "an odd last digit is the high half of its byte";
    EXPECT_EQ(get(flags), "1a000c0d");

    EXPECT_EQ(set(flags, "0A0G"), "Can't convert 0G to buffer");
    EXPECT_EQ(get(flags), "0a000c0d") << "bytes before the bad pair stay written";
    EXPECT_EQ(set(flags, "aaG"), "Can't convert G to buffer");
    EXPECT_EQ(set(flags, "0x12"), "Can't convert 0x12 to buffer");

    EXPECT_EQ(set(flags, "11223344zz"), "") << "text beyond the length is not read";
    EXPECT_EQ(get(flags), "11223344");
    EXPECT_EQ(bytes[0], 0x11);
}

TEST_F(ValueText, EveryBufferLengthReadsAsLowercaseHex) {
    struct Case {
        char const* area;
        char const* name;
        unsigned int length;
    } cases[] = {{"MemDistanceMeasure", "DmdTypeFlags", 1},
                 {"MemGuiLocal", "RadioRegionFlags", 3},
                 {"MemGuiLocal", "ForcePadAssignmentFlags", 4},
                 {"MemCamera", "CamClipList0EnabledFlags", 64}};
    for (Case const& c : cases) {
        VarRef ref = findVariable(c.area, c.name);
        std::string text;
        for (unsigned int i = 0; i < c.length; ++i) text += i % 2 ? "Ab" : "f0";
        EXPECT_EQ(set(ref, text.c_str()), "") << c.name;
        std::string lower;
        for (unsigned int i = 0; i < c.length; ++i) lower += i % 2 ? "ab" : "f0";
        EXPECT_EQ(get(ref), lower) << c.name;
    }
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

    VarRef power = findVariable("MemPersistent", "RadioPower");
    VarRef joystick = findVariable("MemDynamic", "JoystickX");
    LimitOverride noIntLimits(power, nullptr, nullptr);
    LimitOverride noFloatLimits(joystick, nullptr, nullptr);
    EXPECT_EQ(limits("MemPersistent", "RadioPower"), "-2147483648 2147483647");
    EXPECT_EQ(limits("MemDynamic", "JoystickX"), "-1e38 1e38");
}

TEST_F(ValueText, CheckMinMaxComparesNumbersAndReportsUnconvertibleText) {
    auto check = [](VarRef ref, char const* value, std::string& error) {
        return Introspection::checkMinMax(ref.mem, ref.var, value, error);
    };
    std::string error;
    VarRef power = findVariable("MemPersistent", "RadioPower");
    EXPECT_TRUE(check(power, "0", error));
    EXPECT_TRUE(check(power, "100", error));
    EXPECT_FALSE(check(power, "101", error));
    EXPECT_FALSE(check(power, "-1", error));
    EXPECT_TRUE(check(power, "0x50", error)) << "decimal only: 0x50 is 0";
    EXPECT_EQ(error, "");
    EXPECT_FALSE(check(power, "abc", error));
    EXPECT_EQ(error, "Can't convert \"abc\"\n");

    VarRef joystick = findVariable("MemDynamic", "JoystickX");
    {
        LimitOverride onlyMax(joystick, nullptr, "1");
        EXPECT_TRUE(check(joystick, "-5", error));
        EXPECT_FALSE(check(joystick, "2", error));
        EXPECT_FALSE(check(joystick, "nan", error));
    }
    {
        LimitOverride none(power, nullptr, nullptr);
        EXPECT_TRUE(check(power, "junk", error)) << "without limits any text passes";
    }
    error.clear();
    EXPECT_FALSE(check(findVariable("MemDistanceMeasure", "DmdTypeFlags"), "00", error));
    EXPECT_TRUE(check(findVariable("MemPersistent", "RadioBoost"), "junk", error));
    EXPECT_TRUE(check(findVariable("MemStatic", "ModemVersionString"), "junk", error));
    EXPECT_TRUE(check(findVariable("MemDynamic", "PowerState"), "junk", error));
    EXPECT_EQ(error, "");
}

TEST_F(ValueText, AreasNotYetMappedAnswerNotAvailable) {
    VarRef power = findVariable("MemPersistent", "RadioPower");
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    UnmappedArea persistent(power.mem);
    UnmappedArea camera(clips.mem);
    EXPECT_EQ(Introspection::getVarValue(power.mem, power.var, 0), "n/a");
    EXPECT_EQ(Introspection::setVarValue(power.mem, power.var, "1"), "n/a");
    EXPECT_EQ(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"x", false}}}, 0), "n/a");
}
