// xm_render: renders XM songs through the player to audio files (WAV, FLAC,
// Ogg Vorbis, Opus), or one song as raw PCM to standard output, as fast as
// the machine allows: one pass through each song unless told otherwise.
// Several outputs are rendered at once, a player each, on as many threads as
// asked.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_mapping.h"
#include "platform/terminal.h"
#include "player/player.h"
#include "tools/audio_file.h"
#include "tools/command_line.h"
#include "tools/render_job.h"

namespace {

constexpr int32_t maxJobs = 256;
constexpr int32_t maxLoops = 1000;
constexpr double maxSeconds = 1.0e7;
constexpr double maxFadeSeconds = 60.0;
// A song that never comes back to a row it played gets this much unless a
// length is asked for.
constexpr double endlessSongSeconds = 600.0;
// A WAV file counts its bytes in 32 bits.
constexpr uint64_t maxWavBytes = UINT32_MAX - 64;
constexpr auto progressDelay = std::chrono::milliseconds(500);

constexpr char description[] =
    "Renders XM songs through the player to audio files, or one song as raw "
    "PCM to standard output. The output is what a sound card would play from "
    "the song's start, the same on every run: by default one pass through the "
    "song, until it comes back to a row it has already played.";

constexpr char footer[] =
    "Formats, from the output file's extension (or --format):\n"
    "  .wav   16-bit PCM, or 32-bit float with --float\n"
    "  .flac  FLAC, 16-bit, lossless\n"
    "  .ogg   Ogg Vorbis\n"
    "  .opus  Ogg Opus, at 48000 Hz unless --rate names 8000, 12000, 16000 or 24000\n"
    "  -      raw little-endian stereo PCM (left first) to standard output:\n"
    "         signed 16-bit, or 32-bit float with --float\n"
    "\n"
    "With --split-channels each song channel is written to a file of its own,\n"
    "NAME.chNN.EXT (channels counted from 01): the channel alone, played\n"
    "through the same mixer, so that the channels' files add up to the mix.\n"
    "\n"
    "Examples:\n"
    "  xm_render song.xm    one pass to song.wav\n"
    "  xm_render song.xm -o song.flac --loops 2 --fade 5\n"
    "                       two passes to FLAC, the last 5 seconds fading out\n"
    "  xm_render *.xm -o rendered/ --format ogg --jobs 4\n"
    "                       every song to Ogg Vorbis in rendered/, four at once\n"
    "  xm_render song.xm --split-channels -o stems/song.wav\n"
    "                       stems/song.ch01.wav, stems/song.ch02.wav, ...\n"
    "  xm_render song.xm - --seconds 30 | aplay -f cd\n"
    "                       30 seconds to a program that plays raw PCM\n";

struct Options {
    std::vector<std::string> songPaths;
    std::string outputPath;  // "-" for standard output; a folder for several songs
    std::optional<int32_t> rate;
    int32_t loops = 1;
    std::optional<double> seconds;
    std::optional<double> fadeSeconds;
    std::optional<std::string> format;
    bool floatValues = false;
    bool splitChannels = false;
    int32_t jobs = 0;
    xmplayer::RuleSet rules = xmplayer::RuleSet::Ft2;
};

int32_t defaultJobs() {
    return static_cast<int32_t>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 64));
}

// Prints the refusal as the command-line parser does; returns its status.
int refuse(const std::string& message) {
    std::fprintf(stderr, "xm_render: %s\nTry 'xm_render --help' for more information.\n",
                 message.c_str());
    return 2;
}

bool writesRaw(const Options& options) {
    return options.outputPath == "-";
}

// Several songs, or a folder given for the output: files named after the songs.
bool isBatch(const Options& options) {
    return options.songPaths.size() > 1 ||
           (!options.outputPath.empty() && options.outputPath.back() == '/');
}

// The output format, or a refusal's text in `error`.
std::optional<AudioFormat> chooseFormat(const Options& options, std::string& error) {
    if (writesRaw(options)) {
        return AudioFormat::Raw;
    }
    if (!isBatch(options) && !options.outputPath.empty()) {
        if (const auto format = formatOfName(options.outputPath)) {
            return format;
        }
        if (!options.format) {
            error = "cannot tell the format of " + options.outputPath +
                    " from its name: end it in .wav, .flac, .ogg or .opus, or give --format";
            return std::nullopt;
        }
    }
    return formatOfName("song." + options.format.value_or("wav"));
}

