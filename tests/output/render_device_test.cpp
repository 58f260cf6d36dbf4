// The render device hands over exactly the frames that a sound card playing
// the ring from its start would play, and stays in step with the song.

#include <gtest/gtest.h>

#include <vector>

#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "tests/output/wave_output_fixture.h"

namespace {

bool collect(const int16_t* frames, uint32_t frameCount, void* context) {
    auto& values = *static_cast<std::vector<int16_t>*>(context);
    values.insert(values.end(), frames, frames + std::size_t{frameCount} * 2);
    return true;
}

std::vector<int16_t> render(uint64_t frames, int32_t rate = 44100) {
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    setWaveDevice(&device);
    std::vector<int16_t> values;
    if (!openOutputDevice(rate, 0)) {
        ADD_FAILURE() << "the render device did not open";
        return values;
    }
    Song* song = makeTestSong();
    target.sink = collect;
    target.sinkContext = &values;
    target.frameLimit = frames;
    if (playSong(song)) {
        target.finished.wait(false);
    } else {
        ADD_FAILURE() << "playback did not start";
    }
    freeSong(song);
    closeOutputDevice();
    setWaveDevice(nullptr);
    return values;
}

class RenderDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override { registerFileStream(); }
};

// The reference plays the ring as a sound card would, one block at a time:
// after the feeder has caught up with a block, that block is what is heard.
TEST_F(RenderDeviceTest, HandsOverWhatASoundCardWouldPlay) {
    constexpr int32_t blocks = 250;
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    setWaveDevice(&device);
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* song = makeTestSong();
    ASSERT_TRUE(playSong(song));
    const auto blockValues = static_cast<std::size_t>(outputDevice.blockFrames) * 2;
    std::vector<int16_t> played;
    for (int32_t block = 0; block < blocks; ++block) {
        advanceClockTo(clock, static_cast<uint64_t>(block) * outputDevice.blockFrames);
        const int16_t* start = outputDevice.pcmBuffer + (block % ringBlockCount()) * blockValues;
        played.insert(played.end(), start, start + blockValues);
    }
    freeSong(song);
    closeOutputDevice();

    const std::vector<int16_t> rendered = render(played.size() / 2);
    ASSERT_EQ(rendered.size(), played.size());
    std::size_t firstDifference = 0;
    while (firstDifference < played.size() &&
           played[firstDifference] == rendered[firstDifference]) {
        ++firstDifference;
    }
    EXPECT_EQ(firstDifference, played.size()) << "frames differ from frame " << firstDifference / 2;
}

TEST_F(RenderDeviceTest, StopsAtTheExactFrameAndRepeatsItself) {
    const std::vector<int16_t> longer = render(100000);
    const std::vector<int16_t> odd = render(12345);
    ASSERT_EQ(longer.size(), 200000u);
    ASSERT_EQ(odd.size(), 12345u * 2);
    EXPECT_TRUE(std::equal(odd.begin(), odd.end(), longer.begin()));
    EXPECT_TRUE(render(100000) == longer);
}

bool refuseAfterTwoHandOvers(const int16_t*, uint32_t, void* context) {
    return ++*static_cast<int*>(context) <= 2;
}

TEST_F(RenderDeviceTest, ASinkThatRefusesEndsTheRender) {
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    setWaveDevice(&device);
    ASSERT_TRUE(openOutputDevice(22050, 0));
    Song* song = makeTestSong();
    int handOvers = 0;
    target.sink = refuseAfterTwoHandOvers;
    target.sinkContext = &handOvers;
    target.frameLimit = 0;
    ASSERT_TRUE(playSong(song));
    target.finished.wait(false);
    EXPECT_TRUE(target.sinkRefused.load());
    EXPECT_EQ(target.framesDelivered.load(), 2u * outputDevice.ringFrames / 2);
    freeSong(song);
    closeOutputDevice();
    setWaveDevice(nullptr);
}

TEST_F(RenderDeviceTest, FortySecondsStayInStep) {
    checkRenderStaysInStep(40.0);
}

}  // namespace
