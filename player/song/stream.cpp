#include "player/song/stream.h"

#include <cstdlib>

namespace xmplayer {

bool streamCallbacksComplete(const StreamCallbacks& callbacks) {
    return callbacks.open != nullptr && callbacks.close != nullptr && callbacks.read != nullptr &&
           callbacks.seek != nullptr && callbacks.tell != nullptr;
}

SongStream* streamOpen(const StreamCallbacks& callbacks, const char* name) {
    // A partial set would let a load call through a null member.
    if (!streamCallbacksComplete(callbacks)) {
        return nullptr;
    }
    auto* stream = static_cast<SongStream*>(std::calloc(1, sizeof(SongStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    stream->callbacks = callbacks;
    stream->handle = callbacks.open(name);
    if (stream->handle == nullptr) {
        std::free(stream);
        return nullptr;
    }
    return stream;
}

void streamClose(SongStream* stream) {
    if (stream == nullptr) {
        return;
    }
    stream->callbacks.close(stream->handle);
    std::free(stream);
}

int32_t streamRead(void* buffer, int32_t size, SongStream* stream) {
    return stream != nullptr ? stream->callbacks.read(buffer, size, stream->handle) : 0;
}

void streamSeek(SongStream* stream, int32_t offset, int8_t mode) {
    if (stream != nullptr) {
        stream->callbacks.seek(stream->handle, offset, mode);
    }
}

int32_t streamTell(SongStream* stream) {
    return stream != nullptr ? stream->callbacks.tell(stream->handle) : 0;
}

}  // namespace xmplayer
