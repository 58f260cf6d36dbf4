// Every song the player plays keeps its exact output: the first seconds of
// each corpus file and of the demo's song are rendered and their checksums
// compared with the pinned ones in render_checksums.txt. A deliberate change
// of sound updates that file and says why in its commit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
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

bool addFrames(const int16_t* frames, uint32_t frameCount, void* context) {
    static_cast<Checksum*>(context)->add(frames, std::size_t{frameCount} * 2);
    return true;
}

// The checksum of `seconds` of the song from its start, or "refused".
std::string renderChecksum(const std::filesystem::path& path, int32_t rate, int32_t seconds) {
    registerFileStream();
    Song* song = loadSong(path.c_str(), nullptr);
    if (song == nullptr) {
        return "refused";
    }
    Checksum checksum;
    RenderTarget target;
    target.sink = addFrames;
    target.sinkContext = &checksum;
    target.frameLimit = static_cast<uint64_t>(rate) * seconds;
    const WaveDevice device = renderWaveDevice(&target);
    setWaveDevice(&device);
    EXPECT_TRUE(openOutputDevice(rate, 0));
    EXPECT_TRUE(playSong(song));
    while (!target.finished.load()) {
        target.finished.wait(false);
    }
    freeSong(song);
    closeOutputDevice();
    setWaveDevice(nullptr);
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
