// Reads an XM file from a stream into a zeroed Song.
#pragma once

#include <cstdint>
#include <string>

#include "player/song/song.h"
#include "player/song/stream.h"

namespace xmplayer {

// Limits of what the loader accepts or keeps. A song beyond them is refused
// (channels, patterns, rows) or clamped (instruments beyond the 128 that a
// pattern cell can name are not read).
constexpr int maxSongChannels = 32;
constexpr int maxSongPatterns = 256;
constexpr int maxPatternRows = 1024;
constexpr int maxSongInstruments = 128;
constexpr int maxSongLength = 256;
// Rows of a pattern that the order list names but the file does not hold, and
// of a pattern stored with no rows.
constexpr int emptyPatternRows = 64;

// What a file carries besides the song, as far as the loader read it: for
// tools that describe files.
struct XmFileFacts {
    uint16_t version;              // the format version in the file's header
    int32_t compressedSamples;     // samples stored as 4-bit deltas
    int32_t mostSamples;           // the most samples that one instrument holds
    int64_t bytesAfterLastSample;  // left unread at the end of the file
};

// Fills `song` from `stream`. On false the song may be half built and is
// released by the caller with freeSong.
bool readXmSong(Song* song, SongStream* stream);
// The same; on false `reason` (when not null) receives a sentence saying why
// the file was refused.
bool readXmSong(Song* song, SongStream* stream, std::string* reason);
// The same; `facts` (when not null) receives what the file carries.
bool readXmSong(Song* song, SongStream* stream, std::string* reason, XmFileFacts* facts);

}  // namespace xmplayer
