// xm_render end to end: the WAV it writes, the raw PCM it streams, that both
// are the same on every run, its other formats read back by sox and
// libsndfile, the length of one pass and of several, the fade-out, the
// channels rendered one by one, and its refusals.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "player/player.h"

#include "tests/corpus.h"
#include "tests/tools/tool_run.h"

namespace {

const std::string renderer = XM_RENDER;
const std::filesystem::path demoSong = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets/song.xm";

bool haveSox() {
    return std::system("sox --version >/dev/null 2>&1") == 0;
}

// What libsndfile reads back from an audio file, as floats at full scale 1.
struct Decoded {
    int rate = 0;
    int channels = 0;
    std::vector<float> values;
    int64_t frames() const {
        return channels == 0 ? 0 : static_cast<int64_t>(values.size()) / channels;
    }
};

Decoded decode(const std::filesystem::path& path) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info),
                                                           sf_close);
    Decoded decoded;
    if (file == nullptr) {
        ADD_FAILURE() << "libsndfile cannot read " << path << ": " << sf_strerror(nullptr);
        return decoded;
    }
    decoded.rate = info.samplerate;
    decoded.channels = info.channels;
    decoded.values.resize(static_cast<std::size_t>(info.frames * info.channels));
    decoded.values.resize(static_cast<std::size_t>(
        sf_readf_float(file.get(), decoded.values.data(), info.frames) * info.channels));
    return decoded;
}

xmplayer::SongDuration measure(const std::filesystem::path& path, int32_t rate) {
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
    if (song == nullptr) {
        ADD_FAILURE() << "cannot load " << path;
        return {};
    }
    const xmplayer::SongDuration duration = xmplayer::measureSong(*song, rate);
    xmplayer::freeSong(song);
    return duration;
}

uint32_t littleEndian(const std::string& bytes, std::size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

class XmRenderTest : public ::testing::Test {
  protected:
    ToolRun run(const std::string& arguments, const std::filesystem::path& stdoutPath = {}) {
        return runTool("cd " + quoted(scratch_) + " && '" + renderer + "' " + arguments, scratch_,
                       stdoutPath);
    }

    ScratchFolder folder_{"xm_render_test"};
    const std::filesystem::path scratch_ = folder_.path();
};

TEST_F(XmRenderTest, WritesAWavFileThatIsTheSameOnEveryRun) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto song = corpusFiles("songs").front();
    const auto first = scratch_ / "first.wav";
    const ToolRun run1 = run(quoted(song) + " -o " + quoted(first) + " --seconds 2.5");
    ASSERT_EQ(run1.status, 0) << run1.err;
    EXPECT_NE(run1.err.find("Rendered 2.500 s (110250 frames at 44100 Hz)"), std::string::npos)
        << run1.err;

    const std::string wav = readWholeFile(first);
    ASSERT_EQ(wav.size(), 44u + 110250u * 4);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(littleEndian(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(wav.compare(8, 8, "WAVEfmt "), 0);
    EXPECT_EQ(littleEndian(wav, 20, 2), 1u) << "integer PCM";
    EXPECT_EQ(littleEndian(wav, 22, 2), 2u) << "channels";
    EXPECT_EQ(littleEndian(wav, 24, 4), 44100u);
    EXPECT_EQ(littleEndian(wav, 28, 4), 44100u * 4);
    EXPECT_EQ(littleEndian(wav, 32, 2), 4u);
    EXPECT_EQ(littleEndian(wav, 34, 2), 16u);
    EXPECT_EQ(wav.compare(36, 4, "data"), 0);
    EXPECT_EQ(littleEndian(wav, 40, 4), 110250u * 4);
    EXPECT_NE(wav.find_first_not_of('\0', 44), std::string::npos) << "all silent";

    const auto second = scratch_ / "second.wav";
    ASSERT_EQ(run(quoted(song) + " -o " + quoted(second) + " --seconds 2.5").status, 0);
    EXPECT_TRUE(readWholeFile(second) == wav) << "two renders differ";

    // Raw output is the WAV's data, and a shorter render is its beginning.
    const ToolRun runRaw = run(quoted(song) + " - --seconds 1");
    ASSERT_EQ(runRaw.status, 0) << runRaw.err;
    const std::string& pcm = runRaw.out;
    ASSERT_EQ(pcm.size(), 44100u * 4);
    EXPECT_EQ(wav.compare(44, pcm.size(), pcm), 0);
}

TEST_F(XmRenderTest, NamesTheOutputAfterTheSongAndTakesOtherRates) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto song = corpusFiles("songs").back();
    const ToolRun result = run(quoted(song) + " --rate 22050 --seconds 0.5");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string wav = readWholeFile(scratch_ / song.filename().replace_extension(".wav"));
    ASSERT_EQ(wav.size(), 44u + 11025u * 4);
    EXPECT_EQ(littleEndian(wav, 24, 4), 22050u);
}

// A batch gives each song the file it gets alone, whatever the threads; a
// song that fails is reported without stopping the others.
TEST_F(XmRenderTest, RendersABatchIntoAFolderAsEachSongAlone) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto songs = corpusFiles("songs");
    std::string arguments;
    for (const auto& song : songs) {
        arguments += quoted(song) + " ";
    }
    const auto missing = scratch_ / "missing.xm";
    const ToolRun batch =
        run(arguments + quoted(missing) + " -o batch/ --jobs 3 --seconds 1.5 --rate 22050");
    EXPECT_EQ(batch.status, 1) << "one song of the batch is missing";
    EXPECT_NE(batch.err.find("cannot load " + missing.string()), std::string::npos) << batch.err;
    EXPECT_NE(batch.err.find(std::to_string(songs.size()) + " of " +
                             std::to_string(songs.size() + 1) + " songs rendered"),
              std::string::npos)
        << batch.err;
    for (const auto& song : songs) {
        const auto name = song.filename().replace_extension(".wav");
        ASSERT_EQ(run(quoted(song) + " -o alone.wav --seconds 1.5 --rate 22050").status, 0);
        const std::string batched = readWholeFile(scratch_ / "batch" / name);
        EXPECT_EQ(batched.size(), 44u + 33075u * 4) << name;
        EXPECT_TRUE(batched == readWholeFile(scratch_ / "alone.wav")) << name;
    }
}

