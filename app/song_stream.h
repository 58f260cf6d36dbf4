// The stream over the song that the executable carries: every open reads the
// same read-only image from its first byte.
#pragma once

#include <cstdint>

#include "app/memory_stream.h"
#include "player/player.h"

// The song image, generated at build time from assets/song.xm.
extern const uint8_t embeddedSong[];
extern const int32_t embeddedSongLength;

// The open callback: ignores the context and the name and opens a stream
// over the song.
void* openMemoryStream(void* context, const char* name);

// The five callbacks of the song's stream, for the player's load.
xmplayer::StreamCallbacks songStreamCallbacks();
