// The sound card pulled from: a thread of the sound system (SDL's audio
// thread on Linux, a feeder of wave-out buffers on Windows) asks a callback
// for 16-bit stereo frames whenever the card needs more.
#pragma once

#include <cstdint>
#include <string>

class PullAudioDevice {
  public:
    // Fills frameCount interleaved stereo frames, left first; runs on the
    // sound system's thread.
    using Fill = void (*)(void* context, int16_t* frames, int32_t frameCount);

    PullAudioDevice() = default;
    ~PullAudioDevice();
    PullAudioDevice(const PullAudioDevice&) = delete;
    PullAudioDevice& operator=(const PullAudioDevice&) = delete;

    // Opens the default device at `rate`, paused; false with the sound
    // system's reason in `error`. The system converts to whatever the card
    // takes, so the callback always fills frames at the rate asked for.
    bool open(int32_t rate, Fill fill, void* context, std::string& error);
    void setPaused(bool paused);
    // Between lock() and unlock() the callback does not run, so that another
    // thread may change what it uses (a BasicLockable, for std::lock_guard).
    void lock();
    void unlock();
    // Stops the callback and closes the device; open() may follow again.
    void close();

  private:
#if defined(_WIN32)
    struct WaveOut;
    WaveOut* waveOut_ = nullptr;
#else
    static void fillStream(void* self, uint8_t* stream, int length);

    uint32_t device_ = 0;
    Fill fill_ = nullptr;
    void* context_ = nullptr;
#endif
};
