#include "app/song_stream.h"

#include "player/song/stream.h"

void* openMemoryStream(const char* /*name*/) {
    return createMemoryStream(embeddedSong, embeddedSongLength);
}

void registerMemoryStream() {
    setStreamCallbacks(openMemoryStream, closeMemoryStream, readMemoryStream, seekMemoryStream,
                       tellMemoryStream);
}
