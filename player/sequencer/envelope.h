// Volume and panning envelopes, fade-out and the instrument's auto-vibrato.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"
#include "player/sequencer/playback_rules.h"

namespace xmplayer {

// The walk of one envelope inside a channel.
struct EnvelopeState {
    int32_t* point;  // the next point to be reached
    int32_t* tick;
    int32_t* value;  // 0..64
    int32_t* fixed;  // 16.16
    int32_t* delta;  // 16.16 per tick
    uint8_t* done;
};

// One envelope of an instrument. pointCount is bounded to the record's points.
struct EnvelopeShape {
    uint8_t flags;
    uint8_t pointCount;
    const EnvelopePoint* points;
    uint8_t sustainPoint;
    uint8_t loopStart;
    uint8_t loopEnd;
};

EnvelopeState volumeEnvelopeState(MusicChannel* channel);
EnvelopeState panningEnvelopeState(MusicChannel* channel);
EnvelopeShape volumeEnvelopeShape(const Instrument* instrument);
EnvelopeShape panningEnvelopeShape(const Instrument* instrument);

// An envelope is walked when its on bit is set and it has the two points that
// make a line; the loader switches shorter ones off, and songs built in memory
// are read the same way.
bool envelopeActive(const EnvelopeShape& shape);

// One tick of one envelope; sets requestBit in the channel's flags. True
// while it waits at its sustain point for the key-off.
bool stepEnvelope(MusicChannel* channel, const EnvelopeState& state, const EnvelopeShape& shape,
                  uint8_t requestBit);

// Effect Lxx: moves an envelope to a tick position (0..255). With passesPoint
// a position on a point's tick lies past it (but for a sustain point).
void setEnvelopePosition(const EnvelopeState& state, const EnvelopeShape& shape,
                         int32_t tickPosition, bool passesPoint);
// Effect Lxx: moves the volume envelope to a tick position (0..255).
void setVolumeEnvelopePosition(MusicChannel* channel, const Instrument* instrument,
                               int32_t tickPosition);

// The envelope block of a tick: both envelopes, then the fade-out after key-off.
// By the player's own rules, on a row tick a released note without a volume
// envelope falls silent. Where an instrument number chooses the next note's
// instrument, an envelope the instrument lacks counts as neutral and the
// fade-out takes the channel's fadeOutStep.
void stepEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick,
                   const PlaybackRules& rules = ownRules);

// The auto-vibrato's period offset for this tick; linearPeriods tells the
// song's frequency table.
void stepAutoVibrato(MusicChannel* channel, const Instrument* instrument,
                     const PlaybackRules& rules, bool linearPeriods);

}  // namespace xmplayer
