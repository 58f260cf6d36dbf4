#include "player/sequencer/sequencer_state.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string_view>

namespace xmplayer {

const Instrument emptyInstrument{};

namespace {

// The tick formula's constants are single-precision values widened to double.
constexpr double tempoFactor = static_cast<double>(0.4f);
constexpr double millisecondFactor = static_cast<double>(0.001f);
// Where volume changes glide over the tick, the quick ramp lasts 1/200 s.
constexpr int32_t quickRampsPerSecond = 200;

double tickFrames(int32_t bpm, int32_t outputRate) {
    return ((1000.0 / (static_cast<double>(bpm) * tempoFactor)) * static_cast<double>(outputRate)) *
           millisecondFactor;
}

// Songs that OpenMPT wrote before 1.22.07.19 were heard with the finetune's
// every bit: its version numbers have two digits a field, so they compare as
// text.
bool heardWithFullFinetune(const Song& song) {
    const std::string_view name(song.trackerName.data(), song.trackerName.size());
    constexpr std::string_view tracker = "OpenMPT 1.";
    constexpr std::string_view firstCoarse = "1.22.07.19";
    if (name.substr(0, tracker.size()) != tracker) {
        return false;
    }
    const std::string_view version = name.substr(tracker.size() - 2, firstCoarse.size());
    for (std::size_t i = 0; i < version.size(); ++i) {
        const bool digit = version[i] >= '0' && version[i] <= '9';
        if (digit != (firstCoarse[i] != '.')) {
            return false;
        }
    }
    return version < firstCoarse;
}

}  // namespace

int32_t instrumentSampleCount(const Instrument& instrument) {
    return std::clamp<int32_t>(instrument.sampleCount, 0, maxInstrumentSamples);
}

bool bindSequencer(Sequencer& sequencer, const Song& song, MixerState& mixer,
                   const PlaybackRules& rules) {
    sequencer.song = &song;
    sequencer.rules = rules;
    if (heardWithFullFinetune(song)) {
        sequencer.rules.coarseFinetune = false;
    }
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
    MixerState& mixer = *sequencer.mixer;
    if (!sequencer.rules.volumeGlidesOverTick) {
        mixer.tickRampLength = 0;
        return;
    }
    mixer.tickRampLength = sequencer.framesPerTick;
    mixer.tickRampReciprocal = static_cast<float>(1.0 / sequencer.framesPerTick);
    mixer.quickRampLength = std::max(mixer.outputRate / quickRampsPerSecond, 1);
    mixer.quickRampReciprocal = static_cast<float>(1.0 / mixer.quickRampLength);
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
