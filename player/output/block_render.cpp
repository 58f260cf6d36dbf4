#include "player/output/block_render.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "player/output/mixer.h"
#include "player/output/wave_output.h"

namespace {

// The tick formula's constants are single-precision values widened to double.
constexpr double tempoFactor = static_cast<double>(0.4f);
constexpr double millisecondFactor = static_cast<double>(0.001f);

double tickFrames(int32_t bpm) {
    return ((1000.0 / (static_cast<double>(bpm) * tempoFactor)) *
            static_cast<double>(mixerState.outputRate)) *
           millisecondFactor;
}

// Milliseconds of one chunk, truncated on its own; the single-precision frame
// duration makes 882 frames at 44100 Hz 19 ms, not 20.
int32_t chunkMilliseconds(int32_t frames) {
    return static_cast<int32_t>(static_cast<double>(frames) *
                                static_cast<double>(mixerState.frameDuration) * 1000.0);
}

// The play time wraps after about 24 days instead of overflowing.
int32_t addWrapping(int32_t total, int32_t amount) {
    return static_cast<int32_t>(static_cast<uint32_t>(total) + static_cast<uint32_t>(amount));
}

// Mixes the block's frames, running the song's tick function whenever the
// previous tick's frames are all mixed, and returns where the song stands.
BlockPosition renderSong(Song& song, float* mix, int32_t blockFrames) {
    int32_t framesDone = 0;
    int32_t tickFramesLeft = song.tickFramesLeft;
    while (framesDone < blockFrames) {
        if (tickFramesLeft <= 0) {
            if (song.tickFunction != nullptr) {
                song.tickFunction(&song);
            }
            // The tick function may have changed the tempo: its own tick is
            // already of the new length.
            tickFramesLeft = std::max(song.framesPerTick, 1);
        }
        const int32_t frames = std::min(tickFramesLeft, blockFrames - framesDone);
        mixVoices(mix + 2 * static_cast<int64_t>(framesDone), frames);
        framesDone += frames;
        tickFramesLeft -= frames;
        song.playTimeMs = addWrapping(song.playTimeMs, chunkMilliseconds(frames));
    }
    song.tickFramesLeft = tickFramesLeft;
    return {static_cast<uint8_t>(song.orderPos & 0xFF), static_cast<uint8_t>(song.row & 0xFF),
            song.playTimeMs};
}

}  // namespace

void setTempo(Song* song, int32_t bpm) {
    if (song == nullptr) {
        return;
    }
    song->tempo = bpm;
    // A tempo below 1 (only a malformed song header gives one) ticks as slowly
    // as tempo 1; whatever the tempo and rate, a tick lasts at least one frame
    // so that rendering always advances.
    const double frames = tickFrames(std::max(bpm, 1));
    if (!(frames >= 1.0)) {
        song->framesPerTick = 1;
    } else if (frames >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        song->framesPerTick = std::numeric_limits<int32_t>::max();
    } else {
        song->framesPerTick = static_cast<int32_t>(frames);
    }
}

void renderBlock() {
    OutputDevice& device = outputDevice;
    const int32_t blockCount = ringBlockCount();
    if (blockCount < 1 || device.mixBuffer == nullptr || device.pcmBuffer == nullptr ||
        device.blockPositions == nullptr) {
        // No ring to render into; nextBlock stays at the start so that a
        // caller waiting for it to come round is not kept waiting.
        device.nextBlock = 0;
        return;
    }
    if (device.nextBlock < 0 || device.nextBlock >= blockCount) {
        device.nextBlock = 0;
    }
    const int32_t blockFrames = device.blockFrames;
    const int64_t firstValue = 2 * static_cast<int64_t>(device.nextBlock) * blockFrames;
    float* mix = device.mixBuffer + firstValue;
    std::fill(mix, mix + 2 * static_cast<int64_t>(blockFrames), 0.0f);

    // Without a song the block is silence.
    device.blockPositions[device.nextBlock] =
        device.currentSong != nullptr ? renderSong(*device.currentSong, mix, blockFrames)
                                      : BlockPosition{};
    convertToPcm16(device.pcmBuffer + firstValue, mix, blockFrames);
    device.nextBlock = device.nextBlock + 1 >= blockCount ? 0 : device.nextBlock + 1;
}
