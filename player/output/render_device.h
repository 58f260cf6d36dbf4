// A wave-output device with no sound card behind it. It plays the ring as
// fast as the feeder refills it and hands every frame, once it is final, to a
// sink: the frames arrive exactly in the order, and with exactly the values,
// that a sound card playing the ring from its start would have played.
#pragma once

#include <atomic>
#include <cstdint>

#include "player/output/wave_device.h"

namespace xmplayer {

// Receives frameCount frames of left, right values on the feeder thread.
// Returns false to end the render (a write that failed, say).
using PcmSink = bool (*)(const int16_t* frames, uint32_t frameCount, void* sinkContext);

// What a render is for and how far it has come. Set sink, sinkContext and
// frameLimit before playSong; the rest is the device's to update.
struct RenderTarget {
    PcmSink sink = nullptr;
    void* sinkContext = nullptr;
    uint64_t frameLimit = 0;  // frames to hand over; 0: until playback stops
    std::atomic<uint64_t> framesDelivered{0};
    std::atomic<bool> sinkRefused{false};
    // Set (and notified) once frameLimit frames are delivered or the sink
    // refused; the device then stands still until it is reset.
    std::atomic<bool> finished{false};
};

// A device record to register with setWaveDevice; `target` must outlive it.
WaveDevice renderWaveDevice(RenderTarget* target);

}  // namespace xmplayer