TEST_F(XmRenderTest, ExplainsWhatItRefuses) {
    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: xm_render [OPTIONS] SONG..."), std::string::npos) << help.out;
    const ToolRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("xm_render ", 0), 0u) << version.out;

    struct Refusal {
        std::string arguments;
        int status;
        std::string message;
    };
    const Refusal refusals[] = {
        {"", 2, "SONG is required"},
        {"a.xm --rate 999", 2, "--rate: 999 is not a rate"},
        {"a.xm --seconds nan", 2, "--seconds: nan is not a length"},
        {"a.xm --seconds 100000", 2, "--seconds 100000 is not a length"},
        {"a.xm --loud", 2, "argument was not expected: --loud"},
        {"a.xm --jobs 0", 2, "--jobs: 0 is not a count"},
        {"a.xm --loops 0", 2, "--loops: 0 is not a count"},
        {"a.xm --fade 61", 2, "--fade: 61 is not a length"},
        {"a.xm b.xm -", 2, "raw PCM to standard output takes one song"},
        {"a.xm -o out.mp3", 2, "cannot tell the format of out.mp3"},
        {"a.xm -o out.flac --float", 2, "--float is for WAV and raw output"},
        {"a.xm -o out.opus --rate 44100", 2, "--rate 44100 is not a rate Opus takes"},
        {"a.xm - --split-channels", 2, "--split-channels writes files"},
        {"missing.xm -o out.wav", 1, "cannot load missing.xm: No such file or directory"},
    };
    for (const Refusal& refusal : refusals) {
        const ToolRun result = run(refusal.arguments);
        EXPECT_EQ(result.status, refusal.status) << refusal.arguments;
        EXPECT_NE(result.err.find(refusal.message), std::string::npos)
            << refusal.arguments << ": " << result.err;
        if (refusal.status == 2) {
            EXPECT_NE(result.err.find("Try 'xm_render --help'"), std::string::npos)
                << refusal.arguments;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "out.wav"));
}

