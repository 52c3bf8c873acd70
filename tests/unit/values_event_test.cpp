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
}

TEST_F(ValueEvents, ListElementsAreAddressedByTheEventsFlagAndIndex) {
    VarRef power = findVariable("MemPersistent", "RadioPower");
    VarRef boost = findVariable("MemPersistent", "RadioBoost");
    char* payload = addressOf(power) - Introspection::variable(power.mem, power.var).offset;
    StoreSnapshot before(power);
    Notify event{Introspection::getVarEvent(power.mem, power.var).id, 1, 2};
    EXPECT_EQ(setIntIntrospection(payload, power.mem, power.var, event, "77"), "");
    EXPECT_EQ(getIntIntrospection(addressOf(power), 2), "77");
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{event}));
    EXPECT_EQ(setBoolIntrospection(payload, boost.mem, boost.var, {event.id, 1, 3}, "true"), "");
    EXPECT_EQ(addressOf(boost)[3], 1) << "bools have a stride of one byte";
    broker.takePosted();
    before.restore();

    for (Notify unknown : {Notify{event.id, 2, 0}, Notify{event.id, 7, 1}}) {
        EXPECT_EQ(setIntIntrospection(payload, power.mem, power.var, unknown, "5"), "");
        EXPECT_EQ(setFloatIntrospection(payload, power.mem, power.var, unknown, "5"), "");
        EXPECT_EQ(setBoolIntrospection(payload, boost.mem, boost.var, unknown, "true"), "");
    }
    EXPECT_EQ(before.changedOutside(power), "") << "an unknown list flag writes nothing";
    EXPECT_EQ(getIntIntrospection(addressOf(power), 0), "0");
    EXPECT_TRUE(broker.takePosted().empty()) << "and posts nothing";
}

TEST_F(ValueEvents, StructFieldWritesKeepTheirElementInTheCatalogue) {
    VarRef clips = findVariable("MemCamera", "CamClipList0");
    Notify const catalogued = Introspection::getVarEvent(clips.mem, clips.var);
    EXPECT_EQ(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"take 7", false}}}, 3), "");
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{catalogued.id, 1, 3}}));
    EXPECT_STREQ(addressOf(clips) + 3 * 128 + 8, "take 7");

    // A whole-structure write then lands on the same element.
    std::string image(addressOf(clips) + 3 * 128, 128);
    Introspection::setVarValue(clips.mem, clips.var, image.data());
    EXPECT_EQ(broker.takePosted().size(), 0u) << "an identical image posts nothing";
    image[98] = 'H';
    Introspection::setVarValue(clips.mem, clips.var, image.data());
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{catalogued.id, 1, 3}}));
    EXPECT_EQ(addressOf(clips)[3 * 128 + 98], 'H');

    // Indices outside the list raise and are not kept; a single structure has element 0 only.
    for (int index : {500, -1, 1 << 30})
        EXPECT_THROW(Introspection::setVarValueJson(clips.mem, clips.var, {{"CamClipName", {"y", false}}}, index),
                     std::runtime_error)
            << index;
    EXPECT_EQ(Introspection::getVarEvent(clips.mem, clips.var).index, 3u);
    EXPECT_THROW(Introspection::getVarValue(clips.mem, clips.var, 500), std::runtime_error);
    EXPECT_NO_THROW(Introspection::getVarValue(clips.mem, clips.var, 499));
    VarRef motor = findVariable("MemMotors", "FocusMotor");
    EXPECT_THROW(Introspection::setVarValueJson(motor.mem, motor.var, {{"ActPosition", {"1", false}}}, 1),
                 std::runtime_error);
}

// Without a broker the post raises: the value is stored, and the answer is
// the conversion failure text.
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
    EXPECT_THROW(Introspection::setVarValue(boost.mem, boost.var, "true"), std::runtime_error);
}
