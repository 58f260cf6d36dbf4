// The thin wrapper through which the loader reads a song's stream.
#pragma once

#include <cstdint>

#include "player/song/stream_callbacks.h"

namespace xmplayer {

// An open stream: the handle its open gave, and the callbacks it was opened
// through, which serve it until it is closed.
struct SongStream {
    void* handle;
    StreamCallbacks callbacks;
};

// Whether all five callbacks are set.
bool streamCallbacksComplete(const StreamCallbacks& callbacks);

// Null when the callbacks are incomplete, the open fails or the record
// cannot be allocated.
SongStream* streamOpen(const StreamCallbacks& callbacks, const char* name);
void streamClose(SongStream* stream);
int32_t streamRead(void* buffer, int32_t size, SongStream* stream);
void streamSeek(SongStream* stream, int32_t offset, int8_t mode);
int32_t streamTell(SongStream* stream);

}  // namespace xmplayer
