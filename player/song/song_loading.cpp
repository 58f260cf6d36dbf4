#include "player/song/song_loading.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/song/file_stream.h"
#include "player/song/stream.h"
#include "player/song/xm_loader.h"

namespace xmplayer {

namespace {

void releaseInstruments(Song* song) {
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        Instrument& instrument = song->instruments[i];
        for (int32_t j = 0; j < instrument.sampleCount && instrument.samples != nullptr; ++j) {
            Sample* sample = instrument.samples[j];
            if (sample != nullptr && sample != &emptySample) {
                releaseSampleData(sample->data);
                std::free(sample);
            }
        }
        std::free(instrument.samples);
    }
    std::free(song->instruments);
    song->instruments = nullptr;
}

void releasePatterns(Song* song) {
    for (int32_t p = 0; p < song->patternCount; ++p) {
        std::free(song->patterns[p].notes);
    }
    std::free(song->patterns);
    song->patterns = nullptr;
}

// A song that a failed load left half built is released by the same steps:
// counts that the loader did not reach are still 0.
void releaseSong(Song* song) {
    if (song->instruments != nullptr) {
        releaseInstruments(song);
    }
    if (song->patterns != nullptr) {
        releasePatterns(song);
    }
    std::free(song);
}

}  // namespace

Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason) {
    return loadSong(streams, name, sampleDataCallback, reason, nullptr);
}

Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason, XmFileFacts* facts) {
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    if (song == nullptr) {
        if (reason != nullptr) {
            *reason = "out of memory for the song";
        }
        return nullptr;
    }
    SongStream* stream = streamOpen(streams, name);
    if (stream == nullptr) {
        std::free(song);
        if (reason != nullptr) {
            *reason = streamCallbacksComplete(streams) ? "the song could not be opened"
                                                       : "the stream callbacks are incomplete";
        }
        return nullptr;
    }
    song->sampleDataCallback = sampleDataCallback;
    const bool loaded = readXmSong(song, stream, reason, facts);
    streamClose(stream);
    if (!loaded) {
        releaseSong(song);
        return nullptr;
    }
    return song;
}

Song* loadSongFile(const char* path, std::string* reason, XmFileFacts* facts) {
    // The stream layer only says that a file could not be opened; the system
    // knows why.
    std::FILE* probe = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (probe == nullptr) {
        if (reason != nullptr) {
            *reason = path != nullptr ? std::strerror(errno) : "no file named";
        }
        return nullptr;
    }
    std::fclose(probe);
    return loadSong(fileStreamCallbacks(), path, nullptr, reason, facts);
}

bool freeSong(Song* song) {
    if (song == nullptr) {
        return false;
    }
    releaseSong(song);
    return true;
}

}  // namespace xmplayer
