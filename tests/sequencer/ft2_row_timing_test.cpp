// Row timing as FastTracker 2 plays it, heard through the public calls on
// songs written by the project's XM writer, beside the player's own rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t tickFrames = rate * 5 / 2 / 125;  // 882 at tempo 125
constexpr uint8_t c4 = 49;
using Command = ExtendedCommand;
using Rows = std::vector<std::vector<xm::Cell>>;  // row after row, a cell per channel

// Instrument 1 loops a square at volume 32; instrument 2 plays it twice
// (15 ms at C-4) at volume 64, so that each start is heard in its tick alone.
std::vector<xm::Instrument> instruments() {
    xm::Sample square;
    for (int i = 0; i < 64; ++i) {
        square.values.push_back(i < 32 ? 16000 : -16000);
    }
    xm::Sample burst = square;
    burst.values.insert(burst.values.end(), square.values.begin(), square.values.end());
    square.loop = xm::LoopKind::Forward;
    square.loopLength = 64;
    square.volume = 32;
    std::vector<xm::Instrument> kit(2);
    kit[0].samples = {square};
    kit[1].samples = {burst};
    return kit;
}

xm::Cell cell(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, Effect effect = Effect{},
              uint8_t param = 0) {
    return {note, instrument, volume, static_cast<uint8_t>(effect), param};
}

xm::Cell extended(Command command, uint8_t y, uint8_t note = 0, uint8_t instrument = 0,
                  uint8_t volume = 0) {
    return cell(note, instrument, volume, Effect::Extended,
                static_cast<uint8_t>(static_cast<uint8_t>(command) << 4 | y));
}

// The first `ticks` ticks at speed 6, as stereo float frames.
std::vector<float> render(const Rows& rows, RuleSet rules, int ticks) {
    xm::Module module;
    module.channels = static_cast<int>(rows[0].size());
    module.orders = {0};
    module.patterns.push_back(xm::makePattern(32, module.channels));
    for (size_t row = 0; row < rows.size(); ++row) {
        for (size_t channel = 0; channel < rows[row].size(); ++channel) {
            xm::cellAt(module.patterns[0], module.channels, static_cast<int>(row),
                       static_cast<int>(channel)) = rows[row][channel];
        }
    }
    module.instruments = instruments();
    const std::vector<uint8_t> bytes = xm::writeModule(module);
    Song* song = loadSongMemory(bytes.data(), bytes.size());
    EXPECT_NE(song, nullptr);
    std::vector<float> frames(2 * static_cast<size_t>(tickFrames) * ticks);
    Player* player = song != nullptr ? createPlayer(*song, rate, rules) : nullptr;
    if (player != nullptr) {
        renderFloatFrames(*player, frames.data(), tickFrames * ticks);
    }
    destroyPlayer(player);
    freeSong(song);
    return frames;
}

// The loudest value of each tick past its first quarter, which holds the
// ramp from the tick before.
std::vector<float> tickPeaks(const std::vector<float>& frames) {
    std::vector<float> peaks;
    for (size_t start = 0; start < frames.size(); start += 2 * tickFrames) {
        peaks.push_back(std::fabs(
            *std::max_element(frames.begin() + static_cast<std::ptrdiff_t>(start + tickFrames / 2),
                              frames.begin() + static_cast<std::ptrdiff_t>(start + 2 * tickFrames),
                              [](float a, float b) { return std::fabs(a) < std::fabs(b); })));
    }
    return peaks;
}

std::string heardTicks(const Rows& rows, RuleSet rules, int ticks) {
    std::string heard;
    for (const float peak : tickPeaks(render(rows, rules, ticks))) {
        heard += peak > 0.01f ? '1' : '0';
    }
    return heard;
}

