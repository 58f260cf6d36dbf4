// Periods, frequencies, steps, volumes, side gains and the twin voices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "player/mixer/mixer.h"
#include "player/sequencer/channel.h"
#include "player/sequencer/pitch.h"
#include "player/sequencer/sequencer.h"

using namespace xmplayer;

namespace {

// One channel of a sequencer bound to an empty song and to its own mixer.
class VoiceUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMixer(mixer, 44100);
        song = Song{};
        song.flags = linearFrequencyTable;
        ASSERT_TRUE(bindSequencer(sequencer, song, mixer, ownRules));
        sequencer.globalVolume = 64;
        channel = MusicChannel{};
        channel.voice = &mixer.voices[3];
        channel.volume = 64;
        channel.panning = 128;
        channel.volEnvValue = 64;
        channel.panEnvValue = 32;
        channel.fadeOutLevel = 65536;
        sample.length = 10000;
        sample.loopType = NoLoop;
        sample.loopLength = 10000;
    }

    int32_t frequencyOf(int32_t period, int32_t periodDelta = 0) {
        channel.period = period;
        channel.periodDelta = periodDelta;
        channel.flags = FrequencyChanged;
        updateVoice(sequencer, &channel, &sample);
        return channel.voice->frequency;
    }

    Song song{};
    MixerState mixer{};
    Sequencer sequencer{};
    MusicChannel channel{};
    Sample sample{};
};

TEST(Periods, LinearPeriodsHalveTheFinetuneTowardZero) {
    EXPECT_EQ(linearPeriod(48, 0), 4608);
    EXPECT_EQ(linearPeriod(48, 127), 4545);
    EXPECT_EQ(linearPeriod(48, -128), 4672);
    EXPECT_EQ(linearPeriod(48, -1), 4608);
    EXPECT_EQ(linearPeriod(48, -127), 4671);
    EXPECT_EQ(linearPeriod(0, 0), 7680);
    EXPECT_EQ(linearPeriod(95, 0), 1600);
}

TEST(Periods, AmigaPeriodsMoveByTheFinetuneTowardTheNeighbouringNote) {
    EXPECT_EQ(amigaPeriod(48, 0), 1712);
    EXPECT_EQ(amigaPeriod(60, 0), 856);
    EXPECT_EQ(amigaPeriod(0, 0), 27392);
    EXPECT_EQ(amigaPeriod(95, 0), 113);
    EXPECT_EQ(amigaPeriod(48, 64), 1664);
    EXPECT_EQ(amigaPeriod(48, 127), 1616);
    EXPECT_EQ(amigaPeriod(48, -64), 1762);
    EXPECT_EQ(amigaPeriod(48, -128), 1813);
    EXPECT_EQ(amigaPeriod(47, 0), 1813);
    EXPECT_EQ(amigaPeriod(48, -1), 1712);
    EXPECT_EQ(amigaPeriod(48, 1), 1712);
    // Note 0 takes the interval above even for a lowering finetune.
    EXPECT_EQ(amigaPeriod(0, -64), 28161);
    // The highest 8-bit note still has a neighbour above (both periods are 0).
    EXPECT_EQ(amigaPeriod(255, 127), 0);
}

TEST_F(VoiceUpdate, LinearFrequencies) {
    EXPECT_EQ(frequencyOf(4608), 8363);
    EXPECT_EQ(frequencyOf(4545), 8852);
    EXPECT_EQ(frequencyOf(4672), 7893);
    EXPECT_EQ(frequencyOf(7680), 522);
    EXPECT_EQ(frequencyOf(1600), 126297);
    // A positive delta raises the pitch in linear mode: 768 units an octave.
    EXPECT_EQ(frequencyOf(4608 + 768, 768), 8363);
}

