// The wave-output driver: one device playing one looping ring of 16-bit stereo
// PCM, kept filled by a feeder thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "player/output/block_render.h"
#include "player/song/song.h"

struct OutputDevice {
    void* waveOut;  // the open device; null before the first open
    int16_t* pcmBuffer;  // the ring: ringFrames frames of left, right
    int32_t bufferMilliseconds;
    int32_t blockFrames;
    int32_t ringFrames;
    void* mixBufferMemory;
    float* mixBuffer;  // two floats per frame, aligned to 16 bytes
    BlockPosition* blockPositions;
    int32_t nextBlock;
    int32_t audibleBlock;
    Song* currentSong;
    std::thread feederThread;
    std::atomic<bool> stopRequested;
    std::atomic<bool> rendering;
    std::atomic<bool> feederExited{true};
};

extern OutputDevice outputDevice;

inline int32_t ringBlockCount() {
    return outputDevice.blockFrames > 0 ? outputDevice.ringFrames / outputDevice.blockFrames : 0;
}

bool openOutputDevice(int32_t rate, int32_t unused);
void closeOutputDevice();
bool playSong(Song* song);
bool stopSong(Song* song);
