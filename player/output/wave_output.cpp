#include "player/output/wave_output.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <new>
#include <system_error>

#include "player/output/mixer.h"
#include "player/sequencer/channel.h"
#include "player/song/stream.h"

OutputDevice outputDevice{};

namespace {

constexpr int32_t bytesPerFrame = 4;
constexpr int32_t ringMilliseconds = 1000;
constexpr std::size_t mixBufferAlignment = 16;
constexpr std::size_t mixBufferSpare = 256;

// Real-time scheduling needs privileges or an RLIMIT_RTPRIO grant; failing
// both, a lower nice value within RLIMIT_NICE; failing that, the feeder
// simply runs at the priority it was born with.
void raiseFeederPriority() {
    rlimit limit{};
    for (const int policy : {SCHED_FIFO, SCHED_RR}) {
        const int highest = sched_get_priority_max(policy);
        int granted = 0;
        if (getrlimit(RLIMIT_RTPRIO, &limit) == 0) {
            granted = limit.rlim_cur == RLIM_INFINITY
                          ? highest
                          : static_cast<int>(std::min<rlim_t>(limit.rlim_cur, highest));
        }
        for (const int priority : {highest, granted}) {
            if (priority < 1) {
                continue;
            }
            sched_param parameter{};
            parameter.sched_priority = priority;
            if (pthread_setschedparam(pthread_self(), policy, &parameter) == 0) {
                return;
            }
        }
    }
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != 0) {
        // RLIMIT_NICE n allows nice values down to 20 - n.
        const rlim_t ceiling =
            limit.rlim_cur == RLIM_INFINITY ? 40 : std::min<rlim_t>(limit.rlim_cur, 40);
        const int lowestNice = 20 - static_cast<int>(ceiling);
        if (lowestNice < 0) {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), lowestNice);
        }
    }
}

void publishAudiblePosition() {
    outputDevice.audiblePosition.store(outputDevice.blockPositions[outputDevice.audibleBlock]);
}

void releaseRing() {
    delete[] static_cast<std::byte*>(outputDevice.mixBufferMemory);
    outputDevice.mixBufferMemory = nullptr;
    outputDevice.mixBuffer = nullptr;
    delete[] outputDevice.pcmBuffer;
    outputDevice.pcmBuffer = nullptr;
    delete[] outputDevice.blockPositions;
    outputDevice.blockPositions = nullptr;
}

// Ends the feeder, silences the device, then releases the ring; harmless when
// nothing plays.
void stopPlayback() {
    outputDevice.stopRequested.store(true);
    while (outputDevice.rendering.load()) {
        std::this_thread::yield();
    }
    if (outputDevice.feederThread.joinable()) {
        outputDevice.feederThread.join();
    }
    // The device is reset before anything is released, so that a song
    // released right after this is silent before its samples go.
    if (outputDevice.waveOut && outputDevice.pcmBuffer) {
        outputDevice.device.reset(outputDevice.waveOut);
    }
    releaseRing();
    outputDevice.currentSong = nullptr;
    outputDevice.audiblePosition.store(BlockPosition{});
}

bool allocateRing() {
    const int32_t blockCount = ringBlockCount();
    const auto ringValues = static_cast<std::size_t>(outputDevice.ringFrames) * 2;
    outputDevice.blockPositions = new (std::nothrow) BlockPosition[blockCount]();
    outputDevice.pcmBuffer = new (std::nothrow) int16_t[ringValues]();
    auto* memory = new (std::nothrow) std::byte[ringValues * sizeof(float) + mixBufferSpare]();
    outputDevice.mixBufferMemory = memory;
    if (!outputDevice.blockPositions || !outputDevice.pcmBuffer || !memory) {
        return false;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(memory);
    const std::size_t padding =
        (mixBufferAlignment - address % mixBufferAlignment) % mixBufferAlignment;
    outputDevice.mixBuffer = reinterpret_cast<float*>(memory + padding);
    return true;
}

}  // namespace

