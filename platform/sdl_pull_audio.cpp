#include "platform/pull_audio.h"

#include <SDL.h>

namespace {

// About 23 ms at 44100 Hz: a pause or a jump is heard at once, and a busy
// machine still keeps up.
constexpr Uint16 callbackFrames = 1024;
constexpr int bytesPerFrame = 2 * static_cast<int>(sizeof(int16_t));

}  // namespace

void PullAudioDevice::fillStream(void* self, uint8_t* stream, int length) {
    auto* device = static_cast<PullAudioDevice*>(self);
    device->fill_(device->context_, reinterpret_cast<int16_t*>(stream), length / bytesPerFrame);
}

PullAudioDevice::~PullAudioDevice() {
    close();
}

bool PullAudioDevice::open(int32_t rate, Fill fill, void* context, std::string& error) {
    close();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error = SDL_GetError();
        return false;
    }
    fill_ = fill;
    context_ = context;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = callbackFrames;
    wanted.callback = fillStream;
    wanted.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device_ == 0) {
        error = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

void PullAudioDevice::setPaused(bool paused) {
    if (device_ != 0) {
        SDL_PauseAudioDevice(device_, paused ? 1 : 0);
    }
}

void PullAudioDevice::lock() {
    if (device_ != 0) {
        SDL_LockAudioDevice(device_);
    }
}

void PullAudioDevice::unlock() {
    if (device_ != 0) {
        SDL_UnlockAudioDevice(device_);
    }
}

void PullAudioDevice::close() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
        device_ = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}
