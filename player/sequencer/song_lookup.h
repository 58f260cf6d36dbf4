// Safe access from the sequencer to a song's orders, patterns, instruments and
// samples. A song built in memory need not keep the loader's guarantees, so
// every index is checked here and anything out of range reads as absent.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"

namespace xmplayer {

// The song's channelCount bounded to the channel table (0..32). Tracks beyond
// the table are not played; pattern rows keep their full width.
int32_t playedChannelCount(const Song* song);

// The song's songLength bounded to the order list (0..256).
int32_t playedSongLength(const Song* song);

// The order position that follows the last played one: restartPosition, or 0
// when that lies outside the played orders.
int32_t restartOrder(const Song* song);

// The pattern that the order list names at orderPos, or null when there is none.
const SongPattern* patternAtOrder(const Song* song, int32_t orderPos);

// The rows of that pattern; 0 when there is none.
int32_t rowCountAtOrder(const Song* song, int32_t orderPos);

// The first cell of a row (channelCount cells follow), or null when the
// pattern, its cells or the row do not exist.
const PatternNote* rowCells(const Song* song, int32_t orderPos, int32_t row);

// The channel's instrument, or emptyInstrument for a number beyond the song's.
const Instrument* channelInstrument(const Song* song, const MusicChannel* channel);

// The sample that the instrument maps the channel's note to, or emptySample
// when the slot lies beyond the instrument's samples or holds none.
const Sample* channelSample(const Instrument* instrument, const MusicChannel* channel);

}  // namespace xmplayer
