#include "mouldinspection.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mouldscene;

namespace {

// The engine as an operator gets it, learnt once for the whole suite.
class MouldCycle : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { inspection = new MouldInspection(); }
    static void TearDownTestSuite()
    {
        delete inspection;
        inspection = nullptr;
        gpWPara = nullptr;
    }
    static MouldInspection* inspection;
};
MouldInspection* MouldCycle::inspection = nullptr;

} // namespace

TEST_F(MouldCycle, GoodCyclesPassUnderEveryDisturbanceButGlareAndDroplets)
{
    // Positioning takes the large shift and turn; the ROIs absorb the rest.
    FrameSpec shifted;
    shifted.camera.dx = 7.6;
    shifted.camera.dy = -5.3;
    FrameSpec turned;
    turned.camera.angle = 1.5;
    FrameSpec mixed = good(Disturbance::Mix, 11);
    mixed.camera.angle = -1.4;
    mixed.camera.dx = -6.5;
    for (const FrameSpec* spec : {&shifted, &turned, &mixed}) {
        std::vector<int> ng;
        EXPECT_TRUE(inspection->check(render(*spec), &ng)) << "dx " << spec->camera.dx << ", angle "
                                                            << spec->camera.angle << ", NG ROIs " << ng.size();
    }
    for (Disturbance d : kGoodClasses) {
        if (d == Disturbance::Glare || d == Disturbance::Droplet || d == Disturbance::Mix)
            continue;
        EXPECT_TRUE(inspection->check(render(good(d, 5)))) << name(d);
    }
}

TEST_F(MouldCycle, LeftOverPartsAreNgInTheirOwnRoiOnly)
{
    unsigned seed = 90;
    for (Contrast c : {Contrast::Bright, Contrast::Dark, Contrast::Texture}) {
        FrameSpec spec = withPart(c, c == Contrast::Dark ? Place::Straddling : Place::Centre, 0.005, ++seed);
        std::vector<int> ng;
        EXPECT_FALSE(inspection->check(render(spec), &ng)) << name(c);
        EXPECT_EQ(ng, std::vector<int>{spec.part.roi}) << name(c);
    }
}
