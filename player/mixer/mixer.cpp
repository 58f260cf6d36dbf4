#include "player/mixer/mixer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "player/mixer/mix_kernels.h"

namespace xmplayer {

namespace {

// Current gains are kept as gain x 255 x 256.
constexpr double gainScale = 255.0 * 256.0;

// target / 255, narrowed, for every target of the usual range: a settled
// voice's gain without a division on every request.
constexpr int32_t tabledTargets = 256;
constexpr std::array<float, tabledTargets> steadyGains = [] {
    std::array<float, tabledTargets> gains{};
    for (int32_t target = 0; target < tabledTargets; ++target) {
        gains[target] = static_cast<float>(static_cast<double>(target) / 255.0);
    }
    return gains;
}();

float steadyGain(int32_t target) {
    return target >= 0 && target < tabledTargets
               ? steadyGains[target]
               : static_cast<float>(static_cast<double>(target) / 255.0);
}

uint64_t fixedPoint(int32_t whole, uint32_t fraction) {
    return (uint64_t{static_cast<uint32_t>(whole)} << 32) | fraction;
}

uint64_t ceilDivide(uint64_t dividend, uint64_t divisor) {
    return dividend / divisor + (dividend % divisor != 0 ? 1 : 0);
}

// Rounds to nearest, ties to even, saturating so that no value is undefined.
int32_t roundGain(float gain) {
    const double scaled = std::nearbyint(static_cast<double>(gain) * 255.0 * 256.0);
    if (!(scaled > std::numeric_limits<int32_t>::min())) {
        return scaled != scaled ? 0 : std::numeric_limits<int32_t>::min();
    }
    if (scaled >= std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(scaled);
}

// target x 256 with the wrap of 32-bit arithmetic instead of overflow.
int32_t settledGain(int32_t target) {
    return static_cast<int32_t>(static_cast<uint32_t>(target) << 8);
}

struct LoopBounds {
    uint32_t start;
    uint32_t end;
    uint32_t length;
};

// What stays the same while one voice fills one request.
struct VoiceWalk {
    const int16_t* data;
    const int16_t* readableEnd;  // the sample's values end 8 beyond its length
    LoopBounds loop;
    uint64_t loopStart;  // 32.32
    uint64_t loopEnd;
    uint64_t step;
    // A loop of no length has nothing to repeat: the voice ends there instead
    // of wrapping or turning for ever.
    bool forwardLoop;
    bool pingPongLoop;
    // The positions whose reads stay inside the sample's values: index -1
    // (the spare value before the data) up to length + 7, the last read
    // being index + 1.
    int64_t lowest;
    int64_t highest;
};

VoiceWalk walkOf(const MixVoice& voice) {
    const Sample& sample = *voice.sample;
    const LoopBounds loop{sample.loopStart, sample.loopStart + sample.loopLength,
                          sample.loopLength};
    const bool forwardLoop = (sample.loopType & ForwardLoop) != 0 && loop.length != 0;
    const uint64_t lastIndex = uint64_t{sample.length} + 6;
    return {sample.data,
            sample.data == nullptr ? nullptr : sample.data + uint64_t{sample.length} + 8,
            loop,
            uint64_t{loop.start} << 32,
            uint64_t{loop.end} << 32,
            fixedPoint(voice.stepInt, voice.stepFrac),
            forwardLoop,
            !forwardLoop && (sample.loopType & PingPongLoop) != 0 && loop.length != 0,
            -(int64_t{1} << 32),
            lastIndex >= (uint64_t{1} << 31)
                ? std::numeric_limits<int64_t>::max()
                : static_cast<int64_t>((lastIndex << 32) | 0xFFFFFFFFu)};
}

// Whether every frame of a run of `frames` reads inside the sample's values.
bool runStaysInData(const VoiceWalk& walk, uint64_t position, bool backward, int32_t frames) {
    if (walk.data == nullptr) {
        return false;
    }
    const auto first = static_cast<int64_t>(position);
    if (first < walk.lowest || first > walk.highest) {
        return false;
    }
    const uint64_t room = backward ? static_cast<uint64_t>(first - walk.lowest)
                                   : static_cast<uint64_t>(walk.highest - first);
    // The last frame's distance from the first, (frames - 1) x step, fits the
    // room; a product beyond 64 bits does not.
    uint64_t reach = 0;
    return !__builtin_mul_overflow(static_cast<uint64_t>(frames - 1), walk.step, &reach) &&
           reach <= room;
}

// framesUntilBoundary where the boundary lies within the request.
[[gnu::noinline]] uint64_t framesUntilNearBoundary(const VoiceWalk& walk, uint64_t distance,
                                                   bool backward) {
    const uint64_t frames = framesToBoundary(distance, walk.step);
    // Short of a forward loop's end by less than 2^-24 of a sample, the 24-bit
    // count is 0 and the position would neither move nor wrap.
    if (frames == 0 && walk.forwardLoop && !backward && distance != 0) {
        return ceilDivide(distance, walk.step);
    }
    return frames;
}

// Frames until the voice meets the boundary it is heading for, or the
// largest count when that lies beyond `frameCount` frames.
inline uint64_t framesUntilBoundary(const VoiceWalk& walk, uint64_t position, bool backward,
                                    int32_t frameCount) {
    const uint64_t distance = backward ? position - walk.loopStart : walk.loopEnd - position;
    // A voice already beyond its boundary (a negative distance) meets it at
    // once rather than running on past the sample.
    if (distance >= (uint64_t{1} << 63)) {
        return 0;
    }
    // The usual case, a boundary beyond the request, needs no division:
    // framesToBoundary is above frameCount exactly when the coarse distance
    // is above frameCount coarse steps.
    const uint64_t coarseStep = walk.step >> 8;
    uint64_t reach = 0;
    if (coarseStep != 0 &&
        !__builtin_mul_overflow(static_cast<uint64_t>(frameCount), coarseStep, &reach) &&
        (distance >> 8) > reach) {
        return std::numeric_limits<uint64_t>::max();
    }
    return framesUntilNearBoundary(walk, distance, backward);
}

// The position after a ping-pong voice meets the boundary it was heading for:
// reflected there, P <- 2B - P - 2^-32, then again at the other end as long as
// it lies outside the loop, the direction turning at every reflection.
[[gnu::noinline]] void reflect(uint64_t& position, bool& backward, const LoopBounds& loop) {
    const uint64_t start = uint64_t{loop.start} << 32;
    const uint64_t end = uint64_t{loop.end} << 32;
    position = (backward ? 2 * start : 2 * end) - position - 1;
    backward = !backward;

    // A reflection at each end in turn moves the position by twice the loop
    // length; whole pairs are skipped so that at most two reflections remain
    // however far beyond the loop a large step has carried the voice.
    if (loop.length < (uint32_t{1} << 31)) {
        const uint64_t span = uint64_t{loop.length} << 33;
        const auto offset = static_cast<int64_t>(position - start);
        if (!backward && offset >= 0) {
            if (static_cast<uint64_t>(offset) >= span) {
                position -= static_cast<uint64_t>(offset) / span * span;
            }
        } else if (backward && offset < 0) {
            const uint64_t below = uint64_t{0} - static_cast<uint64_t>(offset);
            const uint64_t halfSpan = span / 2;
            if (below > halfSpan) {
                position += ceilDivide(below - halfSpan, span) * span;
            }
        }
    }
    for (;;) {
        const auto whole = static_cast<int32_t>(position >> 32);
        if (backward && whole < static_cast<int32_t>(loop.start)) {
            position = 2 * start - position - 1;
            backward = false;
        } else if (!backward && whole >= static_cast<int32_t>(loop.end)) {
            position = 2 * end - position - 1;
            backward = true;
        } else {
            return;
        }
    }
}

// A voice meeting its boundary wraps, turns or ends; false when it ends.
inline bool crossBoundary(const VoiceWalk& walk, uint64_t& position, bool& backward, bool& turned) {
    if (walk.forwardLoop) {
        const auto whole = static_cast<uint32_t>(position >> 32);
        if (whole >= walk.loop.end) {
            // Mostly the position has just passed the end.
            const uint32_t excess = whole - walk.loop.end;
            const uint32_t wrapped =
                walk.loop.start + (excess < walk.loop.length ? excess : excess % walk.loop.length);
            position = (uint64_t{wrapped} << 32) | (position & 0xFFFFFFFFu);
        }
        return true;
    }
    if (walk.pingPongLoop) {
        reflect(position, backward, walk.loop);
        turned = true;
        return true;
    }
    return false;
}

// Starts a new ramp unless one is running towards the current targets.
[[gnu::always_inline]] inline void setUpRamp(MixVoice& voice, const MixerState& mixer) {
    if (voice.rampFramesLeft != 0 && voice.targetLeft == voice.rampTargetLeft &&
        voice.targetRight == voice.rampTargetRight) {
        return;
    }
    voice.rampTargetLeft = voice.targetLeft;
    voice.rampTargetRight = voice.targetRight;
    const bool quick = voice.quickRamp || voice.abandoned;
    voice.quickRamp = false;
    // current >> 8 is the current gain on the 0 to 255 scale, truncated.
    const int64_t differenceLeft = int64_t{voice.targetLeft} - (voice.currentLeft >> 8);
    const int64_t differenceRight = int64_t{voice.targetRight} - (voice.currentRight >> 8);
    if (differenceLeft == 0 && differenceRight == 0) {
        // A settled voice, as on most chunks: both steps are 0.
        voice.rampStepLeft = 0.0f;
        voice.rampStepRight = 0.0f;
        voice.rampFramesLeft = 0;
        return;
    }
    float rampReciprocal = mixer.rampReciprocal;
    int32_t rampLength = mixer.rampLength;
    if (mixer.tickRampLength > 0) {
        rampReciprocal = quick ? mixer.quickRampReciprocal : mixer.tickRampReciprocal;
        rampLength = quick ? mixer.quickRampLength : mixer.tickRampLength;
    }
    const auto reciprocal = static_cast<double>(rampReciprocal);
    voice.rampStepLeft =
        static_cast<float>(static_cast<double>(differenceLeft) * (1.0 / 255.0) * reciprocal);
    voice.rampStepRight =
        static_cast<float>(static_cast<double>(differenceRight) * (1.0 / 255.0) * reciprocal);
    voice.rampFramesLeft = std::max(rampLength, 0);
}

// Where a voice moves through a request while it adds exactly nothing: the
// chunks and boundaries of mixing, without a kernel. False when it ends.
bool advanceSilently(const VoiceWalk& walk, uint64_t& position, bool& backward, bool& turned,
                     int32_t frameCount) {
    while (frameCount > 0) {
        const uint64_t boundaryFrames = framesUntilBoundary(walk, position, backward, frameCount);
        const bool onBoundary = boundaryFrames <= static_cast<uint64_t>(frameCount);
        const auto frames = onBoundary ? static_cast<int32_t>(boundaryFrames) : frameCount;
        if (frames > 0) {
            if (!runStaysInData(walk, position, backward, frames)) {
                return false;
            }
            const uint64_t delta = backward ? uint64_t{0} - walk.step : walk.step;
            position += delta * static_cast<uint32_t>(frames);
            frameCount -= frames;
        }
        if (onBoundary && !crossBoundary(walk, position, backward, turned)) {
            return false;
        }
    }
    return true;
}

// Whether the voice is settled at zero gain: it adds exactly nothing.
bool silent(const MixVoice& voice) {
    return voice.rampFramesLeft == 0 && voice.targetLeft == 0 && voice.targetRight == 0;
}

// A run of `frames` frames from `position`, checked to read inside the
// sample's values; false when it would not.
bool makeRun(const VoiceWalk& walk, uint64_t position, bool backward, int32_t frames, MixRun& run) {
    // Only a sample whose loop lies outside its data, or an absurd step, fails
    // the check: the voice ends rather than read elsewhere.
    if (!runStaysInData(walk, position, backward, frames)) {
        return false;
    }
    run = {walk.data, position, backward ? uint64_t{0} - walk.step : walk.step, frames,
           walk.readableEnd};
    return true;
}

// The ramp's runs, each ending at the loop boundary, at the end of the ramp
// or at the end of the request. False when the voice ends.
bool mixRamp(MixVoice& voice, const VoiceWalk& walk, uint64_t& position, bool& backward,
             bool& turned, float*& buffer, int32_t& frameCount, const MixKernels& kernels) {
    while (voice.rampFramesLeft != 0 && frameCount > 0) {
        const uint64_t boundaryFrames = framesUntilBoundary(walk, position, backward, frameCount);
        int32_t frames = frameCount;
        bool onBoundary = false;
        if (boundaryFrames <= static_cast<uint64_t>(frameCount)) {
            frames = static_cast<int32_t>(boundaryFrames);
            onBoundary = true;
        }
        if (voice.rampFramesLeft < frames) {
            frames = voice.rampFramesLeft;
            onBoundary = false;
        }
        if (frames > 0) {
            MixRun run;
            if (!makeRun(walk, position, backward, frames, run)) {
                return false;
            }
            RampGains gains{static_cast<float>(static_cast<double>(voice.currentLeft) / gainScale),
                            static_cast<float>(static_cast<double>(voice.currentRight) / gainScale),
                            voice.rampStepLeft, voice.rampStepRight};
            position = kernels.ramp(buffer, run, gains);
            voice.currentLeft = roundGain(gains.left);
            voice.currentRight = roundGain(gains.right);
            voice.rampFramesLeft -= frames;
            if (voice.rampFramesLeft == 0) {
                voice.rampStepLeft = 0.0f;
                voice.rampStepRight = 0.0f;
                voice.currentLeft = settledGain(voice.targetLeft);
                voice.currentRight = settledGain(voice.targetRight);
            }
            buffer += 2 * static_cast<int64_t>(frames);
            frameCount -= frames;
        }
        if (onBoundary && !crossBoundary(walk, position, backward, turned)) {
            return false;
        }
    }
    return true;
}

// The steady gains' runs to the end of the request, each ending at the loop
// boundary or at the end of the request. False when the voice ends.
bool mixSteady(const VoiceWalk& walk, uint64_t& position, bool& backward, bool& turned,
               float* buffer, int32_t frameCount, float gainLeft, float gainRight,
               const MixKernels& kernels) {
    while (frameCount > 0) {
        const uint64_t boundaryFrames = framesUntilBoundary(walk, position, backward, frameCount);
        const bool onBoundary = boundaryFrames <= static_cast<uint64_t>(frameCount);
        const auto frames = onBoundary ? static_cast<int32_t>(boundaryFrames) : frameCount;
        if (frames > 0) {
            MixRun run;
            if (!makeRun(walk, position, backward, frames, run)) {
                return false;
            }
            position = kernels.steady(buffer, run, gainLeft, gainRight);
            buffer += 2 * static_cast<int64_t>(frames);
            frameCount -= frames;
        }
        if (onBoundary && !crossBoundary(walk, position, backward, turned)) {
            return false;
        }
    }
    return true;
}

// Adds one voice into `frameCount` frames (at least 1): its ramp, then its
// steady gains.
// A ramp is set up only where the gains may have moved (at the start and
// where a ramp ends): within a request the targets stay as they are, so
// anywhere else it would find the ramp already set up. False when the voice
// ends.
bool mixChunks(const MixerState& mixer, MixVoice& voice, const VoiceWalk& walk, uint64_t& position,
               bool& backward, bool& turned, float* buffer, int32_t frameCount,
               const MixKernels& kernels) {
    setUpRamp(voice, mixer);
    for (;;) {
        if (kernels.skipSilentVoices && silent(voice)) {
            // At gain 0 every product is +-0.0, which leaves every sum in a
            // buffer cleared to +0.0 as it is (no sum there is -0.0). Where
            // the voice will be heard again its position still matters.
            return voice.abandoned || advanceSilently(walk, position, backward, turned, frameCount);
        }
        if (voice.rampFramesLeft == 0) {
            return mixSteady(walk, position, backward, turned, buffer, frameCount,
                             steadyGain(voice.targetLeft), steadyGain(voice.targetRight), kernels);
        }
        if (!mixRamp(voice, walk, position, backward, turned, buffer, frameCount, kernels)) {
            return false;
        }
        if (frameCount == 0) {
            return true;
        }
        setUpRamp(voice, mixer);
    }
}

void mixVoice(const MixerState& mixer, MixVoice& voice, float* buffer, int32_t frameCount,
              const MixKernels& kernels) {
    const VoiceWalk walk = walkOf(voice);
    uint64_t position = fixedPoint(voice.positionInt, voice.positionFrac);
    // Only a ping-pong loop moves a voice backward. Any other sample is played
    // forward whatever the direction says: a backward voice in a forward loop
    // would sit at the loop start for ever, since the wrap only acts at the end.
    bool backward = walk.pingPongLoop && voice.direction == Backward;
    bool turned = false;
    if (voice.rampFramesLeft < 0) {
        voice.rampFramesLeft = 0;
    }
    const bool playing =
        mixChunks(mixer, voice, walk, position, backward, turned, buffer, frameCount, kernels);
    if (!playing) {
        voice.sample = nullptr;
        position = 0;
    }
    voice.positionInt = static_cast<int32_t>(position >> 32);
    voice.positionFrac = static_cast<uint32_t>(position);
    if (turned) {
        voice.direction = backward ? Backward : Forward;
    }
}

}  // namespace

// In 64 bits this is the 32-bit division (a 64-bit dividend, a 32-bit divisor
// and quotient) wherever that one fits, and it also holds for steps of 256
// samples or more and for distances that would overflow its quotient.
uint64_t framesToBoundary(uint64_t distance, uint64_t step) {
    const uint64_t coarseStep = step >> 8;
    if (coarseStep == 0) {
        if (step == 0) {
            return distance == 0 ? 0 : std::numeric_limits<uint64_t>::max();
        }
        return ceilDivide(distance, step);
    }
    return ceilDivide(distance >> 8, coarseStep);
}

void resetMixer(MixerState& mixer, int32_t outputRate) {
    mixer.outputRate = outputRate;
    mixer.frameDuration = outputRate > 0 ? static_cast<float>(1.0 / outputRate) : 0.0f;
    // 64-bit so that no rate overflows; at least one frame so that a ramp
    // always has a finite step (rates below 345 Hz would give 0).
    const int64_t rampLength = int64_t{outputRate} * 128 / 44100;
    mixer.rampLength = static_cast<int32_t>(
        std::clamp<int64_t>(rampLength, 1, std::numeric_limits<int32_t>::max()));
    mixer.rampReciprocal = static_cast<float>(1.0 / mixer.rampLength);
    mixer.voices = {};
    for (int32_t slot = 0; slot < voiceSlots; ++slot) {
        mixer.voices[slot].index = slot;
        mixer.voices[slot].stepInt = 1;
    }
}

void mixVoicesWith(MixerState& mixer, const MixKernels& kernels, float* buffer,
                   int32_t frameCount) {
    if (frameCount < 1 || buffer == nullptr) {
        return;
    }
    for (int32_t slot = 0; slot < mixedVoices; ++slot) {
        MixVoice& voice = mixer.voices[slot];
        if (voice.sample != nullptr) {
            const bool heard = (mixer.unheardSlots >> slot & 1) == 0;
            mixVoice(mixer, voice, buffer, frameCount, heard ? kernels : walkingMixKernels);
        }
    }
}

void mixVoices(MixerState& mixer, float* buffer, int32_t frameCount) {
    mixVoicesWith(mixer, selectedMixKernels(), buffer, frameCount);
}

void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount) {
    if (frameCount < 1 || destination == nullptr || source == nullptr) {
        return;
    }
    selectedMixKernels().toPcm16(destination, source, 2 * static_cast<int64_t>(frameCount));
}

}  // namespace xmplayer
