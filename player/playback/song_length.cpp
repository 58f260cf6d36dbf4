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

// The flow of a song from a row on follows from the state its row tick
// leaves: the row, the next row it decided on, speed and tempo (as the row's
// own effects set them), a pattern delay, and the loop counters of the
// channels inside a pattern loop; as bytes. A loop's start row is left out:
// songs mark it where the loop begins, so the start an earlier pass left
// behind is replaced before it is used, and keeping it would make a song that
// plays on exactly as before look new for one pass more. (A loop that repeats
// to a start marked in another pattern is measured as if the start were the
// same every pass.)
std::string flowState(const Sequencer& sequencer) {
    std::vector<int32_t> values{
        sequencer.orderPos, sequencer.processedRow, sequencer.nextOrder,        sequencer.nextRow,
        sequencer.speed,    sequencer.tempo,        sequencer.patternDelayTicks};
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
