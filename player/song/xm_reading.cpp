#include "player/song/xm_reading.h"

#include <algorithm>
#include <cstdint>

namespace xmplayer {

int64_t XmReader::position() const {
    return streamTell(stream);
}

int64_t XmReader::remaining() const {
    return std::max<int64_t>(0, length - position());
}

void XmReader::seekTo(int64_t target) {
    streamSeek(stream, static_cast<int32_t>(std::clamp<int64_t>(target, 0, length)), seekSet);
}

void XmReader::skip(int64_t count) {
    seekTo(position() + count);
}

void XmReader::bytes(void* destination, int64_t count) {
    auto* out = static_cast<uint8_t*>(destination);
    while (count > 0) {
        const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
        const int32_t got = streamRead(out, want, stream);
        if (got <= 0 || got > want) {
            return;
        }
        out += got;
        count -= got;
    }
}

uint8_t XmReader::u8() {
    uint8_t value = 0;
    bytes(&value, 1);
    return value;
}

uint16_t XmReader::u16() {
    uint8_t raw[2] = {};
    bytes(raw, 2);
    return static_cast<uint16_t>(raw[0] | raw[1] << 8);
}

uint32_t XmReader::u32() {
    uint8_t raw[4] = {};
    bytes(raw, 4);
    return uint32_t{raw[0]} | uint32_t{raw[1]} << 8 | uint32_t{raw[2]} << 16 |
           uint32_t{raw[3]} << 24;
}

XmReader openXmReader(SongStream* stream) {
    const int32_t start = streamTell(stream);
    streamSeek(stream, 0, seekEnd);
    const int32_t end = streamTell(stream);
    streamSeek(stream, start, seekSet);
    return {stream, std::max<int32_t>(end, 0)};
}

bool refuse(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
    return false;
}

}  // namespace xmplayer
