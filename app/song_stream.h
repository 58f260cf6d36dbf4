// The stream over the song that the executable carries: five callbacks that
// read a read-only image in memory, each open stream with its own position.
#pragma once

#include <cstdint>

// The song image, generated at build time from assets/song.xm.
extern const uint8_t embeddedSong[];
extern const int32_t embeddedSongLength;

struct MemoryStream {
    int32_t length;       // bytes in the image
    int32_t position;     // never above length; a seek may leave it negative
    const uint8_t* data;  // not owned
};

// A stream over any image (null when the record cannot be allocated); the
// image must outlive the stream.
MemoryStream* createMemoryStream(const uint8_t* data, int32_t length);

// The five callbacks. Open ignores the name and reads the embedded song.
void* openMemoryStream(const char* name);
void closeMemoryStream(void* stream);
int32_t readMemoryStream(void* buffer, int32_t count, void* stream);
void seekMemoryStream(void* stream, int32_t offset, int8_t mode);
int32_t tellMemoryStream(void* stream);

// Registers the five callbacks above with the player.
void registerMemoryStream();
