// Stream callbacks over files on disk: the name given to open is a path. For
// tools and tests that load songs from files rather than from memory. The
// context is not used.
#pragma once

#include <cstdint>

#include "player/song/stream.h"

namespace xmplayer {

// Null when the path is null, cannot be opened, or the file is too large for
// the 32-bit positions of the stream contract. A pipe opens as a stream that
// cannot seek.
void* openFileStream(void* context, const char* path);
void closeFileStream(void* context, void* handle);
int32_t readFileStream(void* context, void* handle, void* buffer, int32_t size);
bool seekFileStream(void* context, void* handle, int32_t offset, int32_t mode);
int32_t tellFileStream(void* context, void* handle);

// The five functions above, to load songs by path.
StreamCallbacks fileStreamCallbacks();

}  // namespace xmplayer
