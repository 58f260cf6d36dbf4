/*
 * The XM player library's C API: load FastTracker 2 XM songs, measure them
 * and render them, pulled frame by frame into the application's buffers.
 * Usable from C99 and C++; it wraps the C++ API (player/player.h) call for
 * call, with the same contracts.
 *
 * Songs and players are opaque handles. A loaded song is only read while it
 * plays: any number of players may share one, on any threads, and it must
 * outlive them. Each player belongs to one thread at a time. Frames are
 * interleaved stereo, left first.
 *
 * Calls that can fail return an XmplayerStatus and, when `error` is not
 * null, fill it with the same status and a sentence saying why (empty on
 * success). Null handles or buffers give xmplayerStatusInvalidArgument;
 * calls that return no status do nothing with them and return 0.
 *
 * Compatibility: within a major version this header only grows; calls,
 * records and values are never changed or removed.
 */
#ifndef XMPLAYER_C_API_XMPLAYER_H
#define XMPLAYER_C_API_XMPLAYER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* The version this header belongs to; xmplayerVersion() gives the library's. */
#define XMPLAYER_VERSION_MAJOR 3
#define XMPLAYER_VERSION_MINOR 0
#define XMPLAYER_VERSION_PATCH 0
/* One number that grows with every release: 30000 for 3.0.0. */
#define XMPLAYER_VERSION \
    (XMPLAYER_VERSION_MAJOR * 10000 + XMPLAYER_VERSION_MINOR * 100 + XMPLAYER_VERSION_PATCH)

/* The shared library exports these calls and nothing else. */
#if defined(XMPLAYER_EXPORTS) && defined(_WIN32)
#define XMPLAYER_API __declspec(dllexport)
#elif defined(XMPLAYER_EXPORTS)
#define XMPLAYER_API __attribute__((visibility("default")))
#else
#define XMPLAYER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version, status and errors */

typedef enum XmplayerStatus {
    xmplayerStatusOk = 0,
    xmplayerStatusInvalidArgument = 1, /* a null handle or buffer, a rate out of bounds */
    xmplayerStatusLoadFailed = 2,      /* not opened, not an XM file the player reads */
    xmplayerStatusOutOfMemory = 3,
    xmplayerStatusRefused = 4 /* a seek the song cannot make; nothing moved */
} XmplayerStatus;

enum { xmplayerMessageCapacity = 256 };

typedef struct XmplayerError {
    XmplayerStatus status;
    char message[xmplayerMessageCapacity]; /* a sentence, cut to fit; "" for success */
} XmplayerError;

/* XMPLAYER_VERSION of the library the program runs with. */
XMPLAYER_API int32_t xmplayerVersion(void);
/* The same as "major.minor.patch". */
XMPLAYER_API const char* xmplayerVersionText(void);
/* A few words naming a status ("ok", "invalid argument", ...). */
XMPLAYER_API const char* xmplayerStatusText(XmplayerStatus status);

/* ---- Songs */

typedef struct XmplayerSong XmplayerSong;

/* Loads an XM file from disk into *song (null on failure). */
XMPLAYER_API XmplayerStatus xmplayerLoadFile(const char* path, XmplayerSong** song,
                                             XmplayerError* error);
/* Loads the song held in `size` bytes at `data`, which the song does not
 * keep: they may go once this returns. */
XMPLAYER_API XmplayerStatus xmplayerLoadMemory(const void* data, size_t size, XmplayerSong** song,
                                               XmplayerError* error);

/* Seek modes of a stream. */
enum { xmplayerSeekSet = 0, xmplayerSeekCurrent = 1, xmplayerSeekEnd = 2 };

/* The five functions through which a song is read from wherever the
 * application keeps it. Each receives `context` as given here; open returns
 * the handle of an open stream (null on failure), which the other four
 * receive. read returns the bytes read (0 at the end); seek moves to `offset`
 * from where `mode` says and returns false, with the position unchanged,
 * when it cannot; tell returns the position, negative when unknown. A stream
 * that cannot seek (its first seek or tell fails) is read through once to
 * its end and loaded from that copy. */
