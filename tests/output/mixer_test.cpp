#include "player/mixer/mixer.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "player/mixer/mix_kernels.h"
#include "tests/output/voice_fixture.h"

using namespace xmplayer;

namespace {

constexpr uint32_t half = 0x80000000u;

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override { resetMixer(mixer, 44100); }

    // Mixes into a cleared buffer and returns it.
    std::vector<float> mix(int32_t frames) {
        std::vector<float> buffer(2 * static_cast<size_t>(frames), 0.0f);
        mixVoices(mixer, buffer.data(), frames);
        return buffer;
    }

    MixerState mixer{};
};

float steadyGain(int32_t target) {
    return static_cast<float>(target / 255.0);
}

// One voice's contribution to a cleared float, as the mixer forms it.
float contribution(double value, float gain) {
    return static_cast<float>(0.0 + value * static_cast<double>(gain));
}

TEST_F(MixerTest, SettledVoiceMixesAtExactlyTargetOver255) {
    TestSample tone(constantValues(100, 12345), ForwardLoop, 0, 100);
    settledVoice(mixer, 0, tone.sample, 200, 5);
    // The gains are single precision: a double 5/255 would give another value.
    ASSERT_NE(contribution(12345.0, steadyGain(5)), static_cast<float>(12345.0 * (5 / 255.0)));
    const auto buffer = mix(300);
    for (int frame = 0; frame < 300; ++frame) {
        ASSERT_EQ(buffer[2 * frame], contribution(12345.0, steadyGain(200))) << frame;
        ASSERT_EQ(buffer[2 * frame + 1], contribution(12345.0, steadyGain(5))) << frame;
    }
    EXPECT_EQ(mixer.voices[0].rampFramesLeft, 0);
    EXPECT_EQ(mixer.voices[0].currentLeft, 200 * 256);
}

TEST_F(MixerTest, NewNoteRisesFromSilenceToTargetInExactlyRampLengthFrames) {
    ASSERT_EQ(mixer.rampLength, 128);
    TestSample tone(constantValues(1000, 10000), ForwardLoop, 0, 1000);
    startNote(mixer, 0, tone.sample, 255, 255);
    const auto buffer = mix(300);
    EXPECT_EQ(buffer[0], 0.0f);
    EXPECT_EQ(buffer[1], 0.0f);
    for (int frame = 1; frame < 128; ++frame) {
        EXPECT_NEAR(buffer[2 * frame], 10000.0 * frame / 128.0, 0.01) << frame;
        EXPECT_LT(buffer[2 * frame], 10000.0f) << frame;
    }
    for (int frame = 128; frame < 300; ++frame) {
        ASSERT_EQ(buffer[2 * frame], 10000.0f) << frame;
    }
    const MixVoice& voice = mixer.voices[0];
    EXPECT_EQ(voice.rampFramesLeft, 0);
    EXPECT_EQ(voice.currentLeft, 255 * 256);
    EXPECT_EQ(voice.rampStepLeft, 0.0f);
}

TEST_F(MixerTest, TargetChangeMidRampStartsAFullRampFromTheTruncatedGain) {
    TestSample tone(constantValues(1000, 10000), ForwardLoop, 0, 1000);
    MixVoice& voice = startNote(mixer, 0, tone.sample, 255, 255);
    mix(64);
    const int32_t current = voice.currentLeft;
    ASSERT_GT(current, 0);
    ASSERT_NE(current % 256, 0) << "choose a point between two steps of the 0..255 scale";
    voice.targetLeft = 0;
    voice.targetRight = 100;

    const auto first = mix(1);
    EXPECT_EQ(first[0], contribution(10000.0, static_cast<float>(current / (255.0 * 256.0))));
    EXPECT_EQ(voice.rampTargetLeft, 0);
    EXPECT_EQ(voice.rampFramesLeft, 127);
    const double reciprocal = mixer.rampReciprocal;
    EXPECT_EQ(voice.rampStepLeft, static_cast<float>(-(current >> 8) * (1.0 / 255.0) * reciprocal));
    EXPECT_EQ(voice.rampStepRight,
              static_cast<float>((100 - (current >> 8)) * (1.0 / 255.0) * reciprocal));

    const auto rest = mix(128);
    EXPECT_GT(rest[2 * 126], 0.0f);
    EXPECT_EQ(rest[2 * 127], 0.0f);
    EXPECT_EQ(rest[2 * 127 + 1], contribution(10000.0, steadyGain(100)));
    EXPECT_EQ(voice.currentLeft, 0);
    EXPECT_EQ(voice.currentRight, 100 * 256);
}

