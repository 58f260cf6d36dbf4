#include "player/song/xm_sample_data.h"

#include <algorithm>
#include <array>

namespace xmplayer {

namespace {

constexpr int32_t sampleNameLength = 22;
constexpr uint8_t maxSampleVolume = 64;
// The reserved byte before the name marks 4-bit compressed data.
constexpr uint8_t compressedMark = 0xAD;
// A compressed sample starts with the 16 signed deltas its nibbles index.
constexpr int64_t compressionTableLength = 16;

std::string sampleName(int32_t instrumentIndex, int32_t sampleIndex) {
    return "sample " + std::to_string(sampleIndex) + " of instrument " +
           std::to_string(instrumentIndex + 1);
}

// Values of the sample that `bytes` stored bytes hold.
int64_t valuesIn(const Sample& sample, int64_t bytes) {
    switch (sample.bits) {
        case 16:
            return bytes / 2;
        case compressedSampleBits:
            return bytes <= compressionTableLength ? 0 : 2 * (bytes - compressionTableLength);
        default:
            return bytes;
    }
}

// Keeps the loop, and with it the guard value after it, inside the sample: a
// loop reaching past the end ends at the end, a loop starting at or past the
// end is no loop.
void clampLoop(Sample& sample) {
    if (sample.loopType == NoLoop || sample.loopStart >= sample.length) {
        sample.loopType = NoLoop;
        sample.loopStart = 0;
        sample.loopLength = sample.length;
    } else if (uint64_t{sample.loopStart} + sample.loopLength > sample.length) {
        sample.loopLength = sample.length - sample.loopStart;
    }
}

// The bytes at the start of the data block, `bits` wide, become the values.
// An 8-bit value i only overwrites bytes at or after byte i, so the widening
// runs backwards in place.
void widen(Sample& sample, int32_t bits) {
    const auto* raw = reinterpret_cast<const uint8_t*>(sample.data);
    if (bits == 8) {
        for (int64_t i = int64_t{sample.length} - 1; i >= 0; --i) {
            sample.data[i] = static_cast<int16_t>(raw[i] << 8);
        }
    } else {
        for (uint32_t i = 0; i < sample.length; ++i) {
            sample.data[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        }
    }
}

// A 16-bit running sum decodes both widths: 8-bit deltas sit in the upper byte.
void decodeDeltas(Sample& sample) {
    uint16_t sum = 0;
    for (uint32_t i = 0; i < sample.length; ++i) {
        sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(sample.data[i]));
        sample.data[i] = static_cast<int16_t>(sum);
    }
}

// Each byte holds two values, low nibble first; a nibble picks one of the
// table's deltas, and the value is their running sum in 8 bits from 0.
void decodeCompressed(XmReader& reader, Sample& sample) {
    std::array<uint8_t, compressionTableLength> table{};
    reader.bytes(table.data(), table.size());
    std::array<uint8_t, 256> packed{};
    uint8_t value = 0;
    uint32_t i = 0;
    while (i < sample.length) {
        const auto count = static_cast<uint32_t>(
            std::min<uint64_t>(packed.size(), (uint64_t{sample.length} - i + 1) / 2));
        packed.fill(0);
        reader.bytes(packed.data(), count);
        for (uint32_t k = 0; k < count; ++k) {
            for (const int shift : {0, 4}) {
                if (i < sample.length) {
                    value = static_cast<uint8_t>(value + table[(packed[k] >> shift) & 0x0F]);
                    sample.data[i++] = static_cast<int16_t>(value << 8);
                }
            }
        }
    }
}

}  // namespace

bool readSampleHeader(XmReader& reader, Sample& sample, int32_t instrumentIndex,
                      int32_t sampleIndex, std::string* reason) {
    sample.length = reader.u32();
    sample.loopStart = reader.u32();
    sample.loopLength = reader.u32();
    sample.volume = std::min(reader.u8(), maxSampleVolume);
    sample.finetune = static_cast<int8_t>(reader.u8());
    const uint8_t type = reader.u8();
    sample.panning = reader.u8();
    sample.relativeNote = static_cast<int8_t>(reader.u8());
    const uint8_t reserved = reader.u8();
    reader.skip(sampleNameLength);

    sample.loopType = NoLoop;
    sample.bits = 8;
    if (type & 0x01)
        sample.loopType = ForwardLoop;
    if (type & 0x02)
        sample.loopType = PingPongLoop;
    if (type & 0x10)
        sample.bits = 16;
    if (sample.loopType == NoLoop) {
        sample.loopStart = 0;
        sample.loopLength = sample.length;
    }
    if (sample.bits == 16) {
        sample.length >>= 1;
        sample.loopStart >>= 1;
        sample.loopLength >>= 1;
    }
    if (sample.loopLength == 0) {
        sample.loopStart = 0;
        sample.loopLength = sample.length;
        sample.loopType = NoLoop;
    }
    if (reserved == compressedMark) {
        // Compression is defined for 8-bit data only; what 16-bit data would
        // hold is not known, and guessing would play noise.
        if (sample.bits == 16) {
            return refuse(reason, sampleName(instrumentIndex, sampleIndex) +
                                      " is stored compressed with 16-bit values, which the "
                                      "player cannot decode");
        }
        sample.bits = compressedSampleBits;
    }
    return true;
}

int64_t storedSampleBytes(const Sample& sample) {
    switch (sample.bits) {
        case 16:
            return int64_t{sample.length} * 2;
        case compressedSampleBits:
            // An empty sample stores nothing, not even its table.
            return sample.length == 0 ? 0
                                      : compressionTableLength + (int64_t{sample.length} + 1) / 2;
        default:
            return sample.length;
    }
}

bool readSampleData(XmReader& reader, Sample& sample, SampleDataCallback callback,
                    int32_t instrumentIndex, int32_t sampleIndex, std::string* reason) {
    const bool compressed = sample.bits == compressedSampleBits;
    const int64_t available = valuesIn(sample, reader.remaining());
    if (sample.length > available) {
        sample.length = static_cast<uint32_t>(available);
    }
    clampLoop(sample);
    if (sample.length == 0) {
        sample.bits = 16;  // like every loaded sample, though it has no data
        return true;
    }
    sample.data = allocateSampleData(sample.length);
    if (sample.data == nullptr) {
        return refuse(reason, "out of memory for " + sampleName(instrumentIndex, sampleIndex));
    }
    // Compressed data decodes to 8-bit values, which is what a callback
    // supplies in its place.
    const int32_t bits = compressed ? 8 : sample.bits;
    if (callback != nullptr) {
        // The file's bytes are placed at the start of the data block and
        // widened in place.
        callback(sample.data, static_cast<int32_t>(sample.length * (bits / 8)), bits,
                 instrumentIndex, sampleIndex);
        reader.skip(storedSampleBytes(sample));
        widen(sample, bits);
    } else if (compressed) {
        decodeCompressed(reader, sample);
    } else {
        reader.bytes(sample.data, int64_t{sample.length} * (bits / 8));
        widen(sample, bits);
        decodeDeltas(sample);
    }
    sample.bits = 16;
    const uint32_t loopEnd = sample.loopStart + sample.loopLength;
    if (sample.loopType == PingPongLoop) {
        sample.data[loopEnd] = sample.data[loopEnd - 1];
    } else if (sample.loopType == ForwardLoop) {
        sample.data[loopEnd] = sample.data[sample.loopStart];
    }
    return true;
}

}  // namespace xmplayer
