// Notes, instruments, the volume column and the effects at the row tick and on
// the ticks between rows, on songs built in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/mixer/mixer.h"
#include "player/sequencer/arithmetic.h"
#include "player/sequencer/channel.h"
#include "player/sequencer/pitch.h"
#include "player/sequencer/row_processing.h"
#include "player/sequencer/sequencer.h"
#include "tests/sequencer/song_builder.h"

using namespace xmplayer;

namespace {

constexpr uint8_t noteC4 = 49;  // note index 48: period 4608 in linear mode
constexpr uint8_t noteE4 = 53;

class RowEffects : public ::testing::Test {
  protected:
    void SetUp() override { build({.channels = 4, .patterns = 2, .rows = 64}); }

    void build(const SongShape& shape) {
        if (song != nullptr) {
            releaseBuiltSong(song);
        }
        song = buildSong(shape);
        sample =
            addSample(song, 0, {.length = 20000, .loopType = ForwardLoop, .loopLength = 20000});
    }

    void TearDown() override { releaseBuiltSong(song); }

    PatternNote& at(int32_t row, int32_t channel, int32_t pattern = 0) {
        return cellAt(song, pattern, row, channel);
    }

    void ticks(int count) { play.ticks(count); }

    MusicChannel& channel(int c) { return play.channel(c); }
    MixVoice& voice(int c) { return play.voice(c); }
    MixVoice* voiceSlot(int slot) { return &play.mixer().voices[slot]; }
    Sequencer& sequencer() { return play.sequencer(); }

    Song* song = nullptr;
    Sample* sample = nullptr;
    SongPlayback play;
};

TEST_F(RowEffects, KeyOffWithoutVolumeEnvelopeFallsSilentAtItsRowTick) {
    instrumentAt(song, 0).fadeOut = 1000;
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(keyOffNote);
    play.start(song);
    ticks(6);
    EXPECT_EQ(voice(0).volume, 127);
    ticks(1);
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).volEnvValue, 0);
    EXPECT_EQ(channel(0).fadeOutLevel, 65536 - 1000);  // the row tick is the first fade step
    EXPECT_EQ(voice(0).volume, 0);
    ticks(1);
    EXPECT_EQ(channel(0).fadeOutLevel, 65536 - 2000);
}

TEST_F(RowEffects, KeyOffWithAnInstrumentResetsThenReleases) {
    instrumentAt(song, 0).fadeOut = 1000;
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(keyOffNote, 1);
    play.start(song);
    ticks(12);  // the fade of row 1 runs on ticks 7..12 after its reset
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).fadeOutLevel, 65536 - 6000);

    // Key-off as an effect (Kxx) ignores its parameter.
    at(2, 1) = cell(noteC4, 1, 0, Effect::KeyOff, 0x33);
    ticks(1);
    EXPECT_EQ(channel(1).keyOff, 1);
}

TEST_F(RowEffects, TonePortamentoKeepsPeriodAndInstrumentAndGlidesToTheNewNote) {
    build({.channels = 1, .patterns = 1, .rows = 64, .instruments = 2});
    addSample(song, 1, {.length = 100, .relativeNote = 12});
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(noteE4, 2, 0, Effect::TonePortamento, 8);
    at(2, 0) = cell(0, 0, 0, Effect::TonePortamento, 0);
    play.start(song);
    ticks(6);
    MixVoice* playing = channel(0).voice;
    playing->positionInt = 500;  // as the mixer left it
    ticks(1);
    EXPECT_EQ(channel(0).instrumentIndex, 0);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(0).notePeriod, linearPeriod(52, 0));
    EXPECT_EQ(channel(0).portaTarget, 4352);
    EXPECT_EQ(channel(0).voice, playing);  // no new note
    EXPECT_EQ(playing->positionInt, 500);
    ticks(1);
    EXPECT_EQ(channel(0).period, 4608 - 32);
    ticks(10);
    EXPECT_EQ(channel(0).period, 4352);  // reached and held
}

TEST_F(RowEffects, VolumeColumnTonePortamentoChangesThePitchAtOnceWithoutRestart) {
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(noteE4, 0, 0xF3);
    play.start(song);
    ticks(6);
    MixVoice* playing = channel(0).voice;
    ticks(1);
    EXPECT_EQ(channel(0).period, 4352);
    EXPECT_EQ(channel(0).portaSpeed, 48);
    EXPECT_EQ(channel(0).voice, playing);
}

