// xm_info: tells what XM files hold as the player loads them, how long one
// pass through each song lasts and where it loops to, or why the player
// refuses a file: in full, one line per file, or as JSON for scripts.
#include <cstdio>
#include <string>
#include <vector>

#include "player/player.h"
// The full listing shows the loaded records themselves, beyond the public
// summary.
#include "player/song/song.h"
#include "player/song/song_loading.h"
#include "tools/command_line.h"
#include "tools/song_title.h"

namespace {

using namespace xmplayer;

constexpr char description[] =
    "Prints what each XM file holds as the player loads it: title, channels, "
    "order list, patterns, instruments and their samples, the duration of one "
    "pass through the song (from the start until it first comes back to a row "
    "it played, a pattern loop's repetitions counted in the pass) and the "
    "order, row and time it loops to, and how "
    "the file stores the song: its format version, the most samples in one "
    "instrument, compressed samples and the bytes after the last sample, which "
    "are not read. A file the player refuses is reported with the reason, and "
    "the exit status is then 1.";

constexpr char footer[] =
    "JSON output:\n"
    "  An array with one object per file, in the order given. A loaded song's\n"
    "  object has \"file\", \"title\", \"channels\", \"orders\", \"restartPosition\",\n"
    "  \"patterns\", \"instruments\", \"speed\", \"tempo\", \"frequencyTable\"\n"
    "  (\"linear\" or \"amiga\"), \"durationMilliseconds\" and \"loop\": an object\n"
    "  with \"order\", \"row\" and \"startMilliseconds\", or null for a song that\n"
    "  does not come back to a row it played. A refused file's object has\n"
    "  \"file\" and \"error\".\n"
    "\n"
    "Examples:\n"
    "  xm_info song.xm            everything about one song\n"
    "  xm_info --short music/*.xm\n"
    "                             a line per song\n"
    "  xm_info --json music/*.xm | jq '.[] | [.file, .durationMilliseconds]'\n"
    "                             each song's length, for a script\n";

enum class Layout { Full, Short, Json };

struct Options {
    std::vector<std::string> paths;
    Layout layout = Layout::Full;
    int32_t rate = 44100;
    RuleSet rules = RuleSet::Ft2;
};

const char* loopName(uint8_t loopType) {
    switch (loopType) {
        case ForwardLoop:
            return "forward loop";
        case PingPongLoop:
            return "ping-pong loop";
        default:
            return "no loop";
    }
}

void printOrders(const Song& song) {
    std::printf("Orders:      %d (restart at %d):", song.songLength, song.restartPosition);
    for (int k = 0; k < song.songLength; ++k) {
        std::printf(" %d", song.orders[k]);
    }
    std::printf("\n");
}

void printPatterns(const Song& song) {
    std::printf("Patterns:    %d", song.patternCount);
    if (song.patternCount > song.usedPatternCount) {
        std::printf(" (%d named by the order list)", song.usedPatternCount);
    }
    std::printf(", rows:");
    for (int p = 0; p < song.patternCount; ++p) {
        std::printf(" %d", song.patterns[p].rowCount);
    }
    std::printf("\n");
}

void printInstruments(const Song& song) {
    std::printf("Instruments: %d\n", song.instrumentCount);
    for (int i = 0; i < song.instrumentCount; ++i) {
        const Instrument& instrument = song.instruments[i];
        std::printf("  %3d: %d sample%s", i + 1, instrument.sampleCount,
                    instrument.sampleCount == 1 ? "" : "s");
        if (instrument.volumeEnvelopeFlags & envelopeOn) {
            std::printf(", volume envelope of %d points", instrument.volumePointCount);
        }
        if (instrument.panningEnvelopeFlags & envelopeOn) {
            std::printf(", panning envelope of %d points", instrument.panningPointCount);
        }
        if (instrument.fadeOut != 0) {
            std::printf(", fade-out %d", instrument.fadeOut);
        }
        std::printf("\n");
        for (int j = 0; j < instrument.sampleCount; ++j) {
            const Sample& sample = *instrument.samples[j];
            std::printf("       sample %2d: length %u, %s", j, sample.length,
                        loopName(sample.loopType));
            if (sample.loopType != NoLoop) {
                std::printf(" from %u, length %u", sample.loopStart, sample.loopLength);
            }
            std::printf(", volume %d, relative note %d, finetune %d\n", sample.volume,
                        sample.relativeNote, sample.finetune);
        }
    }
}

void printStorage(const XmFileFacts& facts) {
    std::printf("Samples:     at most %d in one instrument, %d stored compressed\n",
                facts.mostSamples, facts.compressedSamples);
    std::printf("Trailing:    %lld bytes after the last sample, not read\n",
                static_cast<long long>(facts.bytesAfterLastSample));
}

void printFull(const std::string& path, const Song& song, const SongDuration& duration,
               const XmFileFacts& facts) {
    std::printf("File:        %s\n", path.c_str());
    std::printf("Title:       \"%s\"\n", readSongTitle(path).c_str());
    std::printf(
        "Version:     0x%04X%s\n", facts.version,
        facts.version < 0x0104 ? " (patterns after the instruments, sample data last)" : "");
    std::printf("Duration:    %s (%lld ms)\n", clockTime(duration.milliseconds).c_str(),
                static_cast<long long>(duration.milliseconds));
    if (duration.comesBack) {
        std::printf("Loop:        back to order %d, row %d, first played at %s\n",
                    duration.loopOrder, duration.loopRow,
                    clockTime(duration.loopStartMilliseconds).c_str());
    } else {
        std::printf("Loop:        none: the song does not come back to a row it played\n");
    }
    std::printf("Channels:    %d\n", song.channelCount);
    std::printf("Frequencies: %s table\n",
                (song.flags & linearFrequencyTable) ? "linear" : "Amiga");
    std::printf("Speed:       %d ticks per row, %d beats per minute\n", song.defaultSpeed,
                song.defaultTempo);
    printOrders(song);
    printPatterns(song);
    printInstruments(song);
    printStorage(facts);
}

void printShort(const std::string& path, const Song& song, const SongDuration& duration) {
    std::string loop = "does not come back";
    if (duration.comesBack) {
        char text[96];
        std::snprintf(text, sizeof text, "back to %s, order %d row %d",
                      clockTime(duration.loopStartMilliseconds).c_str(), duration.loopOrder,
                      duration.loopRow);
        loop = text;
    }
    std::printf("%9s  %-34s %2d ch  %s  \"%s\"\n", clockTime(duration.milliseconds).c_str(),
                loop.c_str(), song.channelCount, path.c_str(), readSongTitle(path).c_str());
}

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void printJson(const std::string& path, const Song& song, const SongDuration& duration) {
    std::string loop = "null";
    if (duration.comesBack) {
        loop = "{\"order\": " + std::to_string(duration.loopOrder) +
               ", \"row\": " + std::to_string(duration.loopRow) +
               ", \"startMilliseconds\": " + std::to_string(duration.loopStartMilliseconds) + "}";
    }
    const SongSummary summary = describeSong(song);
    std::printf(
        "  {\"file\": %s, \"title\": %s, \"channels\": %d, \"orders\": %d, "
        "\"restartPosition\": %d, \"patterns\": %d, \"instruments\": %d, \"speed\": %d, "
        "\"tempo\": %d, \"frequencyTable\": \"%s\", \"durationMilliseconds\": %lld, "
        "\"loop\": %s}",
        jsonString(path).c_str(), jsonString(readSongTitle(path)).c_str(), summary.channels,
        summary.songLength, summary.restartPosition, summary.patterns, summary.instruments,
        summary.speed, summary.tempo,
        summary.frequencyTable == FrequencyTable::Linear ? "linear" : "amiga",
        static_cast<long long>(duration.milliseconds), loop.c_str());
}

bool describe(const std::string& path, const Options& options) {
    std::string reason;
    XmFileFacts facts{};
    Song* song = loadSongFile(path.c_str(), &reason, &facts);
    if (song == nullptr) {
        if (options.layout == Layout::Json) {
            std::printf("  {\"file\": %s, \"error\": %s}", jsonString(path).c_str(),
                        jsonString(reason).c_str());
        }
        std::fprintf(stderr, "xm_info: %s: refused: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    const SongDuration duration = measureSong(*song, options.rate, options.rules);
    switch (options.layout) {
        case Layout::Full:
            printFull(path, *song, duration, facts);
            break;
        case Layout::Short:
            printShort(path, *song, duration);
            break;
        case Layout::Json:
            printJson(path, *song, duration);
            break;
    }
    freeSong(song);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("", "xm_info");
    setUpApp(app, description, footer);
    Options options;
    app.add_option("FILE", options.paths, optionHelp("the XM files to describe"))
        ->required()
        ->type_name("");
    bool shortLayout = false;
    bool jsonLayout = false;
    app.add_flag("-s,--short", shortLayout,
                 optionHelp("one line per file: duration, the time, order and row it loops back "
                            "to, channels, file and title"));
    app.add_flag("--json", jsonLayout,
                 optionHelp("a JSON array of one object per file, described below (wins over "
                            "--short)"));
    app.add_option(
           "--rate", options.rate,
           optionHelp("frames per second the duration is measured at, 1000 to 384000 (default "
                      "44100): ticks last whole frames"))
        ->type_name("HZ")
        ->check(rateCheck());
    addRulesOption(app, options.rules);
    if (const auto status = parseCommandLine(app, argc, argv)) {
        return *status;
    }
    options.layout = jsonLayout ? Layout::Json : shortLayout ? Layout::Short : Layout::Full;

    bool allLoaded = true;
    if (options.layout == Layout::Json) {
        std::printf("[\n");
    }
    for (std::size_t k = 0; k < options.paths.size(); ++k) {
        if (k > 0 && options.layout != Layout::Short) {
            std::printf(options.layout == Layout::Json ? ",\n" : "\n");
        }
        allLoaded = describe(options.paths[k], options) && allLoaded;
    }
    if (options.layout == Layout::Json) {
        std::printf("\n]\n");
    }
    return allLoaded ? 0 : 1;
}
