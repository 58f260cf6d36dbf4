// XM loader: arbitrary bytes as a song read through the memory stream; a song
// that loads is then rendered from its start for two seconds through the
// rendering core, block by block as a player renders: the sequencer and the
// mixer rely on everything the loader guarantees.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/memory_stream.h"
#include "player/playback/playback.h"
#include "player/song/song_loading.h"

namespace {

constexpr int32_t outputRate = 44100;
constexpr int32_t blockFrames = xmplayer::blockFramesForRate(outputRate);
// Two seconds: a hundred ticks at the default tempo, more at a faster one.
// Rendering takes most of an input's time, so a longer render would try
// fewer inputs.
constexpr int blocksToRender = 100;

struct Input {
    const uint8_t* data;
    int32_t length;
};

void* openInput(void* context, const char*) {
    const auto* input = static_cast<const Input*>(context);
    return createMemoryStream(input->data, input->length);
}

void fillSampleData(void* buffer, int32_t byteLength, int32_t bits, int32_t instrumentIndex,
                    int32_t sampleIndex) {
    std::memset(buffer, (bits + instrumentIndex * 16 + sampleIndex) & 0xFF,
                static_cast<size_t>(byteLength));
}

void render(const xmplayer::Song& song) {
    const auto playback = std::make_unique<xmplayer::Playback>();
    if (!xmplayer::startPlayback(*playback, song, outputRate, xmplayer::ft2Rules)) {
        return;
    }
    static std::array<float, 2 * blockFrames> mix;
    static std::array<int16_t, 2 * blockFrames> pcm;
    for (int block = 0; block < blocksToRender; ++block) {
        xmplayer::renderBlock(*playback, mix.data(), pcm.data(), blockFrames);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(INT32_MAX)) {
        return 0;
    }
    Input input{data, static_cast<int32_t>(size)};
    const xmplayer::StreamCallbacks streams{openInput,        closeMemoryStream, readMemoryStream,
                                            seekMemoryStream, tellMemoryStream,  &input};
    // Odd sizes take the sample data from the callback instead of the stream.
    xmplayer::Song* song =
        xmplayer::loadSong(streams, nullptr, (size & 1) ? fillSampleData : nullptr, nullptr);
    if (song == nullptr) {
        return 0;
    }
    // The playback's voices point into the song's samples: it ends first.
    render(*song);
    xmplayer::freeSong(song);
    return 0;
}
