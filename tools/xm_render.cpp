// xm_render: renders XM songs through the player to WAV files, or one song as
// raw PCM to standard output, as fast as the machine allows. Several songs
// are rendered at once, a player per song, on as many threads as asked.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/terminal.h"
#include "player/player.h"
#include "tools/command_line.h"

namespace {

constexpr int32_t defaultRate = 44100;
constexpr double defaultSeconds = 60.0;
constexpr uint32_t wavHeaderBytes = 44;
constexpr uint32_t bytesPerFrame = 4;
// A WAV file counts its bytes in 32 bits; raw output has no such bound.
constexpr uint64_t maxWavFrames = (UINT32_MAX - (wavHeaderBytes - 8)) / bytesPerFrame;
constexpr double maxRawSeconds = 1.0e7;
constexpr int32_t pieceFrames = 4096;
constexpr int32_t maxJobs = 256;
constexpr auto progressDelay = std::chrono::milliseconds(500);

void printUsage(std::FILE* to) {
    std::fputs(
        "Usage: xm_render SONG.xm... [-o OUT.wav | -o DIR/ | -] [--rate HZ] [--seconds S]\n"
        "                 [--jobs N]\n"
        "\n"
        "Renders XM songs through the player to 16-bit stereo WAV files, or one\n"
        "song with \"-\" as raw signed 16-bit little-endian stereo PCM (left first)\n"
        "to standard output. The output is what a sound card would play from the\n"
        "song's start, the same on every run.\n"
        "\n"
        "  -o OUT.wav     the WAV file to write (default: SONG.wav in the current\n"
        "                 directory); \"-o -\" or \"-\" writes raw PCM to stdout\n"
        "  -o DIR/        with several songs: the folder for their WAV files\n"
        "                 (default: the current directory), created if missing\n"
        "  --rate HZ      frames per second, 1000 to 384000 (default 44100)\n"
        "  --seconds S    length in seconds, fractions allowed (default 60)\n"
        "  --jobs N       songs rendered at once (default: the number of cores)\n"
        "  -h, --help     show this help\n",
        to);
}

struct Options {
    std::vector<std::string> songPaths;
    std::string outputPath;  // "-" for standard output; a folder for several songs
    int32_t rate = defaultRate;
    double seconds = defaultSeconds;
    int32_t jobs = 0;
};

int32_t defaultJobs() {
    return static_cast<int32_t>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 64));
}

// Returns false after printing what is wrong.
bool parseArguments(int argc, char** argv, Options& options, bool& helpShown) {
    helpShown = false;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string rateText;
    std::string secondsText;
    std::string jobsText;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "-h" || argument == "--help") {
            printUsage(stdout);
            helpShown = true;
            return true;
        } else if (argument == "-o" || argument == "--rate" || argument == "--seconds" ||
                   argument == "--jobs") {
            if (!hasValue) {
                std::fprintf(stderr, "xm_render: %s needs a value\n", argument.c_str());
                return false;
            }
            const std::string& value = arguments[++i];
            (argument == "-o"          ? options.outputPath
             : argument == "--rate"    ? rateText
             : argument == "--seconds" ? secondsText
                                       : jobsText) = value;
        } else if (argument == "-") {
            options.outputPath = argument;
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "xm_render: unknown option %s\n", argument.c_str());
            return false;
        } else {
            options.songPaths.push_back(argument);
        }
    }
    if (options.songPaths.empty()) {
        std::fputs("xm_render: no song given\n", stderr);
        return false;
    }
    if (!rateText.empty()) {
        const auto rate = parseRate(rateText);
        if (!rate) {
            std::fprintf(stderr, "xm_render: --rate %s is not a rate from %d to %d\n",
                         rateText.c_str(), xmplayer::minOutputRate, xmplayer::maxOutputRate);
            return false;
        }
        options.rate = *rate;
    }
    options.jobs = defaultJobs();
    if (!jobsText.empty()) {
        const auto jobs = parseCount(jobsText, maxJobs);
        if (!jobs) {
            std::fprintf(stderr, "xm_render: --jobs %s is not a count from 1 to %d\n",
                         jobsText.c_str(), maxJobs);
            return false;
        }
        options.jobs = *jobs;
    }
    const bool raw = options.outputPath == "-";
    if (raw && options.songPaths.size() > 1) {
        std::fputs("xm_render: raw PCM to standard output takes one song\n", stderr);
        return false;
    }
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

