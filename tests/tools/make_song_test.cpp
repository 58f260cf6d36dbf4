// The song generator: the committed song is its output, the file it writes
// reads back as the module it built, and the song does what it is meant to
// show off.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "generators/song_arrangement.h"
#include "generators/xm_writer.h"
#include "player/player.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path temporaryPath(const std::string& name) {
    return fs::temp_directory_path() / ("make_song_test_" + std::to_string(getpid()) + "_" + name);
}

int runMakeSong(const std::string& arguments) {
    const std::string command =
        std::string("'") + MAKE_SONG + "' " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) {
        ++i;
    }
    return i;
}

const xm::Module& theSong() {
    static const xm::Module song = song::composeSong();
    return song;
}

TEST(MakeSong, WritesTheCommittedSongByteForByte) {
    const std::vector<uint8_t> committed =
        readFile(fs::path(PROJECT_SOURCE_DIR) / "assets/song.xm");
    ASSERT_FALSE(committed.empty()) << "assets/song.xm is missing";

    const fs::path out = temporaryPath("song.xm");
    ASSERT_EQ(runMakeSong("'" + out.string() + "'"), 0);
    const std::vector<uint8_t> written = readFile(out);
    fs::remove(out);

    EXPECT_EQ(written.size(), committed.size());
    EXPECT_TRUE(written == committed)
        << "first difference at byte " << firstDifference(written, committed)
        << "; regenerate with: make_song assets/song.xm";
    EXPECT_TRUE(xm::writeModule(theSong()) == written) << "in-process build differs from the tool";
}

TEST(MakeSong, RefusesWhatItCannotDo) {
    const fs::path missingFolder = temporaryPath("no_such_folder") / "song.xm";
    EXPECT_EQ(runMakeSong("'" + missingFolder.string() + "'"), 1);
    EXPECT_FALSE(fs::exists(missingFolder.string() + ".partial"));
    EXPECT_EQ(runMakeSong(""), 2);
    EXPECT_EQ(runMakeSong("a.xm b.xm"), 2);
    EXPECT_EQ(runMakeSong("--bogus"), 2);
    EXPECT_EQ(runMakeSong("--help"), 0);
}

// ---- reading the file back, independently of the writer

struct Reader {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    uint32_t u8() {
        if (at >= bytes.size()) {
            throw std::out_of_range("read past the end of the file");
        }
        return bytes[at++];
    }
    uint32_t u16() {
        const uint32_t lo = u8();
        return lo | (u8() << 8);
    }
    uint32_t u32() {
        const uint32_t lo = u16();
        return lo | (u16() << 16);
    }
    std::string text(size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            s.push_back(static_cast<char>(u8()));
        }
        return s;
    }
};

// Decodes packed cells the way a player reads them: a byte with bit 7 set is
// a mask of the fields that follow; otherwise it is the note of a full cell.
xm::Cell readCell(Reader& r) {
    xm::Cell c;
    const uint32_t first = r.u8();
    if (first & 0x80) {
        if (first & 0x01)
            c.note = static_cast<uint8_t>(r.u8());
        if (first & 0x02)
            c.instrument = static_cast<uint8_t>(r.u8());
        if (first & 0x04)
            c.volume = static_cast<uint8_t>(r.u8());
        if (first & 0x08)
            c.effect = static_cast<uint8_t>(r.u8());
        if (first & 0x10)
            c.param = static_cast<uint8_t>(r.u8());
    } else {
        c.note = static_cast<uint8_t>(first);
        c.instrument = static_cast<uint8_t>(r.u8());
        c.volume = static_cast<uint8_t>(r.u8());
        c.effect = static_cast<uint8_t>(r.u8());
        c.param = static_cast<uint8_t>(r.u8());
    }
    return c;
}

bool sameCell(const xm::Cell& a, const xm::Cell& b) {
    return a.note == b.note && a.instrument == b.instrument && a.volume == b.volume &&
           a.effect == b.effect && a.param == b.param;
}