TEST_F(RowEffects, PatternBreakReadsDecimalDigits) {
    at(0, 0) = cell(0, 0, 0, Effect::PatternBreak, 0x32);
    at(32, 0, 1) = cell(0, 0, 0, Effect::PatternBreak, 0x64);  // 64 is above 63
    play.start(song);
    ticks(6);
    EXPECT_EQ(sequencer().nextOrder, 1);
    EXPECT_EQ(sequencer().nextRow, 32);
    ticks(1);
    EXPECT_EQ(sequencer().orderPos, 1);
    EXPECT_EQ(sequencer().row, 32);
    EXPECT_EQ(sequencer().nextRow, 0);
    EXPECT_EQ(sequencer().nextOrder, 0);  // beyond the song: order 0, not the restart
}

TEST_F(RowEffects, PositionJumpToTheSongLengthGoesToOrderZero) {
    song->restartPosition = 1;
    at(0, 0) = cell(0, 0, 0, Effect::PositionJump, 2);
    play.start(song);
    ticks(1);
    EXPECT_EQ(sequencer().nextOrder, 0);
    EXPECT_EQ(sequencer().nextRow, 0);
}

TEST_F(RowEffects, JumpsAndBreaksCombineByChannelOrder) {
    at(0, 0) = cell(0, 0, 0, Effect::PatternBreak, 0x10);
    at(0, 1) = cell(0, 0, 0, Effect::PositionJump, 1);
    at(1, 0) = cell(0, 0, 0, Effect::PositionJump, 1);
    at(1, 1) = cell(0, 0, 0, Effect::PatternBreak, 0x10);
    play.start(song);
    ticks(1);
    EXPECT_EQ(sequencer().nextOrder, 1);
    EXPECT_EQ(sequencer().nextRow, 0);  // the later jump overrides the break's row

    sequencer().nextRow = 1;  // play row 1 next
    sequencer().nextOrder = 0;
    ticks(6);
    EXPECT_EQ(sequencer().nextOrder, 1);  // the later break keeps the jump's order
    EXPECT_EQ(sequencer().nextRow, 10);
}

TEST_F(RowEffects, SetVolumeHasNoLimitAndGlobalVolumeIsCapped) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::SetVolume, 0x50);
    at(0, 1) = cell(0, 0, 0, Effect::SetGlobalVolume, 0x80);
    play.start(song);
    sequencer().globalVolume = 10;
    ticks(1);
    EXPECT_EQ(channel(0).volume, 80);
    EXPECT_EQ(sequencer().globalVolume, 64);
}

TEST_F(RowEffects, SpeedAndTempo) {
    at(0, 0) = cell(0, 0, 0, Effect::SpeedTempo, 0x20);
    at(1, 0) = cell(0, 0, 0, Effect::SpeedTempo, 0x00);
    play.start(song);
    ticks(1);
    EXPECT_EQ(sequencer().tempo, 32);
    EXPECT_EQ(sequencer().framesPerTick, 3445);
    ticks(6);
    EXPECT_EQ(sequencer().speed, 0);
}

TEST_F(RowEffects, PatternLoopPlaysTheBodyThreeTimes) {
    at(1, 1) = cell(0, 0, 0, Effect::Extended, 0x60);
    at(2, 1) = cell(0, 0, 0, Effect::Extended, 0x62);
    song->defaultSpeed = 1;
    play.start(song);
    std::vector<int32_t> rows;
    for (int i = 0; i < 8; ++i) {
        ticks(1);
        rows.push_back(sequencer().processedRow);
    }
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2, 1, 2, 1, 2, 3}));
    EXPECT_EQ(channel(1).loopCount, 0);
}

TEST_F(RowEffects, TicksAfterAPatternLoopRunTheRowThatWasProcessed) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::PortamentoUp, 0x01);
    at(1, 1) = cell(0, 0, 0, Effect::Extended, 0x60);
    at(2, 0) = cell(0, 0, 0, Effect::VolumeSlide, 0x10);
    at(2, 1) = cell(0, 0, 0, Effect::Extended, 0x61);
    play.start(song);
    ticks(12);
    channel(0).volume = 30;
    ticks(1);
    EXPECT_EQ(sequencer().row, 0);  // moved back to loopRow - 1
    ticks(5);
    EXPECT_EQ(channel(0).volume, 35);  // row 2's volume slide, not row 0's portamento
}

