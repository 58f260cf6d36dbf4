// FastTracker 2's song flow and panning memories, on songs written by the
// project's XM writer and played through the public calls: which rows a
// pattern loop leads to, F00, the volume column's panning slides, a panning
// envelope held at its sustain point, and a channel's first note.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"

namespace {

using xmplayer::RuleSet;

constexpr int32_t rate = 44100;
constexpr int32_t tickFrames = 882;  // 20 ms at 125 BPM
constexpr uint8_t noteC4 = 49;

// One instrument: a looped constant sample at full volume, centred, with the
// envelopes a test gives it.
xm::Module moduleWith(int channels, std::vector<xm::Pattern> patterns) {
    xm::Module module;
    module.channels = channels;
    for (size_t p = 0; p < patterns.size(); ++p) {
        module.orders.push_back(static_cast<uint8_t>(p));
    }
    module.patterns = std::move(patterns);
    xm::Instrument instrument;
    xm::Sample sample;
    sample.values.assign(64, 8000);
    sample.loop = xm::LoopKind::Forward;
    sample.loopLength = 64;
    instrument.samples.push_back(sample);
    module.instruments.push_back(instrument);
    return module;
}

void put(xm::Module& module, int pattern, int row, int channel, xm::Cell cell) {
    xm::cellAt(module.patterns[pattern], module.channels, row, channel) = cell;
}

xm::Cell effectCell(xm::Effect effect, uint8_t param) {
    return {0, 0, 0, static_cast<uint8_t>(effect), param};
}

// Frames as the player renders them, left and right.
struct Frames {
    std::vector<float> samples;

