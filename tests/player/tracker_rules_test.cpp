// FastTracker 2's rules, judged by the tracker's own test files: many play
// the tracker's recorded output on one side and the test on the other, or the
// test two ways that the tracker plays alike; played by its rules, the two
// sides sound at least as alike as another player that follows those rules
// makes them (openmpt123, whose figures, measured once by
// tools/compare_tracker_files.py, stand in the table). Others are built to
// stay silent when played right. The tables hold the files that the rules
// play so today, each guarding the rules it shows; the harness reports on all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t windowFrames = rate / 50;  // 20 ms
constexpr int32_t maxSeconds = 60;
constexpr int32_t silencePeak = 64;

struct AlikeFile {
    const char* name;
    double loudness;  // the other player's left/right correlations
    // None where the signal's correlation says nothing of the rules: in
    // SampleChange.xm the other player plays the test loud where the
    // recording falls quiet, which lifts its figure.
    std::optional<double> signal;
};

void PrintTo(const AlikeFile& file, std::ostream* out) {
    *out << file.name;
}

// clang-format off
const AlikeFile alikeFiles[] = {
    {"3xx-no-old-samp-noft.xm", 0.996, 0.626},
    {"3xx-no-old-samp.xm", 0.999, 0.990},
    {"3xxins.xm", 0.999, 0.431},
    {"ArpeggioClamp.xm", 0.050, 0.011},
    {"ArpeggioClamp_old.xm", 0.102, 0.344},
    {"AutoVibratoSweepKeyOff.xm", 1.000, 0.797},
    {"EnvOff.xm", 0.977, 0.926},
    {"Finetune-Precision.xm", 0.186, 0.233},
    {"FreqWraparound.xm", 0.400, 0.190},
    {"GlobalVolume.xm", 0.366, 0.428},
    {"KeyOff2.xm", 0.981, -0.023},
    {"NoteLimit.xm", 0.970, 0.328},
    {"NoteLimit2.xm", 0.976, 0.398},
    {"NoteOff.xm", 0.996, 0.313},
    {"NoteOff2.xm", 0.997, 0.128},
    {"NoteOffVolume.xm", 0.997, 0.787},
    {"Off-Porta.xm", 1.000, 0.810},
    {"OffDelay.xm", 0.977, 0.068},
    {"PatLoop-Infinite.xm", 0.996, 0.864},
    {"PatLoop-Jumps.xm", 0.996, 0.825},
    {"PatLoop-Nested.xm", 0.954, 0.009},
    {"PatternDelay-NoteDelay.xm", 1.000, 1.000},
    {"PatternDelaysRetrig.xm", 0.564, 0.628},
    {"Pickup.xm", 0.659, 0.821},
    {"Porta-LinkMem.xm", 1.000, 1.000},
    {"Porta-Pickup.xm", 0.997, 0.291},
    {"RetrigTick0.xm", 0.976, 0.665},
    {"SampleChange.xm", 0.631, std::nullopt},
    {"TremoloWaveforms.xm", 0.790, 0.940},
    {"Tremor.xm", 0.997, -0.076},
    {"TremorInstr.xm", 0.994, 0.615},
    {"TremorRecover.xm", 0.706, 0.524},
    {"VibratoWaveforms.xm", -0.147, 0.541},
    {"delay1.xm", 0.996, 0.883},
    {"delay3.xm", 0.990, 0.667},
    {"delaycut.xm", 0.996, 0.162},
    {"envretrig.xm", 0.977, -0.043},
    {"finetune.xm", 0.238, 0.605},
    {"ft2_delay_defaults.xm", 0.801, 0.866},
    {"ft2_delay_envelope_off.xm", 1.000, 1.000},
    {"ft2_delay_envelope_on.xm", 0.992, 0.996},
    {"ft2_delay_envelope_sustain.xm", 1.000, 1.000},
    {"ft2_delay_note_memory.xm", 0.870, 0.925},
    {"ft2_delay_volume_column.xm", 0.891, 0.959},
    {"ft2_double_toneporta.xm", 1.000, 1.000},
    {"ft2_envelope_reset.xm", 0.936, 0.963},
    {"ft2_instrument_fade_update.xm", 0.426, 0.883},
    {"ft2_instrument_memory_default.xm", 1.000, 1.000},
    {"ft2_invalid_ins_defaults.xm", 0.697, 0.731},
    {"ft2_invalid_porta_target.xm", 0.999, 0.700},
    {"ft2_k00_is_note_off.xm", 0.885, 0.800},
    {"ft2_kxx.xm", 0.800, 0.940},
    {"ft2_note_no_fadeout_reset.xm", 0.912, 0.965},
    {"ft2_note_off_fade.xm", 0.987, 0.997},
    {"ft2_note_off_sustain.xm", 0.917, 0.954},
    {"ft2_note_range.xm", 0.867, 0.799},
    {"ft2_note_range_instrument_fade.xm", 0.816, 0.942},
    {"ft2_offset_memory.xm", 0.893, 0.867},
    {"ft2_tremor_delay.xm", 0.854, 0.893},
    {"ft2_tremor_reset.xm", 0.726, 0.848},
    {"ft2_volume_fadeout.xm", 1.000, 1.000},
    {"key_off.xm", 0.999, 0.882},
    {"keyoff+instr.xm", 0.970, 0.053},
    {"lowest.xm", -0.155, 0.305},
    {"porta-delay.xm", 0.946, 0.889},
};
const char* const silentFiles[] = {
    "DelayCombination.xm",
    "DelayVolume.xm",
    "E90.xm",
    "FineVol-LinkMem.xm",
    "NoteOffFade.xm",
    "PortaResetDirection.xm",
    "SamplePortaInInstrument.xm",
};
// clang-format on

