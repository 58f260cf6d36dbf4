// xm_play through SDL's disk audio driver, which writes what the sound card
// would have played to a file: that must be the renderer's output of the same
// song from its start. How it stops, at the end of the song or on a key; its
// live display in a terminal (tmux) as keys are pressed; the plain lines it
// prints on a dumb terminal or a pipe.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "generators/xm_writer.h"
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

const std::filesystem::path demoSong = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets/song.xm";

// A song of one 16-row pattern at speed 6 and 125 BPM: 1.92 s, then it comes
// back to its start. A note sounds all through it.
void writeShortSong(const std::filesystem::path& path) {
    xm::Module module;
    module.channels = 1;
    module.orders = {0};
    module.patterns = {xm::makePattern(16, 1)};
    xm::Instrument instrument;
    xm::Sample sample;
    sample.values.assign(64, 8000);
    sample.loop = xm::LoopKind::Forward;
    sample.loopLength = 64;
    instrument.samples.push_back(sample);
    module.instruments.push_back(instrument);
    xm::cellAt(module.patterns[0], 1, 0, 0) = {49, 1, 0, 0, 0};
    const std::vector<uint8_t> bytes = xm::writeModule(module);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class XmPlayTest : public ::testing::Test {
  protected:
    // Plays with the disk driver into captured.raw, at about real time, with
    // standard input from /dev/null or from the given shell command.
    ToolRun play(const std::string& arguments, const std::string& input = {}) {
        const std::string command = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + quoted(captured()) +
                                    " '" + player + "' " + arguments;
        return runTool(input.empty() ? command + " </dev/null" : input + " | " + command, scratch_);
    }
    std::filesystem::path captured() const { return scratch_ / "captured.raw"; }

    ScratchFolder folder_{"xm_play_test"};
    const std::filesystem::path scratch_ = folder_.path();
};

TEST_F(XmPlayTest, PlaysWhatTheRendererRenders) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto song = corpusFiles("songs").front();
    const ToolRun played = play(quoted(song) + " --seconds 1.5");
    ASSERT_EQ(played.status, 0) << played.err;
    EXPECT_NE(played.out.find("Playing \""), std::string::npos) << played.out;
    EXPECT_NE(played.out.find("order   0/"), std::string::npos) << played.out;
    EXPECT_EQ(played.out.find('\x1b'), std::string::npos) << "escape codes into a pipe";

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

// Without --loop the player ends with the song's one pass; with it, the song
// plays on.
TEST_F(XmPlayTest, StopsAtTheEndOfTheSongUnlessLooping) {
    const auto song = scratch_ / "short.xm";
    writeShortSong(song);
    constexpr double passSeconds = 1.92;
    struct LoopCase {
        std::string options;
        double leastSeconds;
        double mostSeconds;
    };
    for (const LoopCase& loop : {LoopCase{"", passSeconds, passSeconds + 1.0},
                                 LoopCase{"--loop --seconds 3.5", 3.4, 4.5}}) {
        std::filesystem::remove(captured());
        const ToolRun played = play(quoted(song) + " " + loop.options);
        ASSERT_EQ(played.status, 0) << loop.options << ": " << played.err;
        const std::string sound = withoutLeadingSilence(readWholeFile(captured()));
        const double seconds = static_cast<double>(sound.size()) / 4.0 / 44100.0;
        EXPECT_GE(seconds, loop.leastSeconds) << loop.options;
        EXPECT_LE(seconds, loop.mostSeconds) << loop.options;
    }
}

// A terminal of its own in tmux: the display redraws in place and follows
// space, the arrows, + and q; on a dumb terminal the same keys give plain
// lines.
class XmPlayTerminalTest : public XmPlayTest {
  protected:
    void SetUp() override {
        XmPlayTest::SetUp();
        if (std::system("tmux -V >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "tmux is not installed";
        }
        server_ = "xm_play_test_" + std::to_string(::getpid());
    }
    void TearDown() override {
        if (!server_.empty()) {
            tmux("kill-server");
        }
        XmPlayTest::TearDown();
    }

    std::string tmux(const std::string& arguments) {
        return runTool("tmux -L " + server_ + " " + arguments, scratch_).out;
    }

    // Starts xm_play in a 100 x 30 terminal; the pane stays after it ends.
    void start(const std::string& environment) {
        const auto script = scratch_ / "play.sh";
        std::ofstream(script) << "env SDL_AUDIODRIVER=dummy " << environment << " '" << player
                              << "' " << quoted(demoSong) << "\necho exit=$?\nsleep 60\n";
        tmux("new-session -d -x 100 -y 30 sh " + quoted(script));
    }

    // The pane's text once it holds `text` (or no longer does), or what it
    // held when time ran out.
    std::string waitFor(const std::string& text, bool shown = true) {
        std::string pane;
        for (int tries = 0; tries < 100; ++tries) {
            pane = tmux("capture-pane -p");
            if ((pane.find(text) != std::string::npos) == shown) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return pane;
    }

    void press(const std::string& key) { tmux("send-keys " + key); }

    std::string server_;
};

TEST_F(XmPlayTerminalTest, LiveDisplayFollowsTheKeys) {
    start("");
    std::string pane = waitFor("Order   0/8");
    ASSERT_NE(pane.find("Playing \"Pyramid Sunrise\""), std::string::npos) << pane;
    EXPECT_NE(pane.find("Time 0:"), std::string::npos) << pane;
    EXPECT_NE(pane.find("/ 0:54.8"), std::string::npos) << "the duration: " << pane;
    EXPECT_NE(pane.find("10 "), std::string::npos) << "a meter for each of 10 channels: " << pane;

    struct Step {
        std::string key;
        std::string shown;
    };
    const Step steps[] = {
        {"Space", "[paused]"},   {"Right", "Order   1/8"}, {"Right", "Order   2/8"},
        {"+", "Volume 110%"},    {"-", "Volume 100%"},     {"-", "Volume 90%"},
        {"Left", "Order   1/8"},
    };
    for (const Step& step : steps) {
        press(step.key);
        pane = waitFor(step.shown);
        EXPECT_NE(pane.find(step.shown), std::string::npos) << step.key << ":\n" << pane;
        EXPECT_EQ(pane.find("Order ", pane.find("Order ") + 1), std::string::npos)
            << "the display is drawn again below itself:\n"
            << pane;
    }
    press("Space");
    pane = waitFor("[paused]", false);
    EXPECT_EQ(pane.find("[paused]"), std::string::npos) << "space again plays on:\n" << pane;
    press("q");
    pane = waitFor("exit=");
    EXPECT_NE(pane.find("exit=0"), std::string::npos) << pane;
}

TEST_F(XmPlayTerminalTest, DumbTerminalGetsPlainLines) {
    start("TERM=dumb");
    waitFor("order   0/8");
    press("Space");
    std::string pane = waitFor("  paused");
    EXPECT_NE(pane.find("Playing \"Pyramid Sunrise\""), std::string::npos) << pane;
    press("Right");
    pane = waitFor("order   1/8");
    EXPECT_NE(pane.find("order   1/8  pattern   1  row   0  0:07.6 / 0:54.8  paused  order 1"),
              std::string::npos)
        << pane;
    EXPECT_EQ(pane.find("Order "), std::string::npos) << "the live display on a dumb terminal";
    press("Escape");
    pane = waitFor("exit=");
    EXPECT_NE(pane.find("exit=0"), std::string::npos) << pane;
}

TEST_F(XmPlayTest, ExplainsWhatItRefuses) {
    const ToolRun help = play("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: xm_play [OPTIONS] SONG"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("left, right"), std::string::npos) << "the keys";
    const ToolRun missing = play(quoted(scratch_ / "missing.xm"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(captured())) << "the device was opened for nothing";
}

}  // namespace
