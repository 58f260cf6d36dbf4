// xm_render: renders an XM song through the player's own playback path to a
// WAV file, or as raw PCM to standard output, as fast as the machine allows.
// The frames are exactly those a sound card would play from the start.

#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/song/player_control.h"
#include "tools/command_line.h"
#include "tools/song_file.h"

namespace {

constexpr int32_t defaultRate = 44100;
constexpr double defaultSeconds = 60.0;
constexpr uint32_t wavHeaderBytes = 44;
constexpr uint32_t bytesPerFrame = 4;
// A WAV file counts its bytes in 32 bits; raw output has no such bound.
constexpr uint64_t maxWavFrames = (UINT32_MAX - (wavHeaderBytes - 8)) / bytesPerFrame;
constexpr double maxRawSeconds = 1.0e7;
constexpr auto progressDelay = std::chrono::milliseconds(500);

void printUsage(std::FILE* to) {
    std::fputs(
        "Usage: xm_render SONG.xm [-o OUT.wav | -] [--rate HZ] [--seconds S]\n"
        "\n"
        "Renders an XM song through the player to a 16-bit stereo WAV file, or\n"
        "with \"-\" as raw signed 16-bit little-endian stereo PCM (left first) to\n"
        "standard output. The output is what a sound card would play from the\n"
        "song's start, the same on every run.\n"
        "\n"
        "  -o OUT.wav     the WAV file to write (default: SONG.wav in the current\n"
        "                 directory); \"-o -\" or \"-\" writes raw PCM to stdout\n"
        "  --rate HZ      frames per second, 1000 to 384000 (default 44100)\n"
        "  --seconds S    length in seconds, fractions allowed (default 60)\n"
        "  -h, --help     show this help\n",
        to);
}

struct Options {
    std::string songPath;
    std::string outputPath;  // "-" for standard output
    int32_t rate = defaultRate;
    double seconds = defaultSeconds;
};

// Returns false after printing what is wrong.
bool parseArguments(int argc, char** argv, Options& options, bool& helpShown) {
    helpShown = false;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string rateText;
    std::string secondsText;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "-h" || argument == "--help") {
            printUsage(stdout);
            helpShown = true;
            return true;
        } else if (argument == "-o" || argument == "--rate" || argument == "--seconds") {
            if (!hasValue) {
                std::fprintf(stderr, "xm_render: %s needs a value\n", argument.c_str());
                return false;
            }
            const std::string& value = arguments[++i];
            (argument == "-o"       ? options.outputPath
             : argument == "--rate" ? rateText
                                    : secondsText) = value;
        } else if (argument == "-") {
            options.outputPath = argument;
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "xm_render: unknown option %s\n", argument.c_str());
            return false;
        } else if (options.songPath.empty()) {
            options.songPath = argument;
        } else {
            std::fprintf(stderr, "xm_render: more than one song given (%s)\n", argument.c_str());
            return false;
        }
    }
    if (options.songPath.empty()) {
        std::fputs("xm_render: no song given\n", stderr);
        return false;
    }
    if (!rateText.empty()) {
        const auto rate = parseRate(rateText);
        if (!rate) {
            std::fprintf(stderr, "xm_render: --rate %s is not a rate from %d to %d\n",
                         rateText.c_str(), minOutputRate, maxOutputRate);
            return false;
        }
        options.rate = *rate;
    }
    if (options.outputPath.empty()) {
        options.outputPath =
            std::filesystem::path(options.songPath).filename().replace_extension(".wav").string();
    }
    const bool raw = options.outputPath == "-";
    const double maxSeconds =
        raw ? maxRawSeconds : static_cast<double>(maxWavFrames) / options.rate;
    if (!secondsText.empty()) {
        const auto seconds = parseSeconds(secondsText, maxSeconds);
        if (!seconds) {
            std::fprintf(stderr, "xm_render: --seconds %s is not a length above 0 and up to %.0f\n",
                         secondsText.c_str(), std::floor(maxSeconds));
            return false;
        }
        options.seconds = *seconds;
    }
    return true;
}

void putLittleEndian(std::vector<unsigned char>& bytes, uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

std::vector<unsigned char> wavHeader(int32_t rate, uint64_t frames) {
    const auto dataBytes = static_cast<uint32_t>(frames * bytesPerFrame);
    std::vector<unsigned char> header;
    const auto text = [&header](const char* chunk) {
        header.insert(header.end(), chunk, chunk + 4);
    };
    text("RIFF");
    putLittleEndian(header, wavHeaderBytes - 8 + dataBytes, 4);
    text("WAVE");
    text("fmt ");
    putLittleEndian(header, 16, 4);  // size of the format chunk
    putLittleEndian(header, 1, 2);   // integer PCM
    putLittleEndian(header, 2, 2);   // channels
    putLittleEndian(header, static_cast<uint32_t>(rate), 4);
    putLittleEndian(header, static_cast<uint32_t>(rate) * bytesPerFrame, 4);
    putLittleEndian(header, bytesPerFrame, 2);
    putLittleEndian(header, 16, 2);  // bits per value
    text("data");
    putLittleEndian(header, dataBytes, 4);
    return header;
}

class ProgressLine {
  public:
    ProgressLine(double totalSeconds, int32_t rate)
        : totalSeconds_(totalSeconds), rate_(rate), terminal_(isatty(STDERR_FILENO) == 1) {}

    void update(uint64_t frames) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < progressDelay || now - lastShown_ < interval()) {
            return;
        }
        lastShown_ = now;
        shown_ = true;
        const double seconds = static_cast<double>(frames) / rate_;
        std::fprintf(stderr, "%sRendering: %.1f s of %.1f s (%.0f%%)%s", terminal_ ? "\r" : "",
                     seconds, totalSeconds_, 100.0 * seconds / totalSeconds_,
                     terminal_ ? "" : "\n");
        std::fflush(stderr);
    }

    void finish() {
        if (shown_ && terminal_) {
            std::fputc('\n', stderr);
        }
    }

  private:
    std::chrono::milliseconds interval() const {
        return terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
    }

    double totalSeconds_;
    int32_t rate_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown_{};
};

