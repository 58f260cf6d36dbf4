// Plays every song and effect file of the shared corpus for a minute through
// the rendering core, block by block as a player renders. Run under the
// sanitizers this finds any unsafe read or arithmetic fault that real songs
// reach; the songs must also sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "player/playback/playback.h"
#include "player/song/file_stream.h"
#include "player/song/song_loading.h"
#include "tests/corpus.h"

using namespace xmplayer;

namespace {

constexpr int32_t outputRate = 44100;
constexpr int64_t playedFrames = int64_t{60} * outputRate;
constexpr float fullScale = 32767.0f;

struct PlaybackFigures {
    int64_t frames = 0;
    int64_t clippedValues = 0;
    double sumOfSquares = 0.0;
    float peak = 0.0f;

    double rms() const { return std::sqrt(sumOfSquares / (2.0 * static_cast<double>(frames))); }
    double clippedShare() const {
        return static_cast<double>(clippedValues) / (2.0 * static_cast<double>(frames));
    }
};

// Shown in the test's XML report (--gtest_output=xml).
void recordFigures(const PlaybackFigures& figures) {
    ::testing::Test::RecordProperty("rms", std::to_string(figures.rms()));
    ::testing::Test::RecordProperty("peak", std::to_string(figures.peak));
    ::testing::Test::RecordProperty("clippedShare", std::to_string(figures.clippedShare()));
}

// Renders the song from its start, block after block, until a minute is
// done, and measures the mix before its 16-bit conversion.
PlaybackFigures play(const Song& song) {
    PlaybackFigures figures;
    const auto playback = std::make_unique<Playback>();
    if (!startPlayback(*playback, song, outputRate, ownRules)) {
        ADD_FAILURE() << "the playback could not start";
        return figures;
    }
    const int32_t frames = blockFramesForRate(outputRate);
    std::vector<float> buffer(static_cast<size_t>(frames) * 2);
    while (figures.frames < playedFrames) {
        renderBlock(*playback, buffer.data(), nullptr, frames);
        for (const float value : buffer) {
            figures.sumOfSquares += static_cast<double>(value) * value;
            figures.peak = std::max(figures.peak, std::fabs(value));
            figures.clippedValues += std::fabs(value) > fullScale ? 1 : 0;
        }
        figures.frames += frames;
    }
    return figures;
}

// The corpus files of a folder, or one empty path that makes the test skip
// with a clear message when the corpus is absent.
std::vector<std::filesystem::path> filesOrAbsent(const std::string& folder) {
    std::vector<std::filesystem::path> files = corpusFiles(folder);
    if (files.empty()) {
        files.emplace_back();
    }
    return files;
}

std::string testName(const ::testing::TestParamInfo<std::filesystem::path>& info) {
    std::string name = info.param.empty() ? "absent" : info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

Song* loadCorpusSong(const std::filesystem::path& path) {
    return loadSong(fileStreamCallbacks(), path.string().c_str(), nullptr, nullptr);
}

class CorpusSong : public ::testing::TestWithParam<std::filesystem::path> {};
class CorpusEffect : public ::testing::TestWithParam<std::filesystem::path> {};
class CorpusMalformed : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(CorpusSong, PlaysAMinuteAudiblyWithoutConstantClipping) {
    SKIP_WITHOUT_CORPUS("songs");
    Song* song = loadCorpusSong(GetParam());
    ASSERT_NE(song, nullptr) << GetParam();
    const PlaybackFigures figures = play(*song);
    freeSong(song);

    const double rms = figures.rms();
    const double clippedShare = figures.clippedShare();
    recordFigures(figures);
    EXPECT_GT(rms, 300.0) << "the song is (nearly) silent";
    EXPECT_LT(clippedShare, 0.01) << "the song clips on " << clippedShare * 100 << "% of values";
}

TEST_P(CorpusEffect, PlaysAMinuteWithoutFault) {
    SKIP_WITHOUT_CORPUS("effects");
    Song* song = loadCorpusSong(GetParam());
    ASSERT_NE(song, nullptr) << GetParam();
    const PlaybackFigures figures = play(*song);
    freeSong(song);
    recordFigures(figures);
    EXPECT_GE(figures.frames, playedFrames);
    EXPECT_TRUE(std::isfinite(figures.sumOfSquares));
}

// Damaged files that the loader accepts must play without harm as well.
TEST_P(CorpusMalformed, PlaysWhatLoadsWithoutFault) {
    SKIP_WITHOUT_CORPUS("malformed");
    Song* song = loadCorpusSong(GetParam());
    if (song == nullptr) {
        GTEST_SKIP() << "refused by the loader";
    }
    const PlaybackFigures figures = play(*song);
    freeSong(song);
    EXPECT_GE(figures.frames, playedFrames);
}

INSTANTIATE_TEST_SUITE_P(Songs, CorpusSong, ::testing::ValuesIn(filesOrAbsent("songs")), testName);
INSTANTIATE_TEST_SUITE_P(Effects, CorpusEffect, ::testing::ValuesIn(filesOrAbsent("effects")),
                         testName);
INSTANTIATE_TEST_SUITE_P(Malformed, CorpusMalformed,
                         ::testing::ValuesIn(filesOrAbsent("malformed")), testName);

}  // namespace