TEST_F(MixerTest, ForwardLoopShorterThanOneStepWrapsSeveralLengthsAtOnce) {
    TestSample ramp({0, 100, 200, 300, 400, 500, 600, 700}, ForwardLoop, 4, 2);
    MixVoice& voice = settledVoice(mixer, 0, ramp.sample, 255, 255);
    setStep(voice, 3, 0);
    setPosition(voice, 5, 0);
    const auto buffer = mix(3);
    // 5 -> 8 wraps twice to 4; 4 -> 7 once to 5; 5 -> 8 to 4 again.
    EXPECT_EQ(buffer[0], 500.0f);
    EXPECT_EQ(buffer[2], 400.0f);
    EXPECT_EQ(buffer[4], 500.0f);
    EXPECT_EQ(voice.positionInt, 4);
    EXPECT_EQ(voice.positionFrac, 0u);
    EXPECT_EQ(voice.direction, Forward);
}

TEST_F(MixerTest, PingPongLandingOnTheLoopEndTurnsJustBelowIt) {
    TestSample ramp({0, 100, 200, 300, 400, 500, 600, 700}, PingPongLoop, 2, 4);
    ASSERT_EQ(ramp.sample.data[6], 500) << "the guard repeats the loop's last value";
    MixVoice& voice = settledVoice(mixer, 0, ramp.sample, 255, 255);
    setPosition(voice, 4, 0);
    const auto buffer = mix(4);
    EXPECT_EQ(buffer[0], 400.0f);
    EXPECT_EQ(buffer[2], 500.0f);
    // At 6 - 2^-32 the last loop value and the guard are read: both 500.
    EXPECT_EQ(buffer[4], 500.0f);
    const double w = (0xFFFFFFFFu >> 1) * 0x1p-31;
    EXPECT_EQ(buffer[6], contribution(400.0 + w * 100.0, 1.0f));
    EXPECT_EQ(voice.direction, Backward);
    EXPECT_EQ(voice.positionInt, 3);
    EXPECT_EQ(voice.positionFrac, 0xFFFFFFFFu);
}

TEST_F(MixerTest, UnloopedSampleFadesIntoItsZeroGuardAndGoesIdle) {
    TestSample short4({1000, 2000, 3000, 4000}, NoLoop, 0, 0);
    MixVoice& voice = settledVoice(mixer, 0, short4.sample, 255, 255);
    setStep(voice, 0, half);
    setPosition(voice, 2, 0);
    const auto buffer = mix(8);
    EXPECT_EQ(buffer[0], 3000.0f);
    EXPECT_EQ(buffer[2], 3500.0f);
    EXPECT_EQ(buffer[4], 4000.0f);
    EXPECT_EQ(buffer[6], 2000.0f);
    for (int frame = 4; frame < 8; ++frame) {
        EXPECT_EQ(buffer[2 * frame], 0.0f) << frame;
    }
    EXPECT_EQ(voice.sample, nullptr);
    EXPECT_EQ(voice.positionInt, 0);
    EXPECT_EQ(voice.positionFrac, 0u);
    // An idle voice adds nothing more.
    const auto after = mix(4);
    EXPECT_EQ(after, std::vector<float>(8, 0.0f));
}

TEST_F(MixerTest, OnlyAPingPongSampleIsPlayedBackward) {
    TestSample values({1000, 2000, 3000, 4000}, ForwardLoop, 0, 4);
    MixVoice& voice = settledVoice(mixer, 0, values.sample, 255, 255);
    voice.direction = Backward;
    const auto buffer = mix(5);
    EXPECT_EQ(buffer[2], 2000.0f);
    EXPECT_EQ(buffer[8], 1000.0f);
    EXPECT_EQ(voice.positionInt, 1);
}

