// Vibrato, tremolo, tremor and tone portamento on one channel.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "player/sequencer/channel.h"
#include "player/sequencer/modulation.h"

using namespace xmplayer;

namespace {

TEST(Waveforms, SineMagnitudesMatchTheTruncatedFormula) {
    constexpr std::array<int, 33> expected{0,   25,  49,  74,  97,  120, 142, 162, 181, 197, 212,
                                           225, 236, 244, 251, 254, 255, 254, 251, 244, 236, 225,
                                           212, 197, 181, 162, 142, 120, 97,  74,  49,  25,  0};
    for (int q = -32; q <= 31; ++q) {
        EXPECT_EQ(waveformMagnitude(static_cast<int8_t>(q), 0), expected[std::abs(q)]) << q;
    }
}

TEST(Waveforms, RampAndSquare) {
    EXPECT_EQ(waveformMagnitude(0, 1), 0);
    EXPECT_EQ(waveformMagnitude(31, 1), 248);
    EXPECT_EQ(waveformMagnitude(-1, 1), 7);
    EXPECT_EQ(waveformMagnitude(-32, 1), 255);
    EXPECT_EQ(waveformMagnitude(-5, 2), 255);
}

TEST(Vibrato, SquareDepth15SwingsBy116) {
    MusicChannel channel{};
    channel.waveControl = 2;
    channel.vibratoDepth = 15;
    for (int q = -32; q <= 31; ++q) {
        channel.vibratoPos = static_cast<int8_t>(q);
        vibrato(&channel);
        EXPECT_EQ(channel.periodDelta, q >= 0 ? -116 : 116) << q;
    }
    EXPECT_EQ(channel.flags, FrequencyChanged);
    channel.waveControl = 3;  // square for vibrato
    channel.vibratoPos = 1;
    vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -116);
}

TEST(Vibrato, SineClearsTheLowBitsAndDoesNotAdvance) {
    MusicChannel channel{};
    channel.vibratoDepth = 15;
    channel.vibratoPos = 0;
    vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 0);
    channel.vibratoPos = -32;
    vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 0);
    channel.vibratoPos = 16;
    vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -116);
    channel.vibratoPos = -6;  // (15 x 142) >> 5 = 66, cleared to 64
    vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 64);
    EXPECT_EQ(channel.vibratoPos, -6);
}

TEST(Vibrato, PhaseAdvanceWrapsIntoMinus32To31) {
    MusicChannel channel{};
    channel.vibratoPos = 31;
    channel.vibratoSpeed = 15;
    advanceVibratoPhase(&channel);
    EXPECT_EQ(channel.vibratoPos, -18);
    channel.vibratoPos = 16;
    channel.vibratoSpeed = 15;
    advanceVibratoPhase(&channel);
    EXPECT_EQ(channel.vibratoPos, 31);
}

TEST(Tremolo, CappedAt64AndFlooredAtZero) {
    MusicChannel channel{};
    channel.tremoloDepth = 15;
    channel.tremoloPos = 16;
    channel.volume = 60;
    tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, 4);
    EXPECT_EQ(channel.flags, VolumeChanged);

    channel.tremoloPos = -16;
    channel.volume = 30;
    tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, -30);

    channel.tremoloPos = 6;  // (15 x 142) >> 6 = 33
    channel.volume = 20;
    tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, 33);
}

TEST(Tremolo, AdvancesItsPhaseAndTreatsWaveform3AsSine) {
    MusicChannel sine{};
    sine.tremoloDepth = 12;
    sine.tremoloSpeed = 7;
    sine.volume = 32;
    sine.vibratoPos = 20;  // the vibrato phase plays no part
    MusicChannel three = sine;
    three.waveControl = 0x30;
    three.vibratoPos = -3;
    for (int tick = 0; tick < 40; ++tick) {
        tremolo(&sine);
        tremolo(&three);
        EXPECT_EQ(sine.volumeDelta, three.volumeDelta) << tick;
        EXPECT_EQ(sine.tremoloPos, three.tremoloPos) << tick;
    }
    MusicChannel square{};
    square.waveControl = 0x20;
    square.tremoloDepth = 15;
    square.tremoloPos = 31;
    square.tremoloSpeed = 1;
    square.volume = 30;
    tremolo(&square);
    EXPECT_EQ(square.volumeDelta, 34);  // phase 31 rises: (15 x 255) >> 6 = 59, capped at 64
    EXPECT_EQ(square.tremoloPos, -32);
}

TEST(Tremor, OnAndOffTicksCountContinuously) {
    MusicChannel channel{};
    channel.volume = 40;
    channel.tremorOnTicks = 1;  // T00: x + 1 and y + 1
    channel.tremorOffTicks = 1;
    int32_t heard[6];
    for (int32_t& delta : heard) {
        channel.volumeDelta = 0;
        tremor(&channel);
        delta = channel.volumeDelta;
    }
    EXPECT_EQ(heard[0], 0);
    EXPECT_EQ(heard[1], -40);
    EXPECT_EQ(heard[2], 0);
    EXPECT_EQ(heard[3], -40);
    EXPECT_EQ(channel.flags, VolumeChanged);

    channel.tremorOnTicks = 2;
    channel.tremorOffTicks = 3;
    channel.tremorPos = 0;
    int silent = 0;
    for (int tick = 0; tick < 10; ++tick) {
        channel.volumeDelta = 0;
        tremor(&channel);
        silent += channel.volumeDelta != 0 ? 1 : 0;
    }
    EXPECT_EQ(silent, 6);
}

TEST(TonePortamento, SlidesToTheTargetAndStops) {
    MusicChannel channel{};
    channel.period = 1000;
    channel.portaTarget = 1030;
    channel.portaSpeed = 4;
    tonePortamento(&channel);
    EXPECT_EQ(channel.period, 1016);
    tonePortamento(&channel);
    EXPECT_EQ(channel.period, 1030);
    channel.portaTarget = 1000;
    tonePortamento(&channel);
    EXPECT_EQ(channel.period, 1014);

    channel.flags = 0;
    channel.portaSpeed = 0;
    tonePortamento(&channel);
    EXPECT_EQ(channel.period, 1014);
    EXPECT_EQ(channel.flags, FrequencyChanged);
    channel.period = 1000;
    channel.flags = 0;
    tonePortamento(&channel);
    EXPECT_EQ(channel.flags, FrequencyChanged);
}

}  // namespace
