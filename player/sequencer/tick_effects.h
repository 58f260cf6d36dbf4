// The ticks between rows: slides, portamentos, vibrato, tremolo, arpeggio,
// retriggers, note cut and note delay, tremor.
#pragma once

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

void processTickEffects(Sequencer& sequencer);
// One tick of Rxy where its count runs on across rows: the note retriggers
// once the count reaches the interval, and the count starts again.
void countRetrigger(MusicChannel* channel);

}  // namespace xmplayer
