// The XM player library: load FastTracker 2 XM songs and render them, either
// pulled frame by frame into the application's own buffers or played through
// a wave device on a feeder thread of the library's own.
//
// A loaded Song is only read while it plays: any number of players may share
// one, on any threads. Each Player or OutputDevice belongs to one thread at a
// time. Frames are interleaved stereo, left first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "player/mixer/output_rate.h"
#include "player/output/output_device.h"
#include "player/sequencer/rule_set.h"
#include "player/song/stream_callbacks.h"

namespace xmplayer {

struct Song;
struct Player;

// ---- Songs

// Loads the song that `streams` open under `name`; null on failure, with a
// sentence saying why in `reason` when that is not null.
Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason = nullptr);
// Loads an XM file from disk; null on failure, with the reason.
Song* loadSongFile(const char* path, std::string* reason = nullptr);
// The stream callbacks over files on disk that loadSongFile uses.
StreamCallbacks fileStreamCallbacks();
// Releases a song that no player or output device plays any more.
bool freeSong(Song* song);

enum class FrequencyTable { Amiga, Linear };

struct SongSummary {
    int32_t channels;
    int32_t songLength;  // entries in the order list
    int32_t restartPosition;
    int32_t patterns;
    int32_t instruments;
    int32_t speed;  // ticks per row at the start
    int32_t tempo;  // beats per minute at the start
    FrequencyTable frequencyTable;
};
// What a loaded song holds.
SongSummary describeSong(const Song& song);
// The pattern an entry of the order list names, -1 beyond the list; and the
// rows it plays, 0 where there are none.
int32_t orderPattern(const Song& song, int32_t order);
int32_t orderRows(const Song& song, int32_t order);

// ---- Pulling frames: the application renders when it wants the frames

// One pass through a song: from the start until it first comes back to an
// order's row it has played, the rows that a pattern loop repeats counted in
// the pass, as other players measure songs.
struct SongDuration {
    int64_t milliseconds;           // the pass
    int64_t loopStartMilliseconds;  // when the row it comes back to first played
    int32_t loopOrder;              // the order and row it comes back to
    int32_t loopRow;
    bool comesBack;  // false: not within a day of rows; milliseconds covers those
    int64_t frames;  // the pass at the rate asked, exactly
    int64_t loopStartFrames;
};
// Measures a song by running its sequencer ahead without mixing, at `rate`
// (tick lengths are whole frames, so they differ a little between rates) and
// under `rules`.
SongDuration measureSong(const Song& song, int32_t rate = 44100, RuleSet rules = RuleSet::Ft2);

// Where the last rendered frame stands in the song.
struct Position {
    int32_t order;         // position in the order list
    int32_t row;           // row of that order's pattern
    int64_t milliseconds;  // time of the frames rendered since the start
    int64_t frames;        // frames rendered since the start
    int32_t pass;          // passes completed before it, once a pass limit is set
};

// A player of `song` at `rate` playing by `rules`, at the song's start; null
// for a rate outside the bounds or when memory runs out. The song must outlive
// the player.
Player* createPlayer(const Song& song, int32_t rate, RuleSet rules = RuleSet::Ft2);
void destroyPlayer(Player* player);
// Renders the next frameCount frames as 16-bit values and returns how many it
// rendered: all of them, or fewer once the pass limit ends the song. Never
// allocates, locks or waits.
int32_t renderFrames(Player& player, int16_t* frames, int32_t frameCount);
// The same frames as 32-bit floats, full scale 1.0: the mix before its 16-bit
// conversion, divided by 32768. round-half-even(value x 32768), clamped to
// -32768..32767, is the 16-bit frame.
int32_t renderFloatFrames(Player& player, float* frames, int32_t frameCount);
// The song ends after `passes` passes (1: at the end of the first); 0, as
// for a new player, loops for ever. Measures the song the first time.
void setPassLimit(Player& player, int32_t passes);
// The position of the last frame rendered; order 0, row 0, 0 ms before any.
Position renderedPosition(const Player& player);
// Channels to leave out of the mix, bit c for channel c (0 hears them all),
// from the next 20 ms block on: they play on unheard, so that any of them can
// be heard again at once, and the frames of all channels heard one at a time
// add up to the whole mix.
void setUnheardChannels(Player& player, uint32_t channels);

// What a channel plays at the end of the last block rendered.
struct ChannelView {
    int32_t instrument;  // counted from 1; 0 while the channel plays nothing
    float volume;        // 0 to 1: the channel's volume after envelopes and global volume
};
// Fills up to `capacity` views, channel 0 first, and returns the number of
// channels the song plays.
int32_t viewChannels(const Player& player, ChannelView* views, int32_t capacity);

// Back to the song's start, as a new player would be.
void restartPlayer(Player& player);
// Moves to a time, or to the first time the song plays an order's row within
// its first pass. The frames that follow are exactly those a render from the
// start gives there; the song is played ahead without mixing to get there.
// False, and nothing moved, beyond the pass limit or for a row never played.
bool seekToTime(Player& player, int64_t milliseconds);
bool seekToOrder(Player& player, int32_t order, int32_t row = 0);

// ---- Playing through a wave device: see player/output/output_device.h.

}  // namespace xmplayer
