// Files stored in every way the player reads, as the project's own writer
// makes them: each loads with the sample values it was written from and
// plays; the same music in another layout renders the same bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "generators/layout_songs.h"
#include "player/player.h"
#include "player/song/song.h"
#include "player/song/song_loading.h"
#include "tests/song/xm_builder.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;

// The first `seconds` of the song in `image`, as 16-bit stereo frames.
std::vector<int16_t> render(const std::vector<uint8_t>& image, double seconds) {
    std::string reason;
    Song* song = loadSong(imageStreams(image), nullptr, nullptr, &reason);
    EXPECT_NE(song, nullptr) << reason;
    std::vector<int16_t> frames;
    Player* player = song != nullptr ? createPlayer(*song, rate) : nullptr;
    if (player != nullptr) {
        const auto count = static_cast<int32_t>(seconds * rate);
        frames.resize(2 * static_cast<size_t>(count));
        renderFrames(*player, frames.data(), count);
    }
    destroyPlayer(player);
    freeSong(song);
    return frames;
}

int32_t loudest(const std::vector<int16_t>& frames, size_t from = 0) {
    int32_t peak = 0;
    for (size_t i = from; i < frames.size(); ++i) {
        peak = std::max(peak, std::abs(int32_t{frames[i]}));
    }
    return peak;
}

// The values as the player holds them: 8-bit values in the upper byte.
std::vector<int16_t> heldValues(const xm::Sample& sample) {
    std::vector<int16_t> values;
    for (const int16_t value : sample.values) {
        values.push_back(sample.depth == xm::Depth::Bits8 ? static_cast<int16_t>(value * 256)
                                                          : value);
    }
    return values;
}

void expectSamplesAsWritten(const std::vector<uint8_t>& image, const xm::Module& module) {
    std::string reason;
    Song* song = loadSong(imageStreams(image), nullptr, nullptr, &reason);
    ASSERT_NE(song, nullptr) << reason;
    ASSERT_EQ(song->instrumentCount, static_cast<int>(module.instruments.size()));
    for (size_t i = 0; i < module.instruments.size(); ++i) {
        const Instrument& instrument = song->instruments[i];
        ASSERT_EQ(instrument.sampleCount, static_cast<int>(module.instruments[i].samples.size()));
        for (int j = 0; j < instrument.sampleCount; ++j) {
            const Sample& sample = *instrument.samples[j];
            EXPECT_EQ(std::vector<int16_t>(sample.data, sample.data + sample.length),
                      heldValues(module.instruments[i].samples[j]))
                << "instrument " << i + 1 << " sample " << j;
        }
        EXPECT_EQ(instrument.noteSamples, module.instruments[i].noteSamples);
    }
    freeSong(song);
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

xm::Module songNamed(const std::string& name) {
    for (const layout::NamedModule& song : layout::makeLayoutSongs()) {
        if (song.fileName == name) {
            return song.module;
        }
    }
    ADD_FAILURE() << "no song " << name;
    return {};
}

TEST(XmLayouts, EverySongLoadsTheValuesItWasWrittenFromAndPlays) {
    const std::vector<int16_t> plain = render(xm::writeModule(layout::plainSong()), 3.0);
    ASSERT_GT(loudest(plain), 4000);
    // The same music stored another way.
    const std::set<std::string> samePlain = {"layout-0102.xm", "layout-0103.xm",
                                             "compressed-samples.xm", "trailing-chunks.xm"};
    for (const layout::NamedModule& song : layout::makeLayoutSongs()) {
        SCOPED_TRACE(song.fileName);
        const std::vector<uint8_t> image = xm::writeModule(song.module);
        expectSamplesAsWritten(image, song.module);
        const std::vector<int16_t> frames = render(image, 3.0);
        if (samePlain.count(song.fileName) != 0) {
            EXPECT_TRUE(frames == plain);
        } else {
            EXPECT_GT(loudest(frames), 4000);
        }
        // The fuzzer starts from these files.
        EXPECT_TRUE(readFile(std::filesystem::path(PROJECT_SOURCE_DIR) /
                             "fuzz/seeds/fuzz_xm_loader" / song.fileName) == image)
            << "regenerate with: make_layout_songs fuzz/seeds/fuzz_xm_loader";
    }
}

// Two channels sweep the notes of a 24-sample instrument; here only the
// notes that name samples 16 to 23 are left, and then the same with a map
// that names no sample of the instrument.
TEST(XmLayouts, NotesReachEverySampleOfALargeInstrumentAndNoneBeyondIt) {
    xm::Module module = songNamed("many-samples.xm");
    xm::Pattern& sweep = module.patterns[0];
    for (int row = 0; row < sweep.rows; ++row) {
        xm::Cell& rising = xm::cellAt(sweep, module.channels, row, 0);
        if (module.instruments[0].noteSamples[rising.note - 1] < 16) {
            rising = {};
        }
        xm::cellAt(sweep, module.channels, row, 1) = {};
    }
    EXPECT_GT(loudest(render(xm::writeModule(module), 6.0)), 4000);

    // Version 0x0102 puts the instrument first, its note map 33 bytes in.
    module.version = xm::kVersion0102;
    std::vector<uint8_t> image = xm::writeModule(module);
    constexpr size_t noteMap = 60 + 276 + 33;
    std::fill(image.begin() + noteMap, image.begin() + noteMap + 96, 24);
    EXPECT_EQ(loudest(render(image, 6.0)), 0);
}

// A tick lasts 2.5 / tempo seconds also above 255: at 343 beats per minute
// the first note, on row 8 at 6 ticks a row, starts after 8 x 6 ticks of
// trunc(44100 x 2.5 / 343) = 321 frames.
TEST(XmLayouts, AHeaderTempoAbove255PlaysAsWritten) {
    xm::Module module = songNamed("tempo-343.xm");
    xm::Pattern pattern = xm::makePattern(16, module.channels);
    xm::cellAt(pattern, module.channels, 8, 1) = {37, 2, 0, 0, 0};
    module.patterns = {pattern};
    module.orders = {0};
    const std::vector<int16_t> frames = render(xm::writeModule(module), 0.5);
    constexpr size_t startFrame = 8 * 6 * 321;
    ASSERT_GT(frames.size(), 2 * (startFrame + 1));
    EXPECT_EQ(loudest(std::vector<int16_t>(frames.begin(), frames.begin() + 2 * startFrame)), 0);
    EXPECT_GT(std::abs(frames[2 * (startFrame + 1)]), 0);
}

}  // namespace