TEST(Ft2RowTiming, DelaysRetriggersCutsAndGlobalVolumeActOnFt2sTicks) {
    struct Case {
        const char* name;
        Rows rows;
        std::string heard;  // by FT2's rules, a space, by the player's own
    };
    const xm::Cell none = cell(0);
    const xm::Cell delayRow = extended(Command::PatternDelay, 1);
    const Case cases[] = {
        {"ED2 in every repetition of a delayed row",
         {{extended(Command::NoteDelay, 2, c4, 2), delayRow}},
         "001000001000 001000000000"},
        {"ED6 at speed 6 never",
         {{extended(Command::NoteDelay, 6, c4, 2), delayRow}},
         "000000000000 000000100000"},
        {"E94 by the ticks of each repetition",
         {{extended(Command::RetriggerNote, 4, c4, 2), delayRow}},
         "100010100010 100010001000"},
        {"ED0 is no delay", {{extended(Command::NoteDelay, 0, c4, 2), none}}, "100000 000000"},
        {"ED without a note plays the last one",
         {{cell(c4, 2), none}, {extended(Command::NoteDelay, 3), none}},
         "100000000100 100000000100"},
        // After a note silenced by its volume column:
        {"ED keeps the volume without an instrument",
         {{cell(c4, 1, 0x10), none}, {extended(Command::NoteDelay, 2, c4), none}},
         "000000000000 000000001111"},
        {"ED takes the sample's volume with one",
         {{cell(c4, 1, 0x10), none}, {extended(Command::NoteDelay, 2, c4, 1), none}},
         "000000001111 000000001111"},
        {"a delayed key-off does not restart the note",
         {{cell(c4, 1, 0x10), none}, {extended(Command::NoteDelay, 2, xm::kKeyOff), none}},
         "000000000000 000000001111"},
        {"a delayed key-off silences at its tick",
         {{cell(c4, 1), none}, {extended(Command::NoteDelay, 3, xm::kKeyOff), none}},
         "111111111000 111111111111"},
        {"E90 retriggers at the row tick",
         {{cell(c4, 2), none}, {extended(Command::RetriggerNote, 0), none}},
         "100000100000 100000000000"},
        {"EC0 cuts at the row tick",
         {{cell(c4, 1), none}, {extended(Command::NoteCut, 0), none}},
         "111111000000 111111111111"},
        {"R03 counts on across rows",
         {{cell(c4, 2, 0, Effect::MultiRetrigger, 0x03), none},
          {cell(0, 0, 0, Effect::MultiRetrigger, 0x03), none}},
         "101001001001 100100000100"},
        {"a volume keeps the row tick out of R03's count",
         {{cell(c4, 2, 0, Effect::MultiRetrigger, 0x03), none},
          {cell(0, 0, 0x40, Effect::MultiRetrigger, 0x03), none}},
         "101001000100 100100000100"},
        {"G00 reaches a channel before it",
         {{cell(c4, 1), none}, {none, cell(0, 0, 0, Effect::SetGlobalVolume, 0)}},
         "111111000000 111111111111"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto ticks = static_cast<int>(c.heard.find(' '));
        EXPECT_EQ(
            heardTicks(c.rows, RuleSet::Ft2, ticks) + ' ' + heardTicks(c.rows, RuleSet::Own, ticks),
            c.heard);
    }
}

TEST(Ft2RowTiming, FineVolumeSlidesUpAndDownKeepTheirOwnMemories) {
    // After EB8 (volume 24), EA0 finds no memory of its own under FT2's rules.
    const Rows rows = {{extended(Command::FineVolumeDown, 8, c4, 1)},
                       {extended(Command::FineVolumeUp, 0)}};
    const std::vector<float> ft2 = tickPeaks(render(rows, RuleSet::Ft2, 12));
    EXPECT_FLOAT_EQ(ft2[6], ft2[0]);
    const std::vector<float> own = tickPeaks(render(rows, RuleSet::Own, 12));
    EXPECT_NEAR(own[6] / own[0], 32.0 / 24.0, 0.02);
}

TEST(Ft2RowTiming, TremoloHoldsItsLastTickThroughTheRowTickAndItsRampFollowsTheVibrato) {
    const Rows sine = {{cell(c4, 1, 0, Effect::Tremolo, 0x4F)},
                       {cell(0, 0, 0, Effect::Tremolo, 0)}};
    const std::vector<float> ft2 = tickPeaks(render(sine, RuleSet::Ft2, 12));
    EXPECT_FLOAT_EQ(ft2[6], ft2[5]);
    EXPECT_GT(std::fabs(ft2[6] - ft2[0]), 0.05f);
    const std::vector<float> own = tickPeaks(render(sine, RuleSet::Own, 12));
    EXPECT_FLOAT_EQ(own[6], own[0]);
    // The vibrato leaves its phase at -24 (five steps of 8 from 0), so FT2's
    // ramp starts at its top: the volume doubles on the first tremolo tick.
    const Rows ramp = {{extended(Command::TremoloWaveform, 1, c4, 1)},
                       {cell(0, 0, 0, Effect::Vibrato, 0x80)},
                       {cell(0, 0, 0, Effect::Tremolo, 0x1F)}};
    const std::vector<float> ft2Ramp = tickPeaks(render(ramp, RuleSet::Ft2, 14));
    EXPECT_NEAR(ft2Ramp[13] / ft2Ramp[0], 2.0, 0.05);
    const std::vector<float> ownRamp = tickPeaks(render(ramp, RuleSet::Own, 14));
    EXPECT_FLOAT_EQ(ownRamp[13], ownRamp[0]);
}

TEST(Ft2RowTiming, TremoloWaveformThreeIsFt2sSquare) {
    const auto tremoloRows = [](uint8_t waveform) {
        return Rows{{extended(Command::TremoloWaveform, waveform, c4, 1)},
                    {cell(0, 0, 0, Effect::Tremolo, 0x4F)}};
    };
    EXPECT_EQ(render(tremoloRows(3), RuleSet::Ft2, 12), render(tremoloRows(2), RuleSet::Ft2, 12));
    EXPECT_EQ(render(tremoloRows(3), RuleSet::Own, 12), render(tremoloRows(0), RuleSet::Own, 12));
}

TEST(Ft2RowTiming, VibratoEffectDepthPrevailsOverTheVolumeColumns) {
    const Rows mixed = {{cell(c4, 1, 0xB8, Effect::Vibrato, 0x4F)}};
    const Rows deep = {{cell(c4, 1, 0xBF, Effect::Vibrato, 0x4F)}};
    EXPECT_EQ(render(mixed, RuleSet::Ft2, 6), render(deep, RuleSet::Ft2, 6));
    EXPECT_NE(render(mixed, RuleSet::Own, 6), render(deep, RuleSet::Own, 6));
}

}  // namespace
