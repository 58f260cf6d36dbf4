#include "player/song/player_control.h"

#include <cstdlib>

#include "player/song/stream.h"
#include "player/song/xm_loader.h"

namespace {

void releaseInstruments(Song* song) {
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        Instrument& instrument = song->instruments[i];
        for (int32_t j = 0; j < instrument.sampleCount && j < maxInstrumentSamples; ++j) {
            Sample* sample = instrument.samples[j];
            if (sample != nullptr && sample != &emptySample) {
                releaseSampleData(sample->data);
                std::free(sample);
            }
        }
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

}  // namespace

Song* loadSong(const char* name, SampleDataCallback sampleDataCallback) {
    return loadSong(name, sampleDataCallback, nullptr);
}

Song* loadSong(const char* name, SampleDataCallback sampleDataCallback, std::string* reason) {
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    if (song == nullptr) {
        if (reason != nullptr) {
            *reason = "out of memory for the song";
        }
        return nullptr;
    }
    SongStream* stream = streamOpen(name);
    if (stream == nullptr) {
        std::free(song);
        if (reason != nullptr) {
            *reason = streamCallbacksRegistered() ? "the song could not be opened"
                                                  : "no stream callbacks are registered";
        }
        return nullptr;
    }
    song->sampleDataCallback = sampleDataCallback;
    const bool loaded = readXmSong(song, stream, reason);
    streamClose(stream);
    if (!loaded) {
        freeSong(song);
        return nullptr;
    }
    return song;
}

bool freeSong(Song* song) {
    if (song == nullptr) {
        return false;
    }
    if (song->instruments != nullptr) {
        releaseInstruments(song);
    }
    if (song->patterns != nullptr) {
        releasePatterns(song);
    }
    std::free(song);
    return true;
}
