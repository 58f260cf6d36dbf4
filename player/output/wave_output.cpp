#include "player/output/wave_output.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <new>
#include <system_error>

namespace xmplayer {

namespace {

constexpr int32_t bytesPerFrame = 4;
constexpr int32_t ringMilliseconds = 1000;

void publishAudiblePosition(OutputDevice& output) {
    output.audiblePosition.store(output.blockPositions[output.audibleBlock]);
}

void releaseRing(OutputDevice& output) {
    delete[] output.mixBuffer;
    output.mixBuffer = nullptr;
    delete[] output.pcmBuffer;
    output.pcmBuffer = nullptr;
    delete[] output.blockPositions;
    output.blockPositions = nullptr;
    delete output.playback;
    output.playback = nullptr;
}

// Ends the feeder, silences the device, then releases the ring; harmless when
// nothing plays.
void stopPlayback(OutputDevice& output) {
    output.stopRequested.store(true);
    if (output.feederThread.joinable()) {
        output.feederThread.join();
    }
    // The device is reset before anything is released, so that a song
    // released right after this is silent before its samples go.
    if (output.waveOut != nullptr && output.pcmBuffer != nullptr) {
        output.device.reset(output.waveOut);
    }
    releaseRing(output);
    output.currentSong = nullptr;
    output.audiblePosition.store(BlockPosition{});
}

bool allocateRing(OutputDevice& output) {
    const auto ringValues = static_cast<std::size_t>(output.ringFrames) * 2;
    output.blockPositions = new (std::nothrow) BlockPosition[ringBlockCount(output)]();
    output.pcmBuffer = new (std::nothrow) int16_t[ringValues]();
    output.mixBuffer = new (std::nothrow) float[2 * static_cast<std::size_t>(output.blockFrames)]();
    output.playback = new (std::nothrow) Playback;
    return output.blockPositions != nullptr && output.pcmBuffer != nullptr &&
           output.mixBuffer != nullptr && output.playback != nullptr;
}

void feedOutput(OutputDevice& output) {
    const WaveDevice& device = output.device;
    if (device.feederStarted != nullptr) {
        device.feederStarted(output.waveOut);
    }
    const int32_t blockCount = ringBlockCount(output);
    const auto ringFrames = static_cast<uint64_t>(output.ringFrames);
    while (!output.stopRequested.load()) {
        const uint64_t playingFrame = device.bytesPlayed(output.waveOut) / bytesPerFrame;
        const auto playingBlock =
            static_cast<int32_t>(playingFrame % ringFrames) / output.blockFrames;
        while (output.nextBlock != playingBlock && !output.stopRequested.load()) {
            renderRingBlock(output);
            output.audibleBlock = (output.audibleBlock + 1) % blockCount;
            publishAudiblePosition(output);
        }
        if (device.pollMilliseconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(device.pollMilliseconds));
        } else {
            std::this_thread::yield();
        }
    }
    output.feederExited.store(true);
}

}  // namespace

OutputDevice::~OutputDevice() {
    closeOutputDevice(*this);
}

OutputDevice* createOutputDevice() {
    return new (std::nothrow) OutputDevice;
}

void destroyOutputDevice(OutputDevice* output) {
    delete output;
}

void renderRingBlock(OutputDevice& output) {
    const int32_t blockCount = ringBlockCount(output);
    if (blockCount < 1 || output.mixBuffer == nullptr || output.pcmBuffer == nullptr ||
        output.blockPositions == nullptr || output.playback == nullptr) {
        // No ring to render into; nextBlock stays at the start so that a
        // caller waiting for it to come round is not kept waiting.
        output.nextBlock = 0;
        return;
    }
    if (output.nextBlock < 0 || output.nextBlock >= blockCount) {
        output.nextBlock = 0;
    }
    const int64_t firstValue = 2 * static_cast<int64_t>(output.nextBlock) * output.blockFrames;
    output.blockPositions[output.nextBlock] = renderBlock(
        *output.playback, output.mixBuffer, output.pcmBuffer + firstValue, output.blockFrames);
    output.nextBlock = output.nextBlock + 1 >= blockCount ? 0 : output.nextBlock + 1;
}

void setWaveDevice(OutputDevice& output, const WaveDevice* device) {
    closeOutputDevice(output);
    output.device = device != nullptr ? *device : WaveDevice{};
}

bool openOutputDevice(OutputDevice& output, int32_t rate) {
    closeOutputDevice(output);
    if (rate < minOutputRate || rate > maxOutputRate || output.device.open == nullptr) {
        return false;
    }
    void* device = output.device.open(output.device.context, rate);
    if (device == nullptr) {
        return false;
    }
    output.waveOut = device;
    output.rate = rate;
    const RingSizes sizes = ringSizesForRate(rate, ringMilliseconds);
    output.blockFrames = sizes.blockFrames;
    output.ringFrames = sizes.ringFrames;
    return true;
}

void closeOutputDevice(OutputDevice& output) {
    stopPlayback(output);
    if (output.waveOut != nullptr) {
        output.device.reset(output.waveOut);
        output.device.close(output.waveOut);
        output.waveOut = nullptr;
    }
}

bool playSong(OutputDevice& output, const Song* song, RuleSet rules) {
    if (song == nullptr || output.waveOut == nullptr) {
        return false;
    }
    stopPlayback(output);
    if (!allocateRing(output) ||
        !startPlayback(*output.playback, *song, output.rate, playbackRules(rules))) {
        stopPlayback(output);
        return false;
    }
    output.currentSong = song;
    output.nextBlock = 0;
    output.audibleBlock = 0;
    do {
        renderRingBlock(output);
    } while (output.nextBlock != 0);
    publishAudiblePosition(output);
    output.device.playLoop(output.waveOut, output.pcmBuffer,
                           static_cast<uint32_t>(output.ringFrames) * bytesPerFrame);
    output.stopRequested.store(false);
    output.feederExited.store(false);
    try {
        output.feederThread = std::thread(feedOutput, std::ref(output));
    } catch (const std::system_error&) {
        output.feederExited.store(true);
        stopPlayback(output);
        return false;
    }
    return true;
}

void stopSong(OutputDevice& output) {
    stopPlayback(output);
}

int32_t getPlayingOrder(const OutputDevice& output) {
    return output.audiblePosition.load().orderPos;
}

int32_t getPlayingRow(const OutputDevice& output) {
    return output.audiblePosition.load().row;
}

int32_t getPlayingTimeMs(const OutputDevice& output) {
    return output.audiblePosition.load().playTimeMs;
}

}  // namespace xmplayer
