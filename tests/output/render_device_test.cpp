// The render device hands over exactly the frames that a sound card playing
// the ring from its start would play, the same frames that the pull API
// renders, and stays in step with the song.

#include "player/output/render_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "player/output/wave_output.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/output/wave_output_fixture.h"

using namespace xmplayer;

namespace {

bool collect(const int16_t* frames, uint32_t frameCount, void* context) {
    auto& values = *static_cast<std::vector<int16_t>*>(context);
    values.insert(values.end(), frames, frames + std::size_t{frameCount} * 2);
    return true;
}

std::vector<int16_t> render(uint64_t frames, int32_t rate = 44100) {
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    OutputDevice output;
    setWaveDevice(output, &device);
    std::vector<int16_t> values;
    if (!openOutputDevice(output, rate)) {
        ADD_FAILURE() << "the render device did not open";
        return values;
    }
    Song* song = makeTestSong();
    target.sink = collect;
    target.sinkContext = &values;
    target.frameLimit = frames;
    if (playSong(output, song)) {
        waitWhile(target.finished, false);
    } else {
        ADD_FAILURE() << "playback did not start";
    }
    closeOutputDevice(output);
    freeSong(song);
    return values;
}

// The reference plays the ring as a sound card would, one block at a time:
// after the feeder has caught up with a block, that block is what is heard.
TEST(RenderDeviceTest, HandsOverWhatASoundCardWouldPlay) {
    constexpr int32_t blocks = 250;
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    OutputDevice output;
    setWaveDevice(output, &device);
    ASSERT_TRUE(openOutputDevice(output, 44100));
    Song* song = makeTestSong();
    ASSERT_TRUE(playSong(output, song));
    const auto blockValues = static_cast<std::size_t>(output.blockFrames) * 2;
    std::vector<int16_t> played;
    for (int32_t block = 0; block < blocks; ++block) {
        advanceClockTo(clock, static_cast<uint64_t>(block) * output.blockFrames);
        const int16_t* start = output.pcmBuffer + (block % ringBlockCount(output)) * blockValues;
        played.insert(played.end(), start, start + blockValues);
    }
    closeOutputDevice(output);
    freeSong(song);

    const std::vector<int16_t> rendered = render(played.size() / 2);
    ASSERT_EQ(rendered.size(), played.size());
    const auto difference = std::mismatch(played.begin(), played.end(), rendered.begin()).first;
    EXPECT_EQ(difference, played.end())
        << "frames differ from frame " << (difference - played.begin()) / 2;
}

// The driver and the pull API are two users of one rendering core.
TEST(RenderDeviceTest, HandsOverWhatThePullApiRenders) {
    for (const int32_t rate : {44100, 22050}) {
        const uint64_t frames = 3 * static_cast<uint64_t>(rate) + 17;
        const std::vector<int16_t> rendered = render(frames, rate);
        Song* song = makeTestSong();
        Player* player = createPlayer(*song, rate);
        ASSERT_NE(player, nullptr);
        std::vector<int16_t> pulled(rendered.size());
        renderFrames(*player, pulled.data(), static_cast<int32_t>(frames));
        destroyPlayer(player);
        freeSong(song);
        ASSERT_EQ(rendered.size(), 2 * frames);
        EXPECT_TRUE(pulled == rendered) << rate;
    }
}

TEST(RenderDeviceTest, StopsAtTheExactFrameAndRepeatsItself) {
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

TEST(RenderDeviceTest, ASinkThatRefusesEndsTheRender) {
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    OutputDevice output;
    setWaveDevice(output, &device);
    ASSERT_TRUE(openOutputDevice(output, 22050));
    Song* song = makeTestSong();
    int handOvers = 0;
    target.sink = refuseAfterTwoHandOvers;
    target.sinkContext = &handOvers;
    target.frameLimit = 0;
    ASSERT_TRUE(playSong(output, song));
    waitWhile(target.finished, false);
    EXPECT_TRUE(target.sinkRefused.load());
    EXPECT_EQ(target.framesDelivered.load(), 2u * output.ringFrames / 2);
    closeOutputDevice(output);
    freeSong(song);
}

TEST(RenderDeviceTest, FortySecondsStayInStep) {
    checkRenderStaysInStep(40.0);
}

}  // namespace
