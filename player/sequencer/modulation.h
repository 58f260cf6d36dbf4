// Per-tick modulations of one channel: tone portamento, vibrato, tremolo, tremor.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"

namespace xmplayer {

// Slides the period toward portaTarget. keepsDirection: only in the direction
// the target's note set, reaching the target at once from beyond it.
void tonePortamento(MusicChannel* channel, bool keepsDirection = false);
// Sets periodDelta for the current phase; the caller advances the phase.
void vibrato(MusicChannel* channel);
void advanceVibratoPhase(MusicChannel* channel);
// Sets volumeDelta for the current phase and advances the phase. With
// rampFollowsVibrato the ramp waveform turns over with the vibrato's phase;
// with squareForThree waveform 3 is the square, otherwise the sine.
void tremolo(MusicChannel* channel, bool rampFollowsVibrato = false, bool squareForThree = false);
// Tremor by the player's own rules: on every tick the effect is present, the
// row tick included, silent for this tick only.
void tremor(MusicChannel* channel);
// Tremor that holds the volume: one tick between rows; a silent phase silences
// the channel until something sets its volume (tremorSilenced).
void heldTremor(MusicChannel* channel);
// Keeps a channel that tremor silenced silent on this tick.
void holdTremorSilence(MusicChannel* channel);

// The magnitude (0..255) of the sine, ramp and square waveforms (0, 1, 2) at a
// phase; vibrato and tremolo share it.
uint8_t waveformMagnitude(int8_t phase, int32_t waveform);

}  // namespace xmplayer
