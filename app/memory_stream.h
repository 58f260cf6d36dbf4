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

// Four of the five callbacks; open is the caller's, as it chooses the image.
void closeMemoryStream(void* stream);
int32_t readMemoryStream(void* buffer, int32_t count, void* stream);
void seekMemoryStream(void* stream, int32_t offset, int8_t mode);
int32_t tellMemoryStream(void* stream);
