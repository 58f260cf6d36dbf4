// The C API over the C++ one: handles are the C++ records under other names,
// records of the same layout are passed through, the others copied; every
// call does what its C++ counterpart does and adds the status and message.
#include "player/c_api/xmplayer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "player/player.h"

namespace {

using xmplayer::Player;
using xmplayer::Song;

static_assert(xmplayerMinRate == xmplayer::minOutputRate &&
              xmplayerMaxRate == xmplayer::maxOutputRate);
static_assert(static_cast<int>(xmplayer::RuleSet::Ft2) == xmplayerRulesFt2 &&
              static_cast<int>(xmplayer::RuleSet::Own) == xmplayerRulesOwn);
static_assert(xmplayerSeekSet == xmplayer::seekSet &&
              xmplayerSeekCurrent == xmplayer::seekCurrent && xmplayerSeekEnd == xmplayer::seekEnd);

// The arrays of cells and views are handed to the C++ calls as they are.
static_assert(sizeof(XmplayerPatternCell) == sizeof(xmplayer::PatternCell) &&
              offsetof(XmplayerPatternCell, note) == offsetof(xmplayer::PatternCell, note) &&
              offsetof(XmplayerPatternCell, instrument) ==
                  offsetof(xmplayer::PatternCell, instrument) &&
              offsetof(XmplayerPatternCell, volume) == offsetof(xmplayer::PatternCell, volume) &&
              offsetof(XmplayerPatternCell, effect) == offsetof(xmplayer::PatternCell, effect) &&
              offsetof(XmplayerPatternCell, parameter) ==
                  offsetof(xmplayer::PatternCell, parameter));
static_assert(sizeof(XmplayerChannelView) == sizeof(xmplayer::ChannelView) &&
              offsetof(XmplayerChannelView, instrument) ==
                  offsetof(xmplayer::ChannelView, instrument) &&
              offsetof(XmplayerChannelView, volume) == offsetof(xmplayer::ChannelView, volume));

// "major.minor.patch", written out when the library is compiled.
constexpr std::array<char, 16> writeVersionText() {
    std::array<char, 16> text{};
    std::size_t length = 0;
    const int parts[] = {XMPLAYER_VERSION_MAJOR, XMPLAYER_VERSION_MINOR, XMPLAYER_VERSION_PATCH};
    for (const int part : parts) {
        if (length > 0) {
            text[length++] = '.';
        }
        char digits[4] = {};
        int count = 0;
        for (int value = part; count == 0 || value > 0; value /= 10) {
            digits[count++] = static_cast<char>('0' + value % 10);
        }
        while (count > 0) {
            text[length++] = digits[--count];
        }
    }
    return text;
}
constexpr std::array<char, 16> versionText = writeVersionText();

const Song* songOf(const XmplayerSong* song) {
    return reinterpret_cast<const Song*>(song);
}

Player* playerOf(XmplayerPlayer* player) {
    return reinterpret_cast<Player*>(player);
}

const Player* playerOf(const XmplayerPlayer* player) {
    return reinterpret_cast<const Player*>(player);
}

xmplayer::RuleSet ruleSetOf(XmplayerRules rules) {
    return rules == xmplayerRulesOwn ? xmplayer::RuleSet::Own : xmplayer::RuleSet::Ft2;
}

XmplayerStatus report(XmplayerError* error, XmplayerStatus status, const std::string& message) {
    if (error != nullptr) {
        error->status = status;
        const std::size_t length = std::min(message.size(), sizeof error->message - 1);
        std::memcpy(error->message, message.data(), length);
        error->message[length] = '\0';
    }
    return status;
}

XmplayerStatus succeed(XmplayerError* error) {
    return report(error, xmplayerStatusOk, {});
}

XmplayerStatus missing(XmplayerError* error, const char* what) {
    return report(error, xmplayerStatusInvalidArgument, std::string("no ") + what + " given");
}

bool rateInBounds(int32_t rate) {
    return rate >= xmplayer::minOutputRate && rate <= xmplayer::maxOutputRate;
}

std::string rateOutOfBounds(int32_t rate) {
    return "the rate " + std::to_string(rate) + " Hz is outside " +
           std::to_string(xmplayer::minOutputRate) + " to " +
           std::to_string(xmplayer::maxOutputRate) + " Hz";
}

// Hands a loaded song out, or the loader's reason.
XmplayerStatus loaded(Song* loadedSong, const std::string& reason, XmplayerSong** song,
                      XmplayerError* error) {
    *song = reinterpret_cast<XmplayerSong*>(loadedSong);
    return loadedSong != nullptr ? succeed(error) : report(error, xmplayerStatusLoadFailed, reason);
}

// Why a seek to an order's row finds nothing.
std::string orderRefusal(const Song& song, int32_t order, int32_t row) {
    const int32_t orders = xmplayer::describeSong(song).songLength;
    if (order < 0 || order >= orders) {
        return "order " + std::to_string(order) + " is not in the order list (" +
               std::to_string(orders) + " entries)";
    }
    const int32_t rows = xmplayer::orderRows(song, order);
    if (row < 0 || row >= rows) {
        return "order " + std::to_string(order) + " has rows 0 to " + std::to_string(rows - 1) +
               ", not " + std::to_string(row);
    }
    return "order " + std::to_string(order) + " row " + std::to_string(row) +
           " is not played in the song's first pass";
}

}  // namespace

