// Playback must not touch the heap: a block is rendered on a thread that may
// run at real-time priority, where waiting on the allocator's lock or for the
// system to hand out pages would be heard. This executable puts its own C
// allocator in front of the system's (operator new goes through it as well)
// and counts every allocation made while playback runs: in the rendering
// core, on the output driver's feeder thread, and in the pull API's calls,
// which an application makes from its own audio callback.
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
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "player/output/wave_output.h"
#include "player/playback/playback.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/corpus.h"
#include "tests/output/wave_output_fixture.h"

using namespace xmplayer;

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
    const int32_t blockFrames = blockFramesForRate(rate);
    std::vector<float> mix(2 * static_cast<size_t>(blockFrames));
    std::vector<int16_t> pcm(mix.size());
    std::vector<RowMark> marks(static_cast<size_t>(blockFrames) + 1);
    int32_t songs = 0;
    for (const auto& path : corpusAndDemoSongs()) {
        std::string reason;
        Song* song = loadSongFile(path.string().c_str(), &reason);
        ASSERT_NE(song, nullptr) << path << ": " << reason;
        auto playback = std::make_unique<Playback>();
        ASSERT_TRUE(startPlayback(*playback, *song, rate, ownRules));
        const int32_t blocks = 180 * rate / blockFrames;
        int32_t markCount = 0;
        AllocationWatch watch(true);
        for (int32_t block = 0; block < blocks; ++block) {
            renderBlock(*playback, mix.data(), pcm.data(), blockFrames, marks.data(), &markCount);
        }
        rewindPlayback(*playback);
        renderBlock(*playback, mix.data(), pcm.data(), blockFrames);
        EXPECT_EQ(watch.stop(), 0) << path.filename();
        playback.reset();
        freeSong(song);
        ++songs;
    }
    EXPECT_GE(songs, 1);
}

// The pull API from createPlayer on: pieces of every size from one frame to
// several blocks, 16-bit and float, the position asked after each, and a
// restart, over a minute of every song.
TEST(NoAllocation, PullingFramesFromAPlayerAllocatesNothing) {
    if (!allocationsCounted) {
        GTEST_SKIP() << uncountedReason;
    }
    constexpr int32_t largestPiece = 4000;
    const int32_t pieces[] = {1, 1024, 883, 885, largestPiece, 7, 2048, 441};
    std::vector<int16_t> frames(2 * largestPiece);
    std::vector<float> floats(2 * largestPiece);
    int32_t songs = 0;
    for (const auto& path : corpusAndDemoSongs()) {
        std::string reason;
        Song* song = loadSongFile(path.string().c_str(), &reason);
        ASSERT_NE(song, nullptr) << path << ": " << reason;
        Player* player = createPlayer(*song, rate);
        ASSERT_NE(player, nullptr) << path;
        int64_t rendered = 0;
        int64_t positions = 0;
        AllocationWatch watch(true);
        for (int32_t piece = 0; rendered < int64_t{60} * rate; ++piece) {
            const int32_t count = pieces[piece % std::size(pieces)];
            if (piece % 2 == 0) {
                renderFrames(*player, frames.data(), count);
            } else {
                renderFloatFrames(*player, floats.data(), count);
            }
            positions += renderedPosition(*player).milliseconds;
            rendered += count;
        }
        restartPlayer(*player);
        renderFrames(*player, frames.data(), largestPiece);
        EXPECT_EQ(watch.stop(), 0) << path.filename();
        EXPECT_GT(positions, 0);
        destroyPlayer(player);
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
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    OutputDevice output;
    setWaveDevice(output, &device);
    ASSERT_TRUE(openOutputDevice(output, rate));
    const auto path = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    Song* song = loadSongFile(path.string().c_str());
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(playSong(output, song));
    {
        AllocationWatch watch(false);
        for (uint64_t frames = 0; frames <= uint64_t{60} * rate; frames += rate / 10) {
            advanceClockTo(clock, frames);
        }
        EXPECT_EQ(watch.stop(), 0);
    }
    // The feeder did play: the heard position moved on.
    EXPECT_GT(getPlayingTimeMs(output), 55'000);
    stopSong(output);
    closeOutputDevice(output);
    freeSong(song);
}

}  // namespace
