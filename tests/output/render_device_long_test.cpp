// An hour of a looping song through the render device: the positions and the
// play time stay exactly where the frame count says, with nothing drifting.

#include <gtest/gtest.h>

#include "tests/output/wave_output_fixture.h"

namespace {

TEST(RenderDeviceLongRun, AnHourStaysInStep) {
    checkRenderStaysInStep(3600.0);
}

}  // namespace
