// Plays an XM file through the installed player on a device of its own, which
// plays nothing: it takes the ring as fast as the player fills it, counts the
// bytes a sound card would have played and notes their peak level. Follows
// the position of the music being heard for ten seconds of the song. The
// README's library example is this program without its checks: keep the two
// in step.
//
//   consumer SONG.xm

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "player/player.h"

namespace {

struct CountingDevice {
    const int16_t* ring;
    uint32_t ringBytes;
    uint64_t position;     // bytes since playCounter, as a sound card counts them
    uint64_t bytesPlayed;  // over the whole run
    int peakLevel;
};

void* openCounter(void* context, int32_t /*rate*/) {
    return context;
}

void playCounter(void* device, const int16_t* ring, uint32_t byteCount) {
    auto& counter = *static_cast<CountingDevice*>(device);
    counter.ring = ring;
    counter.ringBytes = byteCount;
    counter.position = 0;
}

// Called by the player's feeder thread. Up to a quarter of the ring ahead of
// the position last reported, the ring holds the music due there, so each
// call "plays" that much and notes its peak.
uint64_t countPlayed(void* device) {
    auto& counter = *static_cast<CountingDevice*>(device);
    if (counter.ring == nullptr) {
        return counter.position;
    }
    const uint32_t quarterBytes = counter.ringBytes / 16 * 4;  // whole frames
    const uint32_t ringValues = counter.ringBytes / 2;
    const uint64_t firstValue = counter.position / 2;
    for (uint64_t value = firstValue; value < firstValue + quarterBytes / 2; ++value) {
        counter.peakLevel = std::max(counter.peakLevel, std::abs(counter.ring[value % ringValues]));
    }
    counter.position += quarterBytes;
    counter.bytesPlayed += quarterBytes;
    return counter.position;
}

void resetCounter(void* device) {
    auto& counter = *static_cast<CountingDevice*>(device);
    counter.ring = nullptr;
    counter.position = 0;
}

void closeCounter(void* /*device*/) {}

int fail(const char* message) {
    std::fprintf(stderr, "consumer: %s\n", message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: consumer SONG.xm\n", stderr);
        return 2;
    }

    // Every byte of a song is read through five stream callbacks; the
    // player's own file stream takes the name given to loadSong as a path.
    setStreamCallbacks(openFileStream, closeFileStream, readFileStream, seekFileStream,
                       tellFileStream);
    CountingDevice counter{};
    // The last field, 0: no pause between two looks at the play position.
    const WaveDevice device{
        openCounter, playCounter, countPlayed, resetCounter, closeCounter, &counter, 0};
    setWaveDevice(&device);
    if (!openOutputDevice(44100, 0)) {
        return fail("cannot open the output device");
    }
    Song* song = loadSong(argv[1], nullptr);
    if (song == nullptr) {
        closeOutputDevice();
        return fail("cannot load the song");
    }
    std::printf("%d channels, %d orders, %d instruments\n", song->channelCount, song->songLength,
                song->instrumentCount);
    if (!playSong(song)) {
        freeSong(song);
        closeOutputDevice();
        return fail("cannot play the song");
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int32_t lastOrder = -1;
    int32_t lastTimeMs = 0;
    int orderChanges = 0;
    bool ok = true;
    while (ok && getPlayingTimeMs(song) < 10000) {
        const int32_t order = getPlayingOrder(song);
        const int32_t row = getPlayingRow(song);
        const int32_t timeMs = getPlayingTimeMs(song);
        if (order != lastOrder) {
            std::printf("order %d, row %d at %d ms\n", order, row, timeMs);
            lastOrder = order;
            ++orderChanges;
        }
        ok = timeMs >= lastTimeMs && order < song->songLength &&
             std::chrono::steady_clock::now() < deadline;
        lastTimeMs = timeMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool stopped = stopSong(song);
    const bool freed = freeSong(song);  // would also have stopped the song
    closeOutputDevice();

    std::printf("%llu bytes played, peak level %d\n",
                static_cast<unsigned long long>(counter.bytesPlayed), counter.peakLevel);
    if (!ok) {
        return fail("the position went backwards, out of the song, or stood still");
    }
    if (!stopped || !freed) {
        return fail("stopping or releasing the song failed");
    }
    if (orderChanges < 2 || counter.peakLevel == 0) {
        return fail("ten seconds of the song went by without a change of order or a sound");
    }
    return 0;
}
