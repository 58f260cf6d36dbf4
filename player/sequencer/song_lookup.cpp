#include "player/sequencer/song_lookup.h"

#include <algorithm>

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

int32_t playedChannelCount(const Song* song) {
    return std::clamp<int32_t>(song->channelCount, 0, maxChannels);
}

int32_t playedSongLength(const Song* song) {
    return std::clamp<int32_t>(song->songLength, 0, static_cast<int32_t>(song->orders.size()));
}

int32_t restartOrder(const Song* song) {
    const int32_t restart = song->restartPosition;
    return restart >= 0 && restart < playedSongLength(song) ? restart : 0;
}

const SongPattern* patternAtOrder(const Song* song, int32_t orderPos) {
    if (song->patterns == nullptr || orderPos < 0 ||
        orderPos >= static_cast<int32_t>(song->orders.size())) {
        return nullptr;
    }
    const int32_t pattern = song->orders[orderPos];
    return pattern < song->patternCount ? &song->patterns[pattern] : nullptr;
}

int32_t rowCountAtOrder(const Song* song, int32_t orderPos) {
    const SongPattern* pattern = patternAtOrder(song, orderPos);
    return pattern != nullptr ? pattern->rowCount : 0;
}

const PatternNote* rowCells(const Song* song, int32_t orderPos, int32_t row) {
    const SongPattern* pattern = patternAtOrder(song, orderPos);
    if (pattern == nullptr || pattern->notes == nullptr || song->channelCount <= 0 || row < 0 ||
        row >= pattern->rowCount) {
        return nullptr;
    }
    return pattern->notes + static_cast<int64_t>(row) * song->channelCount;
}

const Instrument* channelInstrument(const Song* song, const MusicChannel* channel) {
    if (song->instruments == nullptr || channel->instrumentIndex >= song->instrumentCount) {
        return &emptyInstrument;
    }
    return &song->instruments[channel->instrumentIndex];
}

const Sample* channelSample(const Instrument* instrument, const MusicChannel* channel) {
    if (channel->noteIndex >= instrument->noteSamples.size()) {
        return &emptySample;
    }
    const uint8_t slot = instrument->noteSamples[channel->noteIndex];
    if (slot >= instrument->sampleCount || instrument->samples[slot] == nullptr) {
        return &emptySample;
    }
    return instrument->samples[slot];
}

}  // namespace xmplayer
