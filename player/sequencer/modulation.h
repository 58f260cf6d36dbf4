// Per-tick modulations of one channel: tone portamento, vibrato, tremolo, tremor.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"

namespace xmplayer {

void tonePortamento(MusicChannel* channel);
// Sets periodDelta for the current phase; the caller advances the phase.
void vibrato(MusicChannel* channel);
void advanceVibratoPhase(MusicChannel* channel);
// Sets volumeDelta for the current phase and advances the phase. With
// rampFollowsVibrato the ramp waveform turns over with the vibrato's phase.
void tremolo(MusicChannel* channel, bool rampFollowsVibrato = false);
void tremor(MusicChannel* channel);

// The magnitude (0..255) of the sine, ramp and square waveforms (0, 1, 2) at a
// phase; vibrato and tremolo share it.
uint8_t waveformMagnitude(int8_t phase, int32_t waveform);

}  // namespace xmplayer
