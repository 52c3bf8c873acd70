// What the generated structure accessors add to the text and image cases the
// value tests cover: bytes other processes may leave, and single structures.
#include "apps/common/introspection/introspection.h"
#include "gen/code/introspection_gen.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(StructureText, AnyNonZeroByteInABoolFieldReadsAsTrue) {
    gen::ButtonState buttons[3] = {};
    std::memset(&buttons[2].ButtonOk, 0x80, 1);
    EXPECT_EQ(getButtonStateIntrospection(buttons, 2),
              "{\"ButtonPressed\": { \"value\": \"false\", \"type\": \"bool\", \"textid\": [ \"false\", \"true\" ]}"
              ",\"ButtonOk\": { \"value\": \"true\", \"type\": \"bool\", \"textid\": [ \"false\", \"true\" ]}}");
}

class StructureWrite : public StoreTest {
protected:
    BrokerStub broker;
};

TEST_F(StructureWrite, ASingleStructureIgnoresAnElementIndexInItsEvent) {
    unsigned int motors = Introspection::getMemIndex("MemMotors");
    Notify event = Introspection::getVarEvent(motors, 1);
    event.index = 5;
    gen::Motor image = {};
    image.GearTeethSet = 40;
    EXPECT_EQ(setMotorIntrospection(static_cast<char*>(gMemMotors), motors, 1, event, reinterpret_cast<char*>(&image)),
              "");
    EXPECT_EQ(gen::memMotors().IrisMotor.GearTeethSet, 40);
    EXPECT_EQ(gen::memMotors().ZoomMotor.GearTeethSet, 0) << "nothing beyond the structure is written";
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{147, 0, 5}}));
}

TEST_F(StructureWrite, AListElementIsWrittenWholeAndAloneAtItsIndex) {
    unsigned int camera = Introspection::getMemIndex("MemCamera");
    Notify event = Introspection::getVarEvent(camera, 78);
    event.index = 3;
    gen::CamClipListItemStruct image = {};
    std::memset(&image, 'x', sizeof image);
    EXPECT_EQ(setCamClipListItemStructIntrospection(static_cast<char*>(gMemCamera), camera, 78, event,
                                                    reinterpret_cast<char*>(&image)),
              "");
    EXPECT_EQ(std::memcmp(&gen::memCamera().CamClipList0[3], &image, sizeof image), 0);
    EXPECT_EQ(gen::memCamera().CamClipList0[2].CamClipCodec[29], 0);
    EXPECT_EQ(gen::memCamera().CamClipList0[4].CamClipPlayable, false);
    EXPECT_EQ(broker.takePosted(), (std::vector<Notify>{{626, 1, 3}}));
}

}  // namespace