// A note whose offset lies at or beyond the loop end starts on the empty
// sample: the playing note moves to the twin and ramps out, and the row is
// silent, though the note before it was another instrument's.
TEST_F(RowEffects, SampleOffsetAgainstTheLoopEnd) {
    build({.channels = 4, .patterns = 2, .rows = 64, .instruments = 2});
    sample->length = 4097;
    sample->loopLength = 4096;  // loop end 4096
    Sample* other = addSample(song, 1, {.length = 100, .loopType = ForwardLoop, .loopLength = 100});
    at(0, 0) = cell(noteC4, 2);
    at(1, 0) = cell(noteC4, 1, 0, Effect::SampleOffset, 0x10);
    play.start(song);
    ticks(6);
    std::vector<float> mixed(2 * 1024, 0.0f);
    mixVoices(play.mixer(), mixed.data(), 1024);  // the first note rises to its gains
    ticks(1);
    EXPECT_EQ(channel(0).sampleOffsetParam, 0x10);
    EXPECT_EQ(channel(0).flags & RewindVoice, 0);
    EXPECT_EQ(channel(0).voice, voiceSlot(32));
    EXPECT_EQ(voice(0).sample, &emptySample);
    EXPECT_EQ(voiceSlot(0)->sample, other);
    EXPECT_EQ(voiceSlot(0)->volume, 0);
    std::fill(mixed.begin(), mixed.end(), 0.0f);
    mixVoices(play.mixer(), mixed.data(), 1024);
    EXPECT_NE(mixed[0], 0.0f) << "the old note ramps out";
    EXPECT_EQ(*std::max_element(mixed.begin() + 2 * 512, mixed.end()), 0.0f);
    EXPECT_EQ(*std::min_element(mixed.begin() + 2 * 512, mixed.end()), 0.0f);

    sample->loopLength = 4097;  // loop end 4097
    play.start(song);
    ticks(7);
    EXPECT_EQ(voice(0).sample, sample);
    EXPECT_EQ(voice(0).positionInt, 4096);
}

TEST_F(RowEffects, SampleOffsetWithoutANote) {
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(0, 0, 0, Effect::SampleOffset, 0x20);
    at(2, 0) = cell(noteC4);
    at(3, 0) = cell(0, 0, 0, Effect::SampleOffset, 0xFF);  // 65280: beyond the loop end
    play.start(song);
    ticks(6);
    voice(0).positionInt = 777;  // as the mixer left it
    ticks(1);
    EXPECT_EQ(voice(0).startOffset, 0x2000u);  // waits for the next note
    EXPECT_EQ(voice(0).positionInt, 777);
    ticks(6);
    EXPECT_EQ(channel(0).voice, voiceSlot(32));  // the twin carried the offset
    EXPECT_EQ(voice(0).positionInt, 0x2000);
    voice(0).direction = Backward;
    ticks(6);
    EXPECT_EQ(voice(0).positionInt, 0);  // rewound without a new note
    EXPECT_EQ(voice(0).direction, Forward);
    EXPECT_EQ(channel(0).voice, voiceSlot(32));
}

TEST_F(RowEffects, FineVolumeSlidesShareTheirMemory) {
    at(0, 0) = cell(noteC4, 1, 0x38, Effect::Extended, 0xA3);
    at(1, 0) = cell(0, 0, 0, Effect::Extended, 0xB0);
    play.start(song);
    ticks(1);
    EXPECT_EQ(channel(0).volume, 43);
    ticks(6);
    EXPECT_EQ(channel(0).volume, 40);
}

TEST_F(RowEffects, NoteWithoutInstrumentAfterKeyOffRestartsTheReleasedNote) {
    instrumentAt(song, 0).fadeOut = 1024;
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(keyOffNote);
    at(2, 0) = cell(noteE4);
    play.start(song);
    ticks(13);
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).fadeOutLevel, 65536 - 7 * 1024);
    EXPECT_EQ(channel(0).voice, voiceSlot(32));
    EXPECT_EQ(voice(0).positionInt, 0);
    EXPECT_EQ(channel(0).period, 4352);
}

