// The rendering core: one playback of a song rendered block by block, the
// sequencer's ticks at exact frames across blocks, a tick's length from the
// tempo, the play time, the row marks, and rewinding.
#include "player/playback/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "player/mixer/mix_kernels.h"
#include "player/song/effect_numbers.h"
#include "player/song/song_loading.h"
#include "tests/playback/test_song.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
constexpr float mixSentinel = 12345.0f;
constexpr int16_t pcmSentinel = 0x7777;

// A playback is a few tens of kilobytes: kept off the stack.
std::unique_ptr<Playback> startedPlayback(const Song& song, int32_t playbackRate = rate) {
    auto playback = std::make_unique<Playback>();
    EXPECT_TRUE(startPlayback(*playback, song, playbackRate, ownRules));
    return playback;
}

// One block, rendered into buffers with room after it so that a write past
// its end shows.
struct RenderedBlock {
    std::vector<float> mix;
    std::vector<int16_t> pcm;
    std::vector<RowMark> marks;
    int32_t markCount = -1;
    BlockPosition position{};

    float left(int32_t frame) const { return mix[2 * static_cast<size_t>(frame)]; }
};

RenderedBlock render(Playback& playback, int32_t frames) {
    RenderedBlock block;
    block.mix.assign(2 * static_cast<size_t>(frames + 4), mixSentinel);
    block.pcm.assign(block.mix.size(), pcmSentinel);
    block.marks.assign(static_cast<size_t>(frames) + 2, RowMark{-1, -1, -1});
    block.position = renderBlock(playback, block.mix.data(), block.pcm.data(), frames,
                                 block.marks.data(), &block.markCount);
    return block;
}

std::vector<int16_t> renderPcm(Playback& playback, int32_t blocks,
                               int32_t frames = blockFramesForRate(rate)) {
    std::vector<float> mix(2 * static_cast<size_t>(frames));
    std::vector<int16_t> pcm(2 * static_cast<size_t>(frames) * blocks);
    for (int32_t block = 0; block < blocks; ++block) {
        renderBlock(playback, mix.data(), pcm.data() + 2 * static_cast<size_t>(frames) * block,
                    frames);
    }
    return pcm;
}

void expectMarks(const RenderedBlock& block, const std::vector<RowMark>& expected) {
    ASSERT_EQ(block.markCount, static_cast<int32_t>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(block.marks[i].frame, expected[i].frame) << i;
        EXPECT_EQ(block.marks[i].orderPos, expected[i].orderPos) << i;
        EXPECT_EQ(block.marks[i].row, expected[i].row) << i;
    }
}

struct SongDeleter {
    void operator()(Song* song) const { freeSong(song); }
};
using SongHandle = std::unique_ptr<Song, SongDeleter>;

// Speed 1, so every tick enters a row and leaves a mark; the one channel
// plays a constant value, and every row after the first sets another volume,
// so that a volume ramp starts on every tick's first frame.
SongHandle tickWatchingSong() {
    SongHandle song(makeBlankSong({1, 64, 1, 125, 1}, 1));
    setInstrumentSample(*song, 0, std::vector<int16_t>(64, 1000), ForwardLoop, 0);
    songCell(*song, 0, 0, 0) = PatternNote{49, 1, 0, 0, 0};
    for (int32_t row = 1; row < 64; ++row) {
        songCell(*song, 0, row, 0).volumeColumn = static_cast<uint8_t>(0x10 + 64 - row % 32);
    }
    return song;
}

// A ramp's first frame still plays at the gain it starts from: a ramp that
// starts on `frame` leaves it equal to the frame before and moves on the next.
void expectRampStartsAt(const RenderedBlock& block, int32_t frame) {
    EXPECT_EQ(block.left(frame - 2), block.left(frame - 1)) << frame;
    EXPECT_EQ(block.left(frame), block.left(frame - 1)) << frame;
    EXPECT_NE(block.left(frame + 1), block.left(frame)) << frame;
}

TEST(PlaybackRates, BlocksAndRampsFollowTheRate) {
    EXPECT_EQ(blockFramesForRate(44100), 884);
    EXPECT_EQ(blockFramesForRate(22050), 444);
    EXPECT_EQ(blockFramesForRate(48000), 960);
    const SongHandle song(makeTestSong());
    for (const auto& [playbackRate, rampLength] :
         {std::pair{44100, 128}, {22050, 64}, {48000, 139}}) {
        const auto playback = startedPlayback(*song, playbackRate);
        const MixerState& mixer = playback->mixer;
        EXPECT_EQ(mixer.outputRate, playbackRate);
        EXPECT_EQ(mixer.rampLength, rampLength) << playbackRate;
        EXPECT_EQ(mixer.rampReciprocal, static_cast<float>(1.0 / rampLength));
        EXPECT_EQ(mixer.frameDuration, static_cast<float>(1.0 / playbackRate));
        EXPECT_EQ(mixer.voices[200].index, 200);
        EXPECT_EQ(mixer.voices[200].stepInt, 1);
        EXPECT_EQ(mixer.voices[200].sample, nullptr);
    }
    Playback refused;
    for (const int32_t badRate : {0, -44100, minOutputRate - 1, maxOutputRate + 1}) {
        EXPECT_FALSE(startPlayback(refused, *song, badRate, ownRules)) << badRate;
    }
    EXPECT_TRUE(startPlayback(refused, *song, minOutputRate, ownRules));
    EXPECT_TRUE(startPlayback(refused, *song, maxOutputRate, ownRules));
}

