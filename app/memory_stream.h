// Stream callbacks over a read-only image in memory, each open stream with
// its own position. The application reads the song it carries through them.
#pragma once

#include <cstdint>

struct MemoryStream {
    int32_t length;       // bytes in the image
    int32_t position;     // never above length; a seek may leave it negative
    const uint8_t* data;  // not owned
};

// A stream over `data` (null when the record cannot be allocated); the image
// must outlive the stream.
MemoryStream* createMemoryStream(const uint8_t* data, int32_t length);

// Four of the five callbacks, which use no context; open is the caller's, as
// it chooses the image. A seek fails only for an unknown mode.
void closeMemoryStream(void* context, void* stream);
int32_t readMemoryStream(void* context, void* stream, void* buffer, int32_t count);
bool seekMemoryStream(void* context, void* stream, int32_t offset, int32_t mode);
int32_t tellMemoryStream(void* context, void* stream);
