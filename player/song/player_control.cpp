#include "player/song/player_control.h"

#include <cstdlib>
#include <thread>

#include "player/output/wave_output.h"
#include "player/song/stream.h"
#include "player/song/xm_loader.h"

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
        // Never played, so released without stopping whatever else plays.
        releaseSong(song);
        return nullptr;
    }
    return song;
}

bool freeSong(Song* song) {
    if (song == nullptr) {
        return false;
    }
    while (outputDevice.rendering.load()) {
        std::this_thread::yield();
    }
    // Whatever song plays is stopped and silent before anything is released,
    // so the feeder never reads a released song.
    stopSong(song);
    releaseSong(song);
    return true;
}

// The getters report the block being heard, about a ring behind the song's
// own position; they read the copy that the driver publishes atomically, so
// they are safe on any thread and give 0 while nothing plays.
int32_t getPlayingOrder(const Song* song) {
    return song != nullptr ? outputDevice.audiblePosition.load().orderPos : 0;
}

int32_t getPlayingRow(const Song* song) {
    return song != nullptr ? outputDevice.audiblePosition.load().row : 0;
}

int32_t getPlayingTimeMs(const Song* song) {
    return song != nullptr ? outputDevice.audiblePosition.load().playTimeMs : 0;
}
