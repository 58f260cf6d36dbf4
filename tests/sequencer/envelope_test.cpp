// Envelope walks with sustain and loop, Lxx, fade-out and the auto-vibrato.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "player/sequencer/channel.h"
#include "player/sequencer/envelope.h"
#include "player/sequencer/row_processing.h"

using namespace xmplayer;

namespace {

class Envelopes : public ::testing::Test {
  protected:
    void SetUp() override {
        instrument = Instrument{};
        channel = MusicChannel{};
        resetChannel(&channel, &emptySample);
    }

    void volumeEnvelope(std::initializer_list<std::pair<uint16_t, uint16_t>> points,
                        uint8_t flags = envelopeOn) {
        int i = 0;
        for (const auto& [tick, value] : points) {
            instrument.volumeEnvelope[i++] = EnvelopePoint{tick, value};
        }
        instrument.volumePointCount = static_cast<uint8_t>(points.size());
        instrument.volumeEnvelopeFlags = flags;
    }

    // The volume envelope's values over `ticks` envelope blocks.
    std::vector<int32_t> walk(int ticks) {
        std::vector<int32_t> values;
        for (int t = 0; t < ticks; ++t) {
            stepEnvelopes(&channel, &instrument, t == 0);
            values.push_back(channel.volEnvValue);
        }
        return values;
    }