void rewindSong(Song* song) {
    song->globalVolume = song->initialGlobalVolume;
    song->nextRow = -1;
    song->nextOrder = -1;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPos = 0;
    song->tickFramesLeft = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->playTimeMs = 0;
    if (song->startHook) {
        song->startHook(song);
    }
    setTempo(song, song->defaultTempo);
    // Voices left by earlier playback may still point into a song that has
    // been released since; every start is from silence.
    resetMixer(mixerState.outputRate);
    resetChannels(song);
}

void setWaveDevice(const WaveDevice* device) {
    closeOutputDevice();
    outputDevice.device = device ? *device : WaveDevice{};
}

bool openOutputDevice(int32_t rate, int32_t /*unused*/) {
    if (!streamCallbacksRegistered()) {
        return false;
    }
    closeOutputDevice();
    if (rate < minOutputRate || rate > maxOutputRate || !outputDevice.device.open) {
        return false;
    }
    void* device = outputDevice.device.open(outputDevice.device.context, rate);
    if (!device) {
        return false;
    }
    outputDevice.waveOut = device;
    resetMixer(rate);
    outputDevice.bufferMilliseconds = ringMilliseconds;
    const RingSizes sizes = ringSizesForRate(rate, outputDevice.bufferMilliseconds);
    outputDevice.blockFrames = sizes.blockFrames;
    outputDevice.ringFrames = sizes.ringFrames;
    return true;
}

void closeOutputDevice() {
    stopPlayback();
    if (outputDevice.waveOut) {
        outputDevice.device.reset(outputDevice.waveOut);
        outputDevice.device.close(outputDevice.waveOut);
        outputDevice.waveOut = nullptr;
    }
}

bool playSong(Song* song) {
    if (!song || !outputDevice.waveOut) {
        return false;
    }
    // A song that no loader finished has nothing to tick it.
    if (!song->tickFunction) {
        return false;
    }
    stopPlayback();
    rewindSong(song);
    outputDevice.currentSong = song;
    if (!allocateRing()) {
        stopPlayback();
        return false;
    }
    outputDevice.nextBlock = 0;
    outputDevice.audibleBlock = 0;
    do {
        renderBlock();
    } while (outputDevice.nextBlock != 0);
    publishAudiblePosition();
    outputDevice.device.playLoop(outputDevice.waveOut, outputDevice.pcmBuffer,
                                 static_cast<uint32_t>(outputDevice.ringFrames) * bytesPerFrame);
    outputDevice.stopRequested.store(false);
    outputDevice.rendering.store(false);
    outputDevice.feederExited.store(false);
    try {
        outputDevice.feederThread = std::thread(feedOutput);
    } catch (const std::system_error&) {
        outputDevice.feederExited.store(true);
        stopPlayback();
        return false;
    }
    return true;
}

bool stopSong(Song* song) {
    if (!song) {
        return false;
    }
    stopPlayback();
    return true;
}

int feedOutput() {
    const WaveDevice& device = outputDevice.device;
    if (device.pollMilliseconds > 0) {
        raiseFeederPriority();
    }
    const int32_t blockCount = ringBlockCount();
    const auto ringFrames = static_cast<uint64_t>(outputDevice.ringFrames);
    while (!outputDevice.stopRequested.load()) {
        const uint64_t playingFrame = device.bytesPlayed(outputDevice.waveOut) / bytesPerFrame;
        const auto playingBlock =
            static_cast<int32_t>(playingFrame % ringFrames) / outputDevice.blockFrames;
        while (outputDevice.nextBlock != playingBlock && !outputDevice.stopRequested.load()) {
            outputDevice.rendering.store(true);
            renderBlock();
            outputDevice.audibleBlock = (outputDevice.audibleBlock + 1) % blockCount;
            publishAudiblePosition();
            outputDevice.rendering.store(false);
        }
        if (device.pollMilliseconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(device.pollMilliseconds));
        } else {
            std::this_thread::yield();
        }
    }
    outputDevice.feederExited.store(true);
    return 0;
}
