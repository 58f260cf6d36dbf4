// Playing a song through a wave device, as a sound card plays: a feeder
// thread of the library's own keeps a one-second ring of frames filled ahead
// of what the device plays. Part of the library's public calls.
#pragma once

#include <cstdint>

#include "player/output/wave_device.h"
#include "player/sequencer/rule_set.h"

namespace xmplayer {

struct Song;
struct OutputDevice;

// An output device with no wave device set; null when memory runs out.
OutputDevice* createOutputDevice();
// Closes the device first when it is open.
void destroyOutputDevice(OutputDevice* output);
// The device that openOutputDevice opens from now on (copied); null for none.
void setWaveDevice(OutputDevice& output, const WaveDevice* device);
// Opens the wave device at `rate`; false when the rate or the device refuses.
bool openOutputDevice(OutputDevice& output, int32_t rate);
// Stops playback, then closes the wave device.
void closeOutputDevice(OutputDevice& output);
// Plays `song` from its start by `rules`, looping for ever; false when
// nothing is open.
bool playSong(OutputDevice& output, const Song* song, RuleSet rules = RuleSet::Ft2);
// Stops playback; the device stays open.
void stopSong(OutputDevice& output);
// The order, row and play time of the music being heard, about a second
// behind what has been rendered; 0 while nothing plays. Safe on any thread.
int32_t getPlayingOrder(const OutputDevice& output);
int32_t getPlayingRow(const OutputDevice& output);
int32_t getPlayingTimeMs(const OutputDevice& output);

}  // namespace xmplayer