TEST_F(RowEffects, GlobalVolumeSlideReachesAVoiceOnlyWithAnotherVolumeRequest) {
    at(0, 0) = cell(noteC4, 1);
    at(0, 1) = cell(0, 0, 0, Effect::GlobalVolumeSlide, 0x04);
    at(1, 1) = cell(0, 0, 0, Effect::GlobalVolumeSlide, 0x00);  // remembered by the playback
    play.start(song);
    ticks(6);
    EXPECT_EQ(sequencer().globalVolume, 64 - 5 * 4);
    EXPECT_EQ(sequencer().globalVolSlideParam, 0x04);
    EXPECT_EQ(voice(0).volume, 127);  // nothing asked for a volume update
    ticks(1);
    EXPECT_EQ(voice(0).volume, 87);  // the row tick always does: 44 x 255 / 128
    ticks(1);
    EXPECT_EQ(sequencer().globalVolume, 40);
}

TEST_F(RowEffects, NoteCutOnItsTickOnly) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Extended, 0xC2);
    at(0, 1) = cell(noteC4, 1, 0, Effect::Extended, 0xC0);
    at(0, 2) = cell(noteC4, 1, 0, Effect::Extended, 0xC6);  // at the tick count: never
    play.start(song);
    ticks(2);
    EXPECT_EQ(channel(0).volume, 64);
    ticks(1);
    EXPECT_EQ(channel(0).volume, 0);
    EXPECT_EQ(voice(0).volume, 0);
    ticks(3);
    EXPECT_EQ(channel(1).volume, 64);
    EXPECT_EQ(channel(2).volume, 64);
}

TEST_F(RowEffects, NoteDelayStartsOnItsTickUpToTheLastOne) {
    at(0, 0) = cell(noteC4, 1);
    at(0, 1) = cell(noteC4, 1);
    at(1, 0) = cell(noteE4, 1, 0x20, Effect::Extended, 0xD5);  // speed - 1: starts on tick 5
    at(1, 1) = cell(noteE4, 1, 0, Effect::Extended, 0xD6);     // at the speed: never
    play.start(song);
    ticks(6);
    channel(0).volume = 50;
    MixVoice* before = channel(0).voice;
    ticks(1);
    // The row tick put volume, period and panning back and started nothing.
    EXPECT_EQ(channel(0).volume, 50);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(0).voice, before);
    ticks(4);
    EXPECT_EQ(channel(0).voice, before);
    ticks(1);
    EXPECT_NE(channel(0).voice, before);
    EXPECT_EQ(channel(0).period, 4352);
    EXPECT_EQ(channel(0).volume, 16);  // the volume column applied with the note
    EXPECT_EQ(voice(0).volume, 31);
    EXPECT_EQ(channel(1).voice, voiceSlot(1));
}

TEST_F(RowEffects, WaitingNoteDelayRecomputesOnlyTheFrequency) {
    Instrument& instrument = instrumentAt(song, 0);
    instrument.vibratoType = 1;
    instrument.vibratoDepth = 64;
    instrument.vibratoRate = 128;  // +64 and -64 on alternate ticks
    setEnvelope(instrument.volumeEnvelope.data(), instrument.volumePointCount,
                instrument.volumeEnvelopeFlags, {{0, 64}, {100, 0}}, envelopeOn);
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(noteE4, 0, 0, Effect::Extended, 0xD5);
    play.start(song);
    ticks(7);
    const int32_t volume = voice(0).volume;
    ticks(1);
    const int32_t first = voice(0).frequency;
    ticks(1);
    EXPECT_NE(voice(0).frequency, first);  // the auto-vibrato reaches the voice
    EXPECT_EQ(voice(0).volume, volume);    // the stepping envelope does not
    EXPECT_LT(channel(0).volEnvValue, 60);
}

TEST_F(RowEffects, RetriggerEveryYTicks) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Extended, 0x92);
    at(0, 1) = cell(noteC4, 1, 0, Effect::Extended, 0x90);
    play.start(song);
    std::vector<MixVoice*> voices;
    for (int t = 0; t < 6; ++t) {
        ticks(1);
        voices.push_back(channel(0).voice);
    }
    EXPECT_EQ(voices, (std::vector<MixVoice*>{voiceSlot(0), voiceSlot(0), voiceSlot(32),
                                              voiceSlot(32), voiceSlot(0), voiceSlot(0)}));
    EXPECT_EQ(channel(1).voice, voiceSlot(1));
}

