// One playback's sequencer state: the song's flow (order, row, tick, speed,
// tempo, global volume), the table of 32 channels, the rules it plays by, and
// the per-playback values every part of the sequencer reads and writes. The
// song itself is only read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "player/mixer/mixer.h"
#include "player/sequencer/channel.h"
#include "player/sequencer/playback_rules.h"
#include "player/song/song.h"

namespace xmplayer {

// The linear table's frequency for recent period offsets, in pairs of slots
// by a hash of the offset: most ticks ask again for the periods of the last
// ones, and the power is the dearest step of a tick.
struct LinearFrequencyCache {
    struct Answer {
        bool known;
        int64_t units;
        double exact;       // the table's frequency before it is truncated
        int32_t frequency;  // in whole hertz
    };
    static constexpr std::size_t slots = 256;
    std::array<Answer, slots> answers{};
};

struct Sequencer {
    const Song* song = nullptr;
    PlaybackRules rules;
    MixerState* mixer = nullptr;  // whose voices the channels play
    std::array<MusicChannel, maxChannels> channels{};
    int32_t tick = 0;
    int32_t speed = 0;
    int32_t tempo = 0;
    int32_t framesPerTick = 0;
    int32_t row = 0;
    int32_t orderPos = 0;
    int32_t patternDelayTicks = 0;
    // Repetitions of a pattern-delayed row still to come, and whether the
    // ticks running now are such a repetition, which reads no cells anew.
    int32_t patternDelayRows = 0;
    bool repeatingRow = false;
    int32_t nextRow = 0;
    int32_t nextOrder = 0;
    // The row that the last row tick processed. The ticks between rows run
    // its cells even after a pattern loop has moved `row` back.
    int32_t processedRow = 0;
    // The row the next pattern starts at when this one runs out: 0, or the
    // row a pattern loop last jumped to in this pattern.
    int32_t patternStartRow = 0;
    int32_t globalVolume = 0;
    uint8_t globalVolSlideParam = 0;
    // Set when this tick has changed the global volume in a way that reaches
    // every channel's voice at the end of the tick.
    bool globalVolumeTouched = false;
    // Each sample's finetune as this playback has it: the set-finetune effect
    // changes it for later notes without writing into the shared song.
    // Instrument i's samples start at firstFinetunes[i].
    std::vector<int8_t> finetunes;
    std::vector<int32_t> firstFinetunes;
    LinearFrequencyCache linearFrequencies;
};

// The all-zero instrument used for an instrument number beyond the song's.
extern const Instrument emptyInstrument;

// Binds the sequencer to a song, to the mixer whose voices it drives and to
// the rules it plays by, and
// makes room for the song's per-playback values. False when that room cannot
// be allocated. The song must outlive the binding and stay unchanged.
bool bindSequencer(Sequencer& sequencer, const Song& song, MixerState& mixer,
                   const PlaybackRules& rules);

// Stores the tempo and the tick length that follows from it at the mixer's rate.
void setTempo(Sequencer& sequencer, int32_t bpm);

// The sample slots an instrument fills, within the bounds of its table.
int32_t instrumentSampleCount(const Instrument& instrument);

// Where this playback keeps the finetune of the sample the channel's
// instrument maps its note to; null for the empty sample, whose finetune is 0.
int8_t* channelFinetune(Sequencer& sequencer, const MusicChannel* channel);

}  // namespace xmplayer
