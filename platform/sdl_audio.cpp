#include "platform/sound_card.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "platform/thread_priority.h"

namespace {

// About 23 ms at 44100 Hz: small enough that the position the feeder sees
// is close to what is heard, large enough not to starve on a busy machine.
constexpr Uint16 callbackFrames = 1024;
constexpr int pollMilliseconds = 5;

std::string lastError;

struct SdlAudio {
    SDL_AudioDeviceID id;
    // Under SDL's device lock: the audio thread reads them in the callback.
    const Uint8* ring;
    uint32_t ringBytes;
    uint32_t readOffset;
    std::atomic<uint64_t> bytesPlayed;
};

void SDLCALL copyFromRing(void* userData, Uint8* stream, int length) {
    auto* audio = static_cast<SdlAudio*>(userData);
    if (!audio->ring || audio->ringBytes == 0) {
        std::memset(stream, 0, static_cast<std::size_t>(length));
        return;
    }
    auto left = static_cast<uint32_t>(length);
    while (left > 0) {
        const uint32_t run = std::min(left, audio->ringBytes - audio->readOffset);
        std::memcpy(stream, audio->ring + audio->readOffset, run);
        stream += run;
        left -= run;
        audio->readOffset = (audio->readOffset + run) % audio->ringBytes;
    }
    audio->bytesPlayed.fetch_add(static_cast<uint64_t>(length));
}

void* openSdlAudio(void* /*context*/, int32_t rate) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        lastError = SDL_GetError();
        return nullptr;
    }
    auto* audio = new (std::nothrow) SdlAudio{};
    if (!audio) {
        lastError = "out of memory";
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = callbackFrames;
    wanted.callback = copyFromRing;
    wanted.userdata = audio;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the card really takes, so
    // the ring is always 16-bit stereo at the rate asked for.
    audio->id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (audio->id == 0) {
        lastError = SDL_GetError();
        delete audio;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    lastError.clear();
    return audio;
}

void playSdlLoop(void* device, const int16_t* ring, uint32_t byteCount) {
    auto* audio = static_cast<SdlAudio*>(device);
    SDL_LockAudioDevice(audio->id);
    audio->ring = reinterpret_cast<const Uint8*>(ring);
    audio->ringBytes = byteCount;
    audio->readOffset = 0;
    audio->bytesPlayed.store(0);
    SDL_UnlockAudioDevice(audio->id);
    SDL_PauseAudioDevice(audio->id, 0);
}

uint64_t sdlBytesPlayed(void* device) {
    return static_cast<SdlAudio*>(device)->bytesPlayed.load();
}

void resetSdlAudio(void* device) {
    auto* audio = static_cast<SdlAudio*>(device);
    SDL_PauseAudioDevice(audio->id, 1);
    // Taking the lock waits for a callback in progress; paused, no other
    // starts, so the ring is free once this returns.
    SDL_LockAudioDevice(audio->id);
    audio->ring = nullptr;
    audio->ringBytes = 0;
    audio->readOffset = 0;
    audio->bytesPlayed.store(0);
    SDL_UnlockAudioDevice(audio->id);
}

void closeSdlAudio(void* device) {
    auto* audio = static_cast<SdlAudio*>(device);
    SDL_CloseAudioDevice(audio->id);
    delete audio;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void raiseFeederPriority(void* /*device*/) {
    raiseThreadPriority();
}

}  // namespace

xmplayer::WaveDevice soundCardDevice() {
    return xmplayer::WaveDevice{openSdlAudio,  playSdlLoop, sdlBytesPlayed,   resetSdlAudio,
                                closeSdlAudio, nullptr,     pollMilliseconds, raiseFeederPriority};
}

const char* soundCardError() {
    return lastError.c_str();
}
