// Stream callbacks over files on disk: the name given to open is a path. For
// tools and tests that load songs from files rather than from memory.
#pragma once

#include <cstdint>

#include "player/song/stream.h"

namespace xmplayer {

// Null when the path is null, cannot be opened, or the file is too large for
// the 32-bit positions of the stream contract.
void* openFileStream(const char* path);
void closeFileStream(void* handle);
int32_t readFileStream(void* buffer, int32_t size, void* handle);
void seekFileStream(void* handle, int32_t offset, int8_t mode);
int32_t tellFileStream(void* handle);

// The five functions above, to load songs by path.
StreamCallbacks fileStreamCallbacks();

}  // namespace xmplayer
