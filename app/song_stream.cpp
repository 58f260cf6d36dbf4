#include "app/song_stream.h"

void* openMemoryStream(const char* /*name*/) {
    return createMemoryStream(embeddedSong, embeddedSongLength);
}

xmplayer::StreamCallbacks songStreamCallbacks() {
    return {openMemoryStream, closeMemoryStream, readMemoryStream, seekMemoryStream,
            tellMemoryStream};
}
