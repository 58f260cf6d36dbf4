#include "player/sequencer/sequencer.h"

#include <algorithm>
#include <limits>
#include <new>

#include "player/sequencer/row_processing.h"
#include "player/sequencer/song_lookup.h"
#include "player/sequencer/tick_effects.h"

namespace xmplayer {

const Instrument emptyInstrument{};

namespace {

// The tick formula's constants are single-precision values widened to double.
constexpr double tempoFactor = static_cast<double>(0.4f);
constexpr double millisecondFactor = static_cast<double>(0.001f);

double tickFrames(int32_t bpm, int32_t outputRate) {
    return ((1000.0 / (static_cast<double>(bpm) * tempoFactor)) * static_cast<double>(outputRate)) *
           millisecondFactor;
}

// The position that a row tick starts at: the one decided at the previous row
// tick. A break may name a row beyond the pattern it lands in (up to 63 into a
// shorter pattern); that pattern then starts at its first row, as a break
// beyond 63 does.
void enterDecidedPosition(Sequencer& sequencer) {
    if (sequencer.nextOrder >= 0) {
        sequencer.orderPos = sequencer.nextOrder;
    }
    if (sequencer.nextRow >= 0) {
        sequencer.row = sequencer.nextRow < rowCountAtOrder(sequencer.song, sequencer.orderPos)
                            ? sequencer.nextRow
                            : 0;
    }
}

// The ordinary advance, unless a jump or a break has decided the next row.
void decideNextPosition(Sequencer& sequencer) {
    if (sequencer.nextRow >= 0) {
        return;
    }
    sequencer.nextRow = sequencer.row + 1;
    if (sequencer.nextRow >= rowCountAtOrder(sequencer.song, sequencer.orderPos)) {
        const int32_t next = sequencer.orderPos + 1;
        sequencer.nextOrder =
            next >= playedSongLength(sequencer.song) ? restartOrder(sequencer.song) : next;
        sequencer.nextRow = 0;
    }
}

int32_t instrumentSampleCount(const Instrument& instrument) {
    return std::clamp<int32_t>(instrument.sampleCount, 0, maxInstrumentSamples);
}

}  // namespace

bool bindSequencer(Sequencer& sequencer, const Song& song, MixerState& mixer) {
    sequencer.song = &song;
    sequencer.mixer = &mixer;
    const int32_t instruments =
        song.instruments != nullptr ? std::max<int32_t>(song.instrumentCount, 0) : 0;
    try {
        sequencer.firstFinetunes.assign(static_cast<std::size_t>(instruments), 0);
        int32_t total = 0;
        for (int32_t i = 0; i < instruments; ++i) {
            sequencer.firstFinetunes[i] = total;
            total += instrumentSampleCount(song.instruments[i]);
        }
        sequencer.finetunes.assign(static_cast<std::size_t>(total), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void rewindSequencer(Sequencer& sequencer) {
    const Song& song = *sequencer.song;
    sequencer.globalVolume = song.initialGlobalVolume;
    sequencer.globalVolSlideParam = 0;
    sequencer.nextRow = -1;
    sequencer.nextOrder = -1;
    sequencer.speed = song.defaultSpeed;
    sequencer.row = 0;
    sequencer.orderPos = 0;
    sequencer.tick = 0;
    sequencer.patternDelayTicks = 0;
    sequencer.processedRow = 0;
    for (std::size_t i = 0; i < sequencer.firstFinetunes.size(); ++i) {
        const Instrument& instrument = song.instruments[i];
        const int32_t first = sequencer.firstFinetunes[i];
        for (int32_t slot = 0; slot < instrumentSampleCount(instrument); ++slot) {
            const Sample* sample = instrument.samples[slot];
            sequencer.finetunes[first + slot] = sample != nullptr ? sample->finetune : 0;
        }
    }
    setTempo(sequencer, song.defaultTempo);
    const int32_t count = playedChannelCount(&song);
    for (int32_t c = 0; c < count; ++c) {
        MusicChannel& channel = sequencer.channels[c];
        channel = MusicChannel{};
        channel.voice = &sequencer.mixer->voices[c];
        // A channel's voice is always heard again, whatever it was left as.
        channel.voice->abandoned = false;
    }
}

void advanceTick(Sequencer& sequencer) {
    if (sequencer.tick != 0) {
        processTickEffects(sequencer);
    } else {
        enterDecidedPosition(sequencer);
        processRow(sequencer);
        decideNextPosition(sequencer);
    }
    ++sequencer.tick;
    if (sequencer.tick >= sequencer.speed + sequencer.patternDelayTicks) {
        sequencer.patternDelayTicks = 0;
        sequencer.tick = 0;
    }
}

void setTempo(Sequencer& sequencer, int32_t bpm) {
    sequencer.tempo = bpm;
    // A tempo below 1 (only a malformed song header gives one) ticks as slowly
    // as tempo 1; whatever the tempo and rate, a tick lasts at least one frame
    // so that rendering always advances.
    const double frames = tickFrames(std::max(bpm, 1), sequencer.mixer->outputRate);
    if (!(frames >= 1.0)) {
        sequencer.framesPerTick = 1;
    } else if (frames >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        sequencer.framesPerTick = std::numeric_limits<int32_t>::max();
    } else {
        sequencer.framesPerTick = static_cast<int32_t>(frames);
    }
}

int8_t* channelFinetune(Sequencer& sequencer, const MusicChannel* channel) {
    const Song& song = *sequencer.song;
    if (channel->instrumentIndex >= sequencer.firstFinetunes.size() ||
        channel->noteIndex >= emptyInstrument.noteSamples.size()) {
        return nullptr;
    }
    const Instrument& instrument = song.instruments[channel->instrumentIndex];
    const uint8_t slot = instrument.noteSamples[channel->noteIndex];
    if (slot >= instrumentSampleCount(instrument) || instrument.samples[slot] == nullptr ||
        instrument.samples[slot] == &emptySample) {
        return nullptr;
    }
    return &sequencer.finetunes[sequencer.firstFinetunes[channel->instrumentIndex] + slot];
}

}  // namespace xmplayer
