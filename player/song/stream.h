// The thin wrapper through which the loader reads a song's stream, and the
// stream callbacks over a song image in memory.
#pragma once

#include <cstdint>

#include "player/song/stream_callbacks.h"

namespace xmplayer {

// An open stream: the handle its open gave, the callbacks it was opened
// through, which serve it until it is closed, and whether a seek failed.
struct SongStream {
    void* handle;
    StreamCallbacks callbacks;
    bool seekFailed;
};

// Whether all five callbacks are set.
bool streamCallbacksComplete(const StreamCallbacks& callbacks);

// Null when the callbacks are incomplete, the open fails or the record
// cannot be allocated.
SongStream* streamOpen(const StreamCallbacks& callbacks, const char* name);
void streamClose(SongStream* stream);
int32_t streamRead(void* buffer, int32_t size, SongStream* stream);
// False, recorded in the stream, when the callback refuses the seek.
bool streamSeek(SongStream* stream, int32_t offset, int32_t mode);
int32_t streamTell(SongStream* stream);

// A song image in memory, which must outlive every stream opened over it.
struct MemoryImage {
    const uint8_t* data;
    int32_t size;
};
// Callbacks whose context is `image`: every open gives a stream of its own
// over the whole image, whatever the name; a seek outside the image fails.
StreamCallbacks memoryStreamCallbacks(const MemoryImage* image);

}  // namespace xmplayer
