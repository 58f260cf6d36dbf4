// The sound card pulled from: SDL's audio thread asks a callback for 16-bit
// stereo frames whenever the card needs more.
#pragma once

#include <cstdint>
#include <string>

class PullAudioDevice {
  public:
    // Fills frameCount interleaved stereo frames, left first; runs on SDL's
    // audio thread.
    using Fill = void (*)(void* context, int16_t* frames, int32_t frameCount);

    PullAudioDevice() = default;
    ~PullAudioDevice();
    PullAudioDevice(const PullAudioDevice&) = delete;
    PullAudioDevice& operator=(const PullAudioDevice&) = delete;

    // Opens the default device at `rate`, paused; false with SDL's reason in
    // `error`. SDL converts to whatever the card takes, so the callback
    // always fills frames at the rate asked for.
    bool open(int32_t rate, Fill fill, void* context, std::string& error);
    void setPaused(bool paused);
    // Between lock() and unlock() the callback does not run, so that another
    // thread may change what it uses (a BasicLockable, for std::lock_guard).
    void lock();
    void unlock();
    // Stops the callback and closes the device; open() may follow again.
    void close();

  private:
    static void fillStream(void* self, uint8_t* stream, int length);

    uint32_t device_ = 0;
    Fill fill_ = nullptr;
    void* context_ = nullptr;
};