TEST_F(MixerTest, LoopOfNoLengthEndsTheVoiceAndAVoicePastItsLoopEndWrapsAtOnce) {
    for (const uint8_t type : {ForwardLoop, PingPongLoop}) {
        TestSample values({1000, 2000, 3000, 4000}, type, 2, 1);
        values.sample.loopLength = 0;
        MixVoice& voice = settledVoice(mixer, 0, values.sample, 255, 255);
        const auto buffer = mix(4);
        EXPECT_EQ(buffer[2], 2000.0f) << int{type};
        EXPECT_EQ(buffer[4], 0.0f) << int{type};
        EXPECT_EQ(voice.sample, nullptr) << int{type};
    }
    TestSample looped({1000, 2000, 3000, 4000, 0, 0, 0, 0}, ForwardLoop, 0, 4);
    MixVoice& voice = settledVoice(mixer, 0, looped.sample, 255, 255);
    setPosition(voice, 6, 0);
    const auto buffer = mix(2);
    EXPECT_EQ(buffer[0], 3000.0f);
    EXPECT_EQ(buffer[2], 4000.0f);
}

// A voice that no channel plays any more still ramps down audibly; once silent
// it stays where it is, while a silent voice that may sound again moves on.
TEST_F(MixerTest, AbandonedVoiceRampsDownThenNoLongerMoves) {
    TestSample tone(constantValues(100, 10000), ForwardLoop, 0, 100);
    MixVoice& abandoned = settledVoice(mixer, 0, tone.sample, 255, 255);
    abandoned.abandoned = true;
    abandoned.targetLeft = 0;
    abandoned.targetRight = 0;
    MixVoice& waiting = settledVoice(mixer, 1, tone.sample, 0, 0);
    const auto rampDown = mix(mixer.rampLength);
    EXPECT_GT(rampDown[0], 9000.0f);  // the first ramp frame, at nearly full gain
    EXPECT_EQ(abandoned.rampFramesLeft, 0);
    const int32_t rampEnd = abandoned.positionInt;
    EXPECT_EQ(rampEnd, mixer.rampLength % 100);

    EXPECT_EQ(mix(250), std::vector<float>(500, 0.0f));
    EXPECT_EQ(abandoned.positionInt, rampEnd);
    EXPECT_EQ(abandoned.sample, &tone.sample);
    EXPECT_EQ(waiting.positionInt, (mixer.rampLength + 250) % 100);
}

TEST_F(MixerTest, SampleOfLengthZeroStopsWithoutReadingData) {
    MixVoice& voice = startNote(mixer, 0, emptySample, 255, 255);
    EXPECT_EQ(mix(16), std::vector<float>(32, 0.0f));
    EXPECT_EQ(voice.sample, nullptr);
}

TEST_F(MixerTest, FullPanningPlaysOnOneSideOnly) {
    TestSample tone(constantValues(1000, -20000), ForwardLoop, 0, 1000);
    // Targets as the voice update forms them from volume 100 and panning 255,
    // then panning 0; each note ramps in from silence.
    for (const int32_t panning : {255, 0}) {
        startNote(mixer, 0, tone.sample, panning * 100 / 255, (255 - panning) * 100 / 255);
        const auto buffer = mix(300);
        const int heard = panning == 255 ? 0 : 1;
        for (int frame = 1; frame < 300; ++frame) {
            ASSERT_LT(buffer[2 * frame + heard], 0.0f) << panning << " " << frame;
            ASSERT_EQ(buffer[2 * frame + 1 - heard], 0.0f) << panning << " " << frame;
        }
    }
}

TEST_F(MixerTest, BackwardVoiceTurningAtALoopStartOfZeroReadsTheValueBeforeTheData) {
    TestSample ramp({1000, 2000, 3000, 4000}, PingPongLoop, 0, 4);
    ASSERT_EQ(ramp.sample.data[-1], 0);
    MixVoice& voice = settledVoice(mixer, 0, ramp.sample, 255, 255);
    voice.direction = Backward;
    setStep(voice, 0, half);
    setPosition(voice, 0, half);
    const auto buffer = mix(3);
    EXPECT_EQ(buffer[0], 1500.0f);
    // 2^-32 below the data: interpolated from the spare 0 before it.
    const double w = (0xFFFFFFFFu >> 1) * 0x1p-31;
    EXPECT_EQ(buffer[2], contribution(0.0 + w * 1000.0, 1.0f));
    EXPECT_EQ(buffer[4], contribution(1000.0 + ((0x7FFFFFFFu >> 1) * 0x1p-31) * 1000.0, 1.0f));
    EXPECT_EQ(voice.direction, Forward);
}

