#include "player/playback/song_length.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "player/playback/playback.h"
#include "player/sequencer/song_lookup.h"

namespace xmplayer {

namespace {

// A pass ends where the song first comes back to a row it has played; the
// rows that a pattern loop repeats belong to the pass. A row is told by its
// order and row, and by the counters of the channels inside a pattern loop
// as the row leaves them: a loop's repetitions differ there from its first
// time through, and a loop that a jump left unfinished keeps the count it
// had. Speed, tempo and a loop's start row play no part: a song that comes
// back to a row plays on from there as other players measure it, whatever
// speed it is at.
std::string flowState(const Sequencer& sequencer) {
    std::vector<int32_t> values{sequencer.orderPos, sequencer.processedRow};
    const int32_t channels = playedChannelCount(sequencer.song);
    for (int32_t c = 0; c < channels; ++c) {
        const int32_t count = sequencer.channels[c].loopCount;
        if (count != 0) {
            values.insert(values.end(), {c, count});
        }
    }
    return {reinterpret_cast<const char*>(values.data()), values.size() * sizeof(int32_t)};
}

}  // namespace

SongLength measureSongLength(const Song& song, int32_t rate, const PlaybackRules& rules) {
    // Nothing is mixed: the voices only take the channels' requests.
    const auto playback = std::unique_ptr<Playback>(new (std::nothrow) Playback);
    if (playback == nullptr || !startPlayback(*playback, song, rate, rules)) {
        return {0, 0, {0, 0}, false};
    }
    Sequencer& sequencer = playback->sequencer;
    std::unordered_map<std::string, int64_t> played;
    int64_t frames = 0;
    int32_t rows = 0;
    while (rows < maxMeasuredRows) {
        const bool rowTick = sequencer.tick == 0 && !sequencer.repeatingRow;
        advanceTick(sequencer);
        if (rowTick) {
            const auto [seen, isNew] = played.emplace(flowState(sequencer), frames);
            if (!isNew) {
                return {frames, seen->second, {sequencer.orderPos, sequencer.processedRow}, true};
            }
            ++rows;
        }
        frames += std::max(sequencer.framesPerTick, 1);
    }
    return {frames, 0, {0, 0}, false};
}

}  // namespace xmplayer