    Instrument instrument{};
    MusicChannel channel{};
};

TEST_F(Envelopes, SegmentsStartAtTheirPointAndMoveByTheTruncatedDelta) {
    volumeEnvelope({{0, 64}, {10, 0}});
    const std::vector<int32_t> values = walk(12);
    EXPECT_EQ(values, (std::vector<int32_t>{64, 57, 51, 44, 38, 32, 25, 19, 12, 6, 0, 0}));
    EXPECT_EQ(channel.volEnvDelta, -419430);
    EXPECT_EQ(channel.volEnvDone, 1);
    EXPECT_NE(channel.flags & VolumeChanged, 0);
}

TEST_F(Envelopes, SustainWaitsUntilKeyOff) {
    volumeEnvelope({{0, 0}, {4, 64}, {8, 32}}, envelopeOn | envelopeSustain);
    instrument.volumeSustainPoint = 1;
    EXPECT_EQ(walk(8), (std::vector<int32_t>{0, 16, 32, 48, 64, 64, 64, 64}));
    channel.keyOff = 1;
    EXPECT_EQ(walk(6), (std::vector<int32_t>{64, 56, 48, 40, 32, 32}));
    EXPECT_EQ(channel.volEnvDone, 1);
}

TEST_F(Envelopes, LoopJumpsBackWithoutRepeatingTheLoopEnd) {
    volumeEnvelope({{0, 64}, {4, 32}, {8, 64}, {12, 0}}, envelopeOn | envelopeLoop);
    instrument.volumeLoopStart = 1;
    instrument.volumeLoopEnd = 2;
    EXPECT_EQ(walk(16), (std::vector<int32_t>{64, 56, 48, 40, 32, 40, 48, 56, 32, 40, 48, 56, 32,
                                              40, 48, 56}));
    channel.keyOff = 1;  // the loop goes on after key-off
    EXPECT_EQ(walk(4), (std::vector<int32_t>{32, 40, 48, 56}));
}

TEST_F(Envelopes, LoopTestComesBeforeTheSustainAtTheSamePoint) {
    volumeEnvelope({{0, 64}, {4, 32}, {8, 64}, {12, 0}},
                   envelopeOn | envelopeLoop | envelopeSustain);
    instrument.volumeLoopStart = 1;
    instrument.volumeLoopEnd = 2;
    instrument.volumeSustainPoint = 2;
    EXPECT_EQ(walk(12), (std::vector<int32_t>{64, 56, 48, 40, 32, 40, 48, 56, 32, 40, 48, 56}));
}

TEST_F(Envelopes, SetPositionInsideOnAndBeyondTheLastSegment) {
    volumeEnvelope({{0, 64}, {10, 0}});
    setVolumeEnvelopePosition(&channel, &instrument, 5);
    EXPECT_EQ(channel.volEnvFixed, 2097154);
    EXPECT_EQ(channel.volEnvValue, 32);
    EXPECT_EQ(channel.volEnvPoint, 1);
    EXPECT_EQ(channel.volEnvTick, 5);
    EXPECT_EQ(channel.volEnvDone, 0);

    setVolumeEnvelopePosition(&channel, &instrument, 10);
    EXPECT_EQ(channel.volEnvValue, 0);
    EXPECT_EQ(channel.volEnvDone, 0);
    walk(1);
    EXPECT_EQ(channel.volEnvDone, 1);

    resetChannel(&channel, &emptySample);
    setVolumeEnvelopePosition(&channel, &instrument, 11);
    EXPECT_EQ(channel.volEnvValue, 0);
    EXPECT_EQ(channel.volEnvDone, 1);
}

TEST_F(Envelopes, SetPositionIgnoresTheSustainAndStaysWithinAFullEnvelope) {
    // Twenty points fill the record: the search must stop at the last one.
    for (int i = 0; i < maxEnvelopePoints; ++i) {
        instrument.volumeEnvelope[i] = EnvelopePoint{static_cast<uint16_t>(i), 40};
    }
    instrument.volumePointCount = maxEnvelopePoints;
    instrument.volumeEnvelopeFlags = envelopeOn | envelopeSustain;
    instrument.volumeSustainPoint = 1;
    setVolumeEnvelopePosition(&channel, &instrument, 255);
    EXPECT_EQ(channel.volEnvDone, 1);
    EXPECT_EQ(channel.volEnvValue, 40);

    resetChannel(&channel, &emptySample);
    setVolumeEnvelopePosition(&channel, &instrument, 5);  // past the sustain point
    EXPECT_EQ(channel.volEnvPoint, 5);
    EXPECT_EQ(walk(1)[0], 40);
    EXPECT_EQ(channel.volEnvPoint, 6);
}

TEST_F(Envelopes, FadeOutReachesZeroOnTheSixteenthTickAfterKeyOff) {
    instrument.fadeOut = 4096;
    channel.keyOff = 1;
    int ticks = 0;
    while (channel.fadeOutLevel > 0 && ticks < 100) {
        walk(1);
        ++ticks;
    }
    EXPECT_EQ(ticks, 16);
    EXPECT_EQ(channel.volEnvValue, 0);  // no volume envelope: silent at the key-off row tick
    walk(3);
    EXPECT_EQ(channel.fadeOutLevel, 0);
}

TEST_F(Envelopes, PanningEnvelopeRequestsThePanningUpdate) {
    instrument.panningEnvelope[0] = {0, 0};
    instrument.panningEnvelope[1] = {2, 64};
    instrument.panningPointCount = 2;
    instrument.panningEnvelopeFlags = envelopeOn;
    channel.flags = 0;
    stepEnvelopes(&channel, &instrument, false);
    EXPECT_EQ(channel.panEnvValue, 0);
    EXPECT_EQ(channel.flags, PanningChanged);
    stepEnvelopes(&channel, &instrument, false);
    EXPECT_EQ(channel.panEnvValue, 32);
}

// Envelopes that a file cannot hold but a song built in memory (or a damaged
// file) can: every read stays within the record, no arithmetic overflows.
TEST_F(Envelopes, MalformedEnvelopesStayBounded) {
    // A first point after tick 0 holds its value until the walk reaches it.
    channel.volEnvFixed = 12 << 16;  // what a previous note left
    volumeEnvelope({{3, 48}, {7, 0}});
    EXPECT_EQ(walk(6), (std::vector<int32_t>{48, 48, 48, 48, 36, 24}));

    // Falling ticks and values above 64: the walk moves on point by point.
    resetChannel(&channel, &emptySample);
    volumeEnvelope({{0, 64}, {40, 60000}, {10, 0}, {20, 64}});
    std::vector<int32_t> values = walk(300);
    for (int32_t value : values) {
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 64);
    }
    EXPECT_EQ(channel.volEnvDone, 1);

