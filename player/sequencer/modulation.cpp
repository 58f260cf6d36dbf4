#include "player/sequencer/modulation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "player/sequencer/arithmetic.h"

namespace xmplayer {

namespace {

enum Waveform : int32_t { Sine = 0, Ramp = 1, Square = 2, SquareOrSine = 3 };

// One cycle spans the 64 phases; the constant is a little below 2 pi / 128.
constexpr double phaseUnit = 0.049087375;

// The sine magnitude for every |phase| that an 8-bit phase can have; the
// ordinary phases use 0..32.
const std::array<uint8_t, 129> sineMagnitudes = [] {
    std::array<uint8_t, 129> magnitudes{};
    for (int q = 0; q < static_cast<int>(magnitudes.size()); ++q) {
        magnitudes[q] =
            static_cast<uint8_t>(truncateToInt32(std::fabs(std::sin(2 * q * phaseUnit)) * 256));
    }
    return magnitudes;
}();

int8_t advancePhase(int8_t phase, uint8_t speed) {
    auto next = static_cast<int8_t>(static_cast<uint8_t>(phase + speed));
    if (next > 31) {
        next = static_cast<int8_t>(next - 64);
    }
    return next;
}

}  // namespace

uint8_t waveformMagnitude(int8_t phase, int32_t waveform) {
    switch (waveform) {
        case Ramp:
            return phase >= 0 ? static_cast<uint8_t>(8 * phase)
                              : static_cast<uint8_t>(255 - static_cast<uint8_t>(8 * phase));
        case Square:
            return 255;
        default:
            return sineMagnitudes[std::abs(phase)];
    }
}

void tonePortamento(MusicChannel* channel, bool keepsDirection) {
    const int32_t step = 4 * channel->portaSpeed;
    if (keepsDirection) {
        // Upward in pitch until the target is reached, downward after: a
        // period that another slide moved past the target lands on it at once.
        if (channel->portaUpward != 0) {
            channel->period = std::max(channel->period - step, channel->portaTarget);
            if (channel->period == channel->portaTarget) {
                channel->portaUpward = 0;
            }
        } else {
            channel->period = std::min(channel->period + step, channel->portaTarget);
        }
    } else if (channel->period < channel->portaTarget) {
        channel->period = std::min(channel->period + step, channel->portaTarget);
    } else if (channel->period > channel->portaTarget) {
        channel->period = std::max(channel->period - step, channel->portaTarget);
    }
    channel->flags |= FrequencyChanged;
}

void vibrato(MusicChannel* channel) {
    const int32_t waveform = channel->waveControl & 3;
    const int32_t magnitude =
        waveform == SquareOrSine ? 255 : waveformMagnitude(channel->vibratoPos, waveform);
    const int32_t depth = ((channel->vibratoDepth * magnitude) >> 5) & ~3;
    channel->periodDelta = channel->vibratoPos >= 0 ? -depth : depth;
    channel->flags |= FrequencyChanged;
}

void advanceVibratoPhase(MusicChannel* channel) {
    channel->vibratoPos = advancePhase(channel->vibratoPos, channel->vibratoSpeed);
}

void tremolo(MusicChannel* channel, bool rampFollowsVibrato, bool squareForThree) {
    const int32_t waveform = (channel->waveControl >> 4) & 3;
    int8_t phase = channel->tremoloPos;
    if (waveform == Ramp && rampFollowsVibrato) {
        // The ramp's half-cycle (whether it falls from 255 or rises from 0) is
        // the vibrato's; only the position within it is the tremolo's.
        const int8_t within = static_cast<int8_t>(phase & 31);
        phase = channel->vibratoPos < 0 ? static_cast<int8_t>(within - 32) : within;
    }
    // Waveform 3 is the sine for tremolo by the player's own rules (the square
    // for vibrato).
    const int32_t magnitude = waveformMagnitude(
        phase, waveform == SquareOrSine ? (squareForThree ? Square : Sine) : waveform);
    const int32_t depth = (channel->tremoloDepth * magnitude) >> 6;
    if (channel->tremoloPos >= 0) {
        channel->volumeDelta = channel->volume + depth > 64 ? 64 - channel->volume : depth;
    } else {
        channel->volumeDelta = channel->volume - depth < 0 ? -channel->volume : -depth;
    }
    channel->tremoloPos = advancePhase(channel->tremoloPos, channel->tremoloSpeed);
    channel->tremorSilenced = 0;
    channel->flags |= VolumeChanged;
}

void tremor(MusicChannel* channel) {
    // Until a Txy stores a rhythm, tremor counts one tick on and one off.
    const int32_t onTicks = std::max<int32_t>(channel->tremorOnTicks, 1);
    const int32_t offTicks = std::max<int32_t>(channel->tremorOffTicks, 1);
    if (channel->tremorPos >= onTicks) {
        channel->volumeDelta = -channel->volume;
    }
    ++channel->tremorPos;
    if (channel->tremorPos >= onTicks + offTicks) {
        channel->tremorPos = 0;
    }
    channel->flags |= VolumeChanged;
}

void heldTremor(MusicChannel* channel) {
    if (channel->tremorPos != 0) {
        --channel->tremorPos;
    } else {
        // A phase that has run out hands over to the other one, whose length
        // is read now: a new Txy changes the rhythm at the next turn.
        channel->tremorSounding = channel->tremorSounding == 0 ? 1 : 0;
        const int32_t ticks =
            channel->tremorSounding != 0 ? channel->tremorOnTicks : channel->tremorOffTicks;
        channel->tremorPos = static_cast<uint8_t>(std::max(ticks - 1, 0));
    }
    channel->tremorSilenced = channel->tremorSounding == 0 ? 1 : 0;
    holdTremorSilence(channel);
    channel->flags |= VolumeChanged;
}

void holdTremorSilence(MusicChannel* channel) {
    if (channel->tremorSilenced != 0) {
        channel->volumeDelta = -channel->volume;
    }
}

}  // namespace xmplayer
