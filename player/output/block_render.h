// Renders the next block of the output ring: the sequencer at exact tick
// boundaries, the mixer between them, the position at the block's end.
#pragma once

#include <cstdint>

#include "player/song/song.h"

struct BlockPosition {
    uint8_t orderPos;
    uint8_t row;
    int32_t playTimeMs;
};

struct RingSizes {
    int32_t blockFrames;
    int32_t ringFrames;
};

// A block is 20 ms of frames raised to the next multiple of 4 (884 at
// 44100 Hz, not 882); the ring holds (bufferMilliseconds / 20) x 2 blocks, 100
// for the usual second. Meant for the rates the output driver accepts.
constexpr RingSizes ringSizesForRate(int32_t rate, int32_t bufferMilliseconds = 1000) {
    const int32_t blockFrames = (rate * 20 / 1000 + 3) & ~3;
    return {blockFrames, (bufferMilliseconds / 20) * blockFrames * 2};
}

// Renders block outputDevice.nextBlock of the ring for outputDevice.currentSong
// and moves nextBlock on, back to 0 after the last block.
void renderBlock();
// Stores the tempo and the tick length that follows from it at the mixer's rate.
void setTempo(Song* song, int32_t bpm);