// One song of the batch: where it goes and how it went.
struct Job {
    std::string songPath;
    std::string outputPath;  // "-" for standard output
    std::string message;     // the line to print when it is done
    bool failed = false;
};

// The frames of the whole batch, shown as one bar on standard error.
class ProgressBar {
  public:
    ProgressBar(uint64_t totalFrames, std::size_t totalSongs)
        : totalFrames_(totalFrames),
          totalSongs_(totalSongs),
          terminal_(isTerminal(StandardStream::Error)) {}

    void show(uint64_t frames, std::size_t songsDone) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < progressDelay || now - lastShown_ < interval()) {
            return;
        }
        lastShown_ = now;
        shown_ = true;
        constexpr int width = 30;
        const double share = static_cast<double>(frames) / static_cast<double>(totalFrames_);
        const int filled = static_cast<int>(share * width);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(width, '.');
        std::fprintf(stderr, "%sRendering [%s] %3.0f%%  %zu of %zu songs done%s",
                     terminal_ ? "\r" : "", bar.c_str(), 100.0 * share, songsDone, totalSongs_,
                     terminal_ ? "" : "\n");
        std::fflush(stderr);
    }

    // Ends the bar's line so that what follows starts on a line of its own.
    void finish() {
        if (shown_ && terminal_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

  private:
    std::chrono::milliseconds interval() const {
        return terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
    }

    uint64_t totalFrames_;
    std::size_t totalSongs_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown_{};
};

bool writeValues(std::FILE* file, const int16_t* values, std::size_t count,
                 std::vector<int16_t>& swapped) {
    const int16_t* data = values;
    if constexpr (std::endian::native == std::endian::big) {
        swapped.assign(values, values + count);
        for (int16_t& value : swapped) {
            const auto bits = static_cast<uint16_t>(value);
            value = static_cast<int16_t>(static_cast<uint16_t>((bits << 8) | (bits >> 8)));
        }
        data = swapped.data();
    }
    return std::fwrite(data, sizeof(int16_t), count, file) == count;
}

struct PlayerRelease {
    void operator()(xmplayer::Player* player) const { xmplayer::destroyPlayer(player); }
};
struct SongRelease {
    void operator()(xmplayer::Song* song) const { xmplayer::freeSong(song); }
};

// Renders one song; every frame rendered is counted into `framesDone`.
void renderJob(Job& job, const Options& options, uint64_t frames,
               std::atomic<uint64_t>& framesDone) {
    std::string reason;
    const std::unique_ptr<xmplayer::Song, SongRelease> song(
        xmplayer::loadSongFile(job.songPath.c_str(), &reason));
    if (song == nullptr) {
        job.failed = true;
        job.message = "xm_render: cannot load " + job.songPath + ": " + reason;
        return;
    }
    const std::unique_ptr<xmplayer::Player, PlayerRelease> player(
        xmplayer::createPlayer(*song, options.rate));
    if (player == nullptr) {
        job.failed = true;
        job.message = "xm_render: out of memory for a player of " + job.songPath;
        return;
    }
    const bool raw = job.outputPath == "-";
    std::FILE* file = raw ? stdout : std::fopen(job.outputPath.c_str(), "wb");
    if (file == nullptr) {
        job.failed = true;
        job.message = "xm_render: cannot create " + job.outputPath + ": " + std::strerror(errno);
        return;
    }
    int error = 0;
    if (!raw) {
        const auto header = wavHeader(options.rate, frames);
        if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
            error = errno != 0 ? errno : EIO;
        }
    }
    std::vector<int16_t> piece(2 * static_cast<std::size_t>(pieceFrames));
    std::vector<int16_t> swapped;
    for (uint64_t done = 0; done < frames && error == 0;) {
        const auto count = static_cast<int32_t>(std::min<uint64_t>(pieceFrames, frames - done));
        xmplayer::renderFrames(*player, piece.data(), count);
        if (!writeValues(file, piece.data(), 2 * static_cast<std::size_t>(count), swapped)) {
            error = errno != 0 ? errno : EIO;
        }
        done += static_cast<uint64_t>(count);
        framesDone.fetch_add(static_cast<uint64_t>(count));
    }
    if (error == 0 && std::fflush(file) != 0) {
        error = errno;
    }
    if (!raw && std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        job.failed = true;
        job.message = "xm_render: cannot write " +
                      (raw ? std::string("standard output") : job.outputPath) + ": " +
                      std::strerror(error);
        if (!raw) {
            std::remove(job.outputPath.c_str());
        }
        return;
    }
    char text[160];
    std::snprintf(text, sizeof text, "Rendered %.3f s (%llu frames at %d Hz) of ",
                  static_cast<double>(frames) / options.rate,
                  static_cast<unsigned long long>(frames), options.rate);
    job.message = text + job.songPath + " to " + (raw ? "standard output" : job.outputPath);
}

