// The wave-output device the driver plays its ring through. The player only
// states what it needs of a device; the application registers one (the sound
// card through the platform layer, or a renderer that plays as fast as the
// machine allows), so the player itself depends on no audio system.
#pragma once

#include <cstdint>

namespace xmplayer {

struct WaveDevice {
    // Opens the device for 16-bit signed stereo PCM, left value first, at
    // `rate` frames per second. Returns the open device, or null when refused.
    void* (*open)(void* context, int32_t rate);
    // Starts playing `ring` (byteCount bytes) from its first frame, over and
    // over without end, until reset. The ring stays the caller's.
    void (*playLoop)(void* device, const int16_t* ring, uint32_t byteCount);
    // Bytes played since playLoop started. The count is 64 bits wide so that
    // it never wraps. Called from the feeder thread while the ring plays.
    uint64_t (*bytesPlayed)(void* device);
    // Stops playing and lets go of the ring: once it returns, the device no
    // longer reads the ring and the count is back at 0. Harmless when idle.
    void (*reset)(void* device);
    void (*close)(void* device);
    // Handed to open; belongs to whoever registered the device.
    void* context;
    // How long the feeder sleeps between two looks at the play position: a
    // sound card needs a few milliseconds, a renderer none.
    int32_t pollMilliseconds;
    // Called on the feeder thread before its first block, where a sound card
    // raises the thread's priority; may be null.
    void (*feederStarted)(void* device) = nullptr;
};

}  // namespace xmplayer
