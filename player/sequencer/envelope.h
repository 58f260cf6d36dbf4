// Volume and panning envelopes, fade-out and the instrument's auto-vibrato.
#pragma once

#include <cstdint>

#include "player/sequencer/channel.h"

// The state of one envelope inside a channel.
struct EnvelopeState {
    int32_t* point;
    int32_t* tick;
    int32_t* value;
    int32_t* fixed;
    int32_t* delta;
    uint8_t* done;
};

// One envelope of an instrument.
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

void stepEnvelope(MusicChannel* channel, const EnvelopeState& state, const EnvelopeShape& shape,
                  uint8_t requestBit);
void setVolumeEnvelopePosition(MusicChannel* channel, const Instrument* instrument,
                               int32_t tickPosition);
void stepAutoVibrato(MusicChannel* channel, const Instrument* instrument);
