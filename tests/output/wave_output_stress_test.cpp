// Playing, stopping, releasing, reopening and asking for the position from
// several threads at once, with the feeder rendering in between: run under
// ThreadSanitizer, any unsynchronised access between the threads shows up.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "player/output/wave_output.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "tests/output/wave_output_fixture.h"

namespace {

constexpr int cycles = 200;
constexpr int32_t rate = 8000;  // a small ring keeps each start cheap
const TestSongShape shape{2, 16, 3, 125};

// Two control threads take turns, handing over through `turn`: the first
// starts a song, the second ends or restarts playback in one of several ways.
TEST(WaveOutputStress, ControlCallsAndGettersAcrossThreads) {
    registerFileStream();
    ClockDevice clock;
    const WaveDevice device = clockWaveDevice(&clock);
    setWaveDevice(&device);
    ASSERT_TRUE(openOutputDevice(rate, 0));
    const int32_t blockBytes = outputDevice.blockFrames * 4;

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
    // The getters only look at whether the song pointer is null, so any
    // non-null pointer will do, even one of a song released meanwhile.
    Song* anySong = makeTestSong(shape);
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const int32_t order = getPlayingOrder(anySong);
                const int32_t row = getPlayingRow(anySong);
                const int32_t timeMs = getPlayingTimeMs(anySong);
                if (order >= shape.patterns || row >= shape.rows || timeMs < 0 || timeMs > 10000) {
                    implausible.fetch_add(1);
                }
                if (getPlayingOrder(nullptr) != 0 || getPlayingTimeMs(nullptr) != 0) {
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
                turn.wait(seen);
            }
            EXPECT_TRUE(playSong(current.load()));
            turn.store(2 * cycle + 1);
            turn.notify_all();
        }
    });
    std::thread ender([&] {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (int seen = turn.load(); seen != 2 * cycle + 1; seen = turn.load()) {
                turn.wait(seen);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300 * (cycle % 7)));
            switch (cycle % 5) {
                case 0:
                    EXPECT_TRUE(stopSong(current.load()));
                    break;
                case 1:
                    EXPECT_TRUE(freeSong(current.load()));
                    current.store(makeTestSong(shape));
                    break;
                case 2:
                    EXPECT_TRUE(stopSong(current.load()));
                    EXPECT_TRUE(stopSong(current.load()));
                    break;
                case 3:
                    EXPECT_TRUE(playSong(current.load()));
                    break;
                default:
                    closeOutputDevice();
                    EXPECT_TRUE(openOutputDevice(rate, 0));
                    break;
            }
            turn.store(2 * cycle + 2);
            turn.notify_all();
        }
    });
    starter.join();
    ender.join();
    done.store(true);
    soundCard.join();
    for (std::thread& reader : readers) {
        reader.join();
    }
    freeSong(current.load());
    closeOutputDevice();
    setWaveDevice(nullptr);
    freeSong(anySong);

    EXPECT_EQ(implausible.load(), 0);
    EXPECT_GT(positionsRead.load(), cycles);
    EXPECT_FALSE(clock.polledWhileIdle.load()) << "the feeder polled an idle or closed device";
}

}  // namespace
