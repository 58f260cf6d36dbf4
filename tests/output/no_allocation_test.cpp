// Playback must not touch the heap: a block is rendered on a thread that may
// run at real-time priority, where waiting on the allocator's lock or for the
// system to hand out pages would be heard. This executable puts its own C
// allocator in front of the system's (operator new goes through it as well)
// and counts every allocation made while playback runs.
//
// The sanitizers bring their own allocators, which this one would bypass; in
// sanitizer builds the counting is left out and the tests say so.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player/output/block_render.h"
#include "player/output/mixer.h"
#include "player/output/wave_output.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "tests/corpus.h"
#include "tests/output/test_ring.h"
#include "tests/output/wave_output_fixture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOCATIONS_UNCOUNTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define ALLOCATIONS_UNCOUNTED 1
#endif
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};
// The thread that drives a test may allocate (it waits, it asserts); the
// counts that matter are those of the threads playing the song.
thread_local bool onDrivingThread = false;
bool countDrivingThread = true;

// Unused in sanitizer builds, where the allocator below is left out.
[[maybe_unused]] void noteAllocation() {
    if (counting.load(std::memory_order_relaxed) && (countDrivingThread || !onDrivingThread)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace

#if !defined(ALLOCATIONS_UNCOUNTED)
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) noexcept {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
    noteAllocation();
    return __libc_realloc(pointer, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* memalign(size_t alignment, size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
    noteAllocation();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}
void free(void* pointer) noexcept {
    __libc_free(pointer);
}
}
#endif

namespace {

constexpr int32_t rate = 44100;

#if defined(ALLOCATIONS_UNCOUNTED)
constexpr bool allocationsCounted = false;
#else
constexpr bool allocationsCounted = true;
#endif
constexpr const char* uncountedReason =
    "a sanitizer's allocator is in place; allocations are counted in plain builds";

// Counts allocations from construction to destruction.
class AllocationWatch {
  public:
    explicit AllocationWatch(bool includeThisThread) {
        onDrivingThread = true;
        countDrivingThread = includeThisThread;
        allocations.store(0);
        counting.store(true);
    }
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    ~AllocationWatch() { stop(); }
    int64_t stop() {
        counting.store(false);
        return allocations.load();
    }
};

// Every song, three minutes each: long enough to meet every pattern of the
// corpus songs, their loops and restarts, and the effects' edge cases.
TEST(NoAllocation, RenderingBlocksOfEverySongAllocatesNothing) {
    if (!allocationsCounted) {
        GTEST_SKIP() << uncountedReason;
    }
    registerFileStream();
    int32_t songs = 0;
    for (const auto& path : corpusAndDemoSongs()) {
        std::string reason;
        Song* song = loadSong(path.string().c_str(), nullptr, &reason);
        ASSERT_NE(song, nullptr) << path << ": " << reason;
        {
            TestRing ring(rate);
            resetMixer(rate);
            rewindSong(song);
            outputDevice.currentSong = song;
            const int32_t blocks = 180 * rate / outputDevice.blockFrames;
            AllocationWatch watch(true);
            for (int32_t block = 0; block < blocks; ++block) {
                renderBlock();
            }
            EXPECT_EQ(watch.stop(), 0) << path.filename();
            outputDevice.currentSong = nullptr;
        }
        resetMixer(rate);
        freeSong(song);
        ++songs;
    }
    EXPECT_GE(songs, 1);
}

// The whole driver: once playSong has returned, its feeder thread keeps the
// ring filled for a minute of playback without allocating.
TEST(NoAllocation, TheFeederThreadAllocatesNothingWhilePlaying) {
    if (!allocationsCounted) {
        GTEST_SKIP() << uncountedReason;
    }
    registerFileStream();
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    setWaveDevice(&device);
    ASSERT_TRUE(openOutputDevice(rate, 0));
    const auto path = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    Song* song = loadSong(path.string().c_str(), nullptr);
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(playSong(song));
    {
        AllocationWatch watch(false);
        for (uint64_t frames = 0; frames <= uint64_t{60} * rate; frames += rate / 10) {
            advanceClockTo(clock, frames);
        }
        EXPECT_EQ(watch.stop(), 0);
    }
    // The feeder did play: the heard position moved on.
    EXPECT_GT(getPlayingTimeMs(song), 55'000);
    stopSong(song);
    freeSong(song);
    closeOutputDevice();
    setWaveDevice(nullptr);
}

}  // namespace