std::vector<int16_t> renderPass(const std::filesystem::path& path) {
    std::string reason;
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str(), &reason);
    if (song == nullptr) {
        ADD_FAILURE() << path << ": " << reason;
        return {};
    }
    xmplayer::Player* player = xmplayer::createPlayer(*song, rate, xmplayer::RuleSet::Ft2);
    xmplayer::setPassLimit(*player, 1);
    std::vector<int16_t> frames(2 * static_cast<std::size_t>(rate) * maxSeconds);
    const int32_t rendered =
        xmplayer::renderFrames(*player, frames.data(), static_cast<int32_t>(frames.size() / 2));
    frames.resize(2 * static_cast<std::size_t>(rendered));
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
    return frames;
}

// Pearson's correlation; nothing when either series is constant.
std::optional<double> correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n < 2) {
        return std::nullopt;
    }
    double meanA = 0.0;
    double meanB = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        meanA += a[i];
        meanB += b[i];
    }
    meanA /= static_cast<double>(n);
    meanB /= static_cast<double>(n);
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    if (!(aa * bb > 0.0)) {
        return std::nullopt;
    }
    return ab / std::sqrt(aa * bb);
}

std::vector<double> side(const std::vector<int16_t>& frames, int which) {
    std::vector<double> values;
    for (std::size_t i = which; i < frames.size(); i += 2) {
        values.push_back(frames[i]);
    }
    return values;
}

// RMS of each whole 20 ms window.
std::vector<double> loudness(const std::vector<double>& values) {
    std::vector<double> curve;
    for (std::size_t start = 0; start + windowFrames <= values.size(); start += windowFrames) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + windowFrames; ++i) {
            sum += values[i] * values[i];
        }
        curve.push_back(std::sqrt(sum / windowFrames));
    }
    return curve;
}

// As alike as the other player, compared at the three decimals it was
// measured to.
void expectAsAlike(const char* what, std::optional<double> ours, double theirs) {
    ASSERT_TRUE(ours.has_value()) << what << ": a side is constant";
    EXPECT_GE(std::round(*ours * 1000.0), std::round(theirs * 1000.0)) << what << " " << *ours;
}

class AlikeSides : public testing::TestWithParam<AlikeFile> {};

TEST_P(AlikeSides, PlaysBothSidesAtLeastAsAlikeAsTheOtherPlayer) {
    SKIP_WITHOUT_CORPUS("tracker");
    const std::vector<int16_t> frames = renderPass(corpusDirectory() / "tracker" / GetParam().name);
    const std::vector<double> left = side(frames, 0);
    const std::vector<double> right = side(frames, 1);
    expectAsAlike("loudness", correlation(loudness(left), loudness(right)), GetParam().loudness);
    if (GetParam().signal) {
        expectAsAlike("signal", correlation(left, right), *GetParam().signal);
    }
}

INSTANTIATE_TEST_SUITE_P(TrackerFiles, AlikeSides, testing::ValuesIn(alikeFiles),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             name = name.substr(0, name.size() - 3);
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                                 '_');
                             return name;
                         });

TEST(TrackerFiles, FilesBuiltToBeSilentStaySilent) {
    SKIP_WITHOUT_CORPUS("tracker");
    for (const char* name : silentFiles) {
        const std::vector<int16_t> frames = renderPass(corpusDirectory() / "tracker" / name);
        EXPECT_FALSE(frames.empty()) << name;
        int32_t peak = 0;
        for (const int16_t value : frames) {
            peak = std::max(peak, std::abs(int32_t{value}));
        }
        EXPECT_LT(peak, silencePeak) << name;
    }
}

}  // namespace