TEST_F(RowEffects, ArpeggioByTickInLinearMode) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Arpeggio, 0x47);
    at(0, 1) = cell(noteC4, 1, 0, Effect::Arpeggio, 0x00);
    play.start(song);
    std::vector<int32_t> deltas;
    std::vector<int32_t> still;
    for (int t = 0; t < 5; ++t) {
        ticks(1);
        deltas.push_back(channel(0).periodDelta);
        still.push_back(voice(1).frequency);
    }
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 256, 448, 0, 256}));
    EXPECT_EQ(still, (std::vector<int32_t>(5, 8363)));
}

TEST_F(RowEffects, ArpeggioInAmigaModeStepsFromTheNoteHeldAtTheLowest) {
    build({.channels = 1, .patterns = 1, .rows = 64, .linear = false});
    at(0, 0) = cell(noteC4, 1, 0, Effect::Arpeggio, 0x12);
    at(1, 0) = cell(1, 1, 0, Effect::Arpeggio, 0x30);
    play.start(song);
    ticks(2);
    EXPECT_EQ(channel(0).periodDelta, amigaPeriod(49, 0) - amigaPeriod(48, 0));
    ticks(1);
    EXPECT_EQ(channel(0).periodDelta, amigaPeriod(50, 0) - amigaPeriod(48, 0));

    sample->relativeNote = -1;  // note 0 - 1 is held at note 0
    ticks(4);
    EXPECT_EQ(channel(0).realNote, 0);
    ticks(1);
    EXPECT_EQ(channel(0).periodDelta, amigaPeriod(3, 0) - amigaPeriod(0, 0));
}

TEST_F(RowEffects, ArpeggioOnItsBaseTickKeepsTheVolumeColumnVibrato) {
    at(0, 0) = cell(noteC4, 1, 0xBF, Effect::Arpeggio, 0x47);
    play.start(song);
    channel(0).waveControl = 2;  // square: the vibrato offset never vanishes
    ticks(3);
    ticks(1);  // tick 3: the base note's tick
    EXPECT_EQ(channel(0).periodDelta, -116);
}

TEST_F(RowEffects, PortamentoUpIsFlooredAndDownIsNot) {
    at(0, 0) = cell(noteC4 + 40, 1, 0, Effect::PortamentoUp, 0xFF);
    at(0, 1) = cell(noteC4, 1, 0, Effect::PortamentoDown, 0xFF);
    play.start(song);
    ticks(6);
    EXPECT_EQ(channel(0).period, 56);
    EXPECT_EQ(channel(1).period, 4608 + 5 * 1020);
}

TEST_F(RowEffects, VolumeSlidesAndTheirSharedMemory) {
    at(0, 0) = cell(noteC4, 1, 0x30, Effect::VolumeSlide, 0x32);  // both nibbles: up only
    at(1, 0) = cell(0, 0, 0, Effect::TonePortamentoVolumeSlide, 0x00);
    at(2, 0) = cell(0, 0, 0, Effect::VibratoVolumeSlide, 0x05);
    at(3, 0) = cell(0, 0, 0, Effect::VolumeSlide, 0x00);
    play.start(song);
    ticks(6);
    EXPECT_EQ(channel(0).volume, 32 + 15);
    ticks(6);
    EXPECT_EQ(channel(0).volume, 47 + 15);
    ticks(6);
    EXPECT_EQ(channel(0).volume, 62 - 25);
    ticks(6);
    EXPECT_EQ(channel(0).volume, 37 - 25);
}

TEST_F(RowEffects, FadeOutRunsOnEveryTickWithoutAVolumeEnvelope) {
    instrumentAt(song, 0).fadeOut = 2048;
    at(0, 0) = cell(noteC4, 1, 0, Effect::KeyOff, 0);
    play.start(song);
    ticks(6);
    EXPECT_EQ(channel(0).fadeOutLevel, 65536 - 6 * 2048);
}