TEST(PlaybackTempo, TickIsTwoAndAHalfSecondsOverTheTempo) {
    const SongHandle song(makeTestSong());
    const auto playback = startedPlayback(*song);
    Sequencer& sequencer = playback->sequencer;
    EXPECT_EQ(sequencer.framesPerTick, 882) << "the song's own tempo, 125";
    for (int32_t bpm = 1; bpm <= 255; ++bpm) {
        setTempo(sequencer, bpm);
        ASSERT_EQ(sequencer.framesPerTick, 44100 * 5 / (2 * bpm)) << bpm;
        ASSERT_EQ(sequencer.tempo, bpm);
    }
    for (const auto& [playbackRate, frames] : {std::pair{22050, 441}, {48000, 960}}) {
        const auto other = startedPlayback(*song, playbackRate);
        setTempo(other->sequencer, 125);
        EXPECT_EQ(other->sequencer.framesPerTick, frames) << playbackRate;
    }
}

TEST(PlaybackTempo, OutOfRangeTempoStillGivesATickOfAtLeastOneFrame) {
    const SongHandle song(makeTestSong());
    const auto playback = startedPlayback(*song);
    Sequencer& sequencer = playback->sequencer;
    for (const int32_t bpm : {0, -1, -32768}) {
        setTempo(sequencer, bpm);
        EXPECT_EQ(sequencer.framesPerTick, 110250) << bpm;
        EXPECT_EQ(sequencer.tempo, bpm);
    }
    setTempo(sequencer, 1000000);
    EXPECT_EQ(sequencer.framesPerTick, 1);
    setTempo(sequencer, 32767);
    EXPECT_EQ(sequencer.framesPerTick, 3);
    playback->mixer.outputRate = 0;
    setTempo(sequencer, 125);
    EXPECT_EQ(sequencer.framesPerTick, 1);
}

TEST(PlaybackBlocks, TicksFallOnExactFramesAcrossBlocks) {
    const SongHandle song = tickWatchingSong();
    const auto playback = startedPlayback(*song);
    ASSERT_EQ(playback->sequencer.framesPerTick, 882);
    ASSERT_EQ(playback->tickFramesLeft, 0);

    // The first block: tick 1 (row 0) whole, then the first 2 frames of tick 2.
    const RenderedBlock first = render(*playback, 884);
    expectMarks(first, {{0, 0, 0}, {882, 0, 1}});
    EXPECT_EQ(first.left(0), 0.0f) << "the note fades in from silence";
    EXPECT_GT(first.left(200), 0.0f);
    expectRampStartsAt(first, 882);
    EXPECT_EQ(playback->tickFramesLeft, 880);
    EXPECT_EQ(first.position.orderPos, 0);
    EXPECT_EQ(first.position.row, 1);
    EXPECT_EQ(first.position.playTimeMs, 19) << "882 frames give 19 ms, 2 frames 0";

    // The second finishes tick 2 in its first 880 frames.
    const RenderedBlock second = render(*playback, 884);
    expectMarks(second, {{0, 0, 1}, {880, 0, 2}});
    expectRampStartsAt(second, 880);
    EXPECT_EQ(playback->tickFramesLeft, 882 - 4);
    EXPECT_EQ(second.position.row, 2);
    EXPECT_EQ(second.position.playTimeMs, 38);

    const RenderedBlock third = render(*playback, 884);
    expectMarks(third, {{0, 0, 2}, {878, 0, 3}});
    expectRampStartsAt(third, 878);
    EXPECT_EQ(playback->tickFramesLeft, 882 - 6);
}

TEST(PlaybackBlocks, TheBlockIsConvertedTo16BitsAndNothingAfterItIsWritten) {
    const SongHandle song(makeTestSong());
    const auto playback = startedPlayback(*song);
    for (int32_t block = 0; block < 4; ++block) {
        const RenderedBlock rendered = render(*playback, 884);
        std::vector<int16_t> expected(2 * 884);
        toPcm16Reference(expected.data(), rendered.mix.data(), 2 * 884);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rendered.pcm.begin())) << block;
        for (size_t value = 2 * 884; value < rendered.mix.size(); ++value) {
            EXPECT_EQ(rendered.mix[value], mixSentinel) << value;
            EXPECT_EQ(rendered.pcm[value], pcmSentinel) << value;
        }
    }
    // Without a PCM buffer or marks only the mix is written.
    std::vector<float> mix(2 * 884, mixSentinel);
    const BlockPosition position = renderBlock(*playback, mix.data(), nullptr, 884);
    EXPECT_EQ(position.playTimeMs, playback->playTimeMs);
    EXPECT_NE(mix[0], mixSentinel);
}

