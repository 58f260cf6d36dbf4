// xm_play: plays an XM song on the sound card through the player's driver and
// shows, on one updating line, where the music being heard is.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/sound_card.h"
#include "platform/terminal.h"
#include "player/player.h"
// The status line names the pattern that the order list gives.
#include "player/song/song.h"
#include "tools/command_line.h"
#include "tools/song_title.h"

namespace {

using namespace xmplayer;

constexpr int32_t defaultRate = 44100;
constexpr double maxSeconds = 1.0e7;
constexpr int refreshMilliseconds = 50;
constexpr unsigned char escapeKey = 0x1b;

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) {
    interrupted = 1;
}

void printUsage(std::FILE* to) {
    std::fputs(
        "Usage: xm_play SONG.xm [--rate HZ] [--seconds S]\n"
        "\n"
        "Plays an XM song on the sound card and shows the order position, row and\n"
        "time of the music being heard. q or Escape stops.\n"
        "\n"
        "  --rate HZ      frames per second, 1000 to 384000 (default 44100)\n"
        "  --seconds S    stop after S seconds (default: play until stopped)\n"
        "  -h, --help     show this help\n",
        to);
}

struct Options {
    std::string songPath;
    int32_t rate = defaultRate;
    std::optional<double> seconds;
};

bool parseArguments(int argc, char** argv, Options& options, bool& helpShown) {
    helpShown = false;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            printUsage(stdout);
            helpShown = true;
            return true;
        } else if (argument == "--rate" || argument == "--seconds") {
            if (i + 1 >= arguments.size()) {
                std::fprintf(stderr, "xm_play: %s needs a value\n", argument.c_str());
                return false;
            }
            const std::string& value = arguments[++i];
            if (argument == "--rate") {
                const auto rate = parseRate(value);
                if (!rate) {
                    std::fprintf(stderr, "xm_play: --rate %s is not a rate from %d to %d\n",
                                 value.c_str(), minOutputRate, maxOutputRate);
                    return false;
                }
                options.rate = *rate;
            } else {
                options.seconds = parseSeconds(value, maxSeconds);
                if (!options.seconds) {
                    std::fprintf(stderr, "xm_play: --seconds %s is not a length above 0\n",
                                 value.c_str());
                    return false;
                }
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "xm_play: unknown option %s\n", argument.c_str());
            return false;
        } else if (options.songPath.empty()) {
            options.songPath = argument;
        } else {
            std::fprintf(stderr, "xm_play: more than one song given (%s)\n", argument.c_str());
            return false;
        }
    }
    if (options.songPath.empty()) {
        std::fputs("xm_play: no song given\n", stderr);
        return false;
    }
    return true;
}

// Waits up to the refresh interval for keys; true once q or a lone Escape
// (not the start of an arrow key's sequence) has been pressed.
bool stopKeyPressed(bool& inputOpen) {
    const std::string keys = readKeys(refreshMilliseconds, inputOpen);
    if (keys.size() == 1 && static_cast<unsigned char>(keys[0]) == escapeKey) {
        return true;
    }
    return keys.find_first_of("qQ") != std::string::npos;
}

std::string statusText(const OutputDevice& output, const Song* song) {
    const int32_t order = getPlayingOrder(output, song);
    const int32_t timeMs = getPlayingTimeMs(output, song);
    char text[96];
    std::snprintf(text, sizeof text, "order %3d/%d  pattern %3d  row %3d  %d:%02d.%d", order,
                  song->songLength, song->orders[static_cast<std::size_t>(order)],
                  getPlayingRow(output, song), timeMs / 60000, timeMs / 1000 % 60,
                  timeMs / 100 % 10);
    return text;
}

int play(const Options& options) {
    std::string reason;
    Song* song = loadSongFile(options.songPath.c_str(), &reason);
    if (song == nullptr) {
        std::fprintf(stderr, "xm_play: cannot load %s: %s\n", options.songPath.c_str(),
                     reason.c_str());
        return 1;
    }
    OutputDevice* output = createOutputDevice();
    const WaveDevice device = soundCardDevice();
    if (output != nullptr) {
        setWaveDevice(*output, &device);
    }
    if (output == nullptr || !openOutputDevice(*output, options.rate, 0)) {
        std::fprintf(stderr, "xm_play: cannot open the sound device at %d Hz: %s\n", options.rate,
                     soundCardError());
        destroyOutputDevice(output);
        freeSong(song);
        return 1;
    }
    onStopRequest(onSignal);

    const std::string title = readSongTitle(options.songPath);
    if (title.empty()) {
        std::printf("Playing %s; q or Escape stops\n", options.songPath.c_str());
    } else {
        std::printf("Playing \"%s\" (%s); q or Escape stops\n", title.c_str(),
                    options.songPath.c_str());
    }
    std::fflush(stdout);
    if (!playSong(*output, song)) {
        std::fputs("xm_play: playback could not start\n", stderr);
        destroyOutputDevice(output);
        freeSong(song);
        return 1;
    }

    const bool terminal = isTerminal(StandardStream::Output);
    const auto start = std::chrono::steady_clock::now();
    auto lastLine = start;
    std::string shown;
    bool inputOpen = true;
    {
        RawKeyboard keyboard;
        while (interrupted == 0 && !stopKeyPressed(inputOpen)) {
            const auto now = std::chrono::steady_clock::now();
            if (options.seconds &&
                std::chrono::duration<double>(now - start).count() >= *options.seconds) {
                break;
            }
            const std::string status = statusText(*output, song);
            if (terminal && status != shown) {
                // Padded so that a shorter line wipes out the longer one before.
                std::printf("\r%-60s", status.c_str());
                std::fflush(stdout);
                shown = status;
            } else if (!terminal && now - lastLine >= std::chrono::seconds(1)) {
                std::printf("%s\n", status.c_str());
                std::fflush(stdout);
                lastLine = now;
            }
        }
    }
    if (terminal) {
        std::putchar('\n');
    }
    destroyOutputDevice(output);  // stops playback and closes the device
    freeSong(song);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool helpShown = false;
    if (!parseArguments(argc, argv, options, helpShown)) {
        std::fputs("Try 'xm_play --help' for more information.\n", stderr);
        return 2;
    }
    if (helpShown) {
        return 0;
    }
    return play(options);
}