TEST_F(RowEffects, MultiRetriggerChangesTheVolumeByItsTable) {
    struct Case {
        uint8_t action;
        int32_t from;
        int32_t to;
    };
    const Case cases[] = {{1, 10, 9},  {5, 10, 0},   {6, 30, 20},  {7, 31, 15},
                          {8, 30, 30}, {13, 60, 64}, {14, 30, 45}, {15, 40, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        at(0, 0) = cell(noteC4, 1, static_cast<uint8_t>(0x10 + c.from), Effect::MultiRetrigger,
                        static_cast<uint8_t>(c.action << 4 | 3));
        play.start(song);
        ticks(4);
        EXPECT_EQ(channel(0).volume, c.to);
        EXPECT_EQ(channel(0).voice, voiceSlot(32));
    }
    at(0, 0) = cell(noteC4, 1, 0x30, Effect::MultiRetrigger, 0x02);
    play.start(song);
    ticks(3);
    EXPECT_EQ(channel(0).volume, 32);
    EXPECT_EQ(channel(0).voice, voiceSlot(32));
}

TEST_F(RowEffects, TremorWithAnEmptyMemoryAlternatesOneTickOnAndOneOff) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Tremor, 0x00);
    at(0, 1) = cell(noteC4, 1, 0, Effect::Tremor, 0x11);
    play.start(song);
    std::vector<int32_t> alternating;
    std::vector<int32_t> rhythm;
    for (int t = 0; t < 6; ++t) {
        ticks(1);
        alternating.push_back(voice(0).volume);
        rhythm.push_back(voice(1).volume);
    }
    EXPECT_EQ(alternating, (std::vector<int32_t>{127, 0, 127, 0, 127, 0}));
    EXPECT_EQ(rhythm, (std::vector<int32_t>{127, 127, 0, 0, 127, 127}));
}

TEST_F(RowEffects, WaveControlNibblesOf4AndAboveKeepThePhase) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Extended, 0x48);  // vibrato waveform 8: sine, kept
    at(0, 1) = cell(noteC4, 1, 0, Effect::Extended, 0x73);  // tremolo waveform 3: reset
    at(1, 0) = cell(noteC4, 1);
    at(1, 1) = cell(noteC4, 1);
    play.start(song);
    ticks(6);
    channel(0).vibratoPos = 9;
    channel(1).tremoloPos = 9;
    ticks(1);
    EXPECT_EQ(channel(0).vibratoPos, 9);
    EXPECT_EQ(channel(1).tremoloPos, 0);
}

TEST_F(RowEffects, EndOfTremoloKeepsItsLastOffset) {
    at(0, 0) = cell(noteC4, 1, 0x30, Effect::Tremolo, 0x4F);
    at(1, 0) = cell(0);
    play.start(song);
    ticks(6);
    const int32_t offset = channel(0).volumeDelta;
    ASSERT_NE(offset, 0);
    ticks(1);
    EXPECT_EQ(channel(0).volume, 32 + offset);
    EXPECT_EQ(channel(0).volumeDelta, 0);
}

TEST_F(RowEffects, SetFinetuneChangesThePlaybacksSampleButNeitherTheSongNorTheEmptyOne) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::Extended, 0x58);
    at(0, 1) = cell(noteC4, 7, 0, Effect::Extended, 0x58);  // no instrument 7: the empty sample
    at(1, 0) = cell(noteC4, 1);
    play.start(song);
    ticks(1);
    const int8_t* finetune = channelFinetune(sequencer(), &channel(0));
    ASSERT_NE(finetune, nullptr);
    EXPECT_EQ(*finetune, 8);
    EXPECT_EQ(sample->finetune, 0) << "the song is only read";
    EXPECT_EQ(channelFinetune(sequencer(), &channel(1)), nullptr);
    EXPECT_EQ(emptySample.finetune, 0);
    EXPECT_EQ(channel(0).period, 4608);  // the current note keeps its period
    ticks(6);
    EXPECT_EQ(channel(0).period, 4604);

    // Put back at the start, the playback has the song's finetune again.
    rewindPlayback(play.playback());
    EXPECT_EQ(sequencer().finetunes[0], 0);
}

TEST_F(RowEffects, NotesAbove96AreIgnored) {
    at(0, 0) = cell(noteC4, 1);
    at(1, 0) = cell(120, 1);
    play.start(song);
    ticks(7);
    EXPECT_EQ(channel(0).noteIndex, 48);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(0).voice, voiceSlot(0));  // nothing started
    EXPECT_EQ(channel(0).keyOff, 0);
}

