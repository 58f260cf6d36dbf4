// The XM loader's samples: the 40-byte sample header and the sample data in
// each of its stored forms (8- or 16-bit deltas, or 4-bit compressed deltas),
// turned into the player's 16-bit values with a guard value after the loop.
#pragma once

#include <cstdint>
#include <string>

#include "player/song/song.h"
#include "player/song/xm_reading.h"

namespace xmplayer {

// The stored width that marks a sample as 4-bit compressed until its data is
// read; a loaded sample always has 16 bits.
constexpr uint8_t compressedSampleBits = 4;

// Reads one 40-byte sample header into `sample`: lengths in values, the loop
// settled, and `bits` the stored width (8, 16 or compressedSampleBits). False
// with a reason for a header the player cannot decode.
bool readSampleHeader(XmReader& reader, Sample& sample, int32_t instrumentIndex,
                      int32_t sampleIndex, std::string* reason);

// Bytes that the sample's data takes in the file, from its header.
int64_t storedSampleBytes(const Sample& sample);

// Reads the sample's data (or has the callback supply it, skipping the stored
// bytes) and leaves `sample` as the player plays it. Data cut short by the end
// of the file keeps what the file holds.
bool readSampleData(XmReader& reader, Sample& sample, SampleDataCallback callback,
                    int32_t instrumentIndex, int32_t sampleIndex, std::string* reason);

}  // namespace xmplayer
