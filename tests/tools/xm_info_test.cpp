// xm_info end to end: the duration and loop point it prints agree with the
// player's measure, one line per file with --short, JSON that a JSON reader
// takes with --json, and refused files reported in each layout.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"
#include "tests/tools/tool_run.h"

namespace {

const std::string describer = XM_INFO;

std::string clockText(int64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld",
                  static_cast<long long>(milliseconds / 60000),
                  static_cast<long long>(milliseconds / 1000 % 60),
                  static_cast<long long>(milliseconds % 1000));
    return text;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t found = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++found;
    }
    return found;
}

class XmInfoTest : public ::testing::Test {
  protected:
    ToolRun run(const std::string& arguments) {
        return runTool("'" + describer + "' " + arguments, scratch_);
    }

    ScratchFolder folder_{"xm_info_test"};
    const std::filesystem::path scratch_ = folder_.path();
};

TEST_F(XmInfoTest, ShortAndJsonLayoutsGiveThePlayersMeasure) {
    const auto songs = corpusAndDemoSongs();
    std::string arguments;
    for (const auto& song : songs) {
        arguments += quoted(song) + " ";
    }
    const ToolRun shortRun = run("--short " + arguments);
    ASSERT_EQ(shortRun.status, 0) << shortRun.err;
    EXPECT_EQ(count(shortRun.out, "\n"), songs.size()) << shortRun.out;
    const ToolRun json = run("--json " + arguments);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.rfind("[\n", 0), 0u);
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "]\n");
    EXPECT_EQ(count(json.out, "\"file\": "), songs.size());

    std::size_t lineStart = 0;
    for (const auto& song : songs) {
        xmplayer::Song* loaded = xmplayer::loadSongFile(song.string().c_str());
        ASSERT_NE(loaded, nullptr) << song;
        const xmplayer::SongDuration duration = xmplayer::measureSong(*loaded);
        const int32_t channels = xmplayer::describeSong(*loaded).channels;
        xmplayer::freeSong(loaded);

        const std::size_t lineEnd = shortRun.out.find('\n', lineStart);
        const std::string line = shortRun.out.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        EXPECT_NE(line.find(clockText(duration.milliseconds) + "  "), std::string::npos) << line;
        EXPECT_NE(line.find(" " + song.string() + " "), std::string::npos) << line;
        EXPECT_NE(line.find(" " + std::to_string(channels) + " ch "), std::string::npos) << line;
        if (duration.comesBack) {
            EXPECT_NE(line.find("back to " + clockText(duration.loopStartMilliseconds) +
                                ", order " + std::to_string(duration.loopOrder) + " row " +
                                std::to_string(duration.loopRow)),
                      std::string::npos)
                << line;
        }

        const std::size_t object = json.out.find("{\"file\": \"" + song.string() + "\"");
        ASSERT_NE(object, std::string::npos) << song;
        const std::string fields = json.out.substr(object, json.out.find('\n', object) - object);
        EXPECT_NE(fields.find("\"durationMilliseconds\": " + std::to_string(duration.milliseconds) +
                              ", "),
                  std::string::npos)
            << fields;
        const std::string loop =
            duration.comesBack
                ? "{\"order\": " + std::to_string(duration.loopOrder) +
                      ", \"row\": " + std::to_string(duration.loopRow) +
                      ", \"startMilliseconds\": " + std::to_string(duration.loopStartMilliseconds) +
                      "}"
                : "null";
        EXPECT_NE(fields.find("\"loop\": " + loop + "}"), std::string::npos) << fields;
        EXPECT_NE(fields.find("\"channels\": " + std::to_string(channels) + ","), std::string::npos)
            << fields;
    }
}

// Names that JSON must escape, and a file refused among loaded ones: still
// one well-formed document, the refusal an object of its own.
TEST_F(XmInfoTest, JsonEscapesNamesAndKeepsRefusedFiles) {
    const auto demo = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    const auto odd = scratch_ / "odd \"name\" \\ here.xm";
    std::filesystem::copy_file(demo, odd);
    const auto notASong = scratch_ / "text.xm";
    std::ofstream(notASong) << "just some text, long enough to be read as a header of sorts";
    const ToolRun json = run("--json " + quoted(odd) + " " + quoted(notASong) + " " + quoted(demo));
    EXPECT_EQ(json.status, 1) << "one file is refused";
    EXPECT_NE(json.err.find("xm_info: " + notASong.string() + ": refused: "), std::string::npos)
        << json.err;
    EXPECT_NE(json.out.find("odd \\\"name\\\" \\\\ here.xm"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("{\"file\": \"" + notASong.string() + "\", \"error\": \""),
              std::string::npos)
        << json.out;
    EXPECT_EQ(count(json.out, "\"durationMilliseconds\""), 2u);
    if (std::system("python3 -c '' >/dev/null 2>&1") == 0) {
        std::ofstream(scratch_ / "out.json") << json.out;
        const ToolRun check =
            runTool("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(len(d))' " +
                        quoted(scratch_ / "out.json"),
                    scratch_);
        EXPECT_EQ(check.out, "3\n") << check.err;
    }
}

TEST_F(XmInfoTest, FullListingTellsTheDurationAndLoop) {
    const auto demo = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    const ToolRun full = run(quoted(demo) + " " + quoted(scratch_ / "missing.xm"));
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("Title:       \"Pyramid Sunrise\"\n"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("Duration:    0:54.867 (54867 ms)\n"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("Loop:        back to order 1, row 0, first played at 0:07.680\n"),
              std::string::npos)
        << full.out;
    EXPECT_NE(full.err.find("missing.xm: refused: No such file or directory"), std::string::npos)
        << full.err;

    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: xm_info [OPTIONS] FILE..."), std::string::npos);
    EXPECT_NE(help.out.find("JSON output:"), std::string::npos);
    const ToolRun none = run("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("xm_info: FILE is required"), std::string::npos) << none.err;
    const ToolRun badRate = run(quoted(demo) + " --rate 12");
    EXPECT_EQ(badRate.status, 2);
    EXPECT_NE(badRate.err.find("--rate: 12 is not a rate"), std::string::npos) << badRate.err;
}

}  // namespace