TEST(PlaybackBlocks, TempoSetByATickAppliesToThatTick) {
    const SongHandle song = tickWatchingSong();
    songCell(*song, 0, 0, 0).effect = static_cast<uint8_t>(Effect::SpeedTempo);
    songCell(*song, 0, 0, 0).effectParam = 250;
    const auto playback = startedPlayback(*song);
    ASSERT_EQ(playback->sequencer.framesPerTick, 882);
    const RenderedBlock block = render(*playback, 884);
    EXPECT_EQ(playback->sequencer.framesPerTick, 441);
    EXPECT_EQ(playback->sequencer.tempo, 250);
    expectMarks(block, {{0, 0, 0}, {441, 0, 1}, {882, 0, 2}});
    expectRampStartsAt(block, 441);
    expectRampStartsAt(block, 882);
}

// Only ticks that move to another row leave a mark.
TEST(PlaybackBlocks, MarksNameTheRowEachTickMovesTo) {
    const SongHandle song(makeTestSong({2, 4, 2, 125, 2}));
    const auto playback = startedPlayback(*song);
    // Rows of 2 x 882 frames: rows 1, 2, 3 and then order 1's row 0.
    const RenderedBlock block = render(*playback, 4 * 1764 + 10);
    expectMarks(block,
                {{0, 0, 0}, {1764, 0, 1}, {2 * 1764, 0, 2}, {3 * 1764, 0, 3}, {4 * 1764, 1, 0}});
    EXPECT_EQ(block.position.orderPos, 1);
    EXPECT_EQ(block.position.row, 0);
}

TEST(PlaybackBlocks, PlayTimeIsTruncatedPerChunk) {
    const SongHandle song = tickWatchingSong();
    for (const auto& [blockFrames, milliseconds] : {std::pair{882, 19}, {884, 20}}) {
        const auto playback = startedPlayback(*song);
        playback->sequencer.framesPerTick = 100000;
        const RenderedBlock block = render(*playback, blockFrames);
        EXPECT_EQ(playback->playTimeMs, milliseconds) << blockFrames;
        EXPECT_EQ(block.position.playTimeMs, milliseconds);
    }
    // Ticks of 2 frames: every chunk is 2 frames and adds 0.
    const auto playback = startedPlayback(*song);
    playback->sequencer.framesPerTick = 2;
    render(*playback, 884);
    EXPECT_EQ(playback->playTimeMs, 0);
}

// A song whose effects change what a playback keeps of it: a finetune set by
// E5 and the global volume slide's memory.
SongHandle songWithLastingEffects() {
    SongHandle song(makeTestSong({2, 16, 3, 125, 2}));
    songCell(*song, 0, 4, 1) = PatternNote{61, 1, 0, static_cast<uint8_t>(Effect::Extended), 0x5F};
    songCell(*song, 0, 6, 0).effect = static_cast<uint8_t>(Effect::GlobalVolumeSlide);
    songCell(*song, 0, 6, 0).effectParam = 0x02;
    songCell(*song, 1, 2, 0).effect = static_cast<uint8_t>(Effect::GlobalVolumeSlide);
    songCell(*song, 1, 8, 1) = PatternNote{49, 1, 0, 0, 0};
    return song;
}

// A playback is all its owner's: rewinding it, or playing the same song in
// another at the same time, gives the same frames as the first time alone.
TEST(PlaybackRewind, RewoundOrBesideAnotherAPlaybackPlaysTheSameFrames) {
    const SongHandle song = songWithLastingEffects();
    // 4 loops of the song: 32 rows of 3 ticks of 882 frames.
    const int32_t blocks = 4 * 32 * 3 * 882 / 884;
    const auto playback = startedPlayback(*song);
    const std::vector<int16_t> first = renderPcm(*playback, blocks);
    rewindPlayback(*playback);
    EXPECT_EQ(playback->playTimeMs, 0);
    EXPECT_TRUE(renderPcm(*playback, blocks) == first) << "a rewound playback differs";

    // Two more, the second a block behind the first, so that they are never
    // at the same point of the song.
    const auto a = startedPlayback(*song);
    const auto b = startedPlayback(*song);
    std::vector<int16_t> fromA;
    std::vector<int16_t> fromB = renderPcm(*b, 1);
    for (int32_t block = 0; block < blocks; ++block) {
        const std::vector<int16_t> pieceA = renderPcm(*a, 1);
        fromA.insert(fromA.end(), pieceA.begin(), pieceA.end());
        if (block + 1 < blocks) {
            const std::vector<int16_t> pieceB = renderPcm(*b, 1);
            fromB.insert(fromB.end(), pieceB.begin(), pieceB.end());
        }
    }
    EXPECT_TRUE(fromA == first);
    EXPECT_TRUE(fromB == first);
}

}  // namespace