TEST_F(MixerTest, LoopReachingBeyondItsDataEndsTheVoiceInsteadOfReadingOutside) {
    TestSample tone(constantValues(10, 5000), NoLoop, 0, 0);
    tone.sample.loopType = ForwardLoop;
    tone.sample.loopLength = 1000;  // beyond the 10 values and 8 spare ones
    MixVoice& voice = settledVoice(mixer, 0, tone.sample, 255, 255);
    const auto buffer = mix(100);
    EXPECT_EQ(voice.sample, nullptr);
    for (int frame = 0; frame < 100; ++frame) {
        ASSERT_EQ(buffer[2 * frame], 0.0f) << frame;
    }
}

TEST(PcmConversion, RoundsHalfToEvenAndClamps) {
    const std::vector<float> source{40000.0f, -40000.0f, 2.5f,      3.5f,        -2.5f, -3.5f,
                                    32767.4f, 32767.5f,  -32768.5f, 0.49999997f, -0.5f, 1.5f};
    std::vector<int16_t> pcm(source.size(), 99);
    convertToPcm16(pcm.data(), source.data(), static_cast<int32_t>(source.size() / 2));
    const std::vector<int16_t> expected{32767, -32768, 2, 4, -2, -4, 32767, 32767, -32768, 0, 0, 2};
    EXPECT_EQ(pcm, expected);

    std::vector<int16_t> untouched(4, 7);
    convertToPcm16(untouched.data(), source.data(), 0);
    convertToPcm16(untouched.data(), nullptr, 2);
    convertToPcm16(nullptr, source.data(), 2);
    EXPECT_EQ(untouched, std::vector<int16_t>(4, 7));
}

// The boundary count as the 32-bit original forms it: a 64-bit dividend, a
// 32-bit divisor and quotient; empty where that does not fit.
std::optional<uint64_t> countIn32Bits(uint64_t distance, uint64_t step) {
    if ((distance >> 32) >= (uint64_t{1} << 24) || (step >> 32) >= 256) {
        return std::nullopt;
    }
    const auto divisor = static_cast<uint32_t>(step >> 8);
    const uint64_t dividend = distance >> 8;
    if (divisor == 0 || dividend / divisor > 0xFFFFFFFEu) {
        return std::nullopt;
    }
    return dividend / divisor + (dividend % divisor != 0 ? 1 : 0);
}

uint64_t exactCeiling(uint64_t distance, uint64_t step) {
    return distance / step + (distance % step != 0 ? 1 : 0);
}

TEST(BoundaryCount, MatchesThe32BitDivisionWhereverItFitsAndStaysExactBeyond) {
    std::mt19937_64 random(6);
    const uint64_t lowestStep = (uint64_t{100} << 32) / 44100;
    int fitting = 0;
    for (int i = 0; i < 200000; ++i) {
        const uint64_t distance = random() >> (8 + random() % 56);
        const uint64_t step = lowestStep + (random() >> (20 + random() % 44));
        const auto narrow = countIn32Bits(distance, step);
        if (narrow) {
            ++fitting;
            ASSERT_EQ(framesToBoundary(distance, step), *narrow) << distance << " " << step;
        }
    }
    EXPECT_GT(fitting, 100000);

    // Just inside the limits: the largest step integer and a quotient just
    // below 2^32.
    const uint64_t step255 = (uint64_t{255} << 32) | 0xFFFFFF00u;
    EXPECT_EQ(framesToBoundary(uint64_t{0xFFFFFF} << 32, step255),
              *countIn32Bits(uint64_t{0xFFFFFF} << 32, step255));
    const uint64_t longDistance = (lowestStep >> 8) * 0xFFFFFFFEull << 8;
    EXPECT_EQ(framesToBoundary(longDistance, lowestStep), 0xFFFFFFFEu);
    EXPECT_EQ(countIn32Bits(longDistance, lowestStep), 0xFFFFFFFEu);

    // Beyond them: a step of 256 samples or more, a quotient above 2^32
    // (10 million values at 100 Hz), a distance of 2^24 samples or more.
    const uint64_t step256 = uint64_t{256} << 32;
    EXPECT_FALSE(countIn32Bits(uint64_t{1000} << 32, step256));
    EXPECT_EQ(framesToBoundary(uint64_t{1000} << 32, step256), 4u);
    EXPECT_EQ(framesToBoundary(uint64_t{1024} << 32, step256), 4u);
    EXPECT_EQ(framesToBoundary((uint64_t{1024} << 32) + 256, step256), 5u);
    const uint64_t tenMillion = uint64_t{10000000} << 32;
    EXPECT_FALSE(countIn32Bits(tenMillion, lowestStep));
    EXPECT_EQ(framesToBoundary(tenMillion, lowestStep),
              exactCeiling(tenMillion >> 8, lowestStep >> 8));
    EXPECT_GT(framesToBoundary(tenMillion, lowestStep), uint64_t{0xFFFFFFFF});
    const uint64_t huge = uint64_t{0x7FFFFFFF} << 32;
    EXPECT_EQ(framesToBoundary(huge, uint64_t{1} << 32), uint64_t{0x7FFFFFFF});
    // No 24-bit form of the step: exact.
    EXPECT_EQ(framesToBoundary(1000, 255), 4u);
    EXPECT_EQ(framesToBoundary(0, 0), 0u);
    EXPECT_EQ(framesToBoundary(1, 0), std::numeric_limits<uint64_t>::max());
}

