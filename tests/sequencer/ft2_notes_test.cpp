// Notes, instrument numbers, key-offs, tremor and sample offsets as
// FastTracker 2 plays them, heard through the public calls on songs written by
// the project's XM writer; where the player's own rules differ, they are heard
// too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t tickFrames = rate * 5 / 2 / 125;  // 882 at tempo 125
constexpr int speed = 6;
constexpr uint8_t c4 = 49;
constexpr uint8_t c5 = 61;

// A looped square wave of `period` values between -height and height.
xm::Sample square(int16_t height, int period, uint8_t volume) {
    xm::Sample sample;
    for (int i = 0; i < period; ++i) {
        sample.values.push_back(i < period / 2 ? height : static_cast<int16_t>(-height));
    }
    sample.loop = xm::LoopKind::Forward;
    sample.loopLength = static_cast<uint32_t>(period);
    sample.volume = volume;
    return sample;
}

// Instrument 1: a loud square at full volume without envelopes, fading out
// over 16 ticks after key-off. Instrument 2: a quieter square of another
// pitch at half volume with a falling volume envelope.
std::vector<xm::Instrument> instruments() {
    xm::Instrument first;
    first.samples.push_back(square(16000, 64, 64));
    first.fadeOut = 0x800;
    xm::Instrument second;
    second.samples.push_back(square(8000, 40, 32));
    second.volumeEnvelope.points = {{0, 64}, {24, 0}};
    second.fadeOut = 0x400;
    return {first, second};
}

// One channel's rows, from row 0, at speed 6 and tempo 125.
std::vector<float> render(const std::vector<xm::Cell>& rows, RuleSet rules,
                          std::vector<xm::Instrument> kit = instruments()) {
    xm::Module module;
    module.channels = 1;
    module.defaultSpeed = speed;
    module.orders = {0};
    module.patterns.push_back(xm::makePattern(16, 1));
    for (size_t row = 0; row < rows.size(); ++row) {
        xm::cellAt(module.patterns[0], 1, static_cast<int>(row), 0) = rows[row];
    }
    module.instruments = std::move(kit);
    const std::vector<uint8_t> image = xm::writeModule(module);
    Song* song = loadSongMemory(image.data(), image.size());
    EXPECT_NE(song, nullptr);
    std::vector<float> frames(2 * static_cast<size_t>(tickFrames) * speed * rows.size());
    Player* player = song != nullptr ? createPlayer(*song, rate, rules) : nullptr;
    if (player != nullptr) {
        renderFloatFrames(*player, frames.data(), static_cast<int32_t>(frames.size() / 2));
    }
    destroyPlayer(player);
    freeSong(song);
    return frames;
}

// The loudest value of the last three quarters of each tick (the first
// quarter holds the ramp from the tick before).
std::vector<float> tickPeaks(const std::vector<float>& frames) {
    std::vector<float> peaks;
    for (size_t start = 0; start + 2 * tickFrames <= frames.size(); start += 2 * tickFrames) {
        float peak = 0;
        for (size_t i = start + tickFrames / 2; i < start + 2 * tickFrames; ++i) {
            peak = std::max(peak, std::fabs(frames[i]));
        }
        peaks.push_back(peak);
    }
    return peaks;
}

// Which ticks of `row` are heard (1) or silent (0).
std::string heardTicks(const std::vector<float>& peaks, int row) {
    std::string heard;
    for (int tick = 0; tick < speed; ++tick) {
        heard += peaks[static_cast<size_t>(row * speed + tick)] > 0.01f ? '1' : '0';
    }
    return heard;
}

xm::Cell cell(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, Effect effect = Effect{},
              uint8_t param = 0) {
    return {note, instrument, volume, static_cast<uint8_t>(effect), param};
}