TEST_F(RowEffects, UnlimitedSlidesStayBoundedAndPlayAtTheLowestStep) {
    at(0, 0) = cell(noteC4, 1, 0, Effect::PortamentoDown, 0xFF);
    at(0, 1) = cell(noteC4, 1, 0xDF, Effect::Extended, 0x1F);  // panning slide left, fine porta up
    at(1, 0) = cell(0, 0, 0, Effect::PortamentoDown, 0x00);
    at(1, 1) = cell(0, 0, 0xDF, Effect::Extended, 0x10);
    play.start(song);
    ticks(1);
    // As hours of sliding would leave them.
    channel(0).period = periodBound - 100;
    channel(1).period = -periodBound + 30;
    channel(1).panning = -panningBound + 10;
    ticks(11);
    EXPECT_EQ(channel(0).period, periodBound);
    EXPECT_EQ(channel(1).period, -periodBound);
    EXPECT_EQ(channel(1).panning, -panningBound);
    EXPECT_EQ(voice(0).stepFrac, 9739154u);  // 100 Hz
    EXPECT_EQ(voice(1).stepFrac, 9739154u);
    EXPECT_EQ(voice(1).panning, 0);
}

// The 16-bit frames of a playback's next `blocks` blocks, rendered as the
// player renders them.
std::vector<int16_t> renderBlocks(Playback& playback, int blocks) {
    const int32_t frames = blockFramesForRate(SongPlayback::rate);
    std::vector<float> mix(2 * static_cast<size_t>(frames));
    std::vector<int16_t> pcm(2 * static_cast<size_t>(frames) * blocks);
    for (int b = 0; b < blocks; ++b) {
        renderBlock(playback, mix.data(), pcm.data() + 2 * static_cast<size_t>(frames) * b, frames);
    }
    return pcm;
}

// Set finetune and the global volume slide's memory used to be written into
// the song, so that its next playback sounded different. A playback now keeps
// them as its own: every playback of one song gives the same frames.
TEST_F(RowEffects, EveryPlaybackOfASongSoundsTheSame) {
    build({.channels = 2, .patterns = 1, .rows = 8});
    // A saw wave, so that a change of pitch changes the frames.
    for (uint32_t i = 0; i < sample->length; ++i) {
        sample->data[i] = static_cast<int16_t>(static_cast<int32_t>(i * 97 % 4000) - 2000);
    }
    sample->data[sample->length] = sample->data[0];  // the forward loop's guard
    // Row 0 plays with the song's finetune and the slide memory still empty;
    // row 2 sets the finetune that row 4's note plays with, and rows 1 and 3
    // slide the global volume down, the second time from the memory.
    at(0, 0) = cell(noteC4, 1);
    at(0, 1) = cell(0, 0, 0, Effect::GlobalVolumeSlide, 0x00);
    at(1, 1) = cell(0, 0, 0, Effect::GlobalVolumeSlide, 0x02);
    at(2, 0) = cell(0, 0, 0, Effect::Extended, 0x5C);
    at(3, 1) = cell(0, 0, 0, Effect::GlobalVolumeSlide, 0x00);
    at(4, 0) = cell(noteC4, 1);
    constexpr int blocks = 50;  // one time through the pattern and into its repeat

    SongPlayback first;
    first.start(song);
    const std::vector<int16_t> firstFrames = renderBlocks(first.playback(), blocks);
    // Both effects took place in the first playback.
    EXPECT_EQ(first.sequencer().finetunes[0], 12);
    EXPECT_EQ(first.sequencer().globalVolSlideParam, 0x02);
    EXPECT_LT(first.sequencer().globalVolume, 64);
    EXPECT_NE(std::count(firstFrames.begin(), firstFrames.end(), int16_t{0}),
              static_cast<std::ptrdiff_t>(firstFrames.size()));
    EXPECT_EQ(sample->finetune, 0);

    SongPlayback second;
    second.start(song);
    EXPECT_EQ(renderBlocks(second.playback(), blocks), firstFrames)
        << "a second playback of the song";

    rewindPlayback(first.playback());
    EXPECT_EQ(renderBlocks(first.playback(), blocks), firstFrames) << "the first one rewound";
}

}  // namespace
