// The voice mixer: adds every active voice into an interleaved stereo float
// buffer with 32.32 stepping, linear interpolation, loops and volume ramps,
// and converts float frames to clipped 16-bit PCM.
#pragma once

#include <array>
#include <cstdint>

#include "player/song/song.h"

namespace xmplayer {

enum VoiceDirection : int32_t {
    Forward = 1,
    Backward = 2,
};

struct MixVoice {
    int32_t index;
    int32_t volumeCopy;
    int32_t frequency;
    int32_t panningCopy;
    int32_t volume;
    int32_t panning;
    uint32_t startOffset;
    const Sample* sample;  // null: idle
    int32_t targetLeft;
    int32_t targetRight;
    int32_t positionInt;
    uint32_t positionFrac;
    uint32_t stepFrac;
    int32_t stepInt;
    int32_t direction;
    int32_t rampTargetLeft;
    int32_t rampTargetRight;
    int32_t currentLeft;  // gain x 255 x 256
    int32_t currentRight;
    float rampStepLeft;
    float rampStepRight;
    int32_t rampFramesLeft;
    // No channel plays this voice any more: a new note moved on to its twin
    // and left it to ramp down. Once silent it can never sound again, and the
    // next note's move overwrites it whole, so it no longer moves either.
    bool abandoned;
    // Where gains glide over the tick, the voice's next ramp is the quick one:
    // a note has just started, or a cell, tremor or the global volume has set
    // its gains. Read and cleared where the ramp is set up.
    bool quickRamp;
};

constexpr int voiceSlots = 256;
constexpr int mixedVoices = 64;
constexpr int twinVoiceOffset = 32;

struct MixerState {
    int32_t outputRate;
    float frameDuration;
    int32_t rampLength;
    float rampReciprocal;
    // Where tickRampLength is above 0, a sounding voice glides to new gains
    // over that many frames (a tick's), and over quickRampLength where it asks
    // for the quick ramp or is abandoned; otherwise every ramp lasts
    // rampLength. The sequencer sets them; resetMixer leaves them.
    int32_t tickRampLength = 0;
    float tickRampReciprocal = 0.0f;
    int32_t quickRampLength = 0;
    float quickRampReciprocal = 0.0f;
    std::array<MixVoice, voiceSlots> voices;
    // Bit s: voice slot s of the mixed ones plays on unheard, moving as if
    // it were mixed. Kept by resetMixer.
    uint64_t unheardSlots = 0;
};
static_assert(mixedVoices <= 64, "one bit of MixerState::unheardSlots per mixed voice");

// Sets the rate-derived fields and clears the voice table (every slot idle,
// its own index, a step of 1.0); the unheard slots stay as they are.
void resetMixer(MixerState& mixer, int32_t outputRate);

// Adds every sounding voice's next frameCount frames into `buffer`.
void mixVoices(MixerState& mixer, float* buffer, int32_t frameCount);
// Frames until a voice at 32.32 `distance` from its boundary, moving by `step`
// per frame, reaches it: both taken with 24 fraction bits, the quotient rounded
// up. Steps below 2^-24 are counted exactly; a zero step never arrives.
uint64_t framesToBoundary(uint64_t distance, uint64_t step);
void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount);

}  // namespace xmplayer
