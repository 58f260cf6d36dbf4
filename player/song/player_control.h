// The calls through which an application uses the player: load, release and
// ask which part of the song is being heard. Opening, playing, stopping and
// closing are in player/output/wave_output.h.
#pragma once

#include <cstdint>

#include "player/song/song.h"

Song* loadSong(const char* name, SampleDataCallback sampleDataCallback);
bool freeSong(Song* song);

int32_t getPlayingOrder(const Song* song);
int32_t getPlayingRow(const Song* song);
int32_t getPlayingTimeMs(const Song* song);
