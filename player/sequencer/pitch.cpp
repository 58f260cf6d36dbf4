#include "player/sequencer/pitch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "player/sequencer/arithmetic.h"
#include "player/sequencer/song_lookup.h"

namespace xmplayer {

namespace {

// Single-precision constants, widened to double where they are used.
constexpr double twelfth = static_cast<double>(static_cast<float>(1.0 / 12.0));
constexpr double linearUnit = static_cast<double>(static_cast<float>(1.0 / 768.0));

constexpr int32_t linearBasePeriod = 4608;  // the period of 8363 Hz
constexpr double linearBaseFrequency = 8363.0;
constexpr int32_t amigaClock = 14317056;
constexpr int32_t lowestSteppedFrequency = 100;
// With 16-bit periods a wrapped period may ask for almost no frequency at all;
// the voice then all but stands still, as in the tracker.
constexpr int32_t lowestSixteenBitFrequency = 1;
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
    voice->quickRamp = true;
}

// Each side's share of a voice under the square-root pan law, in 1/65536: the
// square root of the side's part of 256 panning steps. The far side of a voice
// panned hard keeps 1/16 of the near side, a centred voice about 0.71 of a
// hard-panned one on each side. The law is scaled so that a centred voice
// keeps the level the linear law gives it (half on each side): songs, mostly
// centred, play as loud under either rule set and clip no sooner.
const std::array<int32_t, 257> squareRootShares = [] {
    std::array<int32_t, 257> shares{};
    for (int i = 0; i < static_cast<int>(shares.size()); ++i) {
        shares[i] = static_cast<int32_t>(std::lround(std::sqrt(i / 512.0) * 65536.0));
    }
    return shares;
}();

// Panning 0 is the left side and 255 the right.
void setSquareRootGains(MixVoice* voice) {
    const int64_t volume = voice->volume;
    voice->targetLeft = static_cast<int32_t>(volume * squareRootShares[256 - voice->panning] >> 16);
    voice->targetRight = static_cast<int32_t>(volume * squareRootShares[voice->panning] >> 16);
}

void updateVolume(const MusicChannel* channel, MixVoice* voice, int32_t globalVolume,
                  bool squareRootPanning) {
    // Every factor is an integer and the product stays far below 2^53, so the
    // double product is exact; full scale (64, 64, 65536, 64) gives 127.
    const double product = static_cast<double>(channel->volume + channel->volumeDelta) *
                           channel->volEnvValue * channel->fadeOutLevel * globalVolume * 255.0 /
                           volumeScale;
    const int32_t volume = truncateToInt32(product);
    voice->volume = volume;
    voice->volumeCopy = volume;
    if (squareRootPanning) {
        setSquareRootGains(voice);
        return;
    }
    voice->targetLeft = voice->panning * volume / 255;
    voice->targetRight = (255 - voice->panning) * volume / 255;
}

void updatePanning(const MusicChannel* channel, MixVoice* voice, bool squareRootPanning) {
    // The envelope's swing narrows toward the sides: 4 units per envelope step
    // at the centre, none at the extremes. The quotient is taken first.
    const int64_t distance = std::llabs(int64_t{channel->panning} - 128);
    const int64_t swing = (128 - distance) / 32;
    const int64_t panning =
        std::clamp<int64_t>(swing * (channel->panEnvValue - 32) + channel->panning, 0, 255);
    const auto p = static_cast<int32_t>(panning);
    voice->panning = p;
    voice->panningCopy = p;
    if (squareRootPanning) {
        setSquareRootGains(voice);
        return;
    }
    voice->targetLeft = voice->volume * p / 255;
    voice->targetRight = (255 - p) * voice->volume / 255;
}

// The linear table's frequency for a period offset, from the cache of recent
// answers when it holds this one. An offset has two slots, chosen by a hash:
// notes lie 64 units apart, which the offset's low bits alone would crowd
// into a few slots. The latest answer of the two comes first.
const LinearFrequencyCache::Answer& linearFrequency(LinearFrequencyCache& cache, int64_t units) {
    static_assert(LinearFrequencyCache::slots % 2 == 0 &&
                  (LinearFrequencyCache::slots & (LinearFrequencyCache::slots - 1)) == 0);
    const uint32_t mixed = static_cast<uint32_t>(units) * 0x85EBCA6Bu;
    LinearFrequencyCache::Answer* const pair =
        &cache.answers[(mixed ^ (mixed >> 13)) & (LinearFrequencyCache::slots - 2)];
    if (pair[0].known && pair[0].units == units) {
        return pair[0];
    }
    if (pair[1].known && pair[1].units == units) {
        std::swap(pair[0], pair[1]);
        return pair[0];
    }
    pair[1] = pair[0];
    const double exact =
        std::pow(2.0, static_cast<double>(units) * linearUnit) * linearBaseFrequency;
    pair[0] = {true, units, exact, truncateToInt32(exact)};
    return pair[0];
}

// The period offset that FastTracker 2 plays a linear period at. It takes the
// period's 16-bit distance below 9216: the remainder by 768 gives the pitch
// within the octave and the quotient a shift whose count wraps at 32, so a
// period beyond 9216 or below 1 comes round to an audible pitch again.
int64_t wrappedLinearUnits(int32_t period) {
    const auto distance = static_cast<uint16_t>(2 * linearBasePeriod - period);
    const int32_t shift = (14 - distance / 768) & 31;
    return distance % 768 + 768 * (8 - shift);
}

void updateFrequency(Sequencer& sequencer, const MusicChannel* channel, MixVoice* voice) {
    int32_t frequency;
    if ((sequencer.song->flags & linearFrequencyTable) != 0) {
        const int64_t units =
            sequencer.rules.sixteenBitPeriods
                ? wrappedLinearUnits(channel->period - channel->periodDelta)
                : int64_t{linearBasePeriod} - channel->period + channel->periodDelta;
        const LinearFrequencyCache::Answer& answer =
            linearFrequency(sequencer.linearFrequencies, units);
        frequency = answer.frequency;
        if (sequencer.rules.sixteenBitPeriods && sequencer.mixer->outputRate > 0) {
            // The tracker steps its voices by the exact frequency, not by
            // whole hertz: a wrapped period far below the notes all but
            // stands still instead of creeping on at 1 Hz.
            voice->frequency = frequency;
            const double step = answer.exact * 4294967296.0 / sequencer.mixer->outputRate;
            const auto whole = static_cast<uint64_t>(step);
            voice->stepInt = static_cast<int32_t>(whole >> 32);
            voice->stepFrac = static_cast<uint32_t>(whole);
            return;
        }
    } else if (sequencer.rules.sixteenBitPeriods) {
        const auto period = static_cast<uint16_t>(channel->period + channel->periodDelta);
        if (period == 0) {
            return;  // as for a zero period, the voice keeps its frequency
        }
        frequency = amigaClock / period;
    } else {
        frequency = amigaClock / (channel->period + channel->periodDelta);
    }
    voice->frequency = frequency;
    const int32_t rate = sequencer.mixer->outputRate;
    if (rate <= 0) {
        return;  // no output opened: there is nothing to step against
    }
    const int32_t lowest =
        sequencer.rules.sixteenBitPeriods ? lowestSixteenBitFrequency : lowestSteppedFrequency;
    const auto stepped = static_cast<uint32_t>(frequency < lowest ? lowest : frequency);
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

namespace {

// The note table that FastTracker 2 looks notes up in: 96 notes of 16
// finetune steps each.
constexpr int32_t tableTopNote = 95;
constexpr int32_t tableLastStep = tableTopNote * 16 + 15;

// The table's note nearest a period at the channel's finetune; of two equally
// near, the lower.
int32_t nearestTableNote(int32_t period, int8_t finetune, bool linear) {
    if (linear) {
        const int32_t aboveLowest = linearPeriod(0, finetune) - period + 31;
        return aboveLowest < 0 ? 0 : std::min(aboveLowest / 64, tableTopNote);
    }
    // Amiga periods fall as the note rises: the first note at or above the
    // period's pitch, or the one below it when that is nearer.
    int32_t low = 0;
    int32_t high = tableTopNote;
    while (low < high) {
        const int32_t middle = (low + high) / 2;
        if (amigaPeriod(static_cast<uint8_t>(middle), finetune) <= period) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    if (low > 0 && amigaPeriod(static_cast<uint8_t>(low - 1), finetune) - period <=
                       period - amigaPeriod(static_cast<uint8_t>(low), finetune)) {
        return low - 1;
    }
    return low;
}

// The table's period for a note; a note beyond the table's last step plays
// that step's period, the top note at its highest finetune.
int32_t tablePeriod(int32_t note, int8_t finetune, bool linear) {
    if (note * 16 + (finetune >> 3) > tableLastStep) {
        note = tableTopNote;
        finetune = 15 * 8;
    }
    const auto tableNote = static_cast<uint8_t>(note);
    return linear ? linearPeriod(tableNote, finetune) : amigaPeriod(tableNote, finetune);
}

}  // namespace

int32_t tableNoteOffset(int32_t period, int8_t finetune, bool linear, int32_t semitones) {
    const int32_t note = nearestTableNote(period, finetune, linear);
    const int32_t target = tablePeriod(note + semitones, finetune, linear);
    return linear ? period - target : target - period;
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
        updateVolume(channel, voice, sequencer.globalVolume, sequencer.rules.squareRootPanning);
    }
    if ((flags & PanningChanged) != 0) {
        updatePanning(channel, voice, sequencer.rules.squareRootPanning);
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

void chooseQuickRamp(const Sequencer& sequencer, MusicChannel* channel, bool quick) {
    if (sequencer.rules.volumeGlidesOverTick && channel->voice != nullptr) {
        channel->voice->quickRamp = quick;
    }
}

void refreshGlobalVolume(Sequencer& sequencer) {
    if (!sequencer.globalVolumeTouched) {
        return;
    }
    sequencer.globalVolumeTouched = false;
    if (!sequencer.rules.globalVolumeReachesEveryChannel) {
        return;
    }
    const int32_t channels = playedChannelCount(sequencer.song);
    for (int32_t c = 0; c < channels; ++c) {
        MusicChannel& channel = sequencer.channels[c];
        if (channel.voice != nullptr) {
            updateVolume(&channel, channel.voice, sequencer.globalVolume,
                         sequencer.rules.squareRootPanning);
            chooseQuickRamp(sequencer, &channel, true);
        }
    }
}

}  // namespace xmplayer
