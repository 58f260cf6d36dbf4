#include "player/sequencer/sequencer.h"

#include <algorithm>

#include "player/sequencer/row_processing.h"
#include "player/sequencer/song_lookup.h"
#include "player/sequencer/tick_effects.h"

namespace xmplayer {

namespace {

// The position that a row tick starts at: the one decided at the previous row
// tick. A break may name a row beyond the pattern it lands in (up to 63 into a
// shorter pattern); that pattern then starts at its first row, as a break
// beyond 63 does.
void enterDecidedPosition(Sequencer& sequencer) {
    if (sequencer.nextOrder >= 0) {
        sequencer.orderPos = sequencer.nextOrder;
        sequencer.patternStartRow = 0;
    }
    if (sequencer.nextRow >= 0) {
        sequencer.row = sequencer.nextRow < rowCountAtOrder(sequencer.song, sequencer.orderPos)
                            ? sequencer.nextRow
                            : 0;
    }
}

// The ordinary advance, unless a jump or a break has decided the next row.
void decideNextPosition(Sequencer& sequencer) {
    if (sequencer.nextRow >= 0) {
        return;
    }
    sequencer.nextRow = sequencer.row + 1;
    if (sequencer.nextRow >= rowCountAtOrder(sequencer.song, sequencer.orderPos)) {
        const int32_t next = sequencer.orderPos + 1;
        sequencer.nextOrder =
            next >= playedSongLength(sequencer.song) ? restartOrder(sequencer.song) : next;
        sequencer.nextRow = sequencer.patternStartRow;
    }
}

}  // namespace

void rewindSequencer(Sequencer& sequencer) {
    const Song& song = *sequencer.song;
    sequencer.globalVolume = song.initialGlobalVolume;
    sequencer.globalVolSlideParam = 0;
    sequencer.nextRow = -1;
    sequencer.nextOrder = -1;
    sequencer.speed = song.defaultSpeed;
    sequencer.row = 0;
    sequencer.orderPos = 0;
    sequencer.tick = 0;
    sequencer.patternDelayTicks = 0;
    sequencer.patternDelayRows = 0;
    sequencer.repeatingRow = false;
    sequencer.processedRow = 0;
    sequencer.patternStartRow = 0;
    for (std::size_t i = 0; i < sequencer.firstFinetunes.size(); ++i) {
        const Instrument& instrument = song.instruments[i];
        const int32_t first = sequencer.firstFinetunes[i];
        for (int32_t slot = 0; slot < instrumentSampleCount(instrument); ++slot) {
            const Sample* sample = instrument.samples[slot];
            sequencer.finetunes[first + slot] = sample != nullptr ? sample->finetune : 0;
        }
    }
    setTempo(sequencer, song.defaultTempo);
    const int32_t count = playedChannelCount(&song);
    for (int32_t c = 0; c < count; ++c) {
        MusicChannel& channel = sequencer.channels[c];
        channel = MusicChannel{};
        channel.voice = &sequencer.mixer->voices[c];
        // A channel's voice is always heard again, whatever it was left as.
        channel.voice->abandoned = false;
    }
}

void advanceTick(Sequencer& sequencer) {
    if (sequencer.tick != 0 || sequencer.repeatingRow) {
        processTickEffects(sequencer);
    } else {
        enterDecidedPosition(sequencer);
        processRow(sequencer);
        decideNextPosition(sequencer);
    }
    ++sequencer.tick;
    if (sequencer.tick >= sequencer.speed + sequencer.patternDelayTicks) {
        sequencer.patternDelayTicks = 0;
        sequencer.tick = 0;
        // A pattern-delayed row starts its ticks again without reading its
        // cells anew.
        sequencer.repeatingRow = sequencer.patternDelayRows > 0;
        if (sequencer.repeatingRow) {
            --sequencer.patternDelayRows;
        }
    }
}

}  // namespace xmplayer
