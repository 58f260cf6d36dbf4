// xm_render end to end: the WAV it writes, the raw PCM it streams, that both
// are the same on every run, and its refusals.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/corpus.h"
#include "tests/tools/tool_run.h"

namespace {

const std::string renderer = XM_RENDER;

uint32_t littleEndian(const std::string& bytes, std::size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

class XmRenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = std::filesystem::temp_directory_path() /
                   ("xm_render_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(scratch_);
    }
    void TearDown() override { std::filesystem::remove_all(scratch_); }

    ToolRun run(const std::string& arguments, const std::filesystem::path& stdoutPath = {}) {
        return runTool("cd " + quoted(scratch_) + " && '" + renderer + "' " + arguments, scratch_,
                       stdoutPath);
    }

    std::filesystem::path scratch_;
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
    EXPECT_NE(help.out.find("Usage: xm_render SONG.xm"), std::string::npos);

    struct Refusal {
        std::string arguments;
        int status;
        std::string message;
    };
    const Refusal refusals[] = {
        {"", 2, "no song given"},
        {"a.xm --rate 999", 2, "--rate 999 is not a rate"},
        {"a.xm --seconds nan", 2, "--seconds nan is not a length"},
        {"a.xm --seconds 100000", 2, "--seconds 100000 is not a length"},
        {"a.xm --loud", 2, "unknown option --loud"},
        {"a.xm --jobs 0", 2, "--jobs 0 is not a count"},
        {"a.xm b.xm -", 2, "raw PCM to standard output takes one song"},
        {"missing.xm -o out.wav", 1, "cannot load missing.xm: No such file or directory"},
    };
    for (const Refusal& refusal : refusals) {
        const ToolRun result = run(refusal.arguments);
        EXPECT_EQ(result.status, refusal.status) << refusal.arguments;
        EXPECT_NE(result.err.find(refusal.message), std::string::npos)
            << refusal.arguments << ": " << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "out.wav"));
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
