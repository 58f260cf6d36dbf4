// xm_play through SDL's disk audio driver, which writes what the sound card
// would have played to a file: that must be the renderer's output of the same
// song from its start. Also how the player stops and what it shows.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/corpus.h"
#include "tests/tools/tool_run.h"

namespace {

const std::string player = XM_PLAY;
const std::string renderer = XM_RENDER;

// 16-bit stereo frames from the first one that is not silent.
std::string withoutLeadingSilence(const std::string& pcm) {
    std::size_t frame = 0;
    while (frame + 4 <= pcm.size() && pcm.compare(frame, 4, std::string(4, '\0')) == 0) {
        frame += 4;
    }
    return pcm.substr(frame);
}

class XmPlayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ =
            std::filesystem::temp_directory_path() / ("xm_play_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(scratch_);
    }
    void TearDown() override { std::filesystem::remove_all(scratch_); }

    // Plays with the disk driver into captured.raw, at about real time, with
    // standard input from /dev/null or from the given shell command.
    ToolRun play(const std::string& arguments, const std::string& input = {}) {
        const std::string command = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + quoted(captured()) +
                                    " '" + player + "' " + arguments;
        return runTool(input.empty() ? command + " </dev/null" : input + " | " + command, scratch_);
    }
    std::filesystem::path captured() const { return scratch_ / "captured.raw"; }

    std::filesystem::path scratch_;
};

TEST_F(XmPlayTest, PlaysWhatTheRendererRenders) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto song = corpusFiles("songs").front();
    const ToolRun played = play(quoted(song) + " --seconds 1.5");
    ASSERT_EQ(played.status, 0) << played.err;
    EXPECT_NE(played.out.find("Playing \""), std::string::npos) << played.out;
    EXPECT_NE(played.out.find("order   0/"), std::string::npos) << played.out;

    // The device plays silence of its own while it is open but not yet
    // started; the song begins at its first sounding frame in both.
    const std::string sound = withoutLeadingSilence(readWholeFile(captured()));
    ASSERT_GT(sound.size(), 44100u * 4 / 2) << "less than half a second was played";
    const ToolRun rendered =
        runTool("'" + renderer + "' " + quoted(song) + " - --seconds 5", scratch_);
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const std::string expected = withoutLeadingSilence(rendered.out);
    ASSERT_LE(sound.size(), expected.size());
    EXPECT_TRUE(expected.compare(0, sound.size(), sound) == 0)
        << "the sound card was given other frames than the renderer wrote";
}

TEST_F(XmPlayTest, StopsOnQOrEscape) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto song = corpusFiles("songs").front();
    for (const std::string key : {"q", "\\033"}) {
        const auto start = std::chrono::steady_clock::now();
        const ToolRun played =
            play(quoted(song) + " --seconds 30", "(sleep 0.5; printf '" + key + "')");
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(played.status, 0) << played.err;
        EXPECT_LT(took, std::chrono::seconds(10)) << key;
    }
}

TEST_F(XmPlayTest, ExplainsWhatItRefuses) {
    const ToolRun help = play("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: xm_play SONG.xm"), std::string::npos);
    const ToolRun missing = play(quoted(scratch_ / "missing.xm"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(captured())) << "the device was opened for nothing";
}

}  // namespace