// Item: the chunk's arithmetic. The interpolated value and the products stay
// double; only the store into the float buffer narrows, once per voice.
TEST_F(MixerTest, InterpolatedValueAndProductsAreNotNarrowedBeforeTheStore) {
    TestSample step01({0, 1, 1, 1}, ForwardLoop, 0, 4);
    MixVoice& voice = settledVoice(mixer, 0, step01.sample, 255, 255);
    setStep(voice, 0, 0);
    // w = 0.5 + 2^-28, so the value is 0.5 + 2^-28, not a float.
    setPosition(voice, 0, 0x80000010u);
    std::vector<float> buffer{8388608.0f, 8388608.0f};
    mixVoicesWith(mixer, referenceMixKernels, buffer.data(), 1);
    // 2^23 + 0.5 + 2^-28 rounds up; a value narrowed to 0.5 would tie to even.
    EXPECT_EQ(buffer[0], 8388609.0f);
    ASSERT_EQ(static_cast<float>(8388608.0f + static_cast<float>(0.5 + 0x1p-28)), 8388608.0f);
    buffer = {8388608.0f, 8388608.0f};
    mixVoices(mixer, buffer.data(), 1);
    EXPECT_EQ(buffer[0], 8388609.0f);
}

TEST_F(MixerTest, EachVoiceIsNarrowedIntoTheBufferInTurn) {
    TestSample step01({0, 1, 1, 1}, ForwardLoop, 0, 4);
    for (int slot : {0, 1}) {
        MixVoice& voice = settledVoice(mixer, slot, step01.sample, 255, 255);
        setStep(voice, 0, 0);
        setPosition(voice, 0, 0xC0000000u);  // 0.75
    }
    std::vector<float> buffer{16777216.0f, 0.0f};
    mixVoices(mixer, buffer.data(), 1);
    // 2^24 + 0.75 narrows back to 2^24 twice; a sum narrowed once would be 2^24 + 2.
    EXPECT_EQ(buffer[0], 16777216.0f);
    EXPECT_EQ(buffer[1], 1.5f);
}

