#include "player/song/song_loading.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "player/song/file_stream.h"
#include "player/song/stream.h"
#include "player/song/xm_loader.h"
#include "player/song/xm_reading.h"

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

constexpr const char* tooLarge = "the song is larger than the 2 GiB a stream can address";

// Reads what is left of a stream that cannot seek, up to the 2 GiB that
// stream positions reach.
bool readToEnd(SongStream* stream, std::vector<uint8_t>& image, std::string* reason) {
    constexpr int32_t chunk = 64 * 1024;
    try {
        for (;;) {
            const std::size_t filled = image.size();
            if (filled > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
                return refuse(reason, tooLarge);
            }
            image.resize(filled + chunk);
            const int32_t got = streamRead(image.data() + filled, chunk, stream);
            image.resize(filled + static_cast<std::size_t>(std::clamp(got, 0, chunk)));
            if (got <= 0) {
                return true;
            }
        }
    } catch (const std::bad_alloc&) {
        return refuse(reason, "out of memory for the song's copy of a stream that cannot seek");
    }
}

// Reads the song from an open stream that can seek.
Song* readSong(SongStream* stream, SampleDataCallback sampleDataCallback, std::string* reason,
               XmFileFacts* facts) {
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    if (song == nullptr) {
        refuse(reason, "out of memory for the song");
        return nullptr;
    }
    song->sampleDataCallback = sampleDataCallback;
    const bool loaded = readXmSong(song, stream, reason, facts);
    // What the loader read after a failed seek is not the song's.
    if (!loaded || stream->seekFailed) {
        if (stream->seekFailed) {
            refuse(reason, "the stream failed to seek where the song's layout leads");
        }
        releaseSong(song);
        return nullptr;
    }
    return song;
}

}  // namespace

Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason) {
    return loadSong(streams, name, sampleDataCallback, reason, nullptr);
}

Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason, XmFileFacts* facts) {
    SongStream* stream = streamOpen(streams, name);
    if (stream == nullptr) {
        if (reason != nullptr) {
            *reason = streamCallbacksComplete(streams) ? "the song could not be opened"
                                                       : "the stream callbacks are incomplete";
        }
        return nullptr;
    }
    // The loader moves about the file; a stream that cannot seek is read
    // through once and loaded from memory instead.
    const int32_t start = streamTell(stream);
    if (start < 0 || !streamSeek(stream, 0, seekEnd)) {
        std::vector<uint8_t> image;
        const bool whole = readToEnd(stream, image, reason);
        streamClose(stream);
        if (!whole) {
            return nullptr;
        }
        const MemoryImage memory{image.data(), static_cast<int32_t>(image.size())};
        return loadSong(memoryStreamCallbacks(&memory), nullptr, sampleDataCallback, reason, facts);
    }
    streamSeek(stream, start, seekSet);
    Song* song = readSong(stream, sampleDataCallback, reason, facts);
    streamClose(stream);
    return song;
}

Song* loadSongMemory(const void* data, std::size_t size, std::string* reason) {
    if (data == nullptr && size > 0) {
        refuse(reason, "no song image given");
        return nullptr;
    }
    if (size > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        refuse(reason, tooLarge);
        return nullptr;
    }
    const MemoryImage memory{static_cast<const uint8_t*>(data), static_cast<int32_t>(size)};
    return loadSong(memoryStreamCallbacks(&memory), nullptr, nullptr, reason, nullptr);
}

Song* loadSongFile(const char* path, std::string* reason, XmFileFacts* facts) {
    if (path == nullptr) {
        refuse(reason, "no file named");
        return nullptr;
    }
    // Opened here, where the system can still say why it cannot be, and only
    // once: a named pipe opened twice would lose what was written to it.
    errno = 0;
    void* file = openFileStream(nullptr, path);
    if (file == nullptr) {
        refuse(reason, errno != 0 ? std::strerror(errno)
                                  : "not a file the player reads (a folder, or over 2 GiB)");
        return nullptr;
    }
    StreamCallbacks opened = fileStreamCallbacks();
    opened.open = [](void* context, const char*) { return context; };
    opened.context = file;
    return loadSong(opened, path, nullptr, reason, facts);
}

bool freeSong(Song* song) {
    if (song == nullptr) {
        return false;
    }
    releaseSong(song);
    return true;
}

}  // namespace xmplayer
