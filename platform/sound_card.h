// The sound card as the player's wave-output device: the device plays the
// player's ring over and over and reports how many bytes it has played, which
// the player's feeder polls. SDL's audio device on Linux, the multimedia
// wave-out device on Windows.
#pragma once

#include "player/output/wave_device.h"

// The device record to register with setWaveDevice.
xmplayer::WaveDevice soundCardDevice();

// Why the last open of the device failed, in the sound system's words; empty
// if it did not.
const char* soundCardError();
