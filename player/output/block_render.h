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

// Renders block outputDevice.nextBlock of the ring for outputDevice.currentSong.
void renderBlock();
void setTempo(Song* song, int32_t bpm);
