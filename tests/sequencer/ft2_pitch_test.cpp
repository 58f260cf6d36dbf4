// FastTracker 2's rules for panning and pitch, heard through the public calls:
// songs written by the project's XM writer, played at 44100 Hz, judged by the
// level of each side, the pitch of each tick (by zero crossings) or the equality
// of two songs' frames. Also the note range that both rule sets share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t tickFrames = 882;  // at tempo 125
constexpr uint8_t noteC4 = 49;

uint8_t effectNumber(Effect effect) {
    return static_cast<uint8_t>(effect);
}

uint8_t extended(ExtendedCommand command, uint8_t value) {
    return static_cast<uint8_t>(static_cast<uint8_t>(command) << 4 | value);
}

// One cycle of a sine, looped: its pitch is the voice's frequency / length.
xm::Sample sine(uint32_t length, int8_t finetune = 0, int8_t relativeNote = 0,
                uint8_t panning = 0) {
    xm::Sample sample;
    for (uint32_t i = 0; i < length; ++i) {
        sample.values.push_back(static_cast<int16_t>(
            std::lround(16000.0 * std::sin(2 * std::numbers::pi * i / length))));
    }
    sample.loop = xm::LoopKind::Forward;
    sample.loopLength = length;
    sample.finetune = finetune;
    sample.relativeNote = relativeNote;
    sample.panning = panning;
    return sample;
}

// A song of one pattern: rows of cells, channel after channel; instrument i
// holds samples[i - 1].
struct Tune {
    std::vector<std::vector<xm::Cell>> rows;
    std::vector<xm::Sample> samples;
    int speed = 6;
    bool linear = true;
    xm::Instrument autoVibrato{};  // its waveform, depth and rate, for every instrument
};

std::vector<uint8_t> write(const Tune& tune) {
    xm::Module module;
    module.channels = static_cast<int>(tune.rows.front().size());
    module.linearFrequencies = tune.linear;
    module.defaultSpeed = tune.speed;
    module.orders = {0};
    module.patterns = {xm::makePattern(static_cast<int>(tune.rows.size()), module.channels)};
    for (size_t row = 0; row < tune.rows.size(); ++row) {
        for (size_t channel = 0; channel < tune.rows[row].size(); ++channel) {
            xm::cellAt(module.patterns[0], module.channels, static_cast<int>(row),
                       static_cast<int>(channel)) = tune.rows[row][channel];
        }
    }
    for (const xm::Sample& sample : tune.samples) {
        xm::Instrument instrument = tune.autoVibrato;
        instrument.samples = {sample};
        module.instruments.push_back(instrument);
    }
    return xm::writeModule(module);
}

// The tune's first `frames` frames, interleaved left and right.
std::vector<float> render(const Tune& tune, RuleSet rules, int32_t frames) {
    const std::vector<uint8_t> bytes = write(tune);
    std::string reason;
    Song* song = loadSongMemory(bytes.data(), bytes.size(), &reason);
    EXPECT_NE(song, nullptr) << reason;
    std::vector<float> out(2 * static_cast<size_t>(frames));
    if (song != nullptr) {
        Player* player = createPlayer(*song, rate, rules);
        EXPECT_NE(player, nullptr);
        if (player != nullptr) {
            renderFloatFrames(*player, out.data(), frames);
        }
        destroyPlayer(player);
        freeSong(song);
    }
    return out;
}