TEST(MakeSong, FileReadsBackAsTheModule) {
    const xm::Module& m = theSong();
    const std::vector<uint8_t> bytes = xm::writeModule(m);
    Reader r{bytes};

    EXPECT_EQ(r.text(17), "Extended Module: ");
    EXPECT_EQ(r.text(20).substr(0, m.name.size()), m.name);
    EXPECT_EQ(r.u8(), 0x1Au);
    r.text(20);
    EXPECT_EQ(r.u16(), 0x0104u);
    EXPECT_EQ(r.u32(), 276u);
    const uint32_t songLength = r.u16();
    const uint32_t restart = r.u16();
    const uint32_t channels = r.u16();
    const uint32_t patterns = r.u16();
    const uint32_t instruments = r.u16();
    EXPECT_EQ(r.u16() & 1, 1u) << "linear frequency table";
    r.u16();
    r.u16();
    ASSERT_EQ(songLength, m.orders.size());
    EXPECT_LT(restart, songLength);
    ASSERT_EQ(channels, static_cast<uint32_t>(m.channels));
    ASSERT_EQ(patterns, m.patterns.size());
    ASSERT_EQ(instruments, m.instruments.size());
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t order = r.u8();
        if (i < songLength) {
            EXPECT_LT(order, patterns) << "order " << i << " names a pattern that is not stored";
        }
    }

    int fullCells = 0;
    int maskedCells = 0;
    for (uint32_t p = 0; p < patterns; ++p) {
        EXPECT_EQ(r.u32(), 9u);
        EXPECT_EQ(r.u8(), 0u);
        const uint32_t rows = r.u16();
        ASSERT_EQ(rows, static_cast<uint32_t>(m.patterns[p].rows));
        const size_t end = r.u16() + r.at;
        for (uint32_t cell = 0; cell < rows * channels; ++cell) {
            (r.bytes[r.at] & 0x80 ? maskedCells : fullCells) += 1;
            ASSERT_TRUE(sameCell(readCell(r), m.patterns[p].cells[cell]))
                << "pattern " << p << ", cell " << cell;
        }
        ASSERT_EQ(r.at, end) << "packed size of pattern " << p;
    }
    EXPECT_GT(fullCells, 0);
    EXPECT_GT(maskedCells, 0);

    for (const xm::Instrument& in : m.instruments) {
        const size_t start = r.at;
        EXPECT_EQ(r.u32(), 263u);
        r.text(23);
        ASSERT_EQ(r.u16(), in.samples.size());
        EXPECT_EQ(r.u32(), 40u);
        r.at = start + 263;
        for (const xm::Sample& s : in.samples) {
            const uint32_t width = s.depth == xm::Depth::Bits16 ? 2 : 1;
            EXPECT_EQ(r.u32(), s.values.size() * width);
            r.text(10);
            const uint32_t type = r.u8();
            EXPECT_EQ((type & 0x10) != 0, width == 2);
            r.text(25);
        }
        for (const xm::Sample& s : in.samples) {
            int32_t sum = 0;
            for (size_t i = 0; i < s.values.size(); ++i) {
                if (s.depth == xm::Depth::Bits16) {
                    sum = static_cast<int16_t>(sum + static_cast<int16_t>(r.u16()));
                } else {
                    sum = static_cast<int8_t>(sum + static_cast<int8_t>(r.u8()));
                }
                ASSERT_EQ(sum, s.values[i]) << in.name << ", value " << i;
            }
        }
    }
    EXPECT_EQ(r.at, bytes.size()) << "bytes after the last sample";
}

// The player's measure of the file the generator writes.
xmplayer::SongDuration measureModule(const xm::Module& module) {
    const fs::path path = temporaryPath("measured.xm");
    const std::vector<uint8_t> bytes = xm::writeModule(module);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::string reason;
    xmplayer::Song* song = xmplayer::loadSongFile(path.c_str(), &reason);
    fs::remove(path);
    if (song == nullptr) {
        ADD_FAILURE() << "the player refuses the module: " << reason;
        return {};
    }
    const xmplayer::SongDuration duration =
        xmplayer::measureSong(*song, 44100, xmplayer::RuleSet::Own);
    xmplayer::freeSong(song);
    return duration;
}