// Checks what the options mean together; a refusal's text, or nothing.
std::optional<std::string> checkCombination(const Options& options, AudioFormat format,
                                            int32_t rate) {
    if (writesRaw(options) && options.songPaths.size() > 1) {
        return "raw PCM to standard output takes one song";
    }
    if (writesRaw(options) && options.splitChannels) {
        return "--split-channels writes files: give -o OUT.EXT or a folder";
    }
    if (options.floatValues && format != AudioFormat::Wav && format != AudioFormat::Raw) {
        return std::string("--float is for WAV and raw output; ") + nameOf(format) +
               (format == AudioFormat::Flac ? " holds 16-bit values"
                                            : " is encoded from floats anyway");
    }
    if (!formatTakesRate(format, rate)) {
        return "--rate " + std::to_string(rate) +
               " is not a rate Opus takes: 8000, 12000, 16000, 24000 or 48000";
    }
    if (options.seconds && format == AudioFormat::Wav) {
        const double frameBytes = options.floatValues ? 8.0 : 4.0;
        const double longest = std::floor(static_cast<double>(maxWavBytes) / frameBytes / rate);
        if (*options.seconds > longest) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "--seconds %g is not a length above 0 and up to %.0f seconds, which "
                          "a WAV file at %d Hz holds",
                          *options.seconds, longest, rate);
            return std::string(text);
        }
    }
    return std::nullopt;
}

// The frames of the whole batch, shown as one bar on standard error.
class ProgressBar {
  public:
    ProgressBar(uint64_t totalFrames, std::size_t totalOutputs)
        : totalFrames_(std::max<uint64_t>(totalFrames, 1)),
          totalOutputs_(totalOutputs),
          terminal_(isTerminal(StandardStream::Error)) {}

    void show(uint64_t frames, std::size_t outputsDone) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < progressDelay || now - lastShown_ < interval()) {
            return;
        }
        lastShown_ = now;
        shown_ = true;
        constexpr int width = 30;
        // The expected lengths are estimates; the bar never runs past its end.
        const double share =
            std::min(1.0, static_cast<double>(frames) / static_cast<double>(totalFrames_));
        const int filled = static_cast<int>(share * width);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(width, '.');
        std::fprintf(stderr, "%sRendering [%s] %3.0f%%  %zu of %zu files done%s",
                     terminal_ ? "\r" : "", bar.c_str(), 100.0 * share, outputsDone, totalOutputs_,
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
    std::size_t totalOutputs_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown_{};
};

struct SongRelease {
    void operator()(const xmplayer::Song* song) const {
        xmplayer::freeSong(const_cast<xmplayer::Song*>(song));
    }
};

// The file of one output: the -o path for one song, else a file named after
// the song in the -o folder (or the current directory); a channel's file has
// .chNN before the extension.
std::string outputPathOf(const Options& options, const std::filesystem::path& folder,
                         const std::string& songPath, AudioFormat format, int32_t channel) {
    std::filesystem::path path;
    if (isBatch(options) || options.outputPath.empty()) {
        path = folder /
               std::filesystem::path(songPath).filename().replace_extension(extensionOf(format));
    } else {
        path = options.outputPath;
    }
    if (channel >= 0) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".ch%02d", channel + 1);
        const std::string extension = path.extension().string();
        path.replace_extension();
        path += suffix + extension;
    }
    return path.string();
}

// A song read from a view of its file where the file can be mapped: one
// call instead of a read and a seek for every header, which counts when a
// short song renders in a few milliseconds. Anything else (a pipe, a file
// that cannot be opened) goes through the library's file loading, which
// also says why it fails.
xmplayer::Song* loadSong(const std::string& path, std::string& reason) {
    MappedFile file;
    if (!mapFile(path.c_str(), file)) {
        return xmplayer::loadSongFile(path.c_str(), &reason);
    }
    xmplayer::Song* song = xmplayer::loadSongMemory(file.data, file.size, &reason);
    unmapFile(file);
    return song;
}

