// The rendering core that every way of playing a song goes through: one
// playback of a song (its sequencer and its mixer voices) rendered block by
// block, the sequencer at exact tick boundaries and the mixer between them.
// The output driver's ring, the pull API, the tools, the tests and the
// benchmarks all render through renderBlock, so they all give the same bits.
#pragma once

#include <cstdint>

#include "player/mixer/mix_kernels.h"
#include "player/mixer/mixer.h"
#include "player/mixer/output_rate.h"
#include "player/sequencer/sequencer.h"
#include "player/song/song.h"

namespace xmplayer {

// Where the song stands at the end of a block, as the output driver reports
// it: order and row in a byte each, and the play time.
struct BlockPosition {
    uint8_t orderPos;
    uint8_t row;
    int32_t playTimeMs;
};

// The song's position from a frame of a block on: the row that the tick
// starting at `frame` played.
struct RowMark {
    int32_t frame;
    int32_t orderPos;
    int32_t row;
};

// A block is 20 ms of frames raised to the next multiple of 4 (884 at 44100
// Hz, not 882). Where a render is cut into blocks matters to the bits: a ramp
// running across a block's end is rounded there.
constexpr int32_t blockFramesForRate(int32_t rate) {
    return (rate * 20 / 1000 + 3) & ~3;
}

// A copy keeps pointing into the mixer of the playback it was taken from
// (the sequencer's channels hold their voices): it is only fit to be put back
// into that playback, as a seek does to hear a block again.
struct Playback {
    MixerState mixer;
    Sequencer sequencer;
    const MixKernels* kernels = nullptr;  // null: the fastest the processor runs
    int32_t tickFramesLeft = 0;
    int32_t playTimeMs = 0;
};

// Binds a playback to a song at a rate, with the rules it plays by, and puts
// it at the song's start. False for a rate outside the bounds or when memory
// runs out.
bool startPlayback(Playback& playback, const Song& song, int32_t rate, const PlaybackRules& rules);

// Puts the playback at the song's start again: every voice silent, the
// sequencer rewound, the default tempo set.
void rewindPlayback(Playback& playback);

// Renders the next `frames` frames (a block) into `mix`, two floats per
// frame, which it clears first, and, when `pcm` is not null, their 16-bit
// conversion. When `marks` is not null it receives a mark for the block's
// first frame and one for every tick that moves to another row (at most
// `frames` + 1) and `markCount` their number.
BlockPosition renderBlock(Playback& playback, float* mix, int16_t* pcm, int32_t frames,
                          RowMark* marks = nullptr, int32_t* markCount = nullptr);

// Plays a block ahead without listening: the same ticks, and every voice's
// position and ramp moved exactly as renderBlock moves them, but nothing
// mixed. `scratch` (two floats per frame) is neither read nor written; it
// stands where the block's frames would go.
BlockPosition walkBlock(Playback& playback, float* scratch, int32_t frames,
                        RowMark* marks = nullptr, int32_t* markCount = nullptr);

}  // namespace xmplayer
