#include "app/song_stream.h"

void* openMemoryStream(void* /*context*/, const char* /*name*/) {
    return createMemoryStream(embeddedSong, embeddedSongLength);
}

xmplayer::StreamCallbacks songStreamCallbacks() {
    return {openMemoryStream, closeMemoryStream, readMemoryStream,
            seekMemoryStream, tellMemoryStream,  nullptr};
}
