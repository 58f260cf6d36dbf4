#include "player/sequencer/pitch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "player/sequencer/arithmetic.h"

namespace xmplayer {

namespace {

// Single-precision constants, widened to double where they are used.
constexpr double twelfth = static_cast<double>(static_cast<float>(1.0 / 12.0));
constexpr double linearUnit = static_cast<double>(static_cast<float>(1.0 / 768.0));

constexpr int32_t linearBasePeriod = 4608;  // the period of 8363 Hz
constexpr double linearBaseFrequency = 8363.0;
constexpr int32_t amigaClock = 14317056;
constexpr int32_t lowestSteppedFrequency = 100;
constexpr double volumeScale = 34359738368.0;  // 2^35

// Amiga period of a whole note m, for every m that amigaPeriod asks for: the
// notes 0..255 and the neighbour above the highest.
constexpr int amigaTableSize = 257;

const std::array<int32_t, amigaTableSize> amigaNotePeriods = [] {
    std::array<int32_t, amigaTableSize> periods{};
    for (int m = 0; m < amigaTableSize; ++m) {
        // (132 - m) * twelfth is exact in double: a 9-bit integer times a
        // 24-bit mantissa.
        periods[m] = truncateToInt32(13.375 * std::pow(2.0, (132 - m) * twelfth));
    }
    return periods;
}();

// Moves a started note to the channel's other voice slot so that the note
// still sounding on the old slot ramps down to silence there.
MixVoice* switchToTwin(MixerState& mixer, MusicChannel* channel, MixVoice* voice) {
    const int32_t slot = voice->index;
    if (slot < 0 || slot >= mixedVoices) {
        return voice;
    }
    const int32_t twin = slot < twinVoiceOffset ? slot + twinVoiceOffset : slot - twinVoiceOffset;
    MixVoice& next = mixer.voices[twin];
    next = *voice;
    next.index = twin;
    next.abandoned = false;
    voice->abandoned = true;
    voice->volume = 0;
    voice->volumeCopy = 0;
    voice->targetLeft = 0;
    voice->targetRight = 0;
    channel->voice = &next;
    return &next;
}

void startNote(MixVoice* voice, const Sample* sample) {
    voice->sample = sample;
    const uint64_t loopEnd = uint64_t{sample->loopStart} + sample->loopLength;
    if (voice->startOffset >= loopEnd) {
        voice->startOffset = 0;
    }
    voice->positionInt = static_cast<int32_t>(voice->startOffset);
    voice->positionFrac = 0;
    voice->direction = Forward;
    voice->startOffset = 0;
    voice->currentLeft = 0;
    voice->currentRight = 0;
    voice->rampFramesLeft = 0;
}

void updateVolume(const MusicChannel* channel, MixVoice* voice, int32_t globalVolume) {
    // Every factor is an integer and the product stays far below 2^53, so the
    // double product is exact; full scale (64, 64, 65536, 64) gives 127.
    const double product = static_cast<double>(channel->volume + channel->volumeDelta) *
                           channel->volEnvValue * channel->fadeOutLevel * globalVolume * 255.0 /
                           volumeScale;
    const int32_t volume = truncateToInt32(product);
    voice->volume = volume;
    voice->volumeCopy = volume;
    voice->targetLeft = voice->panning * volume / 255;
    voice->targetRight = (255 - voice->panning) * volume / 255;
}

void updatePanning(const MusicChannel* channel, MixVoice* voice) {
    // The envelope's swing narrows toward the sides: 4 units per envelope step
    // at the centre, none at the extremes. The quotient is taken first.
    const int64_t distance = std::llabs(int64_t{channel->panning} - 128);
    const int64_t swing = (128 - distance) / 32;
    const int64_t panning =
        std::clamp<int64_t>(swing * (channel->panEnvValue - 32) + channel->panning, 0, 255);
    const auto p = static_cast<int32_t>(panning);
    voice->panning = p;
    voice->panningCopy = p;
    voice->targetLeft = voice->volume * p / 255;
    voice->targetRight = (255 - p) * voice->volume / 255;
}

// The linear table's frequency for a period offset, from the cache of recent
// answers when it holds this one. An offset has two slots, chosen by a hash:
// notes lie 64 units apart, which the offset's low bits alone would crowd
// into a few slots. The latest answer of the two comes first.
int32_t linearFrequency(LinearFrequencyCache& cache, int64_t units) {
    static_assert(LinearFrequencyCache::slots % 2 == 0 &&
                  (LinearFrequencyCache::slots & (LinearFrequencyCache::slots - 1)) == 0);
    const uint32_t mixed = static_cast<uint32_t>(units) * 0x85EBCA6Bu;
    LinearFrequencyCache::Answer* const pair =
        &cache.answers[(mixed ^ (mixed >> 13)) & (LinearFrequencyCache::slots - 2)];
    if (pair[0].known && pair[0].units == units) {
        return pair[0].frequency;
    }
    if (pair[1].known && pair[1].units == units) {
        std::swap(pair[0], pair[1]);
        return pair[0].frequency;
    }
    pair[1] = pair[0];
    pair[0] = {true, units,
               truncateToInt32(std::pow(2.0, static_cast<double>(units) * linearUnit) *
                               linearBaseFrequency)};
    return pair[0].frequency;
}

void updateFrequency(Sequencer& sequencer, const MusicChannel* channel, MixVoice* voice) {
    int32_t frequency;
    if ((sequencer.song->flags & linearFrequencyTable) != 0) {
        frequency =
            linearFrequency(sequencer.linearFrequencies,
                            int64_t{linearBasePeriod} - channel->period + channel->periodDelta);
    } else {
        frequency = amigaClock / (channel->period + channel->periodDelta);
    }
    voice->frequency = frequency;
    const int32_t rate = sequencer.mixer->outputRate;
    if (rate <= 0) {
        return;  // no output opened: there is nothing to step against
    }
    const auto stepped = static_cast<uint32_t>(
        frequency < lowestSteppedFrequency ? lowestSteppedFrequency : frequency);
    // The 32.32 quotient in one division: (stepped x 2^32) / rate has the
    // whole quotient above the fraction's bits.
    const uint64_t step = (uint64_t{stepped} << 32) / static_cast<uint32_t>(rate);
    voice->stepInt = static_cast<int32_t>(step >> 32);
    voice->stepFrac = static_cast<uint32_t>(step);
}

}  // namespace

int32_t linearPeriod(uint8_t note, int8_t finetune) {
    return 7680 - 64 * note - finetune / 2;
}

int32_t amigaPeriod(uint8_t note, int8_t finetune) {
    const int32_t p0 = amigaNotePeriods[note];
    if (finetune < 0 && note != 0) {
        const int32_t below = amigaNotePeriods[note - 1];
        return p0 + (-finetune * (p0 - below)) / -128;
    }
    const int32_t above = amigaNotePeriods[note + 1];
    return p0 + ((p0 - above) * finetune) / -128;
}

void updateVoice(Sequencer& sequencer, MusicChannel* channel, const Sample* sample) {
    MixVoice* voice = channel->voice;
    if (voice == nullptr) {
        return;
    }
    if (channel->period + channel->periodDelta == 0) {
        channel->flags &= ~FrequencyChanged;
    }
    const uint8_t flags = channel->flags;
    if ((flags & StartNote) != 0) {
        if (voice->sample != nullptr) {
            voice = switchToTwin(*sequencer.mixer, channel, voice);
        }
        startNote(voice, sample != nullptr ? sample : &emptySample);
    }
    if ((flags & VolumeChanged) != 0) {
        updateVolume(channel, voice, sequencer.globalVolume);
    }
    if ((flags & PanningChanged) != 0) {
        updatePanning(channel, voice);
    }
    if ((flags & FrequencyChanged) != 0) {
        updateFrequency(sequencer, channel, voice);
    }
    if ((flags & RewindVoice) != 0) {
        // Turning forward as well keeps a backward ping-pong voice whose loop
        // starts after 0 from running below its data.
        voice->positionInt = 0;
        voice->positionFrac = 0;
        voice->startOffset = 0;
        voice->direction = Forward;
    }
}

}  // namespace xmplayer
