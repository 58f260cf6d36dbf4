// What the pieces of the XM loader share: little-endian reads through the
// stream layer that never leave the stream, and the refusal of a file.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "player/song/stream.h"

namespace xmplayer {

// Every seek is clamped to the stream, and a read that comes back short is
// retried until the stream has nothing more, so a stream that delivers in
// pieces reads the same as one that does not; what the stream cannot deliver
// stays zero.
struct XmReader {
    SongStream* stream;
    int64_t length;

    int64_t position() const;
    int64_t remaining() const;
    void seekTo(int64_t target);
    void skip(int64_t count);
    void bytes(void* destination, int64_t count);
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
};

// A reader over the whole stream, whose length is found by seeking to its end.
XmReader openXmReader(SongStream* stream);

// Stores `text` as the reason (when asked for one) and returns false.
bool refuse(std::string* reason, const std::string& text);

// A zeroed block of `count` records (at least one), released with std::free.
template <typename T>
T* allocateZeroed(size_t count) {
    return static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T)));
}

}  // namespace xmplayer
