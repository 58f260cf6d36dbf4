// Per-tick modulations of one channel: tone portamento, vibrato, tremolo, tremor.
#pragma once

#include "player/sequencer/channel.h"

void tonePortamento(MusicChannel* channel);
void vibrato(MusicChannel* channel);
void tremolo(MusicChannel* channel);
void tremor(MusicChannel* channel);