    // A loop and a sustain beyond the points, and a point count beyond the
    // record: the loop is ignored and the walk ends at the record's end.
    resetChannel(&channel, &emptySample);
    for (int i = 0; i < maxEnvelopePoints; ++i) {
        instrument.volumeEnvelope[i] = EnvelopePoint{static_cast<uint16_t>(2 * i), 16};
    }
    instrument.volumePointCount = 200;
    instrument.volumeEnvelopeFlags = envelopeOn | envelopeLoop | envelopeSustain;
    instrument.volumeLoopStart = 100;
    instrument.volumeLoopEnd = 5;
    instrument.volumeSustainPoint = 150;
    values = walk(60);
    EXPECT_EQ(values.back(), 16);
    EXPECT_EQ(channel.volEnvDone, 1);
    EXPECT_EQ(channel.volEnvPoint, maxEnvelopePoints - 1);

    // One point with the on bit is no envelope, as the loader makes it.
    resetChannel(&channel, &emptySample);
    volumeEnvelope({{0, 10}});
    EXPECT_EQ(walk(2), (std::vector<int32_t>{64, 64}));
}

class AutoVibrato : public ::testing::Test {
  protected:
    // The offsets that successive ticks add to periodDelta.
    std::vector<int32_t> offsets(int ticks) {
        std::vector<int32_t> added;
        for (int t = 0; t < ticks; ++t) {
            channel.periodDelta = 0;
            stepAutoVibrato(&channel, &instrument, ownRules, true);
            added.push_back(channel.periodDelta);
        }
        return added;
    }

    Instrument instrument{};
    MusicChannel channel{};
};

TEST_F(AutoVibrato, SquareWithoutSweepSwingsByTheDepth) {
    instrument.vibratoType = 1;
    instrument.vibratoDepth = 16;
    instrument.vibratoRate = 64;
    EXPECT_EQ(offsets(5), (std::vector<int32_t>{16, 16, -16, -16, 16}));
    EXPECT_EQ(channel.flags, FrequencyChanged);
}

TEST_F(AutoVibrato, SweepUsesTheCounterBeforeAdvancingIt) {
    instrument.vibratoType = 1;
    instrument.vibratoDepth = 64;
    instrument.vibratoSweep = 4;
    instrument.vibratoRate = 16;
    EXPECT_EQ(offsets(7), (std::vector<int32_t>{0, 16, 32, 48, 64, 64, 64}));
    EXPECT_EQ(channel.autoVibSweepPos, 4);
}

TEST_F(AutoVibrato, WaveformsAndPhaseWrap) {
    instrument.vibratoDepth = 64;  // the offset equals the waveform value
    instrument.vibratoRate = 1;
    EXPECT_EQ(offsets(8), (std::vector<int32_t>{0, 1, 3, 4, 6, 7, 9, 10}));
    channel.autoVibPos = 57;
    EXPECT_EQ(offsets(1)[0], 63);
    channel.autoVibPos = 71;
    EXPECT_EQ(offsets(1)[0], 63);
    channel.autoVibPos = 185;
    EXPECT_EQ(offsets(1)[0], -63);

    const auto at = [&](uint8_t type, int32_t position) {
        instrument.vibratoType = type;
        channel.autoVibPos = position;
        return offsets(1)[0];
    };
    EXPECT_EQ(at(2, 0), 0);
    EXPECT_EQ(at(2, 127), -64);
    EXPECT_EQ(at(2, 128), 64);
    EXPECT_EQ(at(2, 255), 0);
    EXPECT_EQ(at(3, 0), 0);
    EXPECT_EQ(at(3, 1), 0);
    EXPECT_EQ(at(3, 128), 64);
    EXPECT_EQ(at(3, 129), -64);
    EXPECT_EQ(at(3, 255), -1);
    // The shift floors: a negative amount below one unit stays -1.
    instrument.vibratoDepth = 1;
    EXPECT_EQ(at(3, 255), -1);

    // 255 + 1 wraps to 0.
    instrument.vibratoType = 1;
    instrument.vibratoRate = 1;
    channel.autoVibPos = 255;
    offsets(1);
    EXPECT_EQ(channel.autoVibPos, 0);
}

TEST_F(AutoVibrato, UnknownWaveformAddsNothingButStillAdvances) {
    instrument.vibratoType = 4;
    instrument.vibratoDepth = 15;
    instrument.vibratoRate = 10;
    EXPECT_EQ(offsets(3), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(channel.autoVibPos, 30);
    EXPECT_EQ(channel.flags, FrequencyChanged);
}

}  // namespace
