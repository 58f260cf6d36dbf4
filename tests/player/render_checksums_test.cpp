// Every song the player plays keeps its exact output: the first seconds of
// each corpus file and of the demo's song are rendered and their checksums
// compared with the pinned ones in render_checksums.txt. A deliberate change
// of sound updates that file and says why in its commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"

namespace {

struct Pin {
    std::string file;  // relative to the corpus, or "assets/..." in the project
    int32_t rate;
    int32_t seconds;
    std::string checksum;  // 16 hex digits, or "refused"
};

std::vector<Pin> readPins() {
    std::ifstream in(std::filesystem::path(PROJECT_SOURCE_DIR) /
                     "tests/player/render_checksums.txt");
    std::vector<Pin> pins;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        Pin pin;
        fields >> pin.file >> pin.rate >> pin.seconds >> pin.checksum;
        pins.push_back(pin);
    }
    return pins;
}

std::filesystem::path pinPath(const Pin& pin) {
    return pin.file.rfind("assets/", 0) == 0 ? std::filesystem::path(PROJECT_SOURCE_DIR) / pin.file
                                             : corpusDirectory() / pin.file;
}

// FNV-1a over the little-endian bytes of the 16-bit frames.
struct Checksum {
    uint64_t value = 0xcbf29ce484222325ULL;
    void add(const int16_t* values, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto bits = static_cast<uint16_t>(values[i]);
            for (const uint16_t byte : {uint16_t(bits & 0xFF), uint16_t(bits >> 8)}) {
                value = (value ^ byte) * 0x100000001b3ULL;
            }
        }
    }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016" PRIx64, value);
        return text;
    }
};

// The checksum of `seconds` of the song from its start, or "refused".
std::string renderChecksum(const std::filesystem::path& path, int32_t rate, int32_t seconds) {
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
    if (song == nullptr) {
        return "refused";
    }
    xmplayer::Player* player = xmplayer::createPlayer(*song, rate, xmplayer::RuleSet::Own);
    EXPECT_NE(player, nullptr);
    Checksum checksum;
    constexpr int32_t pieceFrames = 4096;
    std::vector<int16_t> piece(2 * pieceFrames);
    for (int64_t left = int64_t{rate} * seconds; player != nullptr && left > 0;) {
        const auto frames = static_cast<int32_t>(std::min<int64_t>(left, pieceFrames));
        xmplayer::renderFrames(*player, piece.data(), frames);
        checksum.add(piece.data(), 2 * static_cast<std::size_t>(frames));
        left -= frames;
    }
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
    return checksum.hex();
}

TEST(RenderChecksums, EverySongRendersTheBitsItWasPinnedWith) {
    const std::vector<Pin> pins = readPins();
    ASSERT_FALSE(pins.empty());
    int32_t checked = 0;
    for (const Pin& pin : pins) {
        const std::filesystem::path path = pinPath(pin);
        if (!std::filesystem::exists(path)) {
            continue;  // the corpus is absent in a user's own clone
        }
        EXPECT_EQ(renderChecksum(path, pin.rate, pin.seconds), pin.checksum)
            << pin.file << " at " << pin.rate << " Hz for " << pin.seconds << " s";
        ++checked;
    }
    if (checked == 1) {
        GTEST_SKIP() << "only the demo's song was checked; place the shared corpus beside the "
                        "project for the rest";
    }
}

// Every corpus file that may play is pinned, so that none escapes the check.
TEST(RenderChecksums, EveryCorpusSongIsPinned) {
    SKIP_WITHOUT_CORPUS("songs");
    std::map<std::string, bool> pinned;
    for (const Pin& pin : readPins()) {
        pinned[pin.file] = true;
    }
    for (const std::string folder : {"songs", "wild", "effects"}) {
        for (const auto& path : corpusFiles(folder)) {
            EXPECT_TRUE(pinned.count(folder + "/" + path.filename().string()))
                << path << " has no pinned checksum";
        }
    }
}

}  // namespace
