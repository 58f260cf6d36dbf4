// Plays an XM file through the installed player from SDL's audio callback:
// the callback pulls each buffer's frames from a player of its own, as 32-bit
// floats. Follows the position of what was rendered for a few seconds of the
// song and notes the peak level. The README's library example is this
// program without its checks: keep the two in step.
//
//   consumer SONG.xm [SECONDS]

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "player/player.h"

namespace {

struct Playing {
    xmplayer::Player* player;
    float peak;  // checks only: the loudest value handed to SDL
};

// SDL's audio thread asks for `length` bytes of interleaved stereo floats.
void SDLCALL fillAudio(void* userData, Uint8* stream, int length) {
    auto& playing = *static_cast<Playing*>(userData);
    auto* frames = reinterpret_cast<float*>(stream);
    const int frameCount = length / static_cast<int>(2 * sizeof(float));
    const int32_t rendered = xmplayer::renderFloatFrames(*playing.player, frames, frameCount);
    // Once a pass limit ends the song the rest is silence, not stale memory.
    std::fill(frames + 2 * rendered, frames + 2 * frameCount, 0.0f);
    for (int i = 0; i < 2 * frameCount; ++i) {
        playing.peak = std::max(playing.peak, std::fabs(frames[i]));
    }
}

int fail(const char* message) {
    std::fprintf(stderr, "consumer: %s\n", message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("Usage: consumer SONG.xm [SECONDS]\n", stderr);
        return 2;
    }
    const long seconds = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 10;

    std::string reason;
    xmplayer::Song* song = xmplayer::loadSongFile(argv[1], &reason);
    if (song == nullptr) {
        std::fprintf(stderr, "consumer: cannot load %s: %s\n", argv[1], reason.c_str());
        return 1;
    }
    const xmplayer::SongSummary summary = xmplayer::describeSong(*song);
    std::printf("%d channels, %d orders, %d instruments\n", summary.channels, summary.songLength,
                summary.instruments);

    SDL_AudioSpec wanted{};
    wanted.freq = 44100;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = fillAudio;
    Playing playing{xmplayer::createPlayer(*song, wanted.freq), 0.0f};
    wanted.userdata = &playing;
    if (playing.player == nullptr || SDL_Init(SDL_INIT_AUDIO) != 0) {
        xmplayer::destroyPlayer(playing.player);
        xmplayer::freeSong(song);
        return fail("cannot start the player or SDL's audio");
    }
    // No changes allowed: SDL converts to whatever the card takes.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
        xmplayer::destroyPlayer(playing.player);
        xmplayer::freeSong(song);
        SDL_Quit();
        return fail(SDL_GetError());
    }
    SDL_PauseAudioDevice(device, 0);

    int lastOrder = -1;
    int orderChanges = 0;
    bool inSong = true;
    for (int64_t milliseconds = 0; milliseconds < seconds * 1000 && inSong;) {
        SDL_Delay(1);
        // The player belongs to the audio thread while it plays: look at it
        // under SDL's lock.
        SDL_LockAudioDevice(device);
        const xmplayer::Position at = xmplayer::renderedPosition(*playing.player);
        SDL_UnlockAudioDevice(device);
        if (at.order != lastOrder) {
            std::printf("order %d, row %d at %lld ms\n", at.order, at.row,
                        static_cast<long long>(at.milliseconds));
            lastOrder = at.order;
            ++orderChanges;
        }
        inSong = at.order < summary.songLength && at.milliseconds >= milliseconds;
        milliseconds = at.milliseconds;
    }
    SDL_CloseAudioDevice(device);  // waits for a callback in progress
    SDL_Quit();
    xmplayer::destroyPlayer(playing.player);
    xmplayer::freeSong(song);

    std::printf("peak level %.3f\n", static_cast<double>(playing.peak));
    if (!inSong) {
        return fail("the position went backwards or out of the song");
    }
    if (orderChanges < 2 || playing.peak == 0.0f) {
        return fail("the song played without a change of order or a sound");
    }
    return 0;
}
