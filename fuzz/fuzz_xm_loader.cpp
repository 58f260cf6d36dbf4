// XM loader: arbitrary bytes as a song read through the memory stream; a song
// that loads is then played for a few hundred ticks through the sequencer and
// the mixer, which rely on everything the loader guarantees.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/memory_stream.h"
#include "player/output/block_render.h"
#include "player/output/mixer.h"
#include "player/output/wave_output.h"
#include "player/sequencer/channel.h"
#include "player/song/player_control.h"
#include "player/song/stream.h"

namespace {

constexpr int32_t outputRate = 44100;
constexpr int ticksToPlay = 300;
constexpr int32_t framesPerTickMixed = 64;

const uint8_t* input = nullptr;
int32_t inputLength = 0;

void* openInput(const char*) {
    return createMemoryStream(input, inputLength);
}

void fillSampleData(void* buffer, int32_t byteLength, int32_t bits, int32_t instrumentIndex,
                    int32_t sampleIndex) {
    std::memset(buffer, (bits + instrumentIndex * 16 + sampleIndex) & 0xFF,
                static_cast<size_t>(byteLength));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(INT32_MAX)) {
        return 0;
    }
    input = data;
    inputLength = static_cast<int32_t>(size);
    setStreamCallbacks(openInput, closeMemoryStream, readMemoryStream, seekMemoryStream,
                       tellMemoryStream);
    // Odd sizes take the sample data from the callback instead of the stream.
    Song* song = loadSong(nullptr, (size & 1) ? fillSampleData : nullptr);
    if (song == nullptr) {
        return 0;
    }
    resetMixer(outputRate);
    rewindSong(song);
    std::array<float, 2 * framesPerTickMixed> buffer{};
    for (int tick = 0; tick < ticksToPlay; ++tick) {
        song->tickFunction(song);
        buffer.fill(0.0f);
        mixVoices(buffer.data(), std::min(song->framesPerTick, framesPerTickMixed));
    }
    // The voices point into the song's samples; none may outlive it.
    resetMixer(outputRate);
    freeSong(song);
    return 0;
}
