// How long one pass through a song lasts, found by running the sequencer
// ahead without mixing: from the start until the song first comes back to an
// order's row it has already played. The repetitions of a pattern loop
// belong to the pass: a row counts as played again only where every
// channel's pattern loop stands as it did the first time.
#pragma once

#include <cstdint>

#include "player/sequencer/sequencer.h"
#include "player/song/song.h"

namespace xmplayer {

// Rows looked at before a song that has not come back is taken to run on for
// ever: more than a day of the slowest songs' rows is far beyond any real one.
constexpr int32_t maxMeasuredRows = 200000;

// A place in the song: an order's row.
struct SongPlace {
    int32_t orderPos;
    int32_t row;
};

struct SongLength {
    int64_t frames;           // one pass at the rate asked
    int64_t loopStartFrames;  // where in the pass the row it comes back to first played
    SongPlace loopTarget;     // the order and row it comes back to
    bool comesBack;           // false: not within maxMeasuredRows; frames covers those rows
};

// Measures the song at `rate` (one of the rates a playback accepts) under
// `rules`; a song that cannot be bound (out of memory) measures as 0 frames.
SongLength measureSongLength(const Song& song, int32_t rate, const PlaybackRules& rules);

}  // namespace xmplayer
