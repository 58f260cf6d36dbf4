#include "player/output/block_render.h"

#include <cstdint>
#include <limits>

#include "player/output/mixer.h"

namespace {

// The tick formula's constants are single-precision values widened to double.
constexpr double tempoFactor = static_cast<double>(0.4f);
constexpr double millisecondFactor = static_cast<double>(0.001f);

double tickFrames(int32_t bpm) {
    return ((1000.0 / (static_cast<double>(bpm) * tempoFactor)) *
            static_cast<double>(mixerState.outputRate)) *
           millisecondFactor;
}

}  // namespace

void setTempo(Song* song, int32_t bpm) {
    if (song == nullptr) {
        return;
    }
    song->tempo = bpm;
    // A tempo below 1 (only a malformed song header gives one) ticks as slowly
    // as tempo 1; whatever the tempo and rate, a tick lasts at least one frame
    // so that rendering always advances.
    const double frames = tickFrames(bpm < 1 ? 1 : bpm);
    if (!(frames >= 1.0)) {
        song->framesPerTick = 1;
    } else if (frames >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        song->framesPerTick = std::numeric_limits<int32_t>::max();
    } else {
        song->framesPerTick = static_cast<int32_t>(frames);
    }
}
