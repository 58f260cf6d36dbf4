// The mixer's inner loops: straight runs of frames in which no loop boundary
// is crossed and the gains either stay fixed or follow one linear ramp. The
// mixer plans the runs; a kernel only interpolates, scales and adds. Every
// kernel set must give the same bits as the scalar reference set.
#pragma once

#include <cstdint>

struct MixRun {
    const int16_t* data;  // the sample's values; data[-1] is readable
    uint64_t position;    // 32.32 fixed point, integer part read as signed
    uint64_t delta;       // the step, or its two's complement when moving backward
    int32_t frames;       // at least 1
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

struct MixKernels {
    SteadyMixKernel steady;
    RampMixKernel ramp;
    // A voice at zero gain with no ramp adds exactly nothing; when set, the
    // mixer only advances its position instead of running a kernel.
    bool skipSilentVoices;
};

// The plain per-frame definition, kept as the measure for faster kernels.
extern const MixKernels referenceMixKernels;
// The kernels mixVoices uses.
extern const MixKernels fastMixKernels;

// mixVoices with a chosen kernel set.
void mixVoicesWith(const MixKernels& kernels, float* buffer, int32_t frameCount);