TEST_F(MixerTest, RampGainsAreNarrowedEveryFrameAndTheStepIsFormedInDouble) {
    TestSample loud(constantValues(1000, 32767), ForwardLoop, 0, 1000);
    MixVoice& voice = startNote(mixer, 0, loud.sample, 200, 200);
    const auto buffer = mix(128);
    EXPECT_EQ(voice.rampFramesLeft, 0);
    const auto reciprocal = static_cast<double>(mixer.rampReciprocal);
    const auto expectedStep = static_cast<float>(200 * (1.0 / 255.0) * reciprocal);
    float gain = 0.0f;
    double wideGain = 0.0;
    int differences = 0;
    for (int frame = 0; frame < 128; ++frame) {
        ASSERT_EQ(buffer[2 * frame], contribution(32767.0, gain)) << frame;
        differences += contribution(32767.0, gain) != static_cast<float>(32767.0 * wideGain);
        gain = static_cast<float>(static_cast<double>(gain) + static_cast<double>(expectedStep));
        wideGain += static_cast<double>(expectedStep);
    }
    EXPECT_GT(differences, 0) << "a gain kept in double would give the same frames";

    // The step itself: d x (1/255) x reciprocal in double, for every d.
    int floatDifferences = 0;
    voice.sample = nullptr;
    for (int32_t target = 0; target <= 255; ++target) {
        MixVoice& fresh = startNote(mixer, 1, loud.sample, target, 255 - target);
        fresh.currentLeft = 255 * 256;
        fresh.currentRight = 0;
        mixVoicesWith(mixer, referenceMixKernels, std::vector<float>(2).data(), 1);
        const int32_t d = target - 255;
        ASSERT_EQ(fresh.rampStepLeft, static_cast<float>(d * (1.0 / 255.0) * reciprocal)) << d;
        ASSERT_EQ(fresh.rampStepRight,
                  static_cast<float>((255 - target) * (1.0 / 255.0) * reciprocal));
        floatDifferences +=
            fresh.rampStepLeft != static_cast<float>(d) * (1.0f / 255.0f) * mixer.rampReciprocal;
    }
    EXPECT_GT(floatDifferences, 0) << "single-precision steps would give the same values";
}

// Item: a ping-pong voice reflected outside the loop is reflected again at the
// other end, turning at every reflection, until it lies inside.
TEST_F(MixerTest, PingPongReflectsAgainUntilInsideTheLoopTurningEachTime) {
    TestSample ramp({0, 100, 200, 300, 400, 500, 600, 700}, PingPongLoop, 4, 2);
    MixVoice& voice = settledVoice(mixer, 0, ramp.sample, 255, 255);
    setStep(voice, 7, half);
    setPosition(voice, 5, 0);
    const auto buffer = mix(2);
    EXPECT_EQ(buffer[0], 500.0f);
    // 5 + 7.5 = 12.5 turns at the end to -0.5 - 2^-32, at the start to 8.5,
    // at the end to 3.5 - 2^-32 and at the start to 4.5, moving forward.
    // Stopping after one turn at each end would leave it at 8.5, reading the
    // zeros after the sample; not turning on the second would leave it
    // moving backward from there.
    EXPECT_EQ(buffer[2], 450.0f);
    // 4.5 + 7.5 = 12: to -2^-32, 8, 4 - 2^-32 and 4.
    EXPECT_EQ(voice.positionInt, 4);
    EXPECT_EQ(voice.positionFrac, 0u);
    EXPECT_EQ(voice.direction, Forward);
}

// The reflections one at a time, as a check on the mixer's shortcut for far
// overshoots; positions as 32.32 in a signed 64-bit number.
void walkReflections(int64_t& position, bool& backward, int64_t start, int64_t end) {
    position = (backward ? 2 * start : 2 * end) - position - 1;
    backward = !backward;
    for (;;) {
        if (backward && position < start) {
            position = 2 * start - position - 1;
        } else if (!backward && position >= end) {
            position = 2 * end - position - 1;
        } else {
            return;
        }
        backward = !backward;
    }
}

TEST_F(MixerTest, PingPongFarOvershootsLandWhereSingleReflectionsWould) {
    std::mt19937 random(8);
    std::vector<int16_t> values(600);
    for (auto& value : values) {
        value = static_cast<int16_t>(random());
    }
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t loopStart = random() % 300;
        const uint32_t loopLength = 1 + random() % (trial % 3 == 0 ? 3 : 200);
        TestSample sample(values, PingPongLoop, loopStart, loopLength);
        MixVoice& voice = settledVoice(mixer, 0, sample.sample, 0, 0);
        const bool backward = random() % 2 == 1;
        voice.direction = backward ? Backward : Forward;
        setStep(voice, random() % 700, random());
        if (voice.stepInt == 0) {
            voice.stepFrac |= 0x10000000u;
        }
        setPosition(voice, static_cast<int32_t>(loopStart + random() % loopLength), random());
        int64_t position = (int64_t{voice.positionInt} << 32) | voice.positionFrac;
        const int64_t start = int64_t{loopStart} << 32;
        const int64_t end = int64_t{loopStart + loopLength} << 32;
        const auto step = static_cast<int64_t>(
            (uint64_t{static_cast<uint32_t>(voice.stepInt)} << 32) | voice.stepFrac);
        bool walkingBackward = backward;
        // The first boundary the voice meets, by whole frames.
        int64_t frames = 0;
        while (walkingBackward ? position > start : position < end) {
            position += walkingBackward ? -step : step;
            ++frames;
        }
        walkReflections(position, walkingBackward, start, end);
        std::vector<float> buffer(2 * static_cast<size_t>(frames));
        mixVoicesWith(mixer, referenceMixKernels, buffer.data(), static_cast<int32_t>(frames));
        ASSERT_EQ((int64_t{voice.positionInt} << 32) | voice.positionFrac, position) << trial;
        ASSERT_EQ(voice.direction, walkingBackward ? Backward : Forward) << trial;
    }
}

