// When a write posts its variable's change event, and which element a list
// write addresses.
#include "apps/common/introspection/setters.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace {
class ValueEvents : public StoreTest {
protected:
    BrokerStub broker;

    // Writes text and returns how many records reached the broker.
    std::size_t posts(VarRef ref, char const* text) {
        Introspection::setVarValue(ref.mem, ref.var, text);
        return broker.takePosted().size();
    }
};
}  // namespace

// Numbers, bools and enumerations post only on a change; strings and buffers
// on every write. A refused text posts nothing.
TEST_F(ValueEvents, WritesPostTheVariablesEventWhenTheyShould) {
    struct Case {
        char const* area;
        char const* name;
        char const* first;
        char const* sameValue;
        char const* other;
        char const* refused;
        std::size_t samePosts;
    } cases[] = {{"MemPersistent", "RadioPower", "16", "0x10", "17", "abc", 0},
                 {"MemDynamic", "JoystickX", "0.5", "5e-1", "0.25", "1e99", 0},
                 {"MemPersistent", "RadioBoost", "true", "true", "false", "yes", 0},
                 {"MemDynamic", "PowerState", "Tlx", "Tlx", "Usb", "tlx", 0},
                 {"MemStatic", "ModemVersionString", "1.0", "1.0", "", nullptr, 1},
                 {"MemGuiLocal", "ForcePadAssignmentFlags", "01020304", "01020304", "", "01zz", 1}};
    for (Case const& c : cases) {
        VarRef ref = findVariable(c.area, c.name);
        Introspection::setVarValue(ref.mem, ref.var, c.first);
        EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{Introspection::getVarEvent(ref.mem, ref.var)})) << c.name;
        EXPECT_EQ(posts(ref, c.sameValue), c.samePosts) << c.name;
        EXPECT_EQ(posts(ref, c.other), 1u) << c.name;
        if (c.refused) {
            EXPECT_EQ(posts(ref, c.refused), 0u) << c.name;
        }
    }
}

TEST_F(ValueEvents, FixedTextVariablesPostOnlyOnChangeAndKeepTheirTerminator) {
    std::array<char, 64> text{};
    Notify event{7, 0, 0};
    setVariable(text, event, "abc");
    setVariable(text, event, "abc");
    EXPECT_EQ(broker.takePosted().size(), 1u);
    std::string longText(100, 'x');
    setVariable(text, event, longText.c_str());
    EXPECT_EQ(std::string(text.data()), std::string(63, 'x'));
    setVariable(text, event, longText.c_str());
    EXPECT_EQ(broker.takePosted().size(), 2u) << "a cut text never equals its source";

    std::array<char, 128> wide{};
    setVariable(wide, event, "");
    EXPECT_EQ(broker.takePosted().size(), 0u);
}

TEST_F(ValueEvents, ListElementsAreAddressedByTheEventsFlagAndIndex) {
    VarRef power = findVariable("MemPersistent", "RadioPower");
    VarRef boost = findVariable("MemPersistent", "RadioBoost");
    char* payload = addressOf(power) - Introspection::variable(power.mem, power.var).offset;
    Notify event = Introspection::getVarEvent(power.mem, power.var);
    unsigned char before[16];
    std::memcpy(before, addressOf(power), sizeof before);

    event.flag = 1;
    event.index = 2;
    EXPECT_EQ(setIntIntrospection(payload, power.mem, power.var, event, "77"), "");
    EXPECT_EQ(getIntIntrospection(addressOf(power), 2), "77");
    EXPECT_EQ(std::memcmp(before, addressOf(power), 8), 0) << "elements 0 and 1 untouched";

    event.flag = 2;
    EXPECT_EQ(setIntIntrospection(payload, power.mem, power.var, event, "5"), "");
    EXPECT_EQ(setFloatIntrospection(payload, power.mem, power.var, event, "5"), "");
    EXPECT_EQ(setBoolIntrospection(payload, boost.mem, boost.var, event, "true"), "");
    EXPECT_EQ(getIntIntrospection(addressOf(power), 0), std::to_string(*reinterpret_cast<int*>(before)));
    auto posted = broker.takePosted();
    ASSERT_EQ(posted.size(), 1u) << "an unknown list flag writes and posts nothing";
    EXPECT_EQ(posted[0].flag, 1u);
    EXPECT_EQ(posted[0].index, 2u);

    Notify boolEvent = Introspection::getVarEvent(boost.mem, boost.var);
    boolEvent.flag = 1;
    boolEvent.index = 3;
    char const old = addressOf(boost)[3];
    EXPECT_EQ(setBoolIntrospection(payload, boost.mem, boost.var, boolEvent, old ? "false" : "true"), "");
    EXPECT_EQ(addressOf(boost)[3], old ? 0 : 1) << "bools have a stride of one byte";
    addressOf(boost)[3] = old;
}