// Every format read back by sox (where it reads it) and by libsndfile: the
// encoding, rate, channels and length asked for, and sound in it.
TEST_F(XmRenderTest, WritesEachFormatItsNameAsksFor) {
    if (!haveSox()) {
        GTEST_SKIP() << "sox is not installed";
    }
    struct FormatCase {
        std::string output;
        std::string options;
        int rate;
        std::string soxEncoding;  // empty: sox cannot read it
        int bits;                 // of each value; 0 for a lossy encoding
    };
    const FormatCase cases[] = {
        {"16.wav", "", 44100, "Signed Integer PCM", 16},
        {"float.wav", "--float", 44100, "Floating Point PCM", 32},
        {"song.FLAC", "", 44100, "FLAC", 16},
        {"song.ogg", "--rate 22050", 22050, "Vorbis", 0},
        {"song.opus", "", 48000, "", 0},
        {"named", "--format flac", 44100, "FLAC", 16},
    };
    for (const FormatCase& format : cases) {
        const auto output = scratch_ / format.output;
        const ToolRun result =
            run(quoted(demoSong) + " -o " + quoted(output) + " --seconds 3 " + format.options);
        ASSERT_EQ(result.status, 0) << format.output << ": " << result.err;
        const int64_t frames = 3 * format.rate;
        if (!format.soxEncoding.empty()) {
            const auto soxInfo = [&](const char* field) {
                return runTool("sox --i " + std::string(field) + " " + quoted(output), scratch_)
                    .out;
            };
            EXPECT_EQ(soxInfo("-e"), format.soxEncoding + "\n") << format.output;
            EXPECT_EQ(soxInfo("-r"), std::to_string(format.rate) + "\n") << format.output;
            EXPECT_EQ(soxInfo("-c"), "2\n") << format.output;
            if (format.bits > 0) {
                EXPECT_EQ(soxInfo("-b"), std::to_string(format.bits) + "\n") << format.output;
            }
            EXPECT_EQ(soxInfo("-s"), std::to_string(frames) + "\n") << format.output;
        }
        const Decoded decoded = decode(output);
        EXPECT_EQ(decoded.rate, format.rate) << format.output;
        EXPECT_EQ(decoded.channels, 2) << format.output;
        EXPECT_EQ(decoded.frames(), frames) << format.output;
        float peak = 0.0f;
        for (const float value : decoded.values) {
            peak = std::max(peak, std::abs(value));
        }
        EXPECT_GT(peak, 0.05f) << format.output << " is all but silent";
    }
}

// FLAC is lossless: decoded by sox, it gives the WAV's values.
TEST_F(XmRenderTest, FlacDecodesToTheWavFramesExactly) {
    if (!haveSox()) {
        GTEST_SKIP() << "sox is not installed";
    }
    ASSERT_EQ(run(quoted(demoSong) + " -o song.wav --seconds 4").status, 0);
    ASSERT_EQ(run(quoted(demoSong) + " -o song.flac --seconds 4").status, 0);
    const ToolRun wav = runTool("sox " + quoted(scratch_ / "song.wav") + " -t s16 -", scratch_);
    const ToolRun flac = runTool("sox " + quoted(scratch_ / "song.flac") + " -t s16 -", scratch_);
    ASSERT_EQ(wav.out.size(), 4u * 4 * 44100);
    EXPECT_TRUE(flac.out == wav.out) << "FLAC decodes to other values than the WAV holds";
}

// Without a length the render is one pass through the song, as the player
// measures it; --loops adds the part the song loops back to.
TEST_F(XmRenderTest, RendersOnePassOrTheLoopsAsked) {
    std::vector<std::filesystem::path> songs{demoSong};
    for (const auto& song : corpusFiles("effects")) {
        if (song.filename() == "pos_jump.xm" || song.filename() == "pattern-delay.xm") {
            songs.push_back(song);
        }
    }
    for (const auto& song : songs) {
        for (const int32_t rate : {44100, 22050}) {
            const xmplayer::SongDuration duration = measure(song, rate);
            ASSERT_TRUE(duration.comesBack) << song;
            const std::string rateOption = " --rate " + std::to_string(rate);
            ASSERT_EQ(run(quoted(song) + " -o once.wav" + rateOption).status, 0) << song;
            ASSERT_EQ(run(quoted(song) + " -o thrice.wav --loops 3" + rateOption).status, 0);
            const int64_t once = decode(scratch_ / "once.wav").frames();
            const int64_t thrice = decode(scratch_ / "thrice.wav").frames();
            EXPECT_EQ(once * 1000 / rate, duration.milliseconds) << song << " at " << rate;
            const int64_t loop = duration.milliseconds - duration.loopStartMilliseconds;
            // Each of the three figures lost up to a millisecond when measured.
            EXPECT_NEAR(static_cast<double>(thrice) * 1000.0 / rate,
                        static_cast<double>(duration.milliseconds + 2 * loop), 3.0)
                << song << " at " << rate;
        }
    }
}

