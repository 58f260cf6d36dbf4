// The ticks between rows: slides, portamentos, vibrato, tremolo, arpeggio,
// retriggers, note cut and note delay, tremor.
#pragma once

#include "player/song/song.h"

void processTickEffects(Song* song);
