// Where the C API's records keep their fields in the WebAssembly module's
// memory, as the compiler laid them out, so that the page's JavaScript
// (xmplayer-api.js) reads them without a hand-written copy of the layout.
#include <cstddef>
#include <cstdint>

#include "player/c_api/xmplayer.h"

namespace {

// The fields in the order xmplayer-api.js names them, after their count.
constexpr int32_t fields[] = {
    32,
    sizeof(XmplayerError),
    offsetof(XmplayerError, status),
    offsetof(XmplayerError, message),
    sizeof(XmplayerSongSummary),
    offsetof(XmplayerSongSummary, title),
    offsetof(XmplayerSongSummary, channels),
    offsetof(XmplayerSongSummary, songLength),
    offsetof(XmplayerSongSummary, restartPosition),
    offsetof(XmplayerSongSummary, patterns),
    offsetof(XmplayerSongSummary, instruments),
    offsetof(XmplayerSongSummary, speed),
    offsetof(XmplayerSongSummary, tempo),
    offsetof(XmplayerSongSummary, frequencyTable),
    sizeof(XmplayerDuration),
    offsetof(XmplayerDuration, milliseconds),
    offsetof(XmplayerDuration, loopStartMilliseconds),
    offsetof(XmplayerDuration, loopOrder),
    offsetof(XmplayerDuration, loopRow),
    offsetof(XmplayerDuration, comesBack),
    offsetof(XmplayerDuration, frames),
    offsetof(XmplayerDuration, loopStartFrames),
    sizeof(XmplayerPosition),
    offsetof(XmplayerPosition, order),
    offsetof(XmplayerPosition, row),
    offsetof(XmplayerPosition, milliseconds),
    offsetof(XmplayerPosition, frames),
    offsetof(XmplayerPosition, pass),
    sizeof(XmplayerChannelView),
    offsetof(XmplayerChannelView, instrument),
    offsetof(XmplayerChannelView, volume),
    sizeof(XmplayerPatternCell),
    // The cell's five bytes are read in the header's order.
    offsetof(XmplayerPatternCell, note),
};
static_assert(sizeof fields / sizeof fields[0] == fields[0] + 1);
static_assert(sizeof(XmplayerPatternCell) == 5 && offsetof(XmplayerPatternCell, instrument) == 1 &&
              offsetof(XmplayerPatternCell, volume) == 2 &&
              offsetof(XmplayerPatternCell, effect) == 3 &&
              offsetof(XmplayerPatternCell, parameter) == 4);

}  // namespace

extern "C" const int32_t* xmWebLayout() {
    return fields;
}
