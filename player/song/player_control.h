// The calls through which an application uses the player: load, release and
// ask which part of the song is being heard. Opening, playing, stopping and
// closing are in player/output/wave_output.h.
#pragma once

#include <cstdint>
#include <string>

#include "player/song/song.h"

Song* loadSong(const char* name, SampleDataCallback sampleDataCallback);
// The same; on null `reason` (when not null) receives a sentence saying why.
Song* loadSong(const char* name, SampleDataCallback sampleDataCallback, std::string* reason);
bool freeSong(Song* song);

int32_t getPlayingOrder(const Song* song);
int32_t getPlayingRow(const Song* song);
int32_t getPlayingTimeMs(const Song* song);
