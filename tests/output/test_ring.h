// A ring of blocks owned by a test or benchmark, installed in outputDevice for
// as long as it lives, so that renderBlock can run without a device. The song
// to render (outputDevice.currentSong) is the caller's to set and clear.
#pragma once

#include <cstdint>
#include <vector>

#include "player/output/block_render.h"
#include "player/output/wave_output.h"

class TestRing {
  public:
    TestRing(int32_t blockFrames, int32_t blockCount)
        : mix(2 * static_cast<size_t>(blockFrames) * blockCount, 0.0f),
          pcm(mix.size(), 0x7777),
          positions(blockCount) {
        outputDevice.blockFrames = blockFrames;
        outputDevice.ringFrames = blockFrames * blockCount;
        outputDevice.mixBuffer = mix.data();
        outputDevice.pcmBuffer = pcm.data();
        outputDevice.blockPositions = positions.data();
        outputDevice.nextBlock = 0;
    }
    // The ring playback uses at `rate`.
    explicit TestRing(int32_t rate)
        : TestRing(ringSizesForRate(rate).blockFrames,
                   ringSizesForRate(rate).ringFrames / ringSizesForRate(rate).blockFrames) {}
    TestRing(const TestRing&) = delete;
    TestRing& operator=(const TestRing&) = delete;
    ~TestRing() {
        outputDevice.blockFrames = 0;
        outputDevice.ringFrames = 0;
        outputDevice.mixBuffer = nullptr;
        outputDevice.pcmBuffer = nullptr;
        outputDevice.blockPositions = nullptr;
        outputDevice.nextBlock = 0;
    }

    float left(int32_t block, int32_t frame) const {
        return mix[2 * (static_cast<size_t>(block) * outputDevice.blockFrames + frame)];
    }
    int16_t pcmLeft(int32_t block, int32_t frame) const {
        return pcm[2 * (static_cast<size_t>(block) * outputDevice.blockFrames + frame)];
    }

    std::vector<float> mix;
    std::vector<int16_t> pcm;
    std::vector<BlockPosition> positions;
};
