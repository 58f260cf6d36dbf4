// xm_info: tells what an XM file holds as the player loads it, or why the
// player refuses it.
#include <cstdio>
#include <cstring>
#include <string>

#include "player/song/player_control.h"
#include "tools/song_file.h"

namespace {

constexpr char usage[] =
    "Usage: xm_info FILE.xm...\n"
    "Prints what each XM file holds as the player loads it: title, channels,\n"
    "order list, patterns, instruments and their samples with loop types and\n"
    "lengths in sample values, and how the file stores them: its format version,\n"
    "the most samples in one instrument, compressed samples and the bytes after\n"
    "the last sample, which are not read. A file the player refuses is reported\n"
    "with the reason, and the exit status is then 1.\n";

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

bool describe(const std::string& path) {
    std::string reason;
    XmFileFacts facts{};
    Song* song = loadSongFile(path, reason, facts);
    if (song == nullptr) {
        std::fprintf(stderr, "xm_info: %s: refused: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    std::printf("File:        %s\n", path.c_str());
    std::printf("Title:       \"%s\"\n", readSongTitle(path).c_str());
    std::printf(
        "Version:     0x%04X%s\n", facts.version,
        facts.version < 0x0104 ? " (patterns after the instruments, sample data last)" : "");
    std::printf("Channels:    %d\n", song->channelCount);
    std::printf("Frequencies: %s table\n",
                (song->flags & linearFrequencyTable) ? "linear" : "Amiga");
    std::printf("Speed:       %d ticks per row, %d beats per minute\n", song->defaultSpeed,
                song->defaultTempo);
    printOrders(*song);
    printPatterns(*song);
    printInstruments(*song);
    printStorage(facts);
    freeSong(song);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    bool allLoaded = true;
    for (int k = 1; k < argc; ++k) {
        if (k > 1) {
            std::printf("\n");
        }
        allLoaded = describe(argv[k]) && allLoaded;
    }
    return allLoaded ? 0 : 1;
}