// The pitch of the left side within [from, to), from its rising zero
// crossings; 0 without two of them.
double pitchOf(const std::vector<float>& frames, int32_t from, int32_t to) {
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (int32_t i = from + 1; i < to; ++i) {
        const float before = frames[2 * (i - 1)];
        const float after = frames[2 * i];
        if (before < 0 && after >= 0) {
            const double at = i - 1 + before / (before - after);
            first = first < 0 ? at : first;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

double level(const std::vector<float>& frames, int side, int32_t from, int32_t to) {
    double sum = 0;
    for (int32_t i = from; i < to; ++i) {
        sum += double{frames[2 * i + side]} * frames[2 * i + side];
    }
    return std::sqrt(sum / (to - from));
}

// The frequency of a linear period, the one FastTracker 2 plays for it.
double linearFrequency(double period) {
    return 8363.0 * std::pow(2.0, (4608.0 - period) / 768.0);
}

xm::Cell note(uint8_t value, uint8_t instrument = 1, Effect effect = Effect::Arpeggio,
              uint8_t param = 0) {
    return {value, instrument, 0, effectNumber(effect), param};
}

xm::Cell effect(Effect effect, uint8_t param) {
    return {0, 0, 0, effectNumber(effect), param};
}

TEST(Ft2Panning, PanningZeroIsLeftAndEachSideFollowsTheSquareRootOfItsShare) {
    struct Case {
        uint8_t panning;
        double leftShare;  // of the full volume
        double rightShare;
    };
    const Case cases[] = {{0, 1.0, 0.0},
                          {255, 1.0 / 16, std::sqrt(255.0 / 256)},
                          {128, std::sqrt(0.5), std::sqrt(0.5)},
                          {64, std::sqrt(0.75), 0.5}};
    std::vector<float> full;
    for (const Case& c : cases) {
        const Tune tune{.rows = {{note(noteC4)}}, .samples = {sine(16, 0, 0, c.panning)}};
        const std::vector<float> frames = render(tune, RuleSet::Ft2, 4 * tickFrames);
        if (c.panning == 0) {
            full = frames;
        }
        const double reference = level(full, 0, tickFrames, 4 * tickFrames);
        EXPECT_NEAR(level(frames, 0, tickFrames, 4 * tickFrames) / reference, c.leftShare, 0.02)
            << "panning " << int{c.panning};
        EXPECT_NEAR(level(frames, 1, tickFrames, 4 * tickFrames) / reference, c.rightShare, 0.02)
            << "panning " << int{c.panning};
    }
}

// Each case plays rows of one channel at speed 5 and expects the voice's
// frequency on given ticks of the song.
struct PitchCase {
    std::string name;
    Tune tune;
    std::vector<std::pair<int, double>> tickFrequencies;  // song tick, voice frequency
};

std::vector<PitchCase> pitchCases() {
    const double c4 = 4608;
    std::vector<PitchCase> cases;
    // Speed 5: ticks 1..4 have 4, 3, 2, 1 ticks left: first, base, second, first.
    cases.push_back({"arpeggio step by the ticks left",
                     {.rows = {{note(noteC4, 1, Effect::Arpeggio, 0xC7)}}, .samples = {sine(16)}},
                     {{1, linearFrequency(c4 - 768)},
                      {2, linearFrequency(c4)},
                      {3, linearFrequency(c4 - 448)},
                      {4, linearFrequency(c4 - 768)}}});
    // 4 ticks of 68 units take C-4 4 1/4 semitones up; its octave snaps to E-5.
    cases.push_back(
        {"arpeggio after a slide snaps to the semitone",
         {.rows = {{note(noteC4, 1, Effect::PortamentoUp, 0x11)}, {effect(Effect::Arpeggio, 0xC0)}},
          .samples = {sine(16)}},
         {{6, linearFrequency(c4 - 16 * 64)}, {7, linearFrequency(c4 - 272)}}});
    // Notes 110 + 3 and 100 + 15 lie beyond the table's last step (note 95 at
    // finetune 120, period 1540).
    for (const int8_t relative : {36, 26}) {
        cases.push_back(
            {"arpeggio beyond the table's top from note " + std::to_string(74 + relative),
             {.rows = {{note(75, 1, Effect::Arpeggio, relative == 36 ? 0x33 : 0xFF)}},
              .samples = {sine(256, 64, relative)}},
             {{1, linearFrequency(1540)}}});
    }
    cases.push_back(
        {"finetune without its lowest 3 bits, E5x on its note only",
         {.rows = {{note(noteC4)},
                   {note(noteC4, 0, Effect::Extended, extended(ExtendedCommand::SetFinetune, 0xC))},
                   {note(noteC4)}},
          .samples = {sine(16, 7 + 16)}},
         {{2, linearFrequency(c4 - 8)},
          {7, linearFrequency(c4 - 32)},
          {12, linearFrequency(c4 - 8)}}});
    cases.push_back({"portamento up stops at period 1",
                     {.rows = {{note(noteC4, 1, Effect::PortamentoUp, 0xFF)},
                               {effect(Effect::PortamentoUp, 0xFF)}},
                      .samples = {sine(1024)}},
                     {{8, linearFrequency(1)}}});
    cases.push_back({"portamento up stops at period 1 in Amiga mode",
                     {.rows = {{note(noteC4, 1, Effect::PortamentoUp, 0xFF)},
                               {effect(Effect::PortamentoUp, 0xFF)}},
                      .samples = {sine(4096)},
                      .linear = false},
                     {{8, 14317056.0}}});
    // 20 ticks of 512 units take the period to 14848, which wraps round to
    // two octaves above period 0.
    const xm::Cell down = effect(Effect::PortamentoDown, 0x80);
    cases.push_back({"portamento down wraps the frequency round",
                     {.rows = {{note(noteC4, 1, Effect::PortamentoDown, 0x80)},
                               {down},
                               {down},
                               {down},
                               {down},
                               {note(0)}},
                      .samples = {sine(1024)}},
                     {{26, linearFrequency(-1536)}}});
    // 4 units a tick from C-4 toward C#4: 8 ticks reach the middle and stay
    // at C-4, the 9th passes it.
    const xm::Cell glide{noteC4 + 1, 0, 0, effectNumber(Effect::TonePortamento), 0x01};
    const xm::Cell onward = effect(Effect::TonePortamento, 0);
    cases.push_back(
        {"glissando moves the tone portamento in semitones",
         {.rows = {{note(noteC4, 1, Effect::Extended, extended(ExtendedCommand::Glissando, 1))},
                   {glide},
                   {onward},
                   {onward}},
          .samples = {sine(16)}},
         {{14, linearFrequency(c4)}, {15, linearFrequency(c4)}, {16, linearFrequency(c4 - 64)}}});
    // F1 (16) beside 301 in one cell: both glide at 16 x 4 units a tick.
    cases.push_back(
        {"a volume-column tone portamento speed prevails over 3xx's",
         {.rows = {{note(noteC4)},
                   {{noteC4 + 12, 0, 0xF1, effectNumber(Effect::TonePortamento), 0x01}}},
          .samples = {sine(16)}},
         {{6, linearFrequency(c4 - 128)}, {7, linearFrequency(c4 - 256)}}});
    // 3FF glides to E-4 at once; after C-4 is played again, 300 without a
    // note glides back to E-4.
    cases.push_back({"a tone portamento without a note glides to the last target",
                     {.rows = {{note(noteC4)},
                               {{noteC4 + 4, 0, 0, effectNumber(Effect::TonePortamento), 0xFF}},
                               {note(noteC4)},
                               {effect(Effect::TonePortamento, 0)}},
                      .samples = {sine(16)}},
                     {{12, linearFrequency(c4)}, {17, linearFrequency(c4 - 256)}}});
    // C-1 - 1 plays B-0; C-0 - 1 would be B-(-1): the note starts again at
    // B-0's pitch.
    cases.push_back({"a note below the lowest keeps the pitch playing",
                     {.rows = {{note(13)}, {note(1)}}, .samples = {sine(4, 0, -1)}},
                     {{3, linearFrequency(7680 - 64 * 11)}, {8, linearFrequency(7680 - 64 * 11)}}});
    // A square auto-vibrato of depth 15 and a quarter turn a tick reads its
    // phase after the step (first up, then down twice, up) and rises in pitch
    // on its first half in either frequency table.
    xm::Instrument square;
    square.vibratoType = 1;
    square.vibratoDepth = 15;
    square.vibratoRate = 64;
    cases.push_back({"auto-vibrato",
                     {.rows = {{note(noteC4)}}, .samples = {sine(16)}, .autoVibrato = square},
                     {{1, linearFrequency(c4 + 15)}, {3, linearFrequency(c4 - 15)}}});
    cases.push_back(
        {"auto-vibrato in Amiga mode",
         {.rows = {{note(noteC4)}}, .samples = {sine(16)}, .linear = false, .autoVibrato = square},
         {{0, 14317056.0 / (1712 - 15)}, {2, 14317056.0 / (1712 + 15)}}});
    for (PitchCase& c : cases) {
        c.tune.speed = 5;
    }
    return cases;
}

TEST(Ft2Pitch, PlaysThePitchesOfFastTracker2) {
    for (const PitchCase& c : pitchCases()) {
        const int32_t ticks = c.tickFrequencies.back().first + 2;
        const std::vector<float> frames = render(c.tune, RuleSet::Ft2, ticks * tickFrames);
        const double cycle = static_cast<double>(c.tune.samples[0].values.size());
        for (const auto& [tick, frequency] : c.tickFrequencies) {
            const int32_t start = tick * tickFrames;
            EXPECT_NEAR(pitchOf(frames, start + 100, start + tickFrames) * cycle / frequency, 1.0,
                        0.005)
                << c.name << ", tick " << tick;
        }
    }
}

TEST(Ft2Pitch, AWrappedPeriodFarBelowTheNotesStandsStill) {
    // 2FF at speed 5 slides C-4 by 1020 units a tick: 27 ticks reach 31999,
    // the 28th wraps to -32517 and the 33rd reaches -27417, whose frequency is
    // about 0.002 Hz. The voice then stands still for that one tick, where
    // even 1 Hz would move it a visible step along the 4-frame cycle.
    Tune tune{.rows = {{note(noteC4, 1, Effect::PortamentoDown, 0xFF)}}, .samples = {sine(4)}};
    for (int row = 1; row < 9; ++row) {
        tune.rows.push_back({effect(Effect::PortamentoDown, 0xFF)});
    }
    tune.speed = 5;
    const int32_t start = 41 * tickFrames;
    const std::vector<float> frames = render(tune, RuleSet::Ft2, start + tickFrames);
    float lowest = frames[2 * (start + 100)];
    float highest = lowest;
    for (int32_t i = start + 100; i < start + tickFrames; ++i) {
        lowest = std::min(lowest, frames[2 * i]);
        highest = std::max(highest, frames[2 * i]);
    }
    EXPECT_LT(highest - lowest, 1e-3F);
    EXPECT_GT(std::abs(highest), 1e-3F) << "the still voice holds a value of its cycle";
}

// Pairs of tunes whose frames must be equal.
struct AlikeCase {
    std::string name;
    RuleSet rules;
    Tune tune;
    Tune alike;
};

TEST(Ft2Pitch, PlaysAlikeWhatOnlyDiffersInWhatTheRulesIgnore) {
    // After 304 has reached C#4, 2xx takes the period past it: 300 then lands
    // on it at once, as 3FF does.
    const auto resetDirection = [](uint8_t speed) {
        return Tune{.rows = {{note(noteC4)},
                             {{noteC4 + 1, 0, 0, effectNumber(Effect::TonePortamento), 0x04}},
                             {effect(Effect::TonePortamento, 0)},
                             {effect(Effect::TonePortamento, 0)},
                             {effect(Effect::TonePortamento, 0)},
                             {effect(Effect::PortamentoDown, 0x08)},
                             {effect(Effect::TonePortamento, speed)},
                             {note(0)}},
                    .samples = {sine(64)}};
    };
    // F0 beside 301 glides at the memory that F4 stored, as beside 300.
    const auto memorySpeed = [](uint8_t speed) {
        return Tune{.rows = {{note(noteC4)},
                             {{noteC4 + 12, 0, 0xF4, 0, 0}},
                             {note(noteC4)},
                             {{noteC4 + 12, 0, 0xF0, effectNumber(Effect::TonePortamento), speed}}},
                    .samples = {sine(64)}};
    };
    std::vector<AlikeCase> cases = {
        {"finetune 7 as 0",
         RuleSet::Ft2,
         {.rows = {{note(noteC4)}}, .samples = {sine(64, 7)}},
         {.rows = {{note(noteC4)}}, .samples = {sine(64, 0)}}},
        {"finetune -1 as -8",
         RuleSet::Ft2,
         {.rows = {{note(noteC4)}}, .samples = {sine(64, -1)}},
         {.rows = {{note(noteC4)}}, .samples = {sine(64, -8)}}},
        {"300 past the target as 3FF", RuleSet::Ft2, resetDirection(0), resetDirection(0xFF)},
        {"F0 beside 301 as beside 300", RuleSet::Ft2, memorySpeed(1), memorySpeed(0)},
        {"a note taken to B-9 as an instrument number alone",
         RuleSet::Ft2,
         {.rows = {{note(noteC4)}, {note(96)}}, .samples = {sine(64, 0, 24)}},
         {.rows = {{note(noteC4)}, {note(0)}}, .samples = {sine(64, 0, 24)}}},
        {"a note taken two below the lowest as an instrument number alone",
         RuleSet::Ft2,
         {.rows = {{note(noteC4)}, {note(1)}}, .samples = {sine(64, 0, -2)}},
         {.rows = {{note(noteC4)}, {note(0)}}, .samples = {sine(64, 0, -2)}}},
        {"a note delayed by ED3 and taken to B-9 as a delayed instrument number",
         RuleSet::Ft2,
         {.rows = {{note(noteC4)}, {note(96, 1, Effect::Extended, 0xD3)}},
          .samples = {sine(64, 0, 24)}},
         {.rows = {{note(noteC4)}, {note(0, 1, Effect::Extended, 0xD3)}},
          .samples = {sine(64, 0, 24)}}},
        {"a first note below the lowest as none",
         RuleSet::Ft2,
         {.rows = {{note(1)}}, .samples = {sine(64, 0, -1)}},
         {.rows = {{xm::Cell{}}}, .samples = {sine(64, 0, -1)}}},
    };
    // By the own rules a relative note that takes the note beyond either end
    // plays that end (FT2's play no such note, as the cases above show).
    for (const RuleSet rules : {RuleSet::Own}) {
        cases.push_back({"below the lowest note",
                         rules,
                         {.rows = {{note(1)}}, .samples = {sine(64, 0, -5)}},
                         {.rows = {{note(1)}}, .samples = {sine(64, 0, 0)}}});
        cases.push_back({"above the highest note",
                         rules,
                         {.rows = {{note(96)}}, .samples = {sine(64, 0, 40)}},
                         {.rows = {{note(96)}}, .samples = {sine(64, 0, 24)}}});
    }
    for (const AlikeCase& c : cases) {
        const int32_t frames = 8 * 6 * tickFrames;
        EXPECT_EQ(render(c.tune, c.rules, frames), render(c.alike, c.rules, frames))
            << c.name << (c.rules == RuleSet::Own ? " (own rules)" : "");
    }
}

}  // namespace
