#include "player/player.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "player/output/wave_output.h"
#include "player/playback/playback.h"
#include "player/song/file_stream.h"
#include "player/song/song.h"
#include "player/song/song_loading.h"

namespace xmplayer {

// Frames are rendered a block at a time, as the output ring renders them, and
// handed out from the block in whatever pieces the caller asks for: where the
// blocks begin does not depend on the caller's piece sizes, so every way of
// asking gives the same frames.
struct Player {
    Playback playback;
    int32_t blockFrames = 0;
    std::unique_ptr<float[]> mix;
    std::unique_ptr<int16_t[]> pcm;
    std::unique_ptr<RowMark[]> marks;
    int32_t markCount = 0;
    int32_t blockOffset = 0;  // frames of the current block handed out
    int32_t blockFilled = 0;  // frames of the current block rendered
    int64_t framesRendered = 0;
};

namespace {

// 2^-15: exact in both directions, so the float frames carry the mix's bits.
constexpr float floatScale = 1.0f / 32768.0f;

void nextBlock(Player& player) {
    renderBlock(player.playback, player.mix.get(), player.pcm.get(), player.blockFrames,
                player.marks.get(), &player.markCount);
    player.blockOffset = 0;
    player.blockFilled = player.blockFrames;
}

// Hands out frameCount frames, block by block, through `take(first, count)`
// with the first frame's index in the current block.
template <typename Take>
void handOut(Player& player, int32_t frameCount, Take take) {
    int32_t done = 0;
    while (done < frameCount) {
        if (player.blockOffset == player.blockFilled) {
            nextBlock(player);
        }
        const int32_t count = std::min(frameCount - done, player.blockFilled - player.blockOffset);
        take(done, player.blockOffset, count);
        player.blockOffset += count;
        done += count;
    }
    player.framesRendered += frameCount;
}

}  // namespace

Song* loadSongFile(const char* path, std::string* reason) {
    // The stream layer only says that a file could not be opened; the system
    // knows why.
    std::FILE* probe = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (probe == nullptr) {
        if (reason != nullptr) {
            *reason = path != nullptr ? std::strerror(errno) : "no file named";
        }
        return nullptr;
    }
    std::fclose(probe);
    return loadSong(fileStreamCallbacks(), path, nullptr, reason);
}

SongSummary describeSong(const Song& song) {
    return {
        song.channelCount,
        song.songLength,
        song.restartPosition,
        song.patternCount,
        song.instrumentCount,
        song.defaultSpeed,
        song.defaultTempo,
        (song.flags & linearFrequencyTable) != 0 ? FrequencyTable::Linear : FrequencyTable::Amiga};
}

Player* createPlayer(const Song& song, int32_t rate) {
    auto player = std::unique_ptr<Player>(new (std::nothrow) Player);
    if (player == nullptr || rate < minOutputRate || rate > maxOutputRate) {
        return nullptr;
    }
    const int32_t frames = blockFramesForRate(rate);
    player->blockFrames = frames;
    player->mix.reset(new (std::nothrow) float[2 * static_cast<std::size_t>(frames)]);
    player->pcm.reset(new (std::nothrow) int16_t[2 * static_cast<std::size_t>(frames)]);
    player->marks.reset(new (std::nothrow) RowMark[static_cast<std::size_t>(frames) + 1]);
    if (player->mix == nullptr || player->pcm == nullptr || player->marks == nullptr ||
        !startPlayback(player->playback, song, rate)) {
        return nullptr;
    }
    return player.release();
}

void destroyPlayer(Player* player) {
    delete player;
}

void renderFrames(Player& player, int16_t* frames, int32_t frameCount) {
    handOut(player, frameCount, [&](int32_t done, int32_t first, int32_t count) {
        std::copy_n(player.pcm.get() + 2 * static_cast<int64_t>(first), 2 * count,
                    frames + 2 * static_cast<int64_t>(done));
    });
}

void renderFloatFrames(Player& player, float* frames, int32_t frameCount) {
    handOut(player, frameCount, [&](int32_t done, int32_t first, int32_t count) {
        const float* mix = player.mix.get() + 2 * static_cast<int64_t>(first);
        float* out = frames + 2 * static_cast<int64_t>(done);
        for (int32_t i = 0; i < 2 * count; ++i) {
            out[i] = mix[i] * floatScale;
        }
    });
}

Position renderedPosition(const Player& player) {
    if (player.framesRendered == 0) {
        return {0, 0, 0};
    }
    const int32_t lastFrame = player.blockOffset - 1;
    const RowMark* mark = player.marks.get();
    for (int32_t i = 1; i < player.markCount && player.marks[i].frame <= lastFrame; ++i) {
        mark = &player.marks[i];
    }
    return {mark->orderPos, mark->row,
            player.framesRendered * 1000 / player.playback.mixer.outputRate};
}

void restartPlayer(Player& player) {
    rewindPlayback(player.playback);
    player.blockOffset = 0;
    player.blockFilled = 0;
    player.framesRendered = 0;
}

OutputDevice* createOutputDevice() {
    return new (std::nothrow) OutputDevice;
}

void destroyOutputDevice(OutputDevice* output) {
    delete output;
}

}  // namespace xmplayer