typedef struct XmplayerStreamCallbacks {
    void* (*open)(void* context, const char* name);
    void (*close)(void* context, void* stream);
    int32_t (*read)(void* context, void* stream, void* buffer, int32_t size);
    bool (*seek)(void* context, void* stream, int32_t offset, int32_t mode);
    int32_t (*tell)(void* context, void* stream);
    void* context;
} XmplayerStreamCallbacks;

/* Loads the song that `callbacks` open under `name` (passed to open as it
 * is, and may be null). */
XMPLAYER_API XmplayerStatus xmplayerLoadStream(const XmplayerStreamCallbacks* callbacks,
                                               const char* name, XmplayerSong** song,
                                               XmplayerError* error);
/* Releases a song that no player plays any more; null is ignored. */
XMPLAYER_API void xmplayerFreeSong(XmplayerSong* song);

/* Values of XmplayerSongSummary.frequencyTable. */
enum { xmplayerFrequencyAmiga = 0, xmplayerFrequencyLinear = 1 };

typedef struct XmplayerSongSummary {
    char title[21]; /* printable ASCII (others as '?'), trimmed */
    int32_t channels;
    int32_t songLength; /* entries in the order list */
    int32_t restartPosition;
    int32_t patterns;
    int32_t instruments;
    int32_t speed; /* ticks per row at the start */
    int32_t tempo; /* beats per minute at the start */
    int32_t frequencyTable;
} XmplayerSongSummary;

XMPLAYER_API XmplayerStatus xmplayerDescribeSong(const XmplayerSong* song,
                                                 XmplayerSongSummary* summary,
                                                 XmplayerError* error);
/* The pattern an entry of the order list names, -1 beyond the list; and the
 * rows it plays, 0 where there are none. */
XMPLAYER_API int32_t xmplayerOrderPattern(const XmplayerSong* song, int32_t order);
XMPLAYER_API int32_t xmplayerOrderRows(const XmplayerSong* song, int32_t order);

/* One channel's cell of a pattern row, as a tracker shows it. */
typedef struct XmplayerPatternCell {
    uint8_t note;       /* 0 none, 1 to 96 the notes from C-0, 97 key off */
    uint8_t instrument; /* 0 none, else counted from 1 */
    uint8_t volume;     /* the volume column's byte, 0 empty */
    uint8_t effect;     /* the effect's number (0 to 35); 0 with parameter 0 is none */
    uint8_t parameter;
} XmplayerPatternCell;

/* Rows of a pattern (counted from 0), 0 for one the song does not have. */
XMPLAYER_API int32_t xmplayerPatternRows(const XmplayerSong* song, int32_t pattern);
/* Copies a pattern's cells, row after row and the song's channels in each
 * row, into `cells` up to `capacity`; returns how many the pattern has. */
XMPLAYER_API int32_t xmplayerPatternCells(const XmplayerSong* song, int32_t pattern,
                                          XmplayerPatternCell* cells, int32_t capacity);

/* ---- Measuring */

/* The playback rules: FastTracker 2's, as the songs' authors heard them, or
 * the player's own older ones. */
typedef enum XmplayerRules { xmplayerRulesFt2 = 0, xmplayerRulesOwn = 1 } XmplayerRules;

/* The rates a player renders at, in frames per second. */
enum { xmplayerMinRate = 1000, xmplayerMaxRate = 384000 };

/* One pass through a song: from the start until it comes back to a row it
 * has played in the same state (order, row, speed, tempo, pattern loops),
 * from where it would play on as before. */
typedef struct XmplayerDuration {
    int64_t milliseconds;          /* the pass */
    int64_t loopStartMilliseconds; /* when the row it comes back to first played */
    int32_t loopOrder;             /* the order and row it comes back to */
    int32_t loopRow;
    bool comesBack; /* false: not within a day of rows; milliseconds covers those */
    int64_t frames; /* the pass at the rate asked, exactly */
    int64_t loopStartFrames;
} XmplayerDuration;

/* Measures a song by running it ahead without mixing, at `rate` (tick
 * lengths are whole frames, so they differ a little between rates) and by
 * `rules`. A rate no player renders at is refused as an invalid argument. */
XMPLAYER_API XmplayerStatus xmplayerMeasureSong(const XmplayerSong* song, int32_t rate,
                                                XmplayerRules rules, XmplayerDuration* duration,
                                                XmplayerError* error);

