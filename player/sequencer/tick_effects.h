// The ticks between rows: slides, portamentos, vibrato, tremolo, arpeggio,
// retriggers, note cut and note delay, tremor.
#pragma once

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

void processTickEffects(Sequencer& sequencer);

}  // namespace xmplayer
