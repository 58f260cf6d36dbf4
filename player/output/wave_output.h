// The wave-output driver: one device playing one looping ring of 16-bit stereo
// PCM, kept filled by a feeder thread from one playback of a song. The record
// is its owner's; any number of them may play at once. Its calls are declared
// in output_device.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "player/output/output_device.h"
#include "player/output/wave_device.h"
#include "player/playback/playback.h"
#include "player/song/song.h"

namespace xmplayer {

struct RingSizes {
    int32_t blockFrames;
    int32_t ringFrames;
};

// The ring holds (bufferMilliseconds / 20) x 2 blocks, 100 for the usual
// second. Meant for the rates the output driver accepts.
constexpr RingSizes ringSizesForRate(int32_t rate, int32_t bufferMilliseconds = 1000) {
    const int32_t blockFrames = blockFramesForRate(rate);
    return {blockFrames, (bufferMilliseconds / 20) * blockFrames * 2};
}

struct OutputDevice {
    WaveDevice device{};      // the registered device; waveOut is its open handle
    void* waveOut = nullptr;  // null while closed
    int32_t rate = 0;
    int32_t blockFrames = 0;
    int32_t ringFrames = 0;
    int16_t* pcmBuffer = nullptr;  // the ring: ringFrames frames of left, right
    float* mixBuffer = nullptr;    // one block of two floats per frame
    BlockPosition* blockPositions = nullptr;
    int32_t nextBlock = 0;
    int32_t audibleBlock = 0;
    Playback* playback = nullptr;  // while a song plays
    const Song* currentSong = nullptr;
    std::thread feederThread;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> feederExited{true};
    // A copy of blockPositions[audibleBlock], published by whichever thread
    // moves audibleBlock, so that the position getters may run on any thread
    // without reading records the feeder is rewriting; zero while stopped.
    std::atomic<BlockPosition> audiblePosition{};

    OutputDevice() = default;
    OutputDevice(const OutputDevice&) = delete;
    OutputDevice& operator=(const OutputDevice&) = delete;
    // Closes the device, stopping playback first.
    ~OutputDevice();
};

inline int32_t ringBlockCount(const OutputDevice& output) {
    return output.blockFrames > 0 ? output.ringFrames / output.blockFrames : 0;
}

// Renders block output.nextBlock of the ring and moves nextBlock on, back to
// 0 after the last block.
void renderRingBlock(OutputDevice& output);

}  // namespace xmplayer