// Item: the 24-bit count is 0 for a forward voice short of a forward loop's
// end by less than 2^-24; the exact count, 1, lets it reach the end and wrap.
TEST_F(MixerTest, ForwardLoopEndJustAheadIsReachedInOneFrame) {
    TestSample values({1000, 2000, 3000, 4000}, ForwardLoop, 0, 4);
    MixVoice& voice = settledVoice(mixer, 0, values.sample, 255, 255);
    setPosition(voice, 3, 0xFFFFFFFFu - 99);
    const auto buffer = mix(3);
    const double w = ((0xFFFFFFFFu - 99) >> 1) * 0x1p-31;
    EXPECT_EQ(buffer[0], contribution(4000.0 + w * (1000.0 - 4000.0), 1.0f));
    EXPECT_EQ(buffer[2], contribution(1000.0 + w * 1000.0, 1.0f));
    EXPECT_EQ(voice.positionInt, 2);
    EXPECT_EQ(voice.positionFrac, 0xFFFFFFFFu - 99);
}

// Elsewhere the 24-bit count stands: an unlooped voice that close to its end
// stops at once and adds nothing, where the exact count would play one frame.
TEST_F(MixerTest, UnloopedEndJustAheadStopsAtOnce) {
    TestSample values({1000, 2000, 3000, 30000}, NoLoop, 0, 0);
    MixVoice& voice = settledVoice(mixer, 0, values.sample, 255, 255);
    setPosition(voice, 3, 0xFFFFFFFFu - 99);
    const double w = ((0xFFFFFFFFu - 99) >> 1) * 0x1p-31;
    ASSERT_NE(contribution(30000.0 - w * 30000.0, 1.0f), 0.0f);
    EXPECT_EQ(mix(2), std::vector<float>(4, 0.0f));
    EXPECT_EQ(voice.sample, nullptr);
}

// ---- The fast path against the scalar reference.

struct RandomScene {
    std::vector<std::unique_ptr<TestSample>> samples;
};

RandomScene makeSamples(std::mt19937& random) {
    RandomScene scene;
    for (int i = 0; i < 24; ++i) {
        const uint32_t length = i % 6 == 0 ? 1 + random() % 4 : 1 + random() % 5000;
        std::vector<int16_t> values(length);
        for (auto& value : values) {
            value = static_cast<int16_t>(random());
        }
        const uint8_t type = std::array<uint8_t, 3>{NoLoop, ForwardLoop, PingPongLoop}[i % 3];
        const uint32_t loopStart = random() % length;
        const uint32_t loopLength = 1 + random() % (length - loopStart);
        scene.samples.push_back(std::make_unique<TestSample>(values, type, loopStart, loopLength));
    }
    return scene;
}

void randomVoice(MixVoice& voice, const RandomScene& scene, std::mt19937& random) {
    const Sample& sample =
        random() % 16 == 0 ? emptySample : scene.samples[random() % scene.samples.size()]->sample;
    voice.sample = &sample;
    const uint32_t end = sample.loopStart + sample.loopLength;
    voice.positionInt = end == 0 ? 0 : static_cast<int32_t>(random() % end);
    voice.positionFrac = random();
    voice.direction = sample.loopType == PingPongLoop && random() % 2 ? Backward : Forward;
    if (voice.direction == Backward && voice.positionInt < static_cast<int32_t>(sample.loopStart)) {
        voice.positionInt = static_cast<int32_t>(sample.loopStart);
    }
    const uint32_t kind = random() % 8;
    voice.stepInt =
        kind == 0 ? static_cast<int32_t>(random() % 300) : static_cast<int32_t>(random() % 3);
    voice.stepFrac = random();
    if (voice.stepInt == 0 && voice.stepFrac < 9739155u) {
        voice.stepFrac = 9739155u;  // 100 Hz at 44100
    }
    voice.currentLeft = random() % 2 ? 0 : static_cast<int32_t>(random() % (255 * 256));
    voice.currentRight = static_cast<int32_t>(random() % (255 * 256));
    voice.rampFramesLeft = 0;
}