// Where each song goes: the -o path for one song, else a WAV named after the
// song in the -o folder (or the current directory).
bool planJobs(const Options& options, std::vector<Job>& jobs) {
    const bool batch = options.songPaths.size() > 1 ||
                       (!options.outputPath.empty() && options.outputPath.back() == '/');
    std::filesystem::path folder;
    if (batch && !options.outputPath.empty()) {
        folder = options.outputPath;
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error || !std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "xm_render: cannot create the folder %s: %s\n",
                         options.outputPath.c_str(),
                         error ? error.message().c_str() : "a file of that name is in the way");
            return false;
        }
    }
    for (const std::string& songPath : options.songPaths) {
        const std::string named =
            std::filesystem::path(songPath).filename().replace_extension(".wav").string();
        std::string output = options.outputPath;
        if (batch || output.empty()) {
            output = (folder / named).string();
        }
        jobs.push_back({songPath, output, {}, false});
    }
    return true;
}

int render(const Options& options) {
    if (options.outputPath == "-" && isTerminal(StandardStream::Output)) {
        std::fputs("xm_render: not writing raw PCM to a terminal; redirect standard output\n",
                   stderr);
        return 1;
    }
    if (options.outputPath == "-") {
        setBinaryOutput();
    }
    const auto frames =
        static_cast<uint64_t>(std::llround(options.seconds * static_cast<double>(options.rate)));
    if (frames == 0) {
        std::fputs("xm_render: --seconds is shorter than one frame\n", stderr);
        return 1;
    }
    std::vector<Job> jobs;
    if (!planJobs(options, jobs)) {
        return 1;
    }

    std::atomic<std::size_t> nextJob{0};
    std::atomic<std::size_t> jobsDone{0};
    std::atomic<uint64_t> framesDone{0};
    ProgressBar progress(frames * jobs.size(), jobs.size());
    const auto work = [&] {
        for (std::size_t index = nextJob++; index < jobs.size(); index = nextJob++) {
            renderJob(jobs[index], options, frames, framesDone);
            ++jobsDone;
        }
    };
    const auto threadCount = static_cast<std::size_t>(
        std::min<int64_t>(options.jobs, static_cast<int64_t>(jobs.size())));
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < threadCount; ++t) {
        threads.emplace_back(work);
    }
    // This thread renders too, and shows the bar from a thread of its own.
    std::atomic<bool> finished{false};
    std::thread reporter([&] {
        while (!finished.load()) {
            progress.show(framesDone.load(), jobsDone.load());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    finished.store(true);
    reporter.join();
    progress.finish();

    int failures = 0;
    for (const Job& job : jobs) {
        std::fprintf(stderr, "%s\n", job.message.c_str());
        failures += job.failed ? 1 : 0;
    }
    if (jobs.size() > 1) {
        std::fprintf(stderr, "%zu of %zu songs rendered\n", jobs.size() - failures, jobs.size());
    }
    return failures == 0 ? 0 : 1;
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
