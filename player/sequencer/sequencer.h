// The tick driver: moves one playback's song through its ticks, rows and
// order list, running row processing on row ticks and the tick effects on
// the others, each ending in the voice update of every channel.
#pragma once

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

// Puts the song at its start: flow state, finetunes, the default tempo at the
// mixer's rate, and the channels cleared, channel c on voice slot c. The
// mixer's voices are the caller's to reset.
void rewindSequencer(Sequencer& sequencer);

// One tick of the song.
void advanceTick(Sequencer& sequencer);

}  // namespace xmplayer