void randomTargets(MixVoice& voice, std::mt19937& random) {
    const uint32_t kind = random() % 4;
    voice.targetLeft = kind == 0 ? 0 : static_cast<int32_t>(random() % 256);
    voice.targetRight = kind == 0 ? 0 : static_cast<int32_t>(random() % 256);
}

void expectSameVoice(const MixVoice& a, const MixVoice& b, int slot) {
    EXPECT_EQ(a.sample, b.sample) << slot;
    EXPECT_EQ(a.positionInt, b.positionInt) << slot;
    EXPECT_EQ(a.positionFrac, b.positionFrac) << slot;
    EXPECT_EQ(a.direction, b.direction) << slot;
    EXPECT_EQ(a.currentLeft, b.currentLeft) << slot;
    EXPECT_EQ(a.currentRight, b.currentRight) << slot;
    EXPECT_EQ(a.rampFramesLeft, b.rampFramesLeft) << slot;
    EXPECT_EQ(a.rampTargetLeft, b.rampTargetLeft) << slot;
    EXPECT_EQ(a.rampTargetRight, b.rampTargetRight) << slot;
    EXPECT_EQ(std::memcmp(&a.rampStepLeft, &b.rampStepLeft, sizeof(float)), 0) << slot;
    EXPECT_EQ(std::memcmp(&a.rampStepRight, &b.rampStepRight, sizeof(float)), 0) << slot;
}

TEST_F(MixerTest, EverySupportedKernelSetMatchesTheScalarReferenceBitForBit) {
    std::mt19937 random(11);
    const RandomScene scene = makeSamples(random);
    for (auto& voice : mixer.voices) {
        randomVoice(voice, scene, random);
        randomTargets(voice, random);
    }
    std::vector<float> fast;
    std::vector<float> reference;
    int64_t voiceFrames = 0;
    for (int round = 0; round < 300; ++round) {
        const auto frames = static_cast<int32_t>(1 + random() % 1200);
        fast.assign(2 * static_cast<size_t>(frames), 0.0f);
        if (round % 5 == 4) {
            for (auto& value : fast) {
                value = static_cast<float>(static_cast<int32_t>(random() % 200001) - 100000) / 7.0f;
            }
        }
        reference = fast;
        const std::vector<float> before = fast;
        const auto voicesBefore = mixer.voices;
        mixVoicesWith(mixer, referenceMixKernels, reference.data(), frames);
        const auto referenceVoices = mixer.voices;
        // Every supported set from the same state; the last one, the set
        // playback uses, leaves the state for the next round.
        for (const MixKernels* kernels : supportedMixKernels()) {
            fast = before;
            mixer.voices = voicesBefore;
            mixVoicesWith(mixer, *kernels, fast.data(), frames);
            ASSERT_EQ(std::memcmp(fast.data(), reference.data(), fast.size() * sizeof(float)), 0)
                << kernels->name << ", round " << round;
            for (int slot = 0; slot < voiceSlots; ++slot) {
                expectSameVoice(mixer.voices[slot], referenceVoices[slot], slot);
            }
            ASSERT_FALSE(HasFailure()) << kernels->name << ", round " << round;
        }
        voiceFrames += int64_t{frames} * mixedVoices;

        // What the sequencer does between calls: new targets, new notes.
        for (int change = 0; change < 12; ++change) {
            MixVoice& voice = mixer.voices[random() % mixedVoices];
            if (random() % 3 == 0) {
                randomVoice(voice, scene, random);
            }
            randomTargets(voice, random);
        }
    }
    EXPECT_GT(voiceFrames, 10'000'000);
}

}  // namespace