// Loads and measures every song and plans its outputs; a song that does not
// load becomes a failed job of its own.
std::vector<RenderJob> planJobs(const Options& options, const AudioEncoding& encoding,
                                const std::filesystem::path& folder) {
    const int32_t rate = encoding.rate;
    const int64_t fadeFrames =
        options.fadeSeconds ? std::llround(*options.fadeSeconds * rate) : int64_t{0};
    std::vector<RenderJob> jobs;
    for (const std::string& songPath : options.songPaths) {
        RenderJob job;
        job.rules = options.rules;
        job.songPath = songPath;
        job.encoding = encoding;
        job.fadeFrames = fadeFrames;
        std::string reason;
        job.song.reset(loadSong(songPath, reason), SongRelease{});
        if (job.song == nullptr) {
            job.failed = true;
            job.message = "xm_render: cannot load " + songPath + ": " + reason;
            jobs.push_back(job);
            continue;
        }
        if (options.seconds) {
            job.frames = std::llround(*options.seconds * rate);
        } else {
            const xmplayer::SongDuration duration =
                xmplayer::measureSong(*job.song, rate, options.rules);
            if (duration.comesBack) {
                job.passes = options.loops;
                const int64_t milliseconds =
                    duration.milliseconds +
                    (options.loops - 1) * (duration.milliseconds - duration.loopStartMilliseconds);
                job.expectedFrames = milliseconds * rate / 1000;
            } else {
                std::fprintf(stderr,
                             "xm_render: %s does not come back to a row it played; rendering "
                             "its first %.0f seconds (--seconds sets another length)\n",
                             songPath.c_str(), endlessSongSeconds);
                job.frames = std::llround(endlessSongSeconds * rate);
            }
        }
        if (job.frames > 0) {
            job.expectedFrames = job.frames;
        }
        job.fadeFrames = std::min(job.fadeFrames, job.expectedFrames);
        const uint64_t frameBytes = encoding.floatValues ? 8 : 4;
        if (encoding.format == AudioFormat::Wav &&
            static_cast<uint64_t>(job.expectedFrames) * frameBytes > maxWavBytes) {
            job.failed = true;
            job.message = "xm_render: " + songPath +
                          " plays too long for a WAV file: use .flac, or --seconds";
            jobs.push_back(job);
            continue;
        }
        const int32_t channels = options.splitChannels ? describeSong(*job.song).channels : 0;
        for (int32_t channel = options.splitChannels ? 0 : -1; channel < channels; ++channel) {
            job.channel = channel;
            job.outputPath = writesRaw(options) ? options.outputPath
                                                : outputPathOf(options, folder, songPath,
                                                               encoding.format, channel);
            jobs.push_back(job);
        }
    }
    return jobs;
}

// Renders the jobs on the threads asked for, this one among them. A batch
// that runs longer than the progress delay gets a thread of its own to show
// the progress; a short one is spared starting it.
void renderAll(std::vector<RenderJob>& jobs, int32_t threadsWanted) {
    uint64_t totalFrames = 0;
    for (const RenderJob& job : jobs) {
        totalFrames += job.failed ? 0 : static_cast<uint64_t>(job.expectedFrames);
    }
    std::atomic<std::size_t> nextJob{0};
    std::atomic<std::size_t> jobsDone{0};
    RenderProgress rendered;
    ProgressBar progress(totalFrames, jobs.size());
    // The bar is drawn from its thread, woken at once when the work is done
    // so that the end does not wait for it.
    std::mutex reporting;
    std::condition_variable done;
    bool finished = false;
    std::thread reporter;
    std::once_flag reporterStarted;
    const auto start = std::chrono::steady_clock::now();
    rendered.afterPiece = [&] {
        if (std::chrono::steady_clock::now() - start < progressDelay) {
            return;
        }
        std::call_once(reporterStarted, [&] {
            reporter = std::thread([&] {
                std::unique_lock<std::mutex> lock(reporting);
                while (
                    !done.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished; })) {
                    progress.show(rendered.frames.load(), jobsDone.load());
                }
            });
        });
    };
    const auto work = [&] {
        for (std::size_t index = nextJob++; index < jobs.size(); index = nextJob++) {
            if (!jobs[index].failed) {
                renderJob(jobs[index], rendered);
            }
            ++jobsDone;
        }
    };
    const auto threadCount = static_cast<std::size_t>(
        std::min<int64_t>(threadsWanted, static_cast<int64_t>(jobs.size())));
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < threadCount; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (reporter.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(reporting);
            finished = true;
        }
        done.notify_one();
        reporter.join();
    }
    progress.finish();
}

