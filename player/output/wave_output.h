// The wave-output driver: one device playing one looping ring of 16-bit stereo
// PCM, kept filled by a feeder thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "player/output/block_render.h"
#include "player/output/wave_device.h"
#include "player/song/song.h"

struct OutputDevice {
    void* waveOut;       // the open device; null before the first open
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
    WaveDevice device;  // the registered device; waveOut is its open handle
    // A copy of blockPositions[audibleBlock], published by whichever thread
    // moves audibleBlock, so that the position getters may run on any thread
    // without reading records the feeder is rewriting; zero while stopped.
    std::atomic<BlockPosition> audiblePosition;
};

extern OutputDevice outputDevice;

inline int32_t ringBlockCount() {
    return outputDevice.blockFrames > 0 ? outputDevice.ringFrames / outputDevice.blockFrames : 0;
}

// Rates outside these bounds are refused by openOutputDevice: below the
// minimum a volume ramp would be shorter than one frame, and far above any
// real sound card the ring's byte size would no longer fit its 32-bit count.
constexpr int32_t minOutputRate = 1000;
constexpr int32_t maxOutputRate = 384000;

bool openOutputDevice(int32_t rate, int32_t unused);
// Stops any playback first, so that the feeder never polls a closed device.
void closeOutputDevice();
bool playSong(Song* song);
bool stopSong(Song* song);

// Puts a song at its start as playSong does before the first block: the
// playing state reset, the start hook called, the default tempo set, every
// voice silent and the channels cleared. Whatever renders a song without the
// output device calls it after resetMixer.
void rewindSong(Song* song);

// The feeder thread's procedure, started by playSong.
int feedOutput();
