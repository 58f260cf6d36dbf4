// Every kernel set the processor can run against the scalar reference, which
// defines the arithmetic: single runs with awkward lengths, positions and
// gains, the PCM conversion at its edges, and whole songs rendered by the
// rendering core from their start, where a difference in one bit of one frame
// fails the test.
#include "player/mixer/mix_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "player/playback/playback.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/corpus.h"

using namespace xmplayer;

namespace {

std::vector<const MixKernels*> kernelSets() {
    const auto supported = supportedMixKernels();
    return {supported.begin(), supported.end()};
}

std::string kernelName(const ::testing::TestParamInfo<const MixKernels*>& info) {
    return info.param->name;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class KernelSetTest : public ::testing::TestWithParam<const MixKernels*> {};

// Random sample values with the spare value before them and room after.
std::vector<int16_t> randomValues(std::mt19937& random, size_t count) {
    std::vector<int16_t> values(count);
    for (auto& value : values) {
        value = static_cast<int16_t>(random());
    }
    // The extremes make the largest differences between neighbours.
    values[3] = std::numeric_limits<int16_t>::min();
    values[4] = std::numeric_limits<int16_t>::max();
    return values;
}

// A buffer that already holds other voices' sums, or a cleared one.
std::vector<float> startingBuffer(std::mt19937& random, int32_t frames, bool cleared) {
    std::vector<float> buffer(2 * static_cast<size_t>(frames), 0.0f);
    if (!cleared) {
        for (auto& value : buffer) {
            value = static_cast<float>(static_cast<int32_t>(random() % 400001) - 200000) / 3.0f;
        }
    }
    return buffer;
}

// A run that reads only inside `values`: its data starts at the second value,
// so that the spare value before the data is there too.
MixRun randomRun(std::mt19937& random, const std::vector<int16_t>& values, int32_t frames) {
    const bool backward = random() % 2 == 1;
    // Steps from a crawl to many values per frame, with random fractions.
    const uint64_t step = (uint64_t{random() % (random() % 4 == 0 ? 40u : 3u)} << 32) | random();
    const uint64_t span = step * static_cast<uint64_t>(frames);
    const uint64_t room = (uint64_t{values.size() - 4} << 32) - span;
    const uint64_t offset = ((uint64_t{random()} << 32) | random()) % room;
    return {values.data() + 1, backward ? offset + span : offset,
            backward ? uint64_t{0} - step : step, frames, values.data() + values.size()};
}

TEST_P(KernelSetTest, SteadyRunsMatchTheReference) {
    std::mt19937 random(5);
    const std::vector<int16_t> values = randomValues(random, 80000);
    for (int trial = 0; trial < 4000; ++trial) {
        // Every short length, where the vector kernels' leftover frames lie.
        const auto frames = static_cast<int32_t>(trial < 400 ? 1 + trial % 20 : 1 + random() % 900);
        const MixRun run = randomRun(random, values, frames);
        const auto gainLeft = static_cast<float>((random() % 256) / 255.0);
        const auto gainRight = static_cast<float>((random() % 256) / 255.0);
        std::vector<float> expected = startingBuffer(random, frames, trial % 3 == 0);
        std::vector<float> actual = expected;
        const uint64_t expectedEnd = mixSteadyReference(expected.data(), run, gainLeft, gainRight);
        const uint64_t actualEnd = GetParam()->steady(actual.data(), run, gainLeft, gainRight);
        ASSERT_EQ(actualEnd, expectedEnd) << "trial " << trial;
        ASSERT_TRUE(sameBits(actual, expected)) << "trial " << trial << ", " << frames << " frames";
    }
}

TEST_P(KernelSetTest, RampRunsMatchTheReferenceAndEndAtTheSameGains) {
    std::mt19937 random(6);
    const std::vector<int16_t> values = randomValues(random, 80000);
    for (int trial = 0; trial < 4000; ++trial) {
        const auto frames = static_cast<int32_t>(trial < 400 ? 1 + trial % 20 : 1 + random() % 300);
        const MixRun run = randomRun(random, values, frames);
        // Ramps up, down and flat on either side, as the mixer sets them up.
        const auto from = static_cast<float>((random() % (255 * 256)) / (255.0 * 256.0));
        const auto to = static_cast<float>((random() % 256) / 255.0);
        const auto step = static_cast<float>((to - from) / 128.0);
        RampGains expectedGains{from, to, step, random() % 4 == 0 ? 0.0f : -step};
        RampGains actualGains = expectedGains;
        std::vector<float> expected = startingBuffer(random, frames, trial % 3 == 0);
        std::vector<float> actual = expected;
        const uint64_t expectedEnd = mixRampReference(expected.data(), run, expectedGains);
        const uint64_t actualEnd = GetParam()->ramp(actual.data(), run, actualGains);
        ASSERT_EQ(actualEnd, expectedEnd) << "trial " << trial;
        ASSERT_TRUE(sameBits(actual, expected)) << "trial " << trial << ", " << frames << " frames";
        ASSERT_EQ(std::memcmp(&actualGains, &expectedGains, sizeof(RampGains)), 0)
            << "trial " << trial;
    }
}

TEST_P(KernelSetTest, PcmConversionMatchesTheReferenceAtItsEdges) {
    const float infinity = std::numeric_limits<float>::infinity();
    std::vector<float> values{0.0f,      -0.0f,     0.5f,      1.5f,      2.5f,       -0.5f,
                              -1.5f,     -2.5f,     32766.5f,  32767.0f,  32767.5f,   32768.0f,
                              -32768.0f, -32768.5f, -32769.0f, 1e9f,      -1e9f,      infinity,
                              -infinity, 1e-40f,    -1e-40f,   12345.49f, -12345.51f, 100.5f,
                              101.5f,    -32767.5f, 65536.0f,  -65536.5f, 0.49999997f};
    values.push_back(std::numeric_limits<float>::quiet_NaN());
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) {
        const auto whole = static_cast<float>(static_cast<int32_t>(random() % 80001) - 40000);
        // Halves test the ties; the rest of the range tests rounding.
        values.push_back(i % 2 == 0 ? whole + 0.5f
                                    : whole + static_cast<float>(random() % 1000) / 1000.0f);
    }
    // Every count up to 40 values, so that each leftover length is met.
    for (size_t count = 1; count <= 40; ++count) {
        for (size_t first = 0; first + count <= 80; first += count) {
            std::vector<int16_t> expected(count, 0x5555);
            std::vector<int16_t> actual = expected;
            toPcm16Reference(expected.data(), values.data() + first, static_cast<int64_t>(count));
            GetParam()->toPcm16(actual.data(), values.data() + first, static_cast<int64_t>(count));
            ASSERT_EQ(actual, expected) << count << " values from " << first;
        }
    }
    std::vector<int16_t> expected(values.size());
    std::vector<int16_t> actual(values.size());
    toPcm16Reference(expected.data(), values.data(), static_cast<int64_t>(values.size()));
    GetParam()->toPcm16(actual.data(), values.data(), static_cast<int64_t>(values.size()));
    EXPECT_EQ(actual, expected);
}

// Runs that read up to the last readable value or down to the spare one
// before the data, in values that end right there, with steps on either side
// of the sizes where a kernel changes its way of reading (two and four values
// per frame) and every short length: a kernel reading past either end, or
// into the wrong window, fails here (and under AddressSanitizer).
TEST_P(KernelSetTest, RunsAtTheEndsOfTheReadableValuesMatchTheReference) {
    constexpr size_t valueCount = 700;  // data[-1] to data[698]
    std::mt19937 random(8);
    const std::vector<int16_t> values = randomValues(random, valueCount);
    const int16_t* const data = values.data() + 1;
    const int16_t* const end = values.data() + valueCount;
    const uint64_t steps[] = {0,
                              1,
                              0x9A000000,
                              (uint64_t{1} << 32) + 0x12345,
                              (uint64_t{2} << 32) - 1,
                              uint64_t{2} << 32,
                              (uint64_t{3} << 32) + 0x7FFFFFFF,
                              (uint64_t{4} << 32) - 1,
                              uint64_t{4} << 32,
                              (uint64_t{9} << 32) + 0x40000000};
    for (const uint64_t step : steps) {
        for (int32_t frames = 1; frames <= 40; ++frames) {
            for (const bool backward : {false, true}) {
                // The extreme frame reads index and index + 1: the last two
                // readable values, or the spare one and data[0].
                const uint64_t fraction = random();
                const uint64_t extreme = backward ? (uint64_t{0xFFFFFFFF} << 32) | fraction
                                                  : (uint64_t{valueCount - 3} << 32) | fraction;
                const uint64_t span = step * static_cast<uint64_t>(frames - 1);
                const MixRun run{data, backward ? extreme + span : extreme - span,
                                 backward ? uint64_t{0} - step : step, frames, end};
                SCOPED_TRACE(testing::Message()
                             << "step " << std::hex << step << std::dec << ", " << frames
                             << " frames" << (backward ? " backward" : ""));
                const auto gainLeft = static_cast<float>((random() % 256) / 255.0);
                const float gainRight = 1.0f;
                std::vector<float> expected = startingBuffer(random, frames, false);
                std::vector<float> actual = expected;
                ASSERT_EQ(GetParam()->steady(actual.data(), run, gainLeft, gainRight),
                          mixSteadyReference(expected.data(), run, gainLeft, gainRight));
                ASSERT_TRUE(sameBits(actual, expected));
                RampGains expectedGains{0.25f, 0.75f, 0.001f, -0.003f};
                RampGains actualGains = expectedGains;
                ASSERT_EQ(GetParam()->ramp(actual.data(), run, actualGains),
                          mixRampReference(expected.data(), run, expectedGains));
                ASSERT_TRUE(sameBits(actual, expected));
                ASSERT_EQ(std::memcmp(&actualGains, &expectedGains, sizeof(RampGains)), 0);
            }
        }
    }
}

// Ramps whose single-precision steps behave unevenly: from and to zero
// (through many binades), across a power of two, steps that tie with half a
// unit of the gain (rounding to even), steps too small to move the gain,
// negative and signed-zero gains and steps, and gains above 1.
TEST_P(KernelSetTest, RampsOfUnevenStepsEndAtTheReferencesGains) {
    const float halfUnitOfOne = std::ldexp(1.0f, -24);
    const RampGains ramps[] = {
        {0.0f, 0.0f, 0.5f / 128, 0.25f / 128},
        {0.5f, 1.0f, -0.5f / 128, -1.0f / 128},
        {0.24f, 0.26f, 0.01f / 128, -0.01f / 128},
        {1.0f, std::nextafter(1.0f, 2.0f), halfUnitOfOne, halfUnitOfOne},
        {std::nextafter(1.0f, 2.0f), 1.5f, halfUnitOfOne * 3, -halfUnitOfOne},
        {0.7f, 0.3f, 1e-12f, -1e-12f},
        {-0.0f, 0.0f, -0.0f, 0.0f},
        {-0.0f, 0.1f, 0.001f, -0.001f},
        {-0.2f, 0.2f, 0.004f, -0.004f},
        {3.9f, 2.0f, 0.01f, 0.015f},
    };
    std::mt19937 random(9);
    const std::vector<int16_t> values = randomValues(random, 80000);
    for (const RampGains& ramp : ramps) {
        for (const int32_t frames : {1, 2, 7, 15, 16, 17, 31, 33, 64, 100, 128, 129, 300}) {
            SCOPED_TRACE(testing::Message()
                         << "from " << ramp.left << ", " << ramp.right << " by " << ramp.stepLeft
                         << ", " << ramp.stepRight << ", " << frames << " frames");
            const MixRun run = randomRun(random, values, frames);
            std::vector<float> expected = startingBuffer(random, frames, true);
            std::vector<float> actual = expected;
            RampGains expectedGains = ramp;
            RampGains actualGains = ramp;
            mixRampReference(expected.data(), run, expectedGains);
            GetParam()->ramp(actual.data(), run, actualGains);
            ASSERT_TRUE(sameBits(actual, expected));
            ASSERT_EQ(std::memcmp(&actualGains, &expectedGains, sizeof(RampGains)), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, KernelSetTest, ::testing::ValuesIn(kernelSets()), kernelName);

TEST(KernelSelection, TheReferenceComesFirstAndTheFastestSupportedSetIsUsed) {
    const auto supported = supportedMixKernels();
    ASSERT_FALSE(supported.empty());
    EXPECT_EQ(supported.front(), &referenceMixKernels);
    EXPECT_EQ(&selectedMixKernels(), supported.back());
#if defined(__x86_64__)
    EXPECT_EQ(supported[1], &sse2MixKernels);
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    const bool avx512 =
        avx2 && __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0 &&
        __builtin_cpu_supports("avx512vl") != 0 && __builtin_cpu_supports("avx512bw") != 0;
    EXPECT_EQ(supported.size(), 2u + (avx2 ? 1u : 0u) + (avx512 ? 1u : 0u));
    if (avx2) {
        EXPECT_EQ(supported[2], &avx2MixKernels);
    }
    if (avx512) {
        EXPECT_EQ(supported[3], &avx512MixKernels);
    }
#endif
}

// ---- Whole songs.

constexpr int32_t songRate = 44100;
constexpr int32_t songBlocks = 10 * songRate / blockFramesForRate(songRate);

// The song's first seconds as the rendering core plays them, block by block,
// with the given kernel set. A song is only read while it plays, so one
// loaded song serves every set.
std::vector<int16_t> renderSong(const Song& song, const MixKernels& kernels) {
    const int32_t blockFrames = blockFramesForRate(songRate);
    auto playback = std::make_unique<Playback>();
    if (!startPlayback(*playback, song, songRate, ownRules)) {
        ADD_FAILURE() << "the playback did not start";
        return {};
    }
    playback->kernels = &kernels;
    std::vector<float> mix(2 * static_cast<size_t>(blockFrames));
    std::vector<int16_t> pcm(2 * static_cast<size_t>(blockFrames) * songBlocks);
    for (int32_t block = 0; block < songBlocks; ++block) {
        renderBlock(*playback, mix.data(),
                    pcm.data() + 2 * static_cast<size_t>(blockFrames) * block, blockFrames);
    }
    return pcm;
}

TEST(KernelSetSongs, EverySetRendersEverySongToTheSameBitsAsTheReference) {
    SKIP_WITHOUT_CORPUS("songs");
    int64_t comparedSongs = 0;
    int64_t soundingSongs = 0;
    for (const auto& path : corpusAndDemoSongs()) {
        SCOPED_TRACE(path.filename().string());
        std::string reason;
        Song* song = loadSongFile(path.string().c_str(), &reason);
        ASSERT_NE(song, nullptr) << reason;
        const std::vector<int16_t> expected = renderSong(*song, referenceMixKernels);
        soundingSongs +=
            std::any_of(expected.begin(), expected.end(), [](int16_t value) { return value != 0; });
        for (const MixKernels* kernels : supportedMixKernels()) {
            const std::vector<int16_t> actual = renderSong(*song, *kernels);
            ASSERT_EQ(actual.size(), expected.size()) << kernels->name;
            const auto mismatch =
                std::mismatch(actual.begin(), actual.end(), expected.begin()).first;
            EXPECT_EQ(mismatch, actual.end())
                << kernels->name << " differs first at frame " << (mismatch - actual.begin()) / 2;
        }
        freeSong(song);
        ++comparedSongs;
    }
    EXPECT_GE(comparedSongs, 2);
    // A mixer that adds nothing would pass the comparison.
    EXPECT_GT(soundingSongs, comparedSongs / 2);
}

}  // namespace
