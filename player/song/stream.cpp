#include "player/song/stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    stream->handle = callbacks.open(callbacks.context, name);
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
    stream->callbacks.close(stream->callbacks.context, stream->handle);
    std::free(stream);
}

int32_t streamRead(void* buffer, int32_t size, SongStream* stream) {
    return stream != nullptr
               ? stream->callbacks.read(stream->callbacks.context, stream->handle, buffer, size)
               : 0;
}

bool streamSeek(SongStream* stream, int32_t offset, int32_t mode) {
    if (stream == nullptr) {
        return false;
    }
    const bool moved =
        stream->callbacks.seek(stream->callbacks.context, stream->handle, offset, mode);
    stream->seekFailed = stream->seekFailed || !moved;
    return moved;
}

int32_t streamTell(SongStream* stream) {
    return stream != nullptr ? stream->callbacks.tell(stream->callbacks.context, stream->handle)
                             : -1;
}

namespace {

struct MemoryCursor {
    const MemoryImage* image;
    int32_t position;
};

MemoryCursor* cursorOf(void* handle) {
    return static_cast<MemoryCursor*>(handle);
}

void* openMemory(void* context, const char* /*name*/) {
    auto* cursor = static_cast<MemoryCursor*>(std::calloc(1, sizeof(MemoryCursor)));
    if (cursor != nullptr) {
        cursor->image = static_cast<const MemoryImage*>(context);
    }
    return cursor;
}

void closeMemory(void* /*context*/, void* handle) {
    std::free(handle);
}

int32_t readMemory(void* /*context*/, void* handle, void* buffer, int32_t size) {
    MemoryCursor* cursor = cursorOf(handle);
    const int32_t count = std::clamp(size, 0, cursor->image->size - cursor->position);
    if (count > 0) {
        std::memcpy(buffer, cursor->image->data + cursor->position, static_cast<size_t>(count));
    }
    cursor->position += count;
    return count;
}

bool seekMemory(void* /*context*/, void* handle, int32_t offset, int32_t mode) {
    MemoryCursor* cursor = cursorOf(handle);
    int64_t base = 0;
    switch (mode) {
        case seekSet:
            break;
        case seekCurrent:
            base = cursor->position;
            break;
        case seekEnd:
            base = cursor->image->size;
            break;
        default:
            return false;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > cursor->image->size) {
        return false;
    }
    cursor->position = static_cast<int32_t>(target);
    return true;
}

int32_t tellMemory(void* /*context*/, void* handle) {
    return cursorOf(handle)->position;
}

}  // namespace

StreamCallbacks memoryStreamCallbacks(const MemoryImage* image) {
    // The context is only ever read through.
    return {openMemory, closeMemory, readMemory,
            seekMemory, tellMemory,  const_cast<MemoryImage*>(image)};
}

}  // namespace xmplayer
