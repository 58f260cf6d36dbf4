// The row tick: every cell's note, instrument, volume column and effect.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"
#include "player/sequencer/sequencer_state.h"
#include "player/song/effect_numbers.h"

namespace xmplayer {

inline Effect effectOf(const PatternNote& cell) {
    return static_cast<Effect>(cell.effect);
}

inline ExtendedCommand extendedCommandOf(const PatternNote& cell) {
    return static_cast<ExtendedCommand>(cell.effectParam >> 4);
}

// Notes 1..96 play; 255 releases. Any other value in the note column is
// ignored, as if the cell had no note.
inline bool isPlayableNote(uint8_t note) {
    return note >= 1 && note <= 96;
}

// A tone portamento in the effect or the volume column.
inline bool slidesToNote(const PatternNote& cell) {
    return effectOf(cell) == Effect::TonePortamento ||
           effectOf(cell) == Effect::TonePortamentoVolumeSlide || (cell.volumeColumn >> 4) == 0xF;
}

void processRow(Sequencer& sequencer);
// The reset that an instrument number in a cell causes.
void resetChannel(MusicChannel* channel, const Sample* sample);
// The row-tick meaning of a volume-column byte.
void applyVolumeColumn(MusicChannel* channel, uint8_t volumeColumn);
// The tick of a note delay that has held its whole cell: the cell's note, or
// the channel's last one, starts or the key-off acts.
void playDelayedCell(Sequencer& sequencer, MusicChannel* channel, const PatternNote& cell);

}  // namespace xmplayer