TEST(MakeSong, PlaysBetweenHalfAMinuteAndAMinuteAndAHalfAndLoopsThroughItsRestart) {
    const xmplayer::SongDuration length = measureModule(theSong());
    EXPECT_TRUE(length.comesBack);
    EXPECT_EQ(length.loopOrder, theSong().restartPosition);
    EXPECT_EQ(length.loopRow, 0);
    EXPECT_GE(length.milliseconds, 30'000);
    EXPECT_LE(length.milliseconds, 90'000);
    EXPECT_GE(length.milliseconds - length.loopStartMilliseconds, 30'000);
}

// Effect numbers, with the extended effect as 0xE0 + its sub-command, and
// 0xF0 / 0xF1 for speed and tempo; arpeggio counts only with a parameter.
std::set<int> effectsUsed(const xm::Module& m) {
    std::set<int> used;
    for (const xm::Pattern& p : m.patterns) {
        for (const xm::Cell& c : p.cells) {
            if (c.effect == static_cast<int>(xm::Effect::Extended)) {
                used.insert(0xE0 + (c.param >> 4));
            } else if (c.effect == static_cast<int>(xm::Effect::SpeedTempo)) {
                used.insert(c.param < 32 ? 0xF0 : 0xF1);
            } else if (c.effect != 0 || c.param != 0) {
                used.insert(c.effect);
            }
        }
    }
    return used;
}

TEST(MakeSong, ExercisesThePlayer) {
    const xm::Module& m = theSong();
    const std::set<int> used = effectsUsed(m);
    const int wanted[] = {0x0,  0x1,  0x2,  0x3,  0x4,  0x5,  0x6,  0x7,  0x8, 0x9, 10,
                          11,   12,   13,   16,   17,   20,   21,   25,   27,  29,  0xE1,
                          0xE2, 0xE6, 0xE9, 0xEA, 0xEC, 0xED, 0xEE, 0xF0, 0xF1};
    for (const int effect : wanted) {
        EXPECT_TRUE(used.count(effect)) << "effect 0x" << std::hex << effect << " is never used";
    }

    std::set<int> volumeCommands;
    bool keyOff = false;
    for (const xm::Pattern& p : m.patterns) {
        for (const xm::Cell& c : p.cells) {
            if (c.volume >= 0x10)
                volumeCommands.insert(c.volume >= 0x60 ? c.volume >> 4 : 1);
            keyOff = keyOff || c.note == xm::kKeyOff;
        }
    }
    EXPECT_TRUE(keyOff);
    for (const int command : {0x1, 0x6, 0x7, 0x8, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF}) {
        EXPECT_TRUE(volumeCommands.count(command)) << "volume column 0x" << std::hex << command;
    }

    bool bits8 = false, bits16 = false, forward = false, pingPong = false;
    bool volumeSustain = false, volumeLoop = false, panSustain = false, panLoop = false;
    bool fadeOut = false, autoVibrato = false, multiSample = false;
    for (const xm::Instrument& in : m.instruments) {
        for (const xm::Sample& s : in.samples) {
            bits8 = bits8 || s.depth == xm::Depth::Bits8;
            bits16 = bits16 || s.depth == xm::Depth::Bits16;
            forward = forward || s.loop == xm::LoopKind::Forward;
            pingPong = pingPong || s.loop == xm::LoopKind::PingPong;
        }
        volumeSustain = volumeSustain || in.volumeEnvelope.sustain;
        volumeLoop = volumeLoop || in.volumeEnvelope.loop;
        panSustain = panSustain || in.panningEnvelope.sustain;
        panLoop = panLoop || in.panningEnvelope.loop;
        fadeOut = fadeOut || in.fadeOut != 0;
        autoVibrato = autoVibrato || (in.vibratoDepth != 0 && in.vibratoRate != 0);
        multiSample = multiSample || in.samples.size() > 1;
    }
    EXPECT_TRUE(bits8 && bits16);
    EXPECT_TRUE(forward && pingPong);
    EXPECT_TRUE(volumeSustain && volumeLoop && panSustain && panLoop);
    EXPECT_TRUE(fadeOut && autoVibrato && multiSample);
    EXPECT_TRUE(m.linearFrequencies);
}

// ---- the writer's pieces on small inputs

TEST(XmWriter, PacksCellsAndDeltaCodesSamples) {
    std::vector<uint8_t> packed;
    xm::appendPackedCell(packed, xm::Cell{});
    xm::appendPackedCell(packed, xm::Cell{49, 2, 0, 0x0C, 0x20});
    xm::appendPackedCell(packed, xm::Cell{49, 2, 0x40, 0x0C, 0x20});
    const std::vector<uint8_t> expected = {
        0x80, 0x80 | 0x01 | 0x02 | 0x08 | 0x10, 49, 2, 0x0C, 0x20, 49, 2, 0x40, 0x0C, 0x20};
    EXPECT_EQ(packed, expected);

    xm::Sample eight;
    eight.depth = xm::Depth::Bits8;
    eight.values = {16, 0, -128, 127};
    EXPECT_EQ(xm::encodeSampleData(eight), (std::vector<uint8_t>{0x10, 0xF0, 0x80, 0xFF}));
    xm::Sample sixteen;
    sixteen.values = {1000, -1000, 32767, -32768};
    EXPECT_EQ(xm::encodeSampleData(sixteen),
              (std::vector<uint8_t>{0xE8, 0x03, 0x30, 0xF8, 0xE7, 0x83, 0x01, 0x00}));
}

xm::Module smallModule() {
    xm::Module m;
    m.channels = 1;
    m.patterns = {xm::makePattern(4, 1), xm::makePattern(4, 1)};
    m.orders = {0, 1};
    m.restartPosition = 1;
    xm::Instrument in;
    xm::Sample s;
    s.values.assign(100, 0);
    in.samples.push_back(s);
    m.instruments.push_back(in);
    return m;
}

TEST(XmWriter, RefusesModulesThatPlayersCannotRead) {
    xm::Module m = smallModule();
    EXPECT_NO_THROW(xm::validate(m));

    m.orders.push_back(2);
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.restartPosition = 2;
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.instruments[0].samples[0].loop = xm::LoopKind::Forward;
    m.instruments[0].samples[0].loopStart = 90;
    m.instruments[0].samples[0].loopLength = 11;
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.instruments[0].samples.assign(257, xm::Sample{});
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.instruments[0].noteSamples[10] = 1;
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.instruments[0].volumeEnvelope.points = {{0, 64}, {10, 0}};
    m.instruments[0].volumeEnvelope.sustain = true;
    m.instruments[0].volumeEnvelope.sustainPoint = 2;
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
    m = smallModule();
    m.patterns[1].cells[0].instrument = 2;
    EXPECT_THROW(xm::validate(m), std::invalid_argument);
}

// The timing effects the arrangement uses, in a module the writer builds,
// as the player measures them.
TEST(SongTiming, LoopsDelaysBreaksAndSpeedChangesAsThePlayerMeasuresThem) {
    // Rows last 6 ticks of 20 ms at speed 6 and tempo 125.
    xm::Module m = smallModule();
    auto effect = [&](int pattern, int row, xm::Effect e, uint8_t param) {
        xm::Cell& c = xm::cellAt(m.patterns[pattern], 1, row, 0);
        c.effect = static_cast<uint8_t>(e);
        c.param = param;
    };
    effect(0, 1, xm::Effect::Extended, 0x61);  // rows 0, 1, 0, 1
    effect(0, 3, xm::Effect::Extended, 0xE1);  // row 3 lasts twice as long
    effect(1, 0, xm::Effect::SpeedTempo, 3);   // half-length rows from here on
    // Order 0 takes 7 rows' time at speed 6, order 1 four rows at speed 3,
    // and the restart comes back to order 1 as its row 0 left it.
    const xmplayer::SongDuration length = measureModule(m);
    EXPECT_TRUE(length.comesBack);
    EXPECT_EQ(length.milliseconds, 7 * 120 + 4 * 60);
    EXPECT_EQ(length.loopStartMilliseconds, 7 * 120);
    EXPECT_EQ(length.loopOrder, 1);
    EXPECT_EQ(length.loopRow, 0);

    // A break past the last order goes to order 0, not to the restart: the
    // song comes back to order 0's first row, which ends the pass although
    // it plays at speed 3 this time.
    effect(1, 1, xm::Effect::PatternBreak, 0x00);
    const xmplayer::SongDuration breaking = measureModule(m);
    EXPECT_TRUE(breaking.comesBack);
    EXPECT_EQ(breaking.loopStartMilliseconds, 0);
    EXPECT_EQ(breaking.milliseconds, 7 * 120 + 2 * 60);
    EXPECT_EQ(breaking.loopOrder, 0);
    EXPECT_EQ(breaking.loopRow, 0);

    effect(0, 0, xm::Effect::PositionJump, 0);  // jumps back to itself for ever
    const xmplayer::SongDuration jumping = measureModule(m);
    EXPECT_TRUE(jumping.comesBack);
    EXPECT_EQ(jumping.milliseconds, 120);
    EXPECT_EQ(jumping.loopOrder, 0);
}

}  // namespace
