#include "player/output/render_device.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

namespace xmplayer {

namespace {

constexpr uint32_t bytesPerFrame = 4;

struct RenderState {
    RenderTarget* target;
    const int16_t* ring;
    uint32_t ringFrames;
    uint64_t framesPlayed;
};

void* openRender(void* context, int32_t /*rate*/) {
    return new (std::nothrow) RenderState{static_cast<RenderTarget*>(context), nullptr, 0, 0};
}

void playRenderLoop(void* device, const int16_t* ring, uint32_t byteCount) {
    auto* state = static_cast<RenderState*>(device);
    state->ring = ring;
    state->ringFrames = byteCount / bytesPerFrame;
    state->framesPlayed = 0;
    state->target->framesDelivered.store(0);
    state->target->sinkRefused.store(false);
    state->target->finished.store(false);
}

void finish(RenderTarget& target) {
    target.finished.store(true);
    target.finished.notify_all();
}

// The feeder asks for the position only after it has re-rendered every block
// behind the position it was last told, so from there on a whole ring of
// frames, less the part of the current block already played, is final. Half
// a ring stays within that for any block size up to half a ring, and always
// lands in another block, so the feeder never mistakes a full lap for none.
uint64_t renderedBytes(void* device) {
    auto* state = static_cast<RenderState*>(device);
    RenderTarget& target = *state->target;
    if (!state->ring || state->ringFrames == 0 || target.finished.load()) {
        // Nothing more to hand over: keep an idle feeder from spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return state->framesPlayed * bytesPerFrame;
    }
    uint64_t frames = state->ringFrames / 2;
    if (target.frameLimit != 0) {
        frames = std::min(frames, target.frameLimit - state->framesPlayed);
    }
    while (frames > 0) {
        const auto offset = static_cast<uint32_t>(state->framesPlayed % state->ringFrames);
        const auto run =
            static_cast<uint32_t>(std::min<uint64_t>(frames, state->ringFrames - offset));
        if (!target.sink(state->ring + std::size_t{offset} * 2, run, target.sinkContext)) {
            target.sinkRefused.store(true);
            finish(target);
            break;
        }
        state->framesPlayed += run;
        frames -= run;
        target.framesDelivered.store(state->framesPlayed);
    }
    if (target.frameLimit != 0 && state->framesPlayed >= target.frameLimit) {
        finish(target);
    }
    return state->framesPlayed * bytesPerFrame;
}

void resetRender(void* device) {
    auto* state = static_cast<RenderState*>(device);
    state->ring = nullptr;
    state->ringFrames = 0;
    state->framesPlayed = 0;
}

void closeRender(void* device) {
    delete static_cast<RenderState*>(device);
}

}  // namespace

WaveDevice renderWaveDevice(RenderTarget* target) {
    return WaveDevice{openRender, playRenderLoop, renderedBytes, resetRender, closeRender, target,
                      0};
}

}  // namespace xmplayer
