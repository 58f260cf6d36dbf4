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
// sentence saying why in `reason` when that is not null. See
// player/song/stream_callbacks.h for what the callbacks do, and for streams
// that cannot seek.
Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason = nullptr);
// Loads an XM file from disk; null on failure, with the reason.
Song* loadSongFile(const char* path, std::string* reason = nullptr);
// Loads the song held in `size` bytes at `data`, which the song does not keep
// (the bytes may go once this returns); null on failure, with the reason.
Song* loadSongMemory(const void* data, std::size_t size, std::string* reason = nullptr);
// The stream callbacks over files on disk that loadSongFile uses.
StreamCallbacks fileStreamCallbacks();
// Releases a song that no player or output device plays any more.
bool freeSong(Song* song);

enum class FrequencyTable { Amiga, Linear };

struct SongSummary {
    char title[21];  // as the file names it, printable ASCII (others as '?'), trimmed
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

// One channel's cell of a pattern row, as a tracker shows it.
struct PatternCell {
    uint8_t note;        // 0 none, 1 to 96 the notes from C-0, 97 key off
    uint8_t instrument;  // 0 none, else counted from 1
    uint8_t volume;      // the volume column's byte, 0 empty
    uint8_t effect;      // the effect's number (0 to 35); 0 with parameter 0 is none
    uint8_t parameter;
};
// Rows of pattern `pattern` (counted from 0), 0 for one the song does not have.
int32_t patternRows(const Song& song, int32_t pattern);
// Copies the pattern's cells, row after row and the song's channels in each
// row, into `cells` up to `capacity`, and returns how many the pattern has.
int32_t patternCells(const Song& song, int32_t pattern, PatternCell* cells, int32_t capacity);

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
// under `rules`. A rate outside minOutputRate to maxOutputRate, which no
// player plays at, is measured at the nearer of the two.
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
// The song a player plays.
const Song& playerSong(const Player& player);
// Renders the next frameCount frames as 16-bit values and returns how many it
// rendered: all of them, or fewer once the pass limit ends the song, leaving
// the rest of `frames` as it was (clear it where it is played anyway). Never
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

// Back to the song's start, as a new player would be, but for what the
// application set: the pass limit and the unheard channels stay.
void restartPlayer(Player& player);
// Moves to a time, or to the first time the song plays an order's row within
// its first pass. The frames that follow are exactly those a render from the
// start gives there; the song is played ahead without mixing to get there,
// which takes time in proportion to the distance from the start.
// A time before the start goes to the start, and a time at or beyond the end
// that a pass limit sets goes to that end, where a render gives no frames.
// With no pass limit the song has no end; a time whose frame count does not
// fit in 64 bits is then refused.
// False, and the frames to come exactly as they were, for a time refused so,
// an order or row the song does not have or a row never played.
bool seekToTime(Player& player, int64_t milliseconds);
bool seekToOrder(Player& player, int32_t order, int32_t row = 0);

// ---- Playing through a wave device: see player/output/output_device.h.

}  // namespace xmplayer
