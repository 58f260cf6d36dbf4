#include "app/memory_stream.h"

#include <cstdlib>
#include <cstring>

#include "player/song/stream_callbacks.h"

namespace {

MemoryStream* memoryStreamOf(void* stream) {
    return static_cast<MemoryStream*>(stream);
}

}  // namespace

MemoryStream* createMemoryStream(const uint8_t* data, int32_t length) {
    auto* stream = static_cast<MemoryStream*>(std::calloc(1, sizeof(MemoryStream)));
    if (stream == nullptr) {
        return nullptr;
    }
    stream->data = data;
    stream->length = length < 0 ? 0 : length;
    stream->position = 0;
    return stream;
}

void closeMemoryStream(void* /*context*/, void* stream) {
    std::free(stream);
}

int32_t readMemoryStream(void* /*context*/, void* stream, void* buffer, int32_t count) {
    MemoryStream* memory = memoryStreamOf(stream);
    // Seeks may leave the position before the start, where there is nothing
    // to read: copy nothing, and leave the position for a later seek to fix.
    if (memory->position < 0 || count <= 0) {
        return 0;
    }
    // In 64 bits so that a huge count cannot wrap the comparison.
    if (int64_t{memory->position} + count >= memory->length) {
        count = memory->length - memory->position;
    }
    if (count > 0) {
        std::memcpy(buffer, memory->data + memory->position, static_cast<size_t>(count));
    }
    memory->position += count;
    return count;
}

bool seekMemoryStream(void* /*context*/, void* stream, int32_t offset, int32_t mode) {
    MemoryStream* memory = memoryStreamOf(stream);
    // Summed in 64 bits and kept within int32: a position far below zero stays
    // far below zero instead of wrapping round to a large one.
    int64_t position = memory->position;
    switch (mode) {
        case xmplayer::seekSet:
            position = offset;
            break;
        case xmplayer::seekCurrent:
            position = int64_t{memory->position} + offset;
            break;
        case xmplayer::seekEnd:
            position = int64_t{memory->length} + offset;
            break;
        default:
            return false;
    }
    if (position > memory->length) {
        position = memory->length;
    }
    if (position < INT32_MIN) {
        position = INT32_MIN;
    }
    memory->position = static_cast<int32_t>(position);
    return true;
}

int32_t tellMemoryStream(void* /*context*/, void* stream) {
    return memoryStreamOf(stream)->position;
}
