#include "player/song/stream.h"

#include <cstdlib>

StreamCallbacks streamCallbacks{};

void setStreamCallbacks(StreamOpenFunction open, StreamCloseFunction close, StreamReadFunction read,
                        StreamSeekFunction seek, StreamTellFunction tell) {
    // A partial set would let a load call through a null member; keep all or none.
    if (open == nullptr || close == nullptr || read == nullptr || seek == nullptr ||
        tell == nullptr) {
        streamCallbacks = StreamCallbacks{};
        return;
    }
    streamCallbacks = StreamCallbacks{open, close, read, seek, tell};
}

bool streamCallbacksRegistered() {
    return streamCallbacks.open != nullptr && streamCallbacks.close != nullptr &&
           streamCallbacks.read != nullptr && streamCallbacks.seek != nullptr &&
           streamCallbacks.tell != nullptr;
}

SongStream* streamOpen(const char* name) {
    if (!streamCallbacksRegistered()) {
        return nullptr;
    }
    auto* stream = static_cast<SongStream*>(std::calloc(1, sizeof(SongStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    stream->handle = streamCallbacks.open(name);
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
    // The registry may have been emptied since the open; the record is ours either way.
    if (streamCallbacks.close != nullptr) {
        streamCallbacks.close(stream->handle);
    }
    std::free(stream);
}

int32_t streamRead(void* buffer, int32_t size, SongStream* stream) {
    if (stream == nullptr || streamCallbacks.read == nullptr) {
        return 0;
    }
    return streamCallbacks.read(buffer, size, stream->handle);
}

void streamSeek(SongStream* stream, int32_t offset, int8_t mode) {
    if (stream != nullptr && streamCallbacks.seek != nullptr) {
        streamCallbacks.seek(stream->handle, offset, mode);
    }
}

int32_t streamTell(SongStream* stream) {
    if (stream == nullptr || streamCallbacks.tell == nullptr) {
        return 0;
    }
    return streamCallbacks.tell(stream->handle);
}