// Frequencies are remembered in a few slots by the period offset: periods
// that share a slot, met in turn, still each get their own frequency.
TEST_F(VoiceUpdate, LinearFrequenciesOfPeriodsSharingAMemorySlotStayApart) {
    const int32_t octaveUp = frequencyOf(4608 - 768);
    EXPECT_EQ(octaveUp, 2 * 8363);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(frequencyOf(4608), 8363);
        EXPECT_EQ(frequencyOf(4608 + 256 * 3), 8363 / 2);
        EXPECT_EQ(frequencyOf(4608 - 256 * 3), octaveUp);
        EXPECT_EQ(frequencyOf(4608 + 4 * 768, 4 * 768), 8363);
    }
    // Far more periods than slots, every note with a few finetunes and
    // vibrato offsets, met in orders that keep replacing and reviving the
    // remembered ones: each answer is the one worked out afresh.
    std::vector<int32_t> periods;
    for (int32_t note = 0; note < 120; ++note) {
        for (const int32_t offset : {0, -1, 3, -32, 31}) {
            periods.push_back(7680 - 64 * note + offset);
        }
    }
    const float unit = 1.0f / 768.0f;
    const auto expected = [unit](int32_t period) {
        return static_cast<int32_t>(
            std::pow(2.0, static_cast<double>(4608 - period) * static_cast<double>(unit)) * 8363.0);
    };
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < periods.size(); ++i) {
            const size_t at = round == 1 ? periods.size() - 1 - i : i * 7 % periods.size();
            ASSERT_EQ(frequencyOf(periods[at]), expected(periods[at])) << "period " << periods[at];
            // The one before again, found in the other slot of its pair.
            const size_t before = at == 0 ? periods.size() - 1 : at - 1;
            ASSERT_EQ(frequencyOf(periods[before]), expected(periods[before]))
                << "period " << periods[before];
        }
    }
}

TEST_F(VoiceUpdate, AmigaFrequenciesDivideTheClockAndAddTheDelta) {
    song.flags = 0;
    EXPECT_EQ(frequencyOf(1712), 8362);
    EXPECT_EQ(frequencyOf(1700, 12), 8362);
}

TEST_F(VoiceUpdate, StepIsThe32Point32QuotientWithA100HzFloor) {
    EXPECT_EQ(frequencyOf(4608), 8363);
    EXPECT_EQ(channel.voice->stepInt, 0);
    EXPECT_EQ(channel.voice->stepFrac, 814485521u);

    song.flags = 0;
    EXPECT_EQ(frequencyOf(14317056 / 50), 50);  // keeps the unfloored value
    EXPECT_EQ(channel.voice->stepInt, 0);
    EXPECT_EQ(channel.voice->stepFrac, 9739154u);  // 100 x 2^32 / 44100

    EXPECT_EQ(frequencyOf(162), 88376);
    EXPECT_EQ(channel.voice->stepInt, 2);
}

TEST_F(VoiceUpdate, ZeroPeriodComputesNoFrequency) {
    song.flags = 0;
    frequencyOf(1712);
    EXPECT_EQ(frequencyOf(100, -100), 8362);
    EXPECT_EQ(channel.flags & FrequencyChanged, 0);
}

TEST_F(VoiceUpdate, FrequencyBeyond32BitsStepsAtTheFloor) {
    // A note whose relative note wrapped, raised further by an arpeggio: the
    // linear formula leaves the 32-bit range, as the original's conversion
    // did, and the voice steps at 100 Hz.
    EXPECT_EQ(frequencyOf(-8703, 960), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(channel.voice->stepInt, 0);
    EXPECT_EQ(channel.voice->stepFrac, 9739154u);
}

TEST_F(VoiceUpdate, VolumeProductAndSideGains) {
    channel.voice->panning = 128;
    channel.flags = VolumeChanged;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->volume, 127);
    EXPECT_EQ(channel.voice->volumeCopy, 127);
    EXPECT_EQ(channel.voice->targetLeft, 63);
    EXPECT_EQ(channel.voice->targetRight, 63);

    channel.volume = 32;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->volume, 63);

    channel.volume = 40;
    channel.volumeDelta = -8;  // a tremolo offset counts for this tick
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->volume, 63);

    sequencer.globalVolume = 0;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->volume, 0);
    EXPECT_EQ(channel.voice->targetLeft, 0);
}

