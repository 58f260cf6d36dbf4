// Samples and voices that the mixer tests set up by hand, in a mixer of the
// test's own.
#pragma once

#include <cstdint>
#include <vector>

#include "player/mixer/mixer.h"
#include "player/song/song.h"

using xmplayer::Backward;
using xmplayer::emptySample;
using xmplayer::Forward;
using xmplayer::ForwardLoop;
using xmplayer::MixerState;
using xmplayer::MixVoice;
using xmplayer::NoLoop;
using xmplayer::PingPongLoop;
using xmplayer::Sample;

// A sample in the loader's layout: one value before the data, `length` + 8
// after, and the guard value after the loop end set as the loader sets it.
class TestSample {
  public:
    TestSample(const std::vector<int16_t>& values, uint8_t loopType, uint32_t loopStart,
               uint32_t loopLength) {
        sample.length = static_cast<uint32_t>(values.size());
        sample.data = xmplayer::allocateSampleData(sample.length);
        for (uint32_t i = 0; i < sample.length; ++i) {
            sample.data[i] = values[i];
        }
        sample.loopType = loopType;
        sample.bits = 16;
        if (loopType == NoLoop) {
            sample.loopStart = 0;
            sample.loopLength = sample.length;
        } else {
            sample.loopStart = loopStart;
            sample.loopLength = loopLength;
            const uint32_t loopEnd = loopStart + loopLength;
            sample.data[loopEnd] =
                loopType == ForwardLoop ? sample.data[loopStart] : sample.data[loopEnd - 1];
        }
    }
    TestSample(const TestSample&) = delete;
    TestSample& operator=(const TestSample&) = delete;
    ~TestSample() { xmplayer::releaseSampleData(sample.data); }

    Sample sample{};
};

inline std::vector<int16_t> constantValues(uint32_t length, int16_t value) {
    return std::vector<int16_t>(length, value);
}

inline void setPosition(MixVoice& voice, int32_t whole, uint32_t fraction) {
    voice.positionInt = whole;
    voice.positionFrac = fraction;
}

inline void setStep(MixVoice& voice, uint32_t whole, uint32_t fraction) {
    voice.stepInt = static_cast<int32_t>(whole);
    voice.stepFrac = fraction;
}

// A voice as a new note leaves it: at the start, forward, silent, no ramp.
inline MixVoice& startNote(MixerState& mixer, int slot, const Sample& sample, int32_t targetLeft,
                           int32_t targetRight) {
    MixVoice& voice = mixer.voices[slot];
    voice.sample = &sample;
    setPosition(voice, 0, 0);
    voice.direction = Forward;
    voice.currentLeft = 0;
    voice.currentRight = 0;
    voice.rampFramesLeft = 0;
    voice.targetLeft = targetLeft;
    voice.targetRight = targetRight;
    return voice;
}

// A voice whose ramp has ended at its targets.
inline MixVoice& settledVoice(MixerState& mixer, int slot, const Sample& sample, int32_t targetLeft,
                              int32_t targetRight) {
    MixVoice& voice = startNote(mixer, slot, sample, targetLeft, targetRight);
    voice.currentLeft = targetLeft * 256;
    voice.currentRight = targetRight * 256;
    voice.rampTargetLeft = targetLeft;
    voice.rampTargetRight = targetRight;
    return voice;
}