/* ---- Players: the application renders when it wants the frames */

typedef struct XmplayerPlayer XmplayerPlayer;

/* A player of `song` at `rate` playing by `rules`, at the song's start, into
 * *player (null on failure). The song must outlive the player. */
XMPLAYER_API XmplayerStatus xmplayerCreatePlayer(const XmplayerSong* song, int32_t rate,
                                                 XmplayerRules rules, XmplayerPlayer** player,
                                                 XmplayerError* error);
/* Null is ignored. */
XMPLAYER_API void xmplayerDestroyPlayer(XmplayerPlayer* player);

/* Renders the next frameCount frames as 16-bit values and returns how many
 * it rendered: all of them, or fewer once the pass limit ends the song,
 * leaving the rest of `frames` as it was (clear it where it is played
 * anyway). Never allocates, locks or waits. */
XMPLAYER_API int32_t xmplayerRenderFrames(XmplayerPlayer* player, int16_t* frames,
                                          int32_t frameCount);
/* The same frames as 32-bit floats, full scale 1.0: the mix before its
 * 16-bit conversion, divided by 32768. round-half-even(value x 32768),
 * clamped to -32768..32767, is the 16-bit frame. */
XMPLAYER_API int32_t xmplayerRenderFloatFrames(XmplayerPlayer* player, float* frames,
                                               int32_t frameCount);
/* The song ends after `passes` passes (1: at the end of the first); 0, as for
 * a new player, loops for ever. Measures the song the first time. */
XMPLAYER_API void xmplayerSetPassLimit(XmplayerPlayer* player, int32_t passes);

/* Where the last rendered frame stands in the song. */
typedef struct XmplayerPosition {
    int32_t order;        /* position in the order list */
    int32_t row;          /* row of that order's pattern */
    int64_t milliseconds; /* time of the frames rendered since the start */
    int64_t frames;       /* frames rendered since the start */
    int32_t pass;         /* passes completed before it, once a pass limit is set */
} XmplayerPosition;

/* Order 0, row 0, 0 ms before any frame. */
XMPLAYER_API XmplayerStatus xmplayerRenderedPosition(const XmplayerPlayer* player,
                                                     XmplayerPosition* position,
                                                     XmplayerError* error);
/* Channels to leave out of the mix, bit c for channel c (0 hears them all),
 * from the next 20 ms block on: they play on unheard, so that any of them can
 * be heard again at once, and the frames of all channels heard one at a time
 * add up to the whole mix. */
XMPLAYER_API void xmplayerSetUnheardChannels(XmplayerPlayer* player, uint32_t channels);

/* What a channel plays at the end of the last block rendered. */
typedef struct XmplayerChannelView {
    int32_t instrument; /* counted from 1; 0 while the channel plays nothing */
    float volume;       /* 0 to 1: after envelopes and global volume */
} XmplayerChannelView;

/* Fills up to `capacity` views, channel 0 first, and returns the number of
 * channels the song plays. */
XMPLAYER_API int32_t xmplayerViewChannels(const XmplayerPlayer* player, XmplayerChannelView* views,
                                          int32_t capacity);

/* Back to the song's start, as a new player would be, but for what the
 * application set: the pass limit and the unheard channels stay. */
XMPLAYER_API void xmplayerRestartPlayer(XmplayerPlayer* player);
/* Moves to a time, or to the first time the song plays an order's row within
 * its first pass. The frames that follow are exactly those a render from the
 * start gives there; the song is played ahead without mixing to get there.
 * A time before the start goes to the start, and a time at or beyond the end
 * that a pass limit sets goes to that end, where a render gives no frames.
 * With no pass limit the song has no end; a time whose frame count does not
 * fit in 64 bits is then refused. xmplayerStatusRefused, and the frames to
 * come exactly as they were, for a time refused so, an order or row the song
 * does not have or a row never played. */
XMPLAYER_API XmplayerStatus xmplayerSeekToTime(XmplayerPlayer* player, int64_t milliseconds,
                                               XmplayerError* error);
XMPLAYER_API XmplayerStatus xmplayerSeekToOrder(XmplayerPlayer* player, int32_t order, int32_t row,
                                                XmplayerError* error);

#ifdef __cplusplus
}
#endif

#endif