    int64_t count() const { return static_cast<int64_t>(samples.size() / 2); }
    // The loudest value of one side (0 left, 1 right) in [from, to).
    float peak(int side, int64_t from, int64_t to) const {
        float loudest = 0.0f;
        for (int64_t f = from; f < std::min(to, count()); ++f) {
            loudest = std::max(loudest, std::fabs(samples[2 * f + side]));
        }
        return loudest;
    }
};

// One pass of the module under `rules`, at most `limit` frames.
Frames playOnePass(const xm::Module& module, RuleSet rules, int64_t limit = 10 * rate) {
    const std::vector<uint8_t> bytes = xm::writeModule(module);
    std::string reason;
    xmplayer::Song* song = xmplayer::loadSongMemory(bytes.data(), bytes.size(), &reason);
    Frames frames;
    if (song == nullptr) {
        ADD_FAILURE() << "the written song is refused: " << reason;
        return frames;
    }
    xmplayer::Player* player = xmplayer::createPlayer(*song, rate, rules);
    xmplayer::setPassLimit(*player, 1);
    std::vector<float> block(2 * 1024);
    for (int32_t got = 1; got > 0 && frames.count() < limit;) {
        got = xmplayer::renderFloatFrames(*player, block.data(), 1024);
        frames.samples.insert(frames.samples.end(), block.begin(), block.begin() + 2 * got);
    }
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
    return frames;
}

constexpr float silent = 1.0e-4f;

// Songs that are silent but for one note on order 1's row 0, which FastTracker
// 2 skips where a pattern loop of order 0 starts order 1 at the loop's row.
// Order 2 jumps to itself, which ends the pass.
TEST(Ft2SongFlow, APatternLoopStartsTheNextPatternAtItsRow) {
    struct Case {
        const char* name;
        std::function<void(xm::Module&)> write;
        bool heardByFt2;
        bool heardByOwnRules;
    };
    // Three channels; order 0 loops its rows 1 and 2 once in channel 1.
    auto loop = [](xm::Module& m) {
        put(m, 0, 1, 1, effectCell(xm::Effect::Extended, 0x60));
        put(m, 0, 2, 1, effectCell(xm::Effect::Extended, 0x61));
    };
    const Case cases[] = {
        {"the pattern runs out", loop, false, true},
        {"a break before the loop on its row takes the loop's row",
         [&](xm::Module& m) {
             loop(m);
             put(m, 0, 2, 0, effectCell(xm::Effect::PatternBreak, 0));
         },
         false, true},
        {"a break after the loop on its row takes its own row",
         [&](xm::Module& m) {
             loop(m);
             put(m, 0, 2, 2, effectCell(xm::Effect::PatternBreak, 0));
         },
         true, true},
        {"a position jump takes row 0",
         [&](xm::Module& m) {
             loop(m);
             put(m, 0, 2, 0, effectCell(xm::Effect::PositionJump, 1));
         },
         true, true},
        // Channel 2 marks its loop on row 3 of order 0, where channel 1's loop
        // has just jumped; its loop in order 1 goes back to row 3, not to the
        // row channel 1 jumped to.
        {"E60 marks the row played",
         [&](xm::Module& m) {
             m.patterns[1] = xm::makePattern(7, m.channels);
             put(m, 0, 1, 1, effectCell(xm::Effect::Extended, 0x60));
             put(m, 0, 3, 0, effectCell(xm::Effect::PatternBreak, 0));
             put(m, 0, 3, 1, effectCell(xm::Effect::Extended, 0x61));
             put(m, 0, 3, 2, effectCell(xm::Effect::Extended, 0x60));
             put(m, 1, 5, 2, effectCell(xm::Effect::Extended, 0x61));
         },
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xm::Module module =
            moduleWith(3, {xm::makePattern(5, 3), xm::makePattern(4, 3), xm::makePattern(1, 3)});
        c.write(module);
        put(module, 1, 0, 0, {noteC4, 1, 0, 0, 0});
        put(module, 2, 0, 0, effectCell(xm::Effect::PositionJump, 2));
        for (const RuleSet rules : {RuleSet::Ft2, RuleSet::Own}) {
            const Frames frames = playOnePass(module, rules);
            const bool heard = frames.peak(0, 0, frames.count()) > silent;
            EXPECT_EQ(heard, rules == RuleSet::Ft2 ? c.heardByFt2 : c.heardByOwnRules)
                << (rules == RuleSet::Ft2 ? "FastTracker 2's rules" : "the own rules");
        }
    }
}

// F00 keeps the speed: four rows of six ticks, where the own rules play a
// row a tick from there on.
TEST(Ft2SongFlow, F00KeepsTheSpeed) {
    xm::Module module = moduleWith(1, {xm::makePattern(4, 1)});
    put(module, 0, 0, 0, {noteC4, 1, 0, 0, 0});
    put(module, 0, 1, 0, effectCell(xm::Effect::SpeedTempo, 0));
    EXPECT_EQ(playOnePass(module, RuleSet::Ft2).count(), 4 * 6 * tickFrames);
    EXPECT_EQ(playOnePass(module, RuleSet::Own).count(), (6 + 3) * tickFrames);
}

// The side that panning 0 silences, found from a note panned there by the
// volume column.
int sideSilencedByPanningZero() {
    xm::Module module = moduleWith(1, {xm::makePattern(1, 1)});
    put(module, 0, 0, 0, {noteC4, 1, 0xC0, 0, 0});
    const Frames frames = playOnePass(module, RuleSet::Ft2);
    return frames.peak(0, tickFrames, frames.count()) < silent ? 0 : 1;
}

// The volume column's panning slides leave the row tick alone; a slide left
// by 0 takes the note to the left end from the second tick on.
TEST(Ft2SongFlow, VolumeColumnPanningSlidesActBetweenRows) {
    const int left = sideSilencedByPanningZero();
    for (const uint8_t slide : {uint8_t{0xD0}, uint8_t{0xD8}}) {
        SCOPED_TRACE(slide);
        xm::Module module = moduleWith(1, {xm::makePattern(1, 1)});
        module.defaultSpeed = 3;
        put(module, 0, 0, 0, {noteC4, 1, slide, 0, 0});
        const Frames frames = playOnePass(module, RuleSet::Ft2);
        ASSERT_EQ(frames.count(), 3 * tickFrames);
        EXPECT_EQ(frames.peak(0, 0, tickFrames), frames.peak(1, 0, tickFrames))
            << "centred on the row tick";
        // Past the ramp of the second tick's change.
        const float silencedSide = frames.peak(left, 2 * tickFrames, 3 * tickFrames);
        const float otherSide = frames.peak(1 - left, 2 * tickFrames, 3 * tickFrames);
        if (slide == 0xD0) {
            EXPECT_LT(silencedSide, silent);
            EXPECT_GT(otherSide, silent);
        } else {
            EXPECT_GT(silencedSide, silent);
            EXPECT_LT(silencedSide, otherSide) << "slid towards the left";
        }
    }
}

// A panning envelope that reaches its sustain point (hard left) before the
// key-off stays there; one whose key-off comes as it arrives moves on to the
// centre, as the own rules always do.
TEST(Ft2SongFlow, APanningEnvelopeHeldAtItsSustainPointStaysThere) {
    const int left = sideSilencedByPanningZero();
    struct Case {
        const char* name;
        int keyOffRow;  // at speed 2: ticks 2 * row
        bool staysLeft;
    };
    const Case cases[] = {{"released while held", 4, true}, {"released as it arrives", 2, false}};
    for (const Case& c : cases) {
        for (const RuleSet rules : {RuleSet::Ft2, RuleSet::Own}) {
            SCOPED_TRACE(std::string(c.name) + (rules == RuleSet::Ft2 ? ", FT2" : ", own"));
            xm::Module module = moduleWith(1, {xm::makePattern(12, 1)});
            module.defaultSpeed = 2;
            xm::Instrument& instrument = module.instruments[0];
            // Volume stays full after the key-off; the panning goes hard left
            // at tick 4, waits there, and comes back to the centre 4 ticks on.
            instrument.volumeEnvelope.points = {{0, 64}, {1, 64}};
            instrument.panningEnvelope.points = {{0, 32}, {4, 0}, {8, 32}};
            instrument.panningEnvelope.sustain = true;
            instrument.panningEnvelope.sustainPoint = 1;
            put(module, 0, 0, 0, {noteC4, 1, 0, 0, 0});
            put(module, 0, c.keyOffRow, 0, {xm::kKeyOff, 0, 0, 0, 0});
            const Frames frames = playOnePass(module, rules);
            const int64_t end = frames.count();
            ASSERT_EQ(end, 12 * 2 * tickFrames);
            const bool staysLeft = frames.peak(left, end - 8 * tickFrames, end) < silent;
            EXPECT_EQ(staysLeft, c.staysLeft && rules == RuleSet::Ft2);
            EXPECT_GT(frames.peak(1 - left, end - 8 * tickFrames, end), silent);
        }
    }
}

// Volume and panning that rows set before a channel's first note give way to
// the sample's defaults when it starts, though the note has no instrument
// number; the own rules keep them.
TEST(Ft2SongFlow, AChannelsFirstNoteTakesItsSamplesDefaults) {
    struct Case {
        const char* name;
        uint8_t volumeColumn;  // with the instrument number on row 0
    };
    for (const Case& c : {Case{"volume 0", 0x10}, Case{"panning 240", 0xCF}}) {
        xm::Module module = moduleWith(1, {xm::makePattern(3, 1)});
        put(module, 0, 0, 0, {0, 1, c.volumeColumn, 0, 0});
        put(module, 0, 1, 0, {noteC4, 0, 0, 0, 0});
        xm::Module plain = moduleWith(1, {xm::makePattern(3, 1)});
        put(plain, 0, 1, 0, {noteC4, 1, 0, 0, 0});
        for (const RuleSet rules : {RuleSet::Ft2, RuleSet::Own}) {
            SCOPED_TRACE(std::string(c.name) + (rules == RuleSet::Ft2 ? ", FT2" : ", own"));
            const Frames frames = playOnePass(module, rules);
            const Frames expected = playOnePass(plain, rules);
            EXPECT_EQ(frames.samples == expected.samples, rules == RuleSet::Ft2);
        }
    }
}

}  // namespace