TEST_F(ValueEvents, StructFieldWritesKeepTheirElementInTheCatalogue) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    Notify const catalogued = Introspection::getVarEvent(clips.mem, clips.var);
    ASSERT_EQ(catalogued.flag, 1u);
    EXPECT_EQ(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"take 7", false}}}, 3), "");
    auto posted = broker.takePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], (Notify{catalogued.id, 1, 3}));
    EXPECT_EQ(Introspection::getVarEvent(clips.mem, clips.var).index, 3u);
    EXPECT_STREQ(addressOf(clips) + 3 * 128 + 8, "take 7");

    // A whole-structure write then lands on the same element.
    std::string image(addressOf(clips) + 3 * 128, 128);
    Introspection::setVarValue(clips.mem, clips.var, image.data());
    EXPECT_EQ(broker.takePosted().size(), 0u) << "an identical image posts nothing";
    image[98] = 'H';
    Introspection::setVarValue(clips.mem, clips.var, image.data());
    posted = broker.takePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].index, 3u);
    EXPECT_EQ(addressOf(clips)[3 * 128 + 98], 'H');
}

TEST_F(ValueEvents, ElementIndicesOutsideTheListRaiseAndAreNotKept) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    ASSERT_EQ(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"x", false}}}, 499), "");
    for (int index : {500, -1, 1 << 30})
        EXPECT_THROW(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"y", false}}}, index),
                     std::runtime_error)
            << index;
    EXPECT_EQ(Introspection::getVarEvent(clips.mem, clips.var).index, 499u);
    EXPECT_THROW(Introspection::getVarValue(clips.mem, clips.var, 500), std::runtime_error);
    EXPECT_NO_THROW(Introspection::getVarValue(clips.mem, clips.var, 499));

    VarRef motor = findVariable("MemMotors", "FocusMotor");
    EXPECT_THROW(Introspection::setVarValueJson(motor.mem, motor.var, {{"ActPosition", {"1", false}}}, 1),
                 std::runtime_error)
        << "a single structure has only element 0";
}

TEST_F(ValueEvents, AFailedPostIsReportedAsAConversionFailureAfterTheValueIsStored) {
    gServerConnection = nullptr;
    struct Case {
        char const* area;
        char const* name;
        char const* text;
        char const* type;
        char const* stored;
    } cases[] = {{"MemPersistent", "RadioPower", "99", "int", "99"},
                 {"MemDynamic", "JoystickX", "0.75", "float", "0.750000"},
                 {"MemStatic", "ModemVersionString", "2.0", "string", "2.0"},
                 {"MemGuiLocal", "ForcePadAssignmentFlags", "0a", "buffer", "0a000000"}};
    for (Case const& c : cases) {
        VarRef ref = findVariable(c.area, c.name);
        EXPECT_EQ(Introspection::setVarValue(ref.mem, ref.var, c.text),
                  std::string("Can't convert ") + c.text + " to " + c.type);
        EXPECT_EQ(Introspection::getVarValue(ref.mem, ref.var, 0), c.stored) << c.name;
    }
    VarRef boost = findVariable("MemPersistent", "RadioBoost");
    char const old = *addressOf(boost);
    EXPECT_THROW(Introspection::setVarValue(boost.mem, boost.var, old ? "false" : "true"), std::runtime_error);
}
