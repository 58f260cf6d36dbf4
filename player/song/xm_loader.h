// Reads an XM file from a stream into a zeroed Song.
#pragma once

#include "player/song/song.h"
#include "player/song/stream.h"

// Fills `song` from `stream`. On false the song may be half built and is
// released by the caller with freeSong.
bool readXmSong(Song* song, SongStream* stream);