int render(const Options& options, const AudioEncoding& encoding) {
    if (writesRaw(options) && isTerminal(StandardStream::Output)) {
        std::fputs("xm_render: not writing raw PCM to a terminal; redirect standard output\n",
                   stderr);
        return 1;
    }
    if (writesRaw(options)) {
        setBinaryOutput();
    }
    if (options.seconds && std::llround(*options.seconds * encoding.rate) == 0) {
        std::fputs("xm_render: --seconds is shorter than one frame\n", stderr);
        return 1;
    }
    std::filesystem::path folder;
    if (isBatch(options) && !options.outputPath.empty()) {
        folder = options.outputPath;
    } else if (options.splitChannels && !options.outputPath.empty()) {
        folder = std::filesystem::path(options.outputPath).parent_path();
    }
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error || !std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "xm_render: cannot create the folder %s: %s\n",
                         folder.string().c_str(),
                         error ? error.message().c_str() : "a file of that name is in the way");
            return 1;
        }
    }
    std::vector<RenderJob> jobs = planJobs(options, encoding, folder);
    renderAll(jobs, options.jobs);

    std::size_t failures = 0;
    std::size_t songsFailed = 0;
    std::string lastFailedSong;
    for (const RenderJob& job : jobs) {
        std::fprintf(stderr, "%s\n", job.message.c_str());
        if (job.failed) {
            ++failures;
            songsFailed += job.songPath != lastFailedSong ? 1 : 0;
            lastFailedSong = job.songPath;
        }
    }
    if (options.songPaths.size() > 1) {
        std::fprintf(stderr, "%zu of %zu songs rendered\n", options.songPaths.size() - songsFailed,
                     options.songPaths.size());
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("", "xm_render");
    setUpApp(app, description, footer);
    Options options;
    app.add_option(
           "SONG", options.songPaths,
           optionHelp(
               "the XM songs to render; a lone - among them sends raw PCM to standard output"))
        ->required()
        ->type_name("");
    app.add_option(
           "-o,--output", options.outputPath,
           optionHelp("the file to write (default: SONG.wav in the current directory), - for raw "
                      "PCM to standard output, or with several songs (or a name ending in /) the "
                      "folder for their files, created if missing"))
        ->type_name("OUT");
    app.add_option("--rate", options.rate,
                   optionHelp("frames per second, 1000 to 384000 (default 44100; 48000 for Opus)"))
        ->type_name("HZ")
        ->check(rateCheck());
    app.add_option(
           "--loops", options.loops,
           optionHelp("passes through the song: 2 plays the part it loops back to once more "
                      "(default 1)"))
        ->type_name("N")
        ->check(countCheck(maxLoops));
    app.add_option(
           "--seconds", options.seconds,
           optionHelp("render exactly this long instead, looping the song as long as needed; "
                      "fractions allowed"))
        ->type_name("S")
        ->check(secondsCheck(maxSeconds));
    app.add_option("--fade", options.fadeSeconds,
                   optionHelp("fade out linearly over the last S seconds (up to 60)"))
        ->type_name("S")
        ->check(secondsCheck(maxFadeSeconds));
    app.add_option("--format", options.format,
                   optionHelp("the format of files named after their songs: wav, flac, ogg or opus "
                              "(default wav)"))
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"wav", "flac", "ogg", "opus"}).description(""));
    app.add_flag("--float", options.floatValues,
                 optionHelp("32-bit float values in WAV or raw output"));
    app.add_flag("--split-channels", options.splitChannels,
                 optionHelp("one file per song channel, the channel alone (NAME.chNN.EXT)"));
    addRulesOption(app, options.rules);
    app.add_option("--jobs", options.jobs,
                   optionHelp("files rendered at once (default: the number of cores)"))
        ->type_name("N")
        ->check(countCheck(maxJobs));
    if (const auto status = parseCommandLine(app, argc, argv)) {
        return *status;
    }
    // "-" among the songs is where the output goes, as in many tools.
    const auto dash = std::remove(options.songPaths.begin(), options.songPaths.end(), "-");
    if (dash != options.songPaths.end()) {
        options.songPaths.erase(dash, options.songPaths.end());
        options.outputPath = "-";
    }
    if (options.songPaths.empty()) {
        return refuse("no song given");
    }
    if (options.jobs == 0) {
        options.jobs = defaultJobs();
    }
    std::string error;
    const auto format = chooseFormat(options, error);
    if (!format) {
        return refuse(error);
    }
    const int32_t rate = options.rate.value_or(defaultRateOf(*format));
    if (const auto refusal = checkCombination(options, *format, rate)) {
        return refuse(*refusal);
    }
    return render(options, AudioEncoding{*format, rate, options.floatValues});
}
