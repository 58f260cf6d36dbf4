// Songs built in memory the way the loader builds them, released by freeSong:
// for the tests of the rendering core and the output driver, and for the
// benchmarks. Songs are only read while they play, so one may serve any
// number of playbacks.
#pragma once

#include <cstdint>
#include <vector>

#include "player/song/song.h"

struct TestSongShape {
    int32_t patterns = 2;
    int32_t rows = 32;
    int32_t speed = 6;
    int32_t tempo = 125;
    int16_t channels = 2;
};

// `patterns` patterns of `rows` empty rows, played in order, and
// `instruments` instruments with no sample yet; linear frequency table.
xmplayer::Song* makeBlankSong(const TestSongShape& shape, int16_t instruments);

// Gives instrument `index` (0-based) one sample of these values, at volume 64
// and centred, which every note plays. A ForwardLoop or PingPongLoop runs from
// loopStart to the end of the values.
xmplayer::Sample* setInstrumentSample(xmplayer::Song& song, int32_t index,
                                      const std::vector<int16_t>& values, uint8_t loopType,
                                      uint32_t loopStart);

xmplayer::PatternNote& songCell(xmplayer::Song& song, int32_t pattern, int32_t row,
                                int32_t channel);

// A looping song of the given shape whose one instrument is a looping sine of
// 64 values: the first channel starts a note on the first row of every
// pattern, the second only on that of the last pattern. No effects.
xmplayer::Song* makeTestSong(const TestSongShape& shape = {});