TEST(Ft2Notes, TremorWithoutARhythmAlternatesAndFt2HoldsItsSilence) {
    // T00 before any Txy: one tick on, one off, by both rule sets; FT2 counts
    // from the tick after the row tick and keeps the last silent phase until
    // a volume sets the channel again.
    const std::vector<xm::Cell> rows = {cell(c4, 1, 0, Effect::Tremor, 0x00),
                                        cell(0, 0, 0, Effect::Tremor, 0x00), cell(0),
                                        cell(0, 0, 0x50)};
    const std::vector<float> ft2 = tickPeaks(render(rows, RuleSet::Ft2));
    EXPECT_EQ(heardTicks(ft2, 0), "110101");
    EXPECT_EQ(heardTicks(ft2, 1), "101010");
    EXPECT_EQ(heardTicks(ft2, 2), "000000");
    EXPECT_EQ(heardTicks(ft2, 3), "111111");
    const std::vector<float> own = tickPeaks(render(rows, RuleSet::Own));
    EXPECT_EQ(heardTicks(own, 0), "101010");
    EXPECT_EQ(heardTicks(own, 2), "111111");
}

TEST(Ft2Notes, KeyOffWithoutAnEnvelopeSilencesUntilAVolumeAndFades) {
    struct Case {
        const char* name;
        xm::Cell release;
        xm::Cell after;
    };
    const Case cases[] = {
        {"volume column", cell(xm::kKeyOff), cell(0, 0, 0x50)},
        {"Cxx", cell(xm::kKeyOff), cell(0, 0, 0, Effect::SetVolume, 0x40)},
        {"instrument number on the key-off row", cell(xm::kKeyOff, 1), cell(0)},
        {"K00 with an instrument number", cell(c5, 1, 0, Effect::KeyOff, 0), cell(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<xm::Cell> rows = {cell(c4, 1), c.release, c.after, cell(0), cell(0)};
        const std::vector<float> ft2 = tickPeaks(render(rows, RuleSet::Ft2));
        const int back = c.release.instrument != 0 ? 1 : 2;
        if (back == 2) {
            EXPECT_EQ(heardTicks(ft2, 1), "000000");
        }
        // Back, and fading to silence 16 ticks after the key-off.
        const float level = ft2[static_cast<size_t>(back * speed + 1)];
        EXPECT_GT(level, 0.3f * ft2[1]);
        EXPECT_LT(ft2[static_cast<size_t>((back + 1) * speed)], 0.8f * level);
        EXPECT_EQ(heardTicks(ft2, 4), "000000");
        // The player's own rules keep a released note without an envelope
        // silent.
        EXPECT_EQ(heardTicks(tickPeaks(render(rows, RuleSet::Own)), 2), "000000");
    }
}

TEST(Ft2Notes, KxxReleasesOnItsTickAndK00ReplacesTheNote) {
    const std::vector<float> k03 =
        tickPeaks(render({cell(c4, 1, 0, Effect::KeyOff, 0x03)}, RuleSet::Ft2));
    EXPECT_EQ(heardTicks(k03, 0), "111000");
    const std::vector<float> k06 =
        tickPeaks(render({cell(c4, 1, 0, Effect::KeyOff, 0x06)}, RuleSet::Ft2));
    EXPECT_EQ(heardTicks(k06, 0), "111111");
    // Kxx releases before its tick's envelope step: an envelope held at its
    // sustain point falls from K02's tick on and reaches 0 four ticks later,
    // on the next row's tick 0, gliding there over that tick.
    std::vector<xm::Instrument> held = instruments();
    held[0].volumeEnvelope.points = {{0, 64}, {4, 0}};
    held[0].volumeEnvelope.sustain = true;
    const std::vector<float> k02 =
        tickPeaks(render({cell(c4, 1, 0, Effect::KeyOff, 0x02), cell(0)}, RuleSet::Ft2, held));
    EXPECT_EQ(heardTicks(k02, 0), "111111");
    EXPECT_EQ(heardTicks(k02, 1), "100000");
    // K00 on a note is a key-off: nothing starts.
    const std::vector<float> k00 =
        tickPeaks(render({cell(c4, 1, 0, Effect::KeyOff, 0x00)}, RuleSet::Ft2));
    EXPECT_EQ(heardTicks(k00, 0), "000000");
    // Beside a volume-column tone portamento, K00 is dropped.
    EXPECT_EQ(render({cell(c4, 1), cell(c5, 0, 0xF4, Effect::KeyOff, 0x00)}, RuleSet::Ft2),
              render({cell(c4, 1), cell(c5, 0, 0xF4)}, RuleSet::Ft2));
}

TEST(Ft2Notes, AnInstrumentNumberActsOnThePlayingNoteAndChoosesTheNext) {
    struct Case {
        const char* name;
        std::vector<xm::Cell> played;
        std::vector<xm::Cell> heardAs;
    };
    const Case cases[] = {
        // Without a note: the playing sample's default volume, its envelopes.
        {"lone instrument", {cell(c4, 1), cell(0, 2)}, {cell(c4, 1), cell(0, 1)}},
        // The chosen instrument plays with the next note.
        {"then a lone note",
         {cell(c4, 1), cell(0, 2), cell(c4, 0, 0x30)},
         {cell(c4, 1), cell(0, 1), cell(c4, 2, 0x30)}},
        // On a key-off row: default volume and panning only, the fade goes on.
        {"with a key-off",
         {cell(c4, 1), cell(xm::kKeyOff, 2)},
         {cell(c4, 1), cell(xm::kKeyOff, 1)}},
        // The volume column's tone portamento keeps the playing instrument,
        // as 3xx does.
        {"volume-column portamento",
         {cell(c4, 1), cell(c5, 2, 0xF8)},
         {cell(c4, 1), cell(c5, 1, 0, Effect::TonePortamento, 0x80)}},
        // A 9xx without a note neither moves the voice nor stores its offset.
        {"offset without a note",
         {cell(c4, 1), cell(0, 0, 0, Effect::SampleOffset, 0x02),
          cell(c4, 0, 0, Effect::SampleOffset, 0)},
         {cell(c4, 1), cell(0), cell(c4)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(render(c.played, RuleSet::Ft2), render(c.heardAs, RuleSet::Ft2));
        EXPECT_NE(render(c.played, RuleSet::Own), render(c.heardAs, RuleSet::Own));
    }
}

TEST(Ft2Notes, AnAbsentInstrumentKeepsThePlayingNoteAndAnOffsetPastTheEndCuts) {
    // Instrument 3 has no samples: the note plays on by FT2's rules, falls
    // silent by the player's own; a note of it plays nothing.
    std::vector<xm::Instrument> kit = instruments();
    kit.emplace_back();
    const std::vector<xm::Cell> absent = {cell(c4, 1), cell(0, 3), cell(c4)};
    const std::vector<float> ft2 = tickPeaks(render(absent, RuleSet::Ft2, kit));
    EXPECT_EQ(heardTicks(ft2, 1), "111111");
    EXPECT_EQ(heardTicks(ft2, 2), "000000");
    EXPECT_EQ(heardTicks(tickPeaks(render(absent, RuleSet::Own, kit)), 1), "000000");
    // 64 values: an offset of 256 lies beyond the end.
    const std::vector<float> cut =
        tickPeaks(render({cell(c4, 1), cell(c4, 1, 0, Effect::SampleOffset, 0x01)}, RuleSet::Ft2));
    EXPECT_EQ(heardTicks(cut, 1), "000000");
}

TEST(Ft2Notes, LxxPassesThePointItNamesAndMovesThePanningEnvelope) {
    // The volume envelope loops back from its fall to 0 at tick 12; the
    // panning envelope turns hard left at tick 48.
    std::vector<xm::Instrument> kit = instruments();
    xm::Envelope& volume = kit[0].volumeEnvelope;
    volume.points = {{0, 64}, {12, 0}, {84, 64}};
    volume.loop = true;
    volume.loopEnd = 1;
    volume.sustain = true;
    volume.sustainPoint = 2;
    kit[0].panningEnvelope.points = {{0, 32}, {47, 32}, {48, 0}};
    const auto sidePeak = [](const std::vector<float>& frames, size_t row, size_t side) {
        float peak = 0;
        for (size_t i = 2 * tickFrames * speed * row; i < 2 * tickFrames * speed * (row + 1);
             i += 2) {
            peak = std::max(peak, std::fabs(frames[i + side]));
        }
        return peak;
    };
    // Placed on the loop's end, FT2 rises slowly from 0 instead of turning
    // back to the loop's loud start.
    const std::vector<xm::Cell> onLoopEnd = {cell(c4, 1, 0, Effect::SetEnvelopePosition, 12),
                                             cell(0)};
    EXPECT_LT(tickPeaks(render(onLoopEnd, RuleSet::Ft2, kit))[3],
              0.15f * tickPeaks(render(onLoopEnd, RuleSet::Own, kit))[3]);
    // At tick 48 FT2's panning envelope is hard left: the right side falls
    // silent, where the player's own rules keep the note centred.
    const std::vector<xm::Cell> panned = {cell(c4, 1, 0, Effect::SetEnvelopePosition, 48), cell(0)};
    const std::vector<float> left = render(panned, RuleSet::Ft2, kit);
    EXPECT_GT(sidePeak(left, 1, 0), 0.1f);
    EXPECT_LT(sidePeak(left, 1, 1), 0.01f);
    const std::vector<float> centred = render(panned, RuleSet::Own, kit);
    EXPECT_GT(sidePeak(centred, 1, 1), 0.5f * sidePeak(centred, 1, 0));
    // L00 on a sustain point at tick 0 holds there in FT2; the player's own
    // rules walk on and fall.
    kit[1].volumeEnvelope.sustain = true;
    const std::vector<xm::Cell> held = {cell(c4, 2, 0, Effect::SetEnvelopePosition, 0), cell(0),
                                        cell(0)};
    const std::vector<float> sustained = tickPeaks(render(held, RuleSet::Ft2, kit));
    EXPECT_FLOAT_EQ(sustained[17], sustained[1]);
    const std::vector<float> falling = tickPeaks(render(held, RuleSet::Own, kit));
    EXPECT_LT(falling[17], 0.5f * falling[1]);
}

TEST(Ft2Notes, VolumeGlidesOverTheTickAndACellSetsItQuickly) {
    // The loudest left value between two fractions of tick `tick`.
    const auto level = [](const std::vector<float>& frames, int tick, double from, double to) {
        float peak = 0;
        for (auto i = static_cast<size_t>((tick + from) * tickFrames);
             i < static_cast<size_t>((tick + to) * tickFrames); ++i) {
            peak = std::max(peak, std::fabs(frames[2 * i]));
        }
        return peak;
    };
    // A08 slides 64 down to 56 on tick 7; on row 2 the volume column sets 64.
    const std::vector<xm::Cell> rows = {cell(c4, 1), cell(0, 0, 0, Effect::VolumeSlide, 0x08),
                                        cell(0, 0, 0x50)};
    const std::vector<float> ft2 = render(rows, RuleSet::Ft2);
    const float full = level(ft2, 5, 0.0, 1.0);
    // Halfway through its tick the slide has gone half its way (60 of 64).
    EXPECT_GT(level(ft2, 7, 0.45, 0.55), 0.92f * full);
    EXPECT_LT(level(ft2, 7, 0.45, 0.55), 0.95f * full);
    // The cell's volume is reached within a quarter of the tick (5 ms).
    EXPECT_NEAR(level(ft2, 12, 0.3, 0.4), full, 0.01f * full);
    const std::vector<float> own = render(rows, RuleSet::Own);
    EXPECT_LT(level(own, 7, 0.45, 0.55), 0.9f * level(own, 5, 0.0, 1.0));
}

}  // namespace
