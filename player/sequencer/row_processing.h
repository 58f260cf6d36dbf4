// The row tick: every cell's note, instrument, volume column and effect.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"

void processRow(Song* song);
// The reset that an instrument number in a cell causes.
void resetChannel(MusicChannel* channel, const Sample* sample);
// The row-tick meaning of a volume-column byte.
void applyVolumeColumn(MusicChannel* channel, uint8_t volumeColumn);
