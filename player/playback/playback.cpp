#include "player/playback/playback.h"

#include <algorithm>
#include <cstdint>

namespace xmplayer {

namespace {

// Milliseconds of one chunk, truncated on its own; the single-precision frame
// duration makes 882 frames at 44100 Hz 19 ms, not 20.
int32_t chunkMilliseconds(const MixerState& mixer, int32_t frames) {
    return static_cast<int32_t>(static_cast<double>(frames) *
                                static_cast<double>(mixer.frameDuration) * 1000.0);
}

// The play time wraps after about 24 days instead of overflowing.
int32_t addWrapping(int32_t total, int32_t amount) {
    return static_cast<int32_t>(static_cast<uint32_t>(total) + static_cast<uint32_t>(amount));
}

const MixKernels& kernelsOf(const Playback& playback) {
    return playback.kernels != nullptr ? *playback.kernels : selectedMixKernels();
}

}  // namespace

bool startPlayback(Playback& playback, const Song& song, int32_t rate, const PlaybackRules& rules) {
    if (rate < minOutputRate || rate > maxOutputRate) {
        return false;
    }
    resetMixer(playback.mixer, rate);
    if (!bindSequencer(playback.sequencer, song, playback.mixer, rules)) {
        return false;
    }
    rewindPlayback(playback);
    return true;
}

void rewindPlayback(Playback& playback) {
    resetMixer(playback.mixer, playback.mixer.outputRate);
    rewindSequencer(playback.sequencer);
    playback.tickFramesLeft = 0;
    playback.playTimeMs = 0;
}

namespace {

// The ticks at their exact frames and the kernels' work between them.
BlockPosition runBlock(Playback& playback, const MixKernels& kernels, float* mix, int32_t frames,
                       RowMark* marks, int32_t* markCount) {
    Sequencer& sequencer = playback.sequencer;
    int32_t marked = 0;
    if (marks != nullptr) {
        marks[marked++] = {0, sequencer.orderPos, sequencer.processedRow};
    }
    int32_t framesDone = 0;
    int32_t tickFramesLeft = playback.tickFramesLeft;
    while (framesDone < frames) {
        if (tickFramesLeft <= 0) {
            advanceTick(sequencer);
            // The tick may have changed the tempo: its own tick is already of
            // the new length.
            tickFramesLeft = std::max(sequencer.framesPerTick, 1);
            if (marks != nullptr) {
                const RowMark& last = marks[marked - 1];
                if (last.orderPos != sequencer.orderPos || last.row != sequencer.processedRow) {
                    marks[marked++] = {framesDone, sequencer.orderPos, sequencer.processedRow};
                }
            }
        }
        const int32_t chunk = std::min(tickFramesLeft, frames - framesDone);
        mixVoicesWith(playback.mixer, kernels, mix + 2 * static_cast<int64_t>(framesDone), chunk);
        framesDone += chunk;
        tickFramesLeft -= chunk;
        playback.playTimeMs =
            addWrapping(playback.playTimeMs, chunkMilliseconds(playback.mixer, chunk));
    }
    playback.tickFramesLeft = tickFramesLeft;
    if (markCount != nullptr) {
        *markCount = marked;
    }
    return {static_cast<uint8_t>(sequencer.orderPos & 0xFF),
            static_cast<uint8_t>(sequencer.row & 0xFF), playback.playTimeMs};
}

}  // namespace

BlockPosition renderBlock(Playback& playback, float* mix, int16_t* pcm, int32_t frames,
                          RowMark* marks, int32_t* markCount) {
    const MixKernels& kernels = kernelsOf(playback);
    std::fill(mix, mix + 2 * static_cast<int64_t>(frames), 0.0f);
    const BlockPosition position = runBlock(playback, kernels, mix, frames, marks, markCount);
    if (pcm != nullptr && frames > 0) {
        kernels.toPcm16(pcm, mix, 2 * static_cast<int64_t>(frames));
    }
    return position;
}

BlockPosition walkBlock(Playback& playback, float* scratch, int32_t frames, RowMark* marks,
                        int32_t* markCount) {
    return runBlock(playback, walkingMixKernels, scratch, frames, marks, markCount);
}

}  // namespace xmplayer