// The fade leaves everything before its last seconds alone and takes the
// rest down to silence in a straight line, whether the length is asked for
// or the end of the pass gives it.
TEST_F(XmRenderTest, FadesOutOverTheLastSeconds) {
    struct FadeCase {
        std::string length;
        double fadeSeconds;
    };
    for (const FadeCase& fade : {FadeCase{"--seconds 4", 1.5}, FadeCase{"", 2.0}}) {
        const std::string common = quoted(demoSong) + " --float --rate 22050 " + fade.length;
        ASSERT_EQ(run(common + " -o plain.wav").status, 0);
        ASSERT_EQ(run(common + " -o faded.wav --fade " + std::to_string(fade.fadeSeconds)).status,
                  0);
        const Decoded plain = decode(scratch_ / "plain.wav");
        const Decoded faded = decode(scratch_ / "faded.wav");
        ASSERT_EQ(faded.frames(), plain.frames()) << fade.length;
        const auto fadeFrames = static_cast<int64_t>(std::llround(fade.fadeSeconds * 22050));
        const int64_t fadeStart = plain.frames() - fadeFrames;
        for (int64_t f = 0; f < plain.frames(); ++f) {
            const double gain =
                f < fadeStart ? 1.0 : static_cast<double>(plain.frames() - 1 - f) / fadeFrames;
            for (int side = 0; side < 2; ++side) {
                const auto at = static_cast<std::size_t>(2 * f + side);
                ASSERT_NEAR(faded.values[at], plain.values[at] * gain, 1e-6)
                    << fade.length << ", frame " << f << " of " << plain.frames();
            }
        }
    }
}

// Each channel alone through the same mixer: the files add up to the mix,
// within the rounding of each to 16 bits.
TEST_F(XmRenderTest, SplitChannelsAddUpToTheMix) {
    ASSERT_EQ(run(quoted(demoSong) + " -o mix.wav --seconds 6").status, 0);
    const ToolRun split = run(quoted(demoSong) + " -o stems/song.wav --seconds 6 --split-channels");
    ASSERT_EQ(split.status, 0) << split.err;
    const Decoded mix = decode(scratch_ / "mix.wav");
    std::vector<double> sum(mix.values.size(), 0.0);
    const auto stem = [this](int channel) {
        char name[32];
        std::snprintf(name, sizeof name, "song.ch%02d.wav", channel);
        return scratch_ / "stems" / name;
    };
    int channels = 0;
    int sounding = 0;
    for (int c = 1; std::filesystem::exists(stem(c)); ++c) {
        const Decoded alone = decode(stem(c));
        decode(scratch_ / "stems" /
               ("song.ch" + std::string(c < 10 ? "0" : "") + std::to_string(c) + ".wav"));
        ASSERT_EQ(alone.values.size(), mix.values.size()) << "channel " << c;
        float peak = 0.0f;
        for (std::size_t i = 0; i < sum.size(); ++i) {
            sum[i] += alone.values[i];
            peak = std::max(peak, std::abs(alone.values[i]));
        }
        sounding += peak > 0.01f ? 1 : 0;
        EXPECT_FALSE(alone.values == mix.values) << "channel " << c << " is the whole mix";
        ++channels;
    }
    EXPECT_EQ(channels, 10) << "the demo's song has 10 channels";
    EXPECT_GE(sounding, 4) << "channels that sound within the first 6 seconds";
    // Half a step of rounding per file, the mix's included.
    const double tolerance = (channels + 1) * 0.5 / 32768.0 + 1e-9;
    for (std::size_t i = 0; i < sum.size(); ++i) {
        ASSERT_NEAR(sum[i], mix.values[i], tolerance) << "value " << i;
    }
}

TEST_F(XmRenderTest, GivesTheLoadersReasonForAMalformedSong) {
    SKIP_WITHOUT_CORPUS("malformed");
    for (const auto& song : corpusFiles("malformed")) {
        const ToolRun result = run(quoted(song) + " --seconds 0.2 -o out.wav");
        if (result.status == 0) {
            std::filesystem::remove(scratch_ / "out.wav");
            continue;  // some malformed files still load and play
        }
        EXPECT_EQ(result.status, 1) << song;
        EXPECT_NE(result.err.find("xm_render: cannot load "), std::string::npos) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
        EXPECT_GT(result.err.size(),
                  std::string("xm_render: cannot load : \n").size() + song.string().size() + 5)
            << "no reason given: " << result.err;
        EXPECT_FALSE(std::filesystem::exists(scratch_ / "out.wav")) << song;
    }
    const auto notASong = scratch_ / "text.xm";
    std::ofstream(notASong) << "just some text, long enough to be read as a header of sorts";
    const ToolRun result = run(quoted(notASong));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not an XM file"), std::string::npos) << result.err;
}

TEST_F(XmRenderTest, ReportsAFailedWriteAndLeavesNoPartialFile) {
    SKIP_WITHOUT_CORPUS("songs");
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    const auto song = corpusFiles("songs").front();
    const ToolRun full = run(quoted(song) + " - --seconds 2", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write standard output: No space left on device"),
              std::string::npos)
        << full.err;
    const ToolRun noDirectory = run(quoted(song) + " -o no/such/dir/out.wav");
    EXPECT_EQ(noDirectory.status, 1);
    EXPECT_NE(noDirectory.err.find("cannot create no/such/dir/out.wav"), std::string::npos)
        << noDirectory.err;
}

}  // namespace
