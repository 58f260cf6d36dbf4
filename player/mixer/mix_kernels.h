// The mixer's inner loops: straight runs of frames in which no loop boundary
// is crossed and the gains either stay fixed or follow one linear ramp, and the
// conversion of mixed frames to 16-bit PCM. The mixer plans the runs; a kernel
// only interpolates, scales and adds. Every kernel set must give the same bits
// as the scalar reference set, which is the definition of the arithmetic.
#pragma once

#include <cstdint>
#include <span>

namespace xmplayer {

struct MixRun {
    const int16_t* data;  // the sample's values; data[-1] is readable
    uint64_t position;    // 32.32 fixed point, integer part read as signed
    uint64_t delta;       // the step, or its two's complement when moving backward
    int32_t frames;       // at least 1
    // One past the last readable value (every value from data[-1] up to it
    // may be read): a kernel may load a whole window of values around the
    // run's reads as long as it stays below this.
    const int16_t* readableEnd;
};

struct RampGains {
    float left;
    float right;
    float stepLeft;
    float stepRight;
};

// Both add the run's frames into `buffer` (two floats per frame) and return the
// position after the run. The ramp kernel leaves the gains where the ramp got to.
using SteadyMixKernel = uint64_t (*)(float* buffer, const MixRun& run, float gainLeft,
                                     float gainRight);
using RampMixKernel = uint64_t (*)(float* buffer, const MixRun& run, RampGains& gains);
// Rounds valueCount floats to nearest (ties to even) and clamps them to 16 bits.
using Pcm16Kernel = void (*)(int16_t* destination, const float* source, int64_t valueCount);

struct MixKernels {
    const char* name;
    SteadyMixKernel steady;
    RampMixKernel ramp;
    Pcm16Kernel toPcm16;
    // A voice at zero gain with no ramp adds exactly nothing; when set, the
    // mixer only advances its position instead of running a kernel.
    bool skipSilentVoices;
};

// The plain per-frame definition, kept as the measure for faster kernels.
extern const MixKernels referenceMixKernels;

// Kernels that add nothing and read no sample: they move a voice's position
// and its ramp's gains exactly as the others do, for playing ahead without
// listening. Their conversion writes nothing.
extern const MixKernels walkingMixKernels;

// The kernel sets this processor can run, the reference first and the
// fastest last.
std::span<const MixKernels* const> supportedMixKernels();
// The kernels mixVoices and convertToPcm16 use: the fastest supported set,
// chosen once for the processor the program runs on.
const MixKernels& selectedMixKernels();

struct MixerState;
// mixVoices with a chosen kernel set.
void mixVoicesWith(MixerState& mixer, const MixKernels& kernels, float* buffer, int32_t frameCount);

// The reference kernels, for the vector kernels' odd frames at a run's end.
uint64_t mixSteadyReference(float* buffer, const MixRun& run, float gainLeft, float gainRight);
uint64_t mixRampReference(float* buffer, const MixRun& run, RampGains& gains);
void toPcm16Reference(int16_t* destination, const float* source, int64_t valueCount);

#if defined(__x86_64__)
// Two frames per step in SSE2 (the baseline of x86-64), four in AVX2 and
// sixteen in AVX-512 (foundation, byte/word, doubleword/quadword and vector
// length); the last two may only run where the processor reports them.
extern const MixKernels sse2MixKernels;
extern const MixKernels avx2MixKernels;
extern const MixKernels avx512MixKernels;
#endif

}  // namespace xmplayer
