// XM loader: arbitrary bytes as a song read through the memory stream; a song
// that loads is then played through the rendering core for a bounded number
// of ticks: the sequencer and the mixer rely on everything the loader
// guarantees, under either rule set. The input's size chooses what varies
// between inputs without changing the song: where the sample data comes
// from, FastTracker 2's rules or the player's own, and the order the ticks
// start at, since so few ticks reach only a few rows of a song.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/memory_stream.h"
#include "player/mixer/output_rate.h"
#include "player/playback/playback.h"
#include "player/sequencer/playback_rules.h"
#include "player/song/song_loading.h"

namespace {

// The lowest rate keeps a tick's mixing short: the mixer runs the same code at
// every rate, and here with the longest steps through the samples.
constexpr int32_t outputRate = xmplayer::minOutputRate;
constexpr int32_t chunkFrames = xmplayer::blockFramesForRate(outputRate);
// Ticks a song plays: a few rows of every effect at the usual speeds.
// Playing takes most of an input's time, so more ticks would try fewer
// inputs in the fuzzer's minute.
constexpr int32_t ticksToPlay = 32;
// A slow tempo's tick lasts up to 2.5 s: the frames are bounded too, to what
// those ticks take at the default tempo of 125 beats per minute.
constexpr int32_t framesToPlay = ticksToPlay * (outputRate * 5 / 2 / 125);

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

// One playback for every song, set afresh each time: allocating its 38 KB
// anew costs more than the ticks it plays. It gives back what it allocated
// before the input ends, so that the fuzzer sees no leak to look for.
xmplayer::Playback playback;

void play(const xmplayer::Song& song, const xmplayer::PlaybackRules& rules, int32_t startOrder) {
    playback = xmplayer::Playback{};
    if (!xmplayer::startPlayback(playback, song, outputRate, rules)) {
        return;
    }
    // The first row tick enters the position decided for it, as after a jump.
    playback.sequencer.nextOrder = startOrder;
    playback.sequencer.nextRow = 0;
    static std::array<float, 2 * chunkFrames> mix;
    static std::array<int16_t, 2 * chunkFrames> pcm;
    int32_t ticks = 0;
    for (int32_t frames = 0; frames < framesToPlay;) {
        // A chunk that starts a tick is one frame long, so that every tick is
        // counted; the next ones render the rest of the tick.
        const bool startsTick = playback.tickFramesLeft <= 0;
        if (startsTick && ticks == ticksToPlay) {
            break;
        }
        ticks += startsTick ? 1 : 0;
        const int32_t chunk =
            startsTick ? 1
                       : std::min({playback.tickFramesLeft, chunkFrames, framesToPlay - frames});
        xmplayer::renderBlock(playback, mix.data(), pcm.data(), chunk);
        frames += chunk;
    }
    playback = xmplayer::Playback{};
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
    const bool ownRules = (size & 2) != 0;
    xmplayer::Song* song =
        xmplayer::loadSong(streams, nullptr, (size & 1) ? fillSampleData : nullptr, nullptr);
    if (song == nullptr) {
        return 0;
    }
    const int32_t startOrder = static_cast<int32_t>(
        size / 4 % static_cast<size_t>(std::clamp<int32_t>(song->songLength, 1, 256)));
    // The playback's voices point into the song's samples: it ends first.
    play(*song, ownRules ? xmplayer::ownRules : xmplayer::ft2Rules, startOrder);
    xmplayer::freeSong(song);
    return 0;
}
