// A ring of blocks owned by a test, installed with a playback of a song in an
// output device of the test's own, so that renderRingBlock runs without a
// wave device or a feeder thread. Taken out of the device again before the
// device closes, which would release what it holds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "player/output/wave_output.h"
#include "player/playback/playback.h"

class TestRing {
  public:
    TestRing(const xmplayer::Song& song, int32_t rate, int32_t blockFrames, int32_t blockCount)
        : mix(2 * static_cast<size_t>(blockFrames), 0.0f),
          pcm(2 * static_cast<size_t>(blockFrames) * blockCount, 0x7777),
          positions(blockCount),
          playback(std::make_unique<xmplayer::Playback>()) {
        started = xmplayer::startPlayback(*playback, song, rate, xmplayer::ft2Rules);
        output.rate = rate;
        output.blockFrames = blockFrames;
        output.ringFrames = blockFrames * blockCount;
        output.mixBuffer = mix.data();
        output.pcmBuffer = pcm.data();
        output.blockPositions = positions.data();
        output.playback = playback.get();
        output.currentSong = &song;
        output.nextBlock = 0;
    }
    TestRing(const TestRing&) = delete;
    TestRing& operator=(const TestRing&) = delete;
    ~TestRing() {
        output.mixBuffer = nullptr;
        output.pcmBuffer = nullptr;
        output.blockPositions = nullptr;
        output.playback = nullptr;
        output.currentSong = nullptr;
    }

    int16_t pcmLeft(int32_t block, int32_t frame) const {
        return pcm[2 * (static_cast<size_t>(block) * output.blockFrames + frame)];
    }

    std::vector<float> mix;  // one block, as the driver keeps it
    std::vector<int16_t> pcm;
    std::vector<xmplayer::BlockPosition> positions;
    std::unique_ptr<xmplayer::Playback> playback;
    bool started = false;
    xmplayer::OutputDevice output;
};