TEST_F(VoiceUpdate, PanningQuotientIsTakenFirstAndClamped) {
    channel.voice->volume = 127;
    channel.panEnvValue = 64;
    channel.flags = PanningChanged;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->panning, 255);  // 128 + 4 x 32 = 256
    EXPECT_EQ(channel.voice->panningCopy, 255);
    EXPECT_EQ(channel.voice->targetLeft, 127);
    EXPECT_EQ(channel.voice->targetRight, 0);

    channel.panning = 100;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->panning, 196);  // 100 + (100 / 32 = 3) x 32

    channel.panning = -40;  // a volume-column slide has no limit
    channel.panEnvValue = 32;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->panning, 0);
}

TEST_F(VoiceUpdate, VolumeBlockUsesThePreviousPanningAndPanningBlockTheNewVolume) {
    channel.voice->panning = 255;
    channel.panning = 0;
    channel.flags = VolumeChanged | PanningChanged;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->panning, 0);
    EXPECT_EQ(channel.voice->targetLeft, 0);
    EXPECT_EQ(channel.voice->targetRight, 127);
}

TEST_F(VoiceUpdate, NewNotesAlternateBetweenTheTwinSlots) {
    channel.period = 4608;
    channel.flags = StartNote | VolumeChanged | FrequencyChanged;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice, &mixer.voices[3]);  // slot 3 was idle
    mixer.voices[3].currentLeft = 63 * 256;

    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice, &mixer.voices[35]);
    EXPECT_EQ(mixer.voices[35].index, 35);
    EXPECT_EQ(mixer.voices[35].sample, &sample);
    EXPECT_EQ(mixer.voices[35].volume, 127);
    EXPECT_EQ(mixer.voices[35].currentLeft, 0);  // rises from silence
    EXPECT_EQ(mixer.voices[35].frequency, 8363);
    const MixVoice& left = mixer.voices[3];
    EXPECT_EQ(left.sample, &sample);  // keeps playing while it ramps down
    EXPECT_EQ(left.volume, 0);
    EXPECT_EQ(left.volumeCopy, 0);
    EXPECT_EQ(left.targetLeft, 0);
    EXPECT_EQ(left.targetRight, 0);
    EXPECT_EQ(left.currentLeft, 63 * 256);
    // The slot left behind is marked as no channel's any more; the new one is not.
    EXPECT_TRUE(left.abandoned);
    EXPECT_FALSE(mixer.voices[35].abandoned);

    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice, &mixer.voices[3]);
    EXPECT_EQ(mixer.voices[3].index, 3);
    EXPECT_FALSE(mixer.voices[3].abandoned);
    EXPECT_EQ(mixer.voices[35].volume, 0);
    EXPECT_TRUE(mixer.voices[35].abandoned);
}

TEST_F(VoiceUpdate, StartOffsetAtOrBeyondTheLoopEndStartsAtZero) {
    sample.loopType = ForwardLoop;
    sample.loopStart = 1000;
    sample.loopLength = 3096;  // loop end 4096
    channel.flags = StartNote;
    channel.voice->startOffset = 4095;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->positionInt, 4095);
    EXPECT_EQ(channel.voice->startOffset, 0u);

    channel.voice->startOffset = 4096;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice->positionInt, 0);
    EXPECT_EQ(channel.voice->direction, Forward);
}

TEST_F(VoiceUpdate, RewindPutsTheVoiceAtTheStartMovingForward) {
    MixVoice& voice = *channel.voice;
    voice.sample = &sample;
    voice.positionInt = 5000;
    voice.positionFrac = 77;
    voice.startOffset = 300;
    voice.direction = Backward;
    channel.flags = RewindVoice;
    updateVoice(sequencer, &channel, &sample);
    EXPECT_EQ(channel.voice, &voice);  // no new note, no twin switch
    EXPECT_EQ(voice.positionInt, 0);
    EXPECT_EQ(voice.positionFrac, 0u);
    EXPECT_EQ(voice.startOffset, 0u);
    EXPECT_EQ(voice.direction, Forward);
}

}  // namespace
