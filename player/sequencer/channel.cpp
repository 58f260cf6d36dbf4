#include "player/sequencer/channel.h"

#include "player/sequencer/row_processing.h"
#include "player/sequencer/song_lookup.h"
#include "player/sequencer/tick_effects.h"

std::array<MusicChannel, maxChannels> channelTable{};
Instrument emptyInstrument{};
int32_t processedRow = 0;

void resetChannels(const Song* song) {
    const int32_t count = song != nullptr ? playedChannelCount(song) : 0;
    for (int32_t c = 0; c < count; ++c) {
        channelTable[c] = MusicChannel{};
        channelTable[c].voice = &mixerState.voices[c];
        // A channel's voice is always heard again, whatever it was left as.
        channelTable[c].voice->abandoned = false;
    }
    processedRow = 0;
}

namespace {

// The position that a row tick starts at: the one decided at the previous row
// tick. A break may name a row beyond the pattern it lands in (up to 63 into a
// shorter pattern); that pattern then starts at its first row, as a break
// beyond 63 does.
void enterDecidedPosition(Song* song) {
    if (song->nextOrder >= 0) {
        song->orderPos = song->nextOrder;
    }
    if (song->nextRow >= 0) {
        song->row = song->nextRow < rowCountAtOrder(song, song->orderPos) ? song->nextRow : 0;
    }
}

// The ordinary advance, unless a jump or a break has decided the next row.
void decideNextPosition(Song* song) {
    if (song->nextRow >= 0) {
        return;
    }
    song->nextRow = song->row + 1;
    if (song->nextRow >= rowCountAtOrder(song, song->orderPos)) {
        const int32_t next = song->orderPos + 1;
        song->nextOrder = next >= playedSongLength(song) ? restartOrder(song) : next;
        song->nextRow = 0;
    }
}

}  // namespace

void advanceTick(Song* song) {
    if (song->tick != 0) {
        processTickEffects(song);
    } else {
        enterDecidedPosition(song);
        processRow(song);
        decideNextPosition(song);
    }
    ++song->tick;
    if (song->tick >= song->speed + song->patternDelayTicks) {
        song->patternDelayTicks = 0;
        song->tick = 0;
    }
}