struct Output {
    std::FILE* file;
    std::vector<int16_t> swapped;  // only used on big-endian machines
    int error;                     // errno of the first failed write
    ProgressLine* progress;
    uint64_t framesWritten;
};

bool writeFrames(const int16_t* frames, uint32_t frameCount, void* context) {
    auto& output = *static_cast<Output*>(context);
    const std::size_t values = std::size_t{frameCount} * 2;
    const int16_t* data = frames;
    if constexpr (std::endian::native == std::endian::big) {
        output.swapped.assign(frames, frames + values);
        for (int16_t& value : output.swapped) {
            const auto bits = static_cast<uint16_t>(value);
            value = static_cast<int16_t>(static_cast<uint16_t>((bits << 8) | (bits >> 8)));
        }
        data = output.swapped.data();
    }
    if (std::fwrite(data, sizeof(int16_t), values, output.file) != values) {
        output.error = errno != 0 ? errno : EIO;
        return false;
    }
    output.framesWritten += frameCount;
    output.progress->update(output.framesWritten);
    return true;
}

int render(const Options& options) {
    const bool raw = options.outputPath == "-";
    if (raw && isatty(STDOUT_FILENO) == 1) {
        std::fputs("xm_render: not writing raw PCM to a terminal; redirect standard output\n",
                   stderr);
        return 1;
    }
    const auto frames =
        static_cast<uint64_t>(std::llround(options.seconds * static_cast<double>(options.rate)));
    if (frames == 0) {
        std::fputs("xm_render: --seconds is shorter than one frame\n", stderr);
        return 1;
    }

    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    setWaveDevice(&device);
    std::string reason;
    Song* song = loadSongFile(options.songPath, reason);
    if (song == nullptr) {
        std::fprintf(stderr, "xm_render: cannot load %s: %s\n", options.songPath.c_str(),
                     reason.c_str());
        return 1;
    }
    if (!openOutputDevice(options.rate, 0)) {
        std::fprintf(stderr, "xm_render: cannot open the renderer at %d Hz\n", options.rate);
        freeSong(song);
        return 1;
    }

    ProgressLine progress(options.seconds, options.rate);
    Output output{raw ? stdout : std::fopen(options.outputPath.c_str(), "wb"), {}, 0, &progress, 0};
    if (output.file == nullptr) {
        std::fprintf(stderr, "xm_render: cannot create %s: %s\n", options.outputPath.c_str(),
                     std::strerror(errno));
        freeSong(song);
        closeOutputDevice();
        return 1;
    }
    if (!raw) {
        const auto header = wavHeader(options.rate, frames);
        if (std::fwrite(header.data(), 1, header.size(), output.file) != header.size()) {
            output.error = errno != 0 ? errno : EIO;
        }
    }

    target.sink = writeFrames;
    target.sinkContext = &output;
    target.frameLimit = frames;
    bool played = output.error == 0 && playSong(song);
    // The sink shows the progress on the feeder thread; this one only waits
    // to be told that the last frame is out.
    while (played && !target.finished.load()) {
        target.finished.wait(false);
    }
    progress.finish();
    freeSong(song);  // stops playback first
    closeOutputDevice();

    if (played && output.error == 0 && std::fflush(output.file) != 0) {
        output.error = errno;
    }
    if (!raw && std::fclose(output.file) != 0 && output.error == 0) {
        output.error = errno;
    }
    if (!played || output.error != 0) {
        std::fprintf(stderr, "xm_render: cannot write %s: %s\n",
                     raw ? "standard output" : options.outputPath.c_str(),
                     output.error != 0 ? std::strerror(output.error) : "playback did not start");
        if (!raw) {
            std::remove(options.outputPath.c_str());
        }
        return 1;
    }
    std::fprintf(stderr, "Rendered %.3f s (%llu frames at %d Hz) of %s to %s\n",
                 static_cast<double>(frames) / options.rate,
                 static_cast<unsigned long long>(frames), options.rate, options.songPath.c_str(),
                 raw ? "standard output" : options.outputPath.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool helpShown = false;
    if (!parseArguments(argc, argv, options, helpShown)) {
        std::fputs("Try 'xm_render --help' for more information.\n", stderr);
        return 2;
    }
    if (helpShown) {
        return 0;
    }
    return render(options);
}
