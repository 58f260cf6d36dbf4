#include "player/output/mixer.h"

#include <cstdint>

MixerState mixerState{};

void resetMixer(int32_t outputRate) {
    mixerState.outputRate = outputRate;
    mixerState.frameDuration = outputRate > 0 ? static_cast<float>(1.0 / outputRate) : 0.0f;
    // 64-bit so that no rate overflows; at least one frame so that a ramp
    // always has a finite step (rates below 345 Hz would give 0).
    const int64_t rampLength = int64_t{outputRate} * 128 / 44100;
    mixerState.rampLength = rampLength < 1 ? 1 : static_cast<int32_t>(rampLength);
    mixerState.rampReciprocal = static_cast<float>(1.0 / mixerState.rampLength);
    mixerState.voices = {};
    for (int32_t slot = 0; slot < voiceSlots; ++slot) {
        mixerState.voices[slot].index = slot;
        mixerState.voices[slot].stepInt = 1;
    }
}
