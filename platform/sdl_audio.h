// The sound card as the player's wave-output device, through SDL2's audio
// device: SDL's audio thread copies from the looping ring at the play position
// and counts the bytes it has taken, which the player's feeder polls.
#pragma once

#include "player/output/wave_device.h"

// The device record to register with setWaveDevice.
xmplayer::WaveDevice sdlWaveDevice();

// Why the last open of the device failed, in SDL's words; empty if it did not.
const char* sdlAudioError();