extern "C" {

int32_t xmplayerVersion(void) {
    return XMPLAYER_VERSION;
}

const char* xmplayerVersionText(void) {
    return versionText.data();
}

const char* xmplayerStatusText(XmplayerStatus status) {
    switch (status) {
        case xmplayerStatusOk:
            return "ok";
        case xmplayerStatusInvalidArgument:
            return "invalid argument";
        case xmplayerStatusLoadFailed:
            return "load failed";
        case xmplayerStatusOutOfMemory:
            return "out of memory";
        case xmplayerStatusRefused:
            return "refused";
    }
    return "unknown status";
}

XmplayerStatus xmplayerLoadFile(const char* path, XmplayerSong** song, XmplayerError* error) {
    if (song == nullptr) {
        return missing(error, "song handle to fill");
    }
    *song = nullptr;
    if (path == nullptr) {
        return missing(error, "path");
    }
    std::string reason;
    Song* loadedSong = xmplayer::loadSongFile(path, &reason);
    return loaded(loadedSong, reason, song, error);
}

XmplayerStatus xmplayerLoadMemory(const void* data, size_t size, XmplayerSong** song,
                                  XmplayerError* error) {
    if (song == nullptr) {
        return missing(error, "song handle to fill");
    }
    *song = nullptr;
    if (data == nullptr) {
        return missing(error, "song image");
    }
    std::string reason;
    Song* loadedSong = xmplayer::loadSongMemory(data, size, &reason);
    return loaded(loadedSong, reason, song, error);
}

XmplayerStatus xmplayerLoadStream(const XmplayerStreamCallbacks* callbacks, const char* name,
                                  XmplayerSong** song, XmplayerError* error) {
    if (song == nullptr) {
        return missing(error, "song handle to fill");
    }
    *song = nullptr;
    if (callbacks == nullptr) {
        return missing(error, "stream callbacks");
    }
    const xmplayer::StreamCallbacks streams{callbacks->open, callbacks->close, callbacks->read,
                                            callbacks->seek, callbacks->tell,  callbacks->context};
    std::string reason;
    Song* loadedSong = xmplayer::loadSong(streams, name, nullptr, &reason);
    return loaded(loadedSong, reason, song, error);
}

void xmplayerFreeSong(XmplayerSong* song) {
    xmplayer::freeSong(const_cast<Song*>(songOf(song)));
}

XmplayerStatus xmplayerDescribeSong(const XmplayerSong* song, XmplayerSongSummary* summary,
                                    XmplayerError* error) {
    if (song == nullptr || summary == nullptr) {
        return missing(error, song == nullptr ? "song" : "summary to fill");
    }
    const xmplayer::SongSummary described = xmplayer::describeSong(*songOf(song));
    std::memcpy(summary->title, described.title, sizeof summary->title);
    summary->channels = described.channels;
    summary->songLength = described.songLength;
    summary->restartPosition = described.restartPosition;
    summary->patterns = described.patterns;
    summary->instruments = described.instruments;
    summary->speed = described.speed;
    summary->tempo = described.tempo;
    summary->frequencyTable = described.frequencyTable == xmplayer::FrequencyTable::Linear
                                  ? xmplayerFrequencyLinear
                                  : xmplayerFrequencyAmiga;
    return succeed(error);
}

int32_t xmplayerOrderPattern(const XmplayerSong* song, int32_t order) {
    return song != nullptr ? xmplayer::orderPattern(*songOf(song), order) : -1;
}

int32_t xmplayerOrderRows(const XmplayerSong* song, int32_t order) {
    return song != nullptr ? xmplayer::orderRows(*songOf(song), order) : 0;
}

int32_t xmplayerPatternRows(const XmplayerSong* song, int32_t pattern) {
    return song != nullptr ? xmplayer::patternRows(*songOf(song), pattern) : 0;
}

int32_t xmplayerPatternCells(const XmplayerSong* song, int32_t pattern, XmplayerPatternCell* cells,
                             int32_t capacity) {
    if (song == nullptr) {
        return 0;
    }
    return xmplayer::patternCells(*songOf(song), pattern,
                                  reinterpret_cast<xmplayer::PatternCell*>(cells),
                                  cells != nullptr ? capacity : 0);
}

XmplayerStatus xmplayerMeasureSong(const XmplayerSong* song, int32_t rate, XmplayerRules rules,
                                   XmplayerDuration* duration, XmplayerError* error) {
    if (song == nullptr || duration == nullptr) {
        return missing(error, song == nullptr ? "song" : "duration to fill");
    }
    if (!rateInBounds(rate)) {
        return report(error, xmplayerStatusInvalidArgument, rateOutOfBounds(rate));
    }
    const xmplayer::SongDuration measured =
        xmplayer::measureSong(*songOf(song), rate, ruleSetOf(rules));
    duration->milliseconds = measured.milliseconds;
    duration->loopStartMilliseconds = measured.loopStartMilliseconds;
    duration->loopOrder = measured.loopOrder;
    duration->loopRow = measured.loopRow;
    duration->comesBack = measured.comesBack;
    duration->frames = measured.frames;
    duration->loopStartFrames = measured.loopStartFrames;
    return succeed(error);
}

XmplayerStatus xmplayerCreatePlayer(const XmplayerSong* song, int32_t rate, XmplayerRules rules,
                                    XmplayerPlayer** player, XmplayerError* error) {
    if (player == nullptr) {
        return missing(error, "player handle to fill");
    }
    *player = nullptr;
    if (song == nullptr) {
        return missing(error, "song");
    }
    if (!rateInBounds(rate)) {
        return report(error, xmplayerStatusInvalidArgument, rateOutOfBounds(rate));
    }
    Player* created = xmplayer::createPlayer(*songOf(song), rate, ruleSetOf(rules));
    if (created == nullptr) {
        return report(error, xmplayerStatusOutOfMemory, "out of memory for the player");
    }
    *player = reinterpret_cast<XmplayerPlayer*>(created);
    return succeed(error);
}

void xmplayerDestroyPlayer(XmplayerPlayer* player) {
    xmplayer::destroyPlayer(playerOf(player));
}

int32_t xmplayerRenderFrames(XmplayerPlayer* player, int16_t* frames, int32_t frameCount) {
    return player != nullptr && frames != nullptr
               ? xmplayer::renderFrames(*playerOf(player), frames, frameCount)
               : 0;
}

int32_t xmplayerRenderFloatFrames(XmplayerPlayer* player, float* frames, int32_t frameCount) {
    return player != nullptr && frames != nullptr
               ? xmplayer::renderFloatFrames(*playerOf(player), frames, frameCount)
               : 0;
}

void xmplayerSetPassLimit(XmplayerPlayer* player, int32_t passes) {
    if (player != nullptr) {
        xmplayer::setPassLimit(*playerOf(player), passes);
    }
}

XmplayerStatus xmplayerRenderedPosition(const XmplayerPlayer* player, XmplayerPosition* position,
                                        XmplayerError* error) {
    if (player == nullptr || position == nullptr) {
        return missing(error, player == nullptr ? "player" : "position to fill");
    }
    const xmplayer::Position at = xmplayer::renderedPosition(*playerOf(player));
    position->order = at.order;
    position->row = at.row;
    position->milliseconds = at.milliseconds;
    position->frames = at.frames;
    position->pass = at.pass;
    return succeed(error);
}

void xmplayerSetUnheardChannels(XmplayerPlayer* player, uint32_t channels) {
    if (player != nullptr) {
        xmplayer::setUnheardChannels(*playerOf(player), channels);
    }
}

int32_t xmplayerViewChannels(const XmplayerPlayer* player, XmplayerChannelView* views,
                             int32_t capacity) {
    if (player == nullptr) {
        return 0;
    }
    return xmplayer::viewChannels(*playerOf(player),
                                  reinterpret_cast<xmplayer::ChannelView*>(views),
                                  views != nullptr ? capacity : 0);
}

void xmplayerRestartPlayer(XmplayerPlayer* player) {
    if (player != nullptr) {
        xmplayer::restartPlayer(*playerOf(player));
    }
}

XmplayerStatus xmplayerSeekToTime(XmplayerPlayer* player, int64_t milliseconds,
                                  XmplayerError* error) {
    if (player == nullptr) {
        return missing(error, "player");
    }
    if (!xmplayer::seekToTime(*playerOf(player), milliseconds)) {
        return report(error, xmplayerStatusRefused,
                      std::to_string(milliseconds) +
                          " ms is further than a player can count, and with no pass limit the "
                          "song has no end to go to");
    }
    return succeed(error);
}

XmplayerStatus xmplayerSeekToOrder(XmplayerPlayer* player, int32_t order, int32_t row,
                                   XmplayerError* error) {
    if (player == nullptr) {
        return missing(error, "player");
    }
    if (!xmplayer::seekToOrder(*playerOf(player), order, row)) {
        return report(error, xmplayerStatusRefused,
                      orderRefusal(xmplayer::playerSong(*playerOf(player)), order, row));
    }
    return succeed(error);
}

}  // extern "C"
