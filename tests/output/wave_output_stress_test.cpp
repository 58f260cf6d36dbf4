// Playing, stopping, releasing, reopening and asking for the position from
// several threads at once, with the feeder rendering in between, and several
// output devices playing at once, each on its own feeder thread: run under
// ThreadSanitizer, any unsynchronised access between the threads shows up.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/output/wave_output_fixture.h"

using namespace xmplayer;

namespace {

constexpr int cycles = 200;
constexpr int32_t rate = 8000;  // a small ring keeps each start cheap
const TestSongShape shape{2, 16, 3, 125};

// Two control threads take turns, handing over through `turn`: the first
// starts a song, the second ends or restarts playback in one of several ways.
TEST(WaveOutputStress, ControlCallsAndGettersAcrossThreads) {
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    OutputDevice output;
    setWaveDevice(output, &device);
    ASSERT_TRUE(openOutputDevice(output, rate));
    const int32_t blockBytes = output.blockFrames * 4;

    std::atomic<bool> done{false};
    std::atomic<int> turn{0};
    std::atomic<Song*> current{makeTestSong(shape)};
    std::atomic<int> implausible{0};
    std::atomic<long> positionsRead{0};

    // Plays in real time, sixteen times over.
    std::thread soundCard([&] {
        while (!done.load()) {
            clock.bytes.fetch_add(static_cast<uint64_t>(blockBytes) * 2);
            std::this_thread::sleep_for(std::chrono::microseconds(2500));
        }
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const int32_t order = getPlayingOrder(output);
                const int32_t row = getPlayingRow(output);
                const int32_t timeMs = getPlayingTimeMs(output);
                if (order >= shape.patterns || row >= shape.rows || timeMs < 0 || timeMs > 10000) {
                    implausible.fetch_add(1);
                }
                positionsRead.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    std::thread starter([&] {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (int seen = turn.load(); seen != 2 * cycle; seen = turn.load()) {
                waitWhile(turn, seen);
            }
            EXPECT_TRUE(playSong(output, current.load()));
            turn.store(2 * cycle + 1);
        }
    });
    std::thread ender([&] {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (int seen = turn.load(); seen != 2 * cycle + 1; seen = turn.load()) {
                waitWhile(turn, seen);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300 * (cycle % 7)));
            switch (cycle % 5) {
                case 0:
                    stopSong(output);
                    break;
                case 1:
                    stopSong(output);
                    EXPECT_TRUE(freeSong(current.load()));
                    current.store(makeTestSong(shape));
                    break;
                case 2:
                    stopSong(output);
                    stopSong(output);
                    break;
                case 3:
                    EXPECT_TRUE(playSong(output, current.load()));
                    break;
                default:
                    closeOutputDevice(output);
                    EXPECT_TRUE(openOutputDevice(output, rate));
                    break;
            }
            turn.store(2 * cycle + 2);
        }
    });
    starter.join();
    ender.join();
    done.store(true);
    soundCard.join();
    for (std::thread& reader : readers) {
        reader.join();
    }
    closeOutputDevice(output);
    freeSong(current.load());

    EXPECT_EQ(implausible.load(), 0);
    EXPECT_GT(positionsRead.load(), cycles);
    EXPECT_FALSE(clock.polledWhileIdle.load()) << "the feeder polled an idle or closed device";
}

// ---- Output devices playing at once.

// One output device rendering a song through a render device of its own. Its
// feeder hands nothing over before the gate opens, so that devices started one
// after the other all render at the same time.
struct RenderingOutput {
    explicit RenderingOutput(const std::atomic<bool>& openGate) : gate(openGate) {}

    static bool collect(const int16_t* values, uint32_t frameCount, void* context) {
        auto& self = *static_cast<RenderingOutput*>(context);
        waitWhile(self.gate, false);
        self.frames.insert(self.frames.end(), values, values + std::size_t{frameCount} * 2);
        return true;
    }

    const std::atomic<bool>& gate;
    RenderTarget target;
    WaveDevice device = renderWaveDevice(&target);
    OutputDevice output;
    std::vector<int16_t> frames;

    // Starts the render of frameCount frames; the feeder thread runs it.
    bool start(const Song& song, int32_t rate, uint64_t frameCount) {
        setWaveDevice(output, &device);
        target.sink = collect;
        target.sinkContext = this;
        target.frameLimit = frameCount;
        return openOutputDevice(output, rate) && playSong(output, &song);
    }
    void finish() {
        waitWhile(target.finished, false);
        closeOutputDevice(output);
    }
};

std::vector<int16_t> renderAlone(const Song& song, int32_t rate, uint64_t frameCount) {
    const std::atomic<bool> open{true};
    RenderingOutput alone(open);
    if (!alone.start(song, rate, frameCount)) {
        ADD_FAILURE() << "a lone render did not start";
        return {};
    }
    alone.finish();
    return alone.frames;
}

struct SongDeleter {
    void operator()(Song* song) const { freeSong(song); }
};
using SongHandle = std::unique_ptr<Song, SongDeleter>;

// Two devices on two feeder threads, on one shared song and on two different
// songs (one of them the demo's, with effects, envelopes and many voices),
// each at a rate of its own: every output is what the song gives alone.
TEST(WaveOutputStress, OutputDevicesPlayingAtOnceEachSoundAsAlone) {
    const auto demoPath = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    std::string reason;
    const SongHandle demo(loadSongFile(demoPath.string().c_str(), &reason));
    ASSERT_NE(demo, nullptr) << reason;
    const SongHandle small(makeTestSong(shape));
    constexpr int32_t seconds = 3;
    struct Pair {
        const Song* first;
        int32_t firstRate;
        const Song* second;
        int32_t secondRate;
    };
    for (const Pair& pair : {Pair{demo.get(), 44100, demo.get(), 44100},
                             Pair{demo.get(), 22050, small.get(), 48000}}) {
        const uint64_t firstFrames = uint64_t{seconds} * pair.firstRate;
        const uint64_t secondFrames = uint64_t{seconds} * pair.secondRate;
        std::atomic<bool> gate{false};
        RenderingOutput first(gate);
        RenderingOutput second(gate);
        const bool started = first.start(*pair.first, pair.firstRate, firstFrames) &&
                             second.start(*pair.second, pair.secondRate, secondFrames);
        gate.store(true);
        ASSERT_TRUE(started);
        first.finish();
        second.finish();
        ASSERT_EQ(first.frames.size(), 2 * firstFrames);
        ASSERT_EQ(second.frames.size(), 2 * secondFrames);
        EXPECT_TRUE(first.frames == renderAlone(*pair.first, pair.firstRate, firstFrames));
        EXPECT_TRUE(second.frames == renderAlone(*pair.second, pair.secondRate, secondFrames));
    }
}

}  // namespace
